#include <gtest/gtest.h>

#include "support/test_util.h"
#include "util/drive.h"

using namespace teilimp::util;
using teilimp::testing::DriveMap;
using teilimp::testing::TempDir;

TEST(Drives, NumbersOutsideTheLettersGiveNoSpace) {
    EXPECT_EQ(dskfrei(0), 0);
    EXPECT_EQ(dskfrei(-3), 0);
    EXPECT_EQ(dskfrei(27), 0);
    int32_t a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(dskgeo(27, a, b, c, d), 1);
    EXPECT_EQ(dskgeo(-1, a, b, c, d), 1);
    EXPECT_EQ(dskgeo(0, a, b, c, d), -1);  // "@:\" is no drive
    EXPECT_EQ(drvtst(2), -1);
    EXPECT_EQ(drvtst(-1), -1);
}

TEST(Drives, MappedAndUnmappedDrives) {
    TempDir dir;
    DriveMap x('X', dir.path);
    DriveMap q('Q');
    DriveMap a('A');
    const int32_t free = dskfrei(24);
    EXPECT_GT(free, 0);
    EXPECT_LE(free, 2100000000);
    int32_t spc = 0, bps = 0, freeCl = 0, total = 0;
    ASSERT_EQ(dskgeo(24, spc, bps, freeCl, total), 0);
    const double product = static_cast<double>(spc) * bps * freeCl;
    EXPECT_EQ(free, product > 2.1e9 ? 2100000000 : static_cast<int32_t>(product));
    EXPECT_EQ(dskfrei(17), 0);
    EXPECT_EQ(drvtst(0), -1);  // A: has no root here
    EXPECT_EQ(dskfrei(1), 0);
}
