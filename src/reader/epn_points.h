// Working entries of the point lines and the variable-length point records
// that the piece image stores for them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/piece_model.h"

namespace teilimp::reader {

// One point line of an EPN file. Coordinates are already in the stored unit
// (EPN unit / 10); fields that could not be read are 0.
struct EpnPoint {
    int32_t pointNumber = 0;
    int32_t ruleNumber = 0;
    int32_t x = 0;
    int32_t y = 0;
    std::array<char, 10> label{' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    char pointType = ' ';
    char lineFlag = ' ';
    float dirCos = 0;  // direction; (0, 0) when the point has none
    float dirSin = 0;
};

// Room a record area needs.
constexpr int32_t kMaxRulePointRecord = 29;
constexpr int32_t kMaxPlainPointRecord = 16;

// Notch code of a label (its first two characters, compared exactly).
NotchCode notch_code(const std::array<char, 10>& label);

// True when the point has a direction worth storing or turning.
bool has_direction(const EpnPoint& p);

// The point as the image stores it: a rule point (rule number above 0)
// with its notch direction in thousandths where its notch takes one, a
// point without rule with its "C" mark.
ModelPoint model_point(const EpnPoint& p);

// Fills the model's contour and internal lines from the point tables of a
// piece in the normal form: the perimeter points in order, the internal
// points joined into lines as the EPN format joins them (a line ends at a
// point whose line flag is not "N", which gives the line its type; a last
// line whose final point continues is never closed and is left out).
// Returns the bytes their records take in the image, line headers included.
int64_t build_model_points(const std::vector<EpnPoint>& perimeter, const std::vector<EpnPoint>& internal,
                           PieceModel& m);

// Length of the point's record: 14, 15 or 16 bytes for a point without
// rule, 20, 21, 22, 28 or 29 for a rule point.
int32_t record_length(const ModelPoint& p);
// Writes the record, exactly record_length(p) bytes; returns the length.
// A point without rule has point class 1, or 2 with the "C" mark; a rule
// point class 0 and its rule number (the long form: the direction in front
// of it, and 8 added to the notch kind).
int32_t encode_point(const ModelPoint& p, uint8_t* record);
// The same into room that is already zero (the image encoder's).
int32_t encode_point_zeroed(const ModelPoint& p, uint8_t* record);
// Reads one record from the front of `bytes`; returns its length, or 0 when
// the bytes are not a record the encoder writes (or end too early).
int32_t decode_point(const uint8_t* bytes, size_t available, ModelPoint& p);

// Record of a point without grade rule (14, 15 or 16 bytes); returns its length.
int32_t make_plain_point(const EpnPoint& p, uint8_t* record);
// Record of a point with a grade rule (20, 21, 22, 28 or 29 bytes); returns its length.
int32_t make_rule_point(const EpnPoint& p, uint8_t* record);
// Either of the two, by the point's rule number.
int32_t make_point_record(const EpnPoint& p, uint8_t* record);

// Little-endian stores.
inline void put16(uint8_t* at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    at[0] = static_cast<uint8_t>(u);
    at[1] = static_cast<uint8_t>(u >> 8);
}
inline void put32(uint8_t* at, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    at[0] = static_cast<uint8_t>(u);
    at[1] = static_cast<uint8_t>(u >> 8);
    at[2] = static_cast<uint8_t>(u >> 16);
    at[3] = static_cast<uint8_t>(u >> 24);
}

// Little-endian loads.
inline int16_t get16(const uint8_t* at) {
    return static_cast<int16_t>(static_cast<uint16_t>(at[0] | at[1] << 8));
}
inline int32_t get32(const uint8_t* at) {
    return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                                static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24);
}

}  // namespace teilimp::reader
