// HTML fragment serialization (outerHTML / innerHTML) against the
// web-platform-tests data in the conformance folder: every case that can be
// built by parsing markup. Fragment cases are parsed inside
// <div id="container">, document cases as whole documents.

#include "platform/dom/HtmlSerialize.h"
#include "platform/dom/HtmlTree.h"
#include "platform/dom/InnerText.h"
#include "platform/html/HtmlElements.h"
#include "tests/platform/dom/ConformanceData.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace {

// Cases that cannot be run here, with the reason.
const std::map<int, const char*> kNotRun = {
    {240, "expects a scripting-enabled parse of <noscript>; this parser has scripting disabled and the "
          "case has no scripting-disabled answer"},
};

// The pass count reached so far among the cases built from markup; it may only grow.
constexpr int kRecordedPasses = 238;

struct Case {
    int id = 0;
    QString source;
    QString parse;
    QString html;
    QString target;
    QString targetTag;
    QJsonObject raw;
};

std::vector<Case> LoadMarkupCases()
{
    QFile file(ConformanceFile("serialization.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<Case> cases;
    for (const QJsonValue& v : QJsonDocument::fromJson(file.readAll()).array()) {
        const QJsonObject o = v.toObject();
        if (o.value("html").isNull())
            continue;
        Case c;
        c.id = o.value("id").toInt();
        c.source = o.value("source").toString().section('/', -1);
        c.parse = o.value("parse").toString();
        c.html = o.value("html").toString();
        c.target = o.value("target").toString();
        c.targetTag = o.value("target_tag").toString();
        c.raw = o;
        cases.push_back(c);
    }
    return cases;
}

const std::vector<Case>& MarkupCases()
{
    static const std::vector<Case> cases = LoadMarkupCases();
    return cases;
}

const char* IdOf(const GumboNode* e) { return html::Attribute(e, "id"); }

const GumboNode* ResolveTarget(const html::Tree& tree, const QString& target)
{
    if (target == QLatin1String("first-element-child")) {
        for (const GumboNode* e : tree.all) {
            const char* id = IdOf(e);
            if (!(html::IsHtml(e, GUMBO_TAG_DIV) && id && QByteArray(id) == "container"))
                continue;
            const GumboVector* kids = html::Children(e);
            for (unsigned i = 0; i < kids->length; ++i)
                if (html::IsElement(static_cast<const GumboNode*>(kids->data[i])))
                    return static_cast<const GumboNode*>(kids->data[i]);
            return nullptr;
        }
        return nullptr;
    }
    if (target.startsWith('#')) {
        const QByteArray wanted = target.mid(1).toUtf8();
        for (const GumboNode* e : tree.all)
            if (IdOf(e) && wanted == IdOf(e))
                return e;
        return nullptr;
    }
    static const QRegularExpression nth(QStringLiteral("^([a-z0-9]+)\\[(\\d+)\\]$"));
    const auto m = nth.match(target);
    if (!m.hasMatch())
        return nullptr;
    const std::string tag = m.captured(1).toStdString();
    int n = m.captured(2).toInt();
    for (const GumboNode* e : tree.all)
        if (html::LocalName(e) == tag && --n == 0)
            return e;
    return nullptr;
}

QString Visible(QString s) { return s.replace('\n', "\\n"); }

// Parses the case and compares every expected string it carries.
bool RunCase(const Case& c, QString& detail)
{
    const QString markup = c.parse == QLatin1String("document")
                               ? c.html
                               : QStringLiteral("<!DOCTYPE html><div id=\"container\">") + c.html;
    const auto tree = html::Tree::Parse(markup, QUrl());
    const GumboNode* target = ResolveTarget(*tree, c.target);
    if (!target) {
        detail = QStringLiteral("no target");
        return false;
    }
    if (QString::fromStdString(html::LocalName(target)) != c.targetTag) {
        detail = QStringLiteral("target is <%1>").arg(QString::fromStdString(html::LocalName(target)));
        return false;
    }
    const bool scriptingEnabled = c.raw.value("scripting").toString() == QLatin1String("enabled");
    const auto expected = [&](const char* field) {
        const QString disabled = QString::fromLatin1(field) + QStringLiteral("_scripting_disabled");
        return scriptingEnabled && c.raw.contains(disabled) ? c.raw.value(disabled) : c.raw.value(QLatin1String(field));
    };
    bool ok = true;
    const QJsonValue outer = expected("expected_outerHTML");
    if (outer.isString()) {
        ComPtr<IHTMLElement> element;
        QString got;
        if (QueryInterface(MakeElement(tree, target), element) != S_OK || element->get_outerHTML(got) != S_OK ||
            got != outer.toString()) {
            detail += QStringLiteral(" outerHTML \"%1\" expected \"%2\"").arg(Visible(got), Visible(outer.toString()));
            ok = false;
        }
    }
    const QJsonValue inner = expected("expected_innerHTML");
    if (inner.isString()) {
        const QString got = QString::fromStdString(html::InnerHtml(target));
        if (got != inner.toString()) {
            detail += QStringLiteral(" innerHTML \"%1\" expected \"%2\"").arg(Visible(got), Visible(inner.toString()));
            ok = false;
        }
    }
    const QJsonValue text = c.raw.value("expected_textContent");
    if (text.isString()) {
        const QString got = QString::fromStdString(html::TextContent(target));
        if (got != text.toString()) {
            detail += QStringLiteral(" textContent \"%1\" expected \"%2\"").arg(Visible(got), Visible(text.toString()));
            ok = false;
        }
    }
    return ok;
}

std::vector<std::string> Sources()
{
    std::vector<std::string> names;
    for (const Case& c : MarkupCases())
        if (std::find(names.begin(), names.end(), c.source.toStdString()) == names.end())
            names.push_back(c.source.toStdString());
    return names;
}

class SerializationSource : public ::testing::TestWithParam<std::string> {};

// Every runnable case from one source file serializes exactly as expected.
TEST_P(SerializationSource, MatchesBrowserMarkup)
{
    for (const Case& c : MarkupCases()) {
        if (c.source.toStdString() != GetParam() || kNotRun.count(c.id))
            continue;
        QString detail;
        EXPECT_TRUE(RunCase(c, detail)) << "id " << c.id << " " << c.html.toStdString() << ":" << detail.toStdString();
    }
}

std::string SourceName(const ::testing::TestParamInfo<std::string>& info)
{
    std::string name;
    for (const char ch : info.param.substr(0, info.param.find('.')))
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

// Without the data there are no cases to instantiate; the tests below say why.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SerializationSource);
INSTANTIATE_TEST_SUITE_P(Conformance, SerializationSource, ::testing::ValuesIn(Sources()), SourceName);

TEST(SerializationConformance, DataIsPresent)
{
    HC_SKIP_WITHOUT_CONFORMANCE_DATA("serialization.json");
    ASSERT_EQ(MarkupCases().size(), 239u) << "serialization.json missing or changed: " HC_CONFORMANCE_DIR;
}

// The overall tally, printed for the record; fewer passes than recorded fails.
TEST(SerializationConformance, PassCountOnlyGrows)
{
    HC_SKIP_WITHOUT_CONFORMANCE_DATA("serialization.json");
    const int passed = CountPasses("serialization", MarkupCases(), [](const Case& c) {
        QString detail;
        return !kNotRun.count(c.id) && RunCase(c, detail);
    });
    EXPECT_GE(passed, kRecordedPasses);
}

}  // namespace
