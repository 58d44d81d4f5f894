#pragma once
// The command line of every tool, read one way (QCommandLineParser): each
// tool lists its options in a table of ToolOption, and gets --help and
// --version on top, the same error wording for an unknown option, a missing
// value or a stray argument, and the same exit codes.
//
// Needs Qt Core only (no application object), so the sample site, which has
// none, reads its command line the same way.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tools {

// The exit codes of every tool.
enum ExitCode : int {
    kExitDone = 0,    // done (also after --help and --version)
    kExitFailed = 1,  // a database or I/O error; the message is on standard error
    kExitUsage = 2,   // wrong usage: a usage line and a hint are on standard error
};

// One option of a tool: its names without dashes (a one-letter name is the
// short form), the name of its value (empty for a switch) and what it does.
struct ToolOption {
    QStringList names;
    QString valueName;
    QString description;
};

class CommandLine {
public:
    // `tool` is the program's name as messages show it; `synopsis` is the
    // usage line after "usage: TOOL "; `description` heads --help. Sets the
    // application name and version (HC_VERSION) that Qt reports.
    CommandLine(std::string tool, QString synopsis, QString description, std::initializer_list<ToolOption> options);

    // Adds options after construction (tables kept elsewhere, --settings).
    void AddOptions(const std::vector<ToolOption>& options);

    // Lets the tool take arguments that are not options (pages, say), shown
    // under "Arguments:" in --help. Without it any such argument is a usage
    // error. "--" ends the options: what follows is taken as arguments.
    void AllowArguments(const QString& name, const QString& description);

    // Reads `arguments` (without the program name). Returns nothing when the
    // tool goes on; otherwise the tool's exit code, its output written:
    // kExitDone after --help (the help on `out`) or --version ("TOOL
    // VERSION" on `out`), kExitUsage after a usage error (see UsageError).
    std::optional<int> Parse(const QStringList& arguments, std::ostream& out, std::ostream& err);

    // After Parse: whether the option was given, its last value (empty when
    // not given), every value in order, the other arguments in order.
    bool IsSet(const QString& name) const;
    QString Value(const QString& name) const;
    QStringList Values(const QString& name) const;
    QStringList Arguments() const;

    // Writes "TOOL: PROBLEM", the usage line and a hint at --help on `err`
    // and returns kExitUsage. An empty `problem` writes the usage alone.
    int UsageError(std::ostream& err, const QString& problem) const;

    // Writes "TOOL: PROBLEM" on `err` and returns kExitFailed.
    int Failure(std::ostream& err, const QString& problem) const;

    const std::string& Tool() const { return tool_; }
    QString HelpText() const;

private:
    std::string tool_;
    QString synopsis_;
    QCommandLineParser parser_;
    bool takesArguments_ = false;
};

}  // namespace tools
