// The block as dxf_writer.cpp writes it: the piece's texts on layer 1
// ("Piece Name:", "Size:", "Category:", "Annotation:"), the attribute texts
// (PIECE, TRAILER, BASESIZE, INNER, RULE), the contour as one closed
// polyline on layer 1 with one "TEILIMP P" text per point in contour order,
// then per internal line a "TEILIMP LINE <i> <type>" text, the line's
// geometry (layers 6, 7, 8 or 13) and its points' "TEILIMP P" texts. Turn
// points, notch points and "# n" rule texts are the other programs'; the
// attribute texts say the same exactly.
#include "dxf/dxf_exported.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "dxf/dxf_writer.h"
#include "rul/exchange_text.h"
#include "rul/read_text.h"

namespace teilimp::dxf {

namespace {

using exchange::istarts_with;
using exchange::parse_int;
using exchange::trim;

// The words of s into out (its room kept from text to text).
void tokens(std::string_view s, std::vector<std::string_view>& out) {
    out.clear();
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ') ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
}

bool parse_int16(std::string_view s, int16_t& out) {
    int32_t v = 0;
    if (!parse_int(s, v) || v < INT16_MIN || v > INT16_MAX) return false;
    out = static_cast<int16_t>(v);
    return true;
}

bool parse_int64(std::string_view s, int64_t& out) {
    s = trim(s);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

bool to_tenths64(double value, double tenthsPerUnit, int64_t& out) {
    const double v = std::round(value * tenthsPerUnit);
    if (!(std::fabs(v) <= 9.0e15)) return false;  // exact in a double
    out = static_cast<int64_t>(v);
    return true;
}

template <size_t N>
bool escaped_field(std::string_view escaped, std::array<char, N>& field) {
    std::string bytes;
    if (!rul::unescape_text(escaped, bytes) || bytes.size() > N) return false;
    field = reader::make_field<N>(bytes);
    return true;
}

bool parse_notch(std::string_view t, reader::NotchCode& code) {
    using reader::NotchCode;
    for (NotchCode c : {NotchCode::None, NotchCode::N1, NotchCode::N2, NotchCode::N, NotchCode::NL,
                        NotchCode::NK, NotchCode::Digit1, NotchCode::Digit2})
        if (notch_token(c) == t) {
            code = c;
            return true;
        }
    return false;
}

// "TEILIMP P <number> <rule> <notch> [D <dirX> <dirY>] [C]", the point's
// position that of the text.
bool parse_point(const std::vector<std::string_view>& t, reader::ModelPoint& p) {
    if (t.size() < 5 || !parse_int16(t[2], p.number) || !parse_int(t[3], p.rule) || !parse_notch(t[4], p.notch))
        return false;
    size_t i = 5;
    if (i < t.size() && t[i] == "D") {
        if (i + 2 >= t.size() || !parse_int(t[i + 1], p.dirX) || !parse_int(t[i + 2], p.dirY)) return false;
        p.directed = true;
        i += 3;
    }
    if (i < t.size() && t[i] == "C") {
        p.cMark = true;
        ++i;
    }
    return i == t.size();
}

struct Collected {
    std::string name, size, category, annotation;  // escaped, as in the file
    bool haveName = false;
    std::vector<std::string_view> attributes;      // PIECE, TRAILER, ... RULE, in order
    std::optional<std::span<const Vec>> contour;   // the first closed polyline on layer 1
    std::vector<std::span<const Vec>> lineGeometry;  // layers 6, 7, 8, 13 in block order
    std::vector<reader::ModelPoint> contourPoints;
    std::vector<reader::ModelLine> lines;
};

bool label(std::string_view text, std::string_view name, std::string& value) {
    if (!text.starts_with(name) || text.size() < name.size() + 2 || text.substr(name.size(), 2) != ": ")
        return false;
    value = std::string(text.substr(name.size() + 2));
    return true;
}

bool collect(const Block& b, double tenths, Collected& c) {
    std::vector<std::string_view> t;
    for (const Entity& e : b.entities) {
        const std::span<const Vec> pts = b.points_of(e);
        if (e.kind != Kind::Text) {
            const bool lineLayer = e.layer == kLayerMirror || e.layer == kLayerGrain || e.layer == kLayerInternal ||
                                   e.layer == kLayerDrill;
            // An empty polyline is no contour (as in the conversion of
            // other systems' blocks, which passes over empty entities).
            if (e.layer == kLayerBoundary && e.kind == Kind::Polyline && e.closed && !c.contour && !pts.empty()) {
                c.contour = pts;
                c.contourPoints.reserve(pts.size());  // a text for each of them follows
            }
            else if (lineLayer && !pts.empty()) c.lineGeometry.push_back(pts);
            continue;
        }
        const std::string_view text = b.text_of(e);
        if (e.layer == kLayerBoundary) {
            std::string v;
            if (label(text, "Piece Name", v)) {
                c.name = v;
                c.haveName = true;
            } else if (label(text, "Size", v)) {
                c.size = v;
            } else if (label(text, "Category", v)) {
                c.category = v;
            } else if (label(text, "Annotation", v)) {
                c.annotation = v;
            }
            continue;
        }
        if (e.layer != kLayerAnnotation || !text.starts_with("TEILIMP ")) continue;
        tokens(text, t);
        if (t.size() < 2) return false;
        if (t[1] == "P") {
            reader::ModelPoint p;
            if (pts.empty() || !parse_point(t, p) || !to_tenths(pts[0].x, tenths, p.x) ||
                !to_tenths(pts[0].y, tenths, p.y))
                return false;
            (c.lines.empty() ? c.contourPoints : c.lines.back().points).push_back(p);
        } else if (t[1] == "LINE") {
            int32_t index = 0, type = 0;
            if (t.size() != 4 || !parse_int(t[2], index) || !parse_int(t[3], type) ||
                index != static_cast<int32_t>(c.lines.size()) || type < 0 || type > 255)
                return false;
            c.lines.push_back({static_cast<char>(static_cast<unsigned char>(type)), {}});
        } else if (c.lines.empty() && c.contourPoints.empty()) {
            c.attributes.push_back(text);
        } else {
            return false;
        }
    }
    return c.haveName && c.contour.has_value();
}

// The geometry's points agree with the texts' (to the tenth): the texts
// give everything but the position, and the position must be the same.
bool same_points(std::span<const Vec> geometry, const std::vector<reader::ModelPoint>& points, double tenths) {
    if (geometry.size() != points.size()) return false;
    for (size_t i = 0; i < points.size(); ++i) {
        int32_t x = 0, y = 0;
        if (!to_tenths(geometry[i].x, tenths, x) || !to_tenths(geometry[i].y, tenths, y)) return false;
        if (x != points[i].x || y != points[i].y) return false;
    }
    return true;
}

// The texts after "TEILIMP <kind> " (empty when there are none).
std::string_view rest_of(std::string_view text, std::string_view kind) {
    const size_t at = std::string_view("TEILIMP ").size() + kind.size() + 1;
    return text.size() > at ? text.substr(at) : std::string_view{};
}

// The sizes: the RUL file's list (its escaped tokens), or the one size of
// a piece without rules file.
bool sizes_of(const Collected& c, const rul::RuleTable* rules, size_t count, reader::PieceModel& m) {
    m.sizes.assign(count, {});
    if (!rules) {
        if (count != 1) return false;
        return escaped_field(c.size, m.sizes[0].name);
    }
    if (rules->sizes.size() != count || rules->sample_index() != m.baseSizeIndex) return false;
    for (size_t k = 0; k < count; ++k)
        if (!escaped_field(rules->sizes[k], m.sizes[k].name)) return false;
    return true;
}

// "1" and "0" per size.
bool inner_marks(std::string_view bits, reader::PieceModel& m) {
    if (bits.size() != m.sizes.size()) return false;
    for (size_t k = 0; k < bits.size(); ++k) {
        if (bits[k] != '0' && bits[k] != '1') return false;
        m.sizes[k].inner = bits[k] == '1';
    }
    return true;
}

// The offsets of a rule per size from the RUL file's rule of its file
// number (a piece of one size: 0, 0).
bool offsets_of(const rul::RuleTable* rules, int32_t fileNumber, double tenths, reader::ModelRule& r, size_t sizes) {
    if (!rules) {
        r.offsets.assign(1, {});
        return sizes == 1;
    }
    const rul::Rule* rule = rules->find(fileNumber);
    if (!rule) return false;
    r.offsets.resize(sizes);
    for (size_t k = 0; k < sizes; ++k)
        if (!to_tenths64(rule->deltas[k].dx, tenths, r.offsets[k].dx) ||
            !to_tenths64(rule->deltas[k].dy, tenths, r.offsets[k].dy))
            return false;
    return true;
}

bool apply_attributes(const Collected& c, const rul::RuleTable* rules, ExportUnits u, reader::PieceModel& m) {
    bool piece = false;
    std::optional<std::string_view> baseSize, inner;
    std::vector<int32_t> fileNumbers;
    size_t count = 0;
    std::vector<std::string_view> t;
    for (const std::string_view text : c.attributes) {
        tokens(text, t);
        const std::string_view kind = t[1];
        if (kind == "PIECE") {
            int32_t version = 0, base = 0, sizes = 0;
            if (piece || t.size() != 7 || !parse_int(t[2], version) || version != kAttributeVersion) return false;
            if ((t[3] != "MIRRORED" && t[3] != "CLOSED") || (t[4] != "NUMERIC" && t[4] != "ALPHA")) return false;
            if (!parse_int(t[5], base) || base < 0 || !parse_int(t[6], sizes) || sizes < 1 || base >= sizes ||
                sizes > INT16_MAX)
                return false;
            m.mirrored = t[3] == "MIRRORED";
            m.numericNames = t[4] == "NUMERIC";
            m.baseSizeIndex = static_cast<int16_t>(base);
            count = static_cast<size_t>(sizes);
            piece = true;
        } else if (kind == "TRAILER") {
            if (!escaped_field(rest_of(text, kind), m.trailerText)) return false;
        } else if (kind == "BASESIZE") {
            baseSize = rest_of(text, kind);
        } else if (kind == "INNER") {
            inner = rest_of(text, kind);
        } else if (kind == "RULE") {
            reader::ModelRule& r = m.rules.emplace_back();
            int32_t fileNumber = 0;
            if ((t.size() != 4 && t.size() != 6) || !parse_int(t[2], fileNumber) || !parse_int16(t[3], r.number))
                return false;
            if (t.size() == 6 && (!parse_int64(t[4], r.oneSize.dx) || !parse_int64(t[5], r.oneSize.dy))) return false;
            fileNumbers.push_back(fileNumber);
        } else {
            return false;
        }
    }
    if (!piece || !sizes_of(c, rules, count, m)) return false;
    if (!inner) reader::set_inner_marks(m);
    else if (!inner_marks(*inner, m)) return false;
    m.baseSize = m.sizes[static_cast<size_t>(m.baseSizeIndex)].name;
    if (baseSize && !escaped_field(*baseSize, m.baseSize)) return false;
    for (size_t r = 0; r < m.rules.size(); ++r)
        if (!offsets_of(rules, fileNumbers[r], u.rulTenths, m.rules[r], count)) return false;
    return escaped_field(c.name, m.name) && escaped_field(c.category, m.text1) &&
           escaped_field(c.annotation, m.text2);
}

}  // namespace

bool rebuild_exported(const Block& block, const rul::RuleTable* rules, ExportUnits units, reader::PieceModel& m) {
    m = reader::PieceModel{};
    Collected c;
    if (!collect(block, units.dxfTenths, c) || !apply_attributes(c, rules, units, m)) return false;
    if (!same_points(*c.contour, c.contourPoints, units.dxfTenths) || c.lineGeometry.size() != c.lines.size())
        return false;
    for (size_t i = 0; i < c.lines.size(); ++i)
        if (!same_points(c.lineGeometry[i], c.lines[i].points, units.dxfTenths)) return false;
    m.contour = std::move(c.contourPoints);
    m.lines = std::move(c.lines);
    return true;
}

bool to_tenths(double value, double tenthsPerUnit, int32_t& out) {
    // Rounded halves away from zero, as std::round, by hand (it is a call
    // for each value): below 2^31 the whole part and the rest are exact.
    const double x = value * tenthsPerUnit;
    if (!(std::fabs(x) < 2147483648.0)) return false;
    const auto whole = static_cast<int64_t>(x);
    const double rest = x - static_cast<double>(whole);
    const int64_t v = whole + (rest >= 0.5 ? 1 : 0) - (rest <= -0.5 ? 1 : 0);
    if (v > 2147483647 || v < -2147483647) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool written_by_export(const Drawing& drawing) {
    for (const Entity& e : drawing.entities.entities)
        if (e.kind == Kind::Text && e.layer == kLayerAnnotation &&
            drawing.entities.text_of(e) == "TEILIMP EXPORT " + std::to_string(kAttributeVersion))
            return true;
    return false;
}

}  // namespace teilimp::dxf
