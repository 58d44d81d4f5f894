#include "tools/common/ToolSettings.h"

#include "platform/base/AnsiString.h"
#include "platform/settings/Settings.h"

#include <QFileInfo>

#include <optional>
#include <ostream>

namespace tools {

bool ApplySettingsFile(const QString& path, const std::string& tool, std::ostream& err)
{
    QStringList problems;
    const std::optional<platform::Settings> settings = platform::LoadSettingsFile(path, problems);
    if (!settings) {
        for (const QString& p : problems)
            err << tool << ": " << ToAnsi(p) << "\n";
        return false;
    }
    const std::string shown = ToAnsi(QFileInfo(path).absoluteFilePath());
    for (const QString& p : problems)
        err << tool << ": " << shown << ": " << ToAnsi(p) << "\n";
    platform::SetSettings(*settings);
    return true;
}

SettingsOption TakeSettingsOption(QStringList& arguments, const std::string& tool, std::ostream& err)
{
    std::optional<QString> path;
    QStringList rest;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        std::optional<QString> value;
        if (arg == QLatin1String("--settings")) {
            if (i + 1 >= arguments.size()) {
                err << tool << ": --settings needs a file name\n";
                return SettingsOption::Failed;
            }
            value = arguments[++i];
        } else if (arg.startsWith(QLatin1String("--settings="))) {
            value = arg.mid(11);
        } else {
            rest << arg;
            continue;
        }
        if (path) {
            err << tool << ": --settings given more than once\n";
            return SettingsOption::Failed;
        }
        path = *value;
    }
    if (!path)
        return SettingsOption::Absent;
    // Read before the arguments change, so a failure leaves them as they were.
    if (!ApplySettingsFile(*path, tool, err))
        return SettingsOption::Failed;
    arguments = rest;
    return SettingsOption::Applied;
}

}  // namespace tools
