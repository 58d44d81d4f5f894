#pragma once
// The "--settings FILE" option of the command-line tools: the settings are
// read from FILE instead of $XDG_CONFIG_HOME/hotelcrawler/hotelcrawler.ini.
// Qt takes relative XDG folders for unset ones, so naming the file is the
// dependable way to point a tool at a particular installation (the demo's).

#include "tools/common/CommandLine.h"

#include <QString>

#include <iosfwd>
#include <optional>
#include <string>

namespace tools {

// Reads the settings file at `path` (relative to the current directory) and
// makes it the settings in force. Problems in its text are written on `err`
// as "TOOL: PATH: problem", one per line, and the defaults stand for those
// keys. Returns false, with "TOOL: cannot read settings file ..." on `err`
// and the settings in force unchanged, when the file is missing or unreadable.
bool ApplySettingsFile(const QString& path, const std::string& tool, std::ostream& err);

// The "--settings FILE" option, for the option table of a tool that reads
// the settings.
ToolOption SettingsOption();

// After `line` is parsed: with --settings, reads FILE (ApplySettingsFile).
// Returns nothing when the tool goes on (no --settings, or FILE now in
// force); kExitUsage, after the problem and the usage on `err`, when FILE
// cannot be read or the option is given more than once.
std::optional<int> ApplySettingsOption(const CommandLine& line, std::ostream& err);

}  // namespace tools
