#pragma once
// The "--settings FILE" option of the command-line tools: the settings are
// read from FILE instead of $XDG_CONFIG_HOME/hotelcrawler/hotelcrawler.ini.
// Qt takes relative XDG folders for unset ones, so naming the file is the
// dependable way to point a tool at a particular installation (the demo's).

#include <QStringList>

#include <iosfwd>
#include <string>

namespace tools {

// Reads the settings file at `path` (relative to the current directory) and
// makes it the settings in force. Problems in its text are written on `err`
// as "TOOL: PATH: problem", one per line, and the defaults stand for those
// keys. Returns false, with "TOOL: cannot read settings file ..." on `err`
// and the settings in force unchanged, when the file is missing or unreadable.
bool ApplySettingsFile(const QString& path, const std::string& tool, std::ostream& err);

enum class SettingsOption {
    Absent,   // no --settings: the default file stays in charge
    Applied,  // the named file is now the settings in force
    Failed,   // message on err; the caller shows its usage and exits with 2
};

// Takes "--settings FILE" and "--settings=FILE" out of `arguments` (the other
// arguments keep their order) and applies the file with ApplySettingsFile.
// The option given twice or without a value is Failed.
SettingsOption TakeSettingsOption(QStringList& arguments, const std::string& tool, std::ostream& err);

}  // namespace tools
