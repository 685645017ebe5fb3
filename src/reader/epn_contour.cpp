#include "reader/epn_contour.h"

#include "util/trig.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace teilimp::reader {

namespace {

int bit_width64(uint64_t m) {
    int bits = 0;
    while (m != 0) {
        ++bits;
        m >>= 1;
    }
    return bits;
}

bool is_negative(Int128 v) { return (v.hi >> 63) != 0; }

// The bits of a non-negative value from bit `shift` upwards (shift 1..127).
Int128 shift_right(Int128 v, int shift) {
    if (shift >= 64) return {v.hi >> (shift - 64), 0};
    return {(v.lo >> shift) | (v.hi << (64 - shift)), v.hi >> shift};
}

// The bits of a non-negative value below bit `shift` (shift 1..127).
Int128 low_bits(Int128 v, int shift) {
    if (shift >= 64) {
        const int high = shift - 64;
        return {v.lo, high == 0 ? 0 : v.hi & ((uint64_t{1} << high) - 1)};
    }
    return {v.lo & ((uint64_t{1} << shift) - 1), 0};
}

Int128 power_of_two(int n) {
    if (n >= 64) return {0, uint64_t{1} << (n - 64)};
    return {uint64_t{1} << n, 0};
}

// The integer an integral single-precision value stands for.
Int128 exact_int128(float f) {
    const bool negative = f < 0;
    int exponent = 0;
    const float fraction = std::frexp(negative ? -f : f, &exponent);
    const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 24));  // 24 bits
    const int shift = exponent - 24;
    Int128 m;
    if (shift <= 0) {
        m = {mantissa >> -shift, 0};
    } else if (shift < 64) {
        m = {mantissa << shift, shift > 40 ? mantissa >> (64 - shift) : 0};
    } else {
        m = {0, mantissa << (shift - 64)};
    }
    return negative ? int128_negate(m) : m;
}

int compare_unsigned(Int128 a, Int128 b) {
    if (a.hi != b.hi) return a.hi < b.hi ? -1 : 1;
    if (a.lo != b.lo) return a.lo < b.lo ? -1 : 1;
    return 0;
}

// Halves away from zero: add 0.5 to a value of 0 or more, subtract 0.5 from
// a negative one, then drop the fraction.
double round_half_away(double v) { return std::trunc(v >= 0 ? v + 0.5 : v - 0.5); }

bool fits_int32(double v) { return v >= -2147483648.0 && v <= 2147483647.0; }

// (x c - y s, y c + x s) with x and y taken as single-precision values and
// the products and sums formed in double precision.
void rotate(const Rotation& r, int32_t x, int32_t y, double& nx, double& ny) {
    const double xf = static_cast<float>(x);
    const double yf = static_cast<float>(y);
    const double c = r.turnCos;
    const double s = r.turnSin;
    const double xc = xf * c;
    const double ys = yf * s;
    const double yc = yf * c;
    const double xs = xf * s;
    nx = xc - ys;
    ny = yc + xs;
}

bool is_n1_or_n2(const EpnPoint& p) {
    return p.label[0] == 'N' && (p.label[1] == '1' || p.label[1] == '2');
}

}  // namespace

Int128 int128_from(int64_t v) {
    return {static_cast<uint64_t>(v), v < 0 ? ~uint64_t{0} : 0};
}

Int128 int128_add(Int128 a, Int128 b) {
    Int128 r;
    r.lo = a.lo + b.lo;
    r.hi = a.hi + b.hi + (r.lo < a.lo ? 1 : 0);
    return r;
}

Int128 int128_negate(Int128 v) { return int128_add({~v.lo, ~v.hi}, {1, 0}); }

Int128 int128_mul(int64_t a, int64_t b) {
    const bool negative = (a < 0) != (b < 0);
    const uint64_t ua = a < 0 ? uint64_t{0} - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
    const uint64_t ub = b < 0 ? uint64_t{0} - static_cast<uint64_t>(b) : static_cast<uint64_t>(b);
    // Schoolbook product of the 32-bit halves.
    const uint64_t aLo = ua & 0xffffffffu, aHi = ua >> 32;
    const uint64_t bLo = ub & 0xffffffffu, bHi = ub >> 32;
    const uint64_t ll = aLo * bLo;
    const uint64_t lh = aLo * bHi;
    const uint64_t hl = aHi * bLo;
    const uint64_t hh = aHi * bHi;
    const uint64_t middle = (ll >> 32) + (lh & 0xffffffffu) + (hl & 0xffffffffu);
    Int128 r;
    r.lo = (middle << 32) | (ll & 0xffffffffu);
    r.hi = hh + (lh >> 32) + (hl >> 32) + (middle >> 32);
    return negative ? int128_negate(r) : r;
}

float int128_to_float(Int128 v) {
    const bool negative = is_negative(v);
    const Int128 m = negative ? int128_negate(v) : v;
    const int bits = m.hi != 0 ? 64 + bit_width64(m.hi) : bit_width64(m.lo);
    float f;
    if (bits <= 24) {
        f = static_cast<float>(static_cast<uint32_t>(m.lo));
    } else {
        // Keep the top 24 bits and round the rest to nearest, ties to even.
        const int shift = bits - 24;
        auto top = static_cast<uint32_t>(shift_right(m, shift).lo);
        const int order = compare_unsigned(low_bits(m, shift), power_of_two(shift - 1));
        if (order > 0 || (order == 0 && (top & 1u) != 0)) ++top;
        f = std::ldexp(static_cast<float>(top), shift);
    }
    return negative ? -f : f;
}

