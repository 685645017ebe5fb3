// From blocks to pieces. Each block is first taken apart in its own units
// (outline, lines, notches, rule texts); a piece's blocks are then matched
// size by size, every value converted to stored tenths once (rounded half
// away from zero, a size's offset from the base size rounded as a whole),
// and the piece built as EPN point tables, so that the normal form and the
// image are the EPN reader's own.
#include "dxf/dxf_pieces.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>
#include <utility>

#include "dxf/dxf_exported.h"
#include "platform/platform.h"
#include "reader/epn_contour.h"
#include "reader/piece_image.h"
#include "rul/read_text.h"

namespace teilimp::dxf {

namespace {

using exchange::iequals;
using exchange::istarts_with;
using exchange::trim;

constexpr size_t kMaxContourPoints = 10000;
constexpr size_t kMaxInternalPoints = 20000;
constexpr size_t kMaxCount16 = 32767;
constexpr int64_t kMaxImageLength = int64_t{256} * 1024 * 1024;

// A stored text field: cut to N, blanks at its end dropped, NUL-padded.
template <size_t N>
std::array<char, N> stored_field(std::string_view text) {
    std::array<char, N> f = reader::make_field<N>(text);
    for (size_t i = N; i > 0 && (f[i - 1] == ' ' || f[i - 1] == '\0'); --i) f[i - 1] = '\0';
    return f;
}

constexpr double kJoinMm = 0.05;   // ends of outline pieces that meet
constexpr double kNotchMm = 0.5;   // notch to its contour point
constexpr double kRuleTextMm = 0.5;

// Code page 850 of the Latin-1 bytes 0x80-0xFF ('?' where it has none).
constexpr uint8_t kLatin1To850[128] = {
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0xFF, 0xAD, 0xBD, 0x9C, 0xCF, 0xBE, 0xDD, 0xF5, 0xF9, 0xB8, 0xA6, 0xAE, 0xAA, 0xF0, 0xA9, 0xEE,
    0xF8, 0xF1, 0xFD, 0xFC, 0xEF, 0xE6, 0xF4, 0xFA, 0xF7, 0xFB, 0xA7, 0xAF, 0xAC, 0xAB, 0xF3, 0xA8,
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80, 0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E, 0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0xE1,
    0x85, 0xA0, 0x83, 0xC6, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0xD0, 0xA4, 0x95, 0xA2, 0x93, 0xE4, 0x94, 0xF6, 0x9B, 0x97, 0xA3, 0x96, 0x81, 0xEC, 0xE7, 0x98,
};

// Latin-1 bytes in code page 850 (upper-cased first where asked); control
// bytes become '?'.
std::string to_cp850(std::string_view latin1, bool upper) {
    std::string out;
    out.reserve(latin1.size());
    for (char ch : latin1) {
        auto c = static_cast<uint8_t>(ch);
        if (upper && c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
        else if (upper && c >= 0xE0 && c <= 0xFE && c != 0xF7) c = static_cast<uint8_t>(c - 32);
        if (c < 0x20 || c == 0x7F) c = '?';
        else if (c >= 0x80) c = kLatin1To850[c - 0x80];
        out.push_back(static_cast<char>(c));
    }
    return out;
}

// The square root of the sum first: hypot's care for values near the
// limits of a double makes it several times slower, and notches and rule
// texts are matched against every point. Only where that overflows is it
// needed.
double dist(Vec a, Vec b) {
    const double dx = a.x - b.x, dy = a.y - b.y;
    const double d = std::sqrt(dx * dx + dy * dy);
    return std::isfinite(d) ? d : std::hypot(dx, dy);
}

// The value of a "Label: value" text when it begins with one of the labels.
bool label_value(std::string_view text, std::string_view label, std::string& value) {
    const std::string_view t = trim(text);
    if (!istarts_with(t, label)) return false;
    std::string_view rest = trim(t.substr(label.size()));
    if (rest.empty() || rest.front() != ':') return false;
    value = std::string(trim(rest.substr(1)));
    return true;
}

bool rule_text(std::string_view text, int32_t& n) {
    const std::string_view t = trim(text);
    return !t.empty() && t.front() == '#' && exchange::parse_int(t.substr(1), n);
}

struct Texts {
    std::string name, size, category, annotation, units, sampleSize, ruleTable, sizeList;
};

void read_texts(const Block& b, Texts& t) {
    for (const Entity& e : b.entities) {
        if (e.kind != Kind::Text) continue;
        const std::string_view s = b.text_of(e);
        // Most texts are rule numbers and attributes: none of the labels'
        // first letters.
        const std::string_view lead = trim(s);
        if (lead.empty()) continue;
        switch (exchange::upper_ascii(lead.front())) {
        case 'P': case 'S': case 'C': case 'A': case 'U': case 'G': break;
        default: continue;
        }
        std::string v;
        if (label_value(s, "Piece Name", v)) t.name = v;
        else if (label_value(s, "Sample Size", v)) { if (t.size.empty()) t.size = v; t.sampleSize = v; }
        else if (label_value(s, "Size List", v)) t.sizeList = v;
        else if (label_value(s, "Size", v)) t.size = v;
        else if (label_value(s, "Category", v)) t.category = v;
        else if (label_value(s, "Annotation", v)) t.annotation = v;
        else if (label_value(s, "Units", v)) t.units = v;
        else if (label_value(s, "Grade Rule Table", v)) t.ruleTable = v;
    }
}

// ------------------------------------------------------------ one block

struct Notch {
    Vec at;
    bool hasAngle = false;
    double angle = 0;
};

struct RuleText {
    int32_t number = 0;
    Vec at;
};

struct Line {
    int32_t layer = 0;
    std::vector<Vec> points;
};

struct LeftOut {
    const char* kind;
    int32_t layer;
    uint32_t count;
};

struct Shape {
    DxfStatus status = DxfStatus::Ok;
    std::vector<Vec> contour;  // its last point repeats the first
    std::optional<Line> grain, mirror, gradeReference;
    std::vector<Line> lines;   // layers 8, 11, 14 and drill holes (13), in block order
    std::vector<Notch> notches;
    std::vector<RuleText> rules;
    bool turnPoints = false;
    std::vector<LeftOut> leftOut;
    bool hasOutline = false;
};

const char* left_out_kind(int32_t layer, bool ourText) {
    if (layer == 9) return "Streifen";
    if (layer == 10) return "Karo";
    if (layer == 12) return "Schneideanweisung";
    if (layer == 15 && !ourText) return "Anmerkung";
    if (layer >= 84 && layer <= 87) return "Pr\x81" "fkurve";
    return nullptr;
}

void count_left_out(Shape& s, const char* kind, int32_t layer) {
    for (LeftOut& l : s.leftOut)
        if (l.layer == layer) {
            l.count += 1;
            return;
        }
    s.leftOut.push_back({kind, layer, 1});
}

// Segments (a contour's sides, or points as segments of no length) by
// where they lie: a grid of square cells, each listing the segments that
// pass within `limit` of it, in their order. A notch or a rule text is then
// measured only against what lies near it; against every side and point, a
// hostile block's thousands of notches beside a contour of thousands of
// points took seconds (a 256 MiB file of them, over twenty minutes).
class Grid {
public:
    template <typename Segment>
    Grid(size_t count, double limit, Segment segment) : count_(count) {
        double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
        bool finite = true;
        for (size_t i = 0; i < count; ++i) {
            const auto [a, b] = segment(i);
            finite = finite && std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(b.x) && std::isfinite(b.y);
            x0 = std::min({x0, a.x, b.x});
            y0 = std::min({y0, a.y, b.y});
            x1 = std::max({x1, a.x, b.x});
            y1 = std::max({y1, a.y, b.y});
        }
        // A little more than the limit, so that rounding in the chunks
        // below never loses a segment at exactly the limit.
        pad_ = limit * 1.001;
        x0_ = x0 - pad_;
        y0_ = y0 - pad_;
        const double w = x1 + pad_ - x0_, h = y1 + pad_ - y0_;
        const double side = std::ceil(std::sqrt(static_cast<double>(count)));
        cell_ = std::max({w / side, h / side, 2 * pad_});
        if (count == 0 || !finite || !std::isfinite(w) || !std::isfinite(h) || !std::isfinite(cell_) || !(cell_ > 0))
            return;  // one list of all (values no grid can order)
        // Where a contour crosses the whole piece again and again, the cells
        // grow until the lists stay within a bound.
        for (;;) {
            nx_ = static_cast<size_t>(w / cell_) + 1;
            ny_ = static_cast<size_t>(h / cell_) + 1;
            start_.assign(nx_ * ny_ + 1, 0);
            size_t total = 0;
            walk(segment, [&](size_t c, uint32_t) { start_[c + 1] += 1, ++total; });
            if (total <= 32 * count + 65536) break;
            cell_ *= 2;
        }
        for (size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
        items_.resize(start_.back());
        std::vector<uint32_t> at(start_.begin(), start_.end() - 1);
        walk(segment, [&](size_t c, uint32_t i) { items_[at[c]++] = i; });
    }

    // Every segment within the limit of p is among these (ascending); empty
    // for the list of all, which `all` tells.
    std::span<const uint32_t> near(Vec p) const {
        if (start_.empty()) return {};
        const double cx = std::floor((p.x - x0_) / cell_), cy = std::floor((p.y - y0_) / cell_);
        if (!(cx >= 0 && cy >= 0 && cx < static_cast<double>(nx_) && cy < static_cast<double>(ny_))) return {};
        const size_t c = static_cast<size_t>(cy) * nx_ + static_cast<size_t>(cx);
        return std::span<const uint32_t>(items_).subspan(start_[c], start_[c + 1] - start_[c]);
    }
    bool all() const { return start_.empty(); }
    size_t count() const { return count_; }

private:
    // Each segment in pieces no longer than a cell: each piece's box,
    // widened by the pad, covers at most three cells across; a segment is
    // listed once in a cell.
    template <typename Segment, typename Visit>
    void walk(Segment segment, Visit visit) {
        std::vector<uint32_t> last(nx_ * ny_, UINT32_MAX);
        for (size_t i = 0; i < count_; ++i) {
            const auto [a, b] = segment(i);
            const double pieces = std::max(1.0, std::ceil(dist(a, b) / cell_));
            for (double k = 0; k < pieces; ++k) {
                const double t0 = k / pieces, t1 = (k + 1) / pieces;
                const Vec p{a.x + t0 * (b.x - a.x), a.y + t0 * (b.y - a.y)};
                const Vec q{a.x + t1 * (b.x - a.x), a.y + t1 * (b.y - a.y)};
                const size_t cx0 = index(std::min(p.x, q.x) - pad_ - x0_, nx_);
                const size_t cx1 = index(std::max(p.x, q.x) + pad_ - x0_, nx_);
                const size_t cy0 = index(std::min(p.y, q.y) - pad_ - y0_, ny_);
                const size_t cy1 = index(std::max(p.y, q.y) + pad_ - y0_, ny_);
                for (size_t cy = cy0; cy <= cy1; ++cy)
                    for (size_t cx = cx0; cx <= cx1; ++cx) {
                        const size_t c = cy * nx_ + cx;
                        if (last[c] == i) continue;
                        last[c] = static_cast<uint32_t>(i);
                        visit(c, static_cast<uint32_t>(i));
                    }
            }
        }
    }
    size_t index(double offset, size_t n) const {
        const double c = std::floor(offset / cell_);
        if (!(c > 0)) return 0;
        return c >= static_cast<double>(n) ? n - 1 : static_cast<size_t>(c);
    }

    size_t count_ = 0;
    double x0_ = 0, y0_ = 0, cell_ = 0, pad_ = 0;
    size_t nx_ = 0, ny_ = 0;
    std::vector<size_t> start_;
    std::vector<uint32_t> items_;
};

// The indexes of what may lie near p: from the grid, or all of them.
template <typename Visit>
void near_items(const Grid& grid, Vec p, Visit visit) {
    if (grid.all()) {
        for (size_t i = 0; i < grid.count(); ++i) visit(i);
        return;
    }
    for (const uint32_t i : grid.near(p)) visit(i);
}

// Joins the outline: one closed polyline, or open ones that run end to end
// (in any direction). The next piece is the first in the file with an end
// at the end reached; their ends are looked up in a grid, since a hostile
// outline of thousands of pieces would otherwise be searched through for
// each.
DxfStatus join_outline(std::vector<std::vector<Vec>>& open, std::vector<Vec>& out, double join) {
    // End 2k is the front of piece k, 2k + 1 its back.
    const Grid ends(2 * open.size(), join, [&](size_t e) {
        const std::vector<Vec>& piece = open[e / 2];
        const Vec p = piece.empty() ? Vec{} : e % 2 ? piece.back() : piece.front();
        return std::pair<Vec, Vec>{p, p};
    });
    out = std::move(open.front());
    std::vector<bool> used(open.size(), false);
    used[0] = true;
    for (size_t placed = 1; placed < open.size(); ++placed) {
        size_t next = 0;
        near_items(ends, out.back(), [&](size_t e) {
            const size_t i = e / 2;
            if (next != 0 || used[i] || open[i].empty()) return;
            if (dist(open[i].front(), out.back()) <= join || dist(open[i].back(), out.back()) <= join) next = i;
        });
        if (next == 0) return DxfStatus::OpenOutline;
        std::vector<Vec>& piece = open[next];
        if (dist(piece.back(), out.back()) <= join) std::reverse(piece.begin(), piece.end());
        out.insert(out.end(), piece.begin() + 1, piece.end());
        used[next] = true;
    }
    if (out.size() < 2 || dist(out.front(), out.back()) > join) return DxfStatus::OpenOutline;
    out.back() = out.front();
    return DxfStatus::Ok;
}

Shape take_apart(const Block& b, double mmPerUnit) {
    Shape s;
    std::vector<std::vector<Vec>> open;
    std::vector<Vec> closed;
    bool haveClosed = false;
    // Room for what the entities can give, so that the lists do not grow
    // step by step: a nest has a shape for every size of every piece.
    size_t texts = 0, points = 0, lines = 0;
    for (const Entity& e : b.entities) {
        texts += e.kind == Kind::Text;
        points += e.kind == Kind::Point;
        lines += e.layer == 8 || e.layer == 11 || e.layer == 14 || e.layer == 13;
    }
    s.rules.reserve(texts);
    s.notches.reserve(points);
    s.lines.reserve(lines);
    for (const Entity& e : b.entities) {
        const std::span<const Vec> pts = b.points_of(e);
        const int32_t layer = e.layer;
        if (e.kind == Kind::Text) {
            int32_t n = 0;
            if (rule_text(b.text_of(e), n)) {
                s.rules.push_back({n, pts[0]});
                continue;
            }
            const bool ours = istarts_with(b.text_of(e), "TEILIMP ");
            if (const char* kind = left_out_kind(layer, ours)) count_left_out(s, kind, layer);
            continue;
        }
        if (const char* kind = left_out_kind(layer, false)) {
            count_left_out(s, kind, layer);
            continue;
        }
        if (e.kind == Kind::Point) {
            if (layer == 4 || (layer >= 80 && layer <= 83)) s.notches.push_back({pts[0], e.hasAngle, e.angle});
            else if (layer == 13) s.lines.push_back({13, {pts[0]}});
            else if (layer == 2) s.turnPoints = true;
            continue;
        }
        if (pts.empty()) continue;
        if (layer == 1 && e.kind == Kind::Polyline) {
            s.hasOutline = true;
            if (e.closed && !haveClosed) {
                closed.assign(pts.begin(), pts.end());
                haveClosed = true;
            } else if (!e.closed) {
                open.emplace_back(pts.begin(), pts.end());
            }
        } else if (layer == 7 && !s.grain && pts.size() >= 2) {
            s.grain = Line{7, {pts.front(), pts.back()}};
        } else if (layer == 5 && !s.gradeReference && pts.size() >= 2) {
            s.gradeReference = Line{5, {pts.front(), pts.back()}};
        } else if (layer == 6 && !s.mirror && pts.size() >= 2) {
            s.mirror = Line{6, {pts.front(), pts.back()}};
        } else if (layer == 8 || layer == 11 || layer == 14) {
            Line& l = s.lines.emplace_back(Line{layer, {}});
            l.points.reserve(pts.size() + 1);
            l.points.assign(pts.begin(), pts.end());
            if (e.kind == Kind::Polyline && e.closed && pts.size() > 2) l.points.push_back(pts[0]);
        }
    }
    if (!s.hasOutline) {
        s.status = DxfStatus::OpenOutline;  // no outline at all: nothing that closes
        return s;
    }
    // Beyond what an image holds; also keeps the matching below from
    // growing with the square of a hostile file's size.
    size_t linePoints = 0;
    for (const Line& l : s.lines) linePoints += l.points.size();
    if (open.size() > kMaxContourPoints || s.notches.size() > kMaxContourPoints ||
        s.rules.size() > kMaxContourPoints + kMaxInternalPoints || linePoints > kMaxInternalPoints) {
        s.status = DxfStatus::OutOfLimits;
        return s;
    }
    const double join = kJoinMm / mmPerUnit;
    if (haveClosed) {
        s.contour = std::move(closed);
        if (s.contour.size() < 2 || dist(s.contour.front(), s.contour.back()) > join)
            s.contour.push_back(s.contour.front());
        else
            s.contour.back() = s.contour.front();
    } else {
        s.status = join_outline(open, s.contour, join);
    }
    return s;
}


// ------------------------------------------------------------ the piece

// One point of the piece, with where it lies in every size (nest) and its
// rule text's number (RUL).
struct Graded {
    Vec at;
    std::span<const Vec> inSizes;  // empty: not graded from the nest
    int32_t fileRule = -1;
    bool notch = false;
    bool hasAngle = false;
    double angle = 0;
    std::vector<reader::XY> preset;  // offsets given beforehand (interpolated)
};

struct PieceLine {
    char type = ' ';
    std::vector<Graded> points;
    std::vector<Vec> inSizes;  // the points' inSizes, point by point
};

struct PieceInput {
    std::vector<const Block*> blocks;  // nest: one per size, in size order; else the base block
    std::vector<std::string> sizes;    // cp850
    int32_t baseIndex = 0;
    const rul::RuleTable* rules = nullptr;
    double mmPerUnit = 1;  // of the DXF
    double rulTenths = 10; // tenths per RUL unit
    Texts texts;           // the base block's
    std::vector<Shape> shapes;  // nest: the blocks' shapes, in size order
};

const char* line_name(int32_t layer) {
    switch (layer) {
    case 7: return "Fadenlauf";
    case 6: return "Spiegellinie";
    case 11: return "Ausschnitt (Schicht 11)";
    case 13: return "Bohrloch (Schicht 13)";
    case 14: return "N\x84hlinie (Schicht 14)";
    default: return "Innenlinie (Schicht 8)";
    }
}

void add_note(DxfPiece& out, std::string text) {
    const std::string line = "   Hinweis: " + std::move(text);
    if (std::find(out.notes.begin(), out.notes.end(), line) == out.notes.end())
        out.notes.push_back(line);
}

// A shape's lines by layer, so that the k-th line of a layer is found at
// once (the grain line and the mirror line under their layers).
struct LineIndex {
    std::vector<const Line*> byLayer;  // by layer, in block order within one
    explicit LineIndex(const Shape& s) {
        byLayer.reserve(s.lines.size() + 2);
        if (s.grain) byLayer.push_back(&*s.grain);
        if (s.mirror) byLayer.push_back(&*s.mirror);
        for (const Line& l : s.lines) byLayer.push_back(&l);
        std::stable_sort(byLayer.begin(), byLayer.end(),
                         [](const Line* a, const Line* b) { return a->layer < b->layer; });
    }
    const Line* nth(int32_t layer, size_t k) const {
        const auto first = std::lower_bound(byLayer.begin(), byLayer.end(), layer,
                                            [](const Line* l, int32_t n) { return l->layer < n; });
        const auto at = static_cast<size_t>(first - byLayer.begin()) + k;
        return at < byLayer.size() && byLayer[at]->layer == layer ? byLayer[at] : nullptr;
    }
};

PieceLine piece_line(const Line& base, size_t k, char type, const std::vector<LineIndex>& shapes,
                     DxfPiece& out) {
    PieceLine pl;
    pl.type = type;
    pl.points.reserve(base.points.size());
    for (const Vec& v : base.points) pl.points.push_back(Graded{v, {}, -1, false, false, 0, {}});
    if (shapes.empty()) return pl;
    std::vector<const Line*> match;
    for (const LineIndex& s : shapes) {
        const Line* l = s.nth(base.layer, k);
        if (!l || l->points.size() != base.points.size()) {
            add_note(out, std::string(line_name(base.layer)) + " nicht in allen Gr\x94\xE1" "en; nicht gradiert");
            return pl;
        }
        match.push_back(l);
    }
    const size_t sizes = match.size();
    pl.inSizes.resize(pl.points.size() * sizes);
    for (size_t i = 0; i < pl.points.size(); ++i) {
        for (size_t k = 0; k < sizes; ++k) pl.inSizes[i * sizes + k] = match[k]->points[i];
        pl.points[i].inSizes = std::span<const Vec>(pl.inSizes).subspan(i * sizes, sizes);
    }
    return pl;
}

// The point nearest to `at` within `limit` (in DXF units), or null; of
// several at one distance the first. Squared distances: this runs for
// every rule text and notch.
Graded* nearest(std::vector<Graded*>& all, const Grid& grid, Vec at, double limit) {
    Graded* best = nullptr;
    double bestD = limit * limit;
    near_items(grid, at, [&](size_t i) {
        Graded* g = all[i];
        if (best && bestD == 0) return;
        const double dx = g->at.x - at.x, dy = g->at.y - at.y;
        const double d = dx * dx + dy * dy;
        if (d <= bestD && (!best || d < bestD)) {
            best = g;
            bestD = d;
        }
    });
    return best;
}

Grid point_grid(const std::vector<Graded*>& all, double limit) {
    return Grid(all.size(), limit, [&](size_t i) { return std::pair<Vec, Vec>{all[i]->at, all[i]->at}; });
}

// The foot of p on the side from a to b: where it lies, how far along the
// side (0 at a, 1 at b) and how far p is from it.
struct Foot {
    Vec at;
    double t = 0;
    double d = INFINITY;
};

Foot foot_on_side(Vec p, Vec a, Vec b) {
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    if (!(len2 > 0)) return {a, 0, dist(p, a)};
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0);
    const Vec at{a.x + t * dx, a.y + t * dy};
    return {at, t, dist(p, at)};
}

// The side of the contour (from point i to point i + 1; the last point
// repeats the first) nearest to p.
std::pair<size_t, Foot> nearest_side(std::span<const Vec> contour, Vec p) {
    std::pair<size_t, Foot> best{0, {}};
    for (size_t i = 0; i + 1 < contour.size(); ++i) {
        const Foot f = foot_on_side(p, contour[i], contour[i + 1]);
        if (f.d < best.second.d) best = {i, f};
    }
    return best;
}

// The points found so far, by square cells twice the limit wide: a point
// within the limit of another lies in its cell or in one beside it. (Those
// with values no cell can number are compared with every one.)
class Seen {
public:
    // True when one of `found` lies within `limit` of p; p is then added.
    template <typename Found>
    bool known(const std::vector<Found>& found, Vec p, double limit) {
        int64_t cx = 0, cy = 0;
        const auto near = [&](uint32_t k) { return dist(found[k].foot.at, p) <= limit; };
        if (!cell_of(p, 2 * limit, cx, cy)) {
            for (uint32_t k = 0; k < found.size(); ++k)
                if (near(k)) return true;
            uncelled_.push_back(static_cast<uint32_t>(found.size()));
            return false;
        }
        for (int64_t y = cy - 1; y <= cy + 1; ++y)
            for (int64_t x = cx - 1; x <= cx + 1; ++x)
                if (const auto c = cells_.find(key(x, y)); c != cells_.end())
                    if (std::any_of(c->second.begin(), c->second.end(), near)) return true;
        if (std::any_of(uncelled_.begin(), uncelled_.end(), near)) return true;
        cells_[key(cx, cy)].push_back(static_cast<uint32_t>(found.size()));
        return false;
    }

private:
    static bool cell_of(Vec p, double wide, int64_t& cx, int64_t& cy) {
        const double x = std::floor(p.x / wide), y = std::floor(p.y / wide);
        if (!(std::fabs(x) < 1e9 && std::fabs(y) < 1e9)) return false;
        cx = static_cast<int64_t>(x);
        cy = static_cast<int64_t>(y);
        return true;
    }
    static uint64_t key(int64_t x, int64_t y) {
        return static_cast<uint64_t>(x + (int64_t{1} << 31)) << 32 | static_cast<uint64_t>(y + (int64_t{1} << 31));
    }
    std::unordered_map<uint64_t, std::vector<uint32_t>> cells_;
    std::vector<uint32_t> uncelled_;
};

// A notch on a side of the contour, farther than `limit` from both its
// ends, gets a contour point of its own at its foot: a match mark along a
// straight seam is as much a part of the piece as one on a turn point, and
// the side keeps its course. In a nest the new point stands, in each size,
// where that size's notch on the same side nearest to the same share of it
// lies, else at that share. `room` holds the new points' places in the
// sizes (reserved here: the points' spans point into it). False, as soon
// as it is certain, where the new points would take the contour over its
// limit: the piece is refused then, and a hostile file's thousands of
// notches along long sides are not matched against every size's notches.
bool notch_points(std::vector<Graded>& contour, const Shape& base, std::span<const Shape> shapes, double limit,
                  std::vector<Vec>& room) {
    struct New {
        size_t side;
        Foot foot;
    };
    std::vector<New> found;
    Seen seen;
    std::vector<Vec> at;
    at.reserve(contour.size());
    for (const Graded& g : contour) at.push_back(g.at);
    if (at.size() < 2 || base.notches.empty()) return true;
    // Side i begins at point i: a point within the limit of a notch is
    // listed with its side.
    const Grid sides(at.size() - 1, limit, [&](size_t i) { return std::pair<Vec, Vec>{at[i], at[i + 1]}; });
    for (const Notch& notch : base.notches) {
        const Vec n = notch.at;
        bool onPoint = false;
        size_t side = 0;
        Foot f;
        near_items(sides, n, [&](size_t i) {
            if (onPoint) return;
            onPoint = dist(at[i], n) <= limit;
            const Foot o = foot_on_side(n, at[i], at[i + 1]);
            if (o.d < f.d) side = i, f = o;
        });
        if (onPoint || f.d > limit) continue;
        if (!seen.known(found, f.at, limit)) found.push_back({side, f});
        if (contour.size() + found.size() > kMaxContourPoints) return false;
    }
    if (found.empty()) return true;
    std::sort(found.begin(), found.end(), [](const New& a, const New& b) {
        return a.side != b.side ? a.side < b.side : a.foot.t < b.foot.t;
    });
    room.assign(found.size() * shapes.size(), Vec{});
    // Each size's notches by x, so that a side is compared only with those
    // that can lie within `limit` of it (a nest of many sizes, each with
    // thousands of notches, would otherwise take minutes).
    std::vector<std::vector<uint32_t>> byX(shapes.size());
    for (size_t s = 0; s < shapes.size(); ++s) {
        const std::vector<Notch>& own = shapes[s].notches;
        byX[s].resize(own.size());
        for (uint32_t k = 0; k < own.size(); ++k) byX[s][k] = k;
        std::stable_sort(byX[s].begin(), byX[s].end(),
                         [&](uint32_t u, uint32_t v) { return own[u].at.x < own[v].at.x; });
    }
    std::vector<Graded> merged;
    merged.reserve(contour.size() + found.size());
    size_t next = 0;
    for (size_t i = 0; i < contour.size(); ++i) {
        merged.push_back(std::move(contour[i]));
        for (; next < found.size() && found[next].side == i; ++next) {
            const New& nw = found[next];
            Graded g{nw.foot.at, {}, -1, false, false, 0, {}};
            if (!shapes.empty()) {
                const std::span<Vec> places = std::span<Vec>(room).subspan(next * shapes.size(), shapes.size());
                for (size_t s = 0; s < shapes.size(); ++s) {
                    const std::vector<Vec>& c = shapes[s].contour;
                    const Vec a = c[i], b = c[i + 1];
                    places[s] = {a.x + nw.foot.t * (b.x - a.x), a.y + nw.foot.t * (b.y - a.y)};
                    // The nearest share wins; of equal ones, the first in the file.
                    const std::vector<Notch>& own = shapes[s].notches;
                    const double lo = std::min(a.x, b.x) - 2 * limit, hi = std::max(a.x, b.x) + 2 * limit;
                    auto k = std::lower_bound(byX[s].begin(), byX[s].end(), lo,
                                              [&](uint32_t u, double x) { return own[u].at.x < x; });
                    double share = INFINITY;
                    uint32_t first = UINT32_MAX;
                    for (; k != byX[s].end() && own[*k].at.x <= hi; ++k) {
                        const Foot o = foot_on_side(own[*k].at, a, b);
                        if (o.d > limit || o.t <= 0 || o.t >= 1) continue;
                        const double d = std::fabs(o.t - nw.foot.t);
                        if (!(d <= share) || (d == share && *k > first)) continue;
                        share = d;
                        first = *k;
                        places[s] = o.at;
                    }
                }
                g.inSizes = places;
            }
            merged.push_back(std::move(g));
        }
    }
    contour = std::move(merged);
    return true;
}

using Offsets = std::vector<reader::XY>;

struct OffsetsLess {
    bool operator()(const Offsets& a, const Offsets& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](reader::XY u, reader::XY v) {
                                                return u.x != v.x ? u.x < v.x : u.y < v.y;
                                            });
    }
};

// The offsets of a point in every size, in tenths; false on overflow.
bool offsets_of(const Graded& g, const PieceInput& in, const Shape& base, Offsets& out) {
    const size_t n = in.sizes.size();
    out.assign(n, reader::XY{});
    if (!g.preset.empty()) {
        out = g.preset;
        return true;
    }
    const double tenths = 10 * in.mmPerUnit;
    if (!g.inSizes.empty()) {
        for (size_t s = 0; s < n; ++s)
            if (!to_tenths(g.inSizes[s].x - g.at.x, tenths, out[s].x) ||
                !to_tenths(g.inSizes[s].y - g.at.y, tenths, out[s].y))
                return false;
        return true;
    }
    if (!in.rules || g.fileRule < 0) return true;
    const rul::Rule* r = in.rules->find(g.fileRule);
    if (!r) return true;  // checked before
    // The rule's x axis is the grade reference line's direction.
    double c = 1, sn = 0;
    if (base.gradeReference) {
        const Vec a = base.gradeReference->points[0], b = base.gradeReference->points[1];
        const double len = dist(a, b);
        if (len > 0) {
            c = (b.x - a.x) / len;
            sn = (b.y - a.y) / len;
        }
    }
    for (size_t s = 0; s < n; ++s) {
        const double dx = r->deltas[s].dx * c - r->deltas[s].dy * sn;
        const double dy = r->deltas[s].dx * sn + r->deltas[s].dy * c;
        if (!to_tenths(dx, in.rulTenths, out[s].x) || !to_tenths(dy, in.rulTenths, out[s].y))
            return false;
    }
    return true;
}

// Contour points without a rule of their own move with their neighbours
// that have one, in proportion to the distance along the contour (as pattern
// systems grade the points between two rule points); without this a curve
// point would stay where it is while the points around it move.
bool interpolate_contour(std::vector<Graded>& contour, const PieceInput& in, const Shape& base) {
    if (contour.size() < 3) return true;
    const size_t n = contour.size() - 1;  // the last point repeats the first
    std::vector<Offsets> own(n);
    std::vector<size_t> ruled;
    for (size_t i = 0; i < n; ++i) {
        if (contour[i].fileRule < 0) continue;
        if (!offsets_of(contour[i], in, base, own[i])) return false;
        ruled.push_back(i);
    }
    if (ruled.empty()) return true;
    // Arc length from point 0 along the contour, over two rounds.
    std::vector<double> arc(2 * n + 1, 0);
    for (size_t i = 1; i <= 2 * n; ++i) arc[i] = arc[i - 1] + dist(contour[(i - 1) % n].at, contour[i % n].at);
    size_t r = 0;  // index into ruled of the next rule point at or after i
    for (size_t i = 0; i < n; ++i) {
        while (r < ruled.size() && ruled[r] < i) ++r;
        if (r < ruled.size() && ruled[r] == i) continue;
        const size_t next = r < ruled.size() ? ruled[r] : ruled.front() + n;
        const size_t prev = r > 0 ? ruled[r - 1] : ruled.back();
        const size_t i2 = prev > i ? i + n : i, next2 = next < i2 ? next + n : next;
        const double before = arc[i2] - arc[prev], total = arc[next2] - arc[prev];
        const double t = total > 0 ? before / total : 0;
        const Offsets& a = own[prev];
        const Offsets& b = own[next % n];
        Offsets& o = contour[i].preset;
        o.resize(a.size());
        for (size_t k = 0; k < a.size(); ++k) {
            o[k].x = static_cast<int32_t>(std::round(a[k].x + t * (static_cast<double>(b[k].x) - a[k].x)));
            o[k].y = static_cast<int32_t>(std::round(a[k].y + t * (static_cast<double>(b[k].y) - a[k].y)));
        }
    }
    contour.back().preset = contour.front().preset;
    return true;
}

DxfStatus fail(DxfPiece& out, DxfStatus status, std::string_view size = {}) {
    out.status = status;
    out.reason = reason_line(status, out.name, size);
    out.piece.image.clear();
    return status;
}

DxfStatus build_piece(const PieceInput& in, DxfPiece& out) {
    const bool nest = in.rules == nullptr && in.blocks.size() > 1;
    Shape single;
    if (!nest) single = take_apart(*in.blocks[0], in.mmPerUnit);
    const Shape& base = nest ? in.shapes[static_cast<size_t>(in.baseIndex)] : single;
    const std::span<const Shape> shapes = nest ? std::span<const Shape>(in.shapes) : std::span<const Shape>();

    for (const LeftOut& l : base.leftOut)
        add_note(out, std::string("nicht \x81" "bernommen: ") + l.kind + " (Schicht " +
                          std::to_string(l.layer) + "), " + std::to_string(l.count) + " Elemente");
    if (!base.grain) add_note(out, "kein Fadenlauf in der Datei; +x angenommen");
    if (base.status != DxfStatus::Ok) return fail(out, base.status);
    for (const Shape& s : shapes)
        if (s.status != DxfStatus::Ok) return fail(out, s.status);
    for (const Shape& s : shapes)
        if (s.contour.size() != base.contour.size()) return fail(out, DxfStatus::PointCountsDiffer);
    if (base.contour.size() > kMaxContourPoints) return fail(out, DxfStatus::OutOfLimits);

    // The piece's points, across its sizes.
    std::vector<Graded> contour;
    contour.reserve(base.contour.size());
    std::vector<Vec> contourInSizes(base.contour.size() * shapes.size());
    for (size_t i = 0; i < base.contour.size(); ++i) {
        Graded g{base.contour[i], {}, -1, false, false, 0, {}};
        if (!shapes.empty()) {
            for (size_t k = 0; k < shapes.size(); ++k) contourInSizes[i * shapes.size() + k] = shapes[k].contour[i];
            g.inSizes = std::span<const Vec>(contourInSizes).subspan(i * shapes.size(), shapes.size());
        }
        contour.push_back(std::move(g));
    }
    // Notches, to the contour point they lie on (the closing repeat aside);
    // one on a side between two points first gets a point there.
    const double notchLimit = kNotchMm / in.mmPerUnit;
    std::vector<Vec> notchPlaces;
    if (!notch_points(contour, base, shapes, notchLimit, notchPlaces) || contour.size() > kMaxContourPoints)
        return fail(out, DxfStatus::OutOfLimits);
    std::vector<LineIndex> sizeLines;
    sizeLines.reserve(shapes.size());
    for (const Shape& s : shapes) sizeLines.emplace_back(s);
    std::vector<PieceLine> lines;
    if (base.grain) lines.push_back(piece_line(*base.grain, 0, 'G', sizeLines, out));
    const bool mirrored = base.mirror.has_value();
    if (mirrored) lines.push_back(piece_line(*base.mirror, 0, 'M', sizeLines, out));
    std::map<int32_t, size_t> perLayer;
    for (const Line& l : base.lines) lines.push_back(piece_line(l, perLayer[l.layer]++, ' ', sizeLines, out));

    std::vector<Graded*> candidates;
    std::vector<Vec> contourAt;
    for (size_t i = 0; i + 1 < contour.size(); ++i) candidates.push_back(&contour[i]);
    for (const Graded& g : contour) contourAt.push_back(g.at);
    const Grid candidateGrid = point_grid(base.notches.empty() ? std::vector<Graded*>{} : candidates, notchLimit);
    size_t farNotes = 0;
    for (const Notch& n : base.notches) {
        Graded* g = nearest(candidates, candidateGrid, n.at, notchLimit);
        if (!g) {
            if (farNotes++ >= 20) continue;  // the first twenty are told
            // How far from the contour, its sides as well as its points.
            const double d = contourAt.size() > 1 ? nearest_side(contourAt, n.at).second.d : INFINITY;
            char text[64];
            std::snprintf(text, sizeof text, "Knipse %.1f mm neben der Kontur nicht \x81" "bernommen",
                          d * in.mmPerUnit);
            add_note(out, text);
            continue;
        }
        g->notch = true;
        g->hasAngle = n.hasAngle;
        g->angle = n.angle;
    }

    // Rule texts, to the point they stand at.
    if (!nest && !base.rules.empty()) {
        if (!in.rules) return fail(out, DxfStatus::NoRules);
        std::vector<Graded*> all;
        for (Graded& g : contour) all.push_back(&g);
        for (PieceLine& l : lines)
            for (Graded& g : l.points) all.push_back(&g);
        const double limit = kRuleTextMm / in.mmPerUnit;
        const Grid grid = point_grid(all, limit);
        for (const RuleText& t : base.rules) {
            if (!in.rules->find(t.number)) return fail(out, DxfStatus::NoRules);
            if (Graded* g = nearest(all, grid, t.at, limit)) g->fileRule = t.number;
        }
        if (contour.size() > 1) contour.back().fileRule = contour.front().fileRule;
        if (in.sizes.size() > 1 && !interpolate_contour(contour, in, base))
            return fail(out, DxfStatus::OutOfLimits);
    }

    // Rules: one per distinct set of offsets that moves anything.
    std::map<Offsets, int32_t, OffsetsLess> ruleOf;
    std::vector<const Offsets*> rules;
    Offsets o;  // one point's, its room kept from point to point
    auto rule_for = [&](const Graded& g, int32_t& number) {
        number = 0;
        if (in.sizes.size() < 2) return true;
        if (!offsets_of(g, in, base, o)) return false;
        if (std::all_of(o.begin(), o.end(), [](reader::XY v) { return v.x == 0 && v.y == 0; }))
            return true;
        if (const auto known = ruleOf.find(o); known != ruleOf.end()) {
            number = known->second;
            return true;
        }
        const auto it = ruleOf.emplace(o, static_cast<int32_t>(ruleOf.size() + 1)).first;
        rules.push_back(&it->first);
        number = it->second;
        return true;
    };

    // The EPN point tables.
    const double tenths = 10 * in.mmPerUnit;
    std::vector<reader::EpnPoint> perimeter, internal;
    perimeter.reserve(contour.size());
    int32_t number = 0;
    auto make = [&](const Graded& g, char type, char flag, reader::EpnPoint& p) {
        p.pointNumber = ++number;
        p.pointType = type;
        p.lineFlag = flag;
        if (!to_tenths(g.at.x, tenths, p.x) || !to_tenths(g.at.y, tenths, p.y)) return false;
        if (!rule_for(g, p.ruleNumber)) return false;
        if (g.notch) {
            p.label[0] = 'N';
            p.label[1] = '1';
            if (g.hasAngle) {
                double a = std::fmod(std::round(g.angle * 10), 3600.0);
                const util::Vec2 d = reader::angle_direction(static_cast<int32_t>(a));
                p.dirCos = d.x;
                p.dirSin = d.y;
            }
        }
        return true;
    };
    for (const Graded& g : contour) {
        reader::EpnPoint p;
        if (!make(g, ' ', ' ', p)) return fail(out, DxfStatus::OutOfLimits);
        perimeter.push_back(p);
    }
    for (const PieceLine& l : lines) {
        for (size_t i = 0; i < l.points.size(); ++i) {
            const bool last = i + 1 == l.points.size();
            const bool pair = l.type != ' ';
            const char flag = last ? (pair ? 'O' : ' ') : 'N';
            reader::EpnPoint p;
            if (!make(l.points[i], pair ? l.type : ' ', flag, p)) return fail(out, DxfStatus::OutOfLimits);
            internal.push_back(p);
        }
    }
    if (internal.size() > kMaxInternalPoints || rules.size() > kMaxCount16 ||
        lines.size() > kMaxCount16 || in.sizes.size() > kMaxCount16)
        return fail(out, DxfStatus::OutOfLimits);

    // The normal form, as for an EPN piece.
    out.contourReversed = reader::orient_contour(perimeter) ? 1 : 0;
    const reader::GrainResult grain = reader::correct_grain_line(perimeter, internal, mirrored);
    if (grain.overflow) return fail(out, DxfStatus::OutOfLimits);
    out.grainRotated = grain.rotation.turned ? 1 : 0;

    // The image, through the piece model as for an EPN piece.
    const size_t sizeCount = in.sizes.size();
    reader::PieceModel& m = out.piece.model;
    m = reader::PieceModel{};
    const int64_t pointBytes = reader::build_model_points(perimeter, internal, m);
    const int64_t blockBytes = int64_t{reader::kRuleHeaderLength} +
                               int64_t{reader::kRuleStepLength} * std::max<int64_t>(int64_t(sizeCount) - 1, 1);
    const int64_t length = reader::kPieceHeaderLength + int64_t{reader::kSizeEntryLength} * int64_t(sizeCount) +
                           blockBytes * static_cast<int64_t>(rules.size()) + pointBytes + reader::kClosingBytes;
    if (length > kMaxImageLength) return fail(out, DxfStatus::OutOfLimits);
    m.name = out.piece.pieceName;
    m.text1 = stored_field<20>(to_cp850(in.texts.category, true));
    m.text2 = stored_field<20>(to_cp850(in.texts.annotation, true));
    m.mirrored = mirrored;
    m.sizes.resize(sizeCount);
    for (size_t k = 0; k < sizeCount; ++k) m.sizes[k].name = stored_field<6>(in.sizes[k]);
    reader::set_inner_marks(m);
    m.baseSize = m.sizes[static_cast<size_t>(in.baseIndex)].name;
    m.baseSizeIndex = static_cast<int16_t>(in.baseIndex);
    m.numericNames = std::all_of(in.sizes.begin(), in.sizes.end(), [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    });
    m.rules.resize(rules.size());
    for (size_t r = 0; r < rules.size(); ++r) {
        reader::ModelRule& rule = m.rules[r];
        rule.number = static_cast<int16_t>(r + 1);
        Offsets o = *rules[r];
        for (reader::XY& v : o)
            if (grain.rotation.turned && !reader::turn_grade_values(grain.rotation, v.x, v.y))
                return fail(out, DxfStatus::OutOfLimits);
        const reader::XY atBase = o[static_cast<size_t>(in.baseIndex)];
        rule.offsets.resize(sizeCount);
        for (size_t k = 0; k < sizeCount; ++k)
            rule.offsets[k] = {int64_t{o[k].x} - atBase.x, int64_t{o[k].y} - atBase.y};
    }
    reader::ImageFault fault;
    // The encoder refuses what no image can hold (a step beyond 32 bits).
    if (!reader::encode_piece(m, out.piece.image, fault)) return fail(out, DxfStatus::OutOfLimits);

    out.sizeCount = static_cast<int32_t>(sizeCount);
    out.contourPoints = static_cast<int32_t>(perimeter.size());
    out.lineCount = static_cast<int32_t>(lines.size());
    out.ruleCount = static_cast<int32_t>(rules.size());
    out.sizes = in.sizes;
    return DxfStatus::Ok;
}

// A piece of our own export, rebuilt exactly (already in the normal form:
// not turned again); false when the block cannot be (edited, or its rules
// file missing), to be converted as any other.
bool take_exported(const Block& b, const rul::RuleTable* rules, ExportUnits units, DxfPiece& out) {
    reader::PieceModel& m = out.piece.model;
    reader::ImageFault fault;
    if (!rebuild_exported(b, rules, units, m) || !reader::encode_piece(m, out.piece.image, fault)) return false;
    out.name = reader::field_text(m.name);
    out.piece.pieceName = m.name;
    out.sizeCount = static_cast<int32_t>(m.sizes.size());
    out.contourPoints = static_cast<int32_t>(m.contour.size());
    out.lineCount = static_cast<int32_t>(m.lines.size());
    out.ruleCount = static_cast<int32_t>(m.rules.size());
    for (const reader::ModelSize& s : m.sizes) out.sizes.push_back(reader::field_text(s.name));
    return true;
}

double mm_per_unit(std::string_view units, bool& known) {
    known = true;
    if (istarts_with(trim(units), "ENGLISH") || istarts_with(trim(units), "INCH")) return 25.4;
    if (istarts_with(trim(units), "METRIC") || istarts_with(trim(units), "MM")) return 1;
    known = false;
    return 1;
}

std::vector<std::string> words(std::string_view s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == ',')) ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != ',') ++j;
        if (j > i) out.emplace_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

