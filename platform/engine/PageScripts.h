#pragma once
// The scripts the engine runs in its own world of every page (the page's
// scripts cannot see or change them): the watch that notes when a document
// last changed, the probe that asks how quiet the page is, and the
// serialization of the settled page and the frames it may read.

#include <QByteArray>
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

// Evaluates to {url, size, html, frames: [{url, size, html}]}: the page's
// markup as it stands (doctype and document element, as UTF-8 bytes of
// `size`), and that of each frame and iframe whose document the page's
// origin may read, at most kMaxFrameDepth levels and kMaxFrames documents
// (FrameLimits.h), inner frames before the frame holding them, in document
// order. When the documents come to more than kSliceBytes in all, `html` is
// left out everywhere and the markup is read with SliceScript.
QString SerializeScript();

// The most markup one reading hands over. Each reading is copied a few times
// on the window's thread on its way from the page: a big page comes in
// slices, one a turn, so the window never waits long for any of them.
constexpr qsizetype kSliceBytes = 512 * 1024;

// Evaluates to the bytes [from, from + length) of the last serialization's
// `document` (0 the page, then the frames in the order listed), or null when
// the page has moved on since. `last` lets the page drop what it kept.
QString SliceScript(int document, qsizetype from, qsizetype length, bool last);

struct SerializedDocument {
    QUrl address;
    QByteArray html;  // UTF-8
};
struct SerializedPage {
    SerializedDocument page;
    std::vector<SerializedDocument> frames;
};
// The serialization's result; false for a result of the wrong shape. The
// bytes still to read with SliceScript go to `pending`, one count for the
// page and one for each frame (all 0 when the markup came whole).
bool ReadSerialized(const QVariant& result, SerializedPage& out, std::vector<qsizetype>& pending);
// Appends a slice's bytes to `into`; false when the result is no slice.
bool ReadSlice(const QVariant& result, QByteArray& into);

}  // namespace platform::engine
