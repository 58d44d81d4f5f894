// Database faults at each use of "Hotels_Db", on every engine: the start-up
// probe, the resume load, the write-through, the result row and the save at
// close, against a missing database (a server that is down, for
// PostgreSQL), a missing table, a read-only database, a lock held elsewhere
// and a full disk. Each use ends as the window expects, nothing stored before
// is lost, and a write kept during the fault lands once it is mended.

#include "platform/db/Alias.h"
#include "platform/testing/DbTestHooks.h"
#include "store/Going.h"
#include "store/GoingWriter.h"
#include "store/Staymarker.h"

#include "tests/store/DriverFixture.h"
#include "tests/support/ThisDesk.h"

#include <QFile>
#include <QProcess>

#include <tuple>

#include <unistd.h>

namespace {

enum class Fault { MissingDatabase, MissingTable, ReadOnly, Locked, DiskFull };

const char* FaultName(Fault f)
{
    switch (f) {
    case Fault::MissingDatabase: return "MissingDatabase";
    case Fault::MissingTable: return "MissingTable";
    case Fault::ReadOnly: return "ReadOnly";
    case Fault::Locked: return "Locked";
    case Fault::DiskFull: return "DiskFull";
    }
    return "?";
}

// Long addresses: a row then needs pages of its own, so a full disk shows.
AnsiString LongUrl(const char* id)
{
    return AnsiString("http://hotels.example/hotsdetail.ctl?hotel=") + id + "&pad=" + AnsiString(6000, 'x');
}

using Links = std::vector<Hotel_Url>;

class GoingFaults : public ::testing::WithParamInterface<std::tuple<Engine, Fault>>, public EngineFixtureBase {
protected:
    void SetUp() override
    {
        StartEngine(std::get<0>(GetParam()));
        if (HasFailure() || IsSkipped())
            return;
        fault = std::get<1>(GetParam());
        if (fault == Fault::DiskFull && engine == Engine::PostgreSQL)
            GTEST_SKIP() << "a server's disk cannot be filled from a test; the SQLite case covers it";
        if (fault == Fault::ReadOnly && engine == Engine::SQLite && !CanMakeImmutable())
            GTEST_SKIP() << "cannot make the database file read-only here";
    }

    void TearDown() override
    {
        if (broken)
            Mend();
        platform::testing::SetDatabaseOpenedHook({});
        StopEngine();
    }

    // Root ignores file modes; the immutable flag holds even for root.
    bool CanMakeImmutable()
    {
        if (::geteuid() != 0)
            return true;
        QFile probe(sqlitePath() + ".probe");
        probe.open(QIODevice::WriteOnly);
        probe.close();
        const bool ok = QProcess::execute("chattr", {"+i", probe.fileName()}) == 0;
        QProcess::execute("chattr", {"-i", probe.fileName()});
        probe.remove();
        return ok;
    }

