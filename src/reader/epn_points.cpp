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

// The notch codes of the table; anything else is not a record we write.
bool known_notch(const Notch& n) {
    switch (n.notchClass) {
        case 0:
        case 1: return n.notchKind <= 2 && n.nlFlag == 0;
        case 2: return n.notchKind == 0 && n.nlFlag <= 1;
        default: return false;
    }
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

// Layout: number, x, y, class, kind, notch class, a zero byte; a plain
// point then has the notch mark (classes 1 and 2) and the NL flag (class
// 2). A rule point has the rule number (the long form: the direction in
// front of it, and 8 added to the kind) and two zero bytes before them.
int32_t encode_point(const PointRecord& r, uint8_t* record) {
    std::memset(record, 0, kMaxRulePointRecord);
    put16(record + 0, r.pointNumber);
    put32(record + 2, r.x);
    put32(record + 6, r.y);
    record[10] = r.pointClass;
    record[11] = r.notch.notchKind;
    record[12] = r.notch.notchClass;
    int32_t at = 14;
    if (r.rulePoint()) {
        if (r.directed) {
            record[11] = static_cast<uint8_t>(r.notch.notchKind + 8);
            put32(record + 14, r.dirX);
            put32(record + 18, r.dirY);
            at = 22;
        }
        put32(record + at, r.ruleNumber);
        at += 6;
    }
    if (r.notch.notchClass == 0) return at;
    record[at++] = kNotchMark;
    if (r.notch.notchClass == 2) record[at++] = r.notch.nlFlag;
    return at;
}

int32_t decode_point(const uint8_t* bytes, size_t available, PointRecord& r) {
    if (available < 14 || bytes[13] != 0 || bytes[10] > 2) return 0;
    r = PointRecord{};
    r.pointNumber = get16(bytes);
    r.x = get32(bytes + 2);
    r.y = get32(bytes + 6);
    r.pointClass = bytes[10];
    r.notch.notchKind = bytes[11];
    r.notch.notchClass = bytes[12];
    size_t at = 14;
    if (r.rulePoint()) {
        if (r.notch.notchKind == 9 || r.notch.notchKind == 10) {
            // The long form is written only for "N1"/"N2" and "1 "/"2 ".
            if (r.notch.notchClass > 1 || available < 22) return 0;
            r.directed = true;
            r.notch.notchKind = static_cast<uint8_t>(r.notch.notchKind - 8);
            r.dirX = get32(bytes + 14);
            r.dirY = get32(bytes + 18);
            at = 22;
        }
        if (available < at + 6 || bytes[at + 4] != 0 || bytes[at + 5] != 0) return 0;
        r.ruleNumber = get32(bytes + at);
        if (r.ruleNumber <= 0) return 0;
        at += 6;
    }
    if (r.notch.notchClass >= 1) {
        if (available < at + 1 || bytes[at] != kNotchMark) return 0;
        ++at;
    }
    if (r.notch.notchClass == 2) {
        if (available < at + 1) return 0;
        r.notch.nlFlag = bytes[at++];
    }
    if (!known_notch(r.notch)) return 0;
    return static_cast<int32_t>(at);
}

int32_t make_plain_point(const EpnPoint& p, uint8_t* record) {
    PointRecord r;
    r.pointNumber = static_cast<int16_t>(stored_point_number(p.pointNumber));
    r.x = p.x;
    r.y = p.y;
    r.pointClass = p.lineFlag == 'C' ? 2 : 1;
    r.notch = decode_notch(p.label);
    return encode_point(r, record);
}

int32_t make_rule_point(const EpnPoint& p, uint8_t* record) {
    PointRecord r;
    r.pointNumber = static_cast<int16_t>(stored_point_number(p.pointNumber));
    r.x = p.x;
    r.y = p.y;
    r.pointClass = 0;
    r.notch = decode_notch(p.label);
    r.ruleNumber = p.ruleNumber;
    // Only a notch of kind 1 or 2 with a direction takes the long form.
    if ((r.notch.notchKind == 1 || r.notch.notchKind == 2) && has_direction(p)) {
        r.directed = true;
        r.dirX = thousandths(p.dirCos);
        r.dirY = thousandths(p.dirSin);
    }
    return encode_point(r, record);
}

int32_t make_point_record(const EpnPoint& p, uint8_t* record) {
    return p.ruleNumber > 0 ? make_rule_point(p, record) : make_plain_point(p, record);
}

}  // namespace teilimp::reader
