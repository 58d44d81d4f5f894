// Extracted hotels in "Staymarker", and creating the database's tables.

#include "store/Schema.h"
#include "store/Staymarker.h"

#include "tests/store/DriverFixture.h"

#include <QFileInfo>

namespace {

store::StaymarkerRow Hotel(const AnsiString& url, const AnsiString& extractedAt, const AnsiString& tag = "")
{
    store::StaymarkerRow row;
    for (const auto& column : store::kStaymarkerColumns)
        row.*column.member = std::string(column.name) + tag;
    row.Url = url;
    row.ExtractedAt = extractedAt;
    return row;
}

class HotelStore : public EngineTest {
protected:
    void Store(const store::StaymarkerRow& row)
    {
        ASSERT_NO_THROW(store::StoreHotel(row));
    }
};

TEST_P(HotelStore, EveryColumnRoundTrips)
{
    store::StaymarkerRow row = Hotel("http://hotels.example/hotsdetail.ctl?h=1", "2024-05-01T10:00:00Z");
    row.HotelInfo = "Line one\nLine \"two\"; it's 'quoted' -- 서울";
    row.Dining = "";
    Store(row);
    EXPECT_EQ(store::ReadAllHotels(), std::vector<store::StaymarkerRow>{row});
}

TEST_P(HotelStore, StoringTheSameUrlAgainReplacesTheRow)
{
    Store(Hotel("u", "2024-05-01T10:00:00Z", "-first"));
    const store::StaymarkerRow second = Hotel("u", "2024-05-02T10:00:00Z", "-second");
    Store(second);
    EXPECT_EQ(store::ReadAllHotels(), std::vector<store::StaymarkerRow>{second});
}

TEST_P(HotelStore, RowsComeOrderedByExtractionTimeThenUrl)
{
    Store(Hotel("b", "2024-05-02T00:00:00Z"));
    Store(Hotel("c", "2024-05-01T00:00:00Z"));
    Store(Hotel("a", "2024-05-02T00:00:00Z"));
    Store(Hotel("B", "2024-05-02T00:00:00Z"));
    std::vector<AnsiString> urls;
    for (const auto& row : store::ReadAllHotels())
        urls.push_back(row.Url);
    EXPECT_EQ(urls, (std::vector<AnsiString>{"c", "B", "a", "b"}));
}

TEST_P(HotelStore, MissingTableIsAFailureWithAReason)
{
    Exec("DROP TABLE \"Staymarker\"");
    try {
        store::StoreHotel(Hotel("u", "t"));
        ADD_FAILURE() << "stored without a table";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot store hotel u: "), std::string::npos) << e.what();
        EXPECT_FALSE(e.EngineMessage().empty()) << "the engine's reason is kept";
        EXPECT_FALSE(e.NativeCode().empty()) << "and its code, which the write-through dedupes on";
    }
    EXPECT_THROW(store::ReadAllHotels(), EDatabaseError);
}

HC_INSTANTIATE_FOR_ENGINES(HotelStore);

// ---------------------------------------------------------------- creating tables

class TableSetup : public EngineTest {};

TEST_P(TableSetup, CreatesOnlyMissingTablesAndIsIdempotent)
{
    EXPECT_TRUE(store::EnsureHotelsDbTables("Hotels_Db").isEmpty());
    Exec("DROP TABLE \"Going\"");
    EXPECT_EQ(store::EnsureHotelsDbTables("Hotels_Db"), QStringList{QStringLiteral("Going")});
    SeedGoing({{"kept", "osl"}});
    store::EnsureHotelsDbTables("Hotels_Db");
    EXPECT_EQ(GoingRows(), (std::vector<Hotel_Url>{{"kept", "osl"}}));
}

TEST_P(TableSetup, GoingKeysNeverComeBackAfterDeletes)
{
    // The natural order of "Going" must follow insertion even when the newest
    // rows were deleted before more were added.
    SeedGoing({{"a", ""}, {"b", ""}});
    Exec("DELETE FROM \"Going\" WHERE \"Url\" = 'b'");
    SeedGoing({{"c", ""}});
    Exec("DELETE FROM \"Going\" WHERE \"Url\" = 'a'");
    SeedGoing({{"d", ""}});
    EXPECT_EQ(GoingRows(), (std::vector<Hotel_Url>{{"c", ""}, {"d", ""}}));
}

HC_INSTANTIATE_FOR_ENGINES(TableSetup);

// The statement is made from the column list; stored databases were made
// with this text, so it must not change when the list is reworked.
TEST(StaymarkerSchema, CreateTableTextIsTheOneStoredDatabasesWereMadeWith)
{
    const QString expected = QStringLiteral(
        "CREATE TABLE IF NOT EXISTS \"Staymarker\" (\"Url\" TEXT NOT NULL PRIMARY KEY, "
        "\"AirPort\" TEXT, \"HeaderBar\" TEXT, \"HotelInfo\" TEXT, \"Direction\" TEXT, "
        "\"Dining\" TEXT, \"Transportation\" TEXT, \"PropertyInformation\" TEXT, "
        "\"Services\" TEXT, \"RatingsAwards\" TEXT, \"Attractions\" TEXT, \"PhotoUrl\" TEXT, "
        "\"ExtractedAt\" TEXT)");
    EXPECT_EQ(store::CreateTableSql(QStringLiteral("Staymarker"), QStringLiteral("QSQLITE")), expected);
    EXPECT_EQ(store::CreateTableSql(QStringLiteral("Staymarker"), QStringLiteral("QPSQL")), expected);
}

// Each column name leads to the field of that name (the build already
// checks that every field has exactly one column, each name once).
TEST(StaymarkerSchema, EachColumnHoldsTheFieldOfItsName)
{
    store::StaymarkerRow row;
    for (const auto& column : store::kStaymarkerColumns)
        row.*column.member = std::string(column.name);
    EXPECT_EQ(row.Url, "Url");
    EXPECT_EQ(row.AirPort, "AirPort");
    EXPECT_EQ(row.HeaderBar, "HeaderBar");
    EXPECT_EQ(row.HotelInfo, "HotelInfo");
    EXPECT_EQ(row.Direction, "Direction");
    EXPECT_EQ(row.Dining, "Dining");
    EXPECT_EQ(row.Transportation, "Transportation");
    EXPECT_EQ(row.PropertyInformation, "PropertyInformation");
    EXPECT_EQ(row.Services, "Services");
    EXPECT_EQ(row.RatingsAwards, "RatingsAwards");
    EXPECT_EQ(row.Attractions, "Attractions");
    EXPECT_EQ(row.PhotoUrl, "PhotoUrl");
    EXPECT_EQ(row.ExtractedAt, "ExtractedAt");
}

class FirstRun : public ::testing::Test {
protected:
    void TearDown() override { platform::SetSettings({}); }
};

TEST_F(FirstRun, CreatesTheDefaultFileWithBothTablesOnlyOnce)
{
    platform::SetSettings({});
    const QString path = platform::DefaultDatabasePath();
    QFile::remove(path);

    store::PrepareFirstRun();
    ASSERT_TRUE(QFileInfo::exists(path));
    EXPECT_TRUE(store::EnsureHotelsDbTables("Hotels_Db").isEmpty());

    // An existing file, even one without tables, is the operator's: left alone.
    QFile::remove(path);
    QFile(path).open(QIODevice::WriteOnly);
    store::PrepareFirstRun();
    EXPECT_EQ(QFileInfo(path).size(), 0);
    QFile::remove(path);
}

TEST_F(FirstRun, ConfiguredDatabaseIsNeverCreatedByTheProgram)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("configured.sqlite"));
    platform::Settings s;
    s.hotelsDb = QStringLiteral("sqlite:") + path;
    platform::SetSettings(s);
    store::PrepareFirstRun();
    EXPECT_FALSE(QFileInfo::exists(path));
}

}  // namespace
