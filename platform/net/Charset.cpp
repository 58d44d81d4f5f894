#include "platform/net/Charset.h"

#include <QHash>
#include <QStringDecoder>

#include <optional>
#include <utility>

namespace platform {
namespace {

// Encoding labels as browsers read them: canonical name first, then every
// label that stands for it. Several labels that look like a different
// encoding deliberately map elsewhere (ISO-8859-1 and ASCII are decoded as
// windows-1252, ISO-8859-9 as windows-1254), because pages labelled so are in
// practice written in the Windows code page.
struct LabelGroup {
    const char* canonical;
    const char* labels;  // space-separated
};

constexpr LabelGroup kLabelGroups[] = {
    {"UTF-8", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"IBM866", "866 cp866 csibm866 ibm866"},
    {"ISO-8859-2", "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"ISO-8859-3", "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"ISO-8859-4", "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"ISO-8859-5", "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
    {"ISO-8859-6", "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
                   "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"ISO-8859-7", "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
                   "iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
    {"ISO-8859-8", "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
                   "iso_8859-8 iso_8859-8:1988 visual"},
    {"ISO-8859-8-I", "csiso88598i iso-8859-8-i logical"},
    {"ISO-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"ISO-8859-16", "iso-8859-16"},
    {"KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
    {"KOI8-U", "koi8-ru koi8-u"},
    {"macintosh", "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
                     "iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 "
                     "l5 latin5 windows-1254 x-cp1254"},
    {"windows-1255", "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", "cp1258 windows-1258 x-cp1258"},
    {"x-mac-cyrillic", "x-mac-cyrillic x-mac-ukrainian"},
    {"GBK", "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "gb18030"},
    {"Big5", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"ISO-2022-JP", "csiso2022jp iso-2022-jp"},
    {"Shift_JIS", "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    {"EUC-KR", "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 "
               "ksc_5601 windows-949"},
    {"UTF-16BE", "unicodefffe utf-16be"},
    {"UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
};

// The converter name for a canonical encoding where the converters call it
// differently or where browsers decode it with a superset: EUC-KR pages are
// decoded as Unified Hangul Code, GBK as GB 18030, Shift_JIS with the
// Windows extensions, Big5 with the Hong Kong extensions.
QByteArray DecoderName(const QByteArray& canonical)
{
    if (canonical == "EUC-KR")
        return "windows-949";
    if (canonical == "GBK")
        return "gb18030";
    if (canonical == "Shift_JIS")
        return "windows-31j";
    if (canonical == "Big5")
        return "big5-hkscs";
    if (canonical == "ISO-8859-8-I")
        return "ISO-8859-8";
    return canonical;
}

const QHash<QByteArray, QByteArray>& LabelTable()
{
    static const QHash<QByteArray, QByteArray> table = [] {
        QHash<QByteArray, QByteArray> t;
        for (const LabelGroup& group : kLabelGroups) {
            // Only encodings the converters really provide become known, so
            // that a label for a missing one falls through to the next source.
            if (!QStringDecoder(DecoderName(group.canonical).constData()).isValid())
                continue;
            for (const QByteArray& label : QByteArray(group.labels).split(' '))
                t.insert(label, group.canonical);
        }
        return t;
    }();
    return table;
}

bool IsSpace(char c) { return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The byte order mark's encoding and length, if `body` starts with one.
std::optional<std::pair<QByteArray, int>> SniffBom(const QByteArray& body)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        return std::pair<QByteArray, int>{"UTF-8", 3};
    if (body.startsWith("\xFE\xFF"))
        return std::pair<QByteArray, int>{"UTF-16BE", 2};
    if (body.startsWith("\xFF\xFE"))
        return std::pair<QByteArray, int>{"UTF-16LE", 2};
    return std::nullopt;
}

// The charset named inside a meta element's content attribute, e.g.
// "text/html; charset=euc-kr"; empty when there is none. The HTML standard's
// "algorithm for extracting a character encoding from a meta element".
QByteArray CharsetFromMetaContent(const QByteArray& content)
{
    const QByteArray lower = content.toLower();
    qsizetype from = 0;
    while (true) {
        qsizetype at = lower.indexOf("charset", from);
        if (at < 0)
            return {};
        qsizetype p = at + 7;
        while (p < lower.size() && IsSpace(lower[p]))
            ++p;
        if (p >= lower.size() || lower[p] != '=') {
            from = at + 7;  // "charset" not followed by '=': look for a later one
            continue;
        }
        ++p;
        while (p < lower.size() && IsSpace(lower[p]))
            ++p;
        if (p >= lower.size())
            return {};
        const char quote = lower[p];
        if (quote == '"' || quote == '\'') {
            const qsizetype end = lower.indexOf(quote, p + 1);
            return end < 0 ? QByteArray() : content.mid(p + 1, end - p - 1);
        }
        qsizetype end = p;
        while (end < lower.size() && !IsSpace(lower[end]) && lower[end] != ';')
            ++end;
        return content.mid(p, end - p);
    }
}

// A cursor over the prescanned bytes that reads attributes the way the
// browsers' prescan does (names and unquoted values lowercased): the HTML
// standard's "prescan a byte stream to determine its encoding" with its
// "get an attribute" steps.
class Prescanner {
public:
    explicit Prescanner(QByteArray bytes) : b_(std::move(bytes)) {}

    QByteArray Run()
    {
        while (p_ < b_.size()) {
            if (At("<!--")) {
                const qsizetype end = b_.indexOf("-->", p_ + 2);
                if (end < 0)
                    return {};
                p_ = end + 3;
            } else if (AtCaseless("<meta") && p_ + 5 < b_.size() && (IsSpace(b_[p_ + 5]) || b_[p_ + 5] == '/')) {
                p_ += 6;
                const QByteArray found = ReadMeta();
                if (!found.isEmpty())
                    return found;
            } else if (b_[p_] == '<' && p_ + 1 < b_.size() &&
                       (IsAsciiLetter(b_[p_ + 1]) ||
                        (b_[p_ + 1] == '/' && p_ + 2 < b_.size() && IsAsciiLetter(b_[p_ + 2])))) {
                // Any other tag: skip its name and attributes, so that text
                // inside attribute values is never taken for a meta element.
                while (p_ < b_.size() && !IsSpace(b_[p_]) && b_[p_] != '>')
                    ++p_;
                QByteArray name, value;
                while (ReadAttribute(name, value)) {
                }
                ++p_;
            } else if (At("<!") || At("</") || At("<?")) {
                const qsizetype end = b_.indexOf('>', p_ + 2);
                if (end < 0)
                    return {};
                p_ = end + 1;
            } else {
                ++p_;
            }
        }
        return {};
    }

private:
    bool At(const char* s) const { return b_.mid(p_).startsWith(s); }
    bool AtCaseless(const char* s) const
    {
        const QByteArray want(s);
        return b_.mid(p_, want.size()).toLower() == want;
    }

    // The attributes of one meta element; the canonical encoding it declares
    // or empty.
    QByteArray ReadMeta()
    {
        QList<QByteArray> seen;
        bool gotPragma = false;
        std::optional<bool> needPragma;
        QByteArray charset;
        QByteArray name, value;
        while (ReadAttribute(name, value)) {
            if (seen.contains(name))
                continue;
            seen.append(name);
            if (name == "http-equiv") {
                if (value == "content-type")
                    gotPragma = true;
            } else if (name == "content") {
                const QByteArray fromContent = CharsetFromMetaContent(value);
                if (charset.isEmpty() && !fromContent.isEmpty()) {
                    charset = EncodingForLabel(fromContent);
                    needPragma = true;
                }
            } else if (name == "charset") {
                charset = EncodingForLabel(value);
                needPragma = false;
            }
        }
        if (!needPragma || (*needPragma && !gotPragma) || charset.isEmpty())
            return {};
        if (charset == "UTF-16BE" || charset == "UTF-16LE")
            return "UTF-8";
        return charset;
    }

    // Reads the next attribute; false at the end of the tag or of the bytes.
    bool ReadAttribute(QByteArray& name, QByteArray& value)
    {
        name.clear();
        value.clear();
        while (p_ < b_.size() && (IsSpace(b_[p_]) || b_[p_] == '/'))
            ++p_;
        if (p_ >= b_.size() || b_[p_] == '>')
            return false;
        while (true) {
            if (p_ >= b_.size())
                return false;
            const char c = b_[p_];
            if (c == '=' && !name.isEmpty()) {
                ++p_;
                break;
            }
            if (IsSpace(c)) {
                while (p_ < b_.size() && IsSpace(b_[p_]))
                    ++p_;
                if (p_ >= b_.size())
                    return false;
                if (b_[p_] != '=')
                    return true;  // an attribute without a value
                ++p_;
                break;
            }
            if (c == '/' || c == '>')
                return true;
            name.append(Lower(c));
            ++p_;
        }
        while (p_ < b_.size() && IsSpace(b_[p_]))
            ++p_;
        if (p_ >= b_.size())
            return false;
        const char first = b_[p_];
        if (first == '"' || first == '\'') {
            ++p_;
            while (true) {
                if (p_ >= b_.size())
                    return false;
                if (b_[p_] == first) {
                    ++p_;
                    return true;
                }
                value.append(Lower(b_[p_]));
                ++p_;
            }
        }
        if (first == '>')
            return true;
        while (p_ < b_.size() && !IsSpace(b_[p_]) && b_[p_] != '>') {
            value.append(Lower(b_[p_]));
            ++p_;
        }
        return p_ < b_.size();
    }

    QByteArray b_;
    qsizetype p_ = 0;
};

}  // namespace

QByteArray EncodingForLabel(const QByteArray& label)
{
    return LabelTable().value(label.trimmed().toLower());
}

QByteArray CharsetFromContentType(const QByteArray& contentType)
{
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype eq = parts[i].indexOf('=');
        if (eq < 0 || parts[i].left(eq).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parts[i].mid(eq + 1).trimmed();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

QByteArray PrescanMetaCharset(const QByteArray& body)
{
    return Prescanner(body.left(1024)).Run();
}

// The HTML standard's "encoding sniffing algorithm", with the steps that apply
// to a fetched page: the byte order mark, the transport layer's charset, the
// prescan, and the default of the steps' last resort.
QByteArray ChooseEncoding(const QByteArray& body, const QByteArray& contentType)
{
    // A byte order mark outranks every declaration: a page that starts with
    // one is in that encoding whatever its header claims.
    if (const auto bom = SniffBom(body))
        return bom->first;
    const QByteArray fromHeader = EncodingForLabel(CharsetFromContentType(contentType));
    if (!fromHeader.isEmpty())
        return fromHeader;
    const QByteArray fromMeta = PrescanMetaCharset(body);
    if (!fromMeta.isEmpty())
        return fromMeta;
    return "windows-1252";
}

QString DecodeBody(const QByteArray& body, const QByteArray& contentType)
{
    const QByteArray encoding = ChooseEncoding(body, contentType);
    QByteArray bytes = body;
    if (const auto bom = SniffBom(body))
        bytes = body.mid(bom->second);
    QStringDecoder decoder(DecoderName(encoding).constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        decoder = QStringDecoder("windows-1252", QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

}  // namespace platform
