#include "store/Export.h"

#include "platform/DbTables.h"

#include <cstdio>
#include <ostream>

namespace store {

namespace {

void AppendCsvField(std::string& out, const std::string& field)
{
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


void Usage(std::ostream& err)
{
    err << "usage: hotelcrawler-export [--format csv|jsonl]\n"
           "Writes every row of the \"Staymarker\" table of \"Hotels_Db\" to standard output.\n";
}

}  // namespace

std::string HotelsToCsv(const std::vector<StaymarkerRow>& rows)
{
    std::string out;
    const QStringList& columns = StaymarkerColumns();
    for (int i = 0; i < columns.size(); ++i) {
        if (i)
            out += ',';
        AppendCsvField(out, ToAnsi(columns[i]));
    }
    out += "\r\n";
    for (const StaymarkerRow& row : rows) {
        for (int i = 0; i < columns.size(); ++i) {
            if (i)
                out += ',';
            AppendCsvField(out, StaymarkerField(row, i));
        }
        out += "\r\n";
    }
    return out;
}

std::string HotelsToJsonLines(const std::vector<StaymarkerRow>& rows)
{
    std::string out;
    const QStringList& columns = StaymarkerColumns();
    for (const StaymarkerRow& row : rows) {
        out += '{';
        for (int i = 0; i < columns.size(); ++i) {
            if (i)
                out += ',';
            AppendJsonString(out, ToAnsi(columns[i]));
            out += ':';
            AppendJsonString(out, StaymarkerField(row, i));
        }
        out += "}\n";
    }
    return out;
}

int RunExport(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    bool jsonl = false;
    for (int i = 0; i < arguments.size(); ++i) {
        QString value;
        if (arguments[i] == QLatin1String("--format") && i + 1 < arguments.size()) {
            value = arguments[++i];
        } else if (arguments[i].startsWith(QLatin1String("--format="))) {
            value = arguments[i].mid(9);
        } else {
            err << "hotelcrawler-export: unexpected argument \"" << ToAnsi(arguments[i]) << "\"\n";
            Usage(err);
            return 2;
        }
        if (value == QLatin1String("csv")) {
            jsonl = false;
        } else if (value == QLatin1String("jsonl")) {
            jsonl = true;
        } else {
            err << "hotelcrawler-export: unknown format \"" << ToAnsi(value) << "\"\n";
            Usage(err);
            return 2;
        }
    }
    try {
        const std::vector<StaymarkerRow> rows = ReadAllHotels();
        out << (jsonl ? HotelsToJsonLines(rows) : HotelsToCsv(rows));
        out.flush();
        return 0;
    } catch (const EDatabaseError& e) {
        err << "hotelcrawler-export: " << e.what() << "\n";
        return 1;
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

}  // namespace store
