#include <gtest/gtest.h>

#include "util/trig.h"

using teilimp::util::cos_sin;

// Values whose nearest double a library may miss by one unit in the last
// place: each is the double nearest to the exact cosine or sine.
TEST(Trig, NearestDoubleWhereLibrariesMayMiss) {
    double c = 0, s = 0;
    cos_sin(-0x1.48d913385b227p-1, c, s);
    EXPECT_EQ(c, 0x1.99f9769abac4dp-1);
    EXPECT_EQ(s, -0x1.32b3383eb963ap-1);
    cos_sin(0x1.bb3ad910bfba8p-3, c, s);
    EXPECT_EQ(c, 0x1.f40e637a49eb3p-1);
    EXPECT_EQ(s, 0x1.b7c7290af7d2dp-3);
    cos_sin(0x1.c581a056f0558p+0, c, s);
    EXPECT_EQ(c, -0x1.984e37318b211p-3);
    EXPECT_EQ(s, 0x1.f5b8b0ddc720fp-1);
}

TEST(Trig, QuadrantsAndSmallArguments) {
    double c = 0, s = 0;
    cos_sin(0.0, c, s);
    EXPECT_EQ(c, 1.0);
    EXPECT_EQ(s, 0.0);
    cos_sin(1e-9, c, s);
    EXPECT_EQ(c, 1.0);
    EXPECT_EQ(s, 1e-9);
    // Near the multiples of pi/2 the result is the small remainder itself.
    cos_sin(0x1.921fb54442d18p+0, c, s);  // pi/2 rounded
    EXPECT_EQ(c, 0x1.1a62633145c07p-54);
    EXPECT_EQ(s, 1.0);
    cos_sin(0x1.921fb54442d18p+1, c, s);  // pi rounded
    EXPECT_EQ(c, -1.0);
    EXPECT_EQ(s, 0x1.1a62633145c07p-53);
    cos_sin(-0x1.921fb54442d18p+1, c, s);
    EXPECT_EQ(s, -0x1.1a62633145c07p-53);
}