    void Break()
    {
        broken = true;
        switch (fault) {
        case Fault::MissingDatabase:
            if (engine == Engine::SQLite) {
                ASSERT_TRUE(QFile::rename(sqlitePath(), sqlitePath() + ".away"));
            } else {
                UseDatabase(QStringLiteral("postgresql://hc_test:pw@127.0.0.1:1/hc_test"));  // server down
            }
            break;
        case Fault::MissingTable:
            Exec("ALTER TABLE \"Going\" RENAME TO \"Going_away\"");
            Exec("ALTER TABLE \"Staymarker\" RENAME TO \"Staymarker_away\"");
            break;
        case Fault::ReadOnly:
            if (engine == Engine::SQLite) {
                if (::geteuid() == 0) {
                    ASSERT_EQ(QProcess::execute("chattr", {"+i", sqlitePath()}), 0);
                } else {
                    ASSERT_TRUE(QFile::setPermissions(sqlitePath(), QFile::ReadOwner));
                }
            } else {
                Exec("REVOKE INSERT, UPDATE, DELETE ON \"Going\", \"Staymarker\" FROM CURRENT_USER");
            }
            break;
        case Fault::Locked:
            holder = OpenAliasDatabase("Hotels_Db", kHolder);
            {
                QSqlQuery q(holder);
                if (engine == Engine::SQLite) {
                    ASSERT_TRUE(q.exec("BEGIN EXCLUSIVE")) << q.lastError().text().toStdString();
                } else {
                    ASSERT_TRUE(q.exec("BEGIN"));
                    ASSERT_TRUE(q.exec("LOCK TABLE \"Going\", \"Staymarker\" IN ACCESS EXCLUSIVE MODE"))
                        << q.lastError().text().toStdString();
                }
            }
            break;
        case Fault::DiskFull:
            // No page beyond those the file has may be added.
            platform::testing::SetDatabaseOpenedHook([](QSqlDatabase& db) {
                QSqlQuery q(db);
                q.exec("PRAGMA page_count");
                q.next();
                const int pages = q.value(0).toInt();
                q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages));
            });
            break;
        }
    }

    void Mend()
    {
        broken = false;
        switch (fault) {
        case Fault::MissingDatabase:
            if (engine == Engine::SQLite) {
                ASSERT_TRUE(QFile::rename(sqlitePath() + ".away", sqlitePath()));
            } else {
                UseDatabase(dbSetting);
            }
            break;
        case Fault::MissingTable:
            Exec("ALTER TABLE \"Going_away\" RENAME TO \"Going\"");
            Exec("ALTER TABLE \"Staymarker_away\" RENAME TO \"Staymarker\"");
            break;
        case Fault::ReadOnly:
            if (engine == Engine::SQLite) {
                if (::geteuid() == 0)
                    QProcess::execute("chattr", {"-i", sqlitePath()});
                else
                    QFile::setPermissions(sqlitePath(), QFile::ReadOwner | QFile::WriteOwner);
            } else {
                Exec("GRANT INSERT, UPDATE, DELETE ON \"Going\", \"Staymarker\" TO CURRENT_USER");
            }
            break;
        case Fault::Locked:
            {
                QSqlQuery q(holder);
                q.exec("ROLLBACK");
            }
            holder.close();
            holder = QSqlDatabase();
            QSqlDatabase::removeDatabase(kHolder);
            break;
        case Fault::DiskFull:
            platform::testing::SetDatabaseOpenedHook({});
            break;
        }
    }

    // Faults that keep a table from opening at all.
    bool BlocksReading() const
    {
        return fault == Fault::MissingDatabase || fault == Fault::MissingTable || fault == Fault::Locked;
    }

    static store::StaymarkerRow Hotel(const AnsiString& url, const char* header, std::size_t infoBytes = 6000)
    {
        store::StaymarkerRow row;
        row.Url = url;
        row.AirPort = "osl";
        row.HeaderBar = header;
        row.HotelInfo = AnsiString(infoBytes, 'i');
        row.ExtractedAt = "2026-12-07T10:00:00Z";
        return row;
    }

    static std::vector<store::StaymarkerRow> Hotels() { return store::ReadAllHotels(); }

    Fault fault = Fault::MissingDatabase;
    bool broken = false;
    QSqlDatabase holder;
    inline static const QString kHolder = QStringLiteral("going_faults_holder");
};

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Engine, Fault>>& info)
{
    return std::string(std::get<0>(info.param) == Engine::SQLite ? "SQLite" : "PostgreSQL") + "_"
        + FaultName(std::get<1>(info.param));
}

TEST_P(GoingFaults, ProbeAndResumeLoadReportTheTableOpenFailureOrReadAsUsual)
{
    SeedGoing({{LongUrl("1"), "osl"}});
    Break();
    const store::GoingProbe probe = store::ProbeGoing(ThisDesk());
    Links loaded;
    const bool opened = store::LoadGoing(ThisDesk(), loaded).opened;
    if (BlocksReading()) {
        EXPECT_FALSE(probe.opened);
        EXPECT_FALSE(probe.hasRows);
        EXPECT_FALSE(opened);
        EXPECT_TRUE(loaded.empty());
        EXPECT_TRUE(messages.empty()) << "the window shows the box";
    } else {
        EXPECT_TRUE(probe.hasRows);
        EXPECT_EQ(loaded.size(), 1u);
        EXPECT_TRUE(messages.empty());
    }
    Mend();
    EXPECT_EQ(GoingRows(), (Links{{LongUrl("1"), "osl"}})) << "the stored row is untouched";
}

