#include "tools/common/InitDb.h"

#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Schema.h"
#include "tools/common/CommandLine.h"
#include "tools/common/ToolSettings.h"

#include <optional>
#include <ostream>

namespace tools {

namespace {
const AnsiString kAlias = "Hotels_Db";
}  // namespace

int RunInitDb(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    // One row per option; --help and --version come with the command line.
    CommandLine line("hotelcrawler-initdb", QStringLiteral("[--settings FILE]"),
                     QStringLiteral("Creates the tables \"Going\", \"Staymarker\", \"Failures\" and \"Destinations\" of\n"
                                    "the database \"Hotels_Db\" when they are missing, and upgrades tables made by an\n"
                                    "earlier version in place (no row is changed or lost); says what it changed.\n"
                                    "Exit status: 0 done, 1 database error, 2 wrong usage."),
                     {SettingsOptionSpec()});
    if (const std::optional<int> done = line.Parse(arguments, out, err))
        return *done;
    if (const std::optional<int> done = ApplySettingsOption(line, err))
        return *done;
    try {
        const platform::DatabaseTarget target = platform::ResolveAlias(kAlias);
        // Host, port and name only: the user and password are not shown.
        const QString where = target.kind == platform::DatabaseTarget::Kind::SQLite
            ? target.sqlitePath
            : QStringLiteral("postgresql://%1:%2/%3").arg(target.host).arg(target.port).arg(target.dbName);
        QStringList upgraded;
        const QStringList created = store::EnsureHotelsDbTables(kAlias, &upgraded);
        for (const QString& table : {QStringLiteral("Going"), QStringLiteral("Staymarker"), QStringLiteral("Failures"),
                                     QStringLiteral("Destinations")})
            out << (created.contains(table) ? "created table \"" : "table exists: \"") << ToAnsi(table)
                << "\" in " << ToAnsi(where) << "\n";
        for (const QString& change : upgraded)
            out << "upgraded: " << ToAnsi(change) << "\n";
        return kExitDone;
    } catch (const EDatabaseError& e) {
        // Database errors may quote the connection address.
        return line.Failure(err, platform::MaskPasswords(QString::fromStdString(e.what())));
    }
}

}  // namespace tools