// The blocks of one piece, by name.
struct Group {
    std::string key;
    std::vector<const Block*> blocks;
    std::vector<Texts> texts;
};

// Which blocks give the piece's sizes and which is its base: the RUL
// file's sizes and sample size, else the graded nest's blocks (in the
// order of the style's size list where it has one), else the one block.
// A status other than 0 refuses the piece (`size` the size concerned).
DxfStatus piece_input(const Group& g, const Texts& style, const rul::RuleTable* rules, PieceInput& in,
                    std::string& size) {
    std::set<std::string> seenSizes;
    for (const Texts& t : g.texts) {
        if (seenSizes.insert(t.size).second) continue;
        size = to_cp850(t.size, false);
        return DxfStatus::SizeTwice;
    }
    size_t baseBlock = 0;
    if (rules) {
        in.rules = rules;
        for (const std::string& s : rules->sizes) in.sizes.push_back(to_cp850(s, false));
        in.baseIndex = rules->sample_index();
        if (in.baseIndex < 0) return DxfStatus::NoRules;
        for (size_t i = 0; i < g.texts.size(); ++i)
            if (g.texts[i].size == rules->sampleSize) baseBlock = i;
        in.blocks = {g.blocks[baseBlock]};
    } else if (g.blocks.size() > 1) {
        std::vector<size_t> order(g.blocks.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        const std::vector<std::string> list = words(style.sizeList);
        if (!list.empty()) {
            auto rank = [&](size_t i) { return std::find(list.begin(), list.end(), g.texts[i].size) - list.begin(); };
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return rank(a) < rank(b); });
        }
        // The base: the block with the rule texts and turn points, else
        // the style's sample size, else the first.
        std::optional<size_t> base;
        in.shapes.reserve(order.size());
        for (size_t k : order) in.shapes.push_back(take_apart(*g.blocks[k], in.mmPerUnit));
        for (size_t k = 0; k < order.size() && !base; ++k)
            if (!in.shapes[k].rules.empty() && in.shapes[k].turnPoints) base = k;
        for (size_t k = 0; k < order.size() && !base; ++k)
            if (!style.sampleSize.empty() && g.texts[order[k]].size == style.sampleSize) base = k;
        in.baseIndex = static_cast<int32_t>(base.value_or(0));
        for (size_t k : order) {
            in.blocks.push_back(g.blocks[k]);
            in.sizes.push_back(to_cp850(g.texts[k].size, false));
        }
        baseBlock = order[static_cast<size_t>(in.baseIndex)];
    } else {
        in.blocks = {g.blocks[0]};
        in.sizes = {to_cp850(g.texts[0].size.empty() ? style.sampleSize : g.texts[0].size, false)};
    }
    in.texts = g.texts[baseBlock];
    for (const std::string& s : in.sizes) {
        if (s.size() <= 6) continue;
        size = s;
        return DxfStatus::SizeNameTooLong;
    }
    if (in.sizes.size() > kMaxCount16) return DxfStatus::OutOfLimits;
    return DxfStatus::Ok;
}

