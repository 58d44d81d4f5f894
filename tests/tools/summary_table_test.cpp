// The aligned text table the export tool prints for --summary.

#include "tools/common/SummaryTable.h"

#include <gtest/gtest.h>

namespace {

class SummaryText : public ::testing::Test {};

TEST_F(SummaryText, ColumnsLineUpByCharacterWithoutTrailingBlanks)
{
    const std::string table = tools::SummaryTable({{"adl", 3, 0, "2024-05-01T10:00:00Z"},
                                                   {"", 0, 2, ""},
                                                   {"ösl", 12, 1, "2024-05-02T00:00:00Z"},
                                                   {"destination-x", 1234567, 0, "2024-05-03T00:00:00Z"}});
    EXPECT_EQ(table,
              "AirPort           Kept  Waiting  Last kept at\n"
              "adl                  3        0  2024-05-01T10:00:00Z\n"
              "(none)               0        2  -\n"
              "ösl                 12        1  2024-05-02T00:00:00Z\n"
              "destination-x  1234567        0  2024-05-03T00:00:00Z\n");
}

TEST_F(SummaryText, NoEntriesGiveTheHeaderOnly)
{
    EXPECT_EQ(tools::SummaryTable({}), "AirPort  Kept  Waiting  Last kept at\n");
}

}  // namespace
