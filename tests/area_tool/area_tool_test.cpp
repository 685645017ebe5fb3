// The area tool against real areas: sound ones after every kind of import,
// areas damaged in each way check knows, repair of each, its output formats,
// and faults and crashes in the middle of a repair.
#include <gtest/gtest.h>

#include <cstdio>

#include <cstdlib>
#include <functional>
#include <set>

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "reader/piece_image.h"
#include "support/epn_builder.h"
#include "support/mini_parse.h"
#include "util/version.h"
#include "writer/area_fixture.h"
#include "writer/sort.h"

namespace teilimp::area_tool {
namespace {

using teilimp::testing::read_file;
using teilimp::testing::write_file;
using Images = std::map<std::string, std::string>;

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun tool(std::vector<std::string> args) {
    ToolRun r;
    args.insert(args.begin(), "teilarea");
    platform::test::capture_console(&r.out);
    r.status = area_main(args);
    platform::test::capture_console(nullptr);
    return r;
}

// The image the reader makes of an EPN text.
std::string image_of(const std::string& epn) {
    reader::Piece piece;
    int32_t reversed = 0, rotated = 0;
    EXPECT_EQ(reader::epn_parse({reinterpret_cast<const uint8_t*>(epn.data()), epn.size()}, reversed, rotated, piece), reader::EpnStatus::Ok);
    return {piece.image.begin(), piece.image.end()};
}

std::string square_image(int variant) {
    testing::EpnFile f = testing::epn_example_square();
    f.points[1].x = 100 + variant;  // distinct images
    return image_of(testing::epn_text(f));
}

std::set<std::string> kinds(const ToolRun& check) {
    std::set<std::string> out;
    const auto json = testing::parse_json(check.out);
    EXPECT_TRUE(json.has_value()) << check.out;
    if (!json) return out;
    for (const auto& p : (*json)["problems"].array) out.insert(p["kind"].string);
    return out;
}

std::string names(const Images& images) {
    std::string s;
    for (const auto& [name, image] : images) s += name + " ";
    return s;
}

std::string describe(const ToolRun& r) { return "status " + std::to_string(r.status) + ":\n" + r.out; }

// Ten pieces in two piece files (aaa full, aab with two), one replaced:
// eleven entries, marks carried and sorted as after an import.
struct ToolArea : writer::test::AreaFixture {
    Images expect;

    void SetUp() override {
        platform::test::set_sleep_scale(0);
        ASSERT_EQ(writer::epn_area_clear(area), 1);
        for (int i = 0; i < 10; ++i) {
            const std::string name = "P" + std::to_string(i);
            expect[name] = square_image(i);
            ASSERT_TRUE(store(name, expect[name]).ok());
        }
        expect["P3"] = square_image(33);
        ASSERT_TRUE(store("P3", expect["P3"]).ok());
        writer::epn_mark_superseded(area);
        ASSERT_EQ(writer::epn_ctl_sort(area), writer::SortStatus::Ok);
    }
    void TearDown() override {
        for (const std::string& n : testing::list_dir(data)) platform::set_attributes(file(n), 0);
        platform::test::set_sleep_scale(1);
    }

    ToolRun check() { return tool({"check", "F:TEST", "--json"}); }
    void put(const std::string& name, const std::string& bytes) { write_file(file(name), bytes); }
    // Changes bytes of an area file in place.
    void patch(const std::string& name, size_t at, const std::string& bytes) {
        std::string b = this->bytes(name);
        b.replace(at, bytes.size(), bytes);
        put(name, b);
    }
};

TEST_F(ToolArea, SoundAreaHasNoProblems) {
    const ToolRun r = check();
    EXPECT_EQ(r.status, kExitOk) << describe(r);
    EXPECT_TRUE(kinds(r).empty());
    const ToolRun plain = tool({"check", "F:TEST"});
    EXPECT_EQ(plain.status, kExitOk);
    EXPECT_NE(plain.out.find("Bereich in Ordnung"), std::string::npos) << plain.out;
    // Repair leaves a sound area as it is, to the byte.
    std::map<std::string, std::string> before;
    for (const std::string& n : testing::list_dir(data)) before[n] = bytes(n);
    EXPECT_EQ(tool({"repair", "F:TEST"}).status, kExitOk);
    std::map<std::string, std::string> after;
    for (const std::string& n : testing::list_dir(data)) after[n] = bytes(n);
    EXPECT_TRUE(after == before);
}

struct Damage {
    const char* kind;                          // what check must report
    std::function<void(ToolArea&)> apply;
    bool repairable = true;
    std::set<std::string> lost;                // pieces whose image is gone
    Images gained;                             // pieces a repair brings into the control file

