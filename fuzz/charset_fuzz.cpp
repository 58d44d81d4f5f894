// Fuzzes charset detection and body decoding. The input is a Content-Type
// header value (its first line, at most 256 bytes) followed by the body.
// Checked besides crashes: every encoding name that comes out is a
// canonical name (it names itself as a label), the precedence of byte order
// mark, header and meta prescan holds, the prescan never answers UTF-16, and
// decoding agrees with the choice for UTF-8 and windows-1252.

#include "fuzz/FuzzSupport.h"
#include "platform/net/Charset.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

namespace {

constexpr qsizetype kMaxHeader = 256;

void CheckCanonical(const QByteArray& name, const char* from)
{
    if (!name.isEmpty() && platform::EncodingForLabel(name) != name)
        fuzz::Fail(from, QString::fromLatin1(name));
}

bool StartsWithBom(const QByteArray& body)
{
    return body.startsWith("\xEF\xBB\xBF") || body.startsWith("\xFE\xFF") || body.startsWith("\xFF\xFE");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    qsizetype newline = input.indexOf('\n');
    if (newline < 0 || newline > kMaxHeader)
        newline = std::min(kMaxHeader, input.size());
    const QByteArray contentType = input.left(newline);
    const QByteArray body = input.mid(newline + 1);

    const QByteArray fromLabel = platform::EncodingForLabel(contentType);
    CheckCanonical(fromLabel, "EncodingForLabel gave a name that is no canonical name");
    const QByteArray charset = platform::CharsetFromContentType(contentType);
    const QByteArray fromHeader = platform::EncodingForLabel(charset);

    const QByteArray fromMeta = platform::PrescanMetaCharset(body);
    CheckCanonical(fromMeta, "PrescanMetaCharset gave a name that is no canonical name");
    if (fromMeta.startsWith("UTF-16"))
        fuzz::Fail("the meta prescan answered UTF-16", QString::fromLatin1(fromMeta));
    if (platform::PrescanMetaCharset(body.left(1024)) != fromMeta)
        fuzz::Fail("the meta prescan looked beyond 1024 bytes");

    const QByteArray chosen = platform::ChooseEncoding(body, contentType);
    if (chosen.isEmpty())
        fuzz::Fail("ChooseEncoding chose nothing");
    CheckCanonical(chosen, "ChooseEncoding gave a name that is no canonical name");
    if (!StartsWithBom(body)) {
        const QByteArray expected = !fromHeader.isEmpty() ? fromHeader
            : !fromMeta.isEmpty()                         ? fromMeta
                                                          : QByteArray("windows-1252");
        if (chosen != expected)
            fuzz::Fail("ChooseEncoding broke the order header, meta, default",
                       QStringLiteral("chose %1, expected %2")
                           .arg(QString::fromLatin1(chosen), QString::fromLatin1(expected)));
    }

    const QString text = platform::DecodeBody(body, contentType);
    if (chosen == "UTF-8") {
        const QByteArray bytes = body.startsWith("\xEF\xBB\xBF") ? body.mid(3) : body;
        if (text != QString::fromUtf8(bytes))
            fuzz::Fail("a UTF-8 body was not decoded as UTF-8");
    } else if (chosen == "windows-1252") {
        // A single-byte encoding whose every byte maps into the BMP.
        if (text.size() != body.size())
            fuzz::Fail("a windows-1252 body did not give one character per byte",
                       QStringLiteral("%1 bytes, %2 characters").arg(body.size()).arg(text.size()));
    }
    return 0;
}
