#include "tools/common/Workbook.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

namespace tools {

namespace {

// Column widths (in characters of the default font) follow the longest text
// of the column within these bounds: narrow columns stay readable, and a
// column of long descriptions does not push the others off the screen.
constexpr std::size_t kMinWidth = 6;
constexpr std::size_t kMaxWidth = 60;

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// "_xHHHH_" stands for the character HHHH in a workbook's strings; a text
// holding those seven characters itself has its "_" written as "_x005F_".
void EscapeLiteralEscapes(std::string& text)
{
    for (std::size_t at = text.find("_x"); at != std::string::npos; at = text.find("_x", at + 1)) {
        if (at + 7 > text.size() || text[at + 6] != '_' ||
            !std::all_of(text.begin() + at + 2, text.begin() + at + 6, IsHex))
            continue;
        text.replace(at, 1, "_x005F_");
        at += 6;
    }
}

// Characters in UTF-8 text, for the column widths: bytes that do not
// continue a sequence.
std::size_t CharacterCount(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

class ColumnWidths {
public:
    explicit ColumnWidths(std::size_t columns) : widths_(columns, kMinWidth) {}
    void Fit(std::size_t column, const std::string& text)
    {
        // A column already at the bound needs no more counting.
        if (widths_[column] < kMaxWidth)
            widths_[column] = std::clamp(CharacterCount(text), widths_[column], kMaxWidth);
    }
    void Apply(lxw_worksheet* sheet) const
    {
        for (std::size_t i = 0; i < widths_.size(); ++i)
            worksheet_set_column(sheet, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i),
                                 static_cast<double>(widths_[i] + 2), nullptr);
    }

private:
    std::vector<std::size_t> widths_;
};

struct FreeWorkbook {
    void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};

// Writes the rows of one sheet and keeps the first error: the library's
// calls each return one, and any one spoils the workbook.
class SheetWriter {
public:
    SheetWriter(lxw_workbook* workbook, const char* name, const std::vector<std::string>& header,
                lxw_format* headerFormat, long long& cutTexts)
        : sheet_(workbook_add_worksheet(workbook, name)), widths_(header.size()), columns_(header.size()),
          cutTexts_(cutTexts)
    {
        if (!sheet_) {
            error_ = LXW_ERROR_MEMORY_MALLOC_FAILED;
            return;
        }
        for (std::size_t i = 0; i < header.size(); ++i) {
            Check(worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(i), header[i].c_str(), headerFormat));
            widths_.Fit(i, header[i]);
        }
    }

    // Starts the next row (rows are written in order: the workbook is built
    // in constant memory, one row at a time); false when the sheet already
    // holds kSheetRowLimit rows under its header.
    bool NextRow()
    {
        if (row_ >= kSheetRowLimit) {
            full_ = true;
            return false;
        }
        ++row_;
        return true;
    }
    bool Full() const { return full_; }
    // No error so far: the rows are worth going on with.
    bool Ok() const { return error_ == LXW_NO_ERROR; }

    void Text(std::size_t column, const std::string& stored)
    {
        bool cut = false;
        const std::string text = CellText(stored, cut);
        if (cut)
            ++cutTexts_;
        widths_.Fit(column, text);
        if (!text.empty())
            Check(worksheet_write_string(sheet_, row_, static_cast<lxw_col_t>(column), text.c_str(), nullptr));
    }

    void Number(std::size_t column, long long value)
    {
        const std::string shown = std::to_string(value);
        widths_.Fit(column, shown);
        Check(worksheet_write_number(sheet_, row_, static_cast<lxw_col_t>(column), static_cast<double>(value), nullptr));
    }

    // The frozen header, the autofilter and the widths; the first error
    // seen, LXW_NO_ERROR when none.
    lxw_error Finish()
    {
        if (!sheet_)
            return error_;
        worksheet_freeze_panes(sheet_, 1, 0);
        Check(worksheet_autofilter(sheet_, 0, 0, row_, static_cast<lxw_col_t>(columns_ - 1)));
        widths_.Apply(sheet_);
        return error_;
    }

private:
    void Check(lxw_error error)
    {
        if (error_ == LXW_NO_ERROR)
            error_ = error;
    }

    lxw_worksheet* sheet_;
    ColumnWidths widths_;
    std::size_t columns_;
    lxw_row_t row_ = 0;
    bool full_ = false;
    long long& cutTexts_;
    lxw_error error_ = LXW_NO_ERROR;
};

QString LibraryProblem(lxw_error error)
{
    return QStringLiteral("the workbook could not be written: %1").arg(QString::fromUtf8(lxw_strerror(error)));
}

// Copies the finished scratch file into `into`.
bool CopyInto(QFile& scratch, QIODevice& into, QString& problem)
{
    if (!scratch.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot read the workbook back: %1").arg(scratch.errorString());
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 n = scratch.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n < 0) {
            problem = QStringLiteral("cannot read the workbook back: %1").arg(scratch.errorString());
            return false;
        }
        if (n == 0)
            return true;
        if (into.write(buffer.data(), n) != n) {
            problem = into.errorString();
            return false;
        }
    }
}

}  // namespace

