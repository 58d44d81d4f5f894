// The desk's kept connection watched (PostgreSQL): the lock taken back as
// soon as the server answers, no moment after a restart in which a second
// copy or a hand-over gets the desk, a desk that finds another holder or its
// rows handed over stops writing, and a server that stops answering does
// not hold the window.

#include "platform/db/PostgresSocket.h"
#include "store/Desk.h"
#include "store/DeskClaim.h"
#include "store/GoingWriter.h"
#include "store/InstanceLock.h"

#include "support/Pump.h"
#include "tests/store/DriverFixture.h"

#include <QElapsedTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Links = std::vector<Hotel_Url>;
using Outcome = store::InstanceLock::Outcome;

Hotel_Url Link(const std::string& n)
{
    return {"http://hotels.example/hotsdetail.ctl?hotel=" + n, "osl"};
}

class DeskWatch : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        if (IsSkipped())
            return;
        Exec("DROP TABLE IF EXISTS \"DeskClaims\"");
        store::DeskTimings t;
        t.watchEvery = 20ms;
        store::testing::SetDeskTimings(t);
    }
    void TearDown() override
    {
        store::testing::SetDeskTimings({});
        if (!IsSkipped())
            Exec("DROP TABLE IF EXISTS \"DeskClaims\"");
        EngineTest::TearDown();
    }

    static void SetTimings(std::chrono::milliseconds silenceLimit, std::chrono::seconds restartGrace)
    {
        store::DeskTimings t = store::CurrentDeskTimings();
        t.silenceLimit = silenceLimit;
        t.restartGrace = restartGrace;
        store::testing::SetDeskTimings(t);
    }

    // The first column of the first row of `sql` on a connection of its own
    // (0 for no row).
    static qint64 Ask(const QString& sql, const QVariantList& values = {})
    {
        qint64 value = 0;
        const QString name = QStringLiteral("desk_watch_ask");
        {
            QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
            QSqlQuery q(db);
            EXPECT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
            for (const QVariant& v : values)
                q.addBindValue(v);
            EXPECT_TRUE(q.exec()) << sql.toStdString() << ": " << q.lastError().text().toStdString();
            if (q.next())
                value = q.value(0).toLongLong();
        }
        QSqlDatabase::removeDatabase(name);
        return value;
    }

    // The backend holding desk-a's lock, or 0.
    static qint64 DeskSession()
    {
        return Ask(QStringLiteral("SELECT pid FROM pg_locks WHERE locktype = 'advisory' AND granted AND classid = %1 "
                                  "AND objid = hashtext('desk-a')::oid AND objsubid = 2")
                       .arg(store::kDeskLockClass));
    }

    // Ends desk-a's session as a restart of the server does: the lock goes,
    // and with `restart` the claim dates from before the server's start.
    static void LoseDeskSession(bool restart)
    {
        const qint64 session = DeskSession();
        ASSERT_NE(session, 0);
        Ask(QStringLiteral("SELECT pg_terminate_backend(?, 10000)"), {session});
        if (restart)
            Exec("UPDATE \"DeskClaims\" SET \"TakenAt\" = pg_postmaster_start_time() - interval '1 second'");
    }

    // A session of the test's own holding desk-a's lock, as another copy would.
    struct OtherSession {
        inline static const QString kName = QStringLiteral("desk_watch_other");
        QSqlDatabase db;
        OtherSession()
        {
            db = OpenAliasDatabase("Hotels_Db", kName);
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT pg_advisory_lock(%1, hashtext('desk-a'))").arg(store::kDeskLockClass)))
                << q.lastError().text().toStdString();
        }
        ~OtherSession()
        {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(kName);
        }
    };

    static constexpr std::chrono::seconds kLongGrace{10 * 365 * 24 * 3600};
};

// ---------------------------------------------------------------- taken back at once

TEST_P(DeskWatch, TheLockIsTakenBackAsSoonAsTheServerAnswersWithoutAWrite)
{
    store::InstanceLock lock("desk-a");
    ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
    const qint64 first = DeskSession();
    LoseDeskSession(false);
    ASSERT_EQ(DeskSession(), 0);

    EXPECT_TRUE(PumpUntil([&] { return DeskSession() != 0; })) << "the lock stays free until the next write";
    EXPECT_NE(DeskSession(), first);
    EXPECT_TRUE(lock.StoppedWhy().isEmpty()) << lock.StoppedWhy().toStdString();
}

