// The committed seed corpora still reach what they were chosen for: the
// sample site's detail pages carry all nine sections (through both walks)
// and its result pages carry detail and paging links, so a change of the
// site or the extractor that leaves the seeds pointless shows up here. And
// the seed generator writes the same bytes every time it runs.

#include "crawl/ResultCrawler.h"
#include "detail/HotelDescParser.h"
#include "platform/html/Com.h"
#include "platform/html/Mshtml.h"
#include "platform/toolkit/Forms.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

const QString kCorpus = QStringLiteral(HC_FUZZ_CORPUS_DIR);

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Seeds(const QString& target, const QString& pattern)
{
    QStringList paths;
    const QDir dir(kCorpus + QLatin1Char('/') + target);
    for (const QString& name : dir.entryList({pattern}, QDir::Files, QDir::Name))
        paths << dir.filePath(name);
    return paths;
}

ComPtr<IHTMLDocument2> Parse(const QByteArray& bytes, const char* address)
{
    ComPtr<IHTMLDocument2> doc;
    EXPECT_EQ(CreateDocumentFromHtml(QString::fromUtf8(bytes), QUrl(QString::fromLatin1(address)), doc), S_OK);
    return doc;
}

class SeedCorpus : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(SeedCorpus, SampleSiteDetailSeedsFillEverySectionAlike)
{
    const QStringList seeds = Seeds(QStringLiteral("sections"), QStringLiteral("detail-*.html"));
    ASSERT_GE(seeds.size(), 3);
    for (const QString& path : seeds) {
        SCOPED_TRACE(path.toStdString());
        const auto doc = Parse(Read(path), "http://hotels.example/hotsdetail.ctl?hotel=seed");
        THotelDescParser fast{platform::CurrentSettings().siteBase};
        THotelDescParser plain{platform::CurrentSettings().siteBase};
        fast.ExtractSections(doc.get());
        plain.ExtractSectionsPlain(doc.get());
        for (const auto& field : store::kHotelSectionFields)
            EXPECT_FALSE((fast.*field.member).empty()) << field.name;
        EXPECT_EQ(fast.Dining, plain.Dining);
        EXPECT_EQ(fast.HeaderBar, plain.HeaderBar);
        EXPECT_EQ(fast.PhotoUrl, plain.PhotoUrl);
    }
}

TEST_F(SeedCorpus, SampleSiteResultSeedsCarryDetailAndPagingLinks)
{
    int detailLinks = 0;
    int pagingLinks = 0;
    for (const QString& path : Seeds(QStringLiteral("result_page"), QStringLiteral("result-*.html"))) {
        const auto doc = Parse(Read(path), "http://hotels.example/cannonball.ctl?airport=osl");
        ComPtr<IHTMLElementCollection> anchors;
        LONG n = 0;
        ASSERT_EQ(doc->get_anchors(anchors), S_OK);
        ASSERT_EQ(anchors->get_length(&n), S_OK);
        for (LONG i = 0; i < n; ++i) {
            ComPtr<IDispatch> item;
            ComPtr<IHTMLAnchorElement> anchor;
            ComPtr<IHTMLElement> element;
            QString href;
            QString text;
            ASSERT_EQ(anchors->item(VariantI4(i), VARIANT{}, item), S_OK);
            ASSERT_EQ(QueryInterface(item, anchor), S_OK);
            ASSERT_EQ(QueryInterface(item, element), S_OK);
            anchor->get_href(href);
            element->get_innerText(text);
            detailLinks += IsDetailLink(ToAnsi(href)) ? 1 : 0;
            pagingLinks += IsNextPageLink(ToAnsi(href), ToAnsi(text)) ? 1 : 0;
        }
    }
    EXPECT_GE(detailLinks, 10) << "the result seeds lost their hotel links";
    EXPECT_GE(pagingLinks, 2) << "the result seeds lost their Next links";
}

TEST_F(SeedCorpus, EveryTargetHasSmallSeeds)
{
    for (const char* target : {"charset", "html_engine", "result_page", "sections", "settings"}) {
        const QDir dir(kCorpus + QLatin1Char('/') + QLatin1String(target));
        const QFileInfoList files = dir.entryInfoList(QDir::Files);
        EXPECT_GE(files.size(), 5) << target;
        for (const QFileInfo& file : files)
            EXPECT_LE(file.size(), 16 * 1024) << file.filePath().toStdString() << " is larger than the fuzz runs' -max_len";
    }
}

TEST(SeedGenerator, WritesTheSameBytesEveryRun)
{
    QTemporaryDir first;
    QTemporaryDir second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    for (const QTemporaryDir* dir : {&first, &second})
        ASSERT_EQ(QProcess::execute(QStringLiteral(HC_FUZZ_MAKE_SEEDS), {dir->path()}), 0);
    int files = 0;
    for (const QString& target : QDir(first.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDir a(first.path() + QLatin1Char('/') + target);
        for (const QString& name : a.entryList(QDir::Files)) {
            ++files;
            EXPECT_EQ(Read(a.filePath(name)), Read(second.path() + QLatin1Char('/') + target + QLatin1Char('/') + name))
                << target.toStdString() << '/' << name.toStdString();
        }
    }
    EXPECT_GE(files, 20);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
