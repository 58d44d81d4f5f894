// The command line every tool shares: --help, --version, the wording of a
// usage error and the exit codes, checked on the built programs, and the
// parser's own rules in the process.

#include "tools/common/CommandLine.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramRun RunProgram(const QString& program, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
    ProgramRun run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

struct Tool {
    std::string name;
    QString path;
    QString optionWithValue;  // an option of the tool that takes a value
};

std::ostream& operator<<(std::ostream& os, const Tool& tool) { return os << tool.name; }

class EveryTool : public ::testing::TestWithParam<Tool> {
protected:
    std::string UsageLine() const { return "usage: " + GetParam().name + " "; }
};

TEST_P(EveryTool, HelpGoesToStandardOutputAndExitsZero)
{
    const ProgramRun run = RunProgram(GetParam().path, {QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(UsageLine(), 0), 0u) << run.out;
    EXPECT_NE(run.out.find("--version"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--" + GetParam().optionWithValue.toStdString()), std::string::npos) << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_P(EveryTool, VersionIsTheProjectVersion)
{
    const ProgramRun run = RunProgram(GetParam().path, {QStringLiteral("--version")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, GetParam().name + " " HC_VERSION "\n");
}

TEST_P(EveryTool, UnknownOptionIsTheSameUsageErrorEverywhere)
{
    const ProgramRun run = RunProgram(GetParam().path, {QStringLiteral("--frobnicate")});
    EXPECT_EQ(run.status, 2);
    const std::string name = GetParam().name;
    EXPECT_EQ(run.err.rfind(name + ": unknown option 'frobnicate'\n" + UsageLine(), 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Try '" + name + " --help' for more information.\n"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
}

TEST_P(EveryTool, MissingValueIsTheSameUsageErrorEverywhere)
{
    const QString option = GetParam().optionWithValue;
    const ProgramRun run = RunProgram(GetParam().path, {QStringLiteral("--") + option});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind(GetParam().name + ": missing value after '--" + option.toStdString() + "'\n", 0), 0u)
        << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
}

const QString kTools = QStringLiteral(HC_TOOLS_BIN_DIR);

INSTANTIATE_TEST_SUITE_P(
    Tools, EveryTool,
    ::testing::Values(Tool{"hotelcrawler-export", kTools + "/export/hotelcrawler-export", QStringLiteral("settings")},
                      Tool{"hotelcrawler-initdb", kTools + "/initdb/hotelcrawler-initdb", QStringLiteral("settings")},
                      Tool{"hotelcrawler-extract", kTools + "/extract/hotelcrawler-extract", QStringLiteral("settings")},
                      Tool{"hotelcrawler-sample-site", QStringLiteral(HC_SAMPLE_SITE_EXE), QStringLiteral("port")}),
    [](const ::testing::TestParamInfo<Tool>& info) {
        std::string name = info.param.name.substr(std::string("hotelcrawler-").size());
        std::erase(name, '-');
        return name;
    });

// ------------------------------------------------------------ in the process

class ParsedCommandLine : public ::testing::Test {
protected:
    tools::CommandLine Line()
    {
        return tools::CommandLine("tool", QStringLiteral("[--flag] [--name NAME]"), QStringLiteral("A tool."),
                                  {{{QStringLiteral("flag")}, {}, QStringLiteral("A switch.")},
                                   {{QStringLiteral("name")}, QStringLiteral("NAME"), QStringLiteral("A value.")}});
    }
    std::ostringstream out, err;
};

TEST_F(ParsedCommandLine, ValuesComeInBothSpellingsAndInOrder)
{
    tools::CommandLine line = Line();
    EXPECT_FALSE(line.Parse({QStringLiteral("--name=a"), QStringLiteral("--flag"), QStringLiteral("--name"),
                             QStringLiteral("b")},
                            out, err));
    EXPECT_TRUE(line.IsSet(QStringLiteral("flag")));
    EXPECT_EQ(line.Values(QStringLiteral("name")), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(line.Value(QStringLiteral("name")), QStringLiteral("b"));
    EXPECT_TRUE(err.str().empty()) << err.str();
}

TEST_F(ParsedCommandLine, ASwitchGivenAValueIsAUsageError)
{
    tools::CommandLine line = Line();
    EXPECT_EQ(line.Parse({QStringLiteral("--flag=yes")}, out, err), tools::kExitUsage);
    EXPECT_EQ(err.str().rfind("tool: unexpected value after '--flag'\nusage: tool [--flag] [--name NAME]\n", 0), 0u)
        << err.str();
}

TEST_F(ParsedCommandLine, ArgumentsOnlyWhereTheToolTakesThem)
{
    tools::CommandLine strict = Line();
    EXPECT_EQ(strict.Parse({QStringLiteral("page.html")}, out, err), tools::kExitUsage);
    EXPECT_NE(err.str().find("tool: unexpected argument 'page.html'"), std::string::npos) << err.str();

    tools::CommandLine pages = Line();
    pages.AllowArguments(QStringLiteral("PAGE"), QStringLiteral("A page."));
    // After "--" even a name that starts with a dash is an argument.
    EXPECT_FALSE(pages.Parse({QStringLiteral("a.html"), QStringLiteral("--flag"), QStringLiteral("--"),
                              QStringLiteral("--flag")},
                             out, err));
    EXPECT_EQ(pages.Arguments(), (QStringList{QStringLiteral("a.html"), QStringLiteral("--flag")}));
    EXPECT_TRUE(pages.IsSet(QStringLiteral("flag")));
}

TEST_F(ParsedCommandLine, HelpWinsOverTheOtherOptionsAndNamesThemAll)
{
    tools::CommandLine line = Line();
    EXPECT_EQ(line.Parse({QStringLiteral("--name"), QStringLiteral("x"), QStringLiteral("-h")}, out, err),
              tools::kExitDone);
    EXPECT_EQ(out.str().rfind("usage: tool [--flag] [--name NAME]\n\nA tool.\n", 0), 0u) << out.str();
    EXPECT_NE(out.str().find("--name <NAME>"), std::string::npos) << out.str();
    EXPECT_TRUE(err.str().empty());
}

}  // namespace
