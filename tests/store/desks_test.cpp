// Desks sharing one "Hotels_Db": each desk's claim, its own rows through
// every use of the store, the rows of an earlier version taken over once,
// the hand-over of a desk whose machine is gone, and the desk's connection
// lost and found again (PostgreSQL).

#include "store/Desk.h"
#include "store/Destinations.h"
#include "store/Failures.h"
#include "store/Going.h"
#include "store/GoingWriter.h"
#include "store/InstanceLock.h"

#include "tests/store/DriverFixture.h"

#include <memory>

namespace {

using Links = std::vector<Hotel_Url>;
using Outcome = store::InstanceLock::Outcome;

Hotel_Url Link(const std::string& n, const AnsiString& code = "osl")
{
    return {"http://hotels.example/hotsdetail.ctl?hotel=" + n, code};
}

class Desks : public EngineTest {
protected:
    // Rows of `table` per desk ("" for none), as "desk:count" in desk order.
    static std::string Count(const char* table)
    {
        std::string out;
        const QString name = QStringLiteral("desks_test_count");
        {
            QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT COALESCE(\"Desk\", ''), COUNT(*) FROM \"%1\" "
                                              "GROUP BY COALESCE(\"Desk\", '') ORDER BY 1")
                                   .arg(QLatin1String(table))))
                << q.lastError().text().toStdString();
            while (q.next())
                out += (out.empty() ? "" : " ") + q.value(0).toString().toStdString() + ":"
                    + std::to_string(q.value(1).toLongLong());
        }
        QSqlDatabase::removeDatabase(name);
        return out;
    }

    static store::FailureRecord Given(const AnsiString& code)
    {
        return {store::kFailureDestination, code, code, "HTTP 500", 5, "2026-12-01T00:00:00Z"};
    }
};

// ---------------------------------------------------------------- claims

TEST_P(Desks, OneCopyPerDeskAndOtherDesksSideBySideOnAServer)
{
    store::InstanceLock a("desk-a");
    ASSERT_EQ(a.Acquire().outcome, Outcome::Held);
    store::InstanceLock again("desk-a");
    const store::InstanceLock::Claim refused = again.Acquire();
    EXPECT_EQ(refused.outcome, Outcome::HeldElsewhere);
    store::InstanceLock b("desk-b");
    const store::InstanceLock::Claim other = b.Acquire();
    if (IsPostgres()) {
        EXPECT_TRUE(refused.detail.contains(QStringLiteral("desk \"desk-a\""))) << refused.detail.toStdString();
        EXPECT_EQ(other.outcome, Outcome::Held) << other.detail.toStdString();
    } else {
        // One file, one desk: the file is taken whatever the name.
        EXPECT_EQ(other.outcome, Outcome::HeldElsewhere);
    }
}

// ---------------------------------------------------------------- own rows

TEST_P(Desks, EveryUseReadsAndWritesOnlyItsDesksRows)
{
    store::GoingWriter a{store::DeskAccess("desk-a")}, b{store::DeskAccess("desk-b")};
    a.Added({Link("1"), Link("2")});
    b.Added({Link("2"), Link("3")});  // the same address at two desks
    a.Destinations({{"osl", false, {}}});
    b.Destinations({{"adl", false, {}}, {"bcn", true, {}}});

    // The same link handled and retried at one desk leaves the other's row.
    a.Handled(Link("2"), HotelRow(Link("2").Url, "kept by a"));
    b.Failed(Link("3"), store::RetryState{1, 61, 61, "HTTP 503", "2026-12-01T00:00:00Z"});
    b.Record(Given("bcn"));
    ASSERT_TRUE(a.Flush() && b.Flush());

    EXPECT_EQ(GoingRows("desk-a"), Links{Link("1")});
    EXPECT_EQ(GoingRows("desk-b"), (Links{Link("2"), Link("3")}));
    EXPECT_EQ(store::ReadDestinations(store::DeskAccess("desk-a")),
              (std::vector<store::DestinationEntry>{{"osl", false, {}}}));
    EXPECT_EQ(store::ReadDestinations(store::DeskAccess("desk-b")).size(), 2u);
    EXPECT_EQ(Count("Failures"), "desk-b:1");
    EXPECT_EQ(store::ReadAllHotels().at(0).Desk, "desk-a");

    // Probe, resume load and save at close, per desk.
    EXPECT_TRUE(store::ProbeGoing(store::DeskAccess("desk-a")).hasRows);
    EXPECT_FALSE(store::ProbeGoing(store::DeskAccess("desk-c")).hasRows);
    Links loaded;
    store::GoingRetries retries;
    ASSERT_TRUE(store::LoadGoing(store::DeskAccess("desk-b"), loaded, &retries).opened);
    EXPECT_EQ(loaded, (Links{Link("2"), Link("3")}));
    EXPECT_EQ(retries.size(), 1u);
    ASSERT_TRUE(store::SaveGoing(store::DeskAccess("desk-a"), {}, store::GoingSave::Replace).opened);
    ASSERT_TRUE(store::SaveGoing(store::DeskAccess("desk-b"), {Link("9")}, store::GoingSave::Merge).opened);
    EXPECT_EQ(Count("Going"), "desk-b:3");
    EXPECT_TRUE(store::ReadDestinations(store::DeskAccess("desk-c")).empty());
}

