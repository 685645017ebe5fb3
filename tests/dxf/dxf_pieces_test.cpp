#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "dxf/dxf_pieces.h"
#include "reader/piece_image.h"
#include "support/test_util.h"

namespace teilimp::dxf {
namespace {

// A square piece with a notch, a grain line, an internal line and a drill
// hole, graded in three sizes by two rules, written in one of the dialects.
struct Spec {
    std::string name = "Teil";
    bool open = false;         // outline as two open polylines
    bool broken = false;       // ... that do not meet
    int ruleLayer = 1;         // AAMA: 2, with turn points
    bool inch = false;
    std::string eol = "\n";
    bool bom = false;
    bool nest = false;         // one block per size, no RUL
    std::vector<std::string> sizes{"S", "M", "L"};
    bool extraPoint = false;   // the nest's first size has one point more
    bool rul = true;
    bool commas = true;
    // 1: notches 0.3 mm off the bottom side, 30 mm from its corner, and 5 mm
    // inside; 2: in a nest, every size's own, 2 mm further per size; 3: as
    // 2, and the other sizes one more on that side, farther from the share.
    int sideNotch = 0;
};

struct Writer {
    const Spec& spec;
    std::string out;
    void pair(int code, const std::string& value) { out += std::to_string(code) + spec.eol + value + spec.eol; }
    void num(int code, double mm) {
        char b[32];
        std::snprintf(b, sizeof b, "%.9f", spec.inch ? mm / 25.4 : mm);
        pair(code, b);
    }
    void entity(const char* type, int layer) {
        pair(0, type);
        pair(8, std::to_string(layer));
    }
    void text(int layer, double x, double y, const std::string& t) {
        entity("TEXT", layer);
        num(10, x);
        num(20, y);
        pair(1, t);
    }
    void polyline(int layer, bool closed, const std::vector<std::pair<double, double>>& pts) {
        entity("POLYLINE", layer);
        pair(66, "1");
        pair(70, closed ? "1" : "0");
        for (auto [x, y] : pts) {
            entity("VERTEX", layer);
            num(10, x);
            num(20, y);
        }
        pair(0, "SEQEND");
    }
    // k: the size's step from the base (-1, 0, 1).
    void block(const std::string& size, double k, bool base) {
        const double a = 5 * k;
        pair(0, "BLOCK");
        pair(2, spec.name + "_" + size);
        pair(70, "64");
        text(1, 0, 0, "Piece Name: " + spec.name);
        text(1, 0, 0, "SIZE: " + size);
        if (base) text(1, 0, 0, "Category: vorn");
        if (spec.open) {
            polyline(1, false, {{0, 0}, {0, 50}, {0, 100}, {100 + a, 100 + a}});
            polyline(1, false, {{0, spec.broken ? 1 : 0}, {100 + a, 0}, {100 + a, 100 + a}});
        } else {
            std::vector<std::pair<double, double>> pts{{0, 0}, {0, 50}, {0, 100}, {100 + a, 100 + a}, {100 + a, 0}};
            if (spec.extraPoint && k < 0) pts.push_back({50, 0});
            polyline(1, true, pts);
        }
        entity("LINE", 7);
        num(10, 10), num(20, 50), num(11, 90), num(21, 50);
        polyline(8, false, {{20, 20}, {40, 20}});
        entity("POINT", 13);
        num(10, 50), num(20, 50);
        if (spec.sideNotch >= 2 || (spec.sideNotch == 1 && base))
            for (auto [x, y] : {std::pair{30 + 2 * k, 0.3}, {50.0, 5.0}}) entity("POINT", 4), num(10, x), num(20, y);
        if (spec.sideNotch == 3 && !base) entity("POINT", 4), num(10, 70), num(20, 0.2);
        entity("POINT", 9);  // a stripe reference: left out
        num(10, 1), num(20, 1);
        if (base) {
            entity("POINT", 4);
            num(10, 0), num(20, 50.2), pair(50, "180");
            if (spec.ruleLayer == 2)
                for (auto [x, y] : {std::pair{100.0, 100.0}, {100.0, 0.0}, {0.0, 0.0}, {0.0, 100.0}})
                    entity("POINT", 2), num(10, x), num(20, y);
            text(spec.ruleLayer, 100, 100, "# 1");
            text(spec.ruleLayer, 100, 0, "# 2");
            text(spec.ruleLayer, 0, 0, "# 3");  // the points between move with these
            text(spec.ruleLayer, 0, 100, "# 3");
        }
        pair(0, "ENDBLK");
    }
    std::string dxf() {
        out = spec.bom ? "\xEF\xBB\xBF" : "";
        pair(0, "SECTION"), pair(2, "BLOCKS");
        if (spec.nest) {
            for (size_t i = 0; i < spec.sizes.size(); ++i) block(spec.sizes[i], static_cast<double>(i) - 1, i == 1);
        } else {
            block("M", 0, true);
        }
        pair(0, "ENDSEC"), pair(0, "SECTION"), pair(2, "ENTITIES");
        text(1, 0, 0, spec.inch ? "Units: ENGLISH" : "Units: METRIC");
        text(1, 0, 0, "Sample Size: M");
        pair(0, "ENDSEC"), pair(0, "EOF");
        return out;
    }
    std::string rul() {
        const double u = spec.inch ? 25.4 : 1;
        const std::string c = spec.commas ? "," : "";
        char b[400];
        std::snprintf(b, sizeof b,
                      "ASTM/D13Proposal 1 Version: D 6673-04\nUNITS: %s\nSIZE LIST: S M L\nSAMPLE SIZE: M\n"
                      "RULE: DELTA 1\n%.9f%s %.9f 0%s 0\n%.9f%s %.9f\nRULE: DELTA 2\n%.9f%s 0 0%s 0 %.9f%s 0\n"
                      "RULE: DELTA 3\n0 0 0 0 0 0\nEND\n",
                      spec.inch ? "ENGLISH" : "METRIC", -5 / u, c.c_str(), -5 / u, c.c_str(), 5 / u, c.c_str(),
                      5 / u, -5 / u, c.c_str(), c.c_str(), 5 / u, c.c_str());
        std::string r = b;
        if (spec.eol != "\n")
            for (size_t at = 0; (at = r.find('\n', at)) != std::string::npos; at += spec.eol.size())
                r.replace(at, 1, spec.eol);
        return r;
    }
};

DxfFile convert(const Spec& spec) {
    testing::TempDir dir;
    Writer w{spec, {}};
    testing::write_file(dir / "style.DXF", w.dxf());
    if (spec.rul && !spec.nest) testing::write_file(dir / "STYLE.rul", w.rul());
    return read_dxf_file(dir / "style.DXF");
}

TEST(DxfPieces, DialectsGiveTheSamePiece) {
    const DxfFile ref = convert(Spec{});
    ASSERT_EQ(number(ref.status), 0);
    ASSERT_EQ(ref.pieces.size(), 1u);
    const DxfPiece& p = ref.pieces[0];
    ASSERT_EQ(number(p.status), 0) << p.reason;
    EXPECT_EQ(p.name, "TEIL");
    EXPECT_EQ(p.sizeCount, 3);
    EXPECT_EQ(p.contourPoints, 6);  // the first point repeated at the end
    EXPECT_EQ(p.lineCount, 3);      // grain line, internal line, drill hole
    EXPECT_EQ(p.ruleCount, 2);
    EXPECT_EQ(p.notes, std::vector<std::string>{"   Hinweis: nicht \x81" "bernommen: Streifen (Schicht 9), 1 Elemente"});
    reader::PieceModel image;
    reader::ImageFault fault;
    ASSERT_TRUE(reader::decode_piece(p.piece.image, nullptr, image, fault)) << fault.what;
    EXPECT_EQ(image.baseSizeIndex, 1);
    EXPECT_EQ(reader::field_text(image.text1), "VORN");
    EXPECT_EQ(image.contour[3].x, 1000);  // tenths of a millimetre
    EXPECT_EQ(image.contour[3].rule, 1);
    EXPECT_EQ(image.contour[1].notch, reader::NotchCode::N1);  // the notch 0.2 mm off its point
    EXPECT_EQ(image.rules[0].offsets[1].dx - image.rules[0].offsets[0].dx, 50);
    EXPECT_EQ(image.lines[0].type, 'G');

    struct Dialect {
        const char* what;
        Spec spec;
    } dialects[] = {
        {"open polylines", [] { Spec s; s.open = true; return s; }()},
        {"rule texts on the turn points' layer", [] { Spec s; s.ruleLayer = 2; return s; }()},
        {"RUL without commas", [] { Spec s; s.commas = false; return s; }()},
        {"inches", [] { Spec s; s.inch = true; return s; }()},
        {"CR LF", [] { Spec s; s.eol = "\r\n"; return s; }()},
        {"byte-order mark", [] { Spec s; s.bom = true; return s; }()},
        {"graded nest", [] { Spec s; s.nest = true; s.ruleLayer = 2; return s; }()},
    };
    for (const Dialect& d : dialects) {
        const DxfFile f = convert(d.spec);
        ASSERT_EQ(f.pieces.size(), 1u) << d.what;
        EXPECT_EQ(f.pieces[0].reason, "") << d.what;
        EXPECT_EQ(f.pieces[0].piece.image, p.piece.image) << d.what;
    }
}

TEST(DxfPieces, ANotchOnASideGetsAPointThereThatGradesWithTheSide) {
    struct Case {
        const char* what;
        Spec spec;
        int64_t stepInL;  // the notch point's x offset in size L, in tenths
    } cases[] = {
        {"rule file: between its rule points", [] { Spec s; s.sideNotch = 1; return s; }(), 15},
        {"nest, notch in the base size only: same share of the side",
         [] { Spec s; s.nest = true; s.ruleLayer = 2; s.sideNotch = 1; return s; }(), 15},
        {"nest, a notch in every size: where each lies",
         [] { Spec s; s.nest = true; s.ruleLayer = 2; s.sideNotch = 2; return s; }(), 20},
        {"nest, two notches on that side in the other sizes: the one nearer the share",
         [] { Spec s; s.nest = true; s.ruleLayer = 2; s.sideNotch = 3; return s; }(), 20},
    };
    for (const Case& c : cases) {
        const DxfFile f = convert(c.spec);
        ASSERT_EQ(f.pieces.size(), 1u) << c.what;
        const DxfPiece& p = f.pieces[0];
        ASSERT_EQ(number(p.status), 0) << c.what << p.reason;
        EXPECT_EQ(p.contourPoints, 7) << c.what;
        EXPECT_EQ(p.notes.back(), "   Hinweis: Knipse 5.0 mm neben der Kontur nicht \x81" "bernommen") << c.what;
        reader::PieceModel m;
        reader::ImageFault fault;
        ASSERT_TRUE(reader::decode_piece(p.piece.image, nullptr, m, fault)) << fault.what;
        // On the side, not 0.3 mm off it, and moving with it.
        const auto q = std::find_if(m.contour.begin(), m.contour.end(),
                                    [](const auto& q) { return q.notch != reader::NotchCode::None && q.y == 0; });
        ASSERT_NE(q, m.contour.end()) << c.what;
        EXPECT_EQ(q->x, 300) << c.what;
        EXPECT_EQ(reader::point_offset(m, *q, 2).dx, c.stepInL) << c.what;
    }
}

// Notches all round a contour of many points, each just inside or just
// outside the limit of a point or a side: every one is found wherever on
// the piece it lies, and of those too far off the first twenty are told
// (each a different distance: equal notes are one).
TEST(DxfPieces, NotchesAllRoundAContourOfManyPointsAreMatchedUpToTheLimit) {
    constexpr int kPoints = 400, kR = 1000;
    const Spec spec;
    Writer w{spec, {}};
    w.pair(0, "SECTION"), w.pair(2, "BLOCKS"), w.pair(0, "BLOCK"), w.pair(2, "B");
    w.text(1, 0, 0, "Piece Name: Rund");
    std::vector<std::pair<double, double>> pts;
    const double turn = 6.283185307179586 / kPoints;
    for (int i = 0; i < kPoints; ++i) pts.push_back({kR * std::cos(i * turn), kR * std::sin(i * turn)});
    w.polyline(1, true, pts);
    // Radially off point i, or off the middle of side i (the middle is
    // inside the circle by r(1 - cos(turn/2))).
    const double inside = kR * (1 - std::cos(turn / 2));
    int onPoint = 0, onSide = 0, off = 0;
    for (int i = 0; i < kPoints; i += 3) {
        const double a = (i % 2 ? i + 0.5 : i) * turn;
        const double by[] = {0.45, 0.499, 0.501 + 0.1 * off, 0.501 + 0.1 * off};
        const double r = by[(i / 3) % 4];
        const double d = i % 2 ? kR - inside + r : kR + r;
        w.entity("POINT", 4), w.num(10, d * std::cos(a)), w.num(20, d * std::sin(a));
        (r > 0.5 ? off : i % 2 ? onSide : onPoint) += 1;
    }
    w.pair(0, "ENDBLK"), w.pair(0, "ENDSEC"), w.pair(0, "EOF");
    testing::TempDir dir;
    testing::write_file(dir / "rund.dxf", w.out);
    const DxfFile f = read_dxf_file(dir / "rund.dxf");
    ASSERT_EQ(f.pieces.size(), 1u);
    const DxfPiece& p = f.pieces[0];
    ASSERT_EQ(number(p.status), 0) << p.reason;
    EXPECT_EQ(p.contourPoints, kPoints + 1 + onSide);
    reader::PieceModel m;
    reader::ImageFault fault;
    ASSERT_TRUE(reader::decode_piece(p.piece.image, nullptr, m, fault)) << fault.what;
    EXPECT_EQ(std::count_if(m.contour.begin(), m.contour.end(),
                            [](const auto& q) { return q.notch != reader::NotchCode::None; }),
              onPoint + onSide);
    ASSERT_GT(off, 20);
    EXPECT_EQ(std::count_if(p.notes.begin(), p.notes.end(),
                            [](const std::string& n) { return n.find("Knipse ") != std::string::npos; }),
              20);
}

TEST(DxfPieces, RefusedPiecesSayWhy) {
    struct Case {
        Spec spec;
        int32_t status;
        std::string reason;
    } cases[] = {
        {[] { Spec s; s.open = s.broken = true; return s; }(), 21, "   (TEIL: Kontur nicht geschlossen)"},
        {[] { Spec s; s.name = "ABCDEFGHIJKLMNOPQRSTU"; return s; }(), 22,
         "   (ABCDEFGHIJKLMNOPQRSTU: Teilname l\x84nger als 20 Zeichen)"},
        {[] { Spec s; s.nest = true; s.sizes = {"S", "M", "S"}; return s; }(), 23,
         "   (TEIL: Gr\x94\xE1" "e S doppelt in der Datei)"},
        {[] { Spec s; s.nest = true; s.extraPoint = true; return s; }(), 24,
         "   (TEIL: Gr\x94\xE1" "en mit verschieden vielen Konturpunkten)"},
        {[] { Spec s; s.nest = true; s.sizes = {"S", "M", "XXXLONG"}; return s; }(), 25,
         "   (TEIL: Gr\x94\xE1" "enname l\x84nger als 6 Zeichen: XXXLONG)"},
        {[] { Spec s; s.rul = false; return s; }(), 26,
         "   (TEIL: Gradierregeln fehlen: RUL-Datei nicht gefunden oder unlesbar)"},
    };
    for (const Case& c : cases) {
        const DxfFile f = convert(c.spec);
        ASSERT_EQ(f.pieces.size(), 1u) << c.reason;
        EXPECT_EQ(number(f.pieces[0].status), c.status) << c.reason;
        EXPECT_EQ(f.pieces[0].reason, c.reason);
        EXPECT_TRUE(f.pieces[0].piece.image.empty());
    }
    testing::TempDir dir;
    testing::write_file(dir / "x.dxf", "0\nSECTION\n2\nBLOCKS\n0\nENDSEC\n0\nEOF\n");
    const DxfFile none = read_dxf_file(dir / "x.dxf");
    EXPECT_EQ(number(none.status), 20);
    EXPECT_EQ(none.reason, "   (keine Schnittteile im Format AAMA/ASTM)");
    // Notches along a side whose points would take the contour past its
    // limit: refused as too many points, not cut.
    const Spec spec;
    Writer w{spec, {}};
    w.pair(0, "SECTION"), w.pair(2, "BLOCKS"), w.pair(0, "BLOCK"), w.pair(2, "B");
    w.text(1, 0, 0, "Piece Name: Teil");
    w.polyline(1, true, {{0, 0}, {0, 100}, {7000, 100}, {7000, 0}});
    for (int k = 1; k <= 10000; ++k) w.entity("POINT", 4), w.num(10, 0.6 * k), w.num(20, 0);
    w.pair(0, "ENDBLK"), w.pair(0, "ENDSEC"), w.pair(0, "EOF");
    testing::write_file(dir / "y.dxf", w.out);
    const DxfFile many = read_dxf_file(dir / "y.dxf");
    ASSERT_EQ(many.pieces.size(), 1u);
    EXPECT_EQ(number(many.pieces[0].status), 11);
    EXPECT_EQ(many.pieces[0].reason, "   (TEIL: zu viele Punkte, Gr\x94\xE1" "en oder Regeln, oder ein Wert zu gro\xE1)");
}

// Pieces go to the taker one by one as they are built, in the file's order,
// and nothing more is built once it says stop.
TEST(DxfPieces, PiecesAreHandedOverOneByOneAsTheyAreBuilt) {
    const Spec spec;
    Writer w{spec, {}};
    w.pair(0, "SECTION"), w.pair(2, "BLOCKS");
    for (const char* name : {"C", "A", "B"}) {
        w.pair(0, "BLOCK"), w.pair(2, name);
        w.text(1, 0, 0, std::string("Piece Name: ") + name);
        w.polyline(1, true, {{0, 0}, {0, 100}, {100, 100}, {100, 0}});
        w.pair(0, "ENDBLK");
    }
    w.pair(0, "ENDSEC"), w.pair(0, "EOF");
    testing::TempDir dir;
    testing::write_file(dir / "drei.dxf", w.out);
    RulSearch search;
    const LoadedDxf loaded = load_dxf_file(dir / "drei.dxf", search);
    ASSERT_EQ(number(loaded.status), 0);
    std::vector<std::string> seen;
    const DxfFile f = convert_drawing(loaded.drawing, nullptr, [&](DxfPiece& p, size_t k, size_t m) {
        seen.push_back(p.name + " " + std::to_string(k) + "/" + std::to_string(m));
        EXPECT_FALSE(p.piece.image.empty());
        return k < 1;
    });
    EXPECT_EQ(number(f.status), 0);
    EXPECT_TRUE(f.pieces.empty());
    EXPECT_EQ(seen, (std::vector<std::string>{"C 0/3", "A 1/3"}));
}

// A run reads every DXF file of a directory with one search: the directory
// is listed and the shared RUL file read once, not once a file (which
// grows with the square of their number); names match in any case.
TEST(DxfPieces, RulFilesAreFoundInAnyCaseFromOneListingOfTheirDirectory) {
    testing::TempDir dir;
    testing::write_file(dir / "a.RUL", "");
    testing::write_file(dir / "b.rul", "");
    const std::string d = dir / "";
    RulSearch search;
    EXPECT_EQ(search.find(d, "A.rul"), d + "a.RUL");
    EXPECT_EQ(search.find(d, "b.rul"), d + "b.rul");
    EXPECT_EQ(search.find(d, "c.rul"), std::nullopt);
    EXPECT_EQ(search.find(d, "sub/a.RUL"), std::nullopt);
    testing::write_file(dir / "c.rul", "");
    EXPECT_EQ(search.find(d, "c.rul"), std::nullopt);  // listed before it was made
    EXPECT_EQ(RulSearch{}.find(d, "C.RUL"), d + "c.rul");
    // The table read last is read once, as the run's files share it.
    const Spec spec;
    testing::write_file(dir / "a.RUL", Writer{spec, {}}.rul());
    const rul::RuleTable* table = search.rules(d + "a.RUL");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->sizes.size(), 3u);
    testing::write_file(dir / "a.RUL", "damaged");
    EXPECT_EQ(search.rules(d + "a.RUL"), table);
    EXPECT_EQ(RulSearch{}.rules(d + "a.RUL"), nullptr);
    EXPECT_EQ(search.rules(d + "b.rul"), nullptr);
}

TEST(DxfPieces, EverySampleConvertsAndBothFormatsGiveTheSamePieces) {
    // Beside the checkout; a work tree stands one level further down.
    std::string dir = testing::build_path(TEILIMP_SOURCE_DIR) + "/../shared/exchange/samples/";
    if (!testing::file_exists(dir + "S350.rul"))
        dir = testing::build_path(TEILIMP_SOURCE_DIR) + "/../../shared/exchange/samples/";
    if (!testing::file_exists(dir + "S350.rul")) GTEST_SKIP() << "no exchange samples beside the sources";
    std::map<std::string, std::vector<uint8_t>> aama;
    for (const std::string& name : testing::list_dir(dir)) {
        if (is_rul_name(name)) continue;
        const DxfFile f = read_dxf_file(dir + name);
        ASSERT_EQ(number(f.status), 0) << name;
        EXPECT_FALSE(f.pieces.empty()) << name;
        for (const DxfPiece& p : f.pieces) {
            EXPECT_EQ(number(p.status), 0) << name << ": " << p.reason;
            reader::PieceModel image;
            reader::ImageFault fault;
            EXPECT_TRUE(reader::decode_piece(p.piece.image, nullptr, image, fault)) << name << ": " << fault.what;
            if (name == "GMX1016S18_AAMA.DXF") aama[p.name] = p.piece.image;
        }
        if (name == "S350.dxf") {
            EXPECT_NE(f.rulPath, "");
        }
    }
    const DxfFile astm = read_dxf_file(dir + "GMX1016S18_ASTM.DXF");
    ASSERT_EQ(astm.pieces.size(), aama.size());
    for (const DxfPiece& p : astm.pieces) EXPECT_EQ(p.piece.image, aama[p.name]) << p.name;
}

}  // namespace
}  // namespace teilimp::dxf
