// Lookup, space check, clearing, superseded marks, recovery.
#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

#include "area_fixture.h"
#include "platform/platform.h"
#include "util/drive.h"
#include "writer/sort.h"

namespace teilimp::writer::test {
namespace {

using teilimp::testing::list_dir;
using teilimp::testing::write_file;

using AreaOps = AreaFixture;

TEST_F(AreaOps, FindOnlyValidExactNames) {
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("A")), 0);  // no control file
    ASSERT_EQ(epn_area_clear(area), 1);
    ASSERT_TRUE(store("A", "1").ok());
    ASSERT_TRUE(store("A", "2").ok());
    ASSERT_TRUE(store("OLD", "3").ok());
    std::string ctl = bytes("piece.ctl");
    ctl[64 * 2 + 24] = 0;  // OLD superseded by hand
    ctl[64 * 2 + 25] = 2;
    write_file(file("piece.ctl"), ctl);
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("A")), 1);
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("OLD")), 0);
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("A                   ")), 0);
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("B")), 0);
}

TEST_F(AreaOps, SpaceEstimate) {
    const int32_t free = util::dskfrei(6);
    if (free != 2100000000) GTEST_SKIP() << "needs a drive with more than 2.1 GB free";
    // No files: need = 2 * -1 + 64 + 2 * 512 + length.
    EXPECT_EQ(epn_space_check(area, free - 1086 - 1), 1);
    EXPECT_EQ(epn_space_check(area, free - 1086), 0);
    EXPECT_EQ(epn_space_check(make_area("f:TEST"), free - 1086 - 1), 1);  // drive F either way
    EXPECT_EQ(epn_space_check(make_area("1:TEST"), 0), 0);             // no drive letter

    // The last file of the unbroken run from "aaa" counts; aad behind the gap not.
    ASSERT_EQ(epn_area_clear(area), 1);
    write_file(file("pieceaaa.pce"), std::string(1000, 'x'));
    write_file(file("pieceaab.pce"), std::string(700, 'x'));
    write_file(file("pieceaad.pce"), std::string(5000, 'x'));
    const int32_t need = 2 * 64 + 64 + 2 * 700;
    EXPECT_EQ(epn_space_check(area, free - need - 1), 1);
    EXPECT_EQ(epn_space_check(area, free - need), 0);
}

// The scan that a run keeps gives the answer of a walk over the files, on
// an area with a gap and as the run's pieces fill the gap.
TEST_F(AreaOps, KeptScanAnswersAsAWalk) {
    ASSERT_EQ(epn_area_clear(area), 1);
    write_file(file("pieceaaa.pce"), std::string(1000, 'x'));
    write_file(file("PIECEAAB.PCE"), std::string(700, 'x'));  // found in any case
    write_file(file("pieceaad.pce"), std::string(5000, 'x'));
    write_file(file("pieceaae.pc$"), std::string(9000, 'x'));  // no piece file
    std::string trailer(64, '\0');
    trailer.replace(0, 3, "aac");
    trailer[59] = 3;
    write_file(file("piece.ctl"), trailer);

    AreaRun scan;
    auto walk = [&] { return epn_space_needed(area, 77, nullptr); };
    EXPECT_EQ(walk(), 2 * 64 + 64 + 2 * 700 + 77);
    EXPECT_EQ(epn_space_needed(area, 77, &scan), walk());

    // The run's first piece creates "aac": the sequence now runs to "aad".
    ASSERT_TRUE(epn_store_piece(area, make_piece_name("P1"), bytes_of("one"), &scan).ok());
    EXPECT_EQ(walk(), 2 * 128 + 64 + 2 * 5000 + 77);
    EXPECT_EQ(epn_space_needed(area, 77, &scan), walk());
    ASSERT_TRUE(epn_store_piece(area, make_piece_name("P2"), bytes_of("two"), &scan).ok());
    EXPECT_EQ(epn_space_needed(area, 77, &scan), walk());
    AreaRun fresh;
    EXPECT_EQ(epn_space_needed(area, 77, &fresh), walk());
    EXPECT_EQ(fresh.present(), scan.present());
    // PIECEAAB.PCE is not in the case the writer writes: names are looked
    // for in any case. In lower case they are taken exactly.
    EXPECT_FALSE(scan.exact_names());
    // (Names that differ only in case are one name on Windows.)
    if (!teilimp::testing::posix_system()) return;
    ASSERT_EQ(::rename(file("PIECEAAB.PCE").c_str(), file("pieceaab.pce").c_str()), 0);
    AreaRun exact;
    EXPECT_EQ(epn_space_needed(area, 77, &exact), walk());
    EXPECT_TRUE(exact.exact_names());
}