// What the pieces of one drawing share.
struct Conversion {
    const Texts& style;
    const rul::RuleTable* rules;
    double mmPerUnit;
    double rulTenths;
    bool unitsKnown;
    bool exported;  // written by our export
};

void convert_group(const Group& g, const Conversion& c, DxfPiece& out) {
    if (c.exported && g.blocks.size() == 1 &&
        take_exported(*g.blocks[0], c.rules, ExportUnits{10 * c.mmPerUnit, c.rulTenths}, out))
        return;
    out = DxfPiece{};
    out.name = g.key;
    if (!c.unitsKnown) add_note(out, "keine Einheit in der Datei; Millimeter angenommen");
    if (out.name.size() > 20) {
        fail(out, DxfStatus::NameTooLong);
        return;
    }
    out.piece.pieceName = reader::make_field<20>(out.name);
    try {
        PieceInput in;
        in.mmPerUnit = c.mmPerUnit;
        in.rulTenths = c.rulTenths;
        std::string size;
        if (const DxfStatus status = piece_input(g, c.style, c.rules, in, size); status != DxfStatus::Ok)
            fail(out, status, size);
        else
            build_piece(in, out);
    } catch (const std::bad_alloc&) {
        fail(out, DxfStatus::OutOfLimits);
    }
}

}  // namespace