std::string CellText(const std::string& utf8, bool& cut)
{
    cut = false;
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) {
        return c != '\0' && static_cast<unsigned char>(c) < 0x80;
    });
    std::string text = utf8;
    if (!ascii) {
        // Invalid sequences become U+FFFD on the way through UTF-16. The
        // library takes C strings, so a NUL would end the text early: it is
        // shown as U+FFFD too.
        QString wide = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
        wide.replace(QChar(u'\0'), QChar::ReplacementCharacter);
        text = wide.toStdString();
    }
    EscapeLiteralEscapes(text);
    // A UTF-8 text has at least as many bytes as UTF-16 code units.
    if (text.size() <= static_cast<std::size_t>(kCellTextLimit))
        return text;
    const QString wide = QString::fromStdString(text);
    if (wide.size() <= kCellTextLimit)
        return text;
    qsizetype keep = kCellTextLimit;
    if (wide.at(keep - 1).isHighSurrogate())
        --keep;  // a character of two code units is kept whole or not at all
    cut = true;
    return wide.left(keep).toStdString();
}

WorkbookResult WriteWorkbook(QIODevice& into, const WorkbookRows& rows)
{
    WorkbookResult result;
    QTemporaryFile scratch(QDir::tempPath() + QStringLiteral("/hotelcrawler-export-XXXXXX.xlsx"));
    if (!scratch.open()) {
        result.problem = QStringLiteral("cannot make a scratch file in %1: %2").arg(QDir::tempPath(), scratch.errorString());
        return result;
    }
    scratch.close();  // the library writes it by name; it is removed with `scratch`
    const QByteArray scratchPath = QFile::encodeName(scratch.fileName());

    // Constant memory: each row goes to the library's temporary files as it
    // is finished, so a large export does not hold its cells. Its strings
    // are then written in the cells (inline), not in a shared table.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    std::unique_ptr<lxw_workbook, FreeWorkbook> workbook(workbook_new_opt(scratchPath.constData(), &options));
    if (!workbook) {
        result.problem = LibraryProblem(LXW_ERROR_MEMORY_MALLOC_FAILED);
        return result;
    }
    lxw_format* header = workbook_add_format(workbook.get());
    format_set_bold(header);
    const auto tooMany = [&](const char* what, const char* instead) {
        result.problem = QStringLiteral("more than %1 %2: a sheet holds at most %1 rows; export them with %3")
                             .arg(kSheetRowLimit)
                             .arg(QLatin1String(what), QLatin1String(instead));
        return result;
    };

    std::vector<std::string> columns;
    for (const auto& column : store::kStaymarkerColumns)
        columns.emplace_back(column.name);
    SheetWriter hotelSheet(workbook.get(), "Hotels", columns, header, result.cutTexts);
    rows.hotels([&](const store::StaymarkerRow& row) {
        if (!hotelSheet.NextRow())
            return false;
        for (std::size_t i = 0; i < store::kStaymarkerColumns.size(); ++i)
            hotelSheet.Text(i, row.*store::kStaymarkerColumns[i].member);
        return hotelSheet.Ok();
    });
    if (hotelSheet.Full())
        return tooMany("hotels", "--format csv or jsonl");

    // As --summary shows them: "(none)" for rows without a code, "-" for no time.
    SheetWriter summarySheet(workbook.get(), "Summary",
                             {"AirPort", "Kept", "Waiting", "Last kept at", "Given up", "State", "Desk"}, header,
                             result.cutTexts);
    rows.summary([&](const store::DestinationSummary& entry) {
        if (!summarySheet.NextRow())
            return false;
        summarySheet.Text(0, entry.airPort.empty() ? std::string("(none)") : entry.airPort);
        summarySheet.Number(1, entry.kept);
        summarySheet.Number(2, entry.waiting);
        summarySheet.Text(3, entry.lastExtractedAt.empty() ? std::string("-") : entry.lastExtractedAt);
        summarySheet.Number(4, entry.givenUp);
        summarySheet.Text(5, entry.state);
        summarySheet.Text(6, entry.desk.empty() ? std::string("(none)") : entry.desk);
        return summarySheet.Ok();
    });
    if (summarySheet.Full())
        return tooMany("destinations", "--summary");

    std::vector<std::string> failureColumns;
    for (const store::FailureColumn& column : store::kFailureColumns)
        failureColumns.emplace_back(column.name);
    SheetWriter failureSheet(workbook.get(), "Failures", failureColumns, header, result.cutTexts);
    rows.failures([&](const store::FailureRecord& row) {
        if (!failureSheet.NextRow())
            return false;
        for (std::size_t i = 0; i < store::kFailureColumns.size(); ++i) {
            const store::FailureColumn& column = store::kFailureColumns[i];
            if (column.number)
                failureSheet.Number(i, row.*column.number);
            else
                failureSheet.Text(i, row.*column.text);
        }
        return failureSheet.Ok();
    });
    if (failureSheet.Full())
        return tooMany("failures", "--failures");

    for (SheetWriter* sheet : {&hotelSheet, &summarySheet, &failureSheet}) {
        if (const lxw_error error = sheet->Finish(); error != LXW_NO_ERROR) {
            result.problem = LibraryProblem(error);
            return result;
        }
    }
    // workbook_close writes the file and frees the workbook, whatever it returns.
    if (const lxw_error error = workbook_close(workbook.release()); error != LXW_NO_ERROR) {
        result.problem = LibraryProblem(error);
        return result;
    }
    if (!CopyInto(scratch, into, result.problem))
        return result;
    result.ok = true;
    return result;
}

}  // namespace tools
