#pragma once
// The scripts the engine runs in its own world of every page (the page's
// scripts cannot see or change them): the watch that notes when a document
// last changed, the probe that asks how quiet the page is, and the
// serialization of the settled page and the frames it may read.

#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWebEngineScript>

#include <vector>

namespace platform::engine {

// The world our scripts run in.
constexpr quint32 kOurWorld = QWebEngineScript::ApplicationWorld;

// Injected at document creation into every frame: notes the time of the
// last change to the document, and lifts the resource-timing buffer's limit
// so that every answered request is counted.
QWebEngineScript QuietWatchScript();

// Evaluates to [quietMs, answered]: how long the page and its readable
// frames have gone without a change to their documents, and how many of
// their fetch() and XMLHttpRequest requests have been answered.
QString QuietProbeScript();

struct Quiet {
    double quietMs = 0;
    int answered = 0;
};
// The probe's result; quietMs 0 (not quiet) for a result it cannot read.
Quiet ReadQuiet(const QVariant& result);

// Evaluates to {url, html, frames: [{url, html}]}: the page's markup as it
// stands (doctype and document element), and that of each frame and iframe
// whose document the page's origin may read, at most kMaxFrameDepth levels
// and kMaxFrames documents, inner frames before the frame holding them, in
// document order.
QString SerializeScript();

constexpr int kMaxFrameDepth = 3;
constexpr int kMaxFrames = 64;

struct SerializedDocument {
    QUrl address;
    QString html;
};
struct SerializedPage {
    SerializedDocument page;
    std::vector<SerializedDocument> frames;
};
// The serialization's result; false for a result of the wrong shape.
bool ReadSerialized(const QVariant& result, SerializedPage& out);

}  // namespace platform::engine
