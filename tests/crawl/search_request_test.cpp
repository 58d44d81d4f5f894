// The search address and the pace at which Timer1 moves from one destination
// to the next.

#include "crawl/SearchRequest.h"
#include "support/FormAccess.h"
#include "support/TestDatabase.h"
#include "tests/support/ThisDesk.h"

#include <gtest/gtest.h>

namespace {

TEST(SearchAddress, IsTheFixedQueryWithTheCodeInsertedUnchanged)
{
    EXPECT_EQ(BuildSearchUrl("http://hotels.example", "osl"),
              "http://hotels.example/cannonball.ctl?Service=LODGEVISTAS"
              "&SearchPath=hots&old_cb=N&SEQ=4082317765219034458126&mode=1"
              "&airport=osl&state=&ckin_dt_mon=Sep&ckin_dt_dy=1"
              "&ckout_dt_mon=Sep&ckout_dt_dy=3&pax_cnt=1&mode=2");
    EXPECT_NE(BuildSearchUrl("http://h", "new york").find("&airport=new york&state=&"), AnsiString::npos);
    EXPECT_NE(BuildSearchUrl("http://h", "a&b=c").find("&airport=a&b=c&state=&"), AnsiString::npos);
    EXPECT_NE(BuildSearchUrl("http://h", "").find("&airport=&state=&ckin"), AnsiString::npos);
}

class SearchPace : public ::testing::Test {
protected:
    TestDatabase db;
    TForm1 form{ThisDesk()};
    TForm1TestAccess f{form};

    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            form.Timer1Timer(form.Timer1);
    }
    AnsiString searchedCode() const { return const_cast<TForm1TestAccess&>(f).DestCode(); }
};

TEST_F(SearchPace, ButtonSearchesLineZeroAndTheSixtyFirstTickSearchesLineOne)
{
    form.Button2Click(form.Button2);
    EXPECT_EQ(f.SearchStarted(), 1);
    EXPECT_EQ(f.DestCode(), "osl");
    EXPECT_EQ(f.SearchUrl(), BuildSearchUrl("http://hotels.example", "osl"));

    tick(60);
    EXPECT_EQ(f.SearchTicks(), 60);
    EXPECT_EQ(f.DestCode(), "osl") << "nothing happens on the 60th tick";
    tick();
    EXPECT_EQ(f.SearchTicks(), 0);
    EXPECT_EQ(f.DestIndex(), 1);
    EXPECT_EQ(f.DestCode(), "adl");
    tick();
    EXPECT_EQ(f.SearchTicks(), 1);
}

TEST_F(SearchPace, WithoutAPressTheFirstStepSearchesLineOne)
{
    EXPECT_EQ(f.SearchStarted(), 0);
    tick(61);
    EXPECT_EQ(f.SearchStarted(), 1);
    EXPECT_EQ(f.DestIndex(), 1);
    EXPECT_EQ(f.DestCode(), "adl");
}

TEST_F(SearchPace, PastTheLastLineTheCodeIsEmptyAndTheStepsGoOn)
{
    // Without a press nothing is owed (the site is unreachable here, so every
    // search of a pressed list would be owed and take these slots).
    tick(61 * 2);
    EXPECT_EQ(f.DestIndex(), 2);
    EXPECT_EQ(f.DestCode(), "");
    EXPECT_NE(f.SearchUrl().find("&airport=&state=&"), AnsiString::npos);
    tick(61);
    EXPECT_EQ(f.DestIndex(), 3);
}

TEST_F(SearchPace, PressDoesNotResetTheTickCount)
{
    tick(30);
    form.Button2Click(form.Button2);
    EXPECT_EQ(f.SearchTicks(), 30);
    tick(31);
    EXPECT_EQ(f.DestCode(), "adl") << "the first destination only gets what is left of the slot";
}

TEST_F(SearchPace, SecondPressStartsAgainFromLineZero)
{
    form.Button2Click(form.Button2);
    tick(61);
    ASSERT_EQ(f.DestIndex(), 1);
    form.Button2Click(form.Button2);
    EXPECT_EQ(f.DestIndex(), 0);
    EXPECT_EQ(f.DestCode(), "osl");
}

TEST_F(SearchPace, SingleLineIsSearchedAndAnEmptyMemoIsNot)
{
    form.Memo2->setPlainText("zrh\n");
    form.Button2Click(form.Button2);
    EXPECT_EQ(f.DestCode(), "zrh");

    TestDatabase otherDb;
    TForm1 empty{ThisDesk()};
    TForm1TestAccess e{empty};
    empty.Memo2->setPlainText("");
    e.DestIndex() = 5;
    empty.Button2Click(empty.Button2);
    EXPECT_EQ(e.SearchStarted(), 0);
    EXPECT_EQ(e.DestIndex(), 0);
}

TEST_F(SearchPace, CodesAreTakenAsTypedWhenTheirTurnComes)
{
    form.Memo2->setPlainText("osl\n a&b ");
    form.Button2Click(form.Button2);
    form.Memo2->setPlainText("osl\nbkk");  // the operator edits a line not yet searched
    tick(61);
    EXPECT_EQ(f.DestCode(), "bkk");
}

}  // namespace
