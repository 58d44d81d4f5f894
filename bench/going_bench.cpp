// The pending-work table "Going" at the sizes a long crawl reaches, on SQLite
// (a file in a temporary folder) and on PostgreSQL at $HC_TEST_POSTGRES_URL
// (those cases end with an error line when it is unset; the tables there are
// dropped and made anew).
//
//   BM_WriteThroughAdded    N links written as the crawler queues them: one
//                           GoingWriter::Added of 100 links per result page.
//                           batch_time is the time of one Added.
//   BM_WriteThroughHandled  GoingWriter::Handled of one link (its rows leave
//                           "Going" and its hotel row is stored) while the
//                           table holds N rows; one iteration is one call.
//                           heap_per_call: heap still in use afterwards
//                           (mallinfo2) per call, with the writer gone.
//   BM_SaveAtClose          store::SaveGoing(Replace) of N links over a table
//                           holding the same N rows, as the close finds it
//                           after the write-through kept it in step.
//   BM_SaveAtCloseIntoEmpty the same over an empty table: every row written.
//   BM_LoadAtResume         store::LoadGoing of a table of N rows.
//   BM_OpenConnection       opening and closing one connection, what a write
//                           costs on SQLite beyond its statements.
//
// Every write goes through the program's own connection handling, as the
// window does: on SQLite one connection per write (the figures include
// opening it); on PostgreSQL the desk's connection, kept by the desk's
// instance lock, which each PostgreSQL case holds.

#include "bench/PrivateHome.h"
#include "bench/TypicalHotel.h"
#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "store/Going.h"
#include "store/GoingWriter.h"
#include "store/InstanceLock.h"
#include "store/Schema.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <malloc.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

enum Engine { kSQLite = 0, kPostgreSQL = 1 };

QTemporaryDir* Scratch = nullptr;
// The desk's lock and kept connection of the PostgreSQL cases, as the program holds them.
std::unique_ptr<store::InstanceLock> DeskLock;

// The desk the cases work as: on the kept connection of DeskLock when it is held.
store::DeskAccess Desk()
{
    return DeskLock ? store::DeskAccess(*DeskLock) : store::DeskAccess(platform::CurrentSettings().deskName);
}

