// Text forms of the extracted hotels and the export tool's arguments.

#include "store/Export.h"

#include "tests/store/DriverFixture.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <sstream>

namespace {

using store::StaymarkerRow;

StaymarkerRow Plain(const AnsiString& url)
{
    StaymarkerRow row;
    row.Url = url;
    row.ExtractedAt = "2024-05-01T00:00:00Z";
    return row;
}

std::vector<std::string> Lines(const std::string& text, const std::string& end)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(end, from)) != std::string::npos; from = at + end.size())
        lines.push_back(text.substr(from, at - from));
    EXPECT_EQ(from, text.size()) << "text does not end with a line end";
    return lines;
}

class CsvExport : public ::testing::Test {};

TEST_F(CsvExport, HeaderNamesTheColumnsAndLinesEndWithCrLf)
{
    const auto lines = Lines(store::HotelsToCsv({Plain("u1")}), "\r\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "Url,AirPort,HeaderBar,HotelInfo,Direction,Dining,Transportation,PropertyInformation,"
              "Services,RatingsAwards,Attractions,PhotoUrl,ExtractedAt");
    EXPECT_EQ(lines[1], "u1,,,,,,,,,,,,2024-05-01T00:00:00Z");
}

TEST_F(CsvExport, QuotesOnlyFieldsThatNeedItAndDoublesQuotes)
{
    StaymarkerRow row = Plain("a,b");
    row.AirPort = "say \"hi\"";
    row.HeaderBar = "two\nlines";
    row.HotelInfo = "cr\rhere";
    row.Direction = "plain 서울 text; with 'single' quotes";
    const std::string csv = store::HotelsToCsv({row});
    const std::string body = csv.substr(csv.find("\r\n") + 2);
    EXPECT_EQ(body,
              "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\rhere\","
              "plain 서울 text; with 'single' quotes,,,,,,,,2024-05-01T00:00:00Z\r\n");
}

TEST_F(CsvExport, NoRowsGivesTheHeaderOnly)
{
    EXPECT_EQ(Lines(store::HotelsToCsv({}), "\r\n").size(), 1u);
}

class JsonLinesExport : public ::testing::Test {};

TEST_F(JsonLinesExport, OneObjectPerLineKeyedByColumnInOrder)
{
    const std::string text = store::HotelsToJsonLines({Plain("u1"), Plain("u2")});
    const auto lines = Lines(text, "\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("{\"Url\":\"u1\",\"AirPort\":\"\",", 0), 0u) << lines[0];
    EXPECT_NE(lines[1].find("\"ExtractedAt\":\"2024-05-01T00:00:00Z\"}"), std::string::npos);
}

TEST_F(JsonLinesExport, EscapesSurviveAStrictParser)
{
    StaymarkerRow row = Plain("q\"uote\\back");
    row.HotelInfo = "line\nbreak\r\ttab\x01 bell\x1f";
    row.Dining = "서울 호텔 — café";
    const std::string text = store::HotelsToJsonLines({row});
    ASSERT_EQ(text.find('\n'), text.size() - 1) << "a value broke the line";

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonObject obj = doc.object();
    EXPECT_EQ(obj.size(), 13);
    EXPECT_EQ(obj["Url"].toString().toStdString(), row.Url);
    EXPECT_EQ(obj["HotelInfo"].toString().toStdString(), row.HotelInfo);
    EXPECT_EQ(obj["Dining"].toString().toStdString(), row.Dining);
}

// ---------------------------------------------------------------- the tool

class ExportTool : public EngineTest {
protected:
    int Run(const QStringList& args)
    {
        out.str({});
        err.str({});
        return store::RunExport(args, out, err);
    }
    std::ostringstream out, err;
};

TEST_P(ExportTool, PrintsTheStoredRowsInEitherFormat)
{
    ASSERT_TRUE(store::StoreHotel(Plain("http://hotels.example/hotsdetail.ctl?a=1,2")));
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(out.str(), store::HotelsToCsv({Plain("http://hotels.example/hotsdetail.ctl?a=1,2")}));
    EXPECT_EQ(Run({QStringLiteral("--format"), QStringLiteral("jsonl")}), 0);
    EXPECT_EQ(out.str(), store::HotelsToJsonLines({Plain("http://hotels.example/hotsdetail.ctl?a=1,2")}));
    EXPECT_TRUE(err.str().empty());
}

TEST_P(ExportTool, BadArgumentsGiveUsageAndExitTwo)
{
    for (const QStringList& args : {QStringList{QStringLiteral("--format"), QStringLiteral("xml")},
                                    QStringList{QStringLiteral("--format")},
                                    QStringList{QStringLiteral("extra")}}) {
        EXPECT_EQ(Run(args), 2) << args.join(' ').toStdString();
        EXPECT_NE(err.str().find("usage: hotelcrawler-export"), std::string::npos);
        EXPECT_TRUE(out.str().empty());
    }
}

TEST_P(ExportTool, DatabaseFailureExitsOne)
{
    Exec("DROP TABLE \"Staymarker\"");
    EXPECT_EQ(Run({QStringLiteral("--format=csv")}), 1);
    EXPECT_NE(err.str().find("Staymarker"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
}

HC_INSTANTIATE_FOR_ENGINES(ExportTool);

}  // namespace
