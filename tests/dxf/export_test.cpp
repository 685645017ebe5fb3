// The export: texts and numbers of the exchange files, the files read back
// by an independent reader (ezdxf) and compared with the stored pieces, and
// the command's statuses, messages and file names.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <set>

#include "area_tool/tool.h"
#include "dxf/dxf_pieces.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "rul/exchange_text.h"
#include "support/epn_builder.h"
#include "support/mini_parse.h"
#include "writer/area_fixture.h"

namespace teilimp::dxf {
namespace {

using rul::escape_text;
using rul::escape_token;
using rul::format_length;
using rul::Units;
using rul::unescape_text;

TEST(ExchangeText, EscapedTextsAreSevenBitAndComeBackExactly) {
    std::string every;
    for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
    for (const std::string& t : {every, std::string(" A%B "), std::string("%%%"), std::string("%%123"),
                                 std::string(" "), std::string("\x8e" "RMEL")}) {
        for (const std::string& e : {escape_text(t), escape_token(t)}) {
            for (char c : e) EXPECT_TRUE(c >= 32 && c < 127) << e;
            EXPECT_NE(e.front(), ' ');
            EXPECT_NE(e.back(), ' ');
            std::string back;
            ASSERT_TRUE(unescape_text(e, back)) << e;
            EXPECT_EQ(back, t);
        }
        EXPECT_EQ(escape_token(t).find(' '), std::string::npos);
    }
    EXPECT_EQ(escape_text("\x84" "1 %"), "%%2281 %%%");  // code page 850 a-umlaut is ISO 8859-1 228
    std::string out;
    EXPECT_FALSE(unescape_text("%%25", out));
    EXPECT_FALSE(unescape_text("%%256", out));
    EXPECT_FALSE(unescape_text("50%", out));
}

TEST(ExchangeText, LengthsKeepEveryTenthOfAMillimetre) {
    struct Case { int64_t tenths; const char* mm; const char* inch; };
    for (const Case& c : {Case{0, "0.0", "0.000"}, Case{1, "0.1", "0.004"}, Case{-5, "-0.5", "-0.020"},
                          Case{254, "25.4", "1.000"}, Case{-12345, "-1234.5", "-48.602"},
                          Case{INT64_MAX, "922337203685477580.7", "36312488334073920.500"}}) {
        EXPECT_EQ(format_length(c.tenths, Units::Mm), c.mm);
        EXPECT_EQ(format_length(c.tenths, Units::Inch), c.inch);
    }
    for (int64_t t = -200000; t <= 200000; t += 7)
        ASSERT_EQ(std::llround(std::stod(format_length(t, Units::Inch)) * 254.0), t);
}

// Pieces of every kind in an area F:TEST: the examples, a mirrored piece of
// 14 sizes with notches, directions, a "C" mark, a drill hole and texts
// outside ASCII, and a piece of one size.
struct Export : writer::test::AreaFixture {
    std::map<std::string, reader::PieceModel> stored;  // by name
    std::map<std::string, std::vector<uint8_t>> images;

    void put(const std::string& epn) {
        reader::Piece piece;
        int32_t reversed = 0, rotated = 0;
        ASSERT_EQ(reader::epn_parse({reinterpret_cast<const uint8_t*>(epn.data()), epn.size()}, reversed, rotated,
                                    piece), reader::EpnStatus::Ok);
        const std::string name = reader::field_text(piece.pieceName);
        ASSERT_TRUE(store(name, {piece.image.begin(), piece.image.end()}).ok());
        images[name] = piece.image;
        reader::ImageFault fault;
        ASSERT_TRUE(reader::decode_piece(piece.image, &piece.pieceName, stored[name], fault));
    }

