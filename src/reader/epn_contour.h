// Bringing a piece into its normal form: the contour runs clockwise (x to
// the right, y upward) and the grain line points to +x; in mirrored pieces
// the grain line pair goes in front of the mirror line pair.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "reader/epn_points.h"
#include "util/memvec.h"

namespace teilimp::reader {

struct XY {
    int32_t x = 0;
    int32_t y = 0;
};

// Half the shoelace sum over the closed contour, in single
// precision; positive for a clockwise contour, negative for a
// counter-clockwise one, 0 for fewer than 3 points. The sum over the open
// polygon is formed exactly and rounded once, the closing term is added
// exactly to that rounded value and the result rounded once more.
float contour_area(std::span<const XY> points);

// A signed 128-bit integer in two's complement, as two 64-bit words: wide
// enough for the exact shoelace sum, and available on every compiler (the
// 32-bit ones have no native 128-bit type).
struct Int128 {
    uint64_t lo = 0;
    uint64_t hi = 0;
};

Int128 int128_from(int64_t v);
Int128 int128_add(Int128 a, Int128 b);
Int128 int128_negate(Int128 v);
// The exact product of two 64-bit integers.
Int128 int128_mul(int64_t a, int64_t b);

// Nearest single-precision value of an integer (ties to even).
float int128_to_float(Int128 v);

// Reverses the perimeter points 2 .. n-1 (the first and the last point keep
// their places) when the contour runs counter-clockwise. True when it did.
bool orient_contour(std::vector<EpnPoint>& perimeter);

// The turn that brings the grain line onto +x.
struct Rotation {
    bool turned = false;
    float turnCos = 1;
    float turnSin = 0;
};

// The rotation for a grain line from p to q; not turned when it already
// points to +x (or is a single point).
Rotation grain_rotation(const EpnPoint& p, const EpnPoint& q);

// Turns a coordinate pair; each result to the nearest integer, halves away
// from zero. False when a result does not fit in int32 (the pair is then
// unchanged).
bool turn_coordinates(const Rotation& r, int32_t& x, int32_t& y);
// Turns a grade value pair; each result truncated toward zero. False when a
// result does not fit in int32.
bool turn_grade_values(const Rotation& r, int32_t& x, int32_t& y);

// Direction (cos, sin) of an angle given in tenths of a degree.
util::Vec2 angle_direction(int32_t tenths);

struct GrainResult {
    Rotation rotation;
    bool overflow = false;  // a turned coordinate does not fit in int32
};

// Finds the grain line (the first pair of consecutive "G" points) and in
// mirrored pieces the mirror line in front of it, turns every point and the
// notch directions of "N1"/"N2" points, and puts the grain line pair in
// front of the mirror line pair.
GrainResult correct_grain_line(std::vector<EpnPoint>& perimeter,
                               std::vector<EpnPoint>& internal, bool mirrored);

}  // namespace teilimp::reader
