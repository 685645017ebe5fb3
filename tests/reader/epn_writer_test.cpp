// The EPN export: what it writes imports again to within half a unit, and
// is its own fixed point; a piece of whole units comes back as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "reader/epn_reader.h"
#include "reader/epn_writer.h"
#include "support/epn_builder.h"
#include "support/test_util.h"

namespace teilimp::reader {
namespace {

struct Read {
    EpnStatus status = EpnStatus::Ok;
    int32_t reversed = 0, rotated = 0;
    Piece piece;
};

Read import(const std::string& text) {
    Read r;
    r.status = epn_parse({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, r.reversed, r.rotated, r.piece);
    return r;
}

// Exports the piece, imports the file and exports again: the two files are
// the same, the second import neither turns nor reverses, and every point
// and grade value is within half a unit (5 tenths) of the first piece.
void expect_fixed_point(const Read& first, const std::string& what) {
    ASSERT_EQ(first.status, EpnStatus::Ok) << what;
    const std::string text = write_epn(first.piece.model);
    const Read again = import(text);
    ASSERT_EQ(again.status, EpnStatus::Ok) << what << "\n" << text;
    EXPECT_EQ(write_epn(again.piece.model), text) << what;
    EXPECT_EQ(again.reversed + again.rotated, 0) << what;
    const PieceModel& a = first.piece.model;
    const PieceModel& b = again.piece.model;
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.sizes, a.sizes) << what;
    ASSERT_EQ(b.contour.size(), a.contour.size()) << what;
    ASSERT_EQ(b.lines.size(), a.lines.size()) << what;
    ASSERT_EQ(b.rules.size(), a.rules.size()) << what;
    auto near = [&](const ModelPoint& p, const ModelPoint& q) {
        EXPECT_LE(std::abs(p.x - q.x), 5) << what;
        EXPECT_LE(std::abs(p.y - q.y), 5) << what;
        EXPECT_EQ(p.rule, q.rule) << what;
        EXPECT_EQ(p.notch, q.notch) << what;
        EXPECT_EQ(p.cMark, q.cMark) << what;
        EXPECT_EQ(p.directed, q.directed) << what;
        EXPECT_LE(std::abs(p.dirX - q.dirX) + std::abs(p.dirY - q.dirY), 2) << what;
    };
    for (size_t i = 0; i < a.contour.size(); ++i) near(a.contour[i], b.contour[i]);
    for (size_t i = 0; i < a.lines.size(); ++i) {
        EXPECT_EQ(b.lines[i].type, a.lines[i].type) << what;
        ASSERT_EQ(b.lines[i].points.size(), a.lines[i].points.size()) << what;
        for (size_t k = 0; k < a.lines[i].points.size(); ++k) near(a.lines[i].points[k], b.lines[i].points[k]);
    }
    for (size_t r = 0; r < a.rules.size(); ++r) {
        EXPECT_EQ(b.rules[r].number, a.rules[r].number) << what;
        for (size_t s = 0; s < a.sizes.size(); ++s) {
            EXPECT_LE(std::abs(b.rules[r].offsets[s].dx - a.rules[r].offsets[s].dx), 5) << what;
            EXPECT_LE(std::abs(b.rules[r].offsets[s].dy - a.rules[r].offsets[s].dy), 5) << what;
        }
        EXPECT_LE(std::abs(b.rules[r].oneSize.dx - a.rules[r].oneSize.dx), 5) << what;
    }
    // A piece that was not turned holds whole units: the identical image.
    if (first.rotated == 0) {
        EXPECT_EQ(again.piece.image, first.piece.image) << what << "\n" << text;
    }
}

TEST(EpnWriter, ExamplesAreAFixedPoint) {
    const std::string dir = testing::build_path(TEILIMP_SOURCE_DIR) + "/examples/";
    int seen = 0;
    for (const std::string& name : testing::list_dir(dir)) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".epn") continue;
        expect_fixed_point(import(testing::read_file(dir + name)), name);
        ++seen;
    }
    EXPECT_GE(seen, 5);
}

// Generated pieces, along +x and turned onto grain lines in any direction,
// with "C" marks, spare rule columns, a base size that is no size, texts.
TEST(EpnWriter, GeneratedPiecesAreAFixedPoint) {
    std::mt19937 rng(20261209);
    for (int i = 0; i < 400; ++i) {
        testing::EpnFile f = testing::random_epn(rng, i % 2 == 1);
        f.trailerText = "Saison " + std::to_string(i);
        f.sizeKind = i % 3 == 0 ? "ALPHA" : "NUMERIC";
        if (i % 5 == 0) f.baseSize = "XX";
        f.points[1].flag = 'C';
        if (!f.points[2].rule) f.points[2].rule = 0;  // a rule column no point moves with
        if (f.points.size() > 7) f.points.back().flag = 'C';
        if (i % 7 == 0) f.points.push_back(testing::inner(900, 150, 150, 'B', ' '));  // a drill hole
        for (auto& size : f.grades)
            if (f.points[2].rule == 0) size.insert(size.begin() + (f.points[0].rule ? 1 : 0) +
                                                       (f.points[1].rule ? 1 : 0), {0, 3, -4});
        expect_fixed_point(import(testing::epn_text(f)), "piece " + std::to_string(i));
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace
}  // namespace teilimp::reader
