// teilarea show: draws a stored piece as SVG. Coordinates are the stored
// ones (y upward, as in the piece; the drawing is flipped once as a whole),
// so the base size's contour carries exactly the stored points.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "platform/platform.h"
#include "util/text.h"

namespace teilimp::area_tool {

namespace {

using platform::console_line;
using reader::ModelPoint;
using reader::PieceModel;

struct P {
    int64_t x = 0;
    int64_t y = 0;
};

// Where a point stands in a size: moved by its rule's offset from the base
// size; a point without rule keeps its place.
P at(const PieceModel& m, const ModelPoint& p, int size) {
    const reader::Offset d = reader::point_offset(m, p, static_cast<size_t>(size));
    return {p.x + d.dx, p.y + d.dy};
}

struct Box {
    int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
    void add(P p) {
        minX = std::min(minX, p.x);
        minY = std::min(minY, p.y);
        maxX = std::max(maxX, p.x);
        maxY = std::max(maxY, p.y);
    }
};

std::string num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.6g", v);
    return b;
}

std::string points_attr(const std::vector<P>& pts) {
    std::string s;
    for (const P& p : pts) s += (s.empty() ? "" : " ") + std::to_string(p.x) + "," + std::to_string(p.y);
    return s;
}

// The colour of a size's outline in a graded nest: the base size black, the
// others spread over the colour circle from blue (small) to red (large),
// so that neighbouring sizes differ and the legend tells them apart.
std::string size_colour(int size, int count, int base) {
    if (size == base) return "#000000";
    const double t = count > 1 ? static_cast<double>(size) / (count - 1) : 0;
    const double hue = 240 - 240 * t;  // degrees: 240 blue ... 0 red
    // HSL with saturation 0.75 and lightness 0.42, to RGB.
    const double c = (1 - std::fabs(2 * 0.42 - 1)) * 0.75;
    const double h = hue / 60;
    const double x = c * (1 - std::fabs(std::fmod(h, 2) - 1));
    double r = 0, g = 0, b = 0;
    if (h < 1) r = c, g = x;
    else if (h < 2) r = x, g = c;
    else if (h < 3) g = c, b = x;
    else if (h < 4) g = x, b = c;
    else b = c, r = x;
    const double m0 = 0.42 - c / 2;
    char out[8];
    std::snprintf(out, sizeof out, "#%02x%02x%02x", static_cast<int>((r + m0) * 255 + 0.5),
                  static_cast<int>((g + m0) * 255 + 0.5), static_cast<int>((b + m0) * 255 + 0.5));
    return out;
}

struct Svg {
    const PieceModel& m;
    int base = 0;
    std::vector<int> sizes;  // the sizes drawn
    int detail = 0;          // the size whose lines and notches are drawn
    bool single = false;     // one size asked for: drawn alone, strong
    double unit = 1;         // a stroke width for the strong contour
    std::string body;

