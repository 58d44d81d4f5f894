// hotelcrawler-export on large databases: 100,000 and 1,000,000 hotels of
// about 2 KB of section text each (words drawn by a fixed-seed generator, a
// few of them not ASCII, some formula leaders), and a tenth as many rows of
// "Failures". Each export is the built program, run as a child process with
// --settings and --output as an operator runs it, so that the peak memory
// measured is the export's own and nothing of the filling.
//
//   BM_Export/<format>/<engine>/hotels:N   format csv, jsonl, xlsx (the
//                                          workbook, all three sheets),
//                                          summary or failures
//
// Counters:
//   peak_rss_mb  the child's peak resident memory (ru_maxrss from wait4),
//                the largest of the runs
//   us_per_row   wall time of one export per row written (hotels; failures
//                for --failures; hotels counted for --summary); it includes
//                the wait for the disk, as the file is flushed to it before
//                it takes FILE's place
//   cpu_us_per_row  the same in processor time (the child's user and system
//                time), which the disk does not blur
//   file_mb      the size of the file written
//
// Engines: SQLite, a file in a temporary folder; PostgreSQL at
// $HC_TEST_POSTGRES_URL (those cases end with an error line when it is
// unset; the tables there are dropped and filled anew for each size). A
// million hotels make a 4 GB SQLite file and take a minute or two to fill, so
// that case is for hand runs only, one size and engine at a time:
//
//   build/bench/export_bench --benchmark_filter='/SQLite/hotels:1000000'
//
// HC_EXPORT_BENCH_DIR=FOLDER keeps the SQLite files there and uses them
// again in later runs instead of filling them anew.

#include "bench/PrivateHome.h"
#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Names.h"
#include "store/Schema.h"
#include "store/Staymarker.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

enum Engine { kSQLite = 0, kPostgreSQL = 1 };

PrivateHome* Home = nullptr;
QString Folder;  // where the SQLite files and the exports go

// Text of about `bytes` bytes: words from a small list, as descriptions are.
std::string Words(std::mt19937& random, std::size_t bytes)
{
    static const char* const kWords[] = {"hotel", "room", "breakfast", "harbour", "station", "minutes", "walk",
                                         "free", "wifi", "parking", "Østerdalen", "café", "view", "quiet", "bar",
                                         "family", "terrace", "airport", "shuttle", "=1+1"};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kWords) - 1);
    std::string text;
    while (text.size() < bytes) {
        if (!text.empty())
            text += ' ';
        text += kWords[pick(random)];
    }
    return text;
}

// Hotel `i`, extracted in the order of its number, one second apart.
store::StaymarkerRow Hotel(std::mt19937& random, long i)
{
    store::StaymarkerRow row;
    row.Url = "http://hotels.example/hotsdetail.ctl?hotel=osl-" + std::to_string(i);
    row.AirPort = i % 3 == 0 ? "osl" : i % 3 == 1 ? "adl" : "krk";
    row.HeaderBar = "Hotel " + Words(random, 20) + " Avg Price " + std::to_string(500 + i % 1000);
    row.HotelInfo = Words(random, 400);
    row.Direction = Words(random, 300);
    row.Dining = Words(random, 200);
    row.Transportation = Words(random, 200);
    row.PropertyInformation = Words(random, 300);
    row.Services = Words(random, 300);
    row.RatingsAwards = Words(random, 100);
    row.Attractions = Words(random, 200);
    row.PhotoUrl = "http://hotels.example:80/hotsphoto.ctl?hotel=osl-" + std::to_string(i);
    char at[32];
    std::snprintf(at, sizeof at, "2024-05-%02ldT%02ld:%02ld:%02ldZ", 1 + i / 86400 % 28, i / 3600 % 24, i / 60 % 60,
                  i % 60);
    row.ExtractedAt = at;
    row.Desk = "bench";
    return row;
}

// Inserts rows in statements of kRowsPerStatement rows; `values(i, row)`
// gives row i's values. False (said on standard error) on a failure.
constexpr long kRowsPerStatement = 100;

