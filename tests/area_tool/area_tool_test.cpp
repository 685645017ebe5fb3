// The area tool against real areas: sound ones after every kind of import,
// areas damaged in each way check knows, repair of each, its output formats,
// and faults and crashes in the middle of a repair.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "area_tool/tool.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "reader/piece_image.h"
#include "support/epn_builder.h"
#include "support/mini_parse.h"
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
    EXPECT_EQ(reader::epn_parse({reinterpret_cast<const uint8_t*>(epn.data()), epn.size()}, reversed, rotated, piece), 0);
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
        ASSERT_EQ(writer::epn_ctl_sort(area), 0);
    }
    void TearDown() override { platform::test::set_sleep_scale(1); }

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

TEST_F(ToolArea, FreshLockIsReportedAndStopsTheRepair) {
    put("teilimp.opn", "OK\n");
    const ToolRun r = tool({"check", "F:TEST"});
    EXPECT_EQ(r.status, kExitProblems);
    EXPECT_NE(r.out.find("Die Pr\x81" "fung sperrt den Bereich nicht"), std::string::npos) << r.out;
    EXPECT_EQ(kinds(check()), std::set<std::string>{"lock_fresh"});
    const ToolRun repair = tool({"repair", "F:TEST"});
    EXPECT_EQ(repair.status, kExitUnreadable);
    EXPECT_NE(repair.out.find("Zielbereich ist blockiert."), std::string::npos) << repair.out;
    EXPECT_TRUE(has("teilimp.opn"));  // another run's lock is left alone
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
    ASSERT_TRUE(store("SQUARE", image_of(testing::epn_text(f))).ok());
    const std::string svgPath = root / "square.svg";
    const ToolRun r = tool({"show", "F:TEST", "square", "-o", svgPath});
    ASSERT_EQ(r.status, kExitOk) << r.out;
    const auto svg = testing::parse_xml(read_file(svgPath));
    ASSERT_TRUE(svg) << read_file(svgPath);
    std::map<std::string, std::string> contours;
    std::string base;
    for (const auto* p : testing::find_all(*svg, "polygon")) {
        if (p->attributes.at("class").find("contour") == std::string::npos) continue;
        contours[p->attributes.at("data-size")] = p->attributes.at("points");
        if (p->attributes.count("data-base") != 0) base = p->attributes.at("data-size");
    }
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
    size_t n = 0;
    for (const auto* p : testing::find_all(*svg36, "polygon")) n += p->attributes.count("data-size");
    EXPECT_EQ(n, 1u);
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

}  // namespace
}  // namespace teilimp::area_tool