    std::vector<P> contour(int size) const {
        std::vector<P> pts;
        for (const ModelPoint& p : m.contour) pts.push_back(at(m, p, size));
        return pts;
    }
    std::string name_of(int size) const { return reader::field_text(m.sizes[static_cast<size_t>(size)].name); }
    bool strong(int size) const { return single || size == base; }
    void contours();
    void lines();
    void notches();
    std::string legend(double x, double top, double font) const;
};

void Svg::contours() {
    body += "<g id=\"contours\">\n";
    for (int s : sizes) {
        const bool isBase = s == base;
        const std::string colour = single ? "#000000" : size_colour(s, static_cast<int>(m.sizes.size()), base);
        body += "<polygon class=\"contour" + std::string(isBase ? " base" : "") + "\" data-size=\"" +
                xml_text(name_of(s)) + "\"" + (isBase ? " data-base=\"true\"" : "") + " stroke=\"" + colour +
                "\" stroke-width=\"" + num(strong(s) ? unit : unit / 2.5) + "\" points=\"" +
                points_attr(contour(s)) + "\"/>\n";
    }
    body += "</g>\n";
}

void Svg::lines() {
    body += "<g id=\"lines\">\n";
    for (const reader::ModelLine& line : m.lines) {
        std::vector<P> pts;
        for (const ModelPoint& p : line.points) pts.push_back(at(m, p, detail));
        if (pts.size() == 1) {
            // A drill hole: a small cross on the point.
            const double x = static_cast<double>(pts[0].x), y = static_cast<double>(pts[0].y), r = unit * 5;
            body += "<path class=\"drill-hole\" stroke=\"#000000\" stroke-width=\"" + num(unit / 1.5) + "\" d=\"M" +
                    num(x - r) + "," + num(y - r) + " L" + num(x + r) + "," + num(y + r) + " M" + num(x - r) + "," +
                    num(y + r) + " L" + num(x + r) + "," + num(y - r) + "\"/>\n";
            continue;
        }
        std::string style = "stroke=\"#000000\" stroke-width=\"" + num(unit / 1.5) + "\"";
        std::string cls = "line";
        if (line.type == 'M') {
            cls = "mirror-line";
            style += " stroke-dasharray=\"" + num(unit * 8) + " " + num(unit * 4) + "\"";
        } else if (line.type == 'G') {
            cls = "grain-line";
        }
        body += "<polyline class=\"" + cls + "\" " + style + " points=\"" + points_attr(pts) + "\"/>\n";
        if (line.type != 'G') continue;
        // The arrow head at the grain line's end, pointing along its last segment.
        const P a = pts[pts.size() - 2], b = pts.back();
        const double dx = static_cast<double>(b.x - a.x), dy = static_cast<double>(b.y - a.y);
        const double len = std::hypot(dx, dy);
        if (len == 0) continue;
        const double ux = dx / len, uy = dy / len, head = unit * 10;
        const double bx = static_cast<double>(b.x), by = static_cast<double>(b.y);
        body += "<polygon class=\"grain-arrow\" fill=\"#000000\" points=\"" + num(bx) + "," + num(by) + " " +
                num(bx - head * ux + head * 0.4 * uy) + "," + num(by - head * uy - head * 0.4 * ux) + " " +
                num(bx - head * ux - head * 0.4 * uy) + "," + num(by - head * uy + head * 0.4 * ux) + "\"/>\n";
    }
    body += "</g>\n";
}

void Svg::notches() {
    body += "<g id=\"notches\" stroke=\"#c00000\" stroke-width=\"" + num(unit) + "\">\n";
    const std::vector<P> pts = contour(detail);
    const size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        const ModelPoint& p = m.contour[i];
        if (p.notch == reader::NotchCode::None) continue;
        double ux = 0, uy = 0;
        if (p.directed) {
            ux = p.dirX / 1000.0;
            uy = p.dirY / 1000.0;
        } else {
            // Into the piece: to the right of the clockwise contour.
            const P a = pts[(i + n - 1) % n], b = pts[(i + 1) % n];
            ux = static_cast<double>(b.y - a.y);
            uy = -static_cast<double>(b.x - a.x);
        }
        const double len = std::hypot(ux, uy);
        if (len == 0) continue;
        const double tick = unit * 12;
        const double x = static_cast<double>(pts[i].x), y = static_cast<double>(pts[i].y);
        body += "<line class=\"notch\" x1=\"" + num(x) + "\" y1=\"" + num(y) + "\" x2=\"" + num(x + tick * ux / len) +
                "\" y2=\"" + num(y + tick * uy / len) + "\"/>\n";
    }
    body += "</g>\n";
}

