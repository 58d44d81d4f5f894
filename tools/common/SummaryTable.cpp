#include "tools/common/SummaryTable.h"

#include <QList>
#include <QString>

#include <algorithm>

namespace tools {

namespace {

// Width in characters of UTF-8 text.
std::size_t Width(const std::string& text)
{
    return static_cast<std::size_t>(QString::fromStdString(text).toUcs4().size());
}

void Pad(std::string& line, const std::string& cell, std::size_t width, bool right)
{
    const std::string blanks(width - std::min(width, Width(cell)), ' ');
    line += right ? blanks + cell : cell + blanks;
}

}  // namespace

std::string SummaryTable(const std::vector<store::DestinationSummary>& entries)
{
    // The columns of earlier versions keep their places; the new ones follow.
    const std::vector<std::string> header{"AirPort", "Kept", "Waiting", "Last kept at", "Given up", "State", "Desk"};
    std::vector<std::vector<std::string>> cells;
    for (const store::DestinationSummary& e : entries)
        cells.push_back({e.airPort.empty() ? std::string("(none)") : e.airPort, std::to_string(e.kept),
                         std::to_string(e.waiting), e.lastExtractedAt.empty() ? std::string("-") : e.lastExtractedAt,
                         std::to_string(e.givenUp), e.state, e.desk.empty() ? std::string("(none)") : e.desk});

    std::vector<std::size_t> widths;
    for (const std::string& h : header)
        widths.push_back(Width(h));
    for (const auto& row : cells)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], Width(row[i]));

    const bool rightAligned[] = {false, true, true, false, true, false, false};
    std::string out;
    const auto addLine = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i)
                line += "  ";
            Pad(line, row[i], widths[i], rightAligned[i]);
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + '\n';
    };
    addLine(header);
    for (const auto& row : cells)
        addLine(row);
    return out;
}

}  // namespace tools
