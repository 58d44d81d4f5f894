#include "tools/common/Export.h"

#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Failures.h"
#include "store/Staymarker.h"
#include "store/StaymarkerRead.h"
#include "store/Summary.h"
#include "tools/common/CommandLine.h"
#include "tools/common/ExportOutput.h"
#include "tools/common/SummaryTable.h"
#include "tools/common/ToolSettings.h"
#include "tools/common/Workbook.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string_view>

namespace tools {

using store::kStaymarkerColumns;
using store::StaymarkerRow;

namespace {

// Spreadsheet programs read a cell that starts with one of these as a
// formula (tab and CR are stripped first by some of them, exposing what
// follows). A leading single quote makes them show the text as it is.
bool LooksLikeFormula(const std::string& field)
{
    return !field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos;
}

void AppendCsvField(std::string& out, const std::string& raw)
{
    const std::string field = LooksLikeFormula(raw) ? "'" + raw : raw;
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// One CSV line of `fields`, ended with CRLF.
void AppendCsvLine(std::string& out, const std::vector<std::string>& fields)
{
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        AppendCsvField(out, fields[i]);
    }
    out += "\r\n";
}

void AppendHotelsCsvHeader(std::string& out)
{
    std::vector<std::string> fields;
    for (const auto& column : kStaymarkerColumns)
        fields.emplace_back(column.name);
    AppendCsvLine(out, fields);
}

void AppendHotelCsvLine(std::string& out, const StaymarkerRow& row)
{
    std::vector<std::string> fields;
    fields.reserve(kStaymarkerColumns.size());
    for (const auto& column : kStaymarkerColumns)
        fields.push_back(row.*column.member);
    AppendCsvLine(out, fields);
}

void AppendHotelJsonLine(std::string& out, const StaymarkerRow& row)
{
    out += '{';
    for (std::size_t i = 0; i < kStaymarkerColumns.size(); ++i) {
        if (i)
            out += ',';
        AppendJsonString(out, std::string(kStaymarkerColumns[i].name));
        out += ':';
        AppendJsonString(out, row.*kStaymarkerColumns[i].member);
    }
    out += "}\n";
}

// Hands the text of many rows on in pieces of about a megabyte, so that a
// large export is never held whole a second time as text.
class ChunkedWriter {
public:
    explicit ChunkedWriter(ExportOutput& output) : output_(output) {}
    std::string& Buffer() { return buffer_; }
    // After each row: passes the buffer on once it is large enough.
    bool RowDone() { return buffer_.size() < kChunk || Flush(); }
    bool Flush()
    {
        const bool ok = output_.Write(buffer_);
        buffer_.clear();
        return ok;
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    ExportOutput& output_;
    std::string buffer_;
};

// Every hotel as CSV or JSON lines, read and written one row at a time.
// False on a write error (the read stops there); a database error throws.
bool WriteHotels(bool jsonl, ExportOutput& output)
{
    ChunkedWriter writer(output);
    if (!jsonl)
        AppendHotelsCsvHeader(writer.Buffer());
    bool written = true;
    store::ForEachHotel([&](const StaymarkerRow& row) {
        if (jsonl)
            AppendHotelJsonLine(writer.Buffer(), row);
        else
            AppendHotelCsvLine(writer.Buffer(), row);
        written = writer.RowDone();
        return written;
    });
    return written && writer.Flush();
}

void AppendFailuresCsvHeader(std::string& out)
{
    std::vector<std::string> fields;
    for (const store::FailureColumn& column : store::kFailureColumns)
        fields.emplace_back(column.name);
    AppendCsvLine(out, fields);
}

void AppendFailureCsvLine(std::string& out, const store::FailureRecord& row)
{
    std::vector<std::string> fields;
    for (const store::FailureColumn& column : store::kFailureColumns)
        fields.push_back(column.number ? std::to_string(row.*column.number) : row.*column.text);
    AppendCsvLine(out, fields);
}

// Every row of "Failures" as CSV, read and written one row at a time.
bool WriteFailures(ExportOutput& output)
{
    ChunkedWriter writer(output);
    AppendFailuresCsvHeader(writer.Buffer());
    bool written = true;
    store::ForEachFailure([&](const store::FailureRecord& row) {
        AppendFailureCsvLine(writer.Buffer(), row);
        written = writer.RowDone();
        return written;
    });
    return written && writer.Flush();
}

// The summary's entries one by one, as the workbook takes its rows.
void ForEachSummaryEntry(const std::function<bool(const store::DestinationSummary&)>& take)
{
    for (const store::DestinationSummary& entry : store::ReadDestinationSummary())
        if (!take(entry))
            return;
}

const QString kDescription = QStringLiteral(
    "Writes every row of the \"Staymarker\" table of \"Hotels_Db\" (CSV when no format is\n"
    "given), or with --summary one line per destination code: hotels kept, links still\n"
    "waiting in \"Going\", time of the last kept hotel, links and destinations given up,\n"
    "whether it is still to be searched; or with --failures every row of \"Failures\"\n"
    "(what the crawl gave up on) as CSV. The text goes to standard output, or with\n"
    "--output to FILE, which is replaced only once the export is complete.\n"
    "--format xlsx writes one workbook (sheets Hotels, Summary and Failures) and needs\n"
    "--output; a text longer than 32767 characters, the most a cell holds, is cut to\n"
    "that length and the cut texts are counted on standard error.\n"
    "Exit status: 0 done, 1 database or I/O error, 2 wrong usage.");

}  // namespace

std::string HotelsToCsv(const std::vector<StaymarkerRow>& rows)
{
    std::string out;
    AppendHotelsCsvHeader(out);
    for (const StaymarkerRow& row : rows)
        AppendHotelCsvLine(out, row);
    return out;
}

std::string FailuresToCsv(const std::vector<store::FailureRecord>& rows)
{
    std::string out;
    AppendFailuresCsvHeader(out);
    for (const store::FailureRecord& row : rows)
        AppendFailureCsvLine(out, row);
    return out;
}

std::string HotelsToJsonLines(const std::vector<StaymarkerRow>& rows)
{
    std::string out;
    for (const StaymarkerRow& row : rows)
        AppendHotelJsonLine(out, row);
    return out;
}

int RunExport(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    // One row per option; --help and --version come with the command line.
    CommandLine line(
        "hotelcrawler-export",
        QStringLiteral("[--settings FILE] [--format csv|jsonl|xlsx | --summary | --failures] [--output FILE]"),
        kDescription,
        {{{QStringLiteral("format")}, QStringLiteral("csv|jsonl|xlsx"),
          QStringLiteral("The hotels as CSV (the default), JSON lines or an xlsx workbook.")},
         {{QStringLiteral("summary")}, {}, QStringLiteral("One line per destination code instead of the hotels.")},
         {{QStringLiteral("failures")}, {}, QStringLiteral("Every row of \"Failures\" as CSV instead of the hotels.")},
         {{QStringLiteral("output")}, QStringLiteral("FILE"),
          QStringLiteral("Write to FILE (replaced at the end, left as it was when the export fails) "
                         "instead of standard output.")},
         SettingsOption()});
    if (const std::optional<int> done = line.Parse(arguments, out, err))
        return *done;
    const bool formatGiven = line.IsSet(QStringLiteral("format"));
    const QString format = formatGiven ? line.Value(QStringLiteral("format")) : QStringLiteral("csv");
    const bool summary = line.IsSet(QStringLiteral("summary"));
    const bool failures = line.IsSet(QStringLiteral("failures"));
    const bool toFile = line.IsSet(QStringLiteral("output"));
    const QString outputPath = line.Value(QStringLiteral("output"));
    if (format != QLatin1String("csv") && format != QLatin1String("jsonl") && format != QLatin1String("xlsx"))
        return line.UsageError(err, QStringLiteral("unknown format \"%1\"").arg(format));
    if (summary && formatGiven)
        return line.UsageError(err, QStringLiteral("--summary is a table of its own; it takes no --format"));
    if (failures && (summary || formatGiven))
        return line.UsageError(err,
                               QStringLiteral("--failures is a list of its own; it takes no --format or --summary"));
    if (toFile && outputPath.isEmpty())
        return line.UsageError(err, QStringLiteral("--output needs a file name"));
    const bool xlsx = format == QLatin1String("xlsx");
    if (xlsx && !toFile)
        return line.UsageError(err, QStringLiteral("--format xlsx writes a file: name it with --output FILE"));
    if (const std::optional<int> done = ApplySettingsOption(line, err))
        return *done;

    std::optional<ExportOutput> output;
    if (toFile)
        output.emplace(outputPath);
    else
        output.emplace(out);
    // Before the database is read: a file that cannot be written is told at once.
    if (!output->Open())
        return line.Failure(err, output->Problem());
    try {
        bool written = true;
        long long cutTexts = 0;
        // Hotels and failures go from the database to the output a row at a
        // time, so an export of any length takes the memory of a few rows;
        // the summary holds one line per desk and destination.
        if (summary) {
            written = output->Write(SummaryTable(store::ReadDestinationSummary()));
        } else if (failures) {
            written = WriteFailures(*output);
        } else if (xlsx) {
            const WorkbookResult book =
                WriteWorkbook(*output->Device(), {store::ForEachHotel, ForEachSummaryEntry, store::ForEachFailure});
            if (!book.ok)
                return line.Failure(err, QStringLiteral("%1: %2").arg(outputPath, book.problem));
            cutTexts = book.cutTexts;
        } else {
            written = WriteHotels(format == QLatin1String("jsonl"), *output);
        }
        if (!written || !output->Commit())
            return line.Failure(err, output->Problem());
        if (cutTexts > 0)
            err << line.Tool() << ": " << cutTexts << " text(s) longer than " << kCellTextLimit
                << " characters, the most a cell holds, were cut to that length in " << ToAnsi(outputPath)
                << " (csv and jsonl keep them whole)\n";
        return kExitDone;
    } catch (const EDatabaseError& e) {
        // Database errors may quote the connection address.
        return line.Failure(err, platform::MaskPasswords(QString::fromStdString(e.what())));
    }
}

void AppendJsonString(std::string& out, const std::string& text)
{
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                // Bytes from 0x80 up are UTF-8 sequences, valid in JSON text as they are.
                out += ch;
            }
        }
    }
    out += '"';
}

}  // namespace tools
