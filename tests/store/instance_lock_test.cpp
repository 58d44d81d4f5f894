// One program per database: the claim on each engine, its release, and a
// database that cannot be asked.

#include "store/InstanceLock.h"

#include "tests/store/DriverFixture.h"
#include "tests/support/ThisDesk.h"

#include <QLockFile>

#include <memory>

namespace {

using Outcome = store::InstanceLock::Outcome;

// The claim of another copy of the program, made the way every copy makes it:
// the lock file next to an SQLite database, the advisory lock with the
// program's key on a PostgreSQL session of its own.
class InstanceLockClaim : public EngineTest {
protected:
    void TearDown() override
    {
        Release();
        EngineTest::TearDown();
    }

    bool OtherProgramClaims()
    {
        if (!IsPostgres()) {
            file_ = std::make_unique<QLockFile>(sqlitePath() + QStringLiteral(".lock"));
            file_->setStaleLockTime(0);
            return file_->tryLock(0);
        }
        other_ = OpenAliasDatabase("Hotels_Db", kOther);
        QSqlQuery q(other_);
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT pg_try_advisory_lock(%1)").arg(kAdvisoryKey)))
            << q.lastError().text().toStdString();
        return q.next() && q.value(0).toBool();
    }

    void Release()
    {
        file_.reset();
        if (other_.isValid()) {
            other_.close();
            other_ = QSqlDatabase();
            QSqlDatabase::removeDatabase(kOther);
        }
    }

    static constexpr qint64 kAdvisoryKey = 0x48746c734462;
    inline static const QString kOther = QStringLiteral("instance_lock_other");
    std::unique_ptr<QLockFile> file_;
    QSqlDatabase other_;
};

TEST_P(InstanceLockClaim, DatabaseClaimedByAnotherProgramIsRefusedNamingTheHolder)
{
    ASSERT_TRUE(OtherProgramClaims());
    store::InstanceLock lock(ThisDesk().Name());
    const store::InstanceLock::Claim claim = lock.Acquire();
    EXPECT_EQ(claim.outcome, Outcome::HeldElsewhere);
    EXPECT_TRUE(claim.detail.contains(IsPostgres() ? QStringLiteral("an earlier version")
                                                   : QStringLiteral(".lock")))
        << claim.detail.toStdString();
}

TEST_P(InstanceLockClaim, ClaimHoldsUntilTheLockObjectEnds)
{
    {
        store::InstanceLock lock(ThisDesk().Name());
        const store::InstanceLock::Claim claim = lock.Acquire();
        ASSERT_EQ(claim.outcome, Outcome::Held) << claim.detail.toStdString();
        EXPECT_TRUE(claim.detail.isEmpty());
        EXPECT_FALSE(OtherProgramClaims());
        Release();
    }
    EXPECT_TRUE(OtherProgramClaims()) << "the claim is given back when its object ends";
}

HC_INSTANTIATE_FOR_ENGINES(InstanceLockClaim);

class InstanceLockUnreachable : public ::testing::Test {
protected:
    void TearDown() override { platform::SetSettings({}); }
};

TEST_F(InstanceLockUnreachable, DatabaseThatCannotBeAskedIsUncheckedWithTheReason)
{
    for (const QString& setting : {QStringLiteral("postgresql://nobody@127.0.0.1:1/none"),  // closed port
                                   QStringLiteral("mysql://somewhere/else")}) {               // malformed
        SCOPED_TRACE(setting.toStdString());
        platform::Settings s;
        s.hotelsDb = setting;
        platform::SetSettings(s);
        store::InstanceLock lock(ThisDesk().Name());
        const store::InstanceLock::Claim claim = lock.Acquire();
        EXPECT_EQ(claim.outcome, Outcome::Unchecked);
        EXPECT_FALSE(claim.detail.isEmpty());
    }
}

}  // namespace
