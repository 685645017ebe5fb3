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
using reader::PointRecord;

struct P {
    int64_t x = 0;
    int64_t y = 0;
};

std::string text_of(const char* data, size_t n) {
    std::string s(data, n);
    const size_t end = s.find('\0');
    if (end != std::string::npos) s.resize(end);
    return s;
}

// Positions of points in every size: a rule point moves by its rule's
// steps from the base size; a point without rule keeps its place.
struct Grading {
    const reader::PieceImage& image;
    int base = 0;

    P offset(const PointRecord& p, int size) const {
        if (!p.rulePoint() || image.header.sizeCount < 2 || size == base) return {};
        const auto rule = std::find_if(image.rules.begin(), image.rules.end(), [&](const reader::RuleBlock& r) {
            return r.ruleNumber == static_cast<int16_t>(p.ruleNumber);
        });
        if (rule == image.rules.end()) return {};
        // Step k leads from size k to size k + 1.
        P d;
        const int from = std::min(size, base), to = std::max(size, base);
        for (int k = from; k < to && k < static_cast<int>(rule->steps.size()); ++k) {
            d.x += rule->steps[static_cast<size_t>(k)].dx;
            d.y += rule->steps[static_cast<size_t>(k)].dy;
        }
        if (size < base) d = {-d.x, -d.y};
        return d;
    }
    P at(const PointRecord& p, int size) const {
        const P d = offset(p, size);
        return {p.x + d.x, p.y + d.y};
    }
};

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

bool is_notch(const PointRecord& p) { return p.notch.notchClass != 0 || p.notch.notchKind != 0; }

struct Svg {
    const reader::PieceImage& image;
    Grading grading;
    std::vector<int> sizes;  // the sizes drawn
    int detail = 0;          // the size whose lines and notches are drawn
    double unit = 1;         // a stroke width for the base contour
    std::string body;

    std::vector<P> contour(int size) const {
        std::vector<P> pts;
        for (const PointRecord& p : image.perimeter) pts.push_back(grading.at(p, size));
        return pts;
    }
    void contours();
    void lines();
    void notches();
};

void Svg::contours() {
    body += "<g id=\"contours\">\n";
    for (int s : sizes) {
        const bool base = s == grading.base;
        const std::string name = text_of(image.sizes[static_cast<size_t>(s)].name.data(), 6);
        body += "<polygon class=\"contour" + std::string(base ? " base" : "") + "\" data-size=\"" + xml_text(name) +
                "\"" + (base ? " data-base=\"true\"" : "") + " stroke=\"" + (base ? "#000000" : "#4a78b0") +
                "\" stroke-width=\"" + num(base ? unit : unit / 2.5) + "\" points=\"" + points_attr(contour(s)) +
                "\"/>\n";
    }
    body += "</g>\n";
}