template <class Values>
bool InsertRows(QSqlDatabase& db, const QString& table, const QStringList& columns, long rows, Values&& values)
{
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    const QString one = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    const QString head = QStringLiteral("INSERT INTO \"%1\" (%2) VALUES ").arg(table, columns.join(QLatin1Char(',')));
    QSqlQuery full(db);
    QStringList many;
    for (long i = 0; i < kRowsPerStatement; ++i)
        many << one;
    if (!full.prepare(head + many.join(QLatin1Char(',')))) {
        std::fprintf(stderr, "export_bench: %s\n", qPrintable(full.lastError().text()));
        return false;
    }
    for (long from = 0; from < rows; from += kRowsPerStatement) {
        const long n = std::min(kRowsPerStatement, rows - from);
        QSqlQuery rest(db);
        QSqlQuery& q = n == kRowsPerStatement ? full : rest;
        if (n != kRowsPerStatement)
            rest.prepare(head + many.mid(0, n).join(QLatin1Char(',')));
        for (long i = from; i < from + n; ++i)
            for (const QVariant& v : values(i))
                q.addBindValue(v);
        if (!q.exec()) {
            std::fprintf(stderr, "export_bench: %s\n", qPrintable(q.lastError().text()));
            return false;
        }
    }
    return true;
}

