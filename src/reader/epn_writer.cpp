#include "reader/epn_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace teilimp::reader {

namespace {

// Tenths to whole units, halves away from zero.
int64_t whole_units(int64_t tenths) { return tenths >= 0 ? (tenths + 5) / 10 : -((-tenths + 5) / 10); }

// A fixed-column line: blanks, filled field by field, written without its
// trailing blanks (the reader pads a short line with blanks).
struct Line {
    char text[80];
    Line() { std::memset(text, ' ', sizeof text); }

    // A stored text field: its bytes, the NULs after its significant length
    // as blanks.
    void field(size_t column, const char* data, size_t n) {
        size_t end = n;
        while (end > 0 && (data[end - 1] == '\0' || data[end - 1] == ' ')) --end;
        std::memcpy(text + column - 1, data, end);
    }
    void word(size_t column, const char* w) { std::memcpy(text + column - 1, w, std::strlen(w)); }
    // An integer right-aligned in `width` columns (the caller keeps it narrow enough).
    void number(size_t column, size_t width, int64_t v) {
        const std::string s = std::to_string(v);
        const size_t n = std::min(s.size(), width);
        std::memcpy(text + column - 1 + width - n, s.data() + s.size() - n, n);
    }
    void append_to(std::string& out) const {
        size_t end = sizeof text;
        while (end > 0 && text[end - 1] == ' ') --end;
        out.append(text, end);
        out += "\r\n";
    }
};

// A 16-bit number for a 5-column field that the reader stores by its low
// 16 bits: as it is where it fits, else as the unsigned value of the same
// bits.
int64_t five_columns(int32_t v) {
    if (v >= -9999 && v <= 99999) return v;
    return static_cast<uint16_t>(v);
}

// The direction in tenths of a degree, 0 to 3599.
int64_t angle_tenths(int32_t dirX, int32_t dirY) {
    double a = std::atan2(static_cast<double>(dirY), static_cast<double>(dirX)) * 1800.0 / 3.14159265358979323846;
    auto t = static_cast<int64_t>(std::llround(a));
    t %= 3600;
    if (t < 0) t += 3600;
    return t;
}

struct Writer {
    const PieceModel& m;
    std::string out;
    size_t spareRules = 0;  // plain points still to carry a rule column of "0"

    void point(const ModelPoint& p, bool perimeter, char type, char flag) {
        Line l;
        if (p.number != -1) l.number(1, 5, static_cast<uint16_t>(p.number));
        if (p.rule > 0) {
            l.number(6, 5, five_columns(p.rule));
        } else if (spareRules > 0) {
            // A rule block no point moves with: its rule column, "0".
            --spareRules;
            l.number(6, 5, 0);
        }
        const std::array<char, 2> label = notch_label(p.notch);
        l.text[10] = label[0];
        l.text[11] = label[1];
        l.number(21, 10, whole_units(p.x));
        l.number(31, 10, whole_units(p.y));
        if (perimeter) l.word(41, "PERIM");
        l.text[45] = type;
        if (p.directed) l.number(47, 4, angle_tenths(p.dirX, p.dirY));
        l.text[50] = p.cMark ? 'C' : flag;
        l.append_to(out);
    }

    void header() {
        Line l;
        l.field(1, m.name.data(), 20);
        l.field(21, m.text1.data(), 20);
        l.field(41, m.text2.data(), 20);
        l.word(61, m.mirrored ? "MIRRORED" : "CLOSED");
        l.number(71, 4, 3);
        l.append_to(out);
    }

    // Contour first, then the internal lines. Inside a line only its last
    // point carries the type, except on two-point grain and mirror lines,
    // whose pair the reader looks for; "O" marks the grain line's end and
    // that of a mirror line behind it (one in front would be swapped).
    void points() {
        for (const ModelPoint& p : m.contour) point(p, true, ' ', ' ');
        const int grain = grain_line(m);
        for (size_t i = 0; i < m.lines.size(); ++i) {
            const ModelLine& line = m.lines[i];
            const bool pair = line.points.size() == 2 && (line.type == 'G' || line.type == 'M');
            const bool marked = line.type == 'G' ? static_cast<int>(i) == grain
                                                 : pair && static_cast<int>(i) > grain;
            for (size_t k = 0; k < line.points.size(); ++k) {
                const bool last = k + 1 == line.points.size();
                point(line.points[k], false, last || pair ? line.type : ' ', !last ? 'N' : marked && pair ? 'O' : ' ');
            }
        }
        Line end;
        end.word(1, "0000000000");
        end.append_to(out);
    }

    void trailer() {
        Line l;
        if (m.numericNames) l.word(1, "NUMERIC");
        l.field(11, m.trailerText.data(), 20);
        l.field(31, m.baseSize.data(), 6);
        l.number(51, 6, static_cast<int64_t>(m.sizes.size()));
        l.append_to(out);
        for (size_t k = 0; k < m.sizes.size(); k += 10) {
            Line names;
            for (size_t j = 0; j < 10 && k + j < m.sizes.size(); ++j) names.field(1 + 6 * j, m.sizes[k + j].name.data(), 6);
            names.append_to(out);
        }
    }

    // Per size, per rule: the rule's values relative to the base size (a
    // one-size piece: its own values); as many rules as point lines with a
    // rule column.
    void grades(size_t ruleLines) {
        for (size_t s = 0; s < m.sizes.size(); ++s) {
            for (size_t r = 0; r < ruleLines; ++r) {
                Line l;
                Offset v;
                if (r < m.rules.size()) {
                    const ModelRule& rule = m.rules[r];
                    l.number(6, 5, five_columns(rule.number));
                    if (m.sizes.size() == 1) v = rule.oneSize;
                    else if (s < rule.offsets.size()) v = rule.offsets[s];
                } else {
                    l.number(6, 5, 0);
                }
                l.number(21, 10, whole_units(v.dx));
                l.number(31, 10, whole_units(v.dy));
                l.append_to(out);
            }
        }
    }
};

}  // namespace

std::string write_epn(const PieceModel& m) {
    Writer w{m, {}, 0};
    size_t rulePoints = 0, plainPoints = 0;
    auto count = [&](const ModelPoint& p) { (p.rule > 0 ? rulePoints : plainPoints) += 1; };
    for (const ModelPoint& p : m.contour) count(p);
    for (const ModelLine& line : m.lines)
        for (const ModelPoint& p : line.points) count(p);
    // Rule blocks without a point of their own go to plain points, as many
    // as there are; a point line with a rule column is one rule either way.
    w.spareRules = m.rules.size() > rulePoints ? std::min(m.rules.size() - rulePoints, plainPoints) : 0;
    const size_t ruleLines = rulePoints + w.spareRules;

    w.header();
    w.points();
    w.trailer();
    w.grades(ruleLines);
    return w.out;
}

}  // namespace teilimp::reader
