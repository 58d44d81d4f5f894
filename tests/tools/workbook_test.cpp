// The export's workbook read back as a spreadsheet program would: the parts
// of the .xlsx file (a zip) are taken out with unzip and read as XML.

#include "platform/db/DatabaseError.h"
#include "tools/common/Export.h"
#include "tools/common/Workbook.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <string_view>

namespace {

using store::StaymarkerRow;

struct Cell {
    QString type;  // the "t" attribute: "inlineStr", "s", or empty for a number
    QString text;  // the inline string or the value
    bool formula = false;
};

// Every cell of a sheet by its reference ("A1"); fails the test when the
// XML is not well-formed.
std::map<QString, Cell> CellsOf(const QByteArray& xml)
{
    std::map<QString, Cell> cells;
    QXmlStreamReader reader(xml);
    QString ref;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        const auto name = reader.name();
        if (name == QLatin1String("c")) {
            ref = reader.attributes().value(QLatin1String("r")).toString();
            cells[ref].type = reader.attributes().value(QLatin1String("t")).toString();
        } else if (name == QLatin1String("t") || name == QLatin1String("v")) {
            cells[ref].text += reader.readElementText();
        } else if (name == QLatin1String("f")) {
            cells[ref].formula = true;
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return cells;
}

// The reference of the Hotels sheet's cell of column `name` in `row`.
QString HotelCell(std::string_view name, int row)
{
    for (std::size_t i = 0; i < store::kStaymarkerColumns.size(); ++i)
        if (store::kStaymarkerColumns[i].name == name)
            return QStringLiteral("%1%2").arg(QChar(u'A' + static_cast<char16_t>(i))).arg(row);
    ADD_FAILURE() << "no column " << name;
    return {};
}

// The last column of the Hotels sheet: its letter.
QChar LastHotelColumn() { return QChar(u'A' + static_cast<char16_t>(store::kStaymarkerColumns.size() - 1)); }

StaymarkerRow Hotel(const AnsiString& url)
{
    StaymarkerRow row;
    row.Url = url;
    row.AirPort = "osl";
    row.ExtractedAt = "2024-05-01T00:00:00Z";
    return row;
}

// A source of the rows of `list`, in order.
template <class Row>
tools::RowSource<Row> FromList(const std::vector<Row>& list)
{
    return [&list](const std::function<bool(const Row&)>& take) {
        for (const Row& row : list)
            if (!take(row))
                return;
    };
}

class WrittenWorkbook : public ::testing::Test {
protected:
    void SetUp() override
    {
        unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
        if (unzip.isEmpty())
            GTEST_SKIP() << "unzip is not installed: the workbook cannot be read back";
        ASSERT_TRUE(dir.isValid());
    }

    // Writes the workbook into a file and returns the library's result.
    tools::WorkbookResult Write(const std::vector<StaymarkerRow>& hotels,
                                const std::vector<store::DestinationSummary>& summary = {},
                                const std::vector<store::FailureRecord>& failures = {})
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        const tools::WorkbookResult result =
            tools::WriteWorkbook(buffer, {FromList(hotels), FromList(summary), FromList(failures)});
        QFile file(dir.filePath(QStringLiteral("book.xlsx")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(buffer.data());
        return result;
    }

    // One part of the written workbook, as unzip gives it.
    QByteArray Part(const QString& name)
    {
        QProcess process;
        process.start(unzip, {QStringLiteral("-p"), dir.filePath(QStringLiteral("book.xlsx")), name});
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << name.toStdString() << ": " << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput();
    }

    QString unzip;
    QTemporaryDir dir;
};

TEST_F(WrittenWorkbook, HasTheHotelsSummaryAndFailuresSheetsInThatOrder)
{
    ASSERT_TRUE(Write({Hotel("u1")}).ok);
    const QByteArray book = Part(QStringLiteral("xl/workbook.xml"));
    const qsizetype hotels = book.indexOf("<sheet name=\"Hotels\"");
    const qsizetype summary = book.indexOf("<sheet name=\"Summary\"");
    const qsizetype failures = book.indexOf("<sheet name=\"Failures\"");
    EXPECT_GE(hotels, 0) << book.toStdString();
    EXPECT_GT(summary, hotels) << book.toStdString();
    EXPECT_GT(failures, summary) << book.toStdString();
}

TEST_F(WrittenWorkbook, HotelsSheetHasTheColumnsInRecordOrderAndOneRowPerHotel)
{
    StaymarkerRow second = Hotel("u2");
    second.PhotoUrl = "http://hotels.example/hotsphoto.ctl?hotel=2";
    ASSERT_TRUE(Write({Hotel("u1"), second}).ok);
    const auto cells = CellsOf(Part(QStringLiteral("xl/worksheets/sheet1.xml")));
    // The CSV's header line, cell by cell.
    QStringList header;
    for (const auto& column : store::kStaymarkerColumns)
        header << cells.at(HotelCell(column.name, 1)).text;
    EXPECT_EQ(header.join(QLatin1Char(',')), QString::fromStdString(tools::HotelsToCsv({})).trimmed());
    EXPECT_EQ(cells.count(QString(QChar(LastHotelColumn().unicode() + 1)) + QStringLiteral("1")), 0u);
    EXPECT_EQ(header.first(), QStringLiteral("Url"));
    EXPECT_EQ(cells.at(HotelCell("Url", 3)).text, QStringLiteral("u2"));
    EXPECT_EQ(cells.at(HotelCell("PhotoUrl", 3)).text, QStringLiteral("http://hotels.example/hotsphoto.ctl?hotel=2"));
    EXPECT_EQ(cells.at(HotelCell("ExtractedAt", 2)).text, QStringLiteral("2024-05-01T00:00:00Z"));
}

TEST_F(WrittenWorkbook, TextThatLooksLikeAFormulaOrANumberStaysText)
{
    StaymarkerRow row = Hotel("=HYPERLINK(\"http://x\")");
    row.HotelInfo = "=1+1";
    row.Dining = "-5";
    row.Services = "@SUM(A1)";
    row.Direction = "0042";
    ASSERT_TRUE(Write({row}).ok);
    const QByteArray sheet = Part(QStringLiteral("xl/worksheets/sheet1.xml"));
    const auto cells = CellsOf(sheet);
    for (const auto& [column, text] :
         {std::pair{"Url", "=HYPERLINK(\"http://x\")"}, std::pair{"HotelInfo", "=1+1"}, std::pair{"Dining", "-5"},
          std::pair{"Services", "@SUM(A1)"}, std::pair{"Direction", "0042"}}) {
        const QString ref = HotelCell(column, 2);
        const Cell& cell = cells.at(ref);
        EXPECT_TRUE(cell.type == QLatin1String("inlineStr") || cell.type == QLatin1String("s")) << column;
        EXPECT_FALSE(cell.formula) << column;
        EXPECT_EQ(cell.text, QString::fromUtf8(text)) << column;  // no guard quote: the cell type is enough
    }
    EXPECT_FALSE(sheet.contains("<f>")) << sheet.toStdString();
}

TEST_F(WrittenWorkbook, EverySheetHasItsHeaderFrozenAndAnAutofilterOverItsRows)
{
    store::DestinationSummary osl;
    osl.airPort = "osl";
    osl.kept = 2;
    const store::FailureRecord failure{"link", "http://hotels.example/x", "osl", "HTTP 404", 3, "2024-05-01T00:00:00Z"};
    ASSERT_TRUE(Write({Hotel("u1"), Hotel("u2")}, {osl}, {failure, failure, failure}).ok);
    const std::pair<const char*, QString> sheets[] = {
        {"xl/worksheets/sheet1.xml", QStringLiteral("A1:%1%2").arg(LastHotelColumn()).arg(3)},
        {"xl/worksheets/sheet2.xml", QStringLiteral("A1:G2")},
        {"xl/worksheets/sheet3.xml", QStringLiteral("A1:G4")}};
    for (const auto& [part, range] : sheets) {
        const QByteArray sheet = Part(QString::fromLatin1(part));
        EXPECT_TRUE(sheet.contains("<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"))
            << part << "\n" << sheet.toStdString();
        EXPECT_TRUE(sheet.contains(QByteArray("<autoFilter ref=\"") + range.toLatin1() + "\"/>")) << part << "\n"
                                                                                      << sheet.toStdString();
        EXPECT_TRUE(sheet.contains("customWidth=\"1\"")) << part;
    }
}

TEST_F(WrittenWorkbook, CountsAreNumbersAndMissingValuesShowAsTheSummaryShowsThem)
{
    store::DestinationSummary none;  // no code, nothing kept yet
    none.waiting = 4;
    const store::FailureRecord failure{"destination", "zrh", "zrh", "HTTP 500", 5, "2024-05-02T00:00:00Z"};
    ASSERT_TRUE(Write({}, {none}, {failure}).ok);
    const auto summary = CellsOf(Part(QStringLiteral("xl/worksheets/sheet2.xml")));
    EXPECT_EQ(summary.at(QStringLiteral("A2")).text, QStringLiteral("(none)"));
    EXPECT_EQ(summary.at(QStringLiteral("C2")).type, QString());
    EXPECT_EQ(summary.at(QStringLiteral("C2")).text, QStringLiteral("4"));
    EXPECT_EQ(summary.at(QStringLiteral("D2")).text, QStringLiteral("-"));
    EXPECT_EQ(summary.at(QStringLiteral("F2")).text, QStringLiteral("searched"));
    const auto failures = CellsOf(Part(QStringLiteral("xl/worksheets/sheet3.xml")));
    EXPECT_EQ(failures.at(QStringLiteral("E2")).type, QString());
    EXPECT_EQ(failures.at(QStringLiteral("E2")).text, QStringLiteral("5"));
    EXPECT_EQ(failures.at(QStringLiteral("D2")).text, QStringLiteral("HTTP 500"));
}

TEST_F(WrittenWorkbook, TextsOverTheCellLimitAreCutAndCounted)
{
    StaymarkerRow row = Hotel("u1");
    row.HotelInfo = std::string(tools::kCellTextLimit, 'a');  // exactly the limit: kept whole
    row.Dining.clear();
    for (int i = 0; i < 40000; ++i)
        row.Dining += "é";
    row.Attractions = std::string(tools::kCellTextLimit + 1, 'b');
    const tools::WorkbookResult result = Write({row});
    ASSERT_TRUE(result.ok) << result.problem.toStdString();
    EXPECT_EQ(result.cutTexts, 2);
    const auto cells = CellsOf(Part(QStringLiteral("xl/worksheets/sheet1.xml")));
    EXPECT_EQ(cells.at(HotelCell("HotelInfo", 2)).text.size(), tools::kCellTextLimit);
    EXPECT_EQ(cells.at(HotelCell("Dining", 2)).text, QString(tools::kCellTextLimit, QChar(u'é')));
    EXPECT_EQ(cells.at(HotelCell("Attractions", 2)).text, QString(tools::kCellTextLimit, QLatin1Char('b')));
}

TEST_F(WrittenWorkbook, BrokenBytesAndControlCharactersStillMakeWellFormedXml)
{
    StaymarkerRow row = Hotel("u1");
    row.HotelInfo = "caf\xc3 \xff bell\x01 end";
    row.Dining = "tab\there\nline";
    ASSERT_TRUE(Write({row}).ok);
    const auto cells = CellsOf(Part(QStringLiteral("xl/worksheets/sheet1.xml")));  // fails when not well-formed
    EXPECT_EQ(cells.at(HotelCell("HotelInfo", 2)).text, QStringLiteral("caf\uFFFD \uFFFD bell_x0001_ end"));
    EXPECT_EQ(cells.at(HotelCell("Dining", 2)).text, QStringLiteral("tab\there\nline"));
}

// The sheets are read while the workbook is written: a source that fails
// after rows went in fails the whole workbook, and nothing reaches `into`.
TEST_F(WrittenWorkbook, ASourceThatFailsLateLeavesNothingWritten)
{
    const std::vector<StaymarkerRow> hotels{Hotel("u1"), Hotel("u2")};
    bool summaryRead = false;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_THROW(tools::WriteWorkbook(buffer, {FromList(hotels),
                                               [&](const auto&) { summaryRead = true; },
                                               [](const auto&) { throw EDatabaseError("Cannot read table 'Failures'"); }}),
                 EDatabaseError);
    EXPECT_TRUE(summaryRead);
    EXPECT_EQ(buffer.size(), 0);
}

// ---------------------------------------------------------------- cell text

class CellTextOf : public ::testing::Test {};

TEST_F(CellTextOf, ACutNeverSplitsACharacter)
{
    bool cut = false;
    // 32766 'a' then an emoji of two UTF-16 code units: it would straddle the limit.
    const std::string text = std::string(tools::kCellTextLimit - 1, 'a') + "\xf0\x9f\x8f\xa8" + "tail";
    EXPECT_EQ(tools::CellText(text, cut), std::string(tools::kCellTextLimit - 1, 'a'));
    EXPECT_TRUE(cut);
    EXPECT_EQ(tools::CellText("\xf0\x9f\x8f\xa8 short", cut), "\xf0\x9f\x8f\xa8 short");
    EXPECT_FALSE(cut);
}

TEST_F(CellTextOf, LiteralEscapeSequencesAreEscapedSoReadersShowThemAsStored)
{
    bool cut = false;
    EXPECT_EQ(tools::CellText("code _x0041_ and _x00zz_ and _x12", cut), "code _x005F_x0041_ and _x00zz_ and _x12");
    EXPECT_EQ(tools::CellText(std::string("nul\0here", 8), cut), "nul\xef\xbf\xbdhere");
}

}  // namespace