TEST_P(GoingFaults, WriteThroughKeepsItsWritesAndCatchesUpOnceMended)
{
    SeedGoing({{LongUrl("0"), "adl"}});
    store::GoingWriter writer{ThisDesk()};
    Break();
    ::testing::internal::CaptureStderr();
    writer.Added({{LongUrl("1"), "osl"}, {LongUrl("2"), "osl"}});
    writer.Handled(Hotel_Url{LongUrl("0"), "osl"}, Hotel(LongUrl("0"), "zero"));
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(writer.OwedLinks(), 2u);
    EXPECT_EQ(writer.OwedHotels(), 1u);
    // The same failure twice is reported once.
    EXPECT_NE(reported.find("could not write"), std::string::npos) << reported;
    EXPECT_EQ(reported.find("could not write"), reported.rfind("could not write")) << reported;
    EXPECT_EQ(reported.find("pw@"), std::string::npos) << "no password in a report";

    Mend();
    EXPECT_EQ(GoingRows(), (Links{{LongUrl("0"), "adl"}})) << "nothing half-written";
    EXPECT_TRUE(Hotels().empty());

    writer.Handled(Hotel_Url{LongUrl("1"), "osl"}, std::nullopt);
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows(), (Links{{LongUrl("2"), "osl"}}));
    const auto hotels = Hotels();
    ASSERT_EQ(hotels.size(), 1u);
    EXPECT_EQ(hotels[0].HeaderBar, "zero");
}

TEST_P(GoingFaults, ResultRowFailureKeepsTheGoodRowAndTheLink)
{
    store::GoingWriter writer{ThisDesk()};
    writer.Added({{LongUrl("1"), "osl"}});
    writer.Handled(Hotel_Url{LongUrl("1"), "osl"}, Hotel(LongUrl("1"), "good"));
    writer.Added({{LongUrl("1"), "osl"}});  // collected again in a later run
    ASSERT_TRUE(writer.Flush());

    Break();
    ::testing::internal::CaptureStderr();
    // Larger than what the handled link's rows free, so a full disk shows.
    writer.Handled(Hotel_Url{LongUrl("1"), "osl"}, Hotel(LongUrl("1"), "newer", 60000));
    ::testing::internal::GetCapturedStderr();
    Mend();
    // Before the retry: the old row and the link are both still there.
    ASSERT_EQ(Hotels().size(), 1u);
    EXPECT_EQ(Hotels()[0].HeaderBar, "good");
    EXPECT_EQ(GoingRows().size(), 1u);

    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(Hotels()[0].HeaderBar, "newer");
    EXPECT_TRUE(GoingRows().empty());
}

TEST_P(GoingFaults, SaveAtCloseFailsWithoutLosingThePreviousRows)
{
    SeedGoing({{LongUrl("0"), "adl"}});
    Break();
    bool saved = false;
    bool threw = false;
    try {
        saved = store::SaveGoing(ThisDesk(), {{LongUrl("1"), "osl"}, {LongUrl("2"), "osl"}},
                                 store::GoingSave::Replace)
                    .opened;
    } catch (const EDatabaseError&) {
        threw = true;
    }
    if (BlocksReading()) {
        EXPECT_FALSE(saved);
        EXPECT_FALSE(threw);
        EXPECT_TRUE(messages.empty());
    } else {
        EXPECT_TRUE(threw) << "a write that fails after opening is an error for the close to report";
    }
    Mend();
    EXPECT_EQ(GoingRows(), (Links{{LongUrl("0"), "adl"}}));
}

INSTANTIATE_TEST_SUITE_P(Uses, GoingFaults,
                         ::testing::Combine(::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                                            ::testing::Values(Fault::MissingDatabase, Fault::MissingTable,
                                                              Fault::ReadOnly, Fault::Locked, Fault::DiskFull)),
                         CaseName);

}  // namespace