// One row per size drawn: a swatch of its outline's colour and its name,
// the base size marked.
std::string Svg::legend(double x, double top, double font) const {
    std::string out = "<g id=\"legend\" font-family=\"sans-serif\" font-size=\"" + num(font) + "\">\n";
    double y = top + font;
    for (int s : sizes) {
        const std::string colour = size_colour(s, static_cast<int>(m.sizes.size()), base);
        out += "<rect class=\"legend-swatch\" data-size=\"" + xml_text(name_of(s)) + "\" x=\"" + num(x) + "\" y=\"" +
               num(y - font * 0.45) + "\" width=\"" + num(font * 1.6) + "\" height=\"" +
               num(s == base ? font * 0.3 : font * 0.15) + "\" fill=\"" + colour + "\"/>\n";
        out += "<text x=\"" + num(x + font * 2) + "\" y=\"" + num(y) + "\">" + xml_text(name_of(s)) +
               (s == base ? " (Basis)" : "") + "</text>\n";
        y += font * 1.3;
    }
    return out + "</g>\n";
}

std::string make_svg(const std::string& name, const PieceModel& m, int only) {
    const int base = std::clamp<int>(m.baseSizeIndex, 0, std::max(0, static_cast<int>(m.sizes.size()) - 1));
    Svg svg{m, base, {}, 0, only >= 0, 1, {}};
    for (int s = 0; s < static_cast<int>(m.sizes.size()); ++s)
        if (only < 0 || s == only) svg.sizes.push_back(s);
    svg.detail = only < 0 ? base : only;

    Box box;
    for (int s : svg.sizes)
        for (const P& p : svg.contour(s)) box.add(p);
    for (const reader::ModelLine& line : m.lines)
        for (const ModelPoint& p : line.points) box.add(at(m, p, svg.detail));
    if (box.minX > box.maxX) box = {0, 0, 100, 100};
    const double w = static_cast<double>(box.maxX - box.minX), hgt = static_cast<double>(box.maxY - box.minY);
    const double extent = std::max({w, hgt, 100.0});
    svg.unit = extent / 400;
    const double margin = extent / 20, font = extent / 30;

    std::vector<std::string> title = {"Teil " + name + (only >= 0 ? ", Gr\x94\xe1" "e " + svg.name_of(only) : "")};
    for (const auto* t : {&m.text1, &m.text2}) {
        const std::string text = reader::field_text(*t);
        if (!text.empty()) title.push_back(text);
    }
    title.push_back(m.mirrored ? "Art: gespiegelt (Spiegellinie gestrichelt)" : "Art: geschlossen");
    std::string sizes;
    for (const reader::ModelSize& s : m.sizes) sizes += " " + reader::field_text(s.name);
    title.push_back("Gr\x94\xe1" "en:" + sizes + ", Basisgr\x94\xe1" "e " + reader::field_text(m.baseSize));
    if (only >= 0) title.push_back("gezeichnet: Gr\x94\xe1" "e " + svg.name_of(only) + " allein");

    // A graded nest gets a legend to the right of the piece, as long as the
    // piece is high (more sizes: more columns).
    const bool withLegend = svg.sizes.size() > 1;
    const double rowHeight = font * 1.3, columnWidth = font * 9;
    const auto rowsPerColumn = static_cast<size_t>(std::max(1.0, std::floor((hgt + margin) / rowHeight)));
    const size_t columns = withLegend ? (svg.sizes.size() + rowsPerColumn - 1) / rowsPerColumn : 0;

    const double x0 = static_cast<double>(box.minX) - margin, y0 = -static_cast<double>(box.maxY) - margin;
    const double vw = w + 2 * margin + columnWidth * static_cast<double>(columns);
    const double vh = hgt + 2 * margin + font * 1.5 * static_cast<double>(title.size());
    const double scale = 800 / std::max(vw, vh);

    svg.contours();
    svg.lines();
    svg.notches();

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" + num(x0) + " " + num(y0) + " " + num(vw) + " " +
           num(vh) + "\" width=\"" + num(vw * scale) + "\" height=\"" + num(vh * scale) + "\">\n";
    out += "<title>" + xml_text(title.front().substr(5)) + "</title>\n";
    out += "<g id=\"piece\" transform=\"scale(1,-1)\" fill=\"none\" stroke-linejoin=\"round\">\n" + svg.body + "</g>\n";
    out += "<g id=\"title\" font-family=\"sans-serif\" font-size=\"" + num(font) + "\">\n";
    double y = static_cast<double>(-box.minY) + margin + font;
    for (const std::string& line : title) {
        out += "<text x=\"" + num(static_cast<double>(box.minX)) + "\" y=\"" + num(y) + "\">" + xml_text(line) + "</text>\n";
        y += font * 1.5;
    }
    out += "</g>\n";
    if (withLegend) {
        // Column by column, from the top of the piece.
        const std::vector<int> all = svg.sizes;
        for (size_t c = 0; c < columns; ++c) {
            const size_t from = c * rowsPerColumn, to = std::min(all.size(), from + rowsPerColumn);
            svg.sizes.assign(all.begin() + static_cast<std::ptrdiff_t>(from), all.begin() + static_cast<std::ptrdiff_t>(to));
            out += svg.legend(static_cast<double>(box.maxX) + margin + columnWidth * static_cast<double>(c),
                              -static_cast<double>(box.maxY), font);
        }
    }
    out += "</svg>\n";
    return out;
}

