#include "tools/common/InitDb.h"

#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Schema.h"
#include "tools/common/ToolSettings.h"

#include <ostream>

namespace tools {

namespace {
const AnsiString kAlias = "Hotels_Db";
}  // namespace

int RunInitDb(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    QStringList args = arguments;
    const SettingsOption settings = TakeSettingsOption(args, "hotelcrawler-initdb", err);
    if (settings == SettingsOption::Failed || !args.isEmpty()) {
        if (!args.isEmpty() && settings != SettingsOption::Failed)
            err << "hotelcrawler-initdb: unexpected argument \"" << ToAnsi(args.first()) << "\"\n";
        err << "usage: hotelcrawler-initdb [--settings FILE]\n"
               "Creates the tables \"Going\", \"Staymarker\", \"Failures\" and \"Destinations\" of\n"
               "the database \"Hotels_Db\" when they are missing, and upgrades tables made by an\n"
               "earlier version in place (no row is changed or lost); says what it changed.\n"
               "  --settings FILE  read the settings from FILE instead of\n"
               "                   $XDG_CONFIG_HOME/hotelcrawler/hotelcrawler.ini\n";
        return 2;
    }
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
        return 0;
    } catch (const EDatabaseError& e) {
        // Database errors may quote the connection address.
        err << "hotelcrawler-initdb: " << ToAnsi(platform::MaskPasswords(QString::fromStdString(e.what()))) << "\n";
        return 1;
    }
}

}  // namespace tools
