// Entering pieces in the control file and storing their images.
#include <gtest/gtest.h>

#include "area_fixture.h"
#include "platform/platform.h"
#include "writer/sort.h"
#include "writer/stamped.h"

#include <map>
#include <string>
#include <vector>

namespace teilimp::writer::test {
namespace {

using teilimp::testing::write_file;

std::string entry_at(const std::string& ctl, size_t k) { return ctl.substr(64 * k, 64); }
int32_t i32(const std::string& s, size_t at) {
    return get_i32(reinterpret_cast<const uint8_t*>(s.data()) + at);
}
int16_t i16(const std::string& s, size_t at) {
    return get_i16(reinterpret_cast<const uint8_t*>(s.data()) + at);
}
std::string trailer_bytes(const std::string& code, uint8_t slot, int16_t valid) {
    std::string t(64, '\0');
    t.replace(0, 3, code);
    t[3] = static_cast<char>(slot);
    t[4] = static_cast<char>(valid & 0xFF);
    t[5] = static_cast<char>((valid >> 8) & 0xFF);
    t[59] = 3;
    return t;
}

using Store = AreaFixture;

TEST_F(Store, ClearedAreaThenFirstPiece) {
    ASSERT_EQ(epn_area_clear(area), 1);
    EXPECT_EQ(bytes("piece.ctl"), trailer_bytes("aaa", 0, 0));

    const std::string img = image_bytes(300, 1);
    Stored s = store("P1", img);
    ASSERT_TRUE(s.ok()) << number(s.ctl) << " " << number(s.pce);
    EXPECT_EQ(s.code, (FileCode{'a', 'a', 'a'}));
    EXPECT_EQ(s.slot, 1);

    const std::string ctl = bytes("piece.ctl");
    ASSERT_EQ(ctl.size(), 128u);
    const std::string e = entry_at(ctl, 0);
    EXPECT_EQ(e.substr(0, 20), std::string("P1") + std::string(18, '\0'));
    EXPECT_EQ(e.substr(20, 4), std::string("aaa") + '\0');
    EXPECT_EQ(i16(e, 24), 0);
    EXPECT_EQ(i32(e, 34), 300);
    EXPECT_EQ(i16(e, 38), 3);
    EXPECT_EQ(e.substr(40, 4), std::string(4, '\0'));
    EXPECT_EQ(e.substr(48, 2), "BB");
    EXPECT_EQ(e.substr(50), std::string(14, '\0'));
    const int32_t stamp = i32(e, 26);
    EXPECT_EQ(i32(e, 30), stamp);
    EXPECT_EQ(i32(e, 44), stamp);
    EXPECT_EQ(entry_at(ctl, 1), trailer_bytes("aaa", 1, 1));

    const std::string pce = bytes("pieceaaa.pce");
    ASSERT_EQ(pce.size(), 528u + 300u);
    EXPECT_EQ(pce.substr(0, 16), std::string(1, '\x03') + std::string(15, '\0'));
    EXPECT_EQ(i32(pce, 16), 528);
    EXPECT_EQ(i32(pce, 20), 300);
    EXPECT_EQ(pce.substr(24, 20), e.substr(0, 20));
    EXPECT_EQ(i16(pce, 44), 0);
    for (int at : {46, 50, 54}) EXPECT_EQ(i32(pce, at), stamp);
    EXPECT_EQ(pce.substr(58, 2), "BB");
    EXPECT_EQ(pce.substr(60, 20), std::string(20, '\0'));
    EXPECT_EQ(i32(pce, 80), 528 + 300);
    EXPECT_EQ(pce.substr(84, 60), std::string(60, '\0'));
    EXPECT_EQ(pce.substr(144, 384), std::string(384, '\0'));
    EXPECT_EQ(pce.substr(528), img);
    EXPECT_FALSE(has("piece.ct$"));
    EXPECT_FALSE(has("pieceaaa.pc$"));
}

TEST_F(Store, EightSlotsThenTheNextCode) {
    ASSERT_EQ(epn_area_clear(area), 1);
    std::map<std::string, std::string> images;
    int64_t total = 0;
    for (int i = 1; i <= 9; ++i) {
        const std::string name = "T" + std::to_string(i);
        images[name] = image_bytes(100 + 37 * i, i);
        Stored s = store(name, images[name]);
        ASSERT_TRUE(s.ok()) << i;
        if (i <= 8) {
            total += images[name].size();
            EXPECT_EQ(s.code, (FileCode{'a', 'a', 'a'}));
            EXPECT_EQ(s.slot, i);
        } else {
            EXPECT_EQ(s.code, (FileCode{'a', 'a', 'b'}));
            EXPECT_EQ(s.slot, 1);
        }
        if (i == 8) {
            EXPECT_EQ(bytes("piece.ctl").substr(64 * 8), trailer_bytes("aab", 0, 8));
        }
    }
    // Slot 8: no ninth offset preset; the file ends with the eighth image.
    const std::string pce = bytes("pieceaaa.pce");
    EXPECT_EQ(static_cast<int64_t>(pce.size()), 528 + total);
    EXPECT_EQ(i32(pce, 16 + 64 * 7), 528 + total - static_cast<int64_t>(images["T8"].size()));
    EXPECT_EQ(bytes("pieceaab.pce").size(), 528u + images["T9"].size());
    EXPECT_EQ(entry_at(bytes("piece.ctl"), 9), trailer_bytes("aab", 1, 9));
    auto p = problems(&images);
    EXPECT_TRUE(p.empty()) << teilimp::testing::describe(p);
}

TEST_F(Store, SupersedingByExactName) {
    ASSERT_EQ(epn_area_clear(area), 1);
    ASSERT_TRUE(store("A", image_bytes(50, 1)).ok());
    ASSERT_TRUE(store("B", image_bytes(60, 2)).ok());
    ASSERT_TRUE(store("A", image_bytes(70, 3)).ok());
    std::string ctl = bytes("piece.ctl");
    EXPECT_EQ(i16(entry_at(ctl, 0), 24), 512);
    EXPECT_EQ(i16(entry_at(ctl, 1), 24), 0);
    EXPECT_EQ(i16(entry_at(ctl, 2), 24), 0);
    EXPECT_EQ(i16(ctl, 64 * 3 + 4), 2);  // validCount unchanged by the replacement

    // Blank padding is not NUL padding: "B" + blanks is another name.
    PieceName blankB = make_piece_name("B                   ");
    ASSERT_TRUE(store("B                   ", "12345").ok());
    ctl = bytes("piece.ctl");
    EXPECT_EQ(i16(entry_at(ctl, 1), 24), 0);
    EXPECT_EQ(i16(ctl, 64 * 4 + 4), 3);
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("B")), 1);
    EXPECT_EQ(epn_ctl_find(area, blankB), 1);

