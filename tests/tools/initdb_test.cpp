// The set-up tool hotelcrawler-initdb: what it tells on each engine, and its
// exit codes for a broken database and bad arguments.

#include "tools/common/InitDb.h"

#include "tests/store/DriverFixture.h"

#include <sstream>

namespace {

class InitTool : public EngineTest {};

TEST_P(InitTool, ReportsWhatItDid)
{
    Exec("DROP TABLE \"Staymarker\"");
    std::ostringstream out, err;
    EXPECT_EQ(tools::RunInitDb({}, out, err), 0);
    EXPECT_NE(out.str().find("created table \"Staymarker\""), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("table exists: \"Going\""), std::string::npos) << out.str();
    EXPECT_TRUE(err.str().empty());
}

HC_INSTANTIATE_FOR_ENGINES(InitTool);

class InitToolFailure : public ::testing::Test {
protected:
    void TearDown() override { platform::SetSettings({}); }
};

TEST_F(InitToolFailure, FailsClearlyOnABrokenDatabase)
{
    platform::Settings s;
    s.hotelsDb = QStringLiteral("postgresql://nobody@127.0.0.1:1/none");
    platform::SetSettings(s);
    std::ostringstream out, err;
    EXPECT_EQ(tools::RunInitDb({}, out, err), 1);
    EXPECT_NE(err.str().find("hotelcrawler-initdb:"), std::string::npos);
    EXPECT_EQ(tools::RunInitDb({QStringLiteral("--force")}, out, err), 2);
}

}  // namespace