std::string reason_line(DxfStatus status, std::string_view name, std::string_view size) {
    const std::string n(name);
    std::string r;
    switch (status) {
    case DxfStatus::NoPieces: r = "keine Schnittteile im Format AAMA/ASTM"; break;
    case DxfStatus::OpenOutline: r = n + ": Kontur nicht geschlossen"; break;
    case DxfStatus::NameTooLong: r = n + ": Teilname l\x84nger als 20 Zeichen"; break;
    case DxfStatus::SizeTwice: r = n + ": Gr\x94\xE1" "e " + std::string(size) + " doppelt in der Datei"; break;
    case DxfStatus::PointCountsDiffer: r = n + ": Gr\x94\xE1" "en mit verschieden vielen Konturpunkten"; break;
    case DxfStatus::SizeNameTooLong: r = n + ": Gr\x94\xE1" "enname l\x84nger als 6 Zeichen: " + std::string(size); break;
    case DxfStatus::NoRules: r = n + ": Gradierregeln fehlen: RUL-Datei nicht gefunden oder unlesbar"; break;
    case DxfStatus::CannotOpen: r = "DXF-Datei l\x84sst sich nicht \x94" "ffnen"; break;
    case DxfStatus::OutOfLimits:
        r = n.empty() ? std::string("DXF-Datei gr\x94\xE1" "er als 256 MiB")
                      : n + ": zu viele Punkte, Gr\x94\xE1" "en oder Regeln, oder ein Wert zu gro\xE1";
        break;
    default: return "";
    }
    return "   (" + r + ")";
}