// The sizes that a run's stores leave are not looked up again; after a
// store that failed they are, so the answer stays a walk's.
TEST_F(AreaOps, KeptSizesAnswerAsAWalk) {
    ASSERT_EQ(epn_area_clear(area), 1);
    AreaRun run;
    auto walk = [&] { return epn_space_needed(area, 5, nullptr); };
    EXPECT_EQ(epn_space_needed(area, 5, &run), walk());
    ASSERT_TRUE(epn_store_piece(area, make_piece_name("P1"), bytes_of("one"), &run).ok());
    EXPECT_EQ(epn_space_needed(area, 5, &run), walk());
    ASSERT_TRUE(epn_store_piece(area, make_piece_name("P2"), bytes_of("second"), &run).ok());
    EXPECT_EQ(run.last.piece_size({'a', 'a', 'a'}), 528 + 3 + 6);
    EXPECT_EQ(epn_space_needed(area, 5, &run), walk());
    // A piece file that no longer ends where its directory says: the next
    // store is refused (slot taken) and changes nothing; the sizes are
    // then those on disk.
    write_file(file("pieceaaa.pce"), bytes("pieceaaa.pce") + "junk");
    EXPECT_EQ(epn_store_piece(area, make_piece_name("P3"), bytes_of("three"), &run).pce, PceStatus::SlotTaken);
    EXPECT_EQ(run.last.piece_size({'a', 'a', 'a'}), -1);
    EXPECT_EQ(epn_space_needed(area, 5, &run), walk());
    EXPECT_EQ(walk(), 2 * 3 * 64 + 64 + 2 * (528 + 9 + 4) + 5);
}

// A run reads the control file once and works on the bytes it keeps while
// the file is the one it wrote; a control file changed behind its back is
// read again, by the lookup and by the store.
TEST_F(AreaOps, KeptControlBytesOnlyWhileTheFileIsTheRunsOwn) {
    ASSERT_EQ(epn_area_clear(area), 1);
    AreaRun run;
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("A"), run), 0);
    EXPECT_TRUE(run.last.bytes_known());
    ASSERT_TRUE(store("A", "1", &run).ok());
    ASSERT_TRUE(store("B", "2", &run).ok());
    ASSERT_TRUE(run.last.bytes_known());
    EXPECT_EQ(std::string(run.last.bytes().begin(), run.last.bytes().end()), bytes("piece.ctl"));
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("A"), run), 1);
    const Stored again = store("A", "3", &run);
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again.replaced);
    EXPECT_EQ(std::string(run.last.bytes().begin(), run.last.bytes().end()), bytes("piece.ctl"));

    // B superseded by hand: a file of the same size, put in place as a new
    // version is. The lookup reads it (and keeps it).
    const std::string mine = bytes("piece.ctl");
    ASSERT_EQ(mine.size(), 4u * 64);
    ASSERT_EQ(mine[64], 'B');
    std::string changed = mine;
    changed[64 + 24] = 0;
    changed[64 + 25] = 2;
    auto put_in_place = [&](const std::string& content) {
        write_file(file("piece.new"), content);
        std::error_code ec;
        std::filesystem::rename(file("piece.new"), file("piece.ctl"), ec);  // replaces, also on Windows
        ASSERT_FALSE(ec) << ec.message();
    };
    put_in_place(changed);
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("B"), run), 0);
    EXPECT_TRUE(run.last.bytes_known());
    // Back to B valid behind the run's back: the store reads the file and
    // supersedes B.
    put_in_place(mine);
    const Stored b = store("B", "4", &run);
    ASSERT_TRUE(b.ok());
    EXPECT_TRUE(b.replaced);
    EXPECT_EQ(std::string(run.last.bytes().begin(), run.last.bytes().end()), bytes("piece.ctl"));

    // A store that fails leaves nothing known.
    write_file(file("pieceaaa.pce"), bytes("pieceaaa.pce") + "junk");
    EXPECT_EQ(store("C", "5", &run).pce, PceStatus::SlotTaken);
    EXPECT_FALSE(run.last.bytes_known());
    EXPECT_EQ(epn_ctl_find(area, make_piece_name("C"), run), 0);
    run.last.forget();
    EXPECT_TRUE(run.last.bytes().empty());
}

