// The aligned text table the export tool prints for --summary.

#include "tools/common/SummaryTable.h"

#include <gtest/gtest.h>

namespace {

class SummaryText : public ::testing::Test {};

TEST_F(SummaryText, ColumnsLineUpByCharacterWithoutTrailingBlanks)
{
    const std::string table =
        tools::SummaryTable({{"", "adl", 3, 0, "2024-05-01T10:00:00Z"},
                             {"desk-1", "", 0, 2, "", "waiting", 0},
                             {"desk-1", "ösl", 12, 1, "2024-05-02T00:00:00Z", "owed", 3},
                             {"oslo.b", "destination-x", 1234567, 0, "2024-05-03T00:00:00Z", "searched", 12}});
    EXPECT_EQ(table,
              "AirPort           Kept  Waiting  Last kept at          Given up  State     Desk\n"
              "adl                  3        0  2024-05-01T10:00:00Z         0  searched  (none)\n"
              "(none)               0        2  -                            0  waiting   desk-1\n"
              "ösl                 12        1  2024-05-02T00:00:00Z         3  owed      desk-1\n"
              "destination-x  1234567        0  2024-05-03T00:00:00Z        12  searched  oslo.b\n");
}

TEST_F(SummaryText, NoEntriesGiveTheHeaderOnly)
{
    EXPECT_EQ(tools::SummaryTable({}), "AirPort  Kept  Waiting  Last kept at  Given up  State  Desk\n");
}

}  // namespace
