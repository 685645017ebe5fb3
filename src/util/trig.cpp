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

}  // namespace

void cos_sin(double r, double& c, double& s) {
    // r = k pi/2 + x with |x| <= pi/4: k * pi/2 subtracted in parts, each
    // product exact or far below the precision needed.
    const double k = std::nearbyint(r * 0.63661977236758134308);
    DD x = add(DD{r, 0}, neg(two_prod(k, kHalfPi1)));
    x = add(x, neg(two_prod(k, kHalfPi2)));
    x = add(x, DD{-k * kHalfPi3, 0});
    DD cx, sx;
    series(x, cx, sx);
    // The quadrant: cos(x + k pi/2) and sin(x + k pi/2).
    switch (static_cast<int>(k) & 3) {
        case 0: c = cx.hi; s = sx.hi; break;
        case 1: c = -sx.hi; s = cx.hi; break;
        case 2: c = -cx.hi; s = -sx.hi; break;
        default: c = sx.hi; s = -cx.hi; break;
    }
}

}  // namespace teilimp::util
