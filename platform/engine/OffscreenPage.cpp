#include "platform/engine/OffscreenPage.h"

#include "platform/base/ReleaseOrder.h"
#include "platform/engine/DeskProfile.h"
#include "platform/engine/GuardedPage.h"

#include <QApplication>
#include <QPointer>
#include <QWebEngineView>

namespace platform::engine {

namespace {

// Holds the unshown view for the application object, which a widget cannot
// have as its parent.
class Holder final : public QObject {
public:
    explicit Holder(QObject* parent) : QObject(parent)
    {
        setProperty(kReleaseBeforeApplication, true);
        view.setAttribute(Qt::WA_DontShowOnScreen);
        page = new GuardedPage(&view);
        view.setPage(page);
        view.resize(1280, 1024);
    }
    QWebEngineView view;
    GuardedPage* page;
};

}  // namespace

GuardedPage* OffscreenPage()
{
    static QPointer<Holder> holder;
    if (!holder) {
        // The profile first, so that it goes after the page (see ~TApplication).
        DeskProfile();
        holder = new Holder(qApp);
    }
    return holder->page;
}

}  // namespace platform::engine
