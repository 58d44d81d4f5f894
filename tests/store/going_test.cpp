// The pending-work table "Going": start-up probe, resume load, save at close,
// each for this copy's desk.

#include "store/Going.h"
#include "store/GoingWriter.h"

#include "platform/testing/DbTestHooks.h"

#include "tests/store/DriverFixture.h"
#include "tests/support/ThisDesk.h"


namespace {

using Links = std::vector<Hotel_Url>;

const Links kThree = {
    {"http://hotels.example/hotsdetail.ctl?hotel=1", "osl"},
    {"http://hotels.example/hotsdetail.ctl?hotel=2", ""},
    {"http://hotels.example/hotsdetail.ctl?hotel=1", "osl"},
};

// ---------------------------------------------------------------- probe

class GoingProbe : public EngineTest {
protected:
    bool Probe() { return store::ProbeGoing(ThisDesk()).hasRows; }
};

TEST_P(GoingProbe, EmptyTableMeansNoSavedWork)
{
    EXPECT_FALSE(Probe());
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingProbe, RowsMeanSavedWorkAndStay)
{
    SeedGoing({kThree[0]});
    EXPECT_TRUE(Probe());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(GoingRows(), Links{kThree[0]});
}

TEST_P(GoingProbe, TableThatCannotOpenSaysWhyShowsNothingAndCountsAsEmpty)
{
    DropGoing();
    const store::GoingProbe probe = store::ProbeGoing(ThisDesk());
    EXPECT_FALSE(probe.opened);
    EXPECT_FALSE(probe.hasRows);
    EXPECT_TRUE(probe.why.contains("Going")) << probe.why.toStdString();
    EXPECT_TRUE(messages.empty()) << "the window shows the box, not the store";
}

HC_INSTANTIATE_FOR_ENGINES(GoingProbe);

// ---------------------------------------------------------------- resume load

class GoingResume : public EngineTest {
protected:
    store::GoingOpen Load() { return store::LoadGoing(ThisDesk(), pending); }
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

TEST_P(GoingResume, FailedOpenAppendsNothingAndSaysWhy)
{
    pending.push_back(kThree[0]);
    DropGoing();
    EXPECT_FALSE(Load().opened);
    EXPECT_EQ(pending, Links{kThree[0]});
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingResume, UnreachableDatabaseIsAFailedOpen)
{
    UseDatabase(QStringLiteral("sqlite:/nonexistent-hc-folder/none.sqlite"));
    const store::GoingOpen open = Load();
    UseDatabase(dbSetting);
    EXPECT_FALSE(open.opened);
    EXPECT_FALSE(open.why.isEmpty());
    EXPECT_TRUE(pending.empty());
}

HC_INSTANTIATE_FOR_ENGINES(GoingResume);

// ---------------------------------------------------------------- save at close

class GoingSaveAtClose : public EngineTest {
protected:
    store::GoingOpen Save(const Links& list, store::GoingSave mode = store::GoingSave::Replace,
                          const store::GoingRetries& retries = {})
    {
        return store::SaveGoing(ThisDesk(), list, mode, retries);
    }
};

TEST_P(GoingSaveAtClose, ReplaceLeavesExactlyTheListInOrderWithDuplicates)
{
    SeedGoing({{"old-1", "x"}, {"old-2", "y"}});
    Save(kThree);
    EXPECT_EQ(GoingRows(), kThree);
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingSaveAtClose, EmptyListEmptiesTheTable)
{
    SeedGoing(kThree);
    Save({});
    EXPECT_TRUE(GoingRows().empty());
    EXPECT_FALSE(store::ProbeGoing(ThisDesk()).hasRows);
}

TEST_P(GoingSaveAtClose, ListsLongerThanOneStatementKeepTheirOrderAndRetryStates)
{
    Links list;
    store::GoingRetries retries;
    for (int i = 0; i < 1234; ++i)
        list.push_back({"http://hotels.example/hotsdetail.ctl?hotel=" + std::to_string(i), i % 2 ? "osl" : "adl"});
    retries[list[0].Url] = store::RetryState{2, 122, 122, "HTTP 503", "2026-12-01T00:00:00Z"};
    retries[list[1233].Url] = store::RetryState{1, 61, 61, "time-out", "2026-12-01T00:00:01Z"};
    ASSERT_TRUE(Save(list, store::GoingSave::Replace, retries).opened);

    Links loaded;
    store::GoingRetries back;
    ASSERT_TRUE(store::LoadGoing(ThisDesk(), loaded, &back).opened);
    EXPECT_EQ(loaded, list);
    EXPECT_EQ(back, retries) << "links that never failed come back without a state";

    Save({list[5]}, store::GoingSave::Merge);
    EXPECT_EQ(GoingRows().size(), list.size()) << "a merge replaces the listed link's one row";
}

TEST_P(GoingSaveAtClose, ReplaceOverRowsNearlyInStepEndsExactlyAsTheList)
{
    // As the write-through leaves the table at a close: the list's links in
    // place but one that failed (moved to the end of the list with a new
    // state), one handled whose row is gone, one never written, a duplicate.
    const Links stored = {{"a", "x"}, {"b", "x"}, {"c", "x"}, {"d", "x"}, {"a", "x"}};
    SeedGoing(stored);
    store::SaveGoing(ThisDesk(), stored, store::GoingSave::Replace,
                     {{"d", store::RetryState{1, 61, 61, "time-out", "2026-12-01T00:00:00Z"}}});
    const Links list = {{"a", "x"}, {"c", "x"}, {"a", "x"}, {"e", "y"}, {"b", "x"}};
    const store::GoingRetries retries{{"b", store::RetryState{2, 183, 122, "HTTP 503", "2026-12-01T00:01:00Z"}}};
    ASSERT_TRUE(Save(list, store::GoingSave::Replace, retries).opened);

    EXPECT_EQ(GoingRows(), list);
    Links loaded;
    store::GoingRetries back;
    store::LoadGoing(ThisDesk(), loaded, &back);
    EXPECT_EQ(back, retries) << "\"d\" left with its state, \"b\" has the list's";
}

TEST_P(GoingSaveAtClose, AnyTextSurvivesTheSaveOfManyRowsAtOnce)
{
    // Many rows go in one statement; none of these may change on the way.
    const Links list = {{"http://h/?q=\"a,b\"{c}", "NULL"},  {"back\\slash\\\"", ""},
                        {"서울 호텔", "\"\""},                  {"line\nbreak\ttab", "{}"},
                        {std::string(70000, 'x'), "osl"},         {"", "adl"}};
    store::GoingRetries retries{{list[1].Url, store::RetryState{1, 61, 61, "say \"503\"\\", "2026-12-01T00:00:00Z"}}};
    ASSERT_TRUE(Save(list, store::GoingSave::Replace, retries).opened);
    Links loaded;
    store::GoingRetries back;
    store::LoadGoing(ThisDesk(), loaded, &back);
    EXPECT_EQ(loaded, list);
    EXPECT_EQ(back, retries);
}

// The write-through adds rows with the save's statement: after the rows
// already there, a link already there included.
TEST_P(GoingSaveAtClose, AddedLinksGoAfterTheRowsAlreadyThere)
{
    SeedGoing({kThree[0]});
    store::GoingWriter writer{ThisDesk()};
    writer.Added({kThree[1], kThree[2]});
    ASSERT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows(), kThree);
}

TEST_P(GoingSaveAtClose, FailedOpenChangesNothingAndReportsOnce)
{
    SeedGoing(kThree);
    UseDatabase(QStringLiteral("sqlite:/nonexistent-hc-folder/none.sqlite"));
    const store::GoingOpen saved = Save({{"new", "osl"}});
    UseDatabase(dbSetting);

    EXPECT_FALSE(saved.opened);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(GoingRows(), kThree);
}

TEST_P(GoingSaveAtClose, InterruptedSaveKeepsThePreviousRowsAndPropagates)
{
    SeedGoing(kThree);
    PoisonGoing(QStringLiteral("poison"));

    EXPECT_THROW(Save({{"first", "osl"}, {"poison", "osl"}, {"last", "adl"}}), EDatabaseError);

    EXPECT_EQ(GoingRows(), kThree);
    EXPECT_TRUE(messages.empty());
}

TEST_P(GoingSaveAtClose, SavedListComesBackInTheSameOrderNextRun)
{
    const Links list = {{"c", "osl"}, {"a", "adl"}, {"b", ""}, {"a", "adl"}};
    Save(list);
    EXPECT_TRUE(store::ProbeGoing(ThisDesk()).hasRows);
    Links loaded;
    store::LoadGoing(ThisDesk(), loaded);
    EXPECT_EQ(loaded, list);
}

TEST_P(GoingSaveAtClose, SavingTwiceKeepsOnlyTheSecondList)
{
    Save(kThree);
    Save({kThree[1]});
    EXPECT_EQ(GoingRows(), Links{kThree[1]});
}

TEST_P(GoingSaveAtClose, TransactionThatCannotStartChangesNothing)
{
    if (IsPostgres())
        GTEST_SKIP() << "PostgreSQL only warns about BEGIN inside a transaction; no way to make it fail here";
    SeedGoing({kThree[0]});
    // Every connection arrives inside a transaction already, so BEGIN fails.
    platform::testing::SetDatabaseOpenedHook([](QSqlDatabase& db) { QSqlQuery(db).exec("BEGIN"); });
    EXPECT_THROW(Save({kThree[1]}), EDatabaseError);
    platform::testing::SetDatabaseOpenedHook({});
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