    // A name whose only entry is superseded: nothing changes in it.
    ASSERT_TRUE(store("A", image_bytes(80, 4)).ok());
    ctl = bytes("piece.ctl");
    EXPECT_EQ(i16(entry_at(ctl, 0), 24), 512);
    EXPECT_EQ(i16(entry_at(ctl, 2), 24), 512);
    EXPECT_EQ(i16(ctl, 64 * 5 + 4), 3);
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("A")), 1);

    // The marks reach the piece files at the end of the run.
    epn_mark_superseded(area);
    std::map<std::string, std::string> images{{"A", image_bytes(80, 4)}, {"B", image_bytes(60, 2)},
                                              {std::string("B") + std::string(19, ' '), "12345"}};
    auto p = problems(&images, true);
    EXPECT_TRUE(p.empty()) << teilimp::testing::describe(p);
}

TEST_F(Store, ControlFileWithoutTrailer) {
    ASSERT_EQ(epn_area_clear(area), 1);
    ASSERT_TRUE(store("A", image_bytes(50, 1)).ok());
    const std::string cut = bytes("piece.ctl").substr(0, 64);
    write_file(file("piece.ctl"), cut);
    Stored s = store("B", image_bytes(10, 2));
    EXPECT_EQ(s.ctl, CtlStatus::Damaged);
    EXPECT_EQ(bytes("piece.ctl"), cut);
    EXPECT_FALSE(has("piece.ct$"));
    EXPECT_FALSE(has("piece.ctl.tmp"));
}

