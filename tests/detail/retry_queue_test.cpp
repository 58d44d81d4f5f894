// When a failed link or destination is tried again and when it is given up,
// and the order in which waiting links come due.

#include "detail/RetryQueue.h"
#include "store/Retry.h"

#include <gtest/gtest.h>

namespace {

using store::RetryDecision;
using store::RetryState;

RetryDecision Fail(RetryState& state, long long ticksSinceLast, bool transient = true, long long retryAfter = 0)
{
    return store::CountFailure(state, ticksSinceLast, "HTTP 503", "2026-12-07T10:00:00Z", transient, retryAfter);
}

TEST(RetrySchedule, WaitsDoubleFromOneStepUpToTheCapAndCountTheFailingTime)
{
    RetryState state;
    std::vector<long long> waits;
    for (int i = 0; i < 9; ++i) {
        ASSERT_EQ(Fail(state, state.retryInTicks), RetryDecision::TryLater) << i;
        waits.push_back(state.retryInTicks);
    }
    EXPECT_EQ(waits, (std::vector<long long>{61, 122, 244, 488, 976, 1952, 3600, 3600, 3600}));
    EXPECT_EQ(state.attempts, 9);
    // The first failure starts the count; each later one adds the ticks since.
    EXPECT_EQ(state.failingTicks, 61 + 122 + 244 + 488 + 976 + 1952 + 3600 + 3600);
    EXPECT_EQ(state.lastFailure, "HTTP 503");
}

TEST(RetrySchedule, TransientFailureIsGivenUpOnlyWhenBothBoundsAreReached)
{
    RetryState longButFew;
    longButFew.attempts = store::kGiveUpAttempts - 2;
    longButFew.failingTicks = store::kGiveUpTicks * 2;
    EXPECT_EQ(Fail(longButFew, 0), RetryDecision::TryLater) << "too few attempts, however long";

    RetryState manyButShort;
    manyButShort.attempts = 50;
    manyButShort.failingTicks = store::kGiveUpTicks - 100;
    EXPECT_EQ(Fail(manyButShort, 99), RetryDecision::TryLater) << "not yet eight hours' worth of ticks";
    EXPECT_EQ(Fail(manyButShort, 1), RetryDecision::GiveUp);
    EXPECT_EQ(manyButShort.attempts, 52);
}

TEST(RetrySchedule, PermanentFailureIsGivenUpAtOnceAndRetryAfterIsTheLeastWait)
{
    RetryState gone;
    EXPECT_EQ(Fail(gone, 0, false), RetryDecision::GiveUp);
    EXPECT_EQ(gone.attempts, 1);

    RetryState busy;
    EXPECT_EQ(Fail(busy, 0, true, 500), RetryDecision::TryLater);
    EXPECT_EQ(busy.retryInTicks, 500);
    EXPECT_EQ(Fail(busy, 500, true, 3), RetryDecision::TryLater);
    EXPECT_EQ(busy.retryInTicks, 122) << "a short Retry-After never shortens the spacing";
}

TEST(RetrySchedule, RetryAfterLongerThanTheLongestWaitWaitsTheLongestWaitAndStillGivesUp)
{
    RetryState parked;
    ASSERT_TRUE(store::RetryAfterCapped(20'000'000'000LL));
    EXPECT_EQ(Fail(parked, 0, true, 20'000'000'000LL), RetryDecision::TryLater);
    EXPECT_EQ(parked.retryInTicks, store::kMaxRetryTicks);
    // Each wait is served and counted, so the bounds are reached as for any
    // other failure.
    while (Fail(parked, parked.retryInTicks, true, 20'000'000'000LL) == RetryDecision::TryLater)
        ASSERT_EQ(parked.retryInTicks, store::kMaxRetryTicks);
    EXPECT_GE(parked.attempts, store::kGiveUpAttempts);
    EXPECT_LE(parked.failingTicks, store::kGiveUpTicks + store::kMaxRetryTicks);

    EXPECT_EQ(store::WithinMaxWait(20'000'000'000LL), store::kMaxRetryTicks);
    EXPECT_EQ(store::WithinMaxWait(-5), 0);
    EXPECT_EQ(store::WithinMaxWait(61), 61);
}

class RetryQueueOrder : public ::testing::Test {
protected:
    TRetryQueue queue;
    static Hotel_Url Link(const char* id) { return {std::string("http://h/hotsdetail.ctl?hotel=") + id, "osl"}; }
    static RetryState Waiting(long long ticks)
    {
        RetryState s;
        s.attempts = 1;
        s.retryInTicks = ticks;
        return s;
    }
};

TEST_F(RetryQueueOrder, NothingIsTakenBeforeItsWaitIsOverThenTheLongestDueFirst)
{
    queue.Add(Link("a"), Waiting(100), 0);   // due at 100
    queue.Add(Link("b"), Waiting(10), 50);   // due at 60
    queue.Add(Link("c"), Waiting(40), 20);   // due at 60, added after b
    EXPECT_FALSE(queue.TakeDue(59));
    EXPECT_EQ(queue.TakeDue(200)->link, Link("b"));
    EXPECT_EQ(queue.TakeDue(200)->link, Link("c"));
    EXPECT_EQ(queue.TakeDue(200)->link, Link("a"));
    EXPECT_TRUE(queue.Links().empty());
}

TEST_F(RetryQueueOrder, StatesForTheSaveCarryTheWaitLeftAndTheTicksSinceTheCount)
{
    RetryState s = Waiting(100);
    s.failingTicks = 1000;
    queue.Add(Link("a"), s, 10);
    const auto states = queue.States(40);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states.at(Link("a").Url).retryInTicks, 70);
    EXPECT_EQ(states.at(Link("a").Url).failingTicks, 1030);
    EXPECT_EQ(queue.States(500).at(Link("a").Url).retryInTicks, 0);
    EXPECT_EQ(queue.Links(), std::vector<Hotel_Url>{Link("a")});
}

}  // namespace
