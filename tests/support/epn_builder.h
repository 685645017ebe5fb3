// Writing EPN files for tests: a piece described field by field, turned
// into the fixed-column text that the reader expects.
//
//   EpnFile f;
//   f.name = "VORDERTEIL";
//   f.points = {perim(1, 0, 0, 1), perim(2, 0, 100), ..., inner(6, 20, 50, 'G', 'N'),
//               inner(7, 80, 50, 'G', 'O')};
//   f.sizes = {"36", "38"};
//   f.grades = {{{1, 0, 0}}, {{1, 5, -5}}};   // [size][rule]
//   write_file(path, epn_text(f));
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace teilimp::testing {

// One point line. Numbers that are nullopt leave their columns blank.
struct EpnPointLine {
    std::optional<int64_t> number;   // columns 1-5
    std::optional<int64_t> rule;     // columns 6-10 (non-blank: counts as a grade rule)
    std::string label;               // columns 11-20 (notch code in 11-12)
    int64_t x = 0;                   // columns 21-30
    int64_t y = 0;                   // columns 31-40
    bool perimeter = true;           // "PERIM" in columns 41-45
    char type = ' ';                 // column 46 ('G', 'M', ...)
    std::optional<int64_t> angle;    // columns 47-50, tenths of a degree
    char flag = ' ';                 // column 51 ('N', 'O', 'C', ...)
};

// A perimeter point, optionally with a grade rule, a notch label and an angle.
EpnPointLine perim(int64_t number, int64_t x, int64_t y, std::optional<int64_t> rule = {},
                   std::string label = {}, std::optional<int64_t> angle = {});
// An internal point with its type character and line flag.
EpnPointLine inner(int64_t number, int64_t x, int64_t y, char type = ' ', char flag = ' ',
                   std::optional<int64_t> rule = {});

// One grade line: the rule's number and its x and y value in one size.
struct EpnGrade {
    int64_t rule = 0;
    int64_t x = 0;
    int64_t y = 0;
};

struct EpnFile {
    // Header line.
    std::string name = "TEIL";
    std::string text1;
    std::string text2;
    std::string kind = "CLOSED";           // "CLOSED" or "MIRRORED"
    std::optional<int64_t> format = 3;     // columns 71-74
    // Point section.
    std::vector<EpnPointLine> points;
    bool endLine = true;                   // write the "0000000000" line
    // Trailer line.
    std::string sizeKind = "NUMERIC";
    std::string trailerText;
    std::string baseSize;
    std::optional<int64_t> sizeCount;      // default: sizes.size()
    std::vector<std::string> sizes;        // six columns each, ten per line
    std::vector<std::vector<EpnGrade>> grades;  // [size][rule], one line each
    std::string lineEnd = "\r\n";
};

// Text cut or blank-padded to exactly `width` characters.
std::string fixed(std::string_view text, size_t width);
// An integer right-aligned in `width` columns; nullopt gives blanks. A
// number wider than the field is written in full (and spills over).
std::string int_field(std::optional<int64_t> value, size_t width);

std::string epn_header_line(const EpnFile& f);
std::string epn_point_line(const EpnPointLine& p);
std::string epn_trailer_line(const EpnFile& f);
std::vector<std::string> epn_size_lines(const std::vector<std::string>& sizes);
std::string epn_grade_line(const EpnGrade& g);

// The whole file: every line followed by f.lineEnd.
std::string epn_text(const EpnFile& f);

// The worked example: a 100 x 100 square with a notched corner, a grain
// line, two sizes and one rule (image length 273).
EpnFile epn_example_square();

// A random piece: a convex clockwise contour with every notch code, with
// and without rules and angles, a grain line (along +x unless `turned`),
// maybe a mirror line, internal lines of several kinds, one to twelve
// sizes.
EpnFile random_epn(std::mt19937& rng, bool turned = false);

}  // namespace teilimp::testing