// The end of a run carries every mark when the run found its area as a run
// that died before its marks leaves it; in an area that a finished run
// left (valid entries, then superseded ones) only the run's own marks.
TEST_F(AreaOps, EndOfRunCarriesTheMarksItMust) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (const char* n : {"A", "B", "C", "D"}) ASSERT_TRUE(store(n, image_bytes(30, n[0])).ok());
    // A run that died after superseding A: old A unmarked in its piece file.
    ASSERT_TRUE(store("A", image_bytes(31, 1)).ok());
    ASSERT_FALSE(problems(nullptr, true).empty());
    {
        AreaRun run;
        ASSERT_TRUE(store("E", image_bytes(30, 2), &run).ok());
        EXPECT_EQ(run.earlier_marks(), AreaRun::Marks::Uncertain);
        epn_mark_superseded(area, run);
        EXPECT_TRUE(problems(nullptr, true).empty()) << teilimp::testing::describe(problems(nullptr, true));
    }
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);

    // Finished. A superseded entry whose mark did not reach its piece file
    // (planted by hand: B moved behind the valid entries as superseded) is
    // no longer looked for; the run's own marks are carried.
    std::string ctl = bytes("piece.ctl");
    ASSERT_EQ(ctl.size(), 7u * 64);
    std::string b = ctl.substr(64, 64);
    ASSERT_EQ(b[0], 'B');
    b[24] = 0;
    b[25] = 2;
    ctl = ctl.substr(0, 64) + ctl.substr(128, 3 * 64) + b + ctl.substr(5 * 64);
    ctl[ctl.size() - 64 + 4] = 4;  // valid: A, C, D, E
    teilimp::testing::write_file(file("piece.ctl"), ctl);
    AreaRun run;
    ASSERT_TRUE(store("E", image_bytes(32, 3), &run).ok());
    EXPECT_EQ(run.earlier_marks(), AreaRun::Marks::Carried);
    ASSERT_EQ(run.superseded().size(), 1u);
    epn_mark_superseded(area, run);
    const std::vector<std::string> p = problems(nullptr, true);
    ASSERT_EQ(p.size(), 1u) << teilimp::testing::describe(p);
    EXPECT_NE(p[0].find("(B): directory state 0"), std::string::npos) << p[0];
}

