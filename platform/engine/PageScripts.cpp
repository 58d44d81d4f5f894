#include "platform/engine/PageScripts.h"

#include "platform/base/FrameLimits.h"

#include <QVariantList>
#include <QVariantMap>

namespace platform::engine {

QWebEngineScript QuietWatchScript()
{
    QWebEngineScript script;
    script.setName(QStringLiteral("hotelcrawler-quiet-watch"));
    script.setWorldId(kOurWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QStringLiteral(R"JS(
(() => {
  if (window.__hcQuiet) return;
  const quiet = window.__hcQuiet = { last: performance.now() };
  try { performance.setResourceTimingBufferSize(1000000); } catch (e) {}
  new MutationObserver(() => { quiet.last = performance.now(); })
    .observe(document, { subtree: true, childList: true, attributes: true, characterData: true });
})();
)JS"));
    return script;
}

QString QuietProbeScript()
{
    return QStringLiteral(R"JS(
(() => {
  let quietMs = Infinity, answered = 0;
  const visit = (w, depth) => {
    try {
      // A frame without the watch (an initial about:blank one, say) has
      // nothing of ours to wait for.
      const q = w.__hcQuiet;
      if (q) quietMs = Math.min(quietMs, w.performance.now() - q.last);
      for (const e of w.performance.getEntriesByType('resource'))
        if (e.initiatorType === 'fetch' || e.initiatorType === 'xmlhttprequest') ++answered;
      if (depth < 3)
        for (let i = 0; i < w.frames.length; ++i) visit(w.frames[i], depth + 1);
    } catch (e) { /* a frame of another origin: not ours to read */ }
  };
  visit(window, 0);
  return [quietMs === Infinity ? 0 : quietMs, answered];
})()
)JS");
}

Quiet ReadQuiet(const QVariant& result)
{
    const QVariantList list = result.toList();
    if (list.size() != 2)
        return {};
    return {list[0].toDouble(), list[1].toInt()};
}

QString SerializeScript()
{
    return QStringLiteral(R"JS(
(() => {
  // UTF-8 bytes in ArrayBuffers: the engine hands those over as they are,
  // where a big page's string would be converted on the window's thread.
  const encoder = new TextEncoder();
  const markup = d => encoder.encode((d.doctype ? new XMLSerializer().serializeToString(d.doctype) : '')
                                     + (d.documentElement ? d.documentElement.outerHTML : ''));
  const frames = [];
  const visit = (w, depth) => {
    for (let i = 0; i < w.frames.length && frames.length < %2; ++i) {
      try {
        const d = w.frames[i].document;
        if (!d || !/^https?:/.test(d.URL)) continue;
        if (depth < %1) visit(w.frames[i], depth + 1);
        if (frames.length < %2) frames.push({ url: d.URL, bytes: markup(d) });
      } catch (e) { /* a frame of another origin: not ours to read */ }
    }
  };
  visit(window, 1);
  const docs = [{ url: document.URL, bytes: markup(document) }, ...frames];
  const whole = docs.reduce((n, d) => n + d.bytes.length, 0) <= %3;
  // Kept for the slices of a page too big to come whole.
  window.__hcSerialized = whole ? null : docs.map(d => d.bytes);
  const out = d => whole ? { url: d.url, size: d.bytes.length, html: d.bytes.buffer }
                         : { url: d.url, size: d.bytes.length };
  return { ...out(docs[0]), frames: docs.slice(1).map(out) };
})()
)JS")
        .arg(kMaxFrameDepth)
        .arg(kMaxFrames)
        .arg(kSliceBytes);
}

QString SliceScript(int document, qsizetype from, qsizetype length, bool last)
{
    return QStringLiteral(R"JS(
(() => {
  const docs = window.__hcSerialized;
  const d = docs && docs[%1];
  if (!d) return null;
  const slice = d.slice(%2, %2 + %3).buffer;
  if (%4) window.__hcSerialized = null;
  return slice;
})()
)JS")
        .arg(document)
        .arg(from)
        .arg(length)
        .arg(last ? QStringLiteral("true") : QStringLiteral("false"));
}

namespace {

SerializedDocument ReadDocument(const QVariantMap& map, qsizetype& pending)
{
    const QVariant html = map.value(QStringLiteral("html"));
    pending = html.isValid() ? 0 : map.value(QStringLiteral("size")).toLongLong();
    return {QUrl(map.value(QStringLiteral("url")).toString()), html.toByteArray()};
}

}  // namespace

bool ReadSerialized(const QVariant& result, SerializedPage& out, std::vector<qsizetype>& pending)
{
    const QVariantMap map = result.toMap();
    if (!map.contains(QStringLiteral("size")))
        return false;
    pending.assign(1, 0);
    out.page = ReadDocument(map, pending[0]);
    out.frames.clear();
    for (const QVariant& frame : map.value(QStringLiteral("frames")).toList()) {
        pending.push_back(0);
        out.frames.push_back(ReadDocument(frame.toMap(), pending.back()));
    }
    return true;
}

bool ReadSlice(const QVariant& result, QByteArray& into)
{
    if (result.typeId() != QMetaType::QByteArray)
        return false;
    into += result.toByteArray();
    return true;
}

}  // namespace platform::engine
