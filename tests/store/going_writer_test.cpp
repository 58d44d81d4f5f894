// The write-through's writes beyond "Going" itself, and what it does with a
// write that keeps failing, on every engine: a write refused on its own is
// set aside after GoingWriter::kSetAsideAfter tries (and only it), while a
// failure of the whole pass (no connection, a lock, a commit refused) counts
// against nothing however often it happens.

#include "platform/testing/DbTestHooks.h"
#include "store/Destinations.h"
#include "store/Failures.h"
#include "store/Going.h"
#include "store/GoingWriter.h"
#include "store/Staymarker.h"

#include "tests/store/DriverFixture.h"
#include "tests/store/LongAddress.h"
#include "tests/support/ThisDesk.h"

namespace {

using Links = std::vector<Hotel_Url>;
using store::GoingWriter;

Hotel_Url Link(const char* id, const char* code = "osl")
{
    return {AnsiString("http://hotels.example/hotsdetail.ctl?hotel=") + id, code};
}

store::RetryState Retry(int attempts, const char* why)
{
    store::RetryState s;
    s.attempts = attempts;
    s.failingTicks = 5'000'000'000LL;  // beyond 32 bits
    s.retryInTicks = 3600;
    s.lastFailure = why;
    s.lastFailedAt = "2024-05-01T12:00:00Z";
    return s;
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class WriteThrough : public EngineTest {
protected:
    // Every row of `table` whose `column` is `value` is refused from now on.
    void Refuse(const char* table, const char* column, const char* value)
    {
        if (IsPostgres())
            Exec(QStringLiteral("ALTER TABLE \"%1\" ADD CONSTRAINT refused CHECK (\"%2\" <> '%3')")
                     .arg(QLatin1String(table), QLatin1String(column), QLatin1String(value)));
        else
            Exec(QStringLiteral("CREATE TRIGGER refused BEFORE INSERT ON \"%1\" WHEN NEW.\"%2\" = '%3' "
                                "BEGIN SELECT RAISE(ABORT, 'refused row'); END")
                     .arg(QLatin1String(table), QLatin1String(column), QLatin1String(value)));
    }
    void Accept(const char* table)
    {
        if (IsPostgres())
            Exec(QStringLiteral("ALTER TABLE \"%1\" DROP CONSTRAINT refused").arg(QLatin1String(table)));
        else
            Exec("DROP TRIGGER refused");
    }

    static std::vector<store::StaymarkerRow> Hotels() { return store::ReadAllHotels(); }

    static store::GoingRetries LoadRetries(Links* loaded = nullptr)
    {
        Links links;
        store::GoingRetries retries;
        store::LoadGoing(ThisDesk(), links, &retries);
        if (loaded)
            *loaded = links;
        return retries;
    }

    GoingWriter writer{ThisDesk()};
};

// ---------------------------------------------------------------- set aside

class WriteThroughSetAside : public WriteThrough {};

TEST_P(WriteThroughSetAside, RefusedLinkOfABatchIsSetAsideAloneAfterTheLimit)
{
    const Hotel_Url bad{"bad", "osl"};
    Refuse("Going", "Url", "bad");
    ::testing::internal::CaptureStderr();
    writer.Added({Link("1"), bad, Link("2")});
    EXPECT_EQ(GoingRows(), (Links{Link("1"), Link("2")})) << "the links the engine takes are in at once";
    EXPECT_EQ(writer.OwedLinks(), 1u);
    for (int tries = 1; tries < GoingWriter::kSetAsideAfter; ++tries) {
        EXPECT_TRUE(writer.RefusedLinks().empty()) << "set aside after " << tries << " tries";
        EXPECT_EQ(writer.Flush(), tries + 1 == GoingWriter::kSetAsideAfter) << "nothing owed once set aside";
    }
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(writer.RefusedLinks(), Links{bad});
    EXPECT_EQ(Count(reported, "could not write"), 1u) << reported;
    EXPECT_EQ(Count(reported, "set aside a write"), 1u) << reported;
    EXPECT_NE(reported.find("{\"links\":[{\"AirPort\":\"osl\",\"Url\":\"bad\"}],\"write\":\"added\"}"),
              std::string::npos)
        << "the report carries the row: " << reported;
    EXPECT_NE(reported.find("but the 1 set aside above"), std::string::npos) << reported;
    EXPECT_EQ(GoingRows(), (Links{Link("1"), Link("2")}));
}

TEST_P(WriteThroughSetAside, HotelThatCannotBeStoredLeavesItsLinkInGoingAndUnsettled)
{
    const Hotel_Url link = Link("1");
    writer.Added({link});
    Exec("ALTER TABLE \"Staymarker\" RENAME TO \"Staymarker_away\"");
    ::testing::internal::CaptureStderr();
    writer.Handled(link, HotelRow(link.Url, "Hotel Ærø, kept in the report"));
    EXPECT_EQ(writer.UnsettledLinks(), Links{link}) << "owed";
    for (int tries = 1; tries < GoingWriter::kSetAsideAfter; ++tries)
        writer.Flush();
    const std::string reported = ::testing::internal::GetCapturedStderr();
    Exec("ALTER TABLE \"Staymarker_away\" RENAME TO \"Staymarker\"");

    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(writer.UnsettledLinks(), Links{link}) << "set aside, and still to do";
    EXPECT_EQ(GoingRows(), Links{link}) << "the deletion went with the hotel row";
    EXPECT_NE(reported.find("\"HeaderBar\":\"Hotel Ærø, kept in the report\""), std::string::npos) << reported;

    // Handled again later, it settles.
    writer.Handled(link, HotelRow(link.Url, "stored"));
    EXPECT_TRUE(writer.UnsettledLinks().empty());
    EXPECT_TRUE(GoingRows().empty());
    ASSERT_EQ(Hotels().size(), 1u);
}

TEST_P(WriteThroughSetAside, LaterWritesAboutAFailingAddressWaitForIt)
{
    static_assert(GoingWriter::kSetAsideAfter > 2, "the Added below must not be set aside");
    const Hotel_Url link = Link("1");
    Refuse("Going", "Url", link.Url.c_str());
    ::testing::internal::CaptureStderr();
    writer.Added({link});
    writer.Handled(link, HotelRow(link.Url, "handled"));
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Hotels().empty()) << "the Handled ran before its Added";

    Accept("Going");
    writer.Added({Link("2")});
    EXPECT_TRUE(writer.Flush());
    // Added first, then Handled: the link is not left in "Going" as if new.
    EXPECT_EQ(GoingRows(), Links{Link("2")});
    EXPECT_EQ(Hotels().size(), 1u);
}

HC_INSTANTIATE_FOR_ENGINES(WriteThroughSetAside);

// ---------------------------------------------------------------- failures of the whole pass

class WriteThroughWholePass : public WriteThrough {
protected:
    void TearDown() override
    {
        platform::testing::SetDatabaseOpenedHook({});
        WriteThrough::TearDown();
    }