bool write_out(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    platform::File f = platform::open_file(tmp, platform::OpenMode::Create);
    if (!f.is_open()) return false;
    const bool ok = platform::truncate_file(f, 0) && platform::write_all(f, text.data(), text.size()) &&
                    platform::close_file(f);
    if (!ok || platform::replace_file(tmp, path) != platform::kErrNone) {
        platform::delete_file(tmp);
        return false;
    }
    return true;
}

}  // namespace

int run_show(const writer::AreaField& area, const std::string& name, const std::string& outPath,
             const std::string& sizeName) {
    AreaModel m;
    if (!load_area(area, m)) {
        console_line("Bereich nicht lesbar: Verzeichnis " + console_text(m.dataDir) + " fehlt");
        return kExitUnreadable;
    }
    writer::PieceName wanted = writer::make_piece_name(name);
    util::KleGro(wanted.data(), static_cast<int32_t>(wanted.size()));
    const Entry* entry = nullptr;
    for (const Entry& e : m.entries)
        if (e.placeValid && e.fields.entryState == writer::kStateValid && e.fields.pieceName == wanted) entry = &e;
    if (entry == nullptr) {
        console_line("Teil " + console_text(name) + " ist nicht im Bereich.");
        return kExitProblems;
    }
    const PieceFile* file = m.file(entry->fields.fileCode);
    const auto bytes = file != nullptr ? file->image(entry->fields.slot) : std::nullopt;
    reader::PieceModel model;
    reader::ImageFault fault;
    if (!bytes || !reader::decode_piece(*bytes, nullptr, model, fault)) {
        console_line("Bild des Teils " + console_text(name) + " nicht lesbar" + (bytes ? ": " + fault.what : ""));
        return kExitProblems;
    }
    model.name = entry->fields.pieceName;
    int only = -1;
    if (!sizeName.empty()) {
        for (size_t s = 0; s < model.sizes.size(); ++s)
            if (reader::field_text(model.sizes[s].name) == sizeName) only = static_cast<int>(s);
        if (only < 0) {
            console_line("Gr\x94\xe1" "e " + console_text(sizeName) + " gibt es beim Teil " + console_text(name) + " nicht.");
            return kExitProblems;
        }
    }
    const std::string svg = make_svg(name_text(entry->fields.pieceName), model, only);
    if (outPath.empty()) {
        platform::console_write(svg);
        return kExitOk;
    }
    if (!write_out(outPath, svg)) {
        console_line("Datei " + console_text(outPath) + " kann nicht geschrieben werden.");
        return kExitUnreadable;
    }
    console_line("Gezeichnet: " + console_text(outPath));
    return kExitOk;
}

}  // namespace teilimp::area_tool
