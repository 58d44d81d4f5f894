// Entry of every test program: a TApplication on the offscreen platform, and
// private XDG folders so that no test reads or writes the operator's own
// settings or database.

#include "platform/engine/DeskProfile.h"
#include "platform/engine/Engine.h"
#include "platform/toolkit/Forms.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());

    // Our own engine unless HC_TEST_ENGINE=chromium asks for the browser
    // engine: the suite runs on both (see scripts/test).
    platform::engine::UseEngine(qgetenv("HC_TEST_ENGINE") == "chromium" ? platform::BrowserEngine::Chromium
                                                                          : platform::BrowserEngine::Html);
    // The browser profile's desk is the one the settings name by default:
    // the settings themselves are read on first use, which a test may
    // still want to come from a file it writes.
    platform::engine::UseDesk(platform::Settings().deskName);

    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