float contour_area(std::span<const XY> points) {
    const size_t n = points.size();
    if (n < 3) return 0;
    Int128 sum;
    for (size_t i = 0; i + 1 < n; ++i) {
        const int64_t dx = static_cast<int64_t>(points[i + 1].x) - points[i].x;
        const int64_t sy = static_cast<int64_t>(points[i + 1].y) + points[i].y;
        sum = int128_add(sum, int128_mul(dx, sy));
    }
    const float open = int128_to_float(sum);
    const int64_t dx = static_cast<int64_t>(points[0].x) - points[n - 1].x;
    const int64_t sy = static_cast<int64_t>(points[0].y) + points[n - 1].y;
    // The rounded open sum is an integer, so the closed sum is exact here.
    const Int128 closing = int128_mul(dx, sy);
    const float closed = int128_to_float(int128_add(exact_int128(open), closing));
    return closed * 0.5f;
}

bool orient_contour(std::vector<EpnPoint>& perimeter) {
    std::vector<XY> table;
    try {
        table.resize(perimeter.size());
    } catch (const std::bad_alloc&) {
        return false;  // no room for the test: the contour stays as read
    }
    for (size_t i = 0; i < perimeter.size(); ++i) table[i] = {perimeter[i].x, perimeter[i].y};
    if (!(contour_area(table) < 0)) return false;
    std::reverse(perimeter.begin() + 1, perimeter.end() - 1);
    return true;
}

Rotation grain_rotation(const EpnPoint& p, const EpnPoint& q) {
    Rotation r;
    if (p.y == q.y && p.x <= q.x) return r;
    r.turned = true;
    if (p.y == q.y) {
        r.turnCos = -1;
        r.turnSin = 0;
        return r;
    }
    const double dx = static_cast<double>(q.x) - p.x;
    const double dy = static_cast<double>(q.y) - p.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    r.turnCos = static_cast<float>(dx / length);
    r.turnSin = static_cast<float>(-dy / length);
    return r;
}

bool turn_coordinates(const Rotation& r, int32_t& x, int32_t& y) {
    double nx, ny;
    rotate(r, x, y, nx, ny);
    nx = round_half_away(nx);
    ny = round_half_away(ny);
    if (!fits_int32(nx) || !fits_int32(ny)) return false;
    x = static_cast<int32_t>(nx);
    y = static_cast<int32_t>(ny);
    return true;
}

bool turn_grade_values(const Rotation& r, int32_t& x, int32_t& y) {
    double nx, ny;
    rotate(r, x, y, nx, ny);
    nx = std::trunc(nx);
    ny = std::trunc(ny);
    if (!fits_int32(nx) || !fits_int32(ny)) return false;
    x = static_cast<int32_t>(nx);
    y = static_cast<int32_t>(ny);
    return true;
}

util::Vec2 angle_direction(int32_t tenths) {
    const float degrees = static_cast<float>(tenths) * 0.1f;
    const float reduced = std::fmod(degrees, 360.0f);
    // The quarter angles are exact, also below zero; everything else is
    // computed, by a routine of our own so that the piece image is the same
    // whatever the system's math library gives in its last bits.
    if (reduced == 0.0f) return {1, 0};
    if (reduced == 90.0f || reduced == -270.0f) return {0, 1};
    if (reduced == 180.0f || reduced == -180.0f) return {-1, 0};
    if (reduced == 270.0f || reduced == -90.0f) return {0, -1};
    const double radians = static_cast<double>(reduced) * (3.14159265358979323846 / 180.0);
    float c = 0, s = 0;
    util::cos_sin_float(radians, c, s);
    return {c, s};
}

GrainResult correct_grain_line(std::vector<EpnPoint>& perimeter,
                               std::vector<EpnPoint>& internal, bool mirrored) {
    GrainResult result;
    // 0-based starts of the pairs; -1 while none is known.
    ptrdiff_t grainStart = -1;
    ptrdiff_t mirrorStart = -1;
    const ptrdiff_t count = static_cast<ptrdiff_t>(internal.size());

    for (ptrdiff_t m = 0; m + 1 < count; ++m) {
        const EpnPoint& p = internal[m];
        const EpnPoint& q = internal[m + 1];
        if (p.pointType == 'G' && q.pointType == 'G') {
            if (q.lineFlag == 'O') grainStart = m;
            result.rotation = grain_rotation(p, q);
            break;
        }
        if (mirrored && p.pointType == 'M' && q.pointType == 'M' && q.lineFlag == 'O')
            mirrorStart = m;
    }

    const Rotation& r = result.rotation;
    if (r.turned) {
        for (EpnPoint& p : perimeter)
            if (!turn_coordinates(r, p.x, p.y)) result.overflow = true;
        for (EpnPoint& p : internal)
            if (!turn_coordinates(r, p.x, p.y)) result.overflow = true;
        if (result.overflow) return result;
        const util::Vec2 turn{r.turnCos, r.turnSin};
        auto turnDirection = [&turn](EpnPoint& p) {
            if (!is_n1_or_n2(p) || !has_direction(p)) return;
            util::Vec2 d{p.dirCos, p.dirSin};
            util::vk4mul(d, turn, d);
            p.dirCos = d.x;
            p.dirSin = d.y;
        };
        for (EpnPoint& p : perimeter) turnDirection(p);
        for (EpnPoint& p : internal) turnDirection(p);
    }

    // A mirror line pair is only found in front of the grain line pair, and
    // the two pairs can't overlap (a point is either "G" or "M").
    if (grainStart >= 0 && mirrorStart >= 0 && mirrorStart < grainStart)
        std::swap_ranges(internal.begin() + mirrorStart, internal.begin() + mirrorStart + 2,
                         internal.begin() + grainStart);
    return result;
}

}  // namespace teilimp::reader