void Svg::lines() {
    body += "<g id=\"lines\">\n";
    for (const reader::ImageLine& line : image.lines) {
        std::vector<P> pts;
        for (const PointRecord& p : line.points) pts.push_back(grading.at(p, detail));
        std::string style = "stroke=\"#000000\" stroke-width=\"" + num(unit / 1.5) + "\"";
        std::string cls = "line";
        if (line.type == 'M') {
            cls = "mirror-line";
            style += " stroke-dasharray=\"" + num(unit * 8) + " " + num(unit * 4) + "\"";
        } else if (line.type == 'G') {
            cls = "grain-line";
        }
        body += "<polyline class=\"" + cls + "\" " + style + " points=\"" + points_attr(pts) + "\"/>\n";
        if (line.type != 'G' || pts.size() < 2) continue;
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
        const PointRecord& p = image.perimeter[i];
        if (!is_notch(p)) continue;
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

std::string make_svg(const std::string& name, const reader::PieceImage& image, int only) {
    const reader::ImageHeader& h = image.header;
    const int base = std::clamp<int>(h.baseSizeIndex, 0, std::max(0, static_cast<int>(image.sizes.size()) - 1));
    Svg svg{image, {image, base}, {}, 0, 1, {}};
    for (int s = 0; s < static_cast<int>(image.sizes.size()); ++s)
        if (only < 0 || s == only) svg.sizes.push_back(s);
    svg.detail = only < 0 ? svg.grading.base : only;

    Box box;
    for (int s : svg.sizes)
        for (const P& p : svg.contour(s)) box.add(p);
    for (const reader::ImageLine& line : image.lines)
        for (const PointRecord& p : line.points) box.add(svg.grading.at(p, svg.detail));
    if (box.minX > box.maxX) box = {0, 0, 100, 100};
    const double w = static_cast<double>(box.maxX - box.minX), hgt = static_cast<double>(box.maxY - box.minY);
    const double extent = std::max({w, hgt, 100.0});
    svg.unit = extent / 400;
    const double margin = extent / 20, font = extent / 30;

    std::vector<std::string> title = {"Teil " + name};
    for (const auto* t : {&h.text1, &h.text2}) {
        const std::string text = text_of(t->data(), t->size());
        if (!text.empty()) title.push_back(text);
    }
    title.push_back(h.pieceKind == 2 ? "Art: gespiegelt (Spiegellinie gestrichelt)" : "Art: geschlossen");
    std::string sizes;
    for (const reader::SizeEntry& s : image.sizes) sizes += " " + text_of(s.name.data(), 6);
    title.push_back("Gr\x94\xe1" "en:" + sizes + ", Basisgr\x94\xe1" "e " + text_of(h.baseSize.data(), 6));
    if (only >= 0) title.push_back("gezeichnet: Gr\x94\xe1" "e " + text_of(image.sizes[static_cast<size_t>(only)].name.data(), 6));

    const double x0 = static_cast<double>(box.minX) - margin, y0 = -static_cast<double>(box.maxY) - margin;
    const double vw = w + 2 * margin, vh = hgt + 2 * margin + font * 1.5 * static_cast<double>(title.size());
    const double scale = 800 / std::max(vw, vh);

    svg.contours();
    svg.lines();
    svg.notches();

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" + num(x0) + " " + num(y0) + " " + num(vw) + " " +
           num(vh) + "\" width=\"" + num(vw * scale) + "\" height=\"" + num(vh * scale) + "\">\n";
    out += "<title>" + xml_text(name) + "</title>\n";
    out += "<g id=\"piece\" transform=\"scale(1,-1)\" fill=\"none\" stroke-linejoin=\"round\">\n" + svg.body + "</g>\n";
    out += "<g id=\"title\" font-family=\"sans-serif\" font-size=\"" + num(font) + "\">\n";
    double y = static_cast<double>(-box.minY) + margin + font;
    for (const std::string& line : title) {
        out += "<text x=\"" + num(static_cast<double>(box.minX)) + "\" y=\"" + num(y) + "\">" + xml_text(line) + "</text>\n";
        y += font * 1.5;
    }
    out += "</g>\n</svg>\n";
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
    if (!load_area(area, m)) return unreadable(m);
    // As list shows it: a NUL inside the name typed as \0.
    writer::PieceName wanted = name_from_shown(name);
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
    reader::PieceImage image;
    reader::ImageFault fault;
    if (!bytes || !reader::decode_image(*bytes, image, fault)) {
        console_line("Bild des Teils " + console_text(name) + " nicht lesbar" + (bytes ? ": " + fault.what : ""));
        return kExitProblems;
    }
    int only = -1;
    if (!sizeName.empty()) {
        for (size_t s = 0; s < image.sizes.size(); ++s)
            if (text_of(image.sizes[s].name.data(), 6) == sizeName) only = static_cast<int>(s);
        if (only < 0) {
            console_line("Gr\x94\xe1" "e " + console_text(sizeName) + " gibt es beim Teil " + console_text(name) + " nicht.");
            return kExitProblems;
        }
    }
    const std::string svg = make_svg(name_text(entry->fields.pieceName), image, only);
    if (outPath.empty()) {
        platform::console_write(svg);
        return kExitOk;
    }
    if (!write_out(outPath, svg)) {
        platform::console_name_line("Datei ", outPath + " kann nicht geschrieben werden.");
        return kExitUnreadable;
    }
    platform::console_name_line("Gezeichnet: ", outPath);
    return kExitOk;
}

}  // namespace teilimp::area_tool
