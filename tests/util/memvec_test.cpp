#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <vector>

#include "util/memvec.h"

using namespace teilimp::util;

TEST(Umsp, OverlappingMoveShiftsCorrectly) {
    char buf[16] = "0123456789ABCDE";
    umsp(10, buf, buf + 2);
    EXPECT_EQ(std::string(buf, 15), "010123456789CDE");
    umsp(0, buf + 5, buf);
    EXPECT_EQ(buf[0], '0');
}

TEST(Taupp, ExchangesAreasOfAnySize) {
    char a[] = "AAAAAA", b[] = "BBBBBB";
    taupp(6, a, b);
    EXPECT_STREQ(a, "BBBBBB");
    EXPECT_STREQ(b, "AAAAAA");
    taupp(0, a, b);
    EXPECT_STREQ(a, "BBBBBB");
    // Larger than the on-stack buffer.
    std::vector<unsigned char> x(5000, 1), y(5000, 2);
    taupp(5000, x.data(), y.data());
    EXPECT_EQ(x[4999], 2);
    EXPECT_EQ(y[0], 1);
}

TEST(Revitems, ReversesItemsNotTheirBytes) {
    int16_t v[5] = {1, 2, 3, 4, 5};
    revitems(v, 2, 5);
    EXPECT_EQ(std::vector<int16_t>(v, v + 5), (std::vector<int16_t>{5, 4, 3, 2, 1}));

    char g[33] = "abcdefghABCDEFGH01234567stuvwxyz";
    revitems4(g, 8, 4);
    EXPECT_STREQ(g, "stuvwxyz01234567ABCDEFGHabcdefgh");

    revitems(v, 2, 0);
    revitems(v, 0, 5);
    EXPECT_EQ(v[0], 5);
}

TEST(Revitems, ArraysBeyond32767BytesAreReversedWhole) {
    // 40 items of 1000 bytes: byte offsets exceed the 2-byte range.
    std::vector<unsigned char> a(40000);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<unsigned char>(i / 1000);
    revitems(a.data(), 1000, 40);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], 39 - i / 1000) << i;
}

namespace {
void expect_vec(const Vec2& v, float x, float y) {
    EXPECT_NEAR(v.x, x, 1e-6) << "x";
    EXPECT_NEAR(v.y, y, 1e-6) << "y";
}
}  // namespace

TEST(Vectors, ProductsRelationsAndTurns) {
    Vec2 out;
    vk4mul({0, 1}, {0, 1}, out);
    expect_vec(out, -1, 0);
    vk4rel({1, 0}, {1, 0}, out);
    expect_vec(out, 1, 0);
    vk4rel({0, 2}, {1, 0}, out);
    expect_vec(out, 0, 2);
    // Each product is rounded to float before the difference: u*u - u*u is
    // exactly 0 (a fused multiply-add would leave 2^-24).
    const float u = 1.0f + std::ldexp(1.0f, -12);
    vk4mul({u, u}, {u, u}, out);
    EXPECT_EQ(out.x, 0.0f);
    // The output may be an input.
    Vec2 a{3, 4};
    vk4mul(a, {0, 1}, a);
    expect_vec(a, -4, 3);
    vk4left(a, a);
    expect_vec(a, -3, -4);
    vk4right(a, a);
    expect_vec(a, -4, 3);

    vk4turn({2, 0}, {0, 3}, 0.0f, out);
    expect_vec(out, 2, 0);
    vk4turn({2, 0}, {0, 3}, 1.0f, out);
    expect_vec(out, 0, 2);
    vk4turn({2, 0}, {0, 3}, 0.5f, out);
    expect_vec(out, std::sqrt(2.0f), std::sqrt(2.0f));
    vk4mirr({1, 2}, {1, 0}, out);  // at the x axis
    expect_vec(out, 1, -2);
    vk4mirr({1, 0}, {0, 1}, out);  // at the y axis
    expect_vec(out, -1, 0);
}

TEST(Vectors, AnglesAndNorm) {
    const float pi = 3.14159265358979f;
    EXPECT_FLOAT_EQ(atan2pi(-0.0f, -1.0f), pi);
    EXPECT_FLOAT_EQ(atan2pi(-1e-12f, -1.0f), pi);
    EXPECT_FLOAT_EQ(atan2pi(-1.0f, 0.0f), -pi / 2);
    float w = 0;
    wsum(3.0f, 1.0f, w);
    EXPECT_NEAR(w, 4.0 - 2 * std::numbers::pi, 1e-5);
    wdiff(-3.0f, 1.0f, w);
    EXPECT_NEAR(w, -4.0 + 2 * std::numbers::pi, 1e-5);

    Vec2 v{3, 4};
    vk4norm(v);
    expect_vec(v, 0.6f, 0.8f);
    Vec2 tiny{0.0005f, 0};
    vk4norm(tiny);
    expect_vec(tiny, 0, 1);
}