// Runs one statement on a connection of its own.
bool Exec(const QString& sql)
{
    const QString name = QStringLiteral("going_bench_exec");
    bool ok = false;
    {
        QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
        QSqlQuery q(db);
        ok = q.exec(sql);
        if (!ok)
            std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// Makes "Hotels_Db" the engine's database with its tables empty; false (and
// the benchmark skipped) when the engine is not available.
bool UseEngine(benchmark::State& state, Engine engine)
{
    platform::Settings settings;
    if (engine == kSQLite) {
        const QString file = Scratch->filePath(QStringLiteral("Hotels_Db.sqlite"));
        QFile::remove(file);
        settings.hotelsDb = QStringLiteral("sqlite:") + file;
    } else {
        settings.hotelsDb = qEnvironmentVariable("HC_TEST_POSTGRES_URL");
        if (settings.hotelsDb.isEmpty()) {
            state.SkipWithError("HC_TEST_POSTGRES_URL is not set");
            return false;
        }
    }
    DeskLock.reset();
    platform::SetSettings(settings);
    try {
        if (engine == kPostgreSQL)
            for (const char* table : {"Going", "Staymarker", "Failures", "Destinations"})
                if (!Exec(QStringLiteral("DROP TABLE IF EXISTS \"%1\"").arg(QLatin1String(table)))) {
                    state.SkipWithError("the old tables could not be dropped");
                    return false;
                }
        store::EnsureHotelsDbTables("Hotels_Db");
        if (engine == kPostgreSQL) {
            DeskLock = std::make_unique<store::InstanceLock>(platform::CurrentSettings().deskName);
            const store::InstanceLock::Claim claim = DeskLock->Acquire();
            if (claim.outcome != store::InstanceLock::Outcome::Held) {
                state.SkipWithError(qPrintable(QStringLiteral("the desk's lock: ") + claim.detail));
                return false;
            }
        }
    } catch (const EDatabaseError& e) {
        state.SkipWithError(e.what());
        return false;
    }
    return true;
}

std::vector<Hotel_Url> Links(long from, long count)
{
    std::vector<Hotel_Url> links;
    links.reserve(static_cast<std::size_t>(count));
    for (long i = from; i < from + count; ++i)
        links.push_back({"http://hotels.example/hotsdetail.ctl?hotel=osl-" + std::to_string(i), "osl"});
    return links;
}

// Fills the empty "Going" with `count` rows in one transaction.
bool Fill(benchmark::State& state, long count)
{
    store::GoingWriter writer{Desk()};
    writer.Added(Links(0, count));
    if (!writer.Flush()) {
        state.SkipWithError("\"Going\" could not be filled");
        return false;
    }
    // A crawl fills the table over hours, and the server's automatic
    // analysis keeps its statistics; a table filled a moment ago has none
    // yet, and the server would look links up through the desk's index.
    Exec(QStringLiteral("ANALYZE \"Going\""));
    return true;
}

void BM_WriteThroughAdded(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    const long total = state.range(1);
    constexpr long kBatch = 100;
    if (!UseEngine(state, engine))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        const bool emptied = Exec(QStringLiteral("DELETE FROM \"Going\""));
        std::vector<std::vector<Hotel_Url>> pages;
        for (long from = 0; from < total; from += kBatch)
            pages.push_back(Links(from, kBatch));
        state.ResumeTiming();
        if (!emptied) {
            state.SkipWithError("\"Going\" could not be emptied");
            break;
        }
        store::GoingWriter writer{Desk()};
        for (const auto& page : pages)
            writer.Added(page);
        if (!writer.Flush()) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * total);
    state.counters["batch_time"] = benchmark::Counter(static_cast<double>(total / kBatch),
                                                      benchmark::Counter::kIsIterationInvariantRate
                                                          | benchmark::Counter::kInvert);
}

void BM_WriteThroughHandled(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    const long rows = state.range(1);
    if (!UseEngine(state, engine) || !Fill(state, rows))
        return;
    // The detail queue takes links from the back; each iteration handles the
    // last link still in the table. The table shrinks by one row per
    // iteration, a negligible change for the iteration counts used here.
    const std::vector<Hotel_Url> links = Links(0, rows);
    long next = rows;
    const auto heapBefore = static_cast<double>(mallinfo2().uordblks);
    auto writer = std::make_unique<store::GoingWriter>(Desk());
    for (auto _ : state) {
        if (next == 0) {
            state.SkipWithError("more iterations than rows");
            break;
        }
        const AnsiString& url = links[static_cast<std::size_t>(--next)].Url;
        writer->Handled(Hotel_Url{url, "osl"}, TypicalHotel(url));
        if (!writer->Flush()) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    writer.reset();
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["heap_per_call"] =
        (static_cast<double>(mallinfo2().uordblks) - heapBefore) / static_cast<double>(state.iterations());
}

void BM_SaveAtClose(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    const long rows = state.range(1);
    if (!UseEngine(state, engine) || !Fill(state, rows))
        return;
    const std::vector<Hotel_Url> links = Links(0, rows);
    for (auto _ : state) {
        if (!store::SaveGoing(Desk(), links, store::GoingSave::Replace).opened) {
            state.SkipWithError("\"Going\" could not be opened");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

void BM_SaveAtCloseIntoEmpty(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    const long rows = state.range(1);
    if (!UseEngine(state, engine))
        return;
    const std::vector<Hotel_Url> links = Links(0, rows);
    for (auto _ : state) {
        state.PauseTiming();
        const bool emptied = Exec(QStringLiteral("DELETE FROM \"Going\""));
        state.ResumeTiming();
        if (!emptied || !store::SaveGoing(Desk(), links, store::GoingSave::Replace).opened) {
            state.SkipWithError("\"Going\" could not be written");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

void BM_LoadAtResume(benchmark::State& state)
{
    const auto engine = static_cast<Engine>(state.range(0));
    const long rows = state.range(1);
    if (!UseEngine(state, engine) || !Fill(state, rows))
        return;
    for (auto _ : state) {
        std::vector<Hotel_Url> loaded;
        if (!store::LoadGoing(Desk(), loaded).opened || static_cast<long>(loaded.size()) != rows) {
            state.SkipWithError("\"Going\" did not load whole");
            break;
        }
        benchmark::DoNotOptimize(loaded.data());
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

void BM_OpenConnection(benchmark::State& state)
{
    if (!UseEngine(state, static_cast<Engine>(state.range(0))))
        return;
    const QString name = QStringLiteral("going_bench_open");
    for (auto _ : state) {
        {
            QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
            benchmark::DoNotOptimize(db.isOpen());
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"engine", "rows"});
    for (long engine : {kSQLite, kPostgreSQL})
        for (long rows : {1'000L, 10'000L, 100'000L})
            b->Args({engine, rows});
}

BENCHMARK(BM_WriteThroughAdded)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteThroughHandled)->Apply(Sizes)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveAtClose)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveAtCloseIntoEmpty)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadAtResume)->Apply(Sizes)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenConnection)->ArgName("engine")->Arg(kSQLite)->Arg(kPostgreSQL)->Iterations(50)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    PrivateHome home;
    if (!home.isValid())
        return 2;
    Scratch = &home.dir;

    benchmark::Initialize(&argc, argv);
    TApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    DeskLock.reset();
    benchmark::Shutdown();
    return 0;
}