TEST_F(Store, ControlUpdateRefusals) {
    // No control file: nothing is created.
    Stored s = store("A", "x");
    EXPECT_EQ(s.ctl, CtlStatus::NotSetUp);
    EXPECT_FALSE(has("piece.ctl"));
    EXPECT_FALSE(has("piece.ct$"));

    // An invalid next code.
    write_file(file("piece.ctl"), trailer_bytes("aA{", 0, 0));
    EXPECT_EQ(store("A", "x").ctl, CtlStatus::BadNextPlace);
    EXPECT_EQ(bytes("piece.ctl"), trailer_bytes("aA{", 0, 0));
    EXPECT_FALSE(has("piece.ct$"));

    // The last slot of "zzz" would wrap the counter: the area is full.
    write_file(file("piece.ctl"), trailer_bytes("zzz", 7, 0));
    EXPECT_EQ(store("A", "x").ctl, CtlStatus::Full);
    EXPECT_EQ(bytes("piece.ctl"), trailer_bytes("zzz", 7, 0));
    EXPECT_FALSE(has("piece.ct$"));
    write_file(file("piece.ctl"), trailer_bytes("zzz", 6, 0));
    ASSERT_EQ(epn_ctl_put(make_piece_name("A"), 1, s.code, s.slot, area), CtlStatus::Ok);
    EXPECT_EQ(s.slot, 7);
    EXPECT_EQ(bytes("piece.ctl").substr(64), trailer_bytes("zzz", 7, 1));
    epn_ctl_end(area, 0);

    // A read-only control file is left alone.
    const std::string before = bytes("piece.ctl");
    ASSERT_EQ(platform::set_attributes(file("piece.ctl"), platform::kAttrReadOnly), 0u);
    EXPECT_EQ(store("B", "y").ctl, CtlStatus::NotWritable);
    EXPECT_EQ(bytes("piece.ctl"), before);
    EXPECT_FALSE(has("piece.ct$"));
}

