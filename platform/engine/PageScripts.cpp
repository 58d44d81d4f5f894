#include "platform/engine/PageScripts.h"

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
  const markup = d => (d.doctype ? new XMLSerializer().serializeToString(d.doctype) : '')
                      + (d.documentElement ? d.documentElement.outerHTML : '');
  const frames = [];
  const visit = (w, depth) => {
    for (let i = 0; i < w.frames.length && frames.length < %2; ++i) {
      try {
        const d = w.frames[i].document;
        if (!d || !/^https?:/.test(d.URL)) continue;
        if (depth < %1) visit(w.frames[i], depth + 1);
        if (frames.length < %2) frames.push({ url: d.URL, html: markup(d) });
      } catch (e) { /* a frame of another origin: not ours to read */ }
    }
  };
  visit(window, 1);
  return { url: document.URL, html: markup(document), frames };
})()
)JS")
        .arg(kMaxFrameDepth)
        .arg(kMaxFrames);
}

bool ReadSerialized(const QVariant& result, SerializedPage& out)
{
    const QVariantMap map = result.toMap();
    if (!map.contains(QStringLiteral("html")))
        return false;
    out.page = {QUrl(map.value(QStringLiteral("url")).toString()), map.value(QStringLiteral("html")).toString()};
    out.frames.clear();
    for (const QVariant& f : map.value(QStringLiteral("frames")).toList()) {
        const QVariantMap frame = f.toMap();
        out.frames.push_back(
            {QUrl(frame.value(QStringLiteral("url")).toString()), frame.value(QStringLiteral("html")).toString()});
    }
    return true;
}

}  // namespace platform::engine
