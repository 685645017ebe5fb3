#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "reader/epn_contour.h"

namespace teilimp::reader {
namespace {

EpnPoint at(int32_t x, int32_t y, int32_t number = 0) {
    EpnPoint p;
    p.pointNumber = number;
    p.x = x;
    p.y = y;
    return p;
}

TEST(ContourArea, SignGivesTheOrientation) {
    const std::vector<XY> clockwise{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};
    EXPECT_EQ(contour_area(clockwise), 100.0f);
    const std::vector<XY> counter{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    EXPECT_EQ(contour_area(counter), -100.0f);
    EXPECT_EQ(contour_area(std::vector<XY>{{0, 0}, {5, 5}}), 0.0f);
}

TEST(ContourArea, ExtremeCoordinatesAreSummedExactly) {
    // Each product is close to 2^64; a 64-bit sum would overflow.
    const int32_t m = 2147483640;
    const std::vector<XY> big{{-m, -m}, {-m, m}, {m, m}, {m, -m}};
    const double side = 2.0 * m;
    EXPECT_EQ(contour_area(big), static_cast<float>(side * side));
}

TEST(ContourArea, RoundsTheOpenSumOnceThenTheClosedSumOnce) {
    // Open sum 2^25 + 2 rounds (tie to even) to 2^25; the closing term 1
    // then gives 2^25 + 1 -> 2^25. Rounding the whole sum only once would
    // give 2^25 + 3 -> 2^25 + 4.
    const std::vector<XY> ring{{1, 1}, {33554435, 0}, {0, 0}};
    EXPECT_EQ(contour_area(ring), 16777216.0f);
}

TEST(ContourArea, WideIntegersRoundCorrectlyToSingle) {
    const Int128 twoPow25Plus3{(uint64_t{1} << 25) + 3, 0};
    EXPECT_EQ(int128_to_float(twoPow25Plus3), 33554436.0f);
    EXPECT_EQ(int128_to_float(int128_negate(twoPow25Plus3)), -33554436.0f);
    EXPECT_EQ(int128_to_float(int128_from(-5)), -5.0f);
    // No double rounding through double precision.
    const Int128 justAboveHalf{1, (uint64_t{1} << 36) + (uint64_t{1} << 12)};  // 2^100 + 2^76 + 1
    EXPECT_EQ(int128_to_float(justAboveHalf), std::ldexp(1.0f + 0x1p-23f, 100));
    EXPECT_EQ(int128_to_float({0, (uint64_t{1} << 36) + (uint64_t{1} << 12)}), std::ldexp(1.0f, 100));
}

TEST(ContourArea, WideProductsAndSumsCarryAcrossTheWords) {
    // (2^33 - 1)^2 = 2^66 - 2^34 + 1
    const Int128 square = int128_mul((int64_t{1} << 33) - 1, (int64_t{1} << 33) - 1);
    EXPECT_EQ(square.hi, 3u);
    EXPECT_EQ(square.lo, uint64_t{0} - (uint64_t{1} << 34) + 1);
    const Int128 negative = int128_mul(-((int64_t{1} << 33) - 1), (int64_t{1} << 33) - 1);
    const Int128 zero = int128_add(square, negative);
    EXPECT_EQ(zero.lo, 0u);
    EXPECT_EQ(zero.hi, 0u);
    const Int128 minusOne = int128_add(int128_from(-3), int128_from(2));
    EXPECT_EQ(minusOne.lo, ~uint64_t{0});
    EXPECT_EQ(minusOne.hi, ~uint64_t{0});
    EXPECT_EQ(int128_to_float(int128_mul(-7, 6)), -42.0f);
}

TEST(Orientation, CounterClockwiseContourIsReversedBetweenItsEnds) {
    std::vector<EpnPoint> ring{at(0, 0, 1), at(10, 0, 2), at(10, 10, 3), at(0, 10, 4), at(0, 0, 5)};
    EXPECT_TRUE(orient_contour(ring));
    const int32_t expected[][3] = {{1, 0, 0}, {4, 0, 10}, {3, 10, 10}, {2, 10, 0}, {5, 0, 0}};
    for (size_t i = 0; i < ring.size(); ++i) {
        EXPECT_EQ(ring[i].pointNumber, expected[i][0]);
        EXPECT_EQ(ring[i].x, expected[i][1]);
        EXPECT_EQ(ring[i].y, expected[i][2]);
    }
    EXPECT_FALSE(orient_contour(ring));  // now clockwise
    std::vector<EpnPoint> two{at(0, 0), at(10, 0)};
    EXPECT_FALSE(orient_contour(two));
}

TEST(Turn, GrainLineDirections) {
    // +x: nothing turns; -x: 180 degrees; +y: 90 degrees clockwise.
    EXPECT_FALSE(grain_rotation(at(0, 0), at(100, 0)).turned);
    EXPECT_FALSE(grain_rotation(at(5, 5), at(5, 5)).turned);
    const Rotation back = grain_rotation(at(100, 0), at(0, 0));
    EXPECT_TRUE(back.turned);
    int32_t x = 16777216, y = -7;
    ASSERT_TRUE(turn_coordinates(back, x, y));
    EXPECT_EQ(x, -16777216);
    EXPECT_EQ(y, 7);

    const Rotation up = grain_rotation(at(0, 0), at(0, 100));
    x = 0, y = 50;
    ASSERT_TRUE(turn_coordinates(up, x, y));
    EXPECT_EQ(x, 50);
    EXPECT_EQ(y, 0);
    x = 30, y = 0;
    ASSERT_TRUE(turn_coordinates(up, x, y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, -30);

    const Rotation down = grain_rotation(at(0, 100), at(0, 0));
    x = 30, y = 0;
    ASSERT_TRUE(turn_coordinates(down, x, y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 30);
}

TEST(Turn, CoordinatesRoundButGradeValuesTruncate) {
    const Rotation r127{true, 0.127f, 0};
    int32_t x = 100, y = -100;
    ASSERT_TRUE(turn_coordinates(r127, x, y));
    EXPECT_EQ(x, 13);
    EXPECT_EQ(y, -13);
    x = 100, y = -100;
    ASSERT_TRUE(turn_grade_values(r127, x, y));
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, -12);
    const Rotation half{true, 0.5f, 0};
    x = -25, y = 25;
    ASSERT_TRUE(turn_coordinates(half, x, y));
    EXPECT_EQ(x, -13);
    EXPECT_EQ(y, 13);
}

TEST(Turn, ResultsOutsideInt32AreRefused) {
    const Rotation diagonal = grain_rotation(at(0, 0), at(10, 10));
    int32_t x = 2147483640, y = 2147483640;
    EXPECT_FALSE(turn_coordinates(diagonal, x, y));
    EXPECT_EQ(x, 2147483640);
    EXPECT_FALSE(turn_grade_values(diagonal, x, y));
}

EpnPoint internal(int32_t number, int32_t x, int32_t y, char type, char flag) {
    EpnPoint p = at(x, y, number);
    p.pointType = type;
    p.lineFlag = flag;
    return p;
}

TEST(GrainLine, TurnsPointsAndOnlyN1N2Directions) {
    std::vector<EpnPoint> perimeter{at(10, 0), at(10, 0), at(10, 0)};
    perimeter[0].label[0] = 'N', perimeter[0].label[1] = '1';
    perimeter[1].label[0] = '1';
    perimeter[2].label[0] = 'N', perimeter[2].label[1] = '2';
    for (EpnPoint& p : perimeter) p.dirCos = 1;
    perimeter[2].dirCos = 0.005f;  // too short to be turned
    std::vector<EpnPoint> inner{internal(1, 0, 0, 'G', 'N'), internal(2, 0, 100, 'G', 'O')};
    const GrainResult g = correct_grain_line(perimeter, inner, false);
    ASSERT_TRUE(g.rotation.turned);
    EXPECT_FALSE(g.overflow);
    EXPECT_EQ(perimeter[0].x, 0);
    EXPECT_EQ(perimeter[0].y, -10);
    EXPECT_EQ(perimeter[0].dirCos, 0.0f);
    EXPECT_EQ(perimeter[0].dirSin, -1.0f);
    EXPECT_EQ(perimeter[1].dirCos, 1.0f);
    EXPECT_EQ(perimeter[1].dirSin, 0.0f);
    EXPECT_EQ(perimeter[2].dirCos, 0.005f);
    EXPECT_EQ(inner[1].x, 100);
    EXPECT_EQ(inner[1].y, 0);
}

std::vector<int32_t> numbers(const std::vector<EpnPoint>& t) {
    std::vector<int32_t> n;
    for (const EpnPoint& p : t) n.push_back(p.pointNumber);
    return n;
}

TEST(GrainLine, MirrorPairInFrontOfTheGrainPairIsSwappedInMirroredPiecesOnly) {
    const std::vector<EpnPoint> points{internal(1, 0, 0, 'M', 'N'), internal(2, 0, 9, 'M', 'O'),
                                       internal(3, 0, 0, ' ', ' '), internal(4, 0, 0, 'G', 'N'),
                                       internal(5, 9, 0, 'G', 'O'), internal(6, 0, 0, 'M', 'N'),
                                       internal(7, 0, 0, 'M', 'O')};
    std::vector<EpnPoint> none;
    std::vector<EpnPoint> t = points;
    correct_grain_line(none, t, true);
    EXPECT_EQ(numbers(t), (std::vector<int32_t>{4, 5, 3, 1, 2, 6, 7}));

    t = points;
    correct_grain_line(none, t, false);
    EXPECT_EQ(numbers(t), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));

    t = points;
    t[4].lineFlag = 'N';  // grain pair not marked "O": never swapped
    correct_grain_line(none, t, true);
    EXPECT_EQ(numbers(t), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));

    // Mirror pair behind the grain pair: nothing is swapped.
    t = {points[3], points[4], points[0], points[1]};
    correct_grain_line(none, t, true);
    EXPECT_EQ(numbers(t), (std::vector<int32_t>{4, 5, 1, 2}));
}

}  // namespace
}  // namespace teilimp::reader
