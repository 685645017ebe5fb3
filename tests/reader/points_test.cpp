#include <gtest/gtest.h>

#include <cstring>
#include <cmath>
#include <vector>

#include "reader/epn_contour.h"
#include "reader/epn_points.h"

namespace teilimp::reader {
namespace {

EpnPoint point(int32_t number, int32_t rule, const char* label, float c = 0, float s = 0) {
    EpnPoint p;
    p.pointNumber = number;
    p.ruleNumber = rule;
    p.x = 1000;
    p.y = -20;
    std::memcpy(p.label.data(), label, std::strlen(label));
    p.dirCos = c;
    p.dirSin = s;
    return p;
}

std::vector<uint8_t> record(const EpnPoint& p) {
    uint8_t area[kMaxRulePointRecord];
    const int32_t n = make_point_record(p, area);
    return {area, area + n};
}

int32_t i32(const std::vector<uint8_t>& r, size_t at) {
    return static_cast<int32_t>(r[at] | r[at + 1] << 8 | r[at + 2] << 16 |
                                static_cast<uint32_t>(r[at + 3]) << 24);
}

TEST(PlainPoint, LengthAndClassFollowTheNotchCode) {
    EpnPoint p = point(7, 0, "");
    std::vector<uint8_t> r = record(p);
    ASSERT_EQ(r.size(), 14u);
    EXPECT_EQ(r[0], 7);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(i32(r, 2), 1000);
    EXPECT_EQ(i32(r, 6), -20);
    EXPECT_EQ(r[10], 1);
    EXPECT_EQ((std::vector<uint8_t>(r.begin() + 11, r.end())), (std::vector<uint8_t>{0, 0, 0}));

    p.lineFlag = 'C';
    EXPECT_EQ(record(p)[10], 2);

    r = record(point(7, 0, "NK"));
    ASSERT_EQ(r.size(), 16u);
    EXPECT_EQ(r[11], 0);
    EXPECT_EQ(r[12], 2);
    EXPECT_EQ(r[14], 9);
    EXPECT_EQ(r[15], 0);

    r = record(point(7, 0, "N2", 1, 0));  // directions are not stored for plain points
    ASSERT_EQ(r.size(), 15u);
    EXPECT_EQ(r[11], 2);
    EXPECT_EQ(r[12], 1);
    EXPECT_EQ(r[14], 9);

    r = record(point(7, -4, "2 "));
    ASSERT_EQ(r.size(), 14u);
    EXPECT_EQ(r[11], 2);
    EXPECT_EQ(r[12], 0);
}

TEST(PlainPoint, NumbersOfZeroOrLessAreStoredAsMinusOneAndLargeOnesCut) {
    EXPECT_EQ(record(point(0, 0, ""))[0], 0xFF);
    EXPECT_EQ(record(point(-5, 0, ""))[1], 0xFF);
    const std::vector<uint8_t> r = record(point(70000, 0, ""));  // 0x11170
    EXPECT_EQ(r[0], 0x70);
    EXPECT_EQ(r[1], 0x11);
}

TEST(RulePoint, ShortForms) {
    std::vector<uint8_t> r = record(point(3, 12, "N1"));  // no direction
    ASSERT_EQ(r.size(), 21u);
    EXPECT_EQ(r[10], 0);
    EXPECT_EQ(r[11], 1);
    EXPECT_EQ(r[12], 1);
    EXPECT_EQ(i32(r, 14), 12);
    EXPECT_EQ(r[18], 0);
    EXPECT_EQ(r[19], 0);
    EXPECT_EQ(r[20], 9);

    r = record(point(3, 12, "N ", 0, 1));  // kind 0 never takes the long form
    ASSERT_EQ(r.size(), 21u);
    EXPECT_EQ(r[11], 0);

    r = record(point(3, 12, "NL"));
    ASSERT_EQ(r.size(), 22u);
    EXPECT_EQ(r[20], 9);
    EXPECT_EQ(r[21], 1);
    EXPECT_EQ(record(point(3, 12, "NK"))[21], 0);

    EpnPoint c = point(3, 12, "n1", 1, 0);  // lower case is no notch code
    c.lineFlag = 'C';                       // and a rule point records no "C"
    r = record(c);
    ASSERT_EQ(r.size(), 20u);
    EXPECT_EQ(r[10], 0);
    EXPECT_EQ(r[11], 0);
    EXPECT_EQ(r[12], 0);

    r = record(point(3, 12, "N1", 0.0001f, 0.0001f));  // too short a direction
    EXPECT_EQ(r.size(), 21u);
}

TEST(RulePoint, LongFormsCarryTheDirection) {
    const util::Vec2 up = angle_direction(900);
    std::vector<uint8_t> r = record(point(3, 12, "N1", up.x, up.y));
    ASSERT_EQ(r.size(), 29u);
    EXPECT_EQ(r[11], 9);
    EXPECT_EQ(r[12], 1);
    EXPECT_EQ(i32(r, 14), 0);
    EXPECT_EQ(i32(r, 18), 1000);
    EXPECT_EQ(i32(r, 22), 12);
    EXPECT_EQ(r[26], 0);
    EXPECT_EQ(r[27], 0);
    EXPECT_EQ(r[28], 9);

    const util::Vec2 d = angle_direction(450);
    r = record(point(3, 12, "2 ", d.x, d.y));
    ASSERT_EQ(r.size(), 28u);
    EXPECT_EQ(r[11], 10);
    EXPECT_EQ(r[12], 0);
    EXPECT_EQ(i32(r, 14), 707);
    EXPECT_EQ(i32(r, 18), 707);
    EXPECT_EQ(i32(r, 22), 12);

    // Halves away from zero: -0.0005 * 1000 = -0.5 -> -1 (in double).
    r = record(point(3, 12, "N2", -0.9995f, -0.0005f));
    EXPECT_EQ(i32(r, 14), static_cast<int32_t>(static_cast<double>(-0.9995f) * 1000.0 - 0.5));
    EXPECT_EQ(i32(r, 18), -1);
}

TEST(AngleDirection, QuarterAnglesAreExactOthersComputed) {
    auto eq = [](int32_t a, float c, float s) {
        const util::Vec2 d = angle_direction(a);
        EXPECT_EQ(d.x, c) << a;
        EXPECT_EQ(d.y, s) << a;
    };
    eq(0, 1, 0);
    eq(900, 0, 1);
    eq(1800, -1, 0);
    eq(2700, 0, -1);
    eq(3600, 1, 0);
    eq(-3600, 1, 0);
    eq(4500, 0, 1);  // 450 degrees reduce to 90
    eq(-900, 0, -1);
    eq(-1800, -1, 0);
    eq(-2700, 0, 1);
    eq(450, 0x1.6a09e6p-1f, 0x1.6a09e6p-1f);
    eq(1, 0x1.ffffccp-1f, 0x1.c98702p-10f);
    eq(-1, 0x1.ffffccp-1f, -0x1.c98702p-10f);
    eq(9999, 0x1.601c96p-3f, -0x1.f8603ep-1f);
}

// Every value the angle field can hold gives the same direction, bit for
// bit, on every system: the hash of all of them is that of the directions
// a correctly rounding math library gives (computed once with one).
TEST(AngleDirection, EveryFieldValueIsTheSameEverywhere) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a over the bits of x and y
    auto mix = [&](float f) {
        uint32_t b = 0;
        std::memcpy(&b, &f, 4);
        for (int i = 0; i < 4; ++i) {
            h ^= (b >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    };
    for (int32_t t = -999; t <= 9999; ++t) {
        const util::Vec2 d = angle_direction(t);
        mix(d.x);
        mix(d.y);
        const double norm = static_cast<double>(d.x) * d.x + static_cast<double>(d.y) * d.y;
        ASSERT_NEAR(norm, 1.0, 2e-7) << t;
    }
    EXPECT_EQ(h, 0x9cdd4006bafdc060ull);
}

}  // namespace
}  // namespace teilimp::reader