// Fills the database the settings in force name with `hotels` hotels and a
// tenth as many failures, its tables made anew.
bool Fill(long hotels)
{
    try {
        store::EnsureHotelsDbTables(store::kHotelsDb);
    } catch (const EDatabaseError& e) {
        std::fprintf(stderr, "export_bench: %s\n", e.what());
        return false;
    }
    const QString name = QStringLiteral("export_bench_fill");
    bool ok = true;
    {
        QSqlDatabase db = OpenAliasDatabase(store::kHotelsDb, name);
        QSqlQuery q(db);
        if (db.driverName() == QLatin1String("QSQLITE"))
            q.exec(QStringLiteral("PRAGMA synchronous = OFF"));  // scratch data: no need to reach the disk
        else
            q.exec(QStringLiteral("SET statement_timeout = 0"));
        for (const char* table : store::kTables)
            ok = ok && q.exec(QStringLiteral("DELETE FROM \"%1\"").arg(QLatin1String(table)));
        std::mt19937 random(7);
        QStringList hotelColumns;
        for (const auto& c : store::kStaymarkerColumns)
            hotelColumns << QStringLiteral("\"%1\"").arg(QString::fromUtf8(c.name.data(), qsizetype(c.name.size())));
        ok = ok && db.transaction()
             && InsertRows(db, QStringLiteral("Staymarker"), hotelColumns, hotels,
                           [&](long i) {
                               const store::StaymarkerRow row = Hotel(random, i);
                               QVariantList values;
                               for (const auto& c : store::kStaymarkerColumns)
                                   values << QString::fromStdString(row.*c.member);
                               return values;
                           })
             && InsertRows(db, QStringLiteral("Failures"),
                           {QStringLiteral("\"Kind\""), QStringLiteral("\"Url\""), QStringLiteral("\"AirPort\""),
                            QStringLiteral("\"Reason\""), QStringLiteral("\"Attempts\""), QStringLiteral("\"FailedAt\""),
                            QStringLiteral("\"Desk\"")},
                           hotels / 10,
                           [](long i) {
                               return QVariantList{QStringLiteral("link"),
                                                   QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=gone-%1").arg(i),
                                                   QStringLiteral("osl"), QStringLiteral("HTTP 404"), 1,
                                                   QStringLiteral("2024-05-01T12:00:00Z"), QStringLiteral("bench")};
                           })
             && db.commit();
        if (!ok)
            std::fprintf(stderr, "export_bench: cannot fill the database: %s\n", qPrintable(db.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// The settings file naming the database of `hotels` hotels on `engine`,
// filled when it is not yet; empty when that failed.
QString Database(Engine engine, long hotels)
{
    static QString filledPostgres;  // "<hotels>" of the PostgreSQL tables filled last
    const QString ini = QStringLiteral("%1/%2-%3.ini").arg(Folder, engine == kSQLite ? "sqlite" : "postgres").arg(hotels);
    QString setting;
    if (engine == kSQLite) {
        const QString file = QStringLiteral("%1/hotels-%2.sqlite").arg(Folder).arg(hotels);
        setting = QStringLiteral("sqlite:") + file;
        const QString complete = file + QStringLiteral(".complete");
        if (!QFile::exists(complete)) {
            QFile::remove(file);
            platform::Settings settings;
            settings.hotelsDb = setting;
            platform::SetSettings(settings);
            if (!Fill(hotels))
                return {};
            QFile(complete).open(QIODevice::WriteOnly);
        }
    } else {
        setting = qEnvironmentVariable("HC_TEST_POSTGRES_URL");
        if (setting.isEmpty())
            return {};
        if (filledPostgres != QString::number(hotels)) {
            platform::Settings settings;
            settings.hotelsDb = setting;
            platform::SetSettings(settings);
            filledPostgres.clear();
            if (!Fill(hotels))
                return {};
            filledPostgres = QString::number(hotels);
        }
    }
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(("[databases]\nHotels_Db = " + setting + "\n").toUtf8());
    return ini;
}

struct ChildRun {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakRssMb = 0;
};

// Runs `program` with `arguments` and waits for it.
ChildRun RunChild(const QString& program, const QStringList& arguments)
{
    std::vector<QByteArray> texts{program.toLocal8Bit()};
    for (const QString& a : arguments)
        texts.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return run;
}

void BM_Export(benchmark::State& state, const char* format, Engine engine, long hotels)
{
    const QString ini = Database(engine, hotels);
    if (ini.isEmpty()) {
        state.SkipWithError(engine == kPostgreSQL && qEnvironmentVariableIsEmpty("HC_TEST_POSTGRES_URL")
                                ? "HC_TEST_POSTGRES_URL is not set"
                                : "the database could not be filled");
        return;
    }
    const QString what = QLatin1String(format);
    const QString target = QStringLiteral("%1/export-%2.out").arg(Folder, what);
    QStringList arguments{QStringLiteral("--settings"), ini, QStringLiteral("--output"), target};
    if (what == QLatin1String("summary") || what == QLatin1String("failures"))
        arguments << QStringLiteral("--") + what;
    else
        arguments << QStringLiteral("--format") << what;
    const long rows = what == QLatin1String("failures") ? hotels / 10 : hotels;
    double peak = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        const ChildRun run = RunChild(QStringLiteral(HC_EXPORT_EXE), arguments);
        if (run.status != 0) {
            state.SkipWithError("hotelcrawler-export failed (its reason is on standard error)");
            return;
        }
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakRssMb);
        seconds += run.seconds;
        cpuSeconds += run.cpuSeconds;
    }
    state.counters["rows"] = static_cast<double>(rows);
    const auto perRow = [&](double total) {
        return total / static_cast<double>(state.iterations()) * 1e6 / static_cast<double>(rows);
    };
    state.counters["us_per_row"] = perRow(seconds);
    state.counters["cpu_us_per_row"] = perRow(cpuSeconds);
    state.counters["peak_rss_mb"] = peak;
    state.counters["file_mb"] = static_cast<double>(QFileInfo(target).size()) / (1024.0 * 1024.0);
    QFile::remove(target);
}

void Register()
{
    for (const Engine engine : {kSQLite, kPostgreSQL})
        for (const long hotels : {100000L, 1000000L})
            for (const char* format : {"csv", "jsonl", "xlsx", "summary", "failures"}) {
                const std::string name = std::string("BM_Export/") + format + (engine == kSQLite ? "/SQLite" : "/PostgreSQL")
                                         + "/hotels:" + std::to_string(hotels);
                benchmark::RegisterBenchmark(name.c_str(), BM_Export, format, engine, hotels)
                    ->Iterations(hotels > 100000 ? 1 : 3)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
}

}  // namespace

int main(int argc, char** argv)
{
    PrivateHome home;
    if (!home.isValid())
        return 2;
    Home = &home;
    Folder = qEnvironmentVariable("HC_EXPORT_BENCH_DIR");
    if (Folder.isEmpty())
        Folder = home.filePath(QStringLiteral("export"));
    if (!QDir().mkpath(Folder))
        return 2;
    Folder = QDir(Folder).absolutePath();
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);  // Qt Sql drivers need the application object
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
