// The pending-work table "Going": start-up probe, resume load, save at close.

#include "store/Going.h"

#include "platform/testing/DbTestHooks.h"

#include "tests/store/DriverFixture.h"

#include <QObject>

namespace {

const QString kOpenFailed = QStringLiteral("Table Open Exception");

using Links = std::vector<Hotel_Url>;

const Links kThree = {
    {"http://hotels.example/hotsdetail.ctl?hotel=1", "osl"},
    {"http://hotels.example/hotsdetail.ctl?hotel=2", ""},
    {"http://hotels.example/hotsdetail.ctl?hotel=1", "osl"},
};

// ---------------------------------------------------------------- probe

class GoingProbe : public EngineTest {
protected:
    bool Probe() { return store::GoingHasRows(&owner); }
    QObject owner;
};

TEST_P(GoingProbe, EmptyTableMeansNoSavedWork)
{
    EXPECT_FALSE(Probe());
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingProbe, RowsMeanSavedWorkAndTheProbeTableIsGone)
{
    SeedGoing({kThree[0]});
    EXPECT_TRUE(Probe());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(owner.children().isEmpty());
    EXPECT_EQ(GoingRows(), Links{kThree[0]});
}

TEST_P(GoingProbe, TableThatCannotOpenIsReportedOnceAndCountsAsEmpty)
{
    DropGoing();
    EXPECT_FALSE(Probe());
    EXPECT_EQ(messages, std::vector<QString>{kOpenFailed});
    EXPECT_TRUE(owner.children().isEmpty());
}

HC_INSTANTIATE_FOR_ENGINES(GoingProbe);

// ---------------------------------------------------------------- resume load

class GoingResume : public EngineTest {
protected:
    void Load() { store::LoadGoing(table, pending); }
    TTable table{nullptr};
    Links pending;
};

TEST_P(GoingResume, AppendsEveryRowInTableOrderAfterWhatIsThere)
{
    const Hotel_Url earlier{"http://hotels.example/hotsdetail.ctl?hotel=0", "adl"};
    pending.push_back(earlier);
    SeedGoing(kThree);

    Load();

    Links expected{earlier};
    expected.insert(expected.end(), kThree.begin(), kThree.end());
    EXPECT_EQ(pending, expected);  // order kept, duplicates kept, empty AirPort read as empty
    EXPECT_FALSE(table.Active());
    EXPECT_EQ(GoingRows(), kThree);  // the rows stay until the next save
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingResume, SecondLoadAppendsTheRowsAgain)
{
    SeedGoing({kThree[0]});
    Load();
    Load();
    EXPECT_EQ(pending, (Links{kThree[0], kThree[0]}));
}

TEST_P(GoingResume, NonAsciiTextRoundTrips)
{
    const Hotel_Url korean{"http://hotels.example/hotsdetail.ctl?name=%ED%98%B8%ED%85%94&q=\"a,b\"", "서울"};
    SeedGoing({korean});
    Load();
    EXPECT_EQ(pending, Links{korean});
}

TEST_P(GoingResume, FailedOpenAppendsNothingAndReportsOnce)
{
    pending.push_back(kThree[0]);
    DropGoing();
    Load();
    EXPECT_EQ(pending, Links{kThree[0]});
    EXPECT_EQ(messages, std::vector<QString>{kOpenFailed});
    EXPECT_FALSE(table.Active());
}

TEST_P(GoingResume, ClosesATableLeftOpenAndRebindsIt)
{
    table.SetDatabaseName("Hotels_Db");
    table.SetTableName("Staymarker");
    table.Open();
    SeedGoing({kThree[1]});

    Load();

    EXPECT_EQ(pending, Links{kThree[1]});
    EXPECT_EQ(table.TableName(), "Going");
    EXPECT_FALSE(table.Active());
}

HC_INSTANTIATE_FOR_ENGINES(GoingResume);

// ---------------------------------------------------------------- save at close

class GoingSaveAtClose : public EngineTest {
protected:
    void Save(const Links& list, store::GoingSave mode = store::GoingSave::Replace)
    {
        store::SaveGoing(table, list, mode);
    }
    TTable table{nullptr};
};

TEST_P(GoingSaveAtClose, ReplaceLeavesExactlyTheListInOrderWithDuplicates)
{
    SeedGoing({{"old-1", "x"}, {"old-2", "y"}});
    Save(kThree);
    EXPECT_EQ(GoingRows(), kThree);
    EXPECT_FALSE(table.Active());
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingSaveAtClose, EmptyListEmptiesTheTable)
{
    SeedGoing(kThree);
    Save({});
    EXPECT_TRUE(GoingRows().empty());
    QObject owner;
    EXPECT_FALSE(store::GoingHasRows(&owner));
}

TEST_P(GoingSaveAtClose, AppendKeepsTheRowsAlreadyThere)
{
    SeedGoing({kThree[0]});
    Save({kThree[1], kThree[2]}, store::GoingSave::Append);
    EXPECT_EQ(GoingRows(), kThree);
}

TEST_P(GoingSaveAtClose, FailedOpenChangesNothingAndReportsOnce)
{
    SeedGoing(kThree);
    UseDatabase(QStringLiteral("sqlite:/nonexistent-hc-folder/none.sqlite"));
    Save({{"new", "osl"}});
    UseDatabase(dbSetting);

    EXPECT_EQ(messages, std::vector<QString>{kOpenFailed});
    EXPECT_EQ(GoingRows(), kThree);
    EXPECT_FALSE(table.Active());
}

TEST_P(GoingSaveAtClose, InterruptedSaveKeepsThePreviousRowsAndPropagates)
{
    SeedGoing(kThree);
    PoisonGoing(QStringLiteral("poison"));

    EXPECT_THROW(Save({{"first", "osl"}, {"poison", "osl"}, {"last", "adl"}}), EDatabaseError);

    EXPECT_EQ(GoingRows(), kThree);
    EXPECT_FALSE(table.Active());
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingSaveAtClose, SavedListComesBackInTheSameOrderNextRun)
{
    const Links list = {{"c", "osl"}, {"a", "adl"}, {"b", ""}, {"a", "adl"}};
    Save(list);
    QObject owner;
    EXPECT_TRUE(store::GoingHasRows(&owner));
    Links loaded;
    store::LoadGoing(table, loaded);
    EXPECT_EQ(loaded, list);
}

TEST_P(GoingSaveAtClose, SavingTwiceKeepsOnlyTheSecondList)
{
    Save(kThree);
    Save({kThree[1]});
    EXPECT_EQ(GoingRows(), Links{kThree[1]});
}

TEST_P(GoingSaveAtClose, TransactionThatCannotStartClosesTheTableAndChangesNothing)
{
    if (IsPostgres())
        GTEST_SKIP() << "PostgreSQL only warns about BEGIN inside a transaction; no way to make it fail here";
    SeedGoing({kThree[0]});
    // Every connection arrives inside a transaction already, so BEGIN fails.
    platform::testing::SetDatabaseOpenedHook([](QSqlDatabase& db) { QSqlQuery(db).exec("BEGIN"); });
    EXPECT_THROW(Save({kThree[1]}), EDatabaseError);
    platform::testing::SetDatabaseOpenedHook({});
    EXPECT_FALSE(table.Active()) << "a table left open would fail every later use";
    EXPECT_EQ(GoingRows(), Links{kThree[0]});
    Save({kThree[1]});
    EXPECT_EQ(GoingRows(), Links{kThree[1]});
}

TEST_P(GoingSaveAtClose, MergeReplacesOnlyTheRowsOfListedLinks)
{
    SeedGoing({kThree[0], kThree[1]});
    const Hotel_Url fresh{"http://hotels.example/hotsdetail.ctl?hotel=9", "adl"};
    Save({kThree[1], fresh}, store::GoingSave::Merge);
    EXPECT_EQ(GoingRows(), (Links{kThree[0], kThree[1], fresh}));
}

HC_INSTANTIATE_FOR_ENGINES(GoingSaveAtClose);

}  // namespace
