// Program entry: the application object, the one main window, the event loop.

#include "app/CloseOnSignals.h"
#include "app/Unit1.h"
#include "platform/base/Report.h"
#include "platform/engine/DeskProfile.h"
#include "platform/settings/Settings.h"
#include "store/DeskAccess.h"
#include "store/InstanceLock.h"
#include "store/Schema.h"
#include "store/StartUpgrade.h"

#include <exception>

int main(int argc, char** argv)
{
    // 1. Initialise the application object.
    TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("hotelcrawler"));
    app.setApplicationVersion(QStringLiteral(HC_VERSION));
    CloseOnSignals closeOnSignals([]() -> QWidget* { return Form1; });

    try {
        try {
            store::PrepareFirstRun();
        } catch (const std::exception& e) {
            // The window still opens; opening "Going" reports the problem then.
            platform::Report(QStringLiteral("could not prepare the database: ") + QString::fromUtf8(e.what()));
        }

        // Two copies of one desk would delete each other's rows; copies of
        // other desks share the database.
        const QString desk = platform::CurrentSettings().deskName;
        store::InstanceLock lock(desk);
        const store::InstanceLock::Claim claim = lock.Acquire();
        switch (claim.outcome) {
        case store::InstanceLock::Outcome::Held:
            break;
        case store::InstanceLock::Outcome::HeldElsewhere:
            ShowMessage(ToAnsi(QStringLiteral("Another hotelcrawler is already working on \"Hotels_Db\" as desk "
                                              "\"%1\" (%2). Close it first, or give this copy another [desk] name; "
                                              "this one does not start.")
                                   .arg(desk, claim.detail)));
            return 1;
        case store::InstanceLock::Outcome::Unchecked:
            platform::Report(QStringLiteral("could not check that no other copy works as desk \"%1\" on "
                                            "\"Hotels_Db\": ")
                                 .arg(desk)
                             + claim.detail);
            break;
        }
        // The browser keeps its cookies and storage per desk: it works as
        // the desk just claimed, from the window's first page on.
        platform::engine::UseDesk(desk);

        // A database of an earlier version gains, in place, what this one
        // keeps beside the links: their retry state, the failures, the
        // unfinished destination list, the desk of every row. Done once the
        // desk is ours; the rows written before desks then become this
        // desk's, if no other desk took them first. An upgrade that fails
        // here is run again by the write-through before its first write.
        store::UpgradeAtStart(desk);

        // 2. The one main window; its construction runs FormCreate. The
        // desk's work goes through the claim just made.
        TForm1 form{store::DeskAccess(lock)};
        if (closeOnSignals.Requested()) {
            form.close();  // a signal came while it was built: end through its close handler
            return 0;
        }
        form.show();

        // 3. The message loop, until the main window is closed.
        app.exec();
    } catch (const std::exception& e) {
        app.ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        app.ShowException(QString());
    }
    // 4. The program ends.
    return 0;
}
