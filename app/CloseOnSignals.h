#pragma once
// Ends the program the normal way when the process receives SIGTERM, SIGINT
// or SIGHUP, so that a crawl stopped from a terminal or by a session logout
// keeps its pending work, whatever the program is doing at that moment.
//
// The signal handler only records the request and writes a byte to a socket
// pair; everything else happens later on the event loop, where Qt may be
// used, including the loop of a modal message box:
//   - every modal box that is up is dismissed (its text goes to standard
//     error, so it is not lost), and so is every modal box shown from then on;
//   - the window is closed, so its close handler runs, if it is shown. A
//     window that is still being built (its construction may show a box) is
//     left alone: whoever builds it asks Requested() afterwards and closes it
//     instead of running the event loop.

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

class QWidget;

class CloseOnSignals : public QObject {
public:
    // Installs the handlers; `window()` is asked for the window to close when
    // a signal arrives (it may return nullptr). One instance per process; a
    // request recorded before it was made does not count.
    explicit CloseOnSignals(std::function<QWidget*()> window, QObject* parent = nullptr);
    // Puts the default handlers back.
    ~CloseOnSignals() override;

    // True once one of the signals has arrived, even while no event loop has
    // run since. Once true, a caller that has not entered the event loop yet
    // closes its window instead of entering it.
    bool Requested() const;

protected:
    // Dismisses the modal boxes shown after the request.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs on the event loop for each signal that arrived.
    void Act();

    std::function<QWidget*()> window_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool watchingBoxes_ = false;
};
