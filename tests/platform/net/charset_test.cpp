// Choosing and applying the character encoding of fetched pages.

#include "platform/net/Charset.h"
#include "platform/net/PageFetch.h"
#include "platform/settings/Settings.h"

#include "support/Pump.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

namespace {

using platform::ChooseEncoding;
using platform::DecodeBody;
using platform::EncodingForLabel;
using platform::PrescanMetaCharset;

QString Utf8(const char* s) { return QString::fromUtf8(s); }

class EncodingLabels : public ::testing::Test {};

TEST_F(EncodingLabels, Latin1AndAsciiMeanWindows1252)
{
    for (const char* label : {"latin1", "ISO-8859-1", "iso_8859-1", "us-ascii", "ascii", "cp1252", " Windows-1252 "})
        EXPECT_EQ(EncodingForLabel(label), "windows-1252") << label;
}

TEST_F(EncodingLabels, AliasesReachTheirEncoding)
{
    EXPECT_EQ(EncodingForLabel("utf8"), "UTF-8");
    EXPECT_EQ(EncodingForLabel("ks_c_5601-1987"), "EUC-KR");
    EXPECT_EQ(EncodingForLabel("sjis"), "Shift_JIS");
    EXPECT_EQ(EncodingForLabel("gb2312"), "GBK");
    EXPECT_EQ(EncodingForLabel("iso-8859-9"), "windows-1254");
    EXPECT_EQ(EncodingForLabel("utf-16"), "UTF-16LE");
}

TEST_F(EncodingLabels, UnknownLabelsNameNothing)
{
    EXPECT_EQ(EncodingForLabel("klingon"), QByteArray());
    EXPECT_EQ(EncodingForLabel(""), QByteArray());
    EXPECT_EQ(EncodingForLabel("utf-8x"), QByteArray());
}

TEST_F(EncodingLabels, ContentTypeCharsetParameter)
{
    EXPECT_EQ(platform::CharsetFromContentType("text/html; charset=EUC-KR"), "EUC-KR");
    EXPECT_EQ(platform::CharsetFromContentType("text/html;Charset=\"utf-8\""), "utf-8");
    EXPECT_EQ(platform::CharsetFromContentType("text/html; format=flowed ; charset = 'latin1' "), "latin1");
    EXPECT_EQ(platform::CharsetFromContentType("text/html"), QByteArray());
}

class MetaPrescan : public ::testing::Test {};

TEST_F(MetaPrescan, FindsMetaCharsetAndHttpEquiv)
{
    EXPECT_EQ(PrescanMetaCharset("<html><head><meta charset=\"euc-kr\">"), "EUC-KR");
    EXPECT_EQ(PrescanMetaCharset("<META CHARSET=UTF-8 />"), "UTF-8");
    EXPECT_EQ(PrescanMetaCharset("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=shift_jis\">"),
              "Shift_JIS");
    EXPECT_EQ(PrescanMetaCharset("<meta content='text/html;charset=koi8-r' http-equiv='content-type'>"), "KOI8-R");
}

TEST_F(MetaPrescan, IgnoresWhatIsNoDeclaration)
{
    // content without the http-equiv pragma declares nothing
    EXPECT_EQ(PrescanMetaCharset("<meta content=\"text/html; charset=euc-kr\">"), QByteArray());
    // inside a comment, inside another tag's attribute, or an unknown label
    EXPECT_EQ(PrescanMetaCharset("<!-- <meta charset=euc-kr> --><p>"), QByteArray());
    EXPECT_EQ(PrescanMetaCharset("<div title='<meta charset=euc-kr>'>"), QByteArray());
    EXPECT_EQ(PrescanMetaCharset("<meta charset=bogus>"), QByteArray());
    // a declaration after the first 1024 bytes is not looked for
    EXPECT_EQ(PrescanMetaCharset(QByteArray(1024, ' ') + "<meta charset=euc-kr>"), QByteArray());
}

TEST_F(MetaPrescan, FirstDeclarationWinsAndUtf16MeansUtf8)
{
    EXPECT_EQ(PrescanMetaCharset("<meta charset=koi8-r><meta charset=euc-kr>"), "KOI8-R");
    EXPECT_EQ(PrescanMetaCharset("<meta charset=utf-16le>"), "UTF-8");
}

class EncodingChoice : public ::testing::Test {};

TEST_F(EncodingChoice, BomThenHeaderThenMetaThenWindows1252)
{
    const QByteArray meta = "<meta charset=koi8-r>";
    EXPECT_EQ(ChooseEncoding("\xEF\xBB\xBF" + meta, "text/html; charset=euc-kr"), "UTF-8");
    EXPECT_EQ(ChooseEncoding(meta, "text/html; charset=euc-kr"), "EUC-KR");
    EXPECT_EQ(ChooseEncoding(meta, "text/html; charset=nonsense"), "KOI8-R");
    EXPECT_EQ(ChooseEncoding(meta, "text/html"), "KOI8-R");
    EXPECT_EQ(ChooseEncoding("<p>", ""), "windows-1252");
}

TEST_F(EncodingChoice, DecodesWithTheChoice)
{
    EXPECT_EQ(DecodeBody("caf\xE9 \x80 \x93q\x94", ""), Utf8("café € “q”"));
    EXPECT_EQ(DecodeBody("caf\xE9", "text/html; charset=iso-8859-1"), Utf8("café"));
    EXPECT_EQ(DecodeBody("\xB0\xA1\xB3\xAA", "text/html; charset=euc-kr"), Utf8("가나"));
    EXPECT_EQ(DecodeBody("\xEF\xBB\xBF<p>\xEA\xB0\x80", ""), Utf8("<p>가"));
    EXPECT_EQ(DecodeBody(QByteArray("\xFF\xFE<\0p\0>\0", 8), ""), Utf8("<p>"));
    EXPECT_EQ(DecodeBody("<meta charset=utf-8>\xC3\xA9", ""), Utf8("<meta charset=utf-8>é"));
}

TEST_F(EncodingChoice, MalformedBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(DecodeBody("a\xFF" "b", "text/html; charset=utf-8"), Utf8("a\xEF\xBF\xBD" "b"));
}

// The same choices made on real responses.
class CharsetOverHttp : public ::testing::Test {
protected:
    CharsetOverHttp()
    {
        Serve("/header", "<p>\xB0\xA1</p>", "text/html; charset=euc-kr");
        Serve("/bom", "\xEF\xBB\xBF<p>\xEA\xB0\x80</p>", "text/html; charset=windows-1252");
        Serve("/meta", "<meta http-equiv=content-type content='text/html; charset=euc-kr'><p>\xB0\xA1</p>", "text/html");
        Serve("/plain", "<p>caf\xE9</p>", "text/html");
        // One request per connection: a kept-alive connection would hold a
        // server worker, and with it stop(), for the whole keep-alive timeout.
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        httplib::Client("127.0.0.1", port_).Get("/ready");  // the accept loop runs once this is answered
    }
    ~CharsetOverHttp() override
    {
        server_.stop();
        thread_.join();
    }

    void Serve(const char* path, std::string body, const char* contentType)
    {
        server_.Get(path, [body, contentType](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, contentType);
        });
    }

    QString Fetch(const char* path)
    {
        platform::PageResult result;
        bool done = false;
        platform::PageFetch fetch(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path)),
                                  platform::PageLimits{}.timeoutS, [&](const platform::PageResult& r) {
                                      result = r;
                                      done = true;
                                  });
        fetch.Start();
        EXPECT_TRUE(PumpUntil([&] { return done; }));
        EXPECT_TRUE(result.ok) << result.error.toStdString();
        return result.text;
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

TEST_F(CharsetOverHttp, EachSourceOfTheEncoding)
{
    EXPECT_EQ(Fetch("/header"), Utf8("<p>가</p>"));
    EXPECT_EQ(Fetch("/bom"), Utf8("<p>가</p>"));
    EXPECT_EQ(Fetch("/meta"), Utf8("<meta http-equiv=content-type content='text/html; charset=euc-kr'><p>가</p>"));
    EXPECT_EQ(Fetch("/plain"), Utf8("<p>café</p>"));
}

}  // namespace
