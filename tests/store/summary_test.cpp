// The per-desk, per-destination summary of the crawl: counts read from the
// four tables on each engine.

#include "store/GoingWriter.h"
#include "store/Staymarker.h"
#include "store/Summary.h"

#include "tests/store/DriverFixture.h"
#include "tests/support/ThisDesk.h"

namespace {

using store::DestinationSummary;

store::StaymarkerRow Kept(const AnsiString& url, const AnsiString& code, const AnsiString& at)
{
    store::StaymarkerRow row;
    row.Url = url;
    row.AirPort = code;
    row.ExtractedAt = at;
    return row;
}

class DestinationSummaryRead : public EngineTest {
protected:
    // This copy's desk, which the rows written through the store carry.
    static AnsiString D() { return ToAnsi(ThisDesk().Name()); }
    static void Keep(const AnsiString& url, const AnsiString& code, const AnsiString& at)
    {
        ASSERT_NO_FATAL_FAILURE(KeepHotel(Kept(url, code, at)));
    }
};

TEST_P(DestinationSummaryRead, EmptyTablesGiveNoEntries)
{
    EXPECT_TRUE(store::ReadDestinationSummary().empty());
}

TEST_P(DestinationSummaryRead, CountsBothTablesPerCodeInByteOrder)
{
    Keep("u/osl-1", "osl", "2024-05-01T10:00:00Z");
    Keep("u/osl-2", "osl", "2024-05-03T09:00:00Z");
    Keep("u/osl-3", "osl", "2024-05-02T23:59:59Z");
    Keep("u/adl-1", "adl", "2024-04-30T00:00:00Z");
    Keep("u/Adl-1", "Adl", "2024-04-29T00:00:00Z");
    Keep("u/öst-1", "öst", "2024-06-01T00:00:00Z");
    // Waiting only, and waiting next to kept ones.
    SeedGoing({{"g/zrh-1", "zrh"}, {"g/zrh-2", "zrh"}, {"g/osl-4", "osl"}, {"g/bcn-1", "bcn"}});

    const std::vector<DestinationSummary> expected{
        {D(), "Adl", 1, 0, "2024-04-29T00:00:00Z"}, {D(), "adl", 1, 0, "2024-04-30T00:00:00Z"}, {D(), "bcn", 0, 1, ""},
        {D(), "osl", 3, 1, "2024-05-03T09:00:00Z"}, {D(), "zrh", 0, 2, ""},
        {D(), "öst", 1, 0, "2024-06-01T00:00:00Z"},  // UTF-8 bytes sort after ASCII on every engine
    };
    EXPECT_EQ(store::ReadDestinationSummary(), expected);
}

TEST_P(DestinationSummaryRead, NullAndEmptyCodesAreOneEntryWithoutCode)
{
    Keep("u/blank", "", "2024-05-01T00:00:00Z");
    Exec("INSERT INTO \"Staymarker\" (\"Url\", \"AirPort\", \"ExtractedAt\") VALUES (?, NULL, ?)",
         {QStringLiteral("u/null"), QStringLiteral("2024-05-02T00:00:00Z")});
    Exec("INSERT INTO \"Going\" (\"Url\", \"AirPort\", \"Desk\") VALUES (?, NULL, ?)",
         {QStringLiteral("g/null"), ThisDesk().Name()});
    SeedGoing({{"g/blank", ""}, {"g/nil", "nil"}});

    // The row written without a desk (as before desks) is an entry without one.
    const std::vector<DestinationSummary> expected{
        {"", "", 1, 0, "2024-05-02T00:00:00Z"}, {D(), "", 1, 2, "2024-05-01T00:00:00Z"}, {D(), "nil", 0, 1, ""}};
    EXPECT_EQ(store::ReadDestinationSummary(), expected);
}

TEST_P(DestinationSummaryRead, MissingTableIsADatabaseErrorNamingIt)
{
    Keep("u/osl-1", "osl", "2024-05-01T10:00:00Z");
    DropGoing();
    try {
        store::ReadDestinationSummary();
        FAIL() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Going"), std::string::npos) << e.what();
    }
}

TEST_P(DestinationSummaryRead, StateAndGivenUpComeFromDestinationsAndFailures)
{
    Keep("u/osl-1", "osl", "2024-05-01T10:00:00Z");
    store::GoingWriter writer{ThisDesk()};
    // osl typed again after it failed; adl not searched yet; bcn owed only.
    writer.Destinations({{"adl", false, {}}, {"osl", false, {}}, {"osl", true, {}}, {"bcn", true, {}}});
    writer.Record({store::kFailureDestination, "zrh", "zrh", "HTTP 500", 5, "2024-05-01T00:00:00Z"});
    writer.Record({store::kFailureLink, "u/osl-9", "osl", "HTTP 404", 1, "2024-05-01T00:00:00Z"});
    // A page without sections is not something given up.
    writer.Record({store::kFailureNoSections, "u/osl-8", "osl", "no sections", 1, "2024-05-01T00:00:00Z"});
    ASSERT_TRUE(writer.Flush());

    const std::vector<DestinationSummary> expected{
        {D(), "adl", 0, 0, "", "waiting", 0},
        {D(), "bcn", 0, 0, "", "owed", 0},
        {D(), "osl", 1, 0, "2024-05-01T10:00:00Z", "owed", 1},
        {D(), "zrh", 0, 0, "", "searched", 1},
    };
    EXPECT_EQ(store::ReadDestinationSummary(), expected);
}

TEST_P(DestinationSummaryRead, DatabaseNotYetUpgradedIsSummarisedWithoutTheNewTables)
{
    Keep("u/osl-1", "osl", "2024-05-01T10:00:00Z");
    Exec("DROP TABLE \"Failures\"");
    Exec("DROP TABLE \"Destinations\"");
    EXPECT_EQ(store::ReadDestinationSummary(),
              (std::vector<DestinationSummary>{{D(), "osl", 1, 0, "2024-05-01T10:00:00Z", "searched", 0}}));
}

TEST_P(DestinationSummaryRead, EachDeskHasItsOwnEntriesAndAHotelCountsForTheDeskThatKeptItLast)
{
    UseDesk("desk-a");
    Keep("u/osl-1", "osl", "2024-05-01T10:00:00Z");
    Keep("u/osl-2", "osl", "2024-05-01T11:00:00Z");
    SeedGoing({{"g/osl-3", "osl"}});
    store::GoingWriter(store::DeskAccess("desk-a")).Destinations({{"osl", true, {}}});
    UseDesk("desk-b");
    Keep("u/osl-2", "osl", "2024-05-02T09:00:00Z");  // kept again by desk-b: one row, desk-b's now
    SeedGoing({{"g/osl-4", "osl"}, {"g/osl-5", "osl"}});

    const std::vector<DestinationSummary> expected{
        {"desk-a", "osl", 1, 1, "2024-05-01T10:00:00Z", "owed", 0},
        {"desk-b", "osl", 1, 2, "2024-05-02T09:00:00Z", "searched", 0},
    };
    EXPECT_EQ(store::ReadDestinationSummary(), expected);
}

HC_INSTANTIATE_FOR_ENGINES(DestinationSummaryRead);
}  // namespace
