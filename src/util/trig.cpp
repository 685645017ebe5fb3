#include "util/trig.h"

#include <cmath>

namespace teilimp::util {

namespace {

// A double-double: the unevaluated sum hi + lo with |lo| <= ulp(hi) / 2.
// Only additions and multiplications of doubles, each rounded to nearest
// (no fused multiply-add, no extended precision), so every step is the
// same everywhere.
struct DD {
    double hi = 0, lo = 0;
};

DD two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

DD fast_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Veltkamp's split: a = hi + lo with 26 significant bits in each part.
void split(double a, double& hi, double& lo) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    hi = t - (t - a);
    lo = a - hi;
}

// Dekker's exact product.
DD two_prod(double a, double b) {
    const double p = a * b;
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DD add(DD a, DD b) {
    DD s = two_sum(a.hi, b.hi);
    const DD t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = fast_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return fast_two_sum(s.hi, s.lo);
}

DD neg(DD a) { return {-a.hi, -a.lo}; }

DD mul(DD a, DD b) {
    DD p = two_prod(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return fast_two_sum(p.hi, p.lo);
}

DD div(DD a, double b) {
    const double q1 = a.hi / b;
    DD r = add(a, neg(two_prod(q1, b)));
    const double q2 = r.hi / b;
    r = add(r, neg(two_prod(q2, b)));
    const double q3 = r.hi / b;
    return add(fast_two_sum(q1, q2), DD{q3, 0});
}

// pi/2 in three parts, together some 160 bits.
constexpr double kHalfPi1 = 0x1.921fb54442d18p+0;
constexpr double kHalfPi2 = 0x1.1a62633145c07p-54;
constexpr double kHalfPi3 = -0x1.f1976b7ed8fbcp-110;

// cos and sin of x, |x| <= pi/4 (and a little more), by their series:
// the terms fall below 2^-110 of the sum long before n = 30.
void series(DD x, DD& c, DD& s) {
    const DD x2 = mul(x, x);
    DD term{1, 0};
    c = term;
    s = x;
    DD sterm = x;
    for (int n = 2; n <= 30; n += 2) {
        term = div(mul(term, x2), -static_cast<double>((n - 1) * n));
        c = add(c, term);
        sterm = div(mul(sterm, x2), -static_cast<double>(n * (n + 1)));
        s = add(s, sterm);
    }
}

// cos and sin of x, |x| <= pi/4 (and a little more), in plain double by
// Horner's scheme: the series' rest beyond x^16 and x^17 is below 2^-57,
// and the rounding of some 50 operations and coefficients, each in a
// factor below 1/3, keeps both values within 2^-48 of the exact ones,
// relative to them.
void series_double(double x, double& c, double& s) {
    // 1 / ((n - 1) n) and 1 / (n (n + 1)) for n = 2, 4, ..., 16.
    constexpr double kCos[] = {1.0 / 2, 1.0 / 12, 1.0 / 30, 1.0 / 56, 1.0 / 90, 1.0 / 132, 1.0 / 182, 1.0 / 240};
    constexpr double kSin[] = {1.0 / 6, 1.0 / 20, 1.0 / 42, 1.0 / 72, 1.0 / 110, 1.0 / 156, 1.0 / 210, 1.0 / 272};
    const double z = x * x;
    double tc = 1;
    double ts = 1;
    for (int n = 7; n >= 0; --n) {
        tc = 1 - z * kCos[n] * tc;
        ts = 1 - z * kSin[n] * ts;
    }
    c = tc;
    s = x * ts;
}

// r = k pi/2 + x with |x| <= pi/4: k * pi/2 subtracted in parts, each
// product exact or far below the precision needed.
DD reduce(double r, double& k) {
    k = std::nearbyint(r * 0.63661977236758134308);
    DD x = add(DD{r, 0}, neg(two_prod(k, kHalfPi1)));
    x = add(x, neg(two_prod(k, kHalfPi2)));
    return add(x, DD{-k * kHalfPi3, 0});
}

// cos(x + k pi/2) and sin(x + k pi/2) from cos x and sin x.
template <typename T>
void to_quadrant(double k, T cx, T sx, T& c, T& s) {
    switch (static_cast<int>(k) & 3) {
        case 0: c = cx; s = sx; break;
        case 1: c = -sx; s = cx; break;
        case 2: c = -cx; s = -sx; break;
        default: c = sx; s = -cx; break;
    }
}

// The float of every double within 2^-40 of v (relative to v), if all of
// them give the same one: rounding is monotonic, so the two ends decide.
bool one_float_near(double v, float& f) {
    const double margin = std::fabs(v) * 0x1p-40;
    f = static_cast<float>(v - margin);
    return f == static_cast<float>(v + margin);
}

}  // namespace

void cos_sin_float(double r, float& c, float& s) {
    // r = k pi/2 + x in plain double, with pi/2 in three parts, the first
    // two of 33 bits, so that k times each of them is exact (|k| < 2^20)
    // and the first difference too; the two roundings after it and the
    // 123 bits of pi/2 leave x within 2^-51 of its value, relative to it,
    // as long as x is not tiny (such arguments go the long way).
    constexpr double kP1 = 0x1.921fb544p+0;
    constexpr double kP2 = 0x1.0b4611a6p-34;
    constexpr double kP3 = 0x1.3198a2e037073p-69;
    const double k = std::nearbyint(r * 0.63661977236758134308);
    const double x = ((r - k * kP1) - k * kP2) - k * kP3;
    if (std::fabs(x) >= 0x1p-20 && std::fabs(x) <= 1) {
        double cx = 0, sx = 0;
        series_double(x, cx, sx);
        double cd = 0, sd = 0;
        to_quadrant(k, cx, sx, cd, sd);
        // cos_sin's doubles lie within 2^-52 of the exact values, these
        // within 2^-48: both inside the 2^-40 checked.
        if (one_float_near(cd, c) && one_float_near(sd, s)) return;
    }
    double cd = 0, sd = 0;
    cos_sin(r, cd, sd);
    c = static_cast<float>(cd);
    s = static_cast<float>(sd);
}

void cos_sin(double r, double& c, double& s) {
    double k = 0;
    const DD x = reduce(r, k);
    DD cx, sx;
    series(x, cx, sx);
    to_quadrant(k, cx.hi, sx.hi, c, s);
}

}  // namespace teilimp::util