// An area with every place but one taken (140,606 entries, the next place
// slot 7 of "zzz") takes its last piece, refuses the next (the last slot
// of "zzz" is never given out) and sorts its 140,607 entries, more valid
// ones than the trailer's 16-bit count holds.
TEST_F(Store, FullAreaTakesItsLastPieceRefusesTheNextAndSorts) {
    write_file(file("piece.ctl"), trailer_bytes("zzz", 0, 0));
    for (int k = 1; k <= 6; ++k) ASSERT_TRUE(store("Z" + std::to_string(k), image_bytes(10, k)).ok());
    const std::string six = bytes("piece.ctl");
    ASSERT_EQ(six.size(), 7u * 64);
    std::string ctl;
    const int others = 140600;
    int valid = 6;
    ctl.reserve(static_cast<size_t>(others + 8) * 64);
    for (int k = 0; k < others; ++k) {
        std::string e = six.substr(0, 64);
        const std::string name = "P" + std::to_string(others - k);  // reverse order
        e.replace(0, 20, std::string(20, '\0'));
        e.replace(0, name.size(), name);
        e.replace(20, 3, std::string{static_cast<char>('a' + k / 8 / 676), static_cast<char>('a' + k / 8 / 26 % 26),
                                     static_cast<char>('a' + k / 8 % 26)});
        e[23] = static_cast<char>(k % 8);
        const bool superseded = k % 10 == 0;
        e[24] = 0;
        e[25] = superseded ? 2 : 0;
        if (!superseded) ++valid;
        ctl += e;
    }
    ctl += six.substr(0, 6 * 64);
    ctl += trailer_bytes("zzz", 6, static_cast<int16_t>(valid));
    write_file(file("piece.ctl"), ctl);

    Stored last = store("LAST", image_bytes(10, 7));
    ASSERT_TRUE(last.ok()) << number(last.ctl) << " " << number(last.pce);
    EXPECT_EQ(last.code, (FileCode{'z', 'z', 'z'}));
    EXPECT_EQ(last.slot, 7);
    ++valid;
    const std::string full = bytes("piece.ctl");
    EXPECT_EQ(full.size(), 140608u * 64);
    EXPECT_EQ(full.substr(full.size() - 64), trailer_bytes("zzz", 7, static_cast<int16_t>(valid)));
    const std::string pce = bytes("piecezzz.pce");
    EXPECT_EQ(store("NEXT", image_bytes(10, 8)).ctl, CtlStatus::Full);
    EXPECT_EQ(bytes("piece.ctl"), full);
    EXPECT_EQ(bytes("piecezzz.pce"), pce);
    EXPECT_EQ(teilimp::testing::list_dir(data), (std::vector<std::string>{"piece.ctl", "piecezzz.pce"}));

    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    const std::string sorted = bytes("piece.ctl");
    ASSERT_EQ(sorted.size(), full.size());
    EXPECT_EQ(sorted.substr(sorted.size() - 64), full.substr(full.size() - 64));
    for (int k = 0; k < 140607; ++k) {
        const char* rec = sorted.data() + static_cast<size_t>(k) * 64;
        ASSERT_EQ(rec[25], k < valid ? 0 : 2) << k;
        if (k > 0 && k < valid) {
            ASSERT_EQ(naturalLess(rec - 64, rec, 20), 1) << k;
        }
    }
}

// Area files are read where they are, whole, and closed before they are
// worked on: nothing is written to the temporary directory, and none is
// needed.
TEST_F(Store, NothingGoesToTheTemporaryDirectory) {
    const std::string missing = root / "no/such/dir";
    teilimp::testing::ScopedEnv noTmp{"TMP", missing.c_str()};
    teilimp::testing::ScopedEnv noTemp{"TEMP", missing.c_str()};
    teilimp::testing::ScopedEnv noTmpDir{"TMPDIR", missing.c_str()};
    ASSERT_EQ(epn_area_clear(area), 1);
    ASSERT_TRUE(store("A", image_bytes(20, 1)).ok());
    ASSERT_TRUE(store("B", image_bytes(20, 2)).ok());
    ASSERT_TRUE(store("A", image_bytes(20, 3)).ok());
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("A")), 1);
    epn_mark_superseded(area);
    EXPECT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    EXPECT_TRUE(problems(nullptr, true).empty());
    EXPECT_TRUE(teilimp::testing::list_dir(tmpDir).empty());
    EXPECT_FALSE(teilimp::testing::file_exists(missing));
    EXPECT_EQ(teilimp::testing::list_dir(data), (std::vector<std::string>{"piece.ctl", "pieceaaa.pce"}));
}

TEST_F(Store, PieceWriterRefusals) {
    const PieceName n = make_piece_name("N");
    EXPECT_EQ(epn_pce_put({'a', ' ', 'a'}, 1, n, bytes_of("x"), area), PceStatus::BadPlace);
    EXPECT_EQ(epn_pce_put({'a', 'a', 'a'}, 9, n, bytes_of("x"), area), PceStatus::BadPlace);
    EXPECT_TRUE(teilimp::testing::list_dir(data).empty());
    // Slot 2 of a missing piece file.
    EXPECT_EQ(epn_pce_put({'a', 'a', 'a'}, 2, n, bytes_of("x"), area), PceStatus::NoBackup);
    EXPECT_TRUE(teilimp::testing::list_dir(data).empty());
}

