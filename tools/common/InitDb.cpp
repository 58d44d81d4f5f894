#include "tools/common/InitDb.h"

#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Desk.h"
#include "store/Names.h"
#include "store/Schema.h"
#include "tools/common/CommandLine.h"
#include "tools/common/ToolSettings.h"

#include <optional>
#include <ostream>

namespace tools {

namespace {

const QString kHandOver = QStringLiteral("hand-over");

// The desk whose work --hand-over moves, checked before the database is
// touched: a bad name, the option twice, or this copy's own desk is wrong
// usage (`desk` is the settings' own). Sets `from` (empty without the
// option); returns the exit code when the tool stops.
std::optional<int> HandOverDesk(const CommandLine& line, const QString& desk, std::ostream& err, QString& from)
{
    const QStringList given = line.Values(kHandOver);
    if (given.isEmpty())
        return std::nullopt;
    if (given.size() > 1)
        return line.UsageError(err, QStringLiteral("--hand-over given more than once"));
    from = given.first();
    if (const QString problem = platform::DeskNameProblem(from); !problem.isEmpty())
        return line.UsageError(err, QStringLiteral("--hand-over: %1").arg(problem));
    // The receiving desk is the settings' own; handing a desk to itself
    // would move nothing and usually means the wrong settings file.
    if (from == desk)
        return line.UsageError(err, QStringLiteral("--hand-over: \"%1\" is the desk of these settings ([desk] name); "
                                                   "give the settings of the desk that takes the work over")
                                        .arg(from));
    return std::nullopt;
}

}  // namespace

int RunInitDb(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    // One row per option; --help and --version come with the command line.
    CommandLine line("hotelcrawler-initdb", QStringLiteral("[--settings FILE] [--hand-over DESK]"),
                     QStringLiteral("Creates the tables \"Going\", \"Staymarker\", \"Failures\" and \"Destinations\" of\n"
                                    "the database \"Hotels_Db\" when they are missing, and upgrades tables made by an\n"
                                    "earlier version in place (no row is changed or lost); says what it changed.\n"
                                    "Exit status: 0 done, 1 database error (or a hand-over refused), 2 wrong usage."),
                     {SettingsOption(),
                      {{kHandOver},
                       QStringLiteral("DESK"),
                       QStringLiteral("After the tables, move the pending work of desk DESK (its rows of \"Going\", "
                                      "\"Destinations\" and \"Failures\") to the desk of the settings ([desk] name), "
                                      "in one transaction. Refused while either desk runs.")}});
    if (const std::optional<int> done = line.Parse(arguments, out, err))
        return *done;
    if (const std::optional<int> done = ApplySettingsOption(line, err))
        return *done;
    const QString desk = platform::CurrentSettings().deskName;
    QString handOverFrom;
    if (const std::optional<int> done = HandOverDesk(line, desk, err, handOverFrom))
        return *done;
    try {
        const platform::DatabaseTarget target = platform::ResolveAlias(store::kHotelsDb);
        // Host, port and name only: the user and password are not shown.
        const QString where = target.kind == platform::DatabaseTarget::Kind::SQLite
            ? target.sqlitePath
            : QStringLiteral("postgresql://%1:%2/%3").arg(target.host).arg(target.port).arg(target.dbName);
        QStringList upgraded;
        const QStringList created = store::EnsureHotelsDbTables(store::kHotelsDb, &upgraded);
        for (const QString& table : {QStringLiteral("Going"), QStringLiteral("Staymarker"), QStringLiteral("Failures"),
                                     QStringLiteral("Destinations")})
            out << (created.contains(table) ? "created table \"" : "table exists: \"") << ToAnsi(table)
                << "\" in " << ToAnsi(where) << "\n";
        for (const QString& change : upgraded)
            out << "upgraded: " << ToAnsi(change) << "\n";
        // After the upgrade, so the tables have their "Desk" columns.
        if (!handOverFrom.isEmpty())
            for (const QString& moved : store::HandOver(handOverFrom, desk))
                out << ToAnsi(moved) << "\n";
        return kExitDone;
    } catch (const EDatabaseError& e) {
        // Database errors may quote the connection address.
        return line.Failure(err, platform::MaskPasswords(QString::fromStdString(e.what())));
    }
}

}  // namespace tools
