#include "dxf/dxf_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace teilimp::dxf {

namespace {

using reader::ModelLine;
using reader::ModelPoint;
using reader::PieceModel;
using rul::escape_text;
using rul::format_length;

// Text heights in stored tenths of a millimetre.
constexpr int64_t kPieceTextHeight = 50;
constexpr int64_t kRuleTextHeight = 20;
constexpr int64_t kAttributeHeight = 10;

// Group code and value on alternate lines, CR LF, the code right-aligned
// in three columns as R12 writes it.
struct Groups {
    std::string& out;
    rul::Units units;

    void code(int code) {
        char b[8] = {' ', ' ', ' '};
        char* end = b + 3;
        for (int c = code; c != 0 || end == b + 3; c /= 10) *--end = static_cast<char>('0' + c % 10);
        out.append(b, 3);
        out += "\r\n";
    }
    void group(int c, std::string_view value) {
        code(c);
        out += value;
        out += "\r\n";
    }
    void integer(int c, long long v) {
        char b[24];
        code(c);
        out.append(b, static_cast<size_t>(std::to_chars(b, b + sizeof b, v).ptr - b));
        out += "\r\n";
    }
    void length(int c, int64_t tenths) {
        code(c);
        rul::append_length(out, tenths, units);
        out += "\r\n";
    }
    void entity(const char* kind, int layer) {
        group(0, kind);
        integer(8, layer);
    }
    void at(int64_t x, int64_t y, int first = 10) {
        length(first, x);
        length(first + 10, y);
    }
    // `value` is 7-bit already.
    void text(int layer, int64_t x, int64_t y, int64_t height, std::string_view value) {
        entity("TEXT", layer);
        at(x, y);
        length(40, height);
        group(1, value);
    }
    void point(int layer, int64_t x, int64_t y) {
        entity("POINT", layer);
        at(x, y);
    }
    void line(int layer, const ModelPoint& a, const ModelPoint& b) {
        entity("LINE", layer);
        at(a.x, a.y);
        at(b.x, b.y, 11);
    }
    void polyline(int layer, const std::vector<ModelPoint>& points, bool closed) {
        entity("POLYLINE", layer);
        integer(66, 1);
        integer(70, closed ? 1 : 0);
        for (const ModelPoint& p : points) {
            entity("VERTEX", layer);
            at(p.x, p.y);
        }
        entity("SEQEND", layer);
    }
};

// The angle of a stored direction in degrees, 0 to under 360.
std::string angle_text(int32_t dirX, int32_t dirY) {
    double a = std::atan2(static_cast<double>(dirY), static_cast<double>(dirX)) * 180.0 / 3.14159265358979323846;
    if (a < 0) a += 360.0;
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", a >= 359.995 ? 0.0 : a);
    return b;
}

std::string block_name(const PieceModel& m, size_t k) {
    std::string name = reader::field_text(m.name);
    for (char& c : name) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (!keep) c = '_';
    }
    if (name.empty()) name = "PIECE";
    return name + "_" + std::to_string(k + 1);
}

std::string point_attribute(const ModelPoint& p) {
    std::string s = "TEILIMP P " + std::to_string(p.number) + " " + std::to_string(p.rule) + " " +
                    std::string(notch_token(p.notch));
    if (p.directed) s += " D " + std::to_string(p.dirX) + " " + std::to_string(p.dirY);
    if (p.cMark) s += " C";
    return s;
}

struct PieceWriter {
    Groups& g;
    const PieceModel& m;
    int64_t firstRule;  // the file's number of the piece's first rule
    Flavour flavour;

    int rule_layer(int geometryLayer) const {
        if (flavour == Flavour::Aama) return kLayerTurnPoint;
        return geometryLayer;
    }

    void rule_text(const ModelPoint& p, int geometryLayer) {
        const int64_t n = rul::rule_number(m, p, firstRule);
        if (n > 0) g.text(rule_layer(geometryLayer), p.x, p.y, kRuleTextHeight, "# " + std::to_string(n));
    }