    void SetUp() override {
        platform::test::set_sleep_scale(0);
        ASSERT_EQ(writer::epn_area_clear(area), 1);
        for (const auto& e : std::filesystem::directory_iterator(TEILIMP_SOURCE_DIR "/examples"))
            if (e.path().extension() == ".epn") put(teilimp::testing::read_file(e.path().string()));
        using teilimp::testing::inner;
        using teilimp::testing::perim;
        teilimp::testing::EpnFile f;
        f.name = "SPIEGEL %1";
        f.text1 = "GR\x94\xe1" "E 50%";
        f.text2 = " ZWEI";
        f.kind = "MIRRORED";
        f.trailerText = "frei %%";
        f.points = {perim(1, 0, 0, 1, "N1", 900), perim(2, 0, 200), perim(3, 300, 200, 2, "2", 450),
                    perim(4, 300, 0, 3, "NK"), perim(5, 150, 0),
                    inner(10, 0, 0, 'M', 'N'), inner(11, 300, 0, 'M', 'O'), inner(12, 50, 100, 'G', 'N'),
                    inner(13, 250, 100, 'G', 'O', 2), inner(14, 150, 150), inner(15, 20, 20, ' ', 'N'),
                    inner(16, 40, 30, ' ', 'N'), inner(17, 60, 20, 'X')};
        f.points[4].flag = 'C';
        f.baseSize = "46";
        for (int s = 0; s < 14; ++s) {
            f.sizes.push_back(std::to_string(34 + 2 * s));
            f.grades.push_back({{1, -s, s}, {2, 3 * s, 2 * s}, {3, s, -s}, {2, 0, 0}});
        }
        f.sizeKind = "";
        put(teilimp::testing::epn_text(f));
        teilimp::testing::EpnFile one;
        one.name = "EINZEL";
        one.points = {perim(1, 0, 0, 7), perim(2, 0, 50), perim(3, 80, 50), perim(4, 80, 0),
                      inner(5, 10, 25, 'G', 'N'), inner(6, 70, 25, 'G', 'O')};
        one.sizes = {"EINH"};
        one.baseSize = "EINH";
        one.grades = {{{7, 4, -3}}};
        put(teilimp::testing::epn_text(one));
    }

