// The aligned text table the export tool prints for --summary.

#include "tools/common/SummaryTable.h"

#include <gtest/gtest.h>

namespace {

class SummaryText : public ::testing::Test {};

TEST_F(SummaryText, ColumnsLineUpByCharacterWithoutTrailingBlanks)
{
    const std::string table = tools::SummaryTable({{"adl", 3, 0, "2024-05-01T10:00:00Z"},
                                                   {"", 0, 2, "", "waiting", 0},
                                                   {"ösl", 12, 1, "2024-05-02T00:00:00Z", "owed", 3},
                                                   {"destination-x", 1234567, 0, "2024-05-03T00:00:00Z", "searched", 12}});
    EXPECT_EQ(table,
              "AirPort           Kept  Waiting  Last kept at          Given up  State\n"
              "adl                  3        0  2024-05-01T10:00:00Z         0  searched\n"
              "(none)               0        2  -                            0  waiting\n"
              "ösl                 12        1  2024-05-02T00:00:00Z         3  owed\n"
              "destination-x  1234567        0  2024-05-03T00:00:00Z        12  searched\n");
}

TEST_F(SummaryText, NoEntriesGiveTheHeaderOnly)
{
    EXPECT_EQ(tools::SummaryTable({}), "AirPort  Kept  Waiting  Last kept at  Given up  State\n");
}

}  // namespace