    void piece_texts() {
        int64_t x = 0, y = 0;
        if (!m.contour.empty()) {
            auto [minX, maxX] = std::minmax_element(m.contour.begin(), m.contour.end(),
                                                    [](const ModelPoint& a, const ModelPoint& b) { return a.x < b.x; });
            auto [minY, maxY] = std::minmax_element(m.contour.begin(), m.contour.end(),
                                                    [](const ModelPoint& a, const ModelPoint& b) { return a.y < b.y; });
            x = (static_cast<int64_t>(minX->x) + maxX->x) / 2;
            y = (static_cast<int64_t>(minY->y) + maxY->y) / 2;
        }
        const auto base = static_cast<size_t>(m.baseSizeIndex);
        const std::string baseName = base < m.sizes.size() ? reader::field_text(m.sizes[base].name) : "";
        const std::string texts[] = {
            "Piece Name: " + escape_text(reader::field_text(m.name)),
            "Size: " + escape_text(baseName),
            "Quantity: 1",
            "Category: " + escape_text(reader::field_text(m.text1)),
            "Annotation: " + escape_text(reader::field_text(m.text2)),
        };
        for (const std::string& t : texts) {
            g.text(kLayerBoundary, x, y, kPieceTextHeight, t);
            y -= kPieceTextHeight * 3 / 2;
        }
        attributes(x, y, baseName);
    }

    // What the image holds beyond the geometry and the texts above.
    void attributes(int64_t x, int64_t y, const std::string& baseName) {
        auto attribute = [&](const std::string& t) {
            g.text(kLayerAnnotation, x, y, kAttributeHeight, t);
            y -= kAttributeHeight * 3 / 2;
        };
        attribute("TEILIMP PIECE " + std::to_string(kAttributeVersion) + (m.mirrored ? " MIRRORED" : " CLOSED") +
                  (m.numericNames ? " NUMERIC" : " ALPHA") + " " + std::to_string(m.baseSizeIndex) + " " +
                  std::to_string(m.sizes.size()));
        attribute("TEILIMP TRAILER " + escape_text(reader::field_text(m.trailerText)));
        if (reader::field_text(m.baseSize) != baseName)
            attribute("TEILIMP BASESIZE " + escape_text(reader::field_text(m.baseSize)));
        std::string inner;
        bool usual = true;
        for (size_t k = 0; k < m.sizes.size(); ++k) {
            inner += m.sizes[k].inner ? '1' : '0';
            usual = usual && m.sizes[k].inner == (k != 0 && k + 1 != m.sizes.size());
        }
        if (!usual) attribute("TEILIMP INNER " + inner);
        for (size_t r = 0; r < m.rules.size(); ++r) {
            std::string t = "TEILIMP RULE " + std::to_string(firstRule + static_cast<int64_t>(r)) + " " +
                            std::to_string(m.rules[r].number);
            if (m.sizes.size() == 1)
                t += " " + std::to_string(m.rules[r].oneSize.dx) + " " + std::to_string(m.rules[r].oneSize.dy);
            attribute(t);
        }
    }

    void contour() {
        if (m.contour.empty()) return;
        g.polyline(kLayerBoundary, m.contour, true);
        for (const ModelPoint& p : m.contour) g.point(kLayerTurnPoint, p.x, p.y);
        for (const ModelPoint& p : m.contour) {
            if (p.notch == reader::NotchCode::None) continue;
            g.point(kLayerNotch, p.x, p.y);
            if (p.directed) g.group(50, angle_text(p.dirX, p.dirY));
        }
        for (const ModelPoint& p : m.contour) rule_text(p, kLayerBoundary);
        for (const ModelPoint& p : m.contour) g.text(kLayerAnnotation, p.x, p.y, kAttributeHeight, point_attribute(p));
    }