    struct Run {
        int status = -1;
        std::string out;
    };
    Run teilarea(std::vector<std::string> args) {
        Run r;
        args.insert(args.begin(), {"teilarea", "export", "F:TEST"});
        platform::test::capture_console(&r.out);
        r.status = area_tool::area_main(args);
        platform::test::capture_console(nullptr);
        r.out = teilimp::testing::in_lines(r.out);  // "\r\n" on Windows
        return r;
    }
};

std::string unescaped(const std::string& s) {
    std::string out;
    EXPECT_TRUE(unescape_text(s, out)) << s;
    return out;
}

// A value read back in the file's unit against the stored tenths.
void expect_at(double value, int32_t tenths, bool inch, const std::string& what) {
    const double back = inch ? value * 254.0 : value * 10.0;
    EXPECT_LT(std::fabs(back - tenths), inch ? 0.5 : 1e-6) << what << ": " << value << " for " << tenths;
}

void expect_point(const teilimp::testing::JsonValue& xy, const reader::ModelPoint& p, bool inch,
                  const std::string& what) {
    expect_at(xy[0].number, p.x, inch, what + " x");
    expect_at(xy[1].number, p.y, inch, what + " y");
}

TEST_F(Export, EzdxfReadsEveryFileAndFindsTheStoredPieces) {
    teilimp::testing::TempDir out;
    ASSERT_EQ(teilarea({"-o", out / "mm.dxf"}).status, 0);
    ASSERT_EQ(teilarea({"--format", "aama", "--units", "inch", "-o", out / "in.dxf"}).status, 0);
    std::vector<std::string> args = {TEILIMP_SOURCE_DIR "/tests/dxf/ezdxf_read.py"};
    for (const std::string& name : teilimp::testing::list_dir(out.path))
        if (name.ends_with(".dxf")) args.push_back(out / name);
    const auto read = teilimp::testing::run_program("/usr/bin/python3", args);
    if (read.exitCode != 0) GTEST_SKIP() << "no ezdxf (Debian python3-ezdxf) to read the files back: " << read.out;
    const auto json = teilimp::testing::parse_json(read.out);
    ASSERT_TRUE(json.has_value()) << read.out;
    std::map<std::string, int> blocksOf;  // every piece once per export
    for (const auto& file : (*json)["files"].array) {
        const bool inch = file["rul"]["units"].string == "ENGLISH";
        const std::string path = file["path"].string;
        EXPECT_EQ(file["version"].string, "AC1009") << path;
        EXPECT_EQ(file["audit_errors"].number, 0) << path;
        EXPECT_EQ(file["inserts"].array.size(), file["blocks"].array.size()) << path;
        size_t rulesInFile = 0;
        for (const auto& block : file["blocks"].array) {
            const std::string piece = unescaped(block["texts"][0].string.substr(std::string("Piece Name: ").size()));
            ASSERT_EQ(stored.count(piece), 1u) << piece;
            ++blocksOf[piece];
            const reader::PieceModel& im = stored[piece];
            const std::string what = path + " " + piece;
            ASSERT_EQ(block["outlines"].array.size(), 1u) << what;
            const auto& outline = block["outlines"][0];
            EXPECT_TRUE(outline["closed"].boolean) << what;
            ASSERT_EQ(outline["points"].array.size(), im.contour.size()) << what;
            for (size_t k = 0; k < im.contour.size(); ++k) expect_point(outline["points"][k], im.contour[k], inch, what);
            const int grain = reader::grain_line(im);
            ASSERT_GE(grain, 0);
            expect_point(block["grain"][0], im.lines[static_cast<size_t>(grain)].points.front(), inch, what + " grain");
            expect_point(block["grain"][1], im.lines[static_cast<size_t>(grain)].points.back(), inch, what + " grain");
            // One rule text at every point whose rule the piece has, each
            // with its rule in the RUL file: one pair per size.
            std::vector<reader::ModelPoint> rulePoints;
            auto collect = [&](const reader::ModelPoint& p) {
                if (reader::rule_of(im, p) != nullptr) rulePoints.push_back(p);
            };
            std::for_each(im.contour.begin(), im.contour.end(), collect);
            for (const auto& l : im.lines) std::for_each(l.points.begin(), l.points.end(), collect);
            ASSERT_EQ(block["rules"].array.size(), rulePoints.size()) << what;
            for (size_t k = 0; k < rulePoints.size(); ++k) {
                const auto& text = block["rules"][k];
                EXPECT_EQ(file["rul"]["rules"][std::to_string(static_cast<int>(text[0].number))].array.size(),
                          2 * im.sizes.size()) << what;
                expect_at(text[1].number, rulePoints[k].x, inch, what + " rule text");
                expect_at(text[2].number, rulePoints[k].y, inch, what + " rule text");
            }
            rulesInFile += im.rules.size();
            size_t notches = 0;
            for (const auto& p : im.contour) notches += p.notch != reader::NotchCode::None;
            EXPECT_EQ(block["notches"].array.size(), notches) << what;
            const auto& sizes = file["rul"]["sizes"].array;
            ASSERT_EQ(sizes.size(), im.sizes.size()) << what;
            for (size_t s = 0; s < sizes.size(); ++s)
                EXPECT_EQ(unescaped(sizes[s].string), reader::field_text(im.sizes[s].name)) << what;
            EXPECT_EQ(unescaped(file["rul"]["sample"].string),
                      reader::field_text(im.sizes[static_cast<size_t>(im.baseSizeIndex)].name));
        }
        EXPECT_EQ(file["rul"]["rules"].object.size(), rulesInFile) << path << ": rule numbers unique in the file";
    }
    ASSERT_EQ(blocksOf.size(), stored.size());
    for (const auto& [name, n] : blocksOf) EXPECT_EQ(n, 2) << name;
}

TEST_F(Export, StatusesMessagesAndFileNames) {
    teilimp::testing::TempDir out;
    const std::string lsst = "Datei l\x84sst sich nicht schreiben: ";
    // Two styles of one piece each: the second file named -2.
    Run r = teilarea({"VORDERTEIL", "NICHTDA", "einzel", "VORDERTEIL-MIT-LANGEM-NAMEN", "-o", out / "s.dxf"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, "Teil nicht gefunden: NICHTDA\nTeil nicht gefunden: VORDERTEIL-MIT-LANGEM-NAMEN\nGeschrieben: " + (out / "s.dxf") + "\nGeschrieben: " +
                         (out / "s.rul") + "\nGeschrieben: " + (out / "s-2.dxf") + "\nGeschrieben: " +
                         (out / "s-2.rul") + "\n");
    // A file in place is replaced whole; nothing is left under another name.
    r = teilarea({"EINZEL", "-o", out / "s.dxf"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(teilimp::testing::list_dir(out.path), (std::vector<std::string>{"s-2.dxf", "s-2.rul", "s.dxf", "s.rul"}));
    EXPECT_NE(teilimp::testing::read_file(out / "s.dxf").find("EINZEL_1"), std::string::npos);
    r = teilarea({"-o", out / "missing/x.dxf"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find(lsst + (out / "missing/x.dxf") + "\n"), std::string::npos) << r.out;
    // A fresh lock is named, and the export goes on without taking it.
    teilimp::testing::write_file(file("teilimp.opn"), "");
    r = teilarea({"KRAGEN", "-o", out / "k.dxf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "Hinweis: Zugriffsdatei vorhanden, vielleicht l\x84uft ein Import. Der Export sperrt den Bereich nicht.");
    EXPECT_TRUE(has("teilimp.opn"));
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{}, {"KRAGEN"}, {"--format", "dwg", "-o", "x"}, {"--units", "cm", "-o", "x"}}) {
        r = teilarea(bad);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.substr(0, 7), "Aufruf:");
    }
}

// Exported in either format and unit and read back, every piece gives the
// image the area held, byte for byte: also generated pieces that the
// import turned (odd tenths, directions), of 5 sizes with rules on every
// other point.
TEST_F(Export, ReadBackGivesTheStoredImages) {
    std::mt19937 random(19);
    auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int k = 0; k < 12; ++k) {
        teilimp::testing::EpnFile f;
        f.name = "ZUFALL" + std::to_string(k);
        const int n = any(3, 14);
        for (int i = 0; i < n; ++i) {
            const double a = 6.283185307 * i / n;
            const int r = any(100, 900);
            const char* labels[] = {"", "N1", "N2", "NK", "1", "2"};
            f.points.push_back(teilimp::testing::perim(i + 1, std::lround(r * std::cos(a)), std::lround(r * std::sin(a)),
                                                       i % 2 == 0 ? std::optional<int64_t>(i / 2 + 1) : std::nullopt,
                                                       labels[any(0, 5)], any(0, 1) ? std::optional<int64_t>(any(0, 3599))
                                                                                    : std::nullopt));
        }
        f.points.push_back(teilimp::testing::inner(n + 1, any(-50, 50), any(-50, 50), 'G', 'N'));
        f.points.push_back(teilimp::testing::inner(n + 2, any(-50, 50), any(-50, 50), 'G', 'O'));
        f.baseSize = "38";
        for (int s = 0; s < 5; ++s) {
            f.sizes.push_back(std::to_string(34 + 2 * s));
            f.grades.emplace_back();
            for (int rule = 1; rule <= (n + 1) / 2; ++rule) f.grades.back().push_back({rule, any(-30, 30), any(-30, 30)});
        }
        put(teilimp::testing::epn_text(f));
    }
    teilimp::testing::TempDir out;
    for (const char* format : {"astm", "aama"})
        for (const char* units : {"mm", "inch"}) {
            const std::string dxf = out / (std::string(format) + units + ".dxf");
            ASSERT_EQ(teilarea({"--format", format, "--units", units, "-o", dxf}).status, 0);
            size_t seen = 0;
            for (int k = 1;; ++k) {
                const std::string path = k == 1 ? dxf : dxf.substr(0, dxf.size() - 4) + "-" + std::to_string(k) + ".dxf";
                if (!std::filesystem::exists(path)) break;
                const DxfFile f = read_dxf_file(path);
                ASSERT_EQ(number(f.status), 0) << path;
                for (const DxfPiece& p : f.pieces) {
                    EXPECT_EQ(number(p.status), 0) << p.name << p.reason;
                    EXPECT_EQ(p.piece.image, images[p.name]) << format << " " << units << " " << p.name;
                    EXPECT_EQ(p.notes, std::vector<std::string>{}) << p.name;
                    ++seen;
                }
            }
            EXPECT_EQ(seen, images.size()) << format << " " << units;
        }
}

// An empty closed polyline on the outline's layer before each contour is
// passed over, as in other systems' files: the pieces are rebuilt as
// exported (before, an empty contour was taken, or the piece converted).
TEST_F(Export, AnEmptyPolylineBeforeTheContourIsPassedOver) {
    teilimp::testing::TempDir out;
    const std::string dxf = out / "a.dxf";
    ASSERT_EQ(teilarea({"-o", dxf}).status, 0);
    std::string text = teilimp::testing::read_file(dxf);
    const std::string contour = "  0\r\nPOLYLINE\r\n  8\r\n1\r\n";
    const std::string empty = contour + " 66\r\n1\r\n 70\r\n1\r\n  0\r\nSEQEND\r\n  8\r\n1\r\n";
    size_t edits = 0;
    for (size_t at = 0; (at = text.find(contour, at)) != std::string::npos; at += empty.size() + contour.size(), ++edits)
        text.insert(at, empty);
    ASSERT_GT(edits, 0u);
    const std::string edited = out / "b.dxf";
    teilimp::testing::write_file(edited, text);
    std::filesystem::copy_file(out / "a.rul", out / "b.rul");
    const DxfFile f = read_dxf_file(edited);
    ASSERT_EQ(number(f.status), 0);
    ASSERT_FALSE(f.pieces.empty());
    for (const DxfPiece& p : f.pieces) EXPECT_EQ(p.piece.image, images[p.name]) << p.name << p.reason;
}

// The EPN export is a fixed point: exported, imported and exported again,
// the same bytes; names that would collide get "_2".
TEST_F(Export, EpnExportIsAFixedPoint) {
    teilimp::testing::TempDir out;
    std::string twin = teilimp::testing::read_file(TEILIMP_SOURCE_DIR "/examples/kragen.epn");
    put(twin.replace(0, 20, teilimp::testing::fixed("SPIEGEL__1", 20)));
    ASSERT_EQ(teilarea({"--format", "epn", "-o", out / "a"}).status, 0);
    std::vector<std::string> files = teilimp::testing::list_dir(out / "a");
    for (const char* name : {"SPIEGEL__1.epn", "SPIEGEL__1_2.epn", "EINZEL.epn"})
        EXPECT_NE(std::find(files.begin(), files.end(), name), files.end()) << name;
    stored.clear();
    ASSERT_EQ(writer::epn_area_clear(area), 1);
    for (const std::string& f : files) put(teilimp::testing::read_file(out / ("a/" + f)));
    ASSERT_EQ(teilarea({"--format", "epn", "-o", out / "b"}).status, 0);
    for (const std::string& f : files)
        EXPECT_EQ(teilimp::testing::read_file(out / ("a/" + f)), teilimp::testing::read_file(out / ("b/" + f))) << f;
}

}  // namespace
}  // namespace teilimp::dxf