// A slot that the control file names but that is not free: result 11 and
// nothing changed, whatever the control file says.
TEST_F(Store, SlotThatIsNotFreeIsNeverOverwritten) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(30, i)).ok());
    const std::string aaa = bytes("pieceaaa.pce");
    const std::string aab = bytes("pieceaab.pce");
    const auto trailerAt = bytes("piece.ctl").size() - 64;
    // The trailer names slots of the full file, then slot 1 of a file that
    // exists, then a slot behind the one that is free.
    for (const auto& [code, slot] : std::vector<std::pair<std::string, char>>{
             {"aaa", 0}, {"aaa", 3}, {"aaa", 7}, {"aab", 0}, {"aab", 2}}) {
        std::string ctl = bytes("piece.ctl");
        ctl.replace(trailerAt, 3, code);
        ctl[trailerAt + 3] = slot;
        write_file(file("piece.ctl"), ctl);
        const Stored s = store("NEW", image_bytes(30, 50));
        EXPECT_EQ(s.ctl, CtlStatus::Ok);
        EXPECT_EQ(s.pce, PceStatus::SlotTaken) << code << " " << int(slot);
        EXPECT_EQ(bytes("piece.ctl"), ctl);
        EXPECT_EQ(bytes("pieceaaa.pce"), aaa);
        EXPECT_EQ(bytes("pieceaab.pce"), aab);
        EXPECT_EQ(teilimp::testing::list_dir(data), (std::vector<std::string>{"piece.ctl", "pieceaaa.pce", "pieceaab.pce"}));
    }
    // An empty piece file is no piece file: slot 1 may take its place.
    std::string ctl = bytes("piece.ctl");
    ctl.replace(trailerAt, 3, "aac");
    ctl[trailerAt + 3] = 0;
    write_file(file("piece.ctl"), ctl);
    write_file(file("pieceaac.pce"), "");
    EXPECT_TRUE(store("NEW", image_bytes(30, 50)).ok());
    EXPECT_EQ(problems(), std::vector<std::string>{});
}

TEST_F(Store, FailedImageStoreRestoresEverything) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int i = 1; i <= 4; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(200, i)).ok());
    const std::string ctl = bytes("piece.ctl");
    const std::string pce = bytes("pieceaaa.pce");

    // Slot 5 with the piece file read-only: result 4, nothing changed.
    FileCode code;
    int32_t slot = 0;
    const PieceName n = make_piece_name("P5");
    ASSERT_EQ(epn_ctl_put(n, 10, code, slot, area), CtlStatus::Ok);
    EXPECT_EQ(bytes("piece.ct$"), ctl);
    ASSERT_EQ(platform::set_attributes(file("pieceaaa.pce"), platform::kAttrReadOnly), 0u);
    EXPECT_EQ(epn_pce_put(code, slot, n, bytes_of("0123456789"), area), PceStatus::NotWritable);
    epn_ctl_end(area, 1);
    EXPECT_EQ(bytes("piece.ctl"), ctl);
    EXPECT_EQ(bytes("pieceaaa.pce"), pce);
    EXPECT_EQ(teilimp::testing::list_dir(data), (std::vector<std::string>{"piece.ctl", "pieceaaa.pce"}));
    ASSERT_EQ(platform::set_attributes(file("pieceaaa.pce"), 0), 0u);

    // A failure while the directory is written (the 5th write of the call:
    // backup copy, its flush, the temporary's creation, the header, the
    // directory) leaves the file byte for byte as before.
    ASSERT_EQ(epn_ctl_put(n, 10, code, slot, area), CtlStatus::Ok);
    platform::test::reset_file_ops();
    int64_t ops = 0;
    {
        // Count the operations of a successful call on a copy of the area.
        teilimp::testing::TempDir other;
        teilimp::testing::make_dirs(other / "userroot/storage/TEST/data");
        for (const char* f : {"piece.ctl", "pieceaaa.pce"})
            write_file(other / (std::string("userroot/storage/TEST/data/") + f), bytes(f));
        teilimp::testing::DriveMap g('G', other.path);
        platform::test::reset_file_ops();
        ASSERT_EQ(epn_pce_put(code, slot, n, bytes_of("0123456789"), make_area("G:TEST")), PceStatus::Ok);
        ops = platform::test::file_ops_counted();
    }
    int32_t dirResult = 0;
    for (int64_t k = 1; k <= ops && dirResult != 8; ++k) {
        platform::test::reset_file_ops();
        platform::test::set_fault_at(k);
        int32_t r = number(epn_pce_put(code, slot, n, bytes_of("0123456789"), area));
        platform::test::set_fault_at(0);
        if (r == 0) {
            // The last operations (dropping the backup) may fail harmlessly;
            // undo the store for the next attempt.
            write_file(file("pieceaaa.pce"), pce);
            continue;
        }
        if (r == 8) dirResult = r;
        EXPECT_EQ(bytes("pieceaaa.pce"), pce) << "fault at " << k << " result " << r;
        EXPECT_FALSE(has("pieceaaa.pc$")) << k;
        EXPECT_FALSE(has("pieceaaa.pce.tmp")) << k;
    }
    EXPECT_EQ(dirResult, 8);
    epn_ctl_end(area, 1);
    EXPECT_EQ(bytes("piece.ctl"), ctl);
    EXPECT_FALSE(has("piece.ct$"));
}

}  // namespace
}  // namespace teilimp::writer::test