TEST_F(AreaOps, ClearDeletesPieceFilesAndBackups) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(20, i)).ok());
    write_file(file("pieceaaa.pc$"), "old");
    write_file(file("pieceaab.pc$"), "old");
    write_file(file("pieceaad.pce"), "behind a gap");
    write_file(file("PIECEZZZ.PC$"), "stray backup");
    write_file(file("piece.ct$"), bytes("piece.ctl"));
    write_file(file("piece.ctl.tmp"), "unfinished");
    write_file(file("pieceaab.pce.tmp"), "unfinished");
    // Not the program's: stays.
    write_file(file("pieceab1.pce"), "x");
    write_file(file("notes.txt"), "x");
    ASSERT_EQ(epn_area_clear(area), 1);
    EXPECT_EQ(list_dir(data), (std::vector<std::string>{"notes.txt", "piece.ctl", "pieceab1.pce"}));
    std::string t(64, '\0');
    t.replace(0, 3, "aaa");
    t[59] = 3;
    EXPECT_EQ(bytes("piece.ctl"), t);
    EXPECT_EQ(epn_recover(area), 0);  // nothing to bring back
    EXPECT_EQ(bytes("piece.ctl"), t);

    // A directory that does not exist can't be cleared.
    EXPECT_EQ(epn_area_clear(make_area("F:NONE")), 0);

    // A piece file that can't be deleted makes the clear fail; the others
    // go all the same.
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(20, i)).ok());
    ASSERT_EQ(platform::set_attributes(area_path(area, AreaFile::Piece, {'a', 'a', 'a'}), platform::kAttrReadOnly),
              0u);
    EXPECT_EQ(epn_area_clear(area), 0);
    EXPECT_EQ(list_dir(data), (std::vector<std::string>{"notes.txt", "piece.ctl", "pieceaaa.pce", "pieceab1.pce"}));
    EXPECT_EQ(bytes("piece.ctl"), t);
}

TEST_F(AreaOps, MarkChangesOnlyTheStateWord) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(40, i)).ok());
    const std::string before = bytes("pieceaaa.pce");
    EXPECT_EQ(epn_pce_mark(area, {'a', 'a', 'a'}, 2, kStateSuperseded), 0);
    std::string after = bytes("pieceaaa.pce");
    ASSERT_EQ(after.size(), before.size());
    std::string expected = before;
    expected[16 + 64 + 28] = 0;
    expected[16 + 64 + 29] = 2;
    EXPECT_EQ(after, expected);
    EXPECT_EQ(list_dir(data), (std::vector<std::string>{"piece.ctl", "pieceaaa.pce"}));

    // Already marked: untouched (not even rewritten), no backup left.
    struct stat st1, st2;
    ASSERT_EQ(stat(file("pieceaaa.pce").c_str(), &st1), 0);
    EXPECT_EQ(epn_pce_mark(area, {'a', 'a', 'a'}, 2, kStateSuperseded), 0);
    ASSERT_EQ(stat(file("pieceaaa.pce").c_str(), &st2), 0);
    EXPECT_EQ(st1.st_ino, st2.st_ino);
    EXPECT_EQ(bytes("pieceaaa.pce"), expected);
    EXPECT_FALSE(has("pieceaaa.pc$"));

    EXPECT_EQ(epn_pce_mark(area, {'a', 'a', 'a'}, 0, kStateSuperseded), 1);
    EXPECT_EQ(epn_pce_mark(area, {'a', 'a', 'a'}, 9, kStateSuperseded), 1);
    EXPECT_EQ(epn_pce_mark(area, {'a', 'A', 'a'}, 1, kStateSuperseded), 2);
    EXPECT_EQ(epn_pce_mark(area, {'a', 'a', 'q'}, 1, kStateSuperseded), 0);  // missing file
    EXPECT_FALSE(has("pieceaaq.pc$"));

    // An image cut short: result 5, the file as it was, no backup.
    std::string cut = expected.substr(0, expected.size() - 10);
    write_file(file("pieceaaa.pce"), cut);
    EXPECT_EQ(epn_pce_mark(area, {'a', 'a', 'a'}, 1, kStateSuperseded), 5);
    EXPECT_EQ(bytes("pieceaaa.pce"), cut);
    EXPECT_FALSE(has("pieceaaa.pc$"));
    EXPECT_FALSE(has("pieceaaa.pce.tmp"));
}

