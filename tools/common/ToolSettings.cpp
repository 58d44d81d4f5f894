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

ToolOption SettingsOption()
{
    return {{QStringLiteral("settings")},
            QStringLiteral("FILE"),
            QStringLiteral("Read the settings from FILE (a path from the current directory) instead of "
                           "$XDG_CONFIG_HOME/hotelcrawler/hotelcrawler.ini.")};
}

std::optional<int> ApplySettingsOption(const CommandLine& line, std::ostream& err)
{
    const QStringList files = line.Values(QStringLiteral("settings"));
    if (files.isEmpty())
        return std::nullopt;
    if (files.size() > 1)
        return line.UsageError(err, QStringLiteral("--settings given more than once"));
    if (!ApplySettingsFile(files.first(), line.Tool(), err))
        return line.UsageError(err, QString());
    return std::nullopt;
}

}  // namespace tools