    // Adds `link`, then tries it more often than a write refused alone may
    // fail: it stays owed, reported once and never set aside.
    void AddAndKeepFailing(const Hotel_Url& link)
    {
        ::testing::internal::CaptureStderr();
        writer.Added({link});
        for (int tries = 0; tries < GoingWriter::kSetAsideAfter; ++tries)
            EXPECT_FALSE(writer.Flush());
        const std::string reported = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(reported.find("set aside"), std::string::npos) << reported;
        EXPECT_EQ(Count(reported, "could not write"), 1u) << reported;
        EXPECT_EQ(writer.OwedLinks(), 1u);
        EXPECT_TRUE(writer.RefusedLinks().empty());
    }
};

TEST_P(WriteThroughWholePass, NoConnectionCountsAgainstNoWrite)
{
    const QString nowhere = IsPostgres() ? QStringLiteral("postgresql://hc_test:pw@127.0.0.1:1/hc_test")
                                         : QStringLiteral("sqlite:/nonexistent-hc-folder/none.sqlite");
    UseDatabase(nowhere);
    AddAndKeepFailing(Link("1"));
    UseDatabase(dbSetting);
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows(), Links{Link("1")});
}

TEST_P(WriteThroughWholePass, LockHeldElsewhereCountsAgainstNoWrite)
{
    const QString holderName = QStringLiteral("write_through_holder");
    QSqlDatabase holder = OpenAliasDatabase("Hotels_Db", holderName);
    QSqlQuery q(holder);
    ASSERT_TRUE(q.exec(IsPostgres() ? "BEGIN" : "BEGIN EXCLUSIVE")) << q.lastError().text().toStdString();
    if (IsPostgres()) {
        ASSERT_TRUE(q.exec("LOCK TABLE \"Going\" IN ACCESS EXCLUSIVE MODE")) << q.lastError().text().toStdString();
    }
    AddAndKeepFailing(Link("1"));
    q.exec("ROLLBACK");
    q = QSqlQuery();
    holder.close();
    holder = QSqlDatabase();
    QSqlDatabase::removeDatabase(holderName);
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows(), Links{Link("1")});
}

