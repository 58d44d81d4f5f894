// Program entry: the application object, the one main window, the event loop.

#include "app/CloseOnSignals.h"
#include "app/Unit1.h"
#include "store/Schema.h"

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
            qWarning("hotelcrawler: could not prepare the database: %s", e.what());
        }

        // 2. The one main window; its construction runs FormCreate.
        TForm1 form;
        form.show();

        // 3. The message loop, until the main window is closed.
        app.exec();
    } catch (const std::exception& e) {
        app.ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        app.ShowException(QString());
    }
    // 4.
    return 0;
}
