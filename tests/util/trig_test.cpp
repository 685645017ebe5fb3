#include <gtest/gtest.h>

#include "util/trig.h"

#include <cmath>
#include <random>

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

// The floats are those of the correctly rounded doubles, whichever way
// they are found: for every angle in tenths of a degree that a point line
// gives (as the reader turns it into radians) and for random arguments.
TEST(Trig, FloatsAreThoseOfTheNearestDoubles) {
    auto same = [](double r) {
        double c = 0, s = 0;
        cos_sin(r, c, s);
        float fc = 0, fs = 0;
        teilimp::util::cos_sin_float(r, fc, fs);
        return fc == static_cast<float>(c) && fs == static_cast<float>(s) &&
               std::signbit(fc) == std::signbit(c) && std::signbit(fs) == std::signbit(s);
    };
    for (int tenths = -36000; tenths <= 36000; ++tenths) {
        const float reduced = std::fmod(static_cast<float>(tenths) * 0.1f, 360.0f);
        const double r = static_cast<double>(reduced) * (3.14159265358979323846 / 180.0);
        ASSERT_TRUE(same(r)) << tenths;
    }
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> any(-8.0, 8.0);
    for (int k = 0; k < 100000; ++k) {
        const double r = any(rng);
        ASSERT_TRUE(same(r)) << std::hexfloat << r;
    }
    // Close calls, where the plain evaluation can't decide: the double
    // cos_sin gives lies within 2^-40 of a rounding boundary of the floats.
    for (const double r : {0x1.22b1cbccd7b09p+2, -0x1.67cb580676c7ap+1, 0x1.acb6a005f97p-5, -0x1.c519f82028b53p+1})
        ASSERT_TRUE(same(r)) << std::hexfloat << r;
}