    void line(size_t i, int grain, int mirror) {
        const ModelLine& l = m.lines[i];
        if (l.points.empty()) return;
        const int layer = static_cast<int>(i) == grain    ? kLayerGrain
                          : static_cast<int>(i) == mirror ? kLayerMirror
                          : l.points.size() == 1          ? kLayerDrill
                                                          : kLayerInternal;
        const ModelPoint& first = l.points.front();
        g.text(kLayerAnnotation, first.x, first.y, kAttributeHeight,
               "TEILIMP LINE " + std::to_string(i) + " " + std::to_string(static_cast<unsigned char>(l.type)));
        if (l.points.size() == 1) g.point(layer, first.x, first.y);
        else if (l.points.size() == 2 && layer != kLayerInternal) g.line(layer, first, l.points.back());
        else g.polyline(layer, l.points, false);
        for (const ModelPoint& p : l.points) rule_text(p, layer);
        for (const ModelPoint& p : l.points) g.text(kLayerAnnotation, p.x, p.y, kAttributeHeight, point_attribute(p));
    }

    void write(const std::string& name) {
        g.group(0, "BLOCK");
        g.integer(8, 0);
        g.group(2, name);
        g.integer(70, 64);
        g.at(0, 0);
        piece_texts();
        contour();
        const int grain = reader::grain_line(m), mirror = reader::mirror_line(m);
        for (size_t i = 0; i < m.lines.size(); ++i) line(i, grain, mirror);
        g.group(0, "ENDBLK");
        g.integer(8, 0);
    }
};

void style_texts(Groups& g, const PieceModel& m, const StyleHeader& h) {
    std::string sample;
    if (static_cast<size_t>(m.baseSizeIndex) < m.sizes.size())
        sample = reader::field_text(m.sizes[static_cast<size_t>(m.baseSizeIndex)].name);
    std::vector<std::string> texts;
    if (h.flavour == Flavour::Astm) texts.push_back("ASTM/D13Proposal 1 Version: D 6673-04");
    texts.push_back("Style Name: " + escape_text(h.styleName));
    texts.push_back("Creation Date: " + rul::exchange_date(h.created));
    texts.push_back("Creation Time: " + rul::exchange_time(h.created));
    texts.push_back("Author: " + escape_text(h.author));
    texts.push_back("Sample Size: " + escape_text(sample));
    if (h.flavour == Flavour::Astm) texts.push_back("Grade Rule Table: " + escape_text(h.rulName));
    texts.push_back(std::string("Units: ") + rul::units_keyword(h.units));
    int64_t y = 0;
    for (const std::string& t : texts) {
        g.text(kLayerBoundary, 0, y, kPieceTextHeight, t);
        y += kPieceTextHeight * 3 / 2;
    }
    g.text(kLayerAnnotation, 0, y, kAttributeHeight, "TEILIMP EXPORT " + std::to_string(kAttributeVersion));
}

}  // namespace

std::string_view notch_token(reader::NotchCode code) {
    switch (code) {
        case reader::NotchCode::N1: return "N1";
        case reader::NotchCode::N2: return "N2";
        case reader::NotchCode::N: return "N";
        case reader::NotchCode::NL: return "NL";
        case reader::NotchCode::NK: return "NK";
        case reader::NotchCode::Digit1: return "1";
        case reader::NotchCode::Digit2: return "2";
        case reader::NotchCode::None: break;
    }
    return "-";
}

void dxf_begin(std::string& out) {
    Groups g{out, rul::Units::Mm};
    g.group(0, "SECTION");
    g.group(2, "HEADER");
    g.group(9, "$ACADVER");
    g.group(1, "AC1009");
    g.group(0, "ENDSEC");
    g.group(0, "SECTION");
    g.group(2, "BLOCKS");
}

std::string dxf_block(std::string& out, const PieceModel& m, size_t k, int64_t firstRule, const StyleHeader& h) {
    Groups g{out, h.units};
    std::string name = block_name(m, k);
    PieceWriter{g, m, firstRule, h.flavour}.write(name);
    return name;
}

void dxf_end(std::string& out, const PieceModel& style, const std::vector<std::string>& blocks, const StyleHeader& h) {
    Groups g{out, h.units};
    g.group(0, "ENDSEC");
    g.group(0, "SECTION");
    g.group(2, "ENTITIES");
    style_texts(g, style, h);
    for (const std::string& name : blocks) {
        g.entity("INSERT", kLayerBoundary);
        g.group(2, name);
        g.at(0, 0);
    }
    g.group(0, "ENDSEC");
    g.group(0, "EOF");
}

}  // namespace teilimp::dxf
