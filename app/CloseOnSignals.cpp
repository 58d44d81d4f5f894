#include "app/CloseOnSignals.h"

#include "platform/base/Report.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QSet>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int wakeUp[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

extern "C" void OnCloseSignal(int)
{
    // Only async-signal-safe work here; write may change errno under the
    // code the signal interrupted.
    const int savedErrno = errno;
    signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &byte, 1);
    errno = savedErrno;
}

// Ends a modal box's own event loop, as if its Cancel or Escape was pressed,
// so that the code that opened it carries on towards the close.
void Dismiss(QWidget* modal)
{
    // Nobody will read the box any more; its text still reaches the operator.
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        platform::ReportLine(QCoreApplication::applicationName() + QStringLiteral(": ") + box->text());
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

}  // namespace

CloseOnSignals::CloseOnSignals(std::function<QWidget*()> window, QObject* parent)
    : QObject(parent), window_(std::move(window))
{
    signalled = 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeUp) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(wakeUp[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const auto got = ::read(wakeUp[0], &byte, 1);
        Act();
    });
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

CloseOnSignals::~CloseOnSignals()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    if (watchingBoxes_ && qApp)
        qApp->removeEventFilter(this);
    notifier_.reset();
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

bool CloseOnSignals::Requested() const
{
    return signalled != 0;
}

void CloseOnSignals::Act()
{
    // A box's loop is nested in the code that opened it (a handler, the
    // window's construction, the refusal of a second copy): until the box
    // goes, that code cannot go on to the close. The boxes go first, the
    // innermost first; a box that refuses is asked once only.
    QSet<QWidget*> asked;
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (asked.contains(modal))
            break;
        asked.insert(modal);
        Dismiss(modal);
    }
    // A box shown later (one the close handler raises, say) would hold the
    // end up again.
    if (!watchingBoxes_ && qApp) {
        qApp->installEventFilter(this);
        watchingBoxes_ = true;
    }
    // A window not shown yet is still being built: closing it now would run
    // its close handler before its construction has finished.
    if (QWidget* w = window_(); w && w->isVisible())
        w->close();
}

bool CloseOnSignals::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // A box is shown before its event loop starts; dismissing it at once
        // would leave that loop waiting for a box that is gone.
        if (widget->isWindow() && widget->isModal())
            QMetaObject::invokeMethod(
                widget,
                [widget] {
                    if (widget->isVisible())
                        Dismiss(widget);
                },
                Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}