// ---------------------------------------------------------------- the restart's moment

TEST_P(DeskWatch, AfterAServerRestartNeitherASecondCopyNorAHandOverGetsTheDesk)
{
    SetTimings(30s, kLongGrace);
    store::InstanceLock lock("desk-a");
    ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
    store::GoingWriter writer{store::DeskAccess(lock)};
    writer.Added({Link("1")});
    LoseDeskSession(true);

    {
        store::InstanceLock second("desk-a");
        const store::InstanceLock::Claim refused = second.Acquire();
        EXPECT_EQ(refused.outcome, Outcome::HeldElsewhere);
        EXPECT_TRUE(refused.detail.contains(QStringLiteral("when the server restarted"))) << refused.detail.toStdString();
    }
    try {
        store::HandOver("desk-a", "desk-new");
        ADD_FAILURE() << "handed over while the desk's program lives";
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("desk \"desk-a\" is running"))) << e.what();
    }

    // The desk itself comes back to its own claim and writes on.
    writer.Added({Link("2")});
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows("desk-a"), (Links{Link("1"), Link("2")}));
    EXPECT_TRUE(lock.StoppedWhy().isEmpty()) << lock.StoppedWhy().toStdString();
}

TEST_P(DeskWatch, AClaimWhoseHolderCannotComeBackIsTakenOverAtOnce)
{
    SetTimings(30s, kLongGrace);
    store::InstanceLock gone("desk-a");
    ASSERT_EQ(gone.Acquire().outcome, Outcome::Held);
    LoseDeskSession(true);

    // Its holder on another machine may still come back...
    Exec("UPDATE \"DeskClaims\" SET \"Machine\" = 'another machine', \"Pid\" = 2147483646");
    {
        store::InstanceLock next("desk-a");
        EXPECT_EQ(next.Acquire().outcome, Outcome::HeldElsewhere);
    }
    // ...but a process of this machine that is gone (a crash) does not.
    Exec("UPDATE \"DeskClaims\" SET \"Machine\" = ?", {store::DeskClaimant::ThisProgram().machine});
    store::InstanceLock next("desk-a");
    const store::InstanceLock::Claim claim = next.Acquire();
    EXPECT_EQ(claim.outcome, Outcome::Held) << claim.detail.toStdString();
}

// ---------------------------------------------------------------- someone else meanwhile

TEST_P(DeskWatch, ADeskWhoseRowsWereHandedOverMeanwhileStopsWriting)
{
    store::InstanceLock lock("desk-a");
    ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
    store::GoingWriter writer{store::DeskAccess(lock)};
    writer.Added({Link("1")});
    LoseDeskSession(false);  // its session ended while the server ran: nothing to wait for
    ASSERT_NO_THROW(store::HandOver("desk-a", "desk-new"));

    writer.Added({Link("2")});
    EXPECT_GT(writer.OwedLinks(), 0u) << "kept, not written after its rows left";
    EXPECT_TRUE(lock.StoppedWhy().contains(QStringLiteral("hand-over to desk \"desk-new\""))) << lock.StoppedWhy().toStdString();
    EXPECT_TRUE(GoingRows("desk-a").empty());
    EXPECT_EQ(GoingRows("desk-new"), Links{Link("1")});
}

TEST_P(DeskWatch, ADeskHeldByAnotherCopyMeanwhileStopsWritingThoughThatCopyIsGone)
{
    // Another copy took the desk while this one was away and closed (its
    // claim given back) or crashed (its claim left behind).
    for (const char* otherCopy : {"DELETE FROM \"DeskClaims\"",
                                  "UPDATE \"DeskClaims\" SET \"Token\" = 'other', \"Holder\" = 'process 1 on elsewhere'"}) {
        SCOPED_TRACE(otherCopy);
        Exec("DELETE FROM \"Going\"");
        store::InstanceLock lock("desk-a");
        ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
        store::GoingWriter writer{store::DeskAccess(lock)};
        writer.Added({Link("1")});
        LoseDeskSession(false);
        Exec(QString::fromLatin1(otherCopy));

        writer.Added({Link("2")});
        EXPECT_GT(writer.OwedLinks(), 0u);
        EXPECT_TRUE(lock.StoppedWhy().contains(QStringLiteral("took it while"))) << lock.StoppedWhy().toStdString();
        EXPECT_EQ(GoingRows("desk-a"), Links{Link("1")});
    }
}