namespace teilimp::writer::test {
namespace {

// Superseding every piece of two piece files: each file is rewritten once
// for all of its marks, and every mark arrives.
TEST_F(Store, MarksOfOneFileAreCarriedInOneRewrite) {
    ASSERT_EQ(epn_area_clear(area), 1);
    std::map<std::string, std::string> images;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 8; ++i) {
            const std::string name = "P" + std::to_string(i);
            images[name] = image_bytes(30 + static_cast<size_t>(i), static_cast<unsigned>(round * 8 + i));
            ASSERT_TRUE(store(name, images[name]).ok());
        }
    }
    platform::test::reset_file_ops();
    epn_mark_superseded(area);
    const int64_t ops = platform::test::file_ops_counted();
    EXPECT_TRUE(problems(&images, true).empty()) << teilimp::testing::describe(problems(&images, true));

    // One piece file with one mark costs as much as a file with eight.
    ASSERT_TRUE(store("P0", images["P0"]).ok());
    platform::test::reset_file_ops();
    epn_mark_superseded(area);
    const int64_t single = platform::test::file_ops_counted();
    EXPECT_TRUE(problems(&images, true).empty());
    EXPECT_GT(single, 0);
    EXPECT_LE(ops, single + 2);
}

// The last store of a run, told so, leaves the area's files exactly as the
// same stores and the end of the run (marks, sort) leave them, whether the
// run found the area as a finished run leaves it or as a dead one does,
// and whether the last piece is new or supersedes one; the end of the run
// then writes nothing, unless the superseded entry is in the piece file
// that takes the new image.
TEST_F(Store, LastStoreOfARunLeavesTheFilesAsTheEndOfTheRunDoes) {
    using Files = std::map<std::string, std::string>;
    const auto snapshot = [&] {
        Files files;
        for (const std::string& n : teilimp::testing::list_dir(data)) files[n] = bytes(n);
        return files;
    };
    const auto restore = [&](const Files& files) {
        for (const std::string& n : teilimp::testing::list_dir(data)) teilimp::testing::remove_file(file(n));
        for (const auto& [n, b] : files) write_file(file(n), b);
    };
    // The run's pieces, then the end; `flagged`: the last store is told.
    const auto run = [&](const std::vector<std::string>& names, bool flagged) {
        AreaRun r;
        for (size_t k = 0; k < names.size(); ++k) {
            const std::string image = image_bytes(60 + 10 * k, static_cast<unsigned>(k + 7));
            EXPECT_TRUE(epn_store_piece(area, make_piece_name(names[k]), bytes_of(image), &r,
                                        flagged && k + 1 == names.size())
                            .ok());
        }
        const std::string before = platform::file_identity(file("piece.ctl"));
        epn_mark_superseded(area, r);
        EXPECT_EQ(epn_ctl_sort(area, r), SortStatus::Ok);
        return before == platform::file_identity(file("piece.ctl"));
    };

    ASSERT_EQ(epn_area_clear(area), 1);
    for (int k = 0; k < 20; ++k) ASSERT_TRUE(store("S" + std::to_string(k), image_bytes(50, k)).ok());
    epn_mark_superseded(area);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    const Files finished = snapshot();
    // As a run that died before its end leaves it: S4 and S7 superseded and
    // not marked, the entries not in order.
    ASSERT_TRUE(store("S4", image_bytes(51, 4)).ok());
    ASSERT_TRUE(store("S7", image_bytes(52, 7)).ok());
    ASSERT_TRUE(store("A0", image_bytes(53, 9)).ok());
    const Files dead = snapshot();

    struct Case {
        const Files* area;
        std::vector<std::string> names;
        bool endWritesNothing;
    };
    const Case cases[] = {{&finished, {"N2", "S3", "N1"}, true},
                          {&dead, {"N2", "S3", "N1"}, true},
                          {&finished, {"N1"}, true},
                          {&dead, {"N1"}, true},
                          {&finished, {"N2", "N1", "S9"}, true},
                          {&dead, {"N2", "S4"}, true},
                          // S17 is in the piece file that takes the new image.
                          {&finished, {"N2", "N1", "S17"}, false}};
    for (const Case& c : cases) {
        // Both runs within one second, so that their time stamps agree.
        for (int attempt = 0;; ++attempt) {
            ASSERT_LT(attempt, 5);
            const int32_t second = time_stamp_now();
            restore(*c.area);
            run(c.names, false);
            const Files expected = snapshot();
            restore(*c.area);
            const bool untouched = run(c.names, true);
            const Files got = snapshot();
            if (time_stamp_now() != second) continue;
            EXPECT_TRUE(got == expected) << c.names.front() << "..." << c.names.back();
            EXPECT_EQ(untouched, c.endWritesNothing) << c.names.back();
            EXPECT_TRUE(problems(nullptr, true).empty()) << teilimp::testing::describe(problems(nullptr, true));
            break;
        }
    }
}

// The sorted write of a run's last store spares the end of the run its sort
// only while the control file is that version: one changed behind the
// run's back is sorted.
TEST_F(Store, SortedLastStoreCountsOnlyWhileTheFileIsUnchanged) {
    ASSERT_EQ(epn_area_clear(area), 1);
    AreaRun r;
    ASSERT_TRUE(epn_store_piece(area, make_piece_name("B"), bytes_of("b"), &r).ok());
    ASSERT_TRUE(epn_store_piece(area, make_piece_name("A"), bytes_of("a"), &r, true).ok());
    EXPECT_TRUE(r.last.written_sorted(area));
    EXPECT_EQ(bytes("piece.ctl").substr(0, 1), "A");
    ASSERT_TRUE(store("0", "z").ok());  // behind the run's back, entered last
    EXPECT_FALSE(r.last.written_sorted(area));
    ASSERT_EQ(epn_ctl_sort(area, r), SortStatus::Ok);
    EXPECT_EQ(bytes("piece.ctl").substr(0, 1), "0");
    EXPECT_FALSE(r.last.written_sorted(area));
}

}  // namespace
}  // namespace teilimp::writer::test
