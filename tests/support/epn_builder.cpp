#include "support/epn_builder.h"

#include <cmath>

namespace teilimp::testing {

EpnPointLine perim(int64_t number, int64_t x, int64_t y, std::optional<int64_t> rule,
                   std::string label, std::optional<int64_t> angle) {
    EpnPointLine p;
    p.number = number;
    p.rule = rule;
    p.label = std::move(label);
    p.x = x;
    p.y = y;
    p.angle = angle;
    return p;
}

EpnPointLine inner(int64_t number, int64_t x, int64_t y, char type, char flag,
                   std::optional<int64_t> rule) {
    EpnPointLine p;
    p.number = number;
    p.rule = rule;
    p.x = x;
    p.y = y;
    p.perimeter = false;
    p.type = type;
    p.flag = flag;
    return p;
}

std::string fixed(std::string_view text, size_t width) {
    std::string s(text.substr(0, width));
    s.resize(width, ' ');
    return s;
}

std::string int_field(std::optional<int64_t> value, size_t width) {
    if (!value) return std::string(width, ' ');
    std::string digits = std::to_string(*value);
    if (digits.size() >= width) return digits;
    return std::string(width - digits.size(), ' ') + digits;
}

std::string epn_header_line(const EpnFile& f) {
    return fixed(f.name, 20) + fixed(f.text1, 20) + fixed(f.text2, 20) + fixed(f.kind, 10) +
           int_field(f.format, 4) + int_field(0, 3) + int_field(0, 2);
}

std::string epn_point_line(const EpnPointLine& p) {
    std::string s = int_field(p.number, 5) + int_field(p.rule, 5) + fixed(p.label, 10) +
                    int_field(p.x, 10) + int_field(p.y, 10) +
                    (p.perimeter ? std::string("PERIM") : std::string(5, ' '));
    s += p.type;
    s += int_field(p.angle, 4);
    s += p.flag;
    // Trailing blanks are left off, as editors do.
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::string epn_trailer_line(const EpnFile& f) {
    const int64_t count = f.sizeCount ? *f.sizeCount : static_cast<int64_t>(f.sizes.size());
    return fixed(f.sizeKind, 10) + fixed(f.trailerText, 20) + fixed(f.baseSize, 6) +
           std::string(14, ' ') + int_field(count, 6);
}

std::vector<std::string> epn_size_lines(const std::vector<std::string>& sizes) {
    std::vector<std::string> lines;
    for (size_t k = 0; k < sizes.size(); ++k) {
        if (k % 10 == 0) lines.emplace_back();
        lines.back() += fixed(sizes[k], 6);
    }
    return lines;
}

std::string epn_grade_line(const EpnGrade& g) {
    return int_field(0, 5) + int_field(g.rule, 5) + std::string(10, ' ') + int_field(g.x, 10) +
           int_field(g.y, 10);
}

std::string epn_text(const EpnFile& f) {
    std::string out;
    auto add = [&](const std::string& line) { out += line + f.lineEnd; };
    add(epn_header_line(f));
    for (const EpnPointLine& p : f.points) add(epn_point_line(p));
    if (f.endLine) add("0000000000");
    add(epn_trailer_line(f));
    for (const std::string& line : epn_size_lines(f.sizes)) add(line);
    for (const auto& size : f.grades)
        for (const EpnGrade& g : size) add(epn_grade_line(g));
    return out;
}

EpnFile epn_example_square() {
    EpnFile f;
    f.name = "QUADRAT";
    f.points = {perim(1, 0, 0, 1),          perim(2, 0, 100),
                perim(3, 100, 100, {}, "N1", 0), perim(4, 100, 0),
                perim(5, 0, 0),             inner(6, 20, 50, 'G', 'N'),
                inner(7, 80, 50, 'G', 'O')};
    f.sizes = {"36", "38"};
    f.baseSize = "38";
    f.grades = {{{1, 0, 0}}, {{1, 5, -5}}};
    return f;
}

EpnFile random_epn(std::mt19937& rng, bool turned) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* labels[] = {"", "N1", "N2", "N ", "NL", "NK", "1 ", "2 ", "n1", "X"};
    EpnFile f;
    f.name = "GEN" + std::to_string(pick(1000));
    f.text1 = "Text eins";
    f.kind = pick(2) ? "CLOSED" : "MIRRORED";
    const int n = 3 + pick(20);
    int rule = 0;
    for (int k = 0; k < n; ++k) {
        // A convex polygon, clockwise, so the reader keeps its order.
        const double a = -6.283185 * k / n;
        const auto x = static_cast<int64_t>(1000 * std::cos(a)), y = static_cast<int64_t>(1000 * std::sin(a));
        std::optional<int64_t> r;
        if (pick(2)) r = ++rule;
        std::optional<int64_t> angle;
        if (pick(2)) angle = pick(3600);
        f.points.push_back(perim(k + 1, x, y, r, labels[pick(10)], angle));
    }
    if (turned) {
        // A grain line in any direction: the piece is turned onto it.
        f.points.push_back(inner(100, pick(600) - 300, pick(600) - 300, 'G', 'N'));
        f.points.push_back(inner(101, pick(600) - 300, pick(600) - 300, 'G', 'O'));
    } else {
        f.points.push_back(inner(100, -300, 0, 'G', 'N'));
        f.points.push_back(inner(101, 300, 0, 'G', 'O'));
    }
    if (pick(2)) {
        f.points.push_back(inner(102, 0, -500, 'M', 'N'));
        f.points.push_back(inner(103, 0, 500, 'M', 'O'));
    }
    for (int line = 0, lines = pick(3); line < lines; ++line) {
        for (int k = 0, m = 1 + pick(4); k < m; ++k) {
            std::optional<int64_t> r;
            if (pick(2)) r = ++rule;
            EpnPointLine p = inner(200 + 10 * line + k, pick(400), pick(400), ' ', k + 1 < m ? 'N' : 'O', r);
            p.label = labels[pick(10)];
            f.points.push_back(p);
        }
    }
    const int sizes = 1 + pick(12);
    for (int s = 0; s < sizes; ++s) f.sizes.push_back(std::to_string(34 + 2 * s));
    f.baseSize = f.sizes[static_cast<size_t>(pick(sizes))];
    f.grades.resize(static_cast<size_t>(sizes));
    for (int s = 0; s < sizes; ++s)
        for (int r = 1; r <= rule; ++r) f.grades[static_cast<size_t>(s)].push_back({r, s * pick(30), -s * pick(30)});
    return f;
}

}  // namespace teilimp::testing