bool is_rul_name(std::string_view path) {
    return path.size() >= 4 && iequals(path.substr(path.size() - 4), ".rul");
}

bool counted_only(int32_t layer) { return left_out_kind(layer, false) != nullptr; }

DxfFile convert_drawing(const Drawing& drawing, const rul::RuleTable* rules, const PieceSink& take) {
    DxfFile file;
    Texts style;
    read_texts(drawing.entities, style);
    // The pieces: blocks with an outline and a piece name, by name. Units:
    // the style's text, a block's, the header's.
    std::string unitsText = style.units;
    std::vector<Group> groups;
    {
        std::map<std::string, size_t> groupOf;
        for (const Block& b : drawing.blocks) {
            Texts t;
            read_texts(b, t);
            if (unitsText.empty()) unitsText = t.units;
            if (trim(t.name).empty()) continue;
            const bool outline = std::any_of(b.entities.begin(), b.entities.end(), [](const Entity& e) {
                return e.kind == Kind::Polyline && e.layer == 1 && e.pointCount > 0;
            });
            if (!outline) continue;
            const std::string key = to_cp850(trim(t.name), true);
            const auto [at, added] = groupOf.emplace(key, groups.size());
            if (added) groups.push_back({key, {}, {}});
            Group& g = groups[at->second];
            g.blocks.push_back(&b);
            g.texts.push_back(std::move(t));
        }
    }
    if (groups.empty()) {
        file.status = DxfStatus::NoPieces;
        file.reason = reason_line(DxfStatus::NoPieces, "");
        return file;
    }
    bool known = false;
    double mmPerUnit = mm_per_unit(unitsText, known);
    if (!known && drawing.headerUnits != Units::None) {
        known = true;
        mmPerUnit = drawing.headerUnits == Units::Inch ? 25.4 : 1;
    }
    double rulTenths = 10 * mmPerUnit;
    if (rules && rules->units != rul::TableUnits::None) rulTenths = rules->units == rul::TableUnits::Inch ? 254 : 10;

    const Conversion c{style, rules, mmPerUnit, rulTenths, known, written_by_export(drawing)};
    for (size_t k = 0; k < groups.size(); ++k) {
        DxfPiece out;
        convert_group(groups[k], c, out);
        if (!take(out, k, groups.size())) break;
    }
    return file;
}

