// Working entries of the point lines and the variable-length point records
// that the piece image stores for them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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

// Notch code of a label (its first two characters).
struct Notch {
    uint8_t notchClass = 0;  // 0 none or plain kind, 1 "N1"/"N2"/"N ", 2 "NL"/"NK"
    uint8_t notchKind = 0;   // 1 or 2 for "N1"/"1 " and "N2"/"2 ", else 0
    uint8_t nlFlag = 0;      // class 2 only: 1 for "NL", 0 for "NK"
};
Notch decode_notch(const std::array<char, 10>& label);

// True when the point has a direction worth storing or turning.
bool has_direction(const EpnPoint& p);

// A point record as stored, field by field. A plain point (no grade rule)
// has pointClass 1, or 2 for a point whose line flag is "C"; a rule point
// has pointClass 0 and a rule number above 0, and in its long form a notch
// direction in thousandths.
struct PointRecord {
    int16_t pointNumber = -1;
    int32_t x = 0;
    int32_t y = 0;
    uint8_t pointClass = 1;
    Notch notch;
    int32_t ruleNumber = 0;  // rule points only
    bool directed = false;   // long form of a rule point
    int32_t dirX = 0;        // direction times 1000 (long form only)
    int32_t dirY = 0;

    bool rulePoint() const { return pointClass == 0; }
};

// Writes the record (room for kMaxRulePointRecord bytes); returns its length.
int32_t encode_point(const PointRecord& r, uint8_t* record);
// Reads one record from the front of `bytes`; returns its length, or 0 when
// the bytes are not a record the encoder writes (or end too early).
int32_t decode_point(const uint8_t* bytes, size_t available, PointRecord& r);

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
