#include "reader/epn_contour.h"

#include "util/trig.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace teilimp::reader {

namespace {

int count_bits(unsigned __int128 m) {
    int bits = 0;
    while (m != 0) {
        ++bits;
        m >>= 1;
    }
    return bits;
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

float int128_to_float(__int128 v) {
    const bool negative = v < 0;
    const unsigned __int128 m =
        negative ? static_cast<unsigned __int128>(0) - static_cast<unsigned __int128>(v)
                 : static_cast<unsigned __int128>(v);
    const int bits = count_bits(m);
    float f;
    if (bits <= 24) {
        f = static_cast<float>(static_cast<uint32_t>(m));
    } else {
        // Keep the top 24 bits and round the rest to nearest, ties to even.
        const int shift = bits - 24;
        auto top = static_cast<uint32_t>(m >> shift);
        const unsigned __int128 rest = m & ((static_cast<unsigned __int128>(1) << shift) - 1);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest > half || (rest == half && (top & 1u) != 0)) ++top;
        f = std::ldexp(static_cast<float>(top), shift);
    }
    return negative ? -f : f;
}

float contour_area(std::span<const XY> points) {
    const size_t n = points.size();
    if (n < 3) return 0;
    __int128 sum = 0;
    for (size_t i = 0; i + 1 < n; ++i) {
        const __int128 dx = static_cast<int64_t>(points[i + 1].x) - points[i].x;
        const __int128 sy = static_cast<int64_t>(points[i + 1].y) + points[i].y;
        sum += dx * sy;
    }
    const float open = int128_to_float(sum);
    const __int128 dx = static_cast<int64_t>(points[0].x) - points[n - 1].x;
    const __int128 sy = static_cast<int64_t>(points[0].y) + points[n - 1].y;
    // The rounded open sum is an integer, so the closed sum is exact here.
    const float closed = int128_to_float(static_cast<__int128>(open) + dx * sy);
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
    double c = 0, s = 0;
    util::cos_sin(radians, c, s);
    return {static_cast<float>(c), static_cast<float>(s)};
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