DxfFile convert_drawing(const Drawing& drawing, const rul::RuleTable* rules) {
    std::vector<DxfPiece> pieces;
    DxfFile file = convert_drawing(drawing, rules, [&](DxfPiece& p, size_t, size_t m) {
        pieces.reserve(m);
        pieces.push_back(std::move(p));
        return true;
    });
    file.pieces = std::move(pieces);
    return file;
}

namespace {

// The directory part of a path (up to and with its last separator).
std::string_view directory_of(std::string_view path) {
    const size_t sep = path.find_last_of("/\\:");
    return sep == std::string_view::npos ? std::string_view{} : path.substr(0, sep + 1);
}

std::string upper_key(std::string_view name) {
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(), exchange::upper_ascii);
    return key;
}

}  // namespace

std::optional<std::string> RulSearch::find(std::string_view dir, std::string_view name) {
    if (name.empty() || name.find_first_of("/\\:") != std::string_view::npos) return std::nullopt;
    auto at = listings_.find(dir);
    if (at == listings_.end()) {
        Listing listing;
        std::vector<platform::FoundName> names;
        platform::find_names(std::string(dir) + "*", names);
        for (platform::FoundName& e : names) listing.byKey[upper_key(e.name)].push_back(std::move(e.name));
        at = listings_.emplace(std::string(dir), std::move(listing)).first;
    }
    const auto same = at->second.byKey.find(upper_key(name));
    if (same == at->second.byKey.end()) return std::nullopt;
    const std::vector<std::string>& candidates = same->second;
    const auto exact = std::find(candidates.begin(), candidates.end(), name);
    return std::string(dir) + (exact != candidates.end() ? *exact : candidates.back());
}

