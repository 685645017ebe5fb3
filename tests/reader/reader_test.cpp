#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "support/epn_builder.h"
#include "support/test_util.h"

namespace teilimp::reader {
namespace {

using testing::EpnFile;
using testing::EpnGrade;
using testing::inner;
using testing::perim;

struct Result {
    EpnStatus status = EpnStatus::Ok;
    int32_t reversed = -1;
    int32_t rotated = -1;
    Piece piece;

    int32_t i16(size_t at) const {
        return static_cast<int16_t>(piece.image.at(at) | piece.image.at(at + 1) << 8);
    }
    int32_t i32(size_t at) const {
        const auto& b = piece.image;
        return static_cast<int32_t>(b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
                                    static_cast<uint32_t>(b.at(at + 3)) << 24);
    }
    std::string text(size_t at, size_t n) const {
        return {reinterpret_cast<const char*>(piece.image.data()) + at, n};
    }
    std::vector<uint8_t> bytes(size_t at, size_t n) const {
        return {piece.image.begin() + at, piece.image.begin() + at + n};
    }
};

Result parse(const std::string& text) {
    Result r;
    r.status = epn_parse({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, r.reversed,
                         r.rotated, r.piece);
    return r;
}
Result parse(const EpnFile& f) { return parse(testing::epn_text(f)); }

using Bytes = std::vector<uint8_t>;

TEST(Reader, WorkedExample) {
    EpnFile f = testing::epn_example_square();
    f.name = "Vorderteil";
    f.text1 = "Größe";
    f.trailerText = "Sommer ä";
    const Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.reversed, 0);
    EXPECT_EQ(r.rotated, 0);
    ASSERT_EQ(r.piece.imageLength(), 273);
    EXPECT_EQ(std::string(r.piece.pieceName.data(), 20), std::string("VORDERTEIL") + std::string(10, '\0'));

    // Piece header. Upper-casing follows code page 1252 byte by byte; the
    // source holds UTF-8, whose bytes pass through like any others.
    const std::string text1 = "GR\xC3\xB6\xC3\x9F" "E";
    EXPECT_EQ(r.text(0, 20), text1 + std::string(20 - text1.size(), '\0'));
    EXPECT_EQ(r.text(20, 20), std::string(20, '\0'));
    EXPECT_EQ(r.piece.image[40], 0);     // closed
    EXPECT_EQ(r.piece.image[41], 'E');   // eighth character of the name
    EXPECT_EQ(r.i16(42), 2);             // sizes
    EXPECT_EQ(r.i16(44), 0);             // last step index
    EXPECT_EQ(r.text(46, 8), std::string("38\0\0\0\0\0\0", 8));
    EXPECT_EQ(r.i16(54), 1);             // base size index
    EXPECT_EQ(r.bytes(56, 3), (Bytes{0, 0, 0}));  // numeric size names
    EXPECT_EQ(r.text(59, 20), std::string("Sommer \xC3\xA4") + std::string(11, '\0'));
    EXPECT_EQ(r.piece.image[79], 'B');
    EXPECT_EQ(r.i16(80), 1);             // rules
    EXPECT_EQ(r.i16(82), 0);
    EXPECT_EQ(r.i16(84), 5);             // perimeter points
    EXPECT_EQ(r.i16(86), 1);             // lines
    EXPECT_EQ(r.i16(88), 1);
    EXPECT_EQ(r.text(90, 8), std::string("38\0\0\0\0\0\0", 8));

    // Size table and the rule block.
    EXPECT_EQ(r.bytes(98, 20), (Bytes{'3', '6', 0, 0, 0, 0, 0, 0, 0, 0,
                                      '3', '8', 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.i16(118), 1);
    EXPECT_EQ(r.bytes(120, 24), Bytes(24, 0));
    EXPECT_EQ(r.i32(144), 50);
    EXPECT_EQ(r.i32(148), -50);

    // Perimeter section: 20 + 14 + 15 + 14 + 14 bytes.
    EXPECT_EQ(r.bytes(152, 20), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.bytes(172, 14), (Bytes{2, 0, 0, 0, 0, 0, 0xE8, 3, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(r.bytes(186, 15), (Bytes{3, 0, 0xE8, 3, 0, 0, 0xE8, 3, 0, 0, 1, 1, 1, 0, 9}));
    EXPECT_EQ(r.bytes(201, 14), (Bytes{4, 0, 0xE8, 3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(r.bytes(215, 14), (Bytes{5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));

    // Line section: one grain line of two points, then six zero bytes.
    EXPECT_EQ(r.bytes(229, 10), (Bytes{0, 0, 'G', 0, 2, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.bytes(239, 14), (Bytes{6, 0, 200, 0, 0, 0, 0xF4, 1, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(r.bytes(253, 14), (Bytes{7, 0, 0x20, 3, 0, 0, 0xF4, 1, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(r.bytes(267, 6), Bytes(6, 0));
}

TEST(Reader, LineEndsDoNotMatter) {
    EpnFile f = testing::epn_example_square();
    const Result crlf = parse(f);
    f.lineEnd = "\n";
    const Result lf = parse(f);
    std::string noFinalEnd = testing::epn_text(f);
    noFinalEnd.pop_back();
    ASSERT_EQ(crlf.status, EpnStatus::Ok);
    EXPECT_EQ(crlf.piece.image, lf.piece.image);
    EXPECT_EQ(crlf.piece.image, parse(noFinalEnd).piece.image);
    EXPECT_EQ(crlf.piece.image, parse(testing::epn_text(f) + "trailing junk\n\x1a").piece.image);
}

EpnFile two_size_piece() {
    EpnFile f;
    f.points = {perim(1, 0, 0), perim(2, 0, 100, 4), perim(3, 100, 100), perim(4, 100, 0)};
    f.sizes = {"S", "M"};
    f.sizeKind = "LETTERS";
    f.grades = {{{4, 1, 2}}, {{4, 3, 5}}};
    return f;
}

TEST(Reader, SmallestPieceWithOneRule) {
    const Result r = parse(two_size_piece());
    ASSERT_EQ(r.status, EpnStatus::Ok);
    ASSERT_EQ(r.piece.imageLength(), 220);
    EXPECT_EQ(r.piece.image[56], 1);  // size names are not numeric
    EXPECT_EQ(r.piece.image[98 + 8], 0);
    EXPECT_EQ(r.piece.image[108 + 8], 0);
    EXPECT_EQ(r.i16(54), 0);          // blank base size matches nothing
    EXPECT_EQ(r.i16(118), 4);
    EXPECT_EQ(r.i32(144), 20);
    EXPECT_EQ(r.i32(148), 30);
    EXPECT_EQ(r.i32(152 + 14 + 14), 4);  // the rule point's rule number
    EXPECT_EQ(r.i16(86), 0);
}

TEST(Reader, StepsForOneAndForFiveSizes) {
    EpnFile f = two_size_piece();
    f.sizes = {"M"};
    f.grades = {{{4, -3, 7}}};
    Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.i16(44), 0);
    EXPECT_EQ(r.piece.image[98 + 8], 0);
    EXPECT_EQ(r.i32(108 + 26), -30);
    EXPECT_EQ(r.i32(108 + 30), 70);

    f.sizes = {"XS", "S", "M", "L", "XL"};
    f.baseSize = "M";
    f.grades = {{{4, 0, 0}}, {{9, 1, 1}}, {{9, 3, 0}}, {{9, 6, -2}}, {{9, 10, -2}}};
    r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.i16(44), 3);
    EXPECT_EQ(r.i16(54), 2);
    const int inner[] = {0, 1, 1, 1, 0};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(r.piece.image[98 + 10 * k + 8], inner[k]);
    const size_t block = 98 + 50;
    EXPECT_EQ(r.i16(block), 4);  // the rule number of size 1
    const int32_t steps[][2] = {{10, 10}, {20, -10}, {30, -20}, {40, 0}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(r.i32(block + 26 + 8 * k), steps[k][0]);
        EXPECT_EQ(r.i32(block + 30 + 8 * k), steps[k][1]);
    }
    EXPECT_EQ(r.piece.imageLength(), 98 + 50 + 26 + 32 + 62 + 6);
}

TEST(Reader, TwentyFiveSizesFillThreeLines) {
    EpnFile f = two_size_piece();
    f.sizes.clear();
    f.grades.clear();
    for (int k = 0; k < 25; ++k) {
        f.sizes.push_back(std::to_string(100 + k));
        f.grades.push_back({{4, k, 0}});
    }
    f.baseSize = "124";
    const std::string text = testing::epn_text(f);
    const Result r = parse(text);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.i16(54), 24);
    EXPECT_EQ(r.text(98 + 10 * 24, 6), std::string("124\0\0\0", 6));
    EXPECT_EQ(r.i32(98 + 250 + 26 + 8 * 22), 10);
}

// A file that ends before its last size name or grade line is refused as
// incomplete, also when its trailer claims far more sizes than it holds
// (before the image is allocated). A blank grade line reads zeros; a blank
// base size is none of the sizes.
TEST(Reader, MissingSizeNamesOrGradeLinesAreRefused) {
    EpnFile f = two_size_piece();
    std::string text = testing::epn_text(f);
    text.resize(text.rfind('\n', text.size() - 3) + 1);  // without the last grade line
    const Result blank = parse(text + "\n");
    ASSERT_EQ(blank.status, EpnStatus::Ok);
    EXPECT_EQ(blank.i32(144), -10);
    EXPECT_EQ(blank.piece.baseSizeLine, 7);
    for (const Result& r : {parse(text), (f.sizeCount = 30000, parse(f))}) {
        EXPECT_EQ(r.status, EpnStatus::BadHeaderOrTrailer);
        EXPECT_TRUE(r.piece.incomplete);
    }
    EXPECT_FALSE(parse(std::string()).piece.incomplete);
}

TEST(Reader, HeaderAndTrailerFaults) {
    EXPECT_EQ(parse(std::string()).status, EpnStatus::BadHeaderOrTrailer);
    EpnFile f = testing::epn_example_square();
    f.kind = "closed";
    EXPECT_EQ(parse(f).status, EpnStatus::BadPieceKind);
    f.kind = "MIRRORED";
    EXPECT_EQ(parse(f).status, EpnStatus::Ok);
    f.format = std::nullopt;  // blank: format 0
    EXPECT_EQ(parse(f).status, EpnStatus::BadHeaderOrTrailer);
    f.kind = "closed";        // the format is tested first
    EXPECT_EQ(parse(f).status, EpnStatus::BadHeaderOrTrailer);

    std::string header = testing::epn_header_line(testing::epn_example_square());
    std::string rest = testing::epn_text(testing::epn_example_square()).substr(header.size());
    header[76] = 'x';  // columns 75-79 must be integers
    EXPECT_EQ(parse(header + rest).status, EpnStatus::BadHeaderOrTrailer);

    f = testing::epn_example_square();
    f.endLine = false;  // the trailer is taken as a point: its letters are no number
    EXPECT_EQ(parse(f).status, EpnStatus::UnreadableNumber);
    std::string points = testing::epn_text(f);
    points.resize(points.find("NUMERIC"));  // the file ends after its points
    const Result cut = parse(points);
    EXPECT_EQ(cut.status, EpnStatus::BadHeaderOrTrailer);
    EXPECT_FALSE(cut.piece.incomplete);

    std::string text = testing::epn_text(testing::epn_example_square());
    const size_t trailer = text.find("0000000000\r\n") + 12;
    text[trailer + 52] = 'a';  // size count unreadable
    EXPECT_EQ(parse(text).status, EpnStatus::BadHeaderOrTrailer);
}

TEST(Reader, PointLineColumns) {
    EpnFile f = two_size_piece();
    // "PERIM" one column late makes an internal point, which ends a line.
    std::string shifted = testing::fixed(testing::epn_point_line(inner(9, 5, 5)), 46);
    shifted.replace(41, 5, "PERIM");
    // A rule field "    0" counts as a rule but makes no rule point; a
    // number field " 1 2 " reads 12.
    EpnFile g = f;
    g.points.push_back(perim(0, 1, 1, 0));
    g.points.back().number.reset();
    g.grades = {{{4, 1, 2}, {0, 0, 0}}, {{4, 3, 5}, {0, 0, 0}}};
    std::string text = testing::epn_text(g);
    const size_t end = text.find("0000000000");
    text.insert(end, shifted + "\r\n" + " 1 2 \r\n");
    const Result r = parse(text);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.i16(80), 2);   // rules
    EXPECT_EQ(r.i16(84), 5);   // perimeter points
    EXPECT_EQ(r.i16(86), 2);   // lines
    const size_t perimeter = 98 + 20 + 2 * 34;
    const size_t fifth = perimeter + 14 + 20 + 14 + 14;
    EXPECT_EQ(r.i16(fifth), -1);
    EXPECT_EQ(r.piece.image[fifth + 10], 1);   // a plain record
    const size_t lines = fifth + 14;
    EXPECT_EQ(r.i16(lines + 10), 9);
    EXPECT_EQ(r.i16(lines + 24 + 10), 12);     // blank line-type point at (0, 0)
    EXPECT_EQ(r.piece.image[lines + 24 + 2], ' ');
    EXPECT_EQ(r.piece.imageLength(), static_cast<int32_t>(lines + 48 + 6));
}

// An angle that is no number means no direction, as a blank one does.
TEST(Reader, UnreadableAngleMeansNoDirection) {
    EpnFile f = two_size_piece();
    f.points[1] = perim(2, 0, 100, 4, "N1", 900);  // a rule point keeps its direction
    std::string text = testing::epn_text(f);
    const Result with = parse(text);
    text.replace(text.find(" 900"), 4, " 9x0");
    const Result without = parse(text);
    ASSERT_EQ(with.status, EpnStatus::Ok);
    ASSERT_EQ(without.status, EpnStatus::Ok);
    f.points[1].angle.reset();
    EXPECT_EQ(without.piece.image, parse(f).piece.image);
    EXPECT_NE(without.piece.image, with.piece.image);
}

TEST(Reader, NameIsUpperCasedAndNulPadded) {
    EpnFile f = two_size_piece();
    f.name = "r\xE4k";  // code page 1252: ä
    const Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(std::string(r.piece.pieceName.data(), 20), std::string("R\xC4K") + std::string(17, '\0'));
    EXPECT_EQ(r.piece.image[41], 0);
}

// A piece without a name is refused at its header: blank, NUL or a mix to
// the end of the field. A name that begins with blanks is a name.
TEST(Reader, PieceWithoutANameIsRefused) {
    for (const std::string& name : {std::string(), std::string(20, ' '), std::string(20, '\0'),
                                    std::string("  \0\0 ") + std::string(15, '\0')}) {
        EpnFile f = two_size_piece();
        f.name = name;
        const Result r = parse(f);
        EXPECT_EQ(r.status, EpnStatus::NoName);
        EXPECT_EQ(r.piece.stopLine, 1);
        EXPECT_TRUE(r.piece.image.empty());
    }
    EpnFile f = two_size_piece();
    f.name = "   X";
    const Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(std::string(r.piece.pieceName.data(), 4), "   X");
}

TEST(Reader, UnclosedLastLineIsDropped) {
    EpnFile f = two_size_piece();
    f.points.push_back(inner(5, 1, 1, ' ', 'C'));
    f.points.push_back(inner(6, 1, 1, ' ', 'N'));
    const Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.i16(86), 1);
    EXPECT_EQ(r.bytes(214, 10), (Bytes{0, 0, ' ', 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.piece.image[214 + 10 + 10], 2);  // "C" on a plain point
    EXPECT_EQ(r.piece.imageLength(), 220 + 24);
}

TEST(Reader, CounterClockwiseContourIsReversed) {
    // A closed contour (last point = first) run the other way round comes
    // out exactly as the clockwise one.
    EpnFile f = testing::epn_example_square();
    std::swap(f.points[1], f.points[3]);
    const Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.reversed, 1);
    EXPECT_EQ(parse(testing::epn_example_square()).piece.image, r.piece.image);

    // Only the points between the first and the last change places.
    f = two_size_piece();
    std::swap(f.points[1], f.points[3]);  // 1, 4, 3, 2 -> 1, 3, 4, 2
    const Result open = parse(f);
    ASSERT_EQ(open.status, EpnStatus::Ok);
    EXPECT_EQ(open.reversed, 1);
    const size_t p = 118 + 34;
    EXPECT_EQ(open.i16(p), 1);
    EXPECT_EQ(open.i16(p + 14), 3);
    EXPECT_EQ(open.i16(p + 28), 4);
    EXPECT_EQ(open.i16(p + 42), 2);
}

TEST(Reader, PieceIsTurnedOntoItsGrainLine) {
    // Grain line along +y: a turn by 90 degrees clockwise.
    EpnFile f = two_size_piece();
    f.points = {perim(1, 0, 0),           perim(2, 0, 100, 3, "N1", 0),
                perim(3, 100, 100, 3, "1 ", 0), perim(4, 100, 0),
                inner(5, 0, 0, 'G', 'N'), inner(6, 0, 100, 'G', 'O')};
    f.grades = {{{3, 0, 0}, {3, 0, 0}}, {{3, 2, 5}, {3, 2, 5}}};
    Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.rotated, 1);
    EXPECT_EQ(r.reversed, 0);
    const size_t blocks = 98 + 20;
    EXPECT_EQ(r.i32(blocks + 26), 50);   // (20, 50) turned: (50, -20)
    EXPECT_EQ(r.i32(blocks + 30), -20);
    const size_t p2 = blocks + 2 * 34 + 14;
    EXPECT_EQ(r.i32(p2 + 2), 1000);
    EXPECT_EQ(r.i32(p2 + 6), 0);
    EXPECT_EQ(r.i32(p2 + 14), 0);        // N1 direction (1, 0) turned to (0, -1)
    EXPECT_EQ(r.i32(p2 + 18), -1000);
    const size_t p3 = p2 + 29;
    EXPECT_EQ(r.piece.image[p3 + 11], 9);
    EXPECT_EQ(r.i32(p3 + 14), 1000);     // "1 " keeps its direction
    EXPECT_EQ(r.i32(p3 + 18), 0);

    // At 45 degrees a coordinate rounds, a grade value truncates.
    f.points = {perim(1, 90, 0, 3), inner(2, 0, 0, 'G', 'N'), inner(3, 10, 10, 'G', 'O')};
    f.grades = {{{3, 9, 0}}};
    f.sizes = {"M"};
    r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.i32(108 + 26), 63);      // 90 -> 63.64 truncated
    EXPECT_EQ(r.i32(108 + 30), -63);
    EXPECT_EQ(r.i32(142 + 2), 636);      // 900 -> 636.396 rounded
    f.points[0].x = 9;
    f.grades = {{{3, 7, 1}}};            // 70, 10 -> 56.57, -42.43
    r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.i32(108 + 26), 56);
    EXPECT_EQ(r.i32(108 + 30), -42);
    EXPECT_EQ(r.i32(142 + 2), 64);       // 90 -> 63.64 rounds to 64
    EXPECT_EQ(r.i32(142 + 6), -64);
}

TEST(Reader, MirrorLineInFrontOfTheGrainLineGoesBehindIt) {
    EpnFile f = two_size_piece();
    f.kind = "MIRRORED";
    f.points.push_back(inner(5, 0, 0, 'M', 'N'));
    f.points.push_back(inner(6, 0, 100, 'M', 'O'));
    f.points.push_back(inner(7, 10, 50, 'G', 'N'));
    f.points.push_back(inner(8, 90, 50, 'G', 'O'));
    const Result r = parse(f);
    ASSERT_EQ(r.status, EpnStatus::Ok);
    EXPECT_EQ(r.piece.image[40], 2);
    EXPECT_EQ(r.bytes(214, 4), (Bytes{0, 0, 'G', 0}));
    EXPECT_EQ(r.i16(224), 7);
    EXPECT_EQ(r.bytes(252, 4), (Bytes{1, 0, 'M', 0}));
    EXPECT_EQ(r.i16(262), 5);
}

// Files that break the limits of the image are refused with status 11.
TEST(ReaderLimits, CountsAndCoordinates) {
    EpnFile f = two_size_piece();
    f.sizeCount = 0;
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
    f.sizeCount = 32768;
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
    f.sizes.assign(32767, "M");
    f.grades.assign(32767, {{4, 1, 2}});
    f.sizeCount.reset();
    EXPECT_EQ(parse(f).status, EpnStatus::Ok);

    f = two_size_piece();
    f.points[2].x = 214748364;
    f.points[3].y = -214748364;
    EXPECT_EQ(parse(f).status, EpnStatus::Ok);
    f.points[2].x = 214748365;
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
    f.points[2].x = 0;
    f.grades[1][0].y = -214748365;
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
    f.grades[1][0].y = 214748364;
    f.grades[0][0].y = -214748364;  // the step does not fit
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);

    f = two_size_piece();  // turned at 45 degrees, a corner leaves the range
    f.points = {perim(1, 214748364, 214748364), inner(2, 0, 0, 'G', 'N'), inner(3, 1, 1, 'G', 'O')};
    f.grades = {};
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
}

TEST(ReaderLimits, TableSizes) {
    EpnFile f = two_size_piece();
    f.grades = {};
    f.points.clear();
    for (int i = 0; i < 10000; ++i) f.points.push_back(perim(1, i, 0));
    EXPECT_EQ(parse(f).status, EpnStatus::Ok);
    f.points.push_back(perim(1, 0, 0));
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
    f.points.clear();
    for (int i = 0; i < 20001; ++i) f.points.push_back(inner(1, i, 0));
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
    f.points.pop_back();
    EXPECT_EQ(parse(f).status, EpnStatus::Ok);
}

TEST(ReaderLimits, RuleCountAndImageSize) {
    // Every point of full tables may carry a rule: 30000 rules fit in 16 bits.
    EpnFile full = two_size_piece();
    full.points.clear();
    full.grades.clear();
    for (int i = 0; i < 10000; ++i) full.points.push_back(perim(i + 1, 0, 0, i + 1));
    for (int i = 0; i < 20000; ++i) full.points.push_back(inner(i + 1, 0, 0, ' ', ' ', i + 1));
    full.grades.resize(2);
    for (auto& size : full.grades)
        for (int i = 0; i < 30000; ++i) size.push_back({i + 1, 0, 0});
    const Result all = parse(full);
    ASSERT_EQ(all.status, EpnStatus::Ok);
    EXPECT_EQ(all.i16(80), 30000);

    // 1100 rules in 32767 sizes would need about 288 MB: refused before
    // anything that large is allocated; 1000 rules (262 MB) would fit, and
    // this file then lacks its size names.
    EpnFile f;
    f.sizeCount = 32767;
    for (int i = 0; i < 1100; ++i) f.points.push_back(inner(i, 0, 0, ' ', ' ', i));
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
    f.points.resize(1000);
    const Result r = parse(f);
    EXPECT_EQ(r.status, EpnStatus::BadHeaderOrTrailer);
    EXPECT_TRUE(r.piece.incomplete);
}

TEST(ReaderLimits, FirstFaultInFileOrderDecides) {
    // An out-of-range point comes before the bad trailer.
    EpnFile f = two_size_piece();
    f.points[1].y = 300000000;
    f.endLine = false;
    EXPECT_EQ(parse(f).status, EpnStatus::OutOfLimits);
}

// The line at which reading stopped, for reports that point the user to it.
TEST(Reader, StopLineNamesTheLastLineRead) {
    EpnFile f = testing::epn_example_square();
    const std::string text = testing::epn_text(f);
    const auto lines = static_cast<int32_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(parse(text).piece.stopLine, lines);
    // Lines after the last grade line are not read.
    EXPECT_EQ(parse(text + "junk\r\nmore junk\r\n").piece.stopLine, lines);
    EXPECT_EQ(parse(std::string()).piece.stopLine, 0);

    // A point out of range on the third line.
    f.points[1].y = 300000000;
    Result r = parse(f);
    EXPECT_EQ(r.status, EpnStatus::OutOfLimits);
    EXPECT_EQ(r.piece.stopLine, 3);

    // The trailer's size count unreadable: the trailer is the line after
    // the end line.
    std::string bad = text;
    const size_t endLine = bad.find("0000000000\r\n");
    const auto trailerLine = static_cast<int32_t>(std::count(bad.begin(), bad.begin() + endLine, '\n')) + 2;
    bad[endLine + 12 + 52] = 'a';
    r = parse(bad);
    EXPECT_EQ(r.status, EpnStatus::BadHeaderOrTrailer);
    EXPECT_EQ(r.piece.stopLine, trailerLine);
}

TEST(ReaderFile, ReadsFromDiskAndRetriesOnce) {
    testing::TempDir dir;
    const std::string path = dir / "teil.epn";
    testing::write_file(path, testing::epn_text(testing::epn_example_square()));
    Piece piece;
    int32_t reversed = 7, rotated = 7;
    std::string field = path + std::string(20, ' ');
    EXPECT_EQ(epn_read(field.data(), static_cast<int32_t>(path.size()), reversed, rotated, piece), EpnStatus::Ok);
    EXPECT_EQ(piece.imageLength(), 273);
    EXPECT_EQ(reversed, 0);
    EXPECT_EQ(rotated, 0);

    platform::test::set_sleep_scale(0);
    const std::string missing = dir / "fehlt.epn";
    EXPECT_EQ(epn_read(missing.data(), static_cast<int32_t>(missing.size()), reversed, rotated,
                       piece),
              EpnStatus::CannotOpen);
    EXPECT_EQ(piece.imageLength(), 0);
    EXPECT_EQ(piece.stopLine, 0);
    EXPECT_EQ(epn_read(path.data(), -5, reversed, rotated, piece), EpnStatus::CannotOpen);
    platform::test::set_sleep_scale(1);
}

}  // namespace
}  // namespace teilimp::reader
