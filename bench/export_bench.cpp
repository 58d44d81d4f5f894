// hotelcrawler-export's formats on a SQLite database of 100,000 hotels
// (about 2 KB of section text each, words drawn by a fixed-seed generator,
// a few of them not ASCII), each written with --output to a file in a
// temporary folder through tools::RunExport, as the tool does it.
//
//   BM_Export/csv, /jsonl, /xlsx   one export of every hotel (the xlsx one
//                                  also holds the Summary and Failures sheets)
//
// Counters: hotels; file_mb, the size of the file written; peak_rss_mb, the
// process's peak resident memory (getrusage ru_maxrss) after the runs, and
// fill_rss_mb, the same before the first export (the database filled, the
// program loaded). ru_maxrss never goes down, so run one format per process
// to read its peak: --benchmark_filter=BM_Export/xlsx.

#include "bench/PrivateHome.h"
#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Schema.h"
#include "store/Staymarker.h"
#include "tools/common/Export.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDatabase>

#include <sys/resource.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>

namespace {

constexpr long kHotels = 100000;

double PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

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
    row.ExtractedAt = "2024-05-01T12:00:00Z";
    return row;
}

// The database of kHotels rows, filled once in one transaction.
bool Fill(const QString& file)
{
    platform::Settings settings;
    settings.hotelsDb = QStringLiteral("sqlite:") + file;
    platform::SetSettings(settings);
    try {
        store::EnsureHotelsDbTables("Hotels_Db");
        const QString name = QStringLiteral("export_bench_fill");
        {
            QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
            std::mt19937 random(7);
            db.transaction();
            for (long i = 0; i < kHotels; ++i)
                store::UpsertHotel(db, Hotel(random, i));
            if (!db.commit())
                return false;
        }
        QSqlDatabase::removeDatabase(name);
        return true;
    } catch (const EDatabaseError& e) {
        std::fprintf(stderr, "export_bench: %s\n", e.what());
        return false;
    }
}

PrivateHome* Home = nullptr;
double FillRssMb = 0;

void BM_Export(benchmark::State& state, const char* format)
{
    const QString target = Home->filePath(QStringLiteral("export.") + QLatin1String(format));
    const QStringList arguments{QStringLiteral("--format"), QLatin1String(format), QStringLiteral("--output"), target};
    for (auto _ : state) {
        std::ostringstream out, err;
        if (tools::RunExport(arguments, out, err) != 0) {
            state.SkipWithError(err.str().c_str());
            return;
        }
    }
    state.counters["hotels"] = static_cast<double>(kHotels);
    state.counters["file_mb"] = static_cast<double>(QFileInfo(target).size()) / (1024.0 * 1024.0);
    state.counters["fill_rss_mb"] = FillRssMb;
    state.counters["peak_rss_mb"] = PeakRssMb();
}

BENCHMARK_CAPTURE(BM_Export, csv, "csv")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Export, jsonl, "jsonl")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Export, xlsx, "xlsx")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    PrivateHome home;
    if (!home.isValid())
        return 2;
    Home = &home;
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);  // Qt Sql drivers need the application object
    if (!Fill(home.filePath(QStringLiteral("Hotels_Db.sqlite"))))
        return 1;
    FillRssMb = PeakRssMb();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