const rul::RuleTable* RulSearch::rules(const std::string& path) {
    if (path.empty()) return nullptr;
    if (path != tablePath_) {
        tablePath_ = path;
        tableRead_ = rul::read_rul(path, table_) == rul::ReadStatus::Ok;
    }
    return tableRead_ ? &table_ : nullptr;
}

LoadedDxf load_dxf_file(std::string_view path, RulSearch& search) {
    LoadedDxf file;
    std::vector<uint8_t> bytes;
    const ReadStatus loaded = load_file(path, bytes);
    if (loaded != ReadStatus::Ok) {
        file.status = loaded == ReadStatus::TooLarge ? DxfStatus::OutOfLimits : DxfStatus::CannotOpen;
        file.reason = reason_line(file.status, "");
        return file;
    }
    if (read_dxf(bytes, file.drawing, counted_only) != ReadStatus::Ok) {
        file.drawing = Drawing{};
        file.status = DxfStatus::NoPieces;
        file.reason = reason_line(DxfStatus::NoPieces, "");
        return file;
    }
    bytes = {};
    // The RUL file: the DXF's name with .rul, else the name its texts give.
    const std::string_view dir = directory_of(path);
    std::string_view stem = path.substr(dir.size());
    if (const size_t dot = stem.rfind('.'); dot != std::string_view::npos) stem = stem.substr(0, dot);
    std::optional<std::string> rulPath = search.find(dir, std::string(stem) + ".rul");
    if (!rulPath) {
        Texts style;
        read_texts(file.drawing.entities, style);
        if (!style.ruleTable.empty()) {
            rulPath = search.find(dir, style.ruleTable);
            if (!rulPath) rulPath = search.find(dir, style.ruleTable + ".rul");
        }
    }
    file.rules = rulPath ? search.rules(*rulPath) : nullptr;
    if (file.rules) file.rulPath = *rulPath;
    return file;
}

DxfFile read_dxf_file(std::string_view path) {
    RulSearch search;
    return read_dxf_file(path, search);
}

DxfFile read_dxf_file(std::string_view path, RulSearch& search) {
    const LoadedDxf loaded = load_dxf_file(path, search);
    if (loaded.status != DxfStatus::Ok) return DxfFile{loaded.status, loaded.reason, {}, {}};
    DxfFile converted = convert_drawing(loaded.drawing, loaded.rules);
    converted.rulPath = loaded.rulPath;
    return converted;
}

}  // namespace teilimp::dxf
