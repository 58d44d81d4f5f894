#include "tools/common/CommandLine.h"

#include <QCoreApplication>

#include <ostream>
#include <utility>

namespace tools {

namespace {

std::string Text(const QString& text) { return text.toStdString(); }

// Qt says "Unknown option 'x'."; the tools' own messages are lower case
// without a full stop, so its messages are made to match.
QString AsToolMessage(QString text)
{
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

}  // namespace

CommandLine::CommandLine(std::string tool, QString synopsis, QString description,
                         std::initializer_list<ToolOption> options)
    : tool_(std::move(tool)), synopsis_(std::move(synopsis))
{
    QCoreApplication::setApplicationName(QString::fromStdString(tool_));
    QCoreApplication::setApplicationVersion(QStringLiteral(HC_VERSION));
    parser_.setApplicationDescription(description);
    // Not Qt's addHelpOption()/addVersionOption(): those belong with
    // process(), which exits by itself and writes on the process's streams.
    AddOptions(options);
    AddOptions({{{QStringLiteral("h"), QStringLiteral("help")}, {}, QStringLiteral("Show this help and exit.")},
                {{QStringLiteral("version")}, {}, QStringLiteral("Show the version and exit.")}});
}

void CommandLine::AddOptions(const std::vector<ToolOption>& options)
{
    for (const ToolOption& option : options)
        parser_.addOption(QCommandLineOption(option.names, option.description, option.valueName));
}

void CommandLine::AllowArguments(const QString& name, const QString& description)
{
    takesArguments_ = true;
    parser_.addPositionalArgument(name, description);
}

std::optional<int> CommandLine::Parse(const QStringList& arguments, std::ostream& out, std::ostream& err)
{
    // The parser takes the first entry for the program's name.
    if (!parser_.parse(QStringList{QString::fromStdString(tool_)} + arguments))
        return UsageError(err, AsToolMessage(parser_.errorText()));
    if (parser_.isSet(QStringLiteral("help"))) {
        out << Text(HelpText());
        out.flush();
        return kExitDone;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
        out << tool_ << " " << HC_VERSION << "\n";
        out.flush();
        return kExitDone;
    }
    if (!takesArguments_ && !parser_.positionalArguments().isEmpty())
        return UsageError(err, QStringLiteral("unexpected argument '%1'").arg(parser_.positionalArguments().first()));
    return std::nullopt;
}

bool CommandLine::IsSet(const QString& name) const { return parser_.isSet(name); }

QString CommandLine::Value(const QString& name) const { return parser_.value(name); }

QStringList CommandLine::Values(const QString& name) const { return parser_.values(name); }

QStringList CommandLine::Arguments() const { return parser_.positionalArguments(); }

int CommandLine::UsageError(std::ostream& err, const QString& problem) const
{
    if (!problem.isEmpty())
        err << tool_ << ": " << Text(problem) << "\n";
    err << "usage: " << tool_ << " " << Text(synopsis_) << "\n"
        << "Try '" << tool_ << " --help' for more information.\n";
    return kExitUsage;
}

int CommandLine::Failure(std::ostream& err, const QString& problem) const
{
    err << tool_ << ": " << Text(problem) << "\n";
    return kExitFailed;
}

QString CommandLine::HelpText() const
{
    // Qt's first line names the program by its path and lists "[options]";
    // the tool's own usage line takes its place.
    const QString text = parser_.helpText();
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("usage: %1 %2\n").arg(QString::fromStdString(tool_), synopsis_) +
           (lineEnd < 0 ? QString() : text.mid(lineEnd));
}

}  // namespace tools
