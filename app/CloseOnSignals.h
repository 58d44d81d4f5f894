#pragma once
// Closes the main window the normal way (its close handler runs) when the
// process receives SIGTERM, SIGINT or SIGHUP, so that a crawl stopped from a
// terminal or by a session logout keeps its pending work.
//
// The signal handler only writes a byte to a socket pair; the close happens
// later on the event loop, where Qt may be used.

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

class QWidget;

class CloseOnSignals : public QObject {
public:
    // Installs the handlers; `window()` is asked for the window to close when
    // a signal arrives (it may return nullptr). One instance per process.
    explicit CloseOnSignals(std::function<QWidget*()> window, QObject* parent = nullptr);
    ~CloseOnSignals() override;

private:
    std::function<QWidget*()> window_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