TEST_P(DeskWatch, AnEarlierSessionTheServerStillHoldsIsEndedAndTheLockTakenBack)
{
    store::InstanceLock lock("desk-a");
    ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
    store::GoingWriter writer{store::DeskAccess(lock)};
    LoseDeskSession(false);
    // The server still has a session of this copy's that the client gave up
    // (its path died): it holds the lock, and the claim names it.
    OtherSession earlier;
    const qint64 session = DeskSession();
    Exec("UPDATE \"DeskClaims\" SET \"Session\" = ?", {session});

    writer.Added({Link("1")});  // may be kept until the earlier session is gone
    EXPECT_TRUE(PumpUntil([&] { return DeskSession() != 0 && DeskSession() != session; }));
    writer.Added({Link("2")});
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows("desk-a"), (Links{Link("1"), Link("2")}));
    EXPECT_TRUE(lock.StoppedWhy().isEmpty()) << lock.StoppedWhy().toStdString();
}

// ---------------------------------------------------------------- a server that does not answer

TEST_P(DeskWatch, EveryServerConnectionProbesItsPathAndHasAUserTimeOut)
{
    const QString name = QStringLiteral("desk_watch_socket");
    {
        QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
        const int fd = platform::PostgresSocket(db);
        ASSERT_GE(fd, 0);
        auto option = [fd](int level, int which) {
            int value = -1;
            socklen_t size = sizeof value;
            EXPECT_EQ(getsockopt(fd, level, which, &value, &size), 0);
            return value;
        };
        EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
        EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 10);
        EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 5);
        EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 4);
        EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), platform::kDeadPathMs);
    }
    QSqlDatabase::removeDatabase(name);
}

TEST_P(DeskWatch, AWriteToAPausedServerReturnsWithinTheLimitAndTheDeskGoesOnAfter)
{
    SetTimings(1000ms, 60s);
    store::InstanceLock lock("desk-a");
    ASSERT_EQ(lock.Acquire().outcome, Outcome::Held);
    store::GoingWriter writer{store::DeskAccess(lock)};
    writer.Added({Link("1")});
    const qint64 backend = DeskSession();
    ASSERT_NE(backend, 0);
    // The desk's server process is paused: its TCP stack still acknowledges
    // everything, so only the client's own limit ends the wait.
    if (::kill(static_cast<pid_t>(backend), SIGSTOP) != 0)
        GTEST_SKIP() << "cannot pause the server process " << backend << " (not its owner)";
    // Whatever happens, the server runs again: at the latest after 60 s,
    // which also ends a write that would otherwise wait for good.
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread resume([&] {
        std::unique_lock<std::mutex> hold(mutex);
        done.wait_for(hold, 60s, [&] { return finished; });
        ::kill(static_cast<pid_t>(backend), SIGCONT);
    });
    QElapsedTimer took;
    took.start();
    writer.Added({Link("2")});
    const qint64 ms = took.elapsed();
    {
        std::lock_guard<std::mutex> hold(mutex);
        finished = true;
    }
    done.notify_all();
    resume.join();

    EXPECT_LT(ms, 20000) << "the write waited on the paused server";
    EXPECT_GT(writer.OwedLinks(), 0u) << "kept in memory";
    EXPECT_TRUE(lock.StoppedWhy().isEmpty()) << lock.StoppedWhy().toStdString();
    // Running again, the server ends the old session; the watch takes the
    // lock back and the kept link goes out with the next write.
    EXPECT_TRUE(PumpUntil([&] { return DeskSession() != 0 && DeskSession() != backend; }, 30000));
    writer.Added({Link("3")});
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows("desk-a"), (Links{Link("1"), Link("2"), Link("3")}));
}

INSTANTIATE_TEST_SUITE_P(Engines, DeskWatch, ::testing::Values(Engine::PostgreSQL), EngineName);

}  // namespace
