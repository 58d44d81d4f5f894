// The destination list on its own, without the window: what it keeps in
// "Destinations", how an earlier run's list comes back, how searches end
// and which owed destination gets the next slot.

#include "crawl/DestinationList.h"
#include "platform/toolkit/Forms.h"

#include <gtest/gtest.h>

namespace {

store::RetryState FailedTwice()
{
    return store::RetryState{2, 61, 122, "HTTP 503", "2026-12-01T00:00:00Z"};
}

platform::FetchFailure HttpStatus(int status, int retryAfterS = -1)
{
    platform::FetchFailure failure;
    failure.kind = platform::FetchFailure::Kind::HttpStatus;
    failure.httpStatus = status;
    failure.retryAfterS = retryAfterS;
    return failure;
}

class DestinationList : public ::testing::Test {
protected:
    TMemo memo;
    TDestinationList list;

    void SetUp() override { list.ShowIn(memo); }
    void type(const char* text) { memo.setPlainText(QString::fromUtf8(text)); }
    std::vector<AnsiString> lines() const { return memo.Lines->All(); }
    // Sends the search of line `index` as the window does.
    void search(int index, long long clock) { list.Begin(list.LineSearch(index, clock)); }
    std::vector<AnsiString> codes(const std::vector<store::DestinationEntry>& entries) const
    {
        std::vector<AnsiString> out;
        for (const auto& e : entries)
            out.push_back(e.code + (e.owed ? "*" : ""));
        return out;
    }
};

TEST_F(DestinationList, RestoredListReplacesTheMemoAndEachCodesFailuresGoToItsFirstSearchOnly)
{
    type("osl\nadl");
    list.Restore({});
    EXPECT_TRUE(list.Read());
    EXPECT_EQ(lines(), (std::vector<AnsiString>{"osl", "adl"})) << "nothing saved leaves the typed lines";

    list.Restore({{"bcn", false, {}}, {"mad", true, FailedTwice()}, {"mad", false, {}}});
    EXPECT_EQ(lines(), (std::vector<AnsiString>{"bcn", "mad", "mad"}));
    list.Follow();
    EXPECT_EQ(list.LineSearch(1, 0)->state, FailedTwice());
    EXPECT_EQ(list.LineSearch(2, 0)->state.attempts, 0) << "the failures were used up by the first search";
    EXPECT_FALSE(list.LineSearch(3, 0)) << "the empty code past the list is not followed";
}

TEST_F(DestinationList, RecoveredRowsKeepTypedCodesInPlaceJoinTheMemoBeforeThePressAndAreOwedAfter)
{
    type("osl\nadl");
    EXPECT_FALSE(list.Read());
    EXPECT_EQ(list.Recover({{"adl", true, FailedTwice()}, {"bcn", false, {}}}, 0), 1);
    EXPECT_TRUE(list.Read());
    EXPECT_EQ(lines(), (std::vector<AnsiString>{"osl", "adl", "bcn"}));
    list.Follow();
    EXPECT_EQ(list.LineSearch(1, 0)->state, FailedTwice());

    EXPECT_EQ(list.Recover({{"osl", false, {}}, {"mad", true, FailedTwice()}}, 40), 1);
    EXPECT_EQ(lines(), (std::vector<AnsiString>{"osl", "adl", "bcn"})) << "the list is searched already";
    ASSERT_EQ(list.Owed().size(), 1u);
    EXPECT_EQ(list.Owed()[0].code, "mad");
    EXPECT_EQ(list.Owed()[0].state, FailedTwice());
    EXPECT_EQ(list.Owed()[0].countedAt, 40);
}

TEST_F(DestinationList, EntriesAreTheLinesAfterTheCurrentOneTheSearchUnderWayAndTheOwedAgedToNow)
{
    type("osl\nadl\nbcn");
    list.Follow();
    search(1, 0);
    EXPECT_EQ(codes(list.Entries(1, 0)), (std::vector<AnsiString>{"adl", "bcn"}));
    list.Current()->done = true;
    EXPECT_EQ(codes(list.Entries(1, 0)), (std::vector<AnsiString>{"bcn"})) << "a finished line is not kept";

    // An owed destination searched again stays owed until its search is done.
    search(2, 0);
    list.Settle(0, 1000, "2026-12-09T00:00:00Z");
    const auto owed = list.Entries(3, 30);
    EXPECT_EQ(codes(owed), (std::vector<AnsiString>{"bcn*"}));
    EXPECT_EQ(owed[0].retry.retryInTicks, store::kFirstRetryTicks - 30);
    list.Begin(list.TakeDueOwed(3, store::kFirstRetryTicks));
    EXPECT_TRUE(list.Owed().empty());
    EXPECT_EQ(codes(list.Entries(3, store::kFirstRetryTicks)), (std::vector<AnsiString>{"bcn*"}));
    list.Current()->done = true;
    EXPECT_TRUE(list.Entries(3, store::kFirstRetryTicks).empty());
}

TEST_F(DestinationList, EndedSearchIsFinishedOwedOrGivenUpByHowItsPagesWent)
{
    type("osl");
    list.Follow();
    EXPECT_EQ(list.Settle(0, 1000, "t").outcome, TSettledSearch::Outcome::Finished) << "no search under way";

    search(0, 0);
    list.Current()->done = true;
    EXPECT_EQ(list.Settle(5, 1000, "t").outcome, TSettledSearch::Outcome::Finished);

    search(0, 0);
    TSettledSearch cut = list.Settle(5, 1000, "t1");
    EXPECT_EQ(cut.outcome, TSettledSearch::Outcome::Owed);
    EXPECT_EQ(cut.why, "cut short by the next search");

    search(0, 0);
    list.Current()->failure = HttpStatus(503, 120);
    list.Current()->done = true;  // a failed page counts though a later pass ended the paging
    TSettledSearch busy = list.Settle(7, 1000, "t2");
    EXPECT_EQ(busy.outcome, TSettledSearch::Outcome::Owed);
    EXPECT_EQ(busy.retryAfter, 120);
    EXPECT_EQ(busy.state.lastFailedAt, "t2");
    ASSERT_EQ(list.Owed().size(), 2u);
    EXPECT_EQ(list.Owed()[1].countedAt, 7);
    EXPECT_EQ(list.Owed()[1].state.retryInTicks, 120);

    search(0, 0);
    list.Current()->failure = HttpStatus(404);
    TSettledSearch gone = list.Settle(9, 1000, "t3");
    EXPECT_EQ(gone.outcome, TSettledSearch::Outcome::GivenUp);
    EXPECT_EQ(gone.state.attempts, 1);
    EXPECT_EQ(list.Owed().size(), 2u) << "a destination given up is not owed";
    EXPECT_EQ(list.Current(), nullptr);
}

TEST_F(DestinationList, SlotPastTheListGoesToTheOldestOwedWhoseWaitIsOver)
{
    type("osl\nadl");
    EXPECT_FALSE(list.TakeDueOwed(5, 1000)) << "the list is not followed";
    list.Follow();
    search(0, 0);
    list.Settle(0, 1000, "t");  // osl owed, due at kFirstRetryTicks
    search(1, 10);
    list.Settle(10, 1000, "t");  // adl owed, due 10 ticks later

    EXPECT_FALSE(list.TakeDueOwed(1, 1000)) << "line 1 is still on the list";
    EXPECT_FALSE(list.TakeDueOwed(2, store::kFirstRetryTicks - 1)) << "no wait is over";
    const auto first = list.TakeDueOwed(2, store::kFirstRetryTicks + 20);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->code, "osl");
    EXPECT_EQ(first->line, -1);
    EXPECT_EQ(first->state.attempts, 1);
    ASSERT_EQ(list.Owed().size(), 1u);
    EXPECT_EQ(list.Owed()[0].code, "adl");
}

}  // namespace