TEST_P(WriteThroughWholePass, CommitRefusedCountsAgainstNoWrite)
{
    // A constraint checked only at commit.
    const Hotel_Url orphan{"orphan", "osl"};
    if (IsPostgres()) {
        Exec("DROP TABLE IF EXISTS \"Parent\" CASCADE");
        Exec("CREATE TABLE \"Parent\" (\"Name\" TEXT PRIMARY KEY)");
        Exec("ALTER TABLE \"Going\" ADD COLUMN \"P\" TEXT REFERENCES \"Parent\" (\"Name\") "
             "DEFERRABLE INITIALLY DEFERRED");
        Exec("CREATE OR REPLACE FUNCTION orphan() RETURNS trigger AS $$ BEGIN NEW.\"P\" := 'none'; RETURN NEW; END $$ "
             "LANGUAGE plpgsql");
        Exec("CREATE TRIGGER orphan BEFORE INSERT ON \"Going\" FOR EACH ROW WHEN (NEW.\"Url\" = 'orphan') "
             "EXECUTE FUNCTION orphan()");
    } else {
        platform::testing::SetDatabaseOpenedHook([](QSqlDatabase& db) { QSqlQuery(db).exec("PRAGMA foreign_keys = ON"); });
        Exec("CREATE TABLE \"Parent\" (\"Name\" TEXT PRIMARY KEY)");
        Exec("ALTER TABLE \"Going\" ADD COLUMN \"P\" TEXT REFERENCES \"Parent\" (\"Name\") "
             "DEFERRABLE INITIALLY DEFERRED");
        Exec("CREATE TRIGGER orphan AFTER INSERT ON \"Going\" WHEN NEW.\"Url\" = 'orphan' "
             "BEGIN UPDATE \"Going\" SET \"P\" = 'none' WHERE \"Id\" = NEW.\"Id\"; END");
    }
    AddAndKeepFailing(orphan);
    Exec("INSERT INTO \"Parent\" (\"Name\") VALUES ('none')");
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows(), Links{orphan});
    if (IsPostgres()) {
        Exec("DROP TABLE \"Going\"");
        Exec("DROP TABLE \"Parent\"");
        Exec("DROP FUNCTION orphan()");
    }
}

HC_INSTANTIATE_FOR_ENGINES(WriteThroughWholePass);

// ---------------------------------------------------------------- retry state, destinations, failures

class WriteThroughRows : public WriteThrough {};

TEST_P(WriteThroughRows, FailedSetsTheRetryStateTheResumeLoadReadsBack)
{
    writer.Added({Link("1"), Link("2"), Link("1")});
    const store::RetryState state = Retry(2, "HTTP 503");
    writer.Failed(Link("1"), state);
    EXPECT_TRUE(writer.Flush());
    Links loaded;
    EXPECT_EQ(LoadRetries(&loaded), (store::GoingRetries{{Link("1").Url, state}}));
    EXPECT_EQ(loaded, (Links{Link("1"), Link("2"), Link("1")}));

    // The save at close writes it back with the row.
    const store::GoingRetries retries{{Link("2").Url, Retry(1, "time-out")}};
    store::SaveGoing(ThisDesk(), {Link("2"), Link("3")}, store::GoingSave::Replace, retries);
    EXPECT_EQ(LoadRetries(&loaded), retries);
    EXPECT_EQ(loaded, (Links{Link("2"), Link("3")}));
}

TEST_P(WriteThroughRows, StoredWaitsBeyondTheLongestWaitAreReadWithinIt)
{
    // Rows of a version that kept any Retry-After: a link and a destination
    // parked for twenty billion ticks.
    writer.Added({Link("1")});
    store::RetryState parked = Retry(1, "HTTP 429");
    parked.retryInTicks = 20'000'000'000LL;
    writer.Failed(Link("1"), parked);
    writer.Destinations({{"osl", true, parked}});
    ASSERT_TRUE(writer.Flush());

    EXPECT_EQ(LoadRetries().at(Link("1").Url).retryInTicks, store::kMaxRetryTicks);
    const auto destinations = store::ReadDestinations(ThisDesk());
    ASSERT_EQ(destinations.size(), 1u);
    EXPECT_EQ(destinations[0].retry.retryInTicks, store::kMaxRetryTicks);
}

