// Desks writing at once to one PostgreSQL "Hotels_Db" ($HC_TEST_POSTGRES_URL;
// skipped with an error line when unset; its tables are dropped and made
// anew).
//
//   BM_DesksWriting/desks:N/pace_ms:P
//                             N processes, each a desk of its own with its
//                             lock and kept connection as the program holds
//                             them, each holding 1,000 links in "Going", all
//                             write one page every P ms (0: as fast as they
//                             can): GoingWriter::Handled of one link with its
//                             hotel row (about 2 KB). Every write is timed in
//                             its process; the counters are the median and
//                             the 95th percentile over all desks' writes, in ms.
//
// Processes, not threads: each desk is a copy of the program on a machine of
// its own in real use, with its own connection, and Qt Sql connections
// belong to one thread. The real pace is one page per 30 s a desk. At a
// 10 ms pace eight desks write 800 pages a second, still far beyond any
// team, while the machine keeps up: what grows then is what desks cost each
// other in the database. Flat out, the desks' and the server's processes
// share this machine's cores, and the time grows with their number.

#include "bench/PrivateHome.h"
#include "bench/TypicalHotel.h"
#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/GoingWriter.h"
#include "store/InstanceLock.h"
#include "store/Schema.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kLinksPerDesk = 1000;
constexpr int kWritesPerDesk = 200;

std::vector<Hotel_Url> Links(int desk)
{
    std::vector<Hotel_Url> links;
    for (int i = 0; i < kLinksPerDesk; ++i)
        links.push_back({"http://hotels.example/hotsdetail.ctl?hotel=d" + std::to_string(desk) + "-"
                             + std::to_string(i),
                         "osl"});
    return links;
}

// One desk's process: claims its desk, fills its rows, waits for the start
// byte on `go`, writes, and sends its write times (microseconds) on `out`.
[[noreturn]] void RunDesk(int desk, int desks, int paceMs, int go, int out)
{
    int argc = 1;
    char name[] = "desks_bench_desk";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    platform::Settings settings;
    settings.hotelsDb = qEnvironmentVariable("HC_TEST_POSTGRES_URL");
    settings.deskName = QStringLiteral("bench-%1").arg(desk);
    platform::SetSettings(settings);
    std::vector<long> times;
    {
        store::InstanceLock lock(settings.deskName);
        if (lock.Acquire().outcome != store::InstanceLock::Outcome::Held)
            _exit(3);
        store::GoingWriter writer{store::DeskAccess(lock)};
        const std::vector<Hotel_Url> links = Links(desk);
        writer.Added(links);
        char start = 0;
        if (!writer.Flush() || read(go, &start, 1) != 1)
            _exit(4);
        // The desks' slots are spread over the pace, as unrelated machines' are.
        auto slot = std::chrono::steady_clock::now() + std::chrono::microseconds(paceMs * 1000 * desk / desks);
        for (int i = 0; i < kWritesPerDesk; ++i) {
            if (paceMs > 0) {
                std::this_thread::sleep_until(slot);
                slot += std::chrono::milliseconds(paceMs);
            }
            const Hotel_Url& link = links[static_cast<std::size_t>(kLinksPerDesk - 1 - i)];
            const auto began = std::chrono::steady_clock::now();
            writer.Handled(link, TypicalHotel(link.Url));
            times.push_back(static_cast<long>(
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began).count()));
            if (!writer.Flush())
                _exit(5);
        }
    }
    const auto bytes = static_cast<ssize_t>(times.size() * sizeof(long));
    _exit(write(out, times.data(), static_cast<std::size_t>(bytes)) == bytes ? 0 : 6);
}

bool Prepare(benchmark::State& state)
{
    platform::Settings settings;
    settings.hotelsDb = qEnvironmentVariable("HC_TEST_POSTGRES_URL");
    if (settings.hotelsDb.isEmpty()) {
        state.SkipWithError("HC_TEST_POSTGRES_URL is not set");
        return false;
    }
    platform::SetSettings(settings);
    const QString name = QStringLiteral("desks_bench_prepare");
    bool ok = true;
    {
        QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
        QSqlQuery q(db);
        for (const char* table : {"Going", "Staymarker", "Failures", "Destinations"})
            ok = ok && q.exec(QStringLiteral("DROP TABLE IF EXISTS \"%1\"").arg(QLatin1String(table)));
    }
    QSqlDatabase::removeDatabase(name);
    try {
        store::EnsureHotelsDbTables("Hotels_Db");
    } catch (const EDatabaseError& e) {
        state.SkipWithError(e.what());
        return false;
    }
    if (!ok)
        state.SkipWithError("the old tables could not be dropped");
    return ok;
}

void BM_DesksWriting(benchmark::State& state)
{
    const int desks = static_cast<int>(state.range(0));
    const int paceMs = static_cast<int>(state.range(1));
    if (!Prepare(state))
        return;
    for (auto _ : state) {
        int go[2], out[2];
        if (pipe(go) != 0 || pipe(out) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        std::vector<pid_t> children;
        for (int d = 0; d < desks; ++d) {
            const pid_t pid = fork();
            if (pid == 0) {
                // A program of its own, as each desk is: a fresh process image
                // without this one's Qt state.
                const std::string desk = std::to_string(d), all = std::to_string(desks), pace = std::to_string(paceMs),
                                  in = std::to_string(go[0]), to = std::to_string(out[1]);
                execl("/proc/self/exe", "desks_bench", "--desk", desk.c_str(), all.c_str(), pace.c_str(), in.c_str(),
                      to.c_str(), static_cast<char*>(nullptr));
                _exit(7);
            }
            children.push_back(pid);
        }
        close(out[1]);
        // Every desk has filled its rows before any starts writing; the start
        // byte is sent once all are ready (they block on it after filling).
        const auto began = std::chrono::steady_clock::now();
        const std::string start(static_cast<std::size_t>(desks), 's');
        if (write(go[1], start.data(), start.size()) != static_cast<ssize_t>(start.size()))
            state.SkipWithError("cannot start the desks");
        std::vector<long> times(static_cast<std::size_t>(desks * kWritesPerDesk));
        std::size_t got = 0;
        auto* bytes = reinterpret_cast<char*>(times.data());
        for (ssize_t n; got < times.size() * sizeof(long) && (n = read(out[0], bytes + got, times.size() * sizeof(long) - got)) > 0;)
            got += static_cast<std::size_t>(n);
        bool clean = true;
        for (pid_t pid : children) {
            int status = 0;
            waitpid(pid, &status, 0);
            clean = clean && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        close(go[0]);
        close(go[1]);
        close(out[0]);
        if (!clean || got != times.size() * sizeof(long)) {
            state.SkipWithError("a desk failed");
            return;
        }
        std::sort(times.begin(), times.end());
        state.counters["median_ms"] = static_cast<double>(times[times.size() / 2]) / 1000.0;
        state.counters["p95_ms"] = static_cast<double>(times[times.size() * 95 / 100]) / 1000.0;
        state.counters["writes"] = static_cast<double>(times.size());
    }
}

BENCHMARK(BM_DesksWriting)->ArgNames({"desks", "pace_ms"})->ArgsProduct({{1, 4, 8}, {10, 0}})->Iterations(1)
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 7 && std::string(argv[1]) == "--desk")
        RunDesk(std::stoi(argv[2]), std::stoi(argv[3]), std::stoi(argv[4]), std::stoi(argv[5]), std::stoi(argv[6]));
    PrivateHome home;
    if (!home.isValid())
        return 2;
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);  // Qt Sql drivers need the application object
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
