#pragma once
// The set-up the benchmark programs of the window's code share. Construct
// one at the top of main, then call Run():
// - the program runs as the tests do, on the offscreen platform with private
//   XDG folders (PrivateHome), so the operator's settings and database stay
//   untouched;
// - the benchmark arguments are taken, the application object is created
//   and COM is initialised on the main thread for the object's lifetime;
// - the default settings are in force (no settings file is read); a
//   benchmark that needs others sets them before Run(); the browser
//   profile is the default desk's whatever they name;
// - pages load with our own engine unless HC_BENCH_ENGINE=chromium (a
//   benchmark comparing the engines chooses for itself);
// - with `quiet`, message boxes (a failed load's, say) are swallowed while
//   the benchmarks run instead of filling standard error.

#include "bench/PrivateHome.h"
#include "platform/engine/DeskProfile.h"
#include "platform/engine/Engine.h"
#include "platform/html/Com.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "platform/toolkit/MessageSink.h"

#include <benchmark/benchmark.h>

#include <optional>

class BenchApp {
public:
    BenchApp(int& argc, char** argv) : arguments_(argc, argv), app_(argc, argv)
    {
        CoInitialize(nullptr);
        platform::SetSettings(platform::Settings{});
        platform::engine::UseEngine(qgetenv("HC_BENCH_ENGINE") == "chromium" ? platform::BrowserEngine::Chromium
                                                                               : platform::BrowserEngine::Html);
        platform::engine::UseDesk(platform::CurrentSettings().deskName);
    }
    ~BenchApp() { CoUninitialize(); }
    BenchApp(const BenchApp&) = delete;
    BenchApp& operator=(const BenchApp&) = delete;

    // False when the private folders could not be made; main then returns 2
    // without running anything.
    bool isValid() const { return home.isValid(); }

    // Puts settings in force whose site host goes to a closed loopback port
    // (every page load fails at once and nothing leaves the machine), whose
    // timers tick every `timerIntervalMs` and whose "Hotels_Db" is
    // `hotelsDb` (the settings' text; empty: the default file).
    static void UseOfflineSite(int timerIntervalMs, const QString& hotelsDb = QString())
    {
        platform::Settings settings;
        settings.routes.push_back({QStringLiteral("hotels.example"), 80, QStringLiteral("127.0.0.1"), 1});
        settings.timerIntervalMs = timerIntervalMs;
        settings.hotelsDb = hotelsDb;
        platform::SetSettings(settings);
    }

    // Runs the benchmarks the arguments selected; returns main's exit code.
    int Run(bool quiet = false)
    {
        Swallow swallow;
        std::optional<ScopedMessageSink> quieted;
        if (quiet)
            quieted.emplace(swallow);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    }

    PrivateHome home;  // first: it sets the environment the others read

private:
    struct Arguments {
        Arguments(int& argc, char** argv) { benchmark::Initialize(&argc, argv); }
    };
    class Swallow final : public MessageSink {
        void Message(const QString&) override {}
        void Error(const QString&) override {}
    };

    Arguments arguments_;
    TApplication app_;
};