// ---------------------------------------------------------------- adoption

TEST_P(Desks, RowsWithoutADeskAreTakenOverWholeByTheFirstDeskOnly)
{
    SeedGoing({Link("1"), Link("2")}, QString());
    SeedGoing({Link("3")}, QStringLiteral("desk-b"));
    Exec("INSERT INTO \"Destinations\" (\"Code\", \"Owed\") VALUES ('osl', 0)");
    Exec("INSERT INTO \"Failures\" (\"Kind\", \"Url\") VALUES ('link', 'x')");
    Exec("INSERT INTO \"Failures\" (\"Kind\", \"Url\", \"Desk\") VALUES ('link', 'y', 'desk-b')");

    const QStringList lines = store::AdoptRows("desk-a");
    EXPECT_TRUE(lines.join('\n').contains(IsPostgres() ? QStringLiteral("took over 2 rows of \"Going\"")
                                                       : QStringLiteral("took over 3 rows of \"Going\"")))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(store::AdoptRows("desk-c").isEmpty() || !IsPostgres()) << "nothing is left for a second desk";

    if (IsPostgres()) {
        EXPECT_EQ(Count("Going"), "desk-a:2 desk-b:1");
        EXPECT_EQ(Count("Destinations"), "desk-a:1");
        EXPECT_EQ(Count("Failures"), "desk-a:1 desk-b:1");
    } else {
        // One file, one desk: the pending rows follow the last desk to start
        // (the machine renamed); what another desk gave up stays its own.
        EXPECT_EQ(Count("Going"), "desk-c:3");
        EXPECT_EQ(Count("Destinations"), "desk-c:1");
        EXPECT_EQ(Count("Failures"), "desk-a:1 desk-b:1");
    }
    EXPECT_EQ(GoingRows().size(), 3u) << "no row lost";
}

// ---------------------------------------------------------------- hand-over

TEST_P(Desks, HandOverMovesEveryRowOfTheGoneDesk)
{
    store::GoingWriter gone{store::DeskAccess("desk-gone")};
    gone.Added({Link("1"), Link("2")});
    gone.Destinations({{"osl", false, {}}});
    gone.Record(Given("zrh"));
    store::GoingWriter(store::DeskAccess("desk-b")).Added({Link("3")});

    const QStringList lines = store::HandOver("desk-gone", "desk-new");
    EXPECT_TRUE(lines.contains(QStringLiteral("moved 2 rows of \"Going\" from desk \"desk-gone\" to desk \"desk-new\"")))
        << lines.join('\n').toStdString();
    EXPECT_EQ(Count("Going"), "desk-b:1 desk-new:2");
    EXPECT_EQ(Count("Destinations"), "desk-new:1");
    EXPECT_EQ(Count("Failures"), "desk-new:1");
    EXPECT_EQ(GoingRows("desk-new"), (Links{Link("1"), Link("2")}));
}

