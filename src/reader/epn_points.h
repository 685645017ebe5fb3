// Working entries of the point lines and the variable-length point records
// that the piece image stores for them.
#pragma once

#include <array>
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

}  // namespace teilimp::reader
