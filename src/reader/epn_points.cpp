#include "reader/epn_points.h"

#include <cmath>
#include <cstring>

namespace teilimp::reader {

namespace {

constexpr uint8_t kNotchMark = 9;

// The point number as stored: its low 16 bits when positive, else -1.
int32_t stored_point_number(int32_t n) { return n > 0 ? n : -1; }

// A direction component times 1000, to the nearest integer, halves away
// from zero. |v| <= 1 for every direction the reader makes, but a turned
// direction may be a little longer; the clamp only guards the conversion.
int32_t thousandths(float v) {
    double t = static_cast<double>(v) * 1000.0;
    t = t >= 0 ? t + 0.5 : t - 0.5;
    if (!(t > -2147483648.0 && t < 2147483648.0)) t = 0;
    return static_cast<int32_t>(t);
}

void put_common(const EpnPoint& p, uint8_t* record) {
    put16(record + 0, stored_point_number(p.pointNumber));
    put32(record + 2, p.x);
    put32(record + 6, p.y);
}

}  // namespace

Notch decode_notch(const std::array<char, 10>& label) {
    const char a = label[0];
    const char b = label[1];
    if (a == 'N') {
        if (b == '1') return {1, 1, 0};
        if (b == '2') return {1, 2, 0};
        if (b == ' ') return {1, 0, 0};
        if (b == 'L') return {2, 0, 1};
        if (b == 'K') return {2, 0, 0};
        return {};
    }
    if (b == ' ' && a == '1') return {0, 1, 0};
    if (b == ' ' && a == '2') return {0, 2, 0};
    return {};
}

bool has_direction(const EpnPoint& p) {
    return std::fabs(p.dirCos) + std::fabs(p.dirSin) > 0.01f;
}

int32_t make_plain_point(const EpnPoint& p, uint8_t* record) {
    std::memset(record, 0, kMaxPlainPointRecord);
    put_common(p, record);
    const Notch notch = decode_notch(p.label);
    record[10] = p.lineFlag == 'C' ? 2 : 1;
    record[11] = notch.notchKind;
    record[12] = notch.notchClass;
    record[13] = 0;
    if (notch.notchClass == 0) return 14;
    record[14] = kNotchMark;
    if (notch.notchClass == 1) return 15;
    record[15] = notch.nlFlag;
    return 16;
}

int32_t make_rule_point(const EpnPoint& p, uint8_t* record) {
    std::memset(record, 0, kMaxRulePointRecord);
    put_common(p, record);
    const Notch notch = decode_notch(p.label);
    record[11] = notch.notchKind;
    record[12] = notch.notchClass;
    put32(record + 14, p.ruleNumber);
    record[20] = kNotchMark;

    int32_t length = 21;
    if ((notch.notchKind == 1 || notch.notchKind == 2) && has_direction(p)) {
        // Long form: the direction goes in front of the rule number, and
        // a kind of 9 or 10 tells a reader of the image so.
        put32(record + 14, thousandths(p.dirCos));
        put32(record + 18, thousandths(p.dirSin));
        put32(record + 22, p.ruleNumber);
        record[28] = kNotchMark;
        record[11] = static_cast<uint8_t>(notch.notchKind + 8);
        length = 29;
    }
    if (notch.notchClass == 0) return length - 1;
    if (notch.notchClass == 2) {
        record[21] = notch.nlFlag;
        return 22;
    }
    return length;
}

int32_t make_point_record(const EpnPoint& p, uint8_t* record) {
    return p.ruleNumber > 0 ? make_rule_point(p, record) : make_plain_point(p, record);
}

}  // namespace teilimp::reader
