// hotelcrawler-extract [--settings FILE] PAGE...
//
// For each PAGE, in order: an http(s) address is loaded and extracted by a
// hotel description record exactly as the detail crawl does it; anything
// else is read as a local HTML file, decoded, parsed with the file's own
// file:// address as base, and extracted. Each page that yields a document
// prints one compact JSON object with the record's fields (kRecordFields) on
// stdout.
//
// Web pages are fetched under the settings in force (site routes, page
// timeout): the default settings file, or FILE when --settings names one.
//
// Exit status: 0 when every page was extracted, 1 when any page could not be
// read or loaded (each named on standard error; the others still run), 2 for
// a usage error or a settings file that cannot be read. --help and --version
// as every tool has them.

#include "detail/HotelDescParser.h"
#include "platform/engine/DeskProfile.h"
#include "platform/html/Mshtml.h"
#include "platform/net/Charset.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "platform/toolkit/MessageSink.h"
#include "tools/common/CommandLine.h"
#include "tools/common/Export.h"
#include "tools/common/ToolSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string ToJson(const THotelDescParser& r)
{
    std::string out = "{";
    for (const auto& field : kRecordFields) {
        if (out.size() > 1)
            out += ',';
        tools::AppendJsonString(out, std::string(field.name));
        out += ':';
        tools::AppendJsonString(out, r.*field.member);
    }
    return out + "}";
}

bool IsWebAddress(const std::string& arg)
{
    const QString lower = QString::fromStdString(arg).trimmed().toLower();
    return lower.startsWith(QLatin1String("http://")) || lower.startsWith(QLatin1String("https://"));
}

// "scheme://..." with a scheme other than http(s): neither a page to fetch
// nor a file name anyone means.
bool IsOtherAddress(const std::string& arg)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(QString::fromStdString(arg)).hasMatch();
}

// Loads and extracts one web page; false (after naming it on stderr) when
// no document could be loaded.
bool ExtractWebPage(const std::string& address, const platform::Settings& settings, QStringList& messages)
{
    messages.clear();
    THotelDescParser record{settings.siteBase};
    record.SetUrl(address);
    record.Parse(settings.Page());
    if (!record.Loaded()) {
        std::fprintf(stderr, "hotelcrawler-extract: %s: could not load the page%s%s\n", address.c_str(),
                     messages.isEmpty() ? "" : ": ", messages.join(QStringLiteral("; ")).toStdString().c_str());
        return false;
    }
    std::printf("%s\n", ToJson(record).c_str());
    return true;
}

bool ExtractFile(const std::string& path, const platform::Settings& settings, QStringList& messages)
{
    messages.clear();
    const QString name = QString::fromLocal8Bit(path.c_str());
    const QFileInfo info(name);
    QFile file(name);
    if (!info.exists() || info.isDir() || !file.open(QIODevice::ReadOnly)) {
        const QString why = !info.exists() ? QStringLiteral("no such file")
                          : info.isDir()   ? QStringLiteral("is a directory")
                                           : file.errorString();
        std::fprintf(stderr, "hotelcrawler-extract: %s: cannot read: %s\n", path.c_str(), why.toStdString().c_str());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        std::fprintf(stderr, "hotelcrawler-extract: %s: cannot read: %s\n", path.c_str(),
                     file.errorString().toStdString().c_str());
        return false;
    }
    const QUrl address = QUrl::fromLocalFile(QFileInfo(name).absoluteFilePath());

    THotelDescParser record{settings.siteBase};
    record.SetUrl(address.toString(QUrl::FullyEncoded).toStdString());
    ComPtr<IHTMLDocument2> doc;
    const HRESULT hr = CreateDocumentFromHtml(platform::DecodeBody(bytes, QByteArray()), address, doc);
    if (FAILED(hr) || !doc) {
        std::fprintf(stderr, "hotelcrawler-extract: %s: no document could be made of it (0x%08x)\n", path.c_str(),
                     static_cast<unsigned>(hr));
        return false;
    }
    record.ParseDocument(doc.get());
    std::printf("%s\n", ToJson(record).c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    tools::CommandLine line(
        "hotelcrawler-extract", QStringLiteral("[--settings FILE] PAGE..."),
        QStringLiteral("Extracts each PAGE as the detail crawl does and prints one JSON object per page\n"
                       "with the extracted fields.\n"
                       "Exit status: 0 every page extracted, 1 a page could not be read or loaded (the\n"
                       "others still run), 2 wrong usage."),
        {tools::SettingsOption()});
    line.AllowArguments(QStringLiteral("PAGE"),
                        QStringLiteral("An http:// or https:// address of a hotel detail page, or a local HTML file "
                                       "(after \"--\" even one whose name starts with \"-\")."));
    // The arguments as given (no application object yet: Qt would take
    // options of its own out of them).
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> done = line.Parse(arguments, std::cout, std::cerr))
        return *done;
    std::vector<std::string> pages;
    for (const QString& page : line.Arguments())
        pages.push_back(page.toLocal8Bit().toStdString());
    if (pages.empty())
        return line.UsageError(std::cerr, QStringLiteral("no PAGE given"));
    // Before the application object exists, so nothing reads the default file first.
    if (const std::optional<int> done = tools::ApplySettingsOption(line, std::cerr))
        return *done;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt sees only the program name, so no page argument is taken for a Qt option.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    TApplication app(qtArgc, qtArgv);

    // Message boxes would wait for a click nobody gives: their texts go to
    // standard error with the page they belong to.
    QStringList messages;
    struct Collect final : MessageSink {
        explicit Collect(QStringList& into) : into(into) {}
        void Message(const QString& text) override { into << text; }
        void Error(const QString& text) override { into << text; }
        QStringList& into;
    } collect(messages);
    ScopedMessageSink collecting(collect);

    const platform::Settings& settings = platform::CurrentSettings();
    // Pages load as the settings' desk would load them, with its cookies.
    platform::engine::UseDesk(settings.deskName);
    int status = 0;
    for (const auto& page : pages) {
        bool ok = false;
        if (IsWebAddress(page))
            ok = ExtractWebPage(page, settings, messages);
        else if (IsOtherAddress(page))
            std::fprintf(stderr, "hotelcrawler-extract: %s: only http and https addresses can be loaded\n", page.c_str());
        else
            ok = ExtractFile(page, settings, messages);
        if (!ok)
            status = 1;
        std::fflush(stdout);
    }
    return status;
}
