#include "tools/common/Export.h"

#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Failures.h"
#include "store/Staymarker.h"
#include "store/Summary.h"
#include "tools/common/CommandLine.h"
#include "tools/common/SummaryTable.h"
#include "tools/common/ToolSettings.h"

#include <cstdio>
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

const QString kDescription = QStringLiteral(
    "Writes every row of the \"Staymarker\" table of \"Hotels_Db\" to standard output\n"
    "(CSV when no format is given), or with --summary one line per destination code:\n"
    "hotels kept, links still waiting in \"Going\", time of the last kept hotel, links\n"
    "and destinations given up, whether it is still to be searched; or with\n"
    "--failures every row of \"Failures\" (what the crawl gave up on) as CSV.\n"
    "Exit status: 0 done, 1 database error, 2 wrong usage.");

}  // namespace

std::string HotelsToCsv(const std::vector<StaymarkerRow>& rows)
{
    std::string out;
    std::vector<std::string> fields;
    for (const auto& column : kStaymarkerColumns)
        fields.emplace_back(column.name);
    AppendCsvLine(out, fields);
    for (const StaymarkerRow& row : rows) {
        fields.clear();
        for (const auto& column : kStaymarkerColumns)
            fields.push_back(row.*column.member);
        AppendCsvLine(out, fields);
    }
    return out;
}

std::string FailuresToCsv(const std::vector<store::FailureRecord>& rows)
{
    std::string out;
    AppendCsvLine(out, {"Kind", "Url", "AirPort", "Reason", "Attempts", "FailedAt"});
    for (const store::FailureRecord& row : rows)
        AppendCsvLine(out, {row.kind, row.url, row.airPort, row.reason, std::to_string(row.attempts), row.failedAt});
    return out;
}

std::string HotelsToJsonLines(const std::vector<StaymarkerRow>& rows)
{
    std::string out;
    for (const StaymarkerRow& row : rows) {
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
    return out;
}

int RunExport(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    // One row per option; --help and --version come with the command line.
    CommandLine line("hotelcrawler-export", QStringLiteral("[--settings FILE] [--format csv|jsonl | --summary | --failures]"),
                     kDescription,
                     {{{QStringLiteral("format")}, QStringLiteral("csv|jsonl"),
                       QStringLiteral("The hotels as CSV (the default) or JSON lines.")},
                      {{QStringLiteral("summary")}, {}, QStringLiteral("One line per destination code instead of the hotels.")},
                      {{QStringLiteral("failures")}, {}, QStringLiteral("Every row of \"Failures\" as CSV instead of the hotels.")},
                      SettingsOptionSpec()});
    if (const std::optional<int> done = line.Parse(arguments, out, err))
        return *done;
    const bool formatGiven = line.IsSet(QStringLiteral("format"));
    const QString format = formatGiven ? line.Value(QStringLiteral("format")) : QStringLiteral("csv");
    const bool summary = line.IsSet(QStringLiteral("summary"));
    const bool failures = line.IsSet(QStringLiteral("failures"));
    if (format != QLatin1String("csv") && format != QLatin1String("jsonl"))
        return line.UsageError(err, QStringLiteral("unknown format \"%1\"").arg(format));
    if (summary && formatGiven)
        return line.UsageError(err, QStringLiteral("--summary is a table of its own; it takes no --format"));
    if (failures && (summary || formatGiven))
        return line.UsageError(err,
                               QStringLiteral("--failures is a list of its own; it takes no --format or --summary"));
    if (const std::optional<int> done = ApplySettingsOption(line, err))
        return *done;
    const bool jsonl = format == QLatin1String("jsonl");
    try {
        if (summary) {
            out << SummaryTable(store::ReadDestinationSummary());
        } else if (failures) {
            out << FailuresToCsv(store::ReadFailures());
        } else {
            const std::vector<StaymarkerRow> rows = store::ReadAllHotels();
            out << (jsonl ? HotelsToJsonLines(rows) : HotelsToCsv(rows));
        }
        out.flush();
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