TEST_F(AreaOps, RecoverPutsBackLeftoverBackups) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(40, i)).ok());
    const std::string ctl = bytes("piece.ctl");
    const std::string pce = bytes("pieceaaa.pce");
    ASSERT_TRUE(store("P3", image_bytes(40, 3)).ok());
    // As a run that died after writing both new versions leaves the area.
    write_file(file("piece.ct$"), ctl);
    write_file(file("pieceaaa.pc$"), pce);
    write_file(file("piece.ctl.tmp"), "half");
    write_file(file("pieceaab.pce.tmp"), "half");
    write_file(file("pieceaaa.pc$.tmp"), "half");
    write_file(file("notes.tmp"), "not ours");
    EXPECT_EQ(epn_recover(area), 2);
    EXPECT_EQ(bytes("piece.ctl"), ctl);
    EXPECT_EQ(bytes("pieceaaa.pce"), pce);
    EXPECT_EQ(list_dir(data), (std::vector<std::string>{"notes.tmp", "piece.ctl", "pieceaaa.pce"}));
    EXPECT_EQ(epn_recover(area), 0);

    // A backup that can't be put back stays for the next attempt.
    SKIP_UNLESS_READ_ONLY_REFUSED();
    write_file(file("piece.ct$"), ctl);
    ASSERT_EQ(platform::set_attributes(file("piece.ctl"), platform::kAttrReadOnly), 0u);
    EXPECT_EQ(epn_recover(area), -1);
    EXPECT_TRUE(has("piece.ct$"));
}

// The recovery's listing is also the run's scan: the same answer as a scan
// of its own, with leftovers to put back and without, and in an area whose
// names are not all in lower case.
TEST_F(AreaOps, RecoveryListingIsTheRunsScan) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(40, i)).ok());
    write_file(file("pieceaad.pce"), bytes("pieceaaa.pce"));  // behind a gap
    const std::string pce = bytes("pieceaab.pce");
    ASSERT_TRUE(store("P10", image_bytes(40, 10)).ok());
    for (int round = 0; round < 3; ++round) {
        if (round == 0) write_file(file("pieceaab.pc$"), pce);  // a dead run's leftover
        if (round == 2) write_file(file("TEILIMP.TXT"), "a name in another case");
        AreaRun run;
        const RecoveryReport r = epn_recover_area(area, &run);
        EXPECT_EQ(r.restored.size(), round == 0 ? 1u : 0u);
        ASSERT_FALSE(run.present().empty()) << round;
        AreaRun own;
        EXPECT_EQ(epn_space_needed(area, 9, &own), epn_space_needed(area, 9, nullptr)) << round;
        EXPECT_EQ(run.present(), own.present()) << round;
        EXPECT_EQ(run.exact_names(), own.exact_names()) << round;
        EXPECT_EQ(epn_space_needed(area, 9, &run), epn_space_needed(area, 9, nullptr)) << round;
    }
}