    Damage(const char* k, std::function<void(ToolArea&)> f, bool r = true, std::set<std::string> l = {},
           Images g = {})
        : kind(k), apply(std::move(f)), repairable(r), lost(std::move(l)), gained(std::move(g)) {}
};

std::string le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }

std::vector<Damage> damages() {
    const size_t ctlSize = 12 * 64;  // eleven entries and the trailer
    const size_t trailer = 11 * 64;
    return {
        {"ctl_missing", [](ToolArea& a) { testing::remove_file(a.file("piece.ctl")); }},
        {"ctl_short", [](ToolArea& a) { a.put("piece.ctl", a.bytes("piece.ctl").substr(0, 10)); }},
        {"ctl_length", [](ToolArea& a) { a.put("piece.ctl", a.bytes("piece.ctl") + "junk!"); }},
        {"ctl_no_trailer", [=](ToolArea& a) { a.put("piece.ctl", a.bytes("piece.ctl").substr(0, ctlSize - 64)); }},
        {"ctl_after_trailer", [](ToolArea& a) { a.put("piece.ctl", a.bytes("piece.ctl") + a.bytes("piece.ctl").substr(0, 64)); }},
        {"entry_bad_place", [](ToolArea& a) { a.patch("piece.ctl", 20, "A{a"); }},
        {"trailer_next_place", [=](ToolArea& a) { a.patch("piece.ctl", trailer + 3, std::string(1, '\5')); }},
        {"trailer_count", [=](ToolArea& a) { a.patch("piece.ctl", trailer + 4, le16(9)); }},
        {"pce_missing", [](ToolArea& a) { testing::remove_file(a.file("pieceaab.pce")); }, true, {"P3", "P8", "P9"}},
        {"slot_missing",
         [](ToolArea& a) {
             // Cut after the first image: slot 1's image is gone.
             const std::string b = a.bytes("pieceaab.pce");
             a.put("pieceaab.pce", b.substr(0, 528 + a.expect["P8"].size()));
         },
         true, {"P3", "P9"}},
        // Cut in the middle of an image, and bytes after the last image:
        // kept whole as a .bak, cut back to the whole images.
        {"pce_length",
         [](ToolArea& a) { a.put("pieceaab.pce", a.bytes("pieceaab.pce").substr(0, 528 + a.expect["P8"].size() + 9)); },
         true, {"P3", "P9"}},
        {"pce_length", [](ToolArea& a) { a.put("pieceaaa.pce", a.bytes("pieceaaa.pce") + "junk"); }},
        {"pce_length", [](ToolArea& a) { a.put("pieceaab.pce", a.bytes("pieceaab.pce").substr(0, 600)); },
         true, {"P3", "P8", "P9"}},
        // A name that differs is left for the user: either may be right.
        {"dir_mismatch", [](ToolArea& a) { a.patch("pieceaaa.pce", 16 + 64 * 5 + 8, "Q"); }, false},
        // A length that differs: the directory's chain is what the file holds.
        {"dir_mismatch", [](ToolArea& a) { a.patch("piece.ctl", 2 * 64 + 34, std::string("\x10\x01\0\0", 4)); }},
        {"dir_state", [](ToolArea& a) { a.patch("pieceaaa.pce", 16 + 64 * 3 + 28, le16(0)); }},
        {"image_bad", [](ToolArea& a) { a.patch("pieceaaa.pce", 528 + 79, "C"); }, false},
        {"name_twice",
         [=](ToolArea& a) {
             // The superseded P3 is the last entry: made valid again.
             a.patch("piece.ctl", 10 * 64 + 24, le16(0));
             a.patch("piece.ctl", trailer + 4, le16(11));
         }},
        {"leftover", [](ToolArea& a) { a.put("piece.ct$", a.bytes("piece.ctl")); }},
        // A backup that is no copy of an update: set aside, nothing lost.
        {"backup_unsound", [](ToolArea& a) { a.put("pieceaaa.pc$", "not a piece file"); }},
        // Files an import must change, refused: nothing to repair.
        {"read_only", [](ToolArea& a) { platform::set_attributes(a.file("piece.ctl"), platform::kAttrReadOnly); }, false},
        {"read_only", [](ToolArea& a) { platform::set_attributes(a.file("pieceaab.pce"), platform::kAttrReadOnly); },
         false},
        {"lock_stale",
         [](ToolArea& a) {
             a.put("teilimp.opn", "OK\n");
             platform::set_file_time(a.file("teilimp.opn"), platform::file_time_now() - 3600LL * 10000000);
         }},
        {"unsorted",
         [](ToolArea& a) {
             const std::string b = a.bytes("piece.ctl");
             a.put("piece.ctl", b.substr(64, 64) + b.substr(0, 64) + b.substr(128));
         }},
        // A piece file one piece ahead of the control file: the store
        // refuses the slot the trailer names, so the area would take no
        // more pieces; repair lists the piece.
        {"slot_unlisted",
         [](ToolArea& a) {
             const std::string ctl = a.bytes("piece.ctl");
             ASSERT_TRUE(a.store("EXTRA", square_image(77)).ok());
             a.put("piece.ctl", ctl);
         },
         true, {}, {{"EXTRA", square_image(77)}}},
        {"slot_unlisted",
         [=](ToolArea& a) {
             // P0's entry dropped and the count set to match.
             const std::string b = a.bytes("piece.ctl");
             a.put("piece.ctl", b.substr(64));
             a.patch("piece.ctl", trailer - 64 + 4, le16(9));
         }},
    };
}

// One test for each way of damage: check reports it; repair mends what it
// can, after which check finds nothing and the importer stores a piece.
struct DamagedArea : ToolArea, ::testing::WithParamInterface<size_t> {};

TEST_P(DamagedArea, IsReportedAndRepaired) {
    const Damage d = damages()[GetParam()];
    d.apply(*this);

    const ToolRun before = check();
    EXPECT_EQ(before.status, kExitProblems) << describe(before);
    EXPECT_EQ(kinds(before).count(d.kind), 1u) << describe(before);

    const ToolRun repair = tool({"repair", "F:TEST"});
    const ToolRun after = check();
    if (!d.repairable) {
        EXPECT_EQ(repair.status, kExitProblems) << describe(repair);
        EXPECT_EQ(kinds(after), std::set<std::string>{d.kind}) << describe(after);
        return;
    }
    EXPECT_EQ(repair.status, kExitOk) << describe(repair);
    EXPECT_EQ(after.status, kExitOk) << describe(after);
    if (std::string(d.kind) == "pce_length") {
        // The damaged piece file is kept whole beside the area.
        size_t kept = 0;
        for (const std::string& n : testing::list_dir(data))
            kept += n.rfind("piece", 0) == 0 && n.find(".pce.") != std::string::npos && n.ends_with(".bak");
        EXPECT_EQ(kept, 1u) << describe(repair);
    }
    // No piece that was still there is lost.
    Images want = expect;
    for (const std::string& n : d.lost) want.erase(n);
    for (const auto& [n, image] : d.gained) want[n] = image;
    EXPECT_TRUE(teilimp::testing::valid_images(data) == want) << names(teilimp::testing::valid_images(data));

    // The importer goes on with the repaired area.
    const std::string epnDir = root / "epn";
    testing::EpnFile f = testing::epn_example_square();
    f.name = "NEU";
    write_file(epnDir + "/neu.epn", testing::epn_text(f));
    const auto run = teilimp::testing::run_teilimp({"F:TEST", "neu.epn"}, {}, {}, epnDir);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Teil importiert als:NEU"), std::string::npos) << run.out;
    const ToolRun last = check();
    EXPECT_EQ(last.status, kExitOk) << describe(last);
    EXPECT_EQ(teilimp::testing::valid_images(data).size(), want.size() + 1);
}

INSTANTIATE_TEST_SUITE_P(EachWay, DamagedArea, ::testing::Range<size_t>(0, damages().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::to_string(info.param) + "_" + damages()[info.param].kind;
                         });

// Every image of the examples drawn: the base contour holds the stored points.
TEST_F(ToolArea, ShowDrawsEveryExampleWithItsStoredPoints) {
    const std::string dir = testing::build_path(TEILIMP_SOURCE_DIR) + "/examples/";
    int drawn = 0;
    for (const std::string& n : testing::list_dir(dir)) {
        if (n.size() < 4 || n.substr(n.size() - 4) != ".epn") continue;
        const std::string image = image_of(read_file(dir + n));
        const std::string name = "EX" + std::to_string(drawn++);
        ASSERT_TRUE(store(name, image).ok());
        reader::PieceModel decoded;
        reader::ImageFault fault;
        ASSERT_TRUE(reader::decode_piece({reinterpret_cast<const uint8_t*>(image.data()), image.size()}, nullptr,
                                         decoded, fault));
        std::string stored;
        for (const auto& p : decoded.contour)
            stored += (stored.empty() ? "" : " ") + std::to_string(p.x) + "," + std::to_string(p.y);

        const ToolRun r = tool({"show", "F:TEST", name});
        ASSERT_EQ(r.status, kExitOk) << n << ": " << r.out;
        const auto svg = testing::parse_xml(r.out);
        ASSERT_TRUE(svg) << n;
        size_t contours = 0;
        for (const auto* p : testing::find_all(*svg, "polygon")) {
            if (p->attributes.count("data-size") == 0) continue;
            ++contours;
            if (p->attributes.count("data-base") != 0) {
                EXPECT_EQ(p->attributes.at("points"), stored) << n;
            }
        }
        EXPECT_EQ(contours, decoded.sizes.size()) << n;
    }
    EXPECT_EQ(drawn, 5);
}

// Names that differ only after a NUL byte are two names, as for the
// importer: sound, left alone by repair, shown apart and found apart.
TEST_F(ToolArea, NamesDifferingAfterANulAreTwoNames) {
    const std::string inner("AB\0CD", 5);
    ASSERT_TRUE(store("AB", square_image(50)).ok());
    ASSERT_TRUE(store(inner, square_image(51)).ok());
    ASSERT_EQ(writer::epn_ctl_sort(area), writer::SortStatus::Ok);
    EXPECT_EQ(check().status, kExitOk) << describe(check());
    const std::string ctl = bytes("piece.ctl");
    EXPECT_EQ(tool({"repair", "F:TEST"}).status, kExitOk);
    EXPECT_EQ(bytes("piece.ctl"), ctl);

    const ToolRun list = tool({"list", "F:TEST"});
    EXPECT_NE(list.out.find("\nAB                   aab"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\nAB\\0CD               aab"), std::string::npos) << list.out;
    const ToolRun json = tool({"list", "F:TEST", "--json"});
    EXPECT_NE(json.out.find("\"name\":\"AB\\u0000CD\""), std::string::npos) << json.out;
    const auto parsed = testing::parse_json(json.out);
    ASSERT_TRUE(parsed.has_value());
    std::set<std::string> names;
    for (const auto& e : (*parsed)["entries"].array) names.insert(e["name"].string);
    EXPECT_EQ(names.count(inner), 1u);
    EXPECT_EQ(names.count("AB"), 1u);
    const ToolRun show = tool({"show", "F:TEST", "AB\\0CD"});
    EXPECT_EQ(show.status, kExitOk) << show.out;
    EXPECT_EQ(tool({"show", "F:TEST", "AB\\0XY"}).status, kExitProblems);
}

TEST_F(ToolArea, FreshLockIsReportedAndStopsTheRepair) {
    put("teilimp.opn", "OK\n");
    const ToolRun r = tool({"check", "F:TEST"});
    EXPECT_EQ(r.status, kExitProblems);
    EXPECT_NE(r.out.find("Die Pr\x81" "fung sperrt den Bereich nicht"), std::string::npos) << r.out;
    EXPECT_EQ(kinds(check()), std::set<std::string>{"lock_fresh"});
    // A mark not yet carried while a run holds the lock: said to come.
    patch("pieceaaa.pce", 16 + 64 * 3 + 28, le16(0));
    EXPECT_NE(tool({"check", "F:TEST"}).out.find("Zustand ersetzt in der Steuerdatei, g\x81ltig in pieceaaa.pce (noch nicht "
                                                 "\x81" "bertragen: das tut der n\x84" "chste Lauf oder teilarea repair)"),
              std::string::npos);
    patch("pieceaaa.pce", 16 + 64 * 3 + 28, le16(512));
    const ToolRun repair = tool({"repair", "F:TEST"});
    EXPECT_EQ(repair.status, kExitUnreadable);
    EXPECT_NE(repair.out.find("Zielbereich ist blockiert."), std::string::npos) << repair.out;
    EXPECT_TRUE(has("teilimp.opn"));  // another run's lock is left alone
    testing::remove_file(file("teilimp.opn"));
#ifndef _WIN32
    // A data directory that takes no file: the importer's text.
    const std::string before = bytes("piece.ctl");
    ASSERT_EQ(platform::set_attributes(data, platform::kAttrReadOnly), platform::kErrNone);
    EXPECT_EQ(kinds(check()), std::set<std::string>{"read_only"});
    const ToolRun refused = tool({"repair", "F:TEST"});
    platform::set_attributes(data, 0);
    EXPECT_EQ(refused.status, kExitUnreadable);
    EXPECT_NE(refused.out.find("Achtung: Zielbereich nicht beschreibbar: F:\\userroot\\storage\\TEST\\data\\\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(bytes("piece.ctl"), before);
#endif
}

TEST_F(ToolArea, AreaThatCannotBeReadGivesStatus2) {
    EXPECT_EQ(tool({"check", "F:NOWHERE"}).status, kExitUnreadable);
    EXPECT_EQ(tool({"list", "F:NOWHERE"}).status, kExitUnreadable);
    EXPECT_EQ(tool({"check"}).status, kExitUnreadable);  // usage
    const ToolRun tooLong = tool({"check", "F:TESTAREA01"});
    EXPECT_EQ(tooLong.status, kExitUnreadable);
    EXPECT_NE(tooLong.out.find("Bereich zu lang"), std::string::npos) << tooLong.out;
}

TEST_F(ToolArea, ListJsonParsesBackAsStored) {
    const ToolRun r = tool({"list", "F:TEST", "--json"});
    ASSERT_EQ(r.status, kExitOk);
    const auto json = testing::parse_json(r.out);
    ASSERT_TRUE(json.has_value()) << r.out;
    const auto& entries = (*json)["entries"].array;
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ((*json)["count"].number, 10);
    for (size_t k = 0; k < entries.size(); ++k) {
        const auto& e = entries[k];
        EXPECT_EQ(e["name"].string, "P" + std::to_string(k));  // sorted as piece.ctl
        EXPECT_EQ(e["state"].string, "valid");
        EXPECT_EQ(e["length"].number, static_cast<double>(expect[e["name"].string].size()));
        EXPECT_EQ(e["kind"].string, "closed");
        EXPECT_EQ(e["sizes"].number, 2);
        EXPECT_EQ(e["base_size"].string, "38");
        EXPECT_EQ(e["perimeter_points"].number, 5);
        EXPECT_EQ(e["time"].string.size(), 19u);
    }
    // P3's new image went to aab slot 2 (the eleventh place).
    EXPECT_EQ(entries[3]["file_code"].string, "aab");
    EXPECT_EQ(entries[3]["slot"].number, 2);

    const auto all = testing::parse_json(tool({"list", "F:TEST", "--all", "--json"}).out);
    ASSERT_TRUE(all.has_value());
    ASSERT_EQ((*all)["entries"].array.size(), 11u);
    EXPECT_EQ((*all)["entries"][10]["state"].string, "superseded");
    EXPECT_EQ((*all)["entries"][10]["file_code"].string, "aaa");
    EXPECT_EQ((*all)["entries"][10]["slot"].number, 3);

    const ToolRun text = tool({"list", "F:TEST"});
    EXPECT_NE(text.out.find("10 Teile"), std::string::npos) << text.out;
}

// The square: points (0,0) (0,1000) (1000,1000) (1000,0) (0,0) in the stored
// unit; point 1 carries rule 1, which moves it by (50,-50) from size 36 to
// the base size 38.
TEST_F(ToolArea, ShowDrawsOneContourPerSizeWithTheStoredPoints) {
    testing::EpnFile f = testing::epn_example_square();
    f.name = "SQUARE";
    f.text1 = "Schnitt";
    f.points.push_back(testing::inner(8, 30, 60));  // a drill hole
    ASSERT_TRUE(store("SQUARE", image_of(testing::epn_text(f))).ok());
    const std::string svgPath = root / "square.svg";
    const ToolRun r = tool({"show", "F:TEST", "square", "-o", svgPath});
    ASSERT_EQ(r.status, kExitOk) << r.out;
    const auto svg = testing::parse_xml(read_file(svgPath));
    ASSERT_TRUE(svg) << read_file(svgPath);
    std::map<std::string, std::string> contours, colours;
    std::string base, baseWidth;
    for (const auto* p : testing::find_all(*svg, "polygon")) {
        if (p->attributes.at("class").find("contour") == std::string::npos) continue;
        contours[p->attributes.at("data-size")] = p->attributes.at("points");
        colours[p->attributes.at("data-size")] = p->attributes.at("stroke");
        if (p->attributes.count("data-base") != 0) {
            base = p->attributes.at("data-size");
            baseWidth = p->attributes.at("stroke-width");
        }
    }
    // The legend tells the outlines apart: one swatch per size, in its colour.
    std::map<std::string, std::string> legend;
    for (const auto* r : testing::find_all(*svg, "rect")) legend[r->attributes.at("data-size")] = r->attributes.at("fill");
    EXPECT_EQ(legend, colours);
    EXPECT_NE(colours["36"], colours["38"]);
    // The drill hole: a cross of two diagonals around its point (300,600).
    const auto holes = testing::find_all(*svg, "path");
    ASSERT_EQ(holes.size(), 1u);
    EXPECT_EQ(holes[0]->attributes.at("class"), "drill-hole");
    double v[8];
    ASSERT_EQ(std::sscanf(holes[0]->attributes.at("d").c_str(), "M%lf,%lf L%lf,%lf M%lf,%lf L%lf,%lf", &v[0], &v[1],
                          &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]), 8);
    EXPECT_EQ(v[0] + v[2], 600);
    EXPECT_EQ(v[1] + v[3], 1200);
    EXPECT_EQ(v[4] + v[6], 600);
    EXPECT_EQ(v[5] + v[7], 1200);
    EXPECT_GT(v[2] - v[0], 0);
    EXPECT_EQ(v[2] - v[0], v[5] - v[7]);
    ASSERT_EQ(contours.size(), 2u);
    EXPECT_EQ(base, "38");
    EXPECT_EQ(contours["38"], "0,0 0,1000 1000,1000 1000,0 0,0");
    // The closing point repeats the first but carries no rule: it stays.
    EXPECT_EQ(contours["36"], "-50,50 0,1000 1000,1000 1000,0 0,0");
    EXPECT_EQ(testing::find_all(*svg, "line").size(), 1u);  // the one notch
    std::string title;
    for (const auto* t : testing::find_all(*svg, "text")) title += t->text + "\n";
    EXPECT_NE(title.find("Teil SQUARE"), std::string::npos) << title;
    EXPECT_NE(title.find("SCHNITT"), std::string::npos) << title;
    EXPECT_NE(title.find("Gr\xc3\xb6\xc3\x9f" "en: 36 38, Basisgr\xc3\xb6\xc3\x9f" "e 38"), std::string::npos) << title;
    bool grain = false;
    for (const auto* l : testing::find_all(*svg, "polyline")) grain |= l->attributes.at("class") == "grain-line";
    EXPECT_TRUE(grain);

    // One size only, to standard output.
    const ToolRun one = tool({"show", "F:TEST", "SQUARE", "--size", "36"});
    ASSERT_EQ(one.status, kExitOk);
    const auto svg36 = testing::parse_xml(one.out);
    ASSERT_TRUE(svg36) << one.out;
    // Drawn alone and strong (black, the base size's width), named in the title.
    std::vector<const testing::XmlElement*> alone;
    for (const auto* p : testing::find_all(*svg36, "polygon"))
        if (p->attributes.count("data-size") != 0) alone.push_back(p);
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone[0]->attributes.at("data-size"), "36");
    EXPECT_EQ(alone[0]->attributes.at("stroke"), "#000000");
    EXPECT_EQ(alone[0]->attributes.at("stroke-width"), baseWidth);
    EXPECT_TRUE(testing::find_all(*svg36, "rect").empty());
    std::string title36;
    for (const auto* t : testing::find_all(*svg36, "text")) title36 += t->text + "\n";
    EXPECT_NE(title36.find("Teil SQUARE, Gr\xc3\xb6\xc3\x9f" "e 36\n"), std::string::npos) << title36;
    EXPECT_EQ(tool({"show", "F:TEST", "SQUARE", "--size", "50"}).status, kExitProblems);
    EXPECT_EQ(tool({"show", "F:TEST", "NIX"}).status, kExitProblems);
}

TEST_F(ToolArea, EpnReportsWhatTheImporterWouldDo) {
    testing::EpnFile f = testing::epn_example_square();
    const std::string good = root / "gut.epn", bad = root / "schlecht.epn";
    write_file(good, testing::epn_text(f));
    f.points[1].y = 300000000;  // out of range on line 3
    write_file(bad, testing::epn_text(f));
    ToolRun r = tool({"epn", good});
    EXPECT_EQ(r.status, kExitOk) << r.out;
    EXPECT_NE(r.out.find("Teil: QUADRAT"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Punkte: 5 Kontur, 2 auf 1 Linie(n)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Gr\x94\xe1" "en: 36 38 (Basis 38)"), std::string::npos) << r.out;
    r = tool({"epn", good, bad});
    EXPECT_EQ(r.status, kExitProblems);
    // A pattern names both files (a Windows shell passes it on unexpanded).
    const ToolRun pattern = tool({"epn", root / "*.epn"});
    EXPECT_EQ(pattern.status, kExitProblems);
    EXPECT_NE(pattern.out.find("gut.epn"), std::string::npos) << pattern.out;
    EXPECT_NE(pattern.out.find("schlecht.epn"), std::string::npos) << pattern.out;
    EXPECT_NE(r.out.find("Fehler beim Konvertieren:    11"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Zeile 3"), std::string::npos) << r.out;
    // The strict reading and the base-size warning, as the importer has them.
    f.points[1].y = 100;
    f.baseSize = "42";
    std::string text = testing::epn_text(f);
    write_file(good, text);
    write_file(bad, text.replace(text.find("       100"), 10, "       1O0"));
    r = tool({"epn", good, bad});
    r.out = teilimp::testing::in_lines(r.out);  // "\r\n" on Windows
    EXPECT_NE(r.out.find("Datei: " + good + "\n   Achtung: Basisgr\x94\xE1" "e nicht unter den Gr\x94\xE1" "en (Zeile 10)"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Fehler beim Konvertieren:    13\n   (Zeile 3: Zahl unlesbar)"), std::string::npos) << r.out;
}

// A damaged area in which repair has every step to do: the control file
// cut, a mark not carried (the rebuilt file then names P3 valid twice),
// leftovers of a dead run.
struct RepairSweep : ToolArea {
    std::map<std::string, std::string> damaged;

    void SetUp() override {
        ToolArea::SetUp();
        patch("pieceaaa.pce", 16 + 64 * 3 + 28, le16(0));
        put("piece.ctl", bytes("piece.ctl").substr(0, 200));
        put("pieceaab.pce.tmp", "half a new version");
        for (const std::string& n : testing::list_dir(data)) damaged[n] = bytes(n);
    }
    void reset() {
        for (const std::string& n : testing::list_dir(data)) testing::remove_file(file(n));
        for (const auto& [n, b] : damaged) put(n, b);
    }
    // After a failed or killed repair: a stale lock is removed by the next
    // run, here at once; then a repair must finish the work.
    void finish(int64_t k) {
        testing::remove_file(file("teilimp.opn"));
        const ToolRun again = tool({"repair", "F:TEST"});
        ASSERT_EQ(again.status, kExitOk) << "at operation " << k << ": " << describe(again);
        ASSERT_TRUE(teilimp::testing::valid_images(data) == expect) << "at operation " << k;
        const ToolRun c = check();
        ASSERT_EQ(c.status, kExitOk) << "at operation " << k << ": " << describe(c);
    }
    int64_t count_operations() {
        reset();
        platform::test::reset_file_ops();
        const ToolRun r = tool({"repair", "F:TEST"});
        const int64_t n = platform::test::file_ops_counted();
        EXPECT_EQ(r.status, kExitOk) << describe(r);
        EXPECT_TRUE(teilimp::testing::valid_images(data) == expect);
        return n;
    }
};

TEST_F(RepairSweep, EveryOperationMayFail) {
    const int64_t ops = count_operations();
    ASSERT_GT(ops, 10);
    for (int64_t k = 1; k <= ops; ++k) {
        reset();
        platform::test::reset_file_ops();
        platform::test::set_fault_at(k);
        tool({"repair", "F:TEST"});
        platform::test::set_fault_at(0);
        finish(k);
        if (HasFatalFailure()) return;
    }
}

// Set for the child process of CrashAnywhereThenRepairAgain: the operation
// at which it crashes. The area is the parent's, on the drive it mapped.
constexpr const char* kRepairCrashAt = "TEILIMP_TEST_REPAIR_CRASH_AT";

TEST(RepairChild, RepairUntilCrash) {
    const char* at = std::getenv(kRepairCrashAt);
    if (at == nullptr) GTEST_SKIP() << "only the child process of RepairSweep.CrashAnywhereThenRepairAgain runs this";
    platform::test::reset_file_ops();
    platform::test::set_crash_at(std::strtoll(at, nullptr, 10));
    tool({"repair", "F:TEST"});
}

TEST_F(RepairSweep, CrashAnywhereThenRepairAgain) {
    const int64_t ops = count_operations();
    for (int64_t k = 1; k <= ops; ++k) {
        reset();
        // The repair in a program of its own that the crash ends: this test
        // program again, running only the child's part.
        const testing::RunResult child =
            testing::run_self("RepairChild.RepairUntilCrash", {{kRepairCrashAt, std::to_string(k)}});
        ASSERT_TRUE(child.killed || k + 3 > ops) << "operation " << k << ": exit " << child.exitCode;
        finish(k);
        if (HasFatalFailure()) return;
    }
}

// Every kind of import through the importer leaves an area check finds sound.
TEST_F(ToolArea, NoFalseAlarmAfterAnyImport) {
    const std::string epnDir = root / "epn";
    testing::make_dirs(epnDir);
    for (const std::string& n : testing::list_dir(testing::build_path(TEILIMP_SOURCE_DIR) + "/examples"))
        if (n.size() > 4 && n.substr(n.size() - 4) == ".epn")
            write_file(epnDir + "/" + n, read_file(testing::build_path(TEILIMP_SOURCE_DIR) + "/examples/" + n));
    write_file(epnDir + "/kaputt.epn", "kein EPN\r\n");
    // Patterns as typed in the EPN directory.
    const std::string all = "*.epn";
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{"F:TEST", "/d"}, "j\n"},          {{"F:TEST", all}, ""},
        {{"F:TEST", all, "/s1"}, ""},        {{"F:TEST", all, "/n"}, ""},
        {{"F:TEST", all, "/f"}, "j\nn\nn\nj\nn\n"}, {{"F:TEST", all, "/f"}, "a\n"},
        {{"F:TEST", "k*.epn", "/l"}, ""}, {{"F:TEST", "/d"}, "j\n"},
        {{"F:TEST", all}, ""},
    };
    for (const auto& [args, input] : runs) {
        const auto run = teilimp::testing::run_teilimp(args, {}, input, epnDir);
        ASSERT_LE(run.exitCode, 1) << run.out;  // 1: kaputt.epn was not importable
        const ToolRun c = check();
        EXPECT_EQ(c.status, kExitOk) << run.out << args[1] << (args.size() > 2 ? " " + args[2] : "") << ": " << describe(c);
    }
    EXPECT_EQ(teilimp::testing::valid_images(data).size(), 4u);  // kragen.epn went with /l
}

// Help and version end with 0; an argument the tool does not know is
// named; a missing area says where it was looked for.
TEST_F(ToolArea, HelpUnknownArgumentsAndMissingAreas) {
    const auto out = [](const std::vector<std::string>& args) { return teilimp::testing::in_lines(tool(args).out); };
    for (const char* form : {"--help", "/?"}) {
        const ToolRun r = tool({"show", "F:TEST", form});
        EXPECT_EQ(r.status, kExitOk) << form;
        EXPECT_EQ(teilimp::testing::in_lines(r.out).rfind("Aufruf:\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("teilarea --help | --version"), std::string::npos) << r.out;
    }
    EXPECT_EQ(out({"--version"}), "teilarea " + std::string(util::version()) + "\n");
    const std::string usage = out({"--help"});
    for (std::vector<std::string> args : {std::vector<std::string>{"lsit"}, {"list", "F:TEST", "--jsn"},
                                          {"show", "F:TEST", "P1", "P2"}}) {
        EXPECT_EQ(tool(args).status, kExitUnreadable);
        EXPECT_EQ(out(args), "teilarea: unbekanntes Argument: " + args.back() + "\n" + usage);
    }
    const bool posix = teilimp::testing::posix_system();
    EXPECT_EQ(out({"check", "F:NOWHERE"}), "Bereich nicht lesbar: Verzeichnis F:\\userroot\\storage\\NOWHERE\\data\\ fehlt\n" +
                         (posix ? "   (" + root / "userroot/storage/NOWHERE/data)\n" : std::string()));
    EXPECT_EQ(out({"show", "Q:TEST", "P1"}), "Bereich nicht lesbar: Verzeichnis Q:\\userroot\\storage\\TEST\\data\\ fehlt\n" +
                         std::string(posix ? "   (Laufwerk Q: ist nicht zugeordnet: TEILIMP_DRIVE_Q setzen)\n" : ""));
}

// A name typed in a UTF-8 terminal finds the piece list shows as ÄRMEL
// (stored in code page 850).
TEST_F(ToolArea, PieceNamesTypedInAUtf8Terminal) {
    ASSERT_TRUE(store("\x8eRMEL", square_image(5)).ok());
    // As the terminal passes it: UTF-8 under a UTF-8 locale, the ANSI code
    // page on Windows.
    const bool posix = teilimp::testing::posix_system();
    const std::string typed = posix ? "\xC3\x84RMEL" : "\xC4RMEL";
    {
        testing::ScopedEnv utf8("LC_ALL", "de_DE.UTF-8");
        EXPECT_EQ(tool({"show", "F:TEST", typed}).status, kExitOk);
    }
    testing::ScopedEnv plain("LC_ALL", "C");
    EXPECT_EQ(tool({"show", "F:TEST", typed}).status, posix ? kExitProblems : kExitOk);
}

}  // namespace
}  // namespace teilimp::area_tool

namespace teilimp::area_tool {
namespace {

// An area of re-imports: ten pieces, six of them replaced twice more, 23
// entries in three piece files, 13 of them superseded.
struct CompactArea : ToolArea {
    std::map<std::string, std::string> before;

    void SetUp() override {
        ToolArea::SetUp();
        for (int round = 1; round <= 2; ++round)
            for (int i = 0; i < 6; ++i) {
                const std::string name = "P" + std::to_string(i);
                expect[name] = square_image(100 * round + i);
                ASSERT_TRUE(store(name, expect[name]).ok());
            }
        writer::epn_mark_superseded(area);
        ASSERT_EQ(writer::epn_ctl_sort(area), writer::SortStatus::Ok);
        ASSERT_EQ(check().status, kExitOk);
        for (const std::string& n : testing::list_dir(data)) before[n] = bytes(n);
    }
    void reset() {
        platform::remove_tree(data);
        testing::make_dirs(data);
        for (const auto& [n, b] : before) put(n, b);
    }
    std::map<std::string, int64_t> stamps() {
        std::map<std::string, int64_t> out;
        const auto json = testing::parse_json(tool({"list", "F:TEST", "--json"}).out);
        for (const auto& e : (*json)["entries"].array) out[e["name"].string] = static_cast<int64_t>(e["stamp"].number);
        return out;
    }
    // The area as before the compaction or as after it, never between.
    void before_or_after(const std::string& what) {
        const ToolRun c = check();
        ASSERT_EQ(c.status, kExitOk) << what << ": " << describe(c);
        ASSERT_TRUE(teilimp::testing::valid_images(data) == expect) << what;
        const size_t ctl = bytes("piece.ctl").size();
        ASSERT_TRUE(ctl == 24 * 64 || ctl == 11 * 64) << what << ": " << ctl;
        ASSERT_EQ(has("pieceaac.pce"), ctl == 24 * 64) << what;
    }
};

TEST_F(CompactArea, DropsSupersededPiecesAndTheAreaGoesOn) {
    const auto stampsBefore = stamps();
    ToolRun r = tool({"compact", "F:TEST"});
    EXPECT_EQ(r.status, kExitOk) << describe(r);
    EXPECT_EQ(teilimp::testing::in_lines(r.out), "Verdichtet: 13 ersetzte Eintr\x84ge entfernt, 2 Teiledateien statt 3.\n");
    before_or_after("compacted");
    EXPECT_EQ(bytes("piece.ctl").size(), 11u * 64);
    EXPECT_EQ(stamps(), stampsBefore);  // same names, same stamps
    EXPECT_EQ(testing::list_dir(data), (std::vector<std::string>{"piece.ctl", "pieceaaa.pce", "pieceaab.pce"}));

    const std::string ctl = bytes("piece.ctl");
    r = tool({"compact", "F:TEST"});
    EXPECT_EQ(teilimp::testing::in_lines(r.out), "Nichts zu verdichten.\n");
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_EQ(tool({"repair", "F:TEST"}).status, kExitOk);
    EXPECT_EQ(bytes("piece.ctl"), ctl);

    // Imports go on at the place after the last piece.
    const std::string epnDir = root / "epn";
    testing::EpnFile f = testing::epn_example_square();
    f.name = "NEU";
    write_file(epnDir + "/neu.epn", testing::epn_text(f));
    const auto run = teilimp::testing::run_teilimp({"F:TEST", "neu.epn"}, {}, {}, epnDir);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(check().status, kExitOk);
    EXPECT_EQ(teilimp::testing::valid_images(data).size(), 11u);

    // An area check does not call sound is left alone.
    patch("piece.ctl", 11 * 64 + 4, le16(3));
    const std::string damaged = bytes("piece.ctl");
    r = tool({"compact", "F:TEST"});
    EXPECT_EQ(r.status, kExitUnreadable);
    EXPECT_EQ(teilimp::testing::in_lines(r.out), "Achtung: Bereich nicht in Ordnung: erst teilarea repair aufrufen.\n");
    EXPECT_EQ(bytes("piece.ctl"), damaged);
}

// A compaction cut off: the importer stops, check says so, /d clears all.
TEST_F(CompactArea, UnfinishedCompactionStopsTheImporter) {
    testing::make_dirs(data + "/compact.new");
    write_file(data + "/compact.new/pieceaaa.pce", "half");
    EXPECT_EQ(kinds(check()), std::set<std::string>{"compaction_unfinished"});
    const std::string epnDir = root / "epn";
    testing::EpnFile f = testing::epn_example_square();
    write_file(epnDir + "/neu.epn", testing::epn_text(f));
    auto run = teilimp::testing::run_teilimp({"F:TEST", "neu.epn", "/s1"}, {}, {}, epnDir);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "Achtung: Verdichtung nicht beendet: teilarea repair aufrufen.\nStop - Program terminated.\n");
    EXPECT_FALSE(has("teilimp.opn"));
    // Committed, but a control file was made since (an older importer's
    // clear): the clear stands, the compaction is dropped.
    write_file(data + "/compact.new/piece.old", before["piece.ctl"]);
    write_file(data + "/compact.new/piece.ctl", before["piece.ctl"].substr(0, 64));
    EXPECT_EQ(tool({"repair", "F:TEST"}).status, kExitOk);
    EXPECT_EQ(testing::list_dir(data), (std::vector<std::string>{"piece.ctl", "pieceaaa.pce", "pieceaab.pce", "pieceaac.pce"}));
    EXPECT_EQ(bytes("piece.ctl"), before["piece.ctl"]);
    testing::make_dirs(data + "/compact.new");
    run = teilimp::testing::run_teilimp({"F:TEST", "/d", "/s1"}, {}, "j\n", epnDir);
    EXPECT_EQ(testing::list_dir(data), std::vector<std::string>{"piece.ctl"}) << run.out;
}

TEST_F(CompactArea, EveryOperationMayFail) {
    reset();
    platform::test::reset_file_ops();
    ASSERT_EQ(tool({"compact", "F:TEST"}).status, kExitOk);
    const int64_t ops = platform::test::file_ops_counted();
    ASSERT_GT(ops, 10);
    for (int64_t k = 1; k <= ops; ++k) {
        reset();
        platform::test::reset_file_ops();
        platform::test::set_fault_at(k);
        tool({"compact", "F:TEST"});
        platform::test::set_fault_at(0);
        testing::remove_file(file("teilimp.opn"));
        // The next repair or compact settles it: every other one each.
        const ToolRun again = tool({k % 2 == 0 ? "repair" : "compact", "F:TEST"});
        ASSERT_NE(again.status, kExitUnreadable) << "operation " << k << ": " << describe(again);
        before_or_after("operation " + std::to_string(k));
    }
}

constexpr const char* kCompactCrashAt = "TEILIMP_TEST_COMPACT_CRASH_AT";

TEST(CompactChild, CompactUntilCrash) {
    const char* at = std::getenv(kCompactCrashAt);
    if (at == nullptr) GTEST_SKIP() << "only the child process of CompactArea.CrashAnywhereThenRepair runs this";
    platform::test::reset_file_ops();
    platform::test::set_crash_at(std::strtoll(at, nullptr, 10));
    tool({"compact", "F:TEST"});
}

TEST_F(CompactArea, CrashAnywhereThenRepair) {
    reset();
    platform::test::reset_file_ops();
    ASSERT_EQ(tool({"compact", "F:TEST"}).status, kExitOk);
    const int64_t ops = platform::test::file_ops_counted();
    for (int64_t k = 1; k <= ops; ++k) {
        if (!testing::sweep_point(k)) continue;
        reset();
        const testing::RunResult child =
            testing::run_self("CompactChild.CompactUntilCrash", {{kCompactCrashAt, std::to_string(k)}});
        ASSERT_TRUE(child.killed || k + 3 > ops) << "operation " << k << ": exit " << child.exitCode;
        testing::remove_file(file("teilimp.opn"));
        const ToolRun again = tool({k % 2 == 0 ? "repair" : "compact", "F:TEST"});
        ASSERT_NE(again.status, kExitUnreadable) << "operation " << k << ": " << describe(again);
        before_or_after("operation " + std::to_string(k));
    }
}

// Every byte of code page 850 in a JSON string reads back as its character,
// and in a name as shown reads back as itself, wherever it stands among
// plain ones.
TEST(ToolText, EveryByteSurvivesJsonAndTheShownName) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += {'a', static_cast<char>(c), static_cast<char>(c)};
    const auto parsed = testing::parse_json("[" + json_string(all) + "]");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ((*parsed)[0].string, platform::cp850_to_utf8(all));
    for (size_t at = 0; at < all.size(); at += 19) {
        // The last byte stays plain: trailing NULs are padding, not name.
        const writer::PieceName name = writer::make_piece_name(all.substr(at, 19) + "z");
        EXPECT_EQ(name_from_shown(name_shown(name)), name) << at;
    }
}

}  // namespace
}  // namespace teilimp::area_tool
