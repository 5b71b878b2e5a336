#include "base/MulDiv.h"

#include <gtest/gtest.h>

namespace quillet {

TEST(MulDiv, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(mulDiv(1, 1, 2), 1);   // 0.5 -> 1
    EXPECT_EQ(mulDiv(3, 1, 2), 2);   // 1.5 -> 2
    EXPECT_EQ(mulDiv(-1, 1, 2), -1); // -0.5 -> -1
    EXPECT_EQ(mulDiv(1, -3, 2), -2);
    EXPECT_EQ(mulDiv(-3, 1, -2), 2);
    EXPECT_EQ(mulDiv(10, 1, 3), 3);  // 3.33 -> 3
    EXPECT_EQ(mulDiv(20, 1, 3), 7);  // 6.67 -> 7
}

TEST(MulDiv, UsesA64BitIntermediate)
{
    // 1024 samples per AAC frame at 32000 Hz, after an hour's worth of frames:
    // the product overflows 32 bits but the result does not.
    EXPECT_EQ(mulDiv(112500 * 1024, 1000, 32000), 3600000);
    EXPECT_EQ(mulDiv(2000000000, 2, 4), 1000000000);
}

TEST(MulDiv, ReportsDivisionByZeroAndOverflowAsMinusOne)
{
    EXPECT_EQ(mulDiv(5, 5, 0), -1);
    EXPECT_EQ(mulDiv(2000000000, 2000000000, 1), -1);
}

} // namespace quillet