TEST_P(WriteThroughRows, DestinationListsRoundTripAndOnlyTheNewestOwedOneIsWritten)
{
    const std::vector<store::DestinationEntry> first{{"osl", false, {}}, {"adl", true, Retry(1, "time-out")}};
    writer.Destinations(first);
    EXPECT_EQ(store::ReadDestinations(ThisDesk()), first);

    Refuse("Destinations", "Code", "bad");
    UseDatabase(QStringLiteral("sqlite:/nonexistent-hc-folder/none.sqlite"));
    ::testing::internal::CaptureStderr();
    writer.Destinations({{"bad", false, {}}});
    const std::vector<store::DestinationEntry> newest{{"ösl", true, Retry(3, "HTTP 500")}};
    writer.Destinations(newest);
    UseDatabase(dbSetting);
    EXPECT_TRUE(writer.Flush()) << "the refused list was never tried";
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(store::ReadDestinations(ThisDesk()), newest);
    EXPECT_EQ(Count(reported, "could not write"), 1u) << "only the missing database: " << reported;
}

TEST_P(WriteThroughRows, FailureRowsAreRecordedInOrderWithTheirHandledLink)
{
    const store::FailureRecord given{store::kFailureDestination, "zrh", "zrh", "HTTP 500", 5, "2024-05-01T00:00:00Z"};
    const store::FailureRecord link{store::kFailureLink, Link("1").Url, "osl", "HTTP 404", 1, "2024-05-02T00:00:00Z"};
    writer.Added({Link("1")});
    writer.Record(given);
    writer.Handled(Link("1"), std::nullopt, link);
    // Each row names the desk that gave up.
    store::FailureRecord givenHere = given, linkHere = link;
    givenHere.desk = linkHere.desk = ToAnsi(ThisDesk().Name());
    EXPECT_EQ(store::ReadFailures(), (std::vector<store::FailureRecord>{givenHere, linkHere}));
    EXPECT_TRUE(GoingRows().empty());
}

TEST_P(WriteThroughRows, TablesOfAnOlderDatabaseReadAsEmpty)
{
    Exec("DROP TABLE \"Failures\"");
    Exec("DROP TABLE \"Destinations\"");
    EXPECT_TRUE(store::ReadFailures().empty());
    EXPECT_TRUE(store::ReadDestinations(ThisDesk()).empty());
}

TEST_P(WriteThroughRows, AddressOfAnyLengthIsAddedUpdatedHandledAndStored)
{
    const Hotel_Url link{LongAddress(64 * 1024), "osl"};
    writer.Added({link, Link("2")});
    writer.Failed(link, Retry(1, "HTTP 503"));
    EXPECT_EQ(LoadRetries(), (store::GoingRetries{{link.Url, Retry(1, "HTTP 503")}}));
    writer.Handled(link, HotelRow(link.Url, "first"));
    writer.Handled(link, HotelRow(link.Url, "again"));
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(GoingRows(), Links{Link("2")});
    const auto hotels = Hotels();
    ASSERT_EQ(hotels.size(), 1u);
    EXPECT_EQ(hotels[0].Url, link.Url);
    EXPECT_EQ(hotels[0].HeaderBar, "again");
}

TEST_P(WriteThroughRows, SaveAtCloseSupersedesTheOwedRowsOfGoingOnly)
{
    UseDatabase(QStringLiteral("sqlite:/nonexistent-hc-folder/none.sqlite"));
    ::testing::internal::CaptureStderr();
    writer.Added({Link("1")});
    writer.Failed(Link("1"), Retry(1, "time-out"));
    writer.Handled(Link("2"), std::nullopt);
    writer.Handled(Link("3"), HotelRow(Link("3").Url, "kept"));
    writer.Destinations({{"osl", false, {}}});
    ::testing::internal::GetCapturedStderr();

    writer.SupersededBySave(false);
    EXPECT_EQ(writer.UnsettledLinks(), (Links{Link("2"), Link("3")})) << "a merge left their rows";
    writer.SupersededBySave(true);
    EXPECT_EQ(writer.OwedLinks(), 0u);
    EXPECT_EQ(writer.OwedHotels(), 1u);
    EXPECT_EQ(writer.UnsettledLinks(), Links{Link("3")});

    UseDatabase(dbSetting);
    SeedGoing({Link("1"), Link("3")});  // as the save wrote them
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(writer.Flush());
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(GoingRows(), Links{Link("1")});
    EXPECT_EQ(Hotels().size(), 1u);
    EXPECT_EQ(store::ReadDestinations(ThisDesk()).size(), 1u);
}

HC_INSTANTIATE_FOR_ENGINES(WriteThroughRows);

}  // namespace