TEST_P(Desks, HandOverIsRefusedWhileEitherDeskRunsOrToItself)
{
    store::GoingWriter(store::DeskAccess("desk-gone")).Added({Link("1")});
    EXPECT_THROW(store::HandOver("desk-gone", "desk-gone"), EDatabaseError);
    {
        store::InstanceLock running("desk-gone");
        ASSERT_EQ(running.Acquire().outcome, Outcome::Held);
        try {
            store::HandOver("desk-gone", "desk-new");
            FAIL() << "handed over while the desk runs";
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(IsPostgres() ? QStringLiteral("\"desk-gone\" is running")
                                                                          : QStringLiteral("close it first")))
                << e.what();
        }
    }
    if (IsPostgres()) {
        store::InstanceLock receiving("desk-new");
        ASSERT_EQ(receiving.Acquire().outcome, Outcome::Held);
        EXPECT_THROW(store::HandOver("desk-gone", "desk-new"), EDatabaseError)
            << "the receiving desk's save at close would delete what arrives";
    }
    EXPECT_EQ(Count("Going"), "desk-gone:1");
    EXPECT_NO_THROW(store::HandOver("desk-gone", "desk-new"));
    EXPECT_EQ(Count("Going"), "desk-new:1");
}

HC_INSTANTIATE_FOR_ENGINES(Desks);

// ---------------------------------------------------------------- the desk's connection

class DeskConnection : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        if (!IsSkipped() && !IsPostgres())
            GTEST_SKIP() << "an SQLite desk opens a connection per use";
    }

    // Ends, from another session, every session holding desk-a's lock, as a
    // server restart does; returns how many.
    static int EndDeskSessions()
    {
        int ended = 0;
        const QString name = QStringLiteral("desks_test_terminate");
        {
            QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_locks WHERE "
                                              "locktype = 'advisory' AND classid = %1 AND "
                                              "objid = hashtext('desk-a')::oid")
                                   .arg(store::kDeskLockClass)))
                << q.lastError().text().toStdString();
            while (q.next())
                ended += q.value(0).toBool() ? 1 : 0;
        }
        QSqlDatabase::removeDatabase(name);
        return ended;
    }
};

TEST_P(DeskConnection, WritesGoOnAfterTheConnectionWasLostAndTheLockIsTakenAgain)
{
    store::InstanceLock lock("desk-a");
    ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
    store::GoingWriter writer{store::DeskAccess(lock)};
    writer.Added({Link("1")});
    ASSERT_EQ(EndDeskSessions(), 1);

    writer.Added({Link("2")});
    EXPECT_TRUE(writer.Flush()) << "written at once on a new connection";
    EXPECT_EQ(GoingRows("desk-a"), (Links{Link("1"), Link("2")}));
    EXPECT_EQ(EndDeskSessions(), 1) << "the new connection holds the desk's lock again";
    ASSERT_TRUE(store::SaveGoing(store::DeskAccess(lock), {Link("3")}).opened) << "the save at close reconnects too";
    EXPECT_EQ(GoingRows("desk-a"), Links{Link("3")});
}

TEST_P(DeskConnection, ADeskTakenByAnotherCopyMeanwhileStopsWritingAndSaysWhy)
{
    store::InstanceLock lock("desk-a");
    ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
    store::GoingWriter writer{store::DeskAccess(lock)};
    writer.Added({Link("1")});
    ASSERT_EQ(EndDeskSessions(), 1);
    // Another copy of desk-a starts while this one is away.
    const QString otherCopy = QStringLiteral("desks_test_other_copy");
    QSqlDatabase other = OpenAliasDatabase("Hotels_Db", otherCopy);
    QSqlQuery take(other);
    ASSERT_TRUE(take.exec(QStringLiteral("SELECT pg_advisory_lock(%1, hashtext('desk-a'))").arg(store::kDeskLockClass)))
        << take.lastError().text().toStdString();

    writer.Added({Link("2")});
    EXPECT_GT(writer.OwedLinks(), 0u) << "kept, not written under another copy's lock";
    EXPECT_THROW(lock.DeskConnection(), EDatabaseError);
    EXPECT_EQ(GoingRows("desk-a"), Links{Link("1")});
    take = QSqlQuery();
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(otherCopy);
}

HC_INSTANTIATE_FOR_ENGINES(DeskConnection);

}  // namespace
