#include "reader/epn_points.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include "reader/piece_image.h"

namespace teilimp::reader {

namespace {

constexpr uint8_t kNotchMark = 9;

// The point number as stored: its low 16 bits when positive, else -1.
int16_t stored_point_number(int32_t n) { return static_cast<int16_t>(n > 0 ? n : -1); }

// A direction component times 1000, to the nearest integer, halves away
// from zero. |v| <= 1 for every direction the reader makes, but a turned
// direction may be a little longer; the clamp only guards the conversion.
int32_t thousandths(float v) {
    double t = static_cast<double>(v) * 1000.0;
    t = t >= 0 ? t + 0.5 : t - 0.5;
    if (!(t > -2147483648.0 && t < 2147483648.0)) t = 0;
    return static_cast<int32_t>(t);
}

// The stored form of a notch code: its class (0 none or digit, 1 "N1"/"N2"/
// "N ", 2 "NL"/"NK"), its kind (1 or 2 for "N1"/"1 " and "N2"/"2 ") and,
// for class 2, the NL flag (1 for "NL").
struct Notch {
    uint8_t notchClass = 0;
    uint8_t notchKind = 0;
    uint8_t nlFlag = 0;
};

// By NotchCode, in the order of its values.
constexpr Notch kStoredNotch[] = {
    {0, 0, 0},  // None
    {1, 1, 0},  // N1
    {1, 2, 0},  // N2
    {1, 0, 0},  // N
    {2, 0, 1},  // NL
    {2, 0, 0},  // NK
    {0, 1, 0},  // Digit1
    {0, 2, 0},  // Digit2
};

Notch stored_notch(NotchCode code) {
    const auto i = static_cast<size_t>(code);
    return i < std::size(kStoredNotch) ? kStoredNotch[i] : Notch{};
}

// The code of a stored notch; false for a combination the encoder never
// writes.
bool code_of(uint8_t notchClass, uint8_t notchKind, uint8_t nlFlag, NotchCode& code) {
    if (notchClass == 0 && notchKind <= 2) {
        code = notchKind == 0 ? NotchCode::None : notchKind == 1 ? NotchCode::Digit1 : NotchCode::Digit2;
        return true;
    }
    if (notchClass == 1 && notchKind <= 2) {
        code = notchKind == 0 ? NotchCode::N : notchKind == 1 ? NotchCode::N1 : NotchCode::N2;
        return true;
    }
    if (notchClass == 2 && notchKind == 0 && nlFlag <= 1) {
        code = nlFlag == 1 ? NotchCode::NL : NotchCode::NK;
        return true;
    }
    return false;
}

}  // namespace

NotchCode notch_code(const std::array<char, 10>& label) {
    const char a = label[0];
    const char b = label[1];
    if (a == 'N') {
        if (b == '1') return NotchCode::N1;
        if (b == '2') return NotchCode::N2;
        if (b == ' ') return NotchCode::N;
        if (b == 'L') return NotchCode::NL;
        if (b == 'K') return NotchCode::NK;
        return NotchCode::None;
    }
    if (b == ' ' && a == '1') return NotchCode::Digit1;
    if (b == ' ' && a == '2') return NotchCode::Digit2;
    return NotchCode::None;
}

bool has_direction(const EpnPoint& p) {
    return std::fabs(p.dirCos) + std::fabs(p.dirSin) > 0.01f;
}

ModelPoint model_point(const EpnPoint& p) {
    ModelPoint m;
    m.number = stored_point_number(p.pointNumber);
    m.x = p.x;
    m.y = p.y;
    m.notch = notch_code(p.label);
    if (p.ruleNumber > 0) {
        m.rule = p.ruleNumber;
        // Only a notch of kind 1 or 2 with a direction takes the long form.
        if (notch_takes_direction(m.notch) && has_direction(p)) {
            m.directed = true;
            m.dirX = thousandths(p.dirCos);
            m.dirY = thousandths(p.dirSin);
        }
    } else {
        m.cMark = p.lineFlag == 'C';
    }
    return m;
}

int32_t record_length(const ModelPoint& p) {
    // A notch of class 1 adds its mark, one of class 2 the NL flag too.
    const int32_t notchBytes = stored_notch(p.notch).notchClass;
    if (p.rule <= 0) return 14 + notchBytes;
    return (p.directed ? 28 : 20) + notchBytes;
}

// Layout: number, x, y, class, kind, notch class, a zero byte; a plain
// point then has the notch mark (classes 1 and 2) and the NL flag (class
// 2). A rule point has the rule number (the long form: the direction in
// front of it) and two zero bytes before them. Only the fields are
// written: the record's room must be zero.
int32_t encode_point_zeroed(const ModelPoint& p, uint8_t* record) {
    const Notch n = stored_notch(p.notch);
    put16(record + 0, p.number);
    put32(record + 2, p.x);
    put32(record + 6, p.y);
    record[10] = p.rule > 0 ? 0 : p.cMark ? 2 : 1;
    record[11] = n.notchKind;
    record[12] = n.notchClass;
    int32_t at = 14;
    if (p.rule > 0) {
        if (p.directed) {
            record[11] = static_cast<uint8_t>(n.notchKind + 8);
            put32(record + 14, p.dirX);
            put32(record + 18, p.dirY);
            at = 22;
        }
        put32(record + at, p.rule);
        at += 6;
    }
    if (n.notchClass >= 1) record[at++] = kNotchMark;
    if (n.notchClass == 2) record[at++] = n.nlFlag;
    return at;
}

int32_t encode_point(const ModelPoint& p, uint8_t* record) {
    std::memset(record, 0, static_cast<size_t>(record_length(p)));
    return encode_point_zeroed(p, record);
}

int32_t decode_point(const uint8_t* bytes, size_t available, ModelPoint& p) {
    if (available < 14 || bytes[13] != 0 || bytes[10] > 2) return 0;
    p = ModelPoint{};
    p.number = get16(bytes);
    p.x = get32(bytes + 2);
    p.y = get32(bytes + 6);
    const uint8_t pointClass = bytes[10];
    uint8_t kind = bytes[11];
    const uint8_t notchClass = bytes[12];
    size_t at = 14;
    if (pointClass == 0) {
        if (kind == 9 || kind == 10) {
            // The long form is written only for "N1"/"N2" and "1 "/"2 ".
            if (notchClass > 1 || available < 22) return 0;
            p.directed = true;
            kind = static_cast<uint8_t>(kind - 8);
            p.dirX = get32(bytes + 14);
            p.dirY = get32(bytes + 18);
            at = 22;
        }
        if (available < at + 6 || bytes[at + 4] != 0 || bytes[at + 5] != 0) return 0;
        p.rule = get32(bytes + at);
        if (p.rule <= 0) return 0;
        at += 6;
    } else {
        p.cMark = pointClass == 2;
    }
    uint8_t nlFlag = 0;
    if (notchClass >= 1) {
        if (available < at + 1 || bytes[at] != kNotchMark) return 0;
        ++at;
    }
    if (notchClass == 2) {
        if (available < at + 1) return 0;
        nlFlag = bytes[at++];
    }
    if (!code_of(notchClass, kind, nlFlag, p.notch)) return 0;
    return static_cast<int32_t>(at);
}

int32_t make_plain_point(const EpnPoint& p, uint8_t* record) {
    EpnPoint plain = p;
    plain.ruleNumber = 0;
    return encode_point(model_point(plain), record);
}

int32_t make_rule_point(const EpnPoint& p, uint8_t* record) {
    return encode_point(model_point(p), record);
}

int32_t make_point_record(const EpnPoint& p, uint8_t* record) {
    return encode_point(model_point(p), record);
}

int64_t build_model_points(const std::vector<EpnPoint>& perimeter, const std::vector<EpnPoint>& internal,
                     PieceModel& m) {
    int64_t bytes = 0;
    m.contour.clear();
    m.contour.reserve(perimeter.size());
    for (const EpnPoint& p : perimeter) {
        m.contour.push_back(model_point(p));
        bytes += record_length(m.contour.back());
    }
    m.lines.clear();
    ModelLine current;
    int64_t lineBytes = kLineHeaderLength;
    for (const EpnPoint& p : internal) {
        current.points.push_back(model_point(p));
        lineBytes += record_length(current.points.back());
        if (p.lineFlag == 'N') continue;
        current.type = p.pointType;
        m.lines.push_back(std::move(current));
        current = ModelLine{};
        bytes += lineBytes;
        lineBytes = kLineHeaderLength;
    }
    return bytes;
}

}  // namespace teilimp::reader