// Only sound backups are put back; one that does not hold together stops
// the recovery before anything is changed.
TEST_F(AreaOps, RecoverPutsBackOnlySoundBackups) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(40, i)).ok());
    const std::string ctl = bytes("piece.ctl");
    const std::string pce = bytes("pieceaaa.pce");
    std::string trailerFirst = ctl;  // a trailer in front of an entry
    std::swap_ranges(trailerFirst.begin(), trailerFirst.begin() + 64, trailerFirst.end() - 64);
    std::string badSlot = ctl;
    badSlot[23] = 8;
    std::string badCode = ctl;
    badCode[21] = 'A';
    for (const std::string& stray : {std::string("not a control file\n"), std::string(), ctl.substr(0, 100),
                                     ctl.substr(0, 128), trailerFirst, badSlot, badCode}) {
        write_file(file("piece.ct$"), stray);
        write_file(file("pieceaab.pce.tmp"), "half");
        const RecoveryReport r = epn_recover_area(area);
        EXPECT_EQ(r.unsound, std::vector<std::string>{"piece.ct$"});
        EXPECT_TRUE(r.restored.empty());
        // Nothing changed: not even the temporary file went.
        EXPECT_EQ(bytes("piece.ctl"), ctl);
        EXPECT_EQ(bytes("piece.ct$"), stray);
        EXPECT_TRUE(has("pieceaab.pce.tmp"));
    }
    teilimp::testing::remove_file(file("piece.ct$"));
    for (const std::string& stray : {std::string(), pce.substr(0, 528), pce.substr(0, pce.size() - 1), pce + "x"}) {
        write_file(file("pieceaaa.pc$"), stray);
        const RecoveryReport r = epn_recover_area(area);
        EXPECT_EQ(r.unsound, std::vector<std::string>{"pieceaaa.pc$"}) << stray.size();
        EXPECT_EQ(bytes("pieceaaa.pce"), pce);
        EXPECT_EQ(bytes("pieceaaa.pc$"), stray);
    }
    // Sound ones are put back and named.
    write_file(file("pieceaaa.pc$"), pce);
    write_file(file("piece.ct$"), ctl);
    write_file(file("pieceaaa.pce"), "damaged");
    write_file(file("piece.ctl"), "damaged");
    const RecoveryReport r = epn_recover_area(area);
    EXPECT_EQ(r.restored, (std::vector<std::string>{"pieceaaa.pce", "piece.ctl"}));
    EXPECT_EQ(bytes("piece.ctl"), ctl);
    EXPECT_EQ(bytes("pieceaaa.pce"), pce);
    EXPECT_EQ(problems(), std::vector<std::string>{});
}

// A run that died with only the control file's backup left to drop had
// finished its update: the piece stays, and the area takes the next one.
TEST_F(AreaOps, RecoverKeepsAnUpdateThatWasComplete) {
    ASSERT_EQ(epn_area_clear(area), 1);
    for (int slots : {1, 8}) {
        ASSERT_EQ(epn_area_clear(area), 1);
        for (int i = 1; i < slots; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(40, i)).ok());
        const std::string ctl = bytes("piece.ctl");
        ASSERT_TRUE(store("LAST", image_bytes(40, 99)).ok());
        write_file(file("piece.ct$"), ctl);
        const RecoveryReport r = epn_recover_area(area);
        EXPECT_TRUE(r.restored.empty());
        EXPECT_FALSE(r.failed);
        EXPECT_FALSE(has("piece.ct$"));
        EXPECT_EQ(teilimp::testing::valid_images(data).count("LAST"), 1u);
        EXPECT_TRUE(store("NEXT", image_bytes(40, 100)).ok());
        EXPECT_EQ(problems(), std::vector<std::string>{});
    }
}

// A directory-form area without its closing backslash runs into the file
// names (F:\DIR gives F:\DIRpiece.ctl): its leftovers are found all the same.
TEST_F(AreaOps, RecoverDirectoryFormWithoutBackslash) {
    area = make_area("F:\\DIR");
    const std::string at = root.path + "/DIR";
    ASSERT_EQ(epn_area_clear(area), 1);
    ASSERT_TRUE(teilimp::testing::file_exists(at + "piece.ctl"));
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(store("P" + std::to_string(i), image_bytes(30, i)).ok());
    const std::string ctl = teilimp::testing::read_file(at + "piece.ctl");
    const std::string pce = teilimp::testing::read_file(at + "pieceaaa.pce");
    ASSERT_TRUE(store("P2", image_bytes(30, 2)).ok());
    write_file(at + "piece.ct$", ctl);
    write_file(at + "pieceaaa.pc$", pce);
    write_file(at + "pieceaab.pce.tmp", "half");
    EXPECT_EQ(epn_recover(area), 2);
    EXPECT_EQ(teilimp::testing::read_file(at + "piece.ctl"), ctl);
    EXPECT_EQ(teilimp::testing::read_file(at + "pieceaaa.pce"), pce);
    EXPECT_EQ(list_dir(root.path), (std::vector<std::string>{"DIRpiece.ctl", "DIRpieceaaa.pce", "tmp",
                                                              "userroot"}));
}

}  // namespace
}  // namespace teilimp::writer::test
