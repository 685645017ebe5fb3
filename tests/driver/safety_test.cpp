// Ordinary actions on a shared area that must not lose, overwrite or mix
// up pieces: the command line's clear request and area argument, the
// console log of a run that dies, and (below) two runs at once.
#include <gtest/gtest.h>

#include <signal.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/driver_fixture.h"
#include "platform/platform.h"
#include "support/area_check.h"
#include "support/child.h"
#include "support/epn_builder.h"
#include "support/test_util.h"

namespace teilimp::testing {
namespace {

const std::string kStop = "Stop - Program terminated.\n";
const std::string kQuestion = "\x9A" "berschreiben? (Ja/Nein/Alle)\n";
const std::string kLost = "Achtung: Zugriff auf den Zielbereich verloren.\n";

// The drive X: with the area TEST, and what the tests look at in it.
struct Area : Drive {
    std::string lock() const { return data() + "/teilimp.opn"; }
    // An EPN file of the example square under the piece name `name`.
    void epn_file(const std::string& name, const std::string& file = {}) const {
        EpnFile f = epn_example_square();
        f.name = name;
        write_file(epn() + "/" + (file.empty() ? name + ".epn" : file), epn_text(f));
    }
    std::vector<std::string> problems(const std::map<std::string, std::string>* images = nullptr) const {
        AreaExpectation e;
        e.images = images;
        e.marksCarried = true;
        return check_area(data(), e);
    }
    // Cleared, then these pieces stored by one run (their EPN files stay).
    void stored(const std::vector<std::string>& names) const {
        clear();
        std::vector<std::string> args = {"X:TEST", "/s1"};
        for (const std::string& n : names) {
            epn_file(n);
            args.push_back("X:\\epn\\" + n + ".epn");
        }
        run(args);
        ASSERT_EQ(pieces(), names);
    }
    // The names of the valid pieces.
    std::vector<std::string> pieces() const {
        std::vector<std::string> names;
        for (auto& [name, image] : valid_images(data())) names.push_back(name);
        return names;
    }
};

// The marks of 30 failed attempts and the closing " OK".
[[maybe_unused]] std::string all_marks() {
    std::string marks = ".. 1.";
    for (int i = 2; i <= 30; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, " ..%2d.", i);
        marks += buf;
    }
    return marks + " OK\n";
}

// Scaled lock ages for two runs at once: a lock is stale after 3 seconds
// and renewed every 0.3 seconds; a blocked run gives up after some 0.35
// seconds.
const std::map<std::string, std::string> kFastLock = {{"TEILIMP_LOCK_SCALE", "0.01"},
                                                      {"TEILIMP_SLEEP_SCALE", "0.01"}};

// A run that replaces P1 with /f and waits at the question.
std::unique_ptr<Child> run_at_the_question(const Area& a, std::map<std::string, std::string> extra = {}) {
    auto run = std::make_unique<Child>(std::vector<std::string>{"X:TEST", "X:\\epn\\p1.epn", "/f", "/s1"},
                                       a.env(std::move(extra)));
    EXPECT_TRUE(run->wait_for(kQuestion)) << run->output();
    return run;
}
// Only "/d" or "-d" itself (either case, trailing blanks ignored) asks to
// clear; a pattern that merely begins with it is a pattern, also when the
// answer "j" is waiting on the input.
TEST(ClearRequest, OnlyTheExactArgumentClears) {
    Area a;
    a.stored({"P1"});

    // "-data/*.epn" relative to the working directory: imported, not cleared.
    make_dirs(a.dir / "-data");
    EpnFile f = epn_example_square();
    f.name = "P2";
    write_file(a.dir / "-data/p2.epn", epn_text(f));
    auto r = run_teilimp({"X:TEST", "-data/*.epn", "/f"}, a.env(), "j\n", a.dir.path);
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:-data/" + found_name("p2.epn"), "   Teil importiert als:P2",
                                      "Ergebnis: 1 importiert (0 ersetzt), 0 \x81" "bergangen, 0 fehlerhaft."}));
    for (std::string pattern : {"/dxyz", "/D/none/*.epn", "-dx"}) {
        r = a.run({"X:TEST", pattern, "/f"}, "j\n");
        // A longer word that names no file reads as a mistyped option.
        const std::string warning = pattern == "/dxyz"           ? "Achtung: Unbekannte Option ignoriert: /dxyz\n"
                                    : pattern == "/D/none/*.epn" ? "Achtung: Datei nicht gefunden: /D/none/*.epn\n"
                                                                 : "";
        EXPECT_EQ(r.out, kBanner + warning + "Achtung: Keine EPN-Datei(en) gefunden!\n") << pattern;
    }
    EXPECT_EQ(a.pieces(), (std::vector<std::string>{"P1", "P2"}));
    EXPECT_EQ(a.problems(), std::vector<std::string>{});

    for (std::string form : {"/D", "-d", "/d  "}) {
        a.epn_file("P3");
        ASSERT_EQ(a.run({"X:TEST", "X:\\epn\\p3.epn", "/s1"}).out, "   Teil importiert als:P3\n");
        r = a.run({"X:TEST", form, "/s1"}, "j\n");
        EXPECT_NE(r.out.find("Datenbasis geleert."), std::string::npos) << form;
        EXPECT_EQ(a.pieces(), std::vector<std::string>{}) << form;
    }
}

// An area argument is never cut: one longer than 10 significant characters
// is refused before anything is touched, for an import and for a clear.
TEST(AreaArgument, LongerThanTenCharactersIsRefused) {
    Area a;
    // C:\KUNDE1\SOMMER\ would otherwise clear C:\KUNDE1\.
    const std::string kunde = a.dir / "KUNDE1";
    write_file(kunde + "/piece.ctl", "must stay");
    write_file(kunde + "/pieceaaa.pce", "must stay");
    auto r = a.run({"X:\\KUNDE1\\SOMMER\\", "/d"}, "j\n");
    EXPECT_EQ(r.out, kBanner + "Achtung: Bereich zu lang (h\x94" "chstens 10 Zeichen): X:\\KUNDE1\\SOMMER\\\n" + kStop);
    EXPECT_EQ(read_file(kunde + "/piece.ctl"), "must stay");
    EXPECT_EQ(read_file(kunde + "/pieceaaa.pce"), "must stay");

    // X:PROJECT01 and X:PROJECT02 would both be X:PROJECT0. Also quiet, the
    // refusal is shown; trailing blanks do not count.
    const std::string project = a.dir / "userroot/storage/PROJECT0/data";
    make_dirs(project);
    a.run({"X:PROJECT0", "/d"}, "j\n");
    const std::string cleared = read_file(project + "/piece.ctl");
    ASSERT_EQ(cleared.size(), 64u);
    a.epn_file("P1");
    r = a.run({"X:PROJECT01", "X:\\epn\\*.epn", "/s1"});
    EXPECT_EQ(r.out, "Achtung: Bereich zu lang (h\x94" "chstens 10 Zeichen): X:PROJECT01\n" + kStop);
    EXPECT_EQ(list_dir(project), std::vector<std::string>{"piece.ctl"});
    r = a.run({"X:PROJECT0  ", "X:\\epn\\*.epn", "/s1"});
    EXPECT_EQ(r.out, "   Teil importiert als:P1\n");
    EXPECT_EQ(check_area(project), std::vector<std::string>{});
}

// Clearing removes every piece file, also behind a gap in the codes, with
// the backups and temporary files; a clear that fails says so.
TEST(ClearUnderLock, RemovesEveryPieceFileOrSaysItFailed) {
    Area a;
    a.clear();
    for (int i = 0; i < 20; ++i) a.epn_file("P" + std::to_string(100 + i));
    a.run({"X:TEST", "X:\\epn\\*.epn", "/s1"});
    ASSERT_EQ(a.pieces().size(), 20u);
    ASSERT_TRUE(file_exists(a.data() + "/pieceaac.pce"));
    ASSERT_EQ(std::remove((a.data() + "/pieceaab.pce").c_str()), 0);  // a gap in the codes
    write_file(a.data() + "/pieceaac.pc$", "stray");
    write_file(a.data() + "/piece.ctl.tmp", "stray");
    auto r = a.run({"X:TEST", "/d", "/s1"}, "j\n");
    EXPECT_EQ(r.out, clear_question(20, 2) + "Datenbasis geleert.\n");
    EXPECT_EQ(list_dir(a.data()), std::vector<std::string>{"piece.ctl"});

#ifndef _WIN32
    // A piece file that cannot be deleted.
    ASSERT_EQ(a.run({"X:TEST", "X:\\epn\\p100.epn", "/s1"}).out, "   Teil importiert als:P100\n");
    ASSERT_EQ(::chmod((a.data() + "/pieceaaa.pce").c_str(), 0444), 0);
    r = a.run({"X:TEST", "/d", "/s1"}, "j\n");
    EXPECT_EQ(r.out, clear_question(1, 1) + "Achtung: Datenbasis konnte nicht geleert werden.\n");
    EXPECT_FALSE(file_exists(a.lock()));
#endif
}

// A missing or unusable area fails at once, with what is wrong with it.
TEST(AreaCheck, MissingOrUnwritableAreaFailsAtOnce) {
    Area a;
    a.epn_file("P1");
    const auto started = std::chrono::steady_clock::now();
    // On POSIX a line after the message says which directory that is, or
    // that the drive is not mapped.
    const std::string noArea = posix_system() ? "   (" + a.dir / "userroot/storage/NOAREA/data)\n" : "";
    const std::string noDrive = posix_system() ? "   (Laufwerk Q: ist nicht zugeordnet: TEILIMP_DRIVE_Q setzen)\n" : "";
    auto r = a.run({"X:NOAREA", "X:\\epn\\*.epn", "/s1"}, {}, {{"TEILIMP_SLEEP_SCALE", "1"}});
    EXPECT_EQ(r.out, "Achtung: Zielbereich nicht gefunden: X:\\userroot\\storage\\NOAREA\\data\\\n" + noArea + kStop);
    r = a.run({"Q:TEST", "X:\\epn\\*.epn", "/s1"}, {}, {{"TEILIMP_SLEEP_SCALE", "1"}});
    EXPECT_EQ(r.out, "Achtung: Zielbereich nicht gefunden: Q:\\userroot\\storage\\TEST\\data\\\n" + noDrive + kStop);
    r = a.run({"X:NOAREA", "/d", "/s1"}, "j\n", {{"TEILIMP_SLEEP_SCALE", "1"}});
    EXPECT_EQ(r.out, "Bereich: X:\\userroot\\storage\\NOAREA\\data\\\n" + kClearQuestion.substr(kClearQuestion.find("Der")) +
                         "Achtung: Zielbereich nicht gefunden: X:\\userroot\\storage\\NOAREA\\data\\\n" + noArea + kStop);

    a.clear();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // The read-only attribute does not keep files out of a directory.
#ifndef _WIN32
    ASSERT_EQ(::chmod(a.data().c_str(), 0555), 0);
    r = a.run({"X:TEST", "X:\\epn\\*.epn", "/s1"}, {}, {{"TEILIMP_SLEEP_SCALE", "1"}});
    EXPECT_EQ(r.out, "Achtung: Zielbereich nicht beschreibbar: X:\\userroot\\storage\\TEST\\data\\\n   (" +
                         a.data() + ")\n" + kStop);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ASSERT_EQ(::chmod(a.data().c_str(), 0755), 0);
    EXPECT_EQ(list_dir(a.data()), std::vector<std::string>{"piece.ctl"});
#endif
}

// A run reads the area's files where they are and writes nothing to the
// temporary directory, so a run killed at any file operation leaves
// nothing there either.
TEST(TemporaryDirectory, NothingLeftAfterAKilledRun) {
    for (int64_t k = 1;; ++k) {
        ASSERT_LT(k, 400) << "the run never got through";
        if (!sweep_point(k)) continue;
        Area a;
        a.clear();
        for (const char* n : {"P1", "P2", "P3"}) a.epn_file(n);
        ASSERT_EQ(a.run({"X:TEST", "X:\\epn\\*.epn", "/s1"}).exitCode, 0);
        for (const char* n : {"P2", "P4"}) a.epn_file(n);
        const std::string tmp = a.dir / "tmp";
        const RunResult r = a.run({"X:TEST", "X:\\epn\\*.epn", "/s1"}, {},
                                  {{"TEILIMP_CRASH_AT", std::to_string(k)}, {"TEMP", tmp}, {"TMPDIR", tmp}});
        EXPECT_TRUE(list_dir(tmp).empty()) << "killed at operation " << k;
        if (r.exitCode == 0) break;
        ASSERT_TRUE(r.killed) << k << ": exit " << r.exitCode;
    }
}

// A team's shared area keeps its permissions: every new version of an area
// file, a new piece file and the lock take the control file's permission
// bits and group.
TEST(Permissions, NewVersionsKeepTheTeamsAccess) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits and groups";
#else
    Area a;
    a.clear();
    const std::string ctl = a.data() + "/piece.ctl";
    const gid_t team = 4242;
    ASSERT_EQ(::chown(ctl.c_str(), static_cast<uid_t>(-1), team), 0);
    ASSERT_EQ(::chmod(ctl.c_str(), 0664), 0);
    auto access_of = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return std::make_pair(st.st_mode & 07777, st.st_gid);
    };
    const auto shared = std::make_pair(static_cast<mode_t>(0664), team);

    a.epn_file("P1");
    a.epn_file("P2");
    // The lock, while a run waits at its question.
    ASSERT_EQ(a.run({"X:TEST", "X:\\epn\\p1.epn", "/s1"}).out, "   Teil importiert als:P1\n");
    {
        auto run = run_at_the_question(a);
        EXPECT_EQ(access_of(a.lock()), shared);
        run->send("j\n");
        run->finish();
    }
    // Rewritten (control file, sort, piece file for a second slot and for
    // the superseded mark) and new (the piece file).
    ASSERT_EQ(a.run({"X:TEST", "X:\\epn\\*.epn", "/s1"}).out,
              "   Teil importiert als:P1\n   Teil importiert als:P2\n");
    EXPECT_EQ(access_of(ctl), shared);
    EXPECT_EQ(access_of(a.data() + "/pieceaaa.pce"), shared);
    EXPECT_EQ(a.problems(), std::vector<std::string>{});

    // A new piece file of another code, and the cleared control file.
    for (int i = 0; i < 8; ++i) a.epn_file("Q" + std::to_string(i));
    a.run({"X:TEST", "X:\\epn\\q*.epn", "/s1"});
    ASSERT_TRUE(file_exists(a.data() + "/pieceaab.pce"));
    EXPECT_EQ(access_of(a.data() + "/pieceaab.pce"), shared);
    a.clear();
    EXPECT_EQ(access_of(ctl), shared);
#endif
}

// A stray or damaged backup is never put back: a 19-byte text named
// piece.ct$ would replace the control file, an empty .pc$ a piece file.
TEST(Recovery, UnsoundBackupStopsTheRunAndChangesNothing) {
    Area a;
    a.stored({"P1", "P2"});
    const std::string ctl = read_file(a.data() + "/piece.ctl");
    const std::string pce = read_file(a.data() + "/pieceaaa.pce");
    a.epn_file("P3");
    for (const auto& [name, stray] : std::vector<std::pair<std::string, std::string>>{
             {"piece.ct$", "notiz: nicht loeschen"}, {"pieceaaa.pc$", ""}}) {
        write_file(a.data() + "/" + name, stray);
        const RunResult r = a.run({"X:TEST", "X:\\epn\\p3.epn", "/s1"});
        EXPECT_EQ(r.out, cp850_lines({"Achtung: Sicherung unbrauchbar: " + name,
                                      "Achtung: Zielbereich konnte nach Abbruch nicht wiederhergestellt werden.",
                                      "Stop - Program terminated."}));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(read_file(a.data() + "/piece.ctl"), ctl);
        EXPECT_EQ(read_file(a.data() + "/pieceaaa.pce"), pce);
        EXPECT_EQ(read_file(a.data() + "/" + name), stray);
        EXPECT_FALSE(file_exists(a.lock()));
        ASSERT_EQ(std::remove((a.data() + "/" + name).c_str()), 0);
    }
    // Sound backups, as a run that died leaves them, are put back and named.
    write_file(a.data() + "/piece.ct$", ctl);
    write_file(a.data() + "/pieceaaa.pc$", pce);
    write_file(a.data() + "/piece.ctl", ctl.substr(0, 70));
    write_file(a.data() + "/pieceaaa.pce", pce.substr(0, 600));
    const RunResult r = a.run({"X:TEST", "X:\\epn\\p3.epn", "/s1"});
    EXPECT_EQ(r.out, cp850_lines({"Achtung: Zielbereich nach Abbruch wiederhergestellt.",
                                  "   zur\x81" "ckgesetzt: pieceaaa.pce", "   zur\x81" "ckgesetzt: piece.ctl",
                                  "   Teil importiert als:P3"}));
    EXPECT_EQ(a.pieces(), (std::vector<std::string>{"P1", "P2", "P3"}));
    EXPECT_EQ(a.problems(), std::vector<std::string>{});
}

// A control file whose trailer names a place that is taken (damaged) makes
// the store fail with 11 instead of overwriting a full piece file.
TEST(SlotTaken, StoreNeverOverwritesAStoredPiece) {
    Area a;
    a.clear();
    for (int i = 0; i < 9; ++i) a.epn_file("P" + std::to_string(i));
    a.run({"X:TEST", "X:\\epn\\*.epn", "/s1"});
    ASSERT_EQ(a.pieces().size(), 9u);
    std::string ctl = read_file(a.data() + "/piece.ctl");
    ctl.replace(ctl.size() - 64, 4, std::string("aaa\x03", 4));  // next: aaa, slot 4
    write_file(a.data() + "/piece.ctl", ctl);
    const std::string aaa = read_file(a.data() + "/pieceaaa.pce");
    a.epn_file("NEU");
    const RunResult r = a.run({"X:TEST", "X:\\epn\\NEU.epn"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("NEU.epn"),
                                            "Achtung: Fehler in epn_pce_put()    11",
                                            "   (Platz in pieceaaa.pce ist schon belegt: Bereich mit teilarea check pr\x81" "fen)",
                                            "   Teil nicht importiert !!! (NEU)",
                                            "Ergebnis: 0 importiert (0 ersetzt), 0 \x81" "bergangen, 1 fehlerhaft."}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(read_file(a.data() + "/piece.ctl"), ctl);
    EXPECT_EQ(read_file(a.data() + "/pieceaaa.pce"), aaa);
    EXPECT_EQ(list_dir(a.data()), (std::vector<std::string>{"piece.ctl", "pieceaaa.pce", "pieceaab.pce"}));
}

// Pieces without a name are not stored: two of them would overwrite each
// other, and the CAD system could not address either.
TEST(Nameless, PieceWithoutANameIsNotStored) {
    Area a;
    a.clear();
    a.epn_file("P1");
    EpnFile f = epn_example_square();
    f.name = std::string(20, ' ');
    write_file(a.epn() + "/blank.epn", epn_text(f));
    f.name = std::string(20, '\0');
    write_file(a.epn() + "/nuls.epn", epn_text(f));  // "nul" names a device on Windows
    const RunResult r = a.run({"X:TEST", "X:\\epn\\*.epn"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("blank.epn"),
                                            "Fehler beim Konvertieren:    12", "   (Zeile 1: Teil ohne Namen)",
                                            "Konvertiere Datei:X:\\epn\\" + found_name("nuls.epn"),
                                            "Fehler beim Konvertieren:    12", "   (Zeile 1: Teil ohne Namen)",
                                            "Konvertiere Datei:X:\\epn\\" + found_name("P1.epn"), "   Teil importiert als:P1",
                                            "Ergebnis: 1 importiert (0 ersetzt), 0 \x81" "bergangen, 2 fehlerhaft."}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(a.pieces(), std::vector<std::string>{"P1"});
    EXPECT_EQ(read_file(a.data() + "/piece.ctl").size(), 2u * 64);
    EXPECT_EQ(a.problems(), std::vector<std::string>{});
}

// The console log is written line by line: a run killed in the middle has
// logged every piece it stored (and, with /l, whose EPN file it deleted).
TEST(ConsoleLog, CompleteUpToTheMomentTheRunDies) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a FIFO that holds the run in the middle of a file";
#else
    Area a;
    a.clear();
    a.epn_file("A1", "a1.epn");
    // The next file is a FIFO without a writer: opening it hangs the run.
    ASSERT_EQ(::mkfifo((a.epn() + "/b2.epn").c_str(), 0600), 0);
    Child run({"X:TEST", "X:\\epn\\*.epn", "/l"}, a.env());
    ASSERT_TRUE(eventually([&] { return !file_exists(a.epn() + "/a1.epn"); }));
    run.kill();
    const RunResult r = run.finish();
    EXPECT_TRUE(r.killed) << r.exitCode;
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\a1.epn", "   Teil importiert als:A1",
                                      "Konvertiere Datei:X:\\epn\\b2.epn"}));
    EXPECT_EQ(a.pieces(), std::vector<std::string>{"A1"});
#endif
}

// The same on every system: a run killed at some moment of a long /l run
// has logged, in whole lines, every piece whose EPN file is gone.
TEST(ConsoleLog, KilledRunHasLoggedEveryDeletedFile) {
    Area a;
    a.clear();
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) {
        names.push_back("P" + std::to_string(1000 + i));
        a.epn_file(names.back());
    }
    Child run({"X:TEST", "X:\\epn\\*.epn", "/l"}, a.env());
    ASSERT_TRUE(eventually([&] { return list_dir(a.epn()).size() <= 195; }));
    run.kill();
    const RunResult r = run.finish();
    EXPECT_TRUE(r.killed) << r.exitCode;
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.out.find("<LF>"), std::string::npos) << r.out;
    const std::vector<std::string> left = list_dir(a.epn());
    EXPECT_LT(left.size(), 200u);
    for (const std::string& n : names) {
        const bool gone = std::find(left.begin(), left.end(), n + ".epn") == left.end();
        if (gone) {
            EXPECT_NE(r.out.find("   Teil importiert als:" + n + "\n"), std::string::npos) << n;
        }
    }
}

// A run that waits at a question for longer than a lock lives keeps its
// lock: another run waits for it instead of taking it for dead.
TEST(LiveLock, RunWaitingAtTheQuestionIsNotTakenForDead) {
    Area a;
    a.stored({"P1"});
    a.epn_file("P2");
    auto first = run_at_the_question(a, kFastLock);
    std::this_thread::sleep_for(std::chrono::seconds(5));  // older than a lock lives

    auto second = a.run({"X:TEST", "X:\\epn\\p2.epn", "/s1"}, {}, kFastLock);
    EXPECT_EQ(second.out, "Zugriffsdatei gefunden. Wartezyklus...\n" + all_marks() +
                              "Zielbereich ist blockiert.\n" + kStop);
    first->send("j\n");
    const RunResult r = first->finish();
    EXPECT_EQ(r.out, "Teil P1 existiert bereits.\n" + kQuestion + "Ja.\n   Teil importiert als:P1\n");
    EXPECT_FALSE(file_exists(a.lock()));
    EXPECT_EQ(a.pieces(), std::vector<std::string>{"P1"});
    EXPECT_EQ(a.problems(), std::vector<std::string>{});
}

// A suspended run whose lock another run has taken over changes nothing
// when it goes on, and leaves the other run's lock alone.
TEST(LiveLock, SuspendedRunThatLostItsLockStops) {
    Area a;
    a.stored({"P1", "P2"});
    auto first = run_at_the_question(a, kFastLock);
    first->suspend();
    std::this_thread::sleep_for(std::chrono::seconds(5));

    // The second run finds a lock nobody renews, takes it and waits at its
    // own question.
    auto second = std::make_unique<Child>(std::vector<std::string>{"X:TEST", "X:\\epn\\p2.epn", "/f"},
                                          a.env(kFastLock));
    ASSERT_TRUE(second->wait_for(kQuestion)) << second->output();
    EXPECT_NE(second->output().find("Alte Zugriffsdatei entfernt...\n"), std::string::npos);
    const std::string theirs = platform::file_identity(a.lock());
    ASSERT_NE(theirs, "");

    first->resume();
    first->send("j\n");
    const RunResult r = first->finish();
    EXPECT_EQ(r.out, "Teil P1 existiert bereits.\n" + kQuestion + "Ja.\n" + kLost + kStop);
    EXPECT_EQ(platform::file_identity(a.lock()), theirs);

    second->send("j\n");
    const RunResult r2 = second->finish();
    EXPECT_NE(r2.out.find("   Teil importiert als:P2\n"), std::string::npos) << r2.out;
    EXPECT_EQ(r2.out.find("verloren"), std::string::npos) << r2.out;
    EXPECT_FALSE(file_exists(a.lock()));
    EXPECT_EQ(a.pieces(), (std::vector<std::string>{"P1", "P2"}));
    EXPECT_EQ(a.problems(), std::vector<std::string>{});
}

// In real time: a run held at a question for more than a minute renews its
// lock at least every 60 seconds. (This test takes some 70 seconds.)
TEST(LiveLockRealTime, RenewedAtLeastEverySixtySeconds) {
    Area a;
    a.stored({"P1"});
    auto run = run_at_the_question(a);
    const auto start = std::chrono::steady_clock::now();
    std::set<int64_t> stamps;
    double oldest = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(70)) {
        std::error_code ec;
        const auto written = std::filesystem::last_write_time(a.lock(), ec);
        ASSERT_FALSE(ec) << ec.message();
        stamps.insert(static_cast<int64_t>(written.time_since_epoch().count()));
        const std::chrono::duration<double> age = std::filesystem::file_time_type::clock::now() - written;
        oldest = std::max(oldest, age.count());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    EXPECT_LE(oldest, 60.0);
    EXPECT_GE(stamps.size(), 3u);  // created, then renewed at least twice
    run->send("n\n");
    const RunResult r = run->finish();
    EXPECT_EQ(r.out, "Teil P1 existiert bereits.\n" + kQuestion + "Nein.\n");
    EXPECT_FALSE(file_exists(a.lock()));
}

// Clearing takes the lock: it waits for a run that imports, and clears
// nothing while that run holds the area.
TEST(ClearUnderLock, WaitsForTheImportingRun) {
    Area a;
    a.stored({"P1"});
    a.epn_file("P2");
    auto importer = run_at_the_question(a);

    auto r = a.run({"X:TEST", "/d"}, "j\n", kFastLock);
    EXPECT_EQ(r.out, kBanner + clear_question(1, 1) + "Zugriffsdatei gefunden. Wartezyklus...\n" + all_marks() +
                         "Zielbereich ist blockiert.\n" + kStop);
    EXPECT_EQ(a.pieces(), std::vector<std::string>{"P1"});

    // The importer goes on while a clear waits: the clear comes after it.
    Child clear({"X:TEST", "/d", "/s1"}, a.env({{"TEILIMP_SLEEP_SCALE", "0.25"}}));
    clear.send("j\n");
    ASSERT_TRUE(clear.wait_for(".. 1."));
    importer->send("j\n");
    EXPECT_EQ(importer->finish().out, "Teil P1 existiert bereits.\n" + kQuestion + "Ja.\n   Teil importiert als:P1\n");
    const RunResult c = clear.finish();
    EXPECT_NE(c.out.find(" OK\nDatenbasis geleert.\n"), std::string::npos) << c.out;
    EXPECT_EQ(list_dir(a.data()), std::vector<std::string>{"piece.ctl"});
    EXPECT_EQ(a.problems(), std::vector<std::string>{});
}

// Ctrl-C at the question: the piece is not stored, the end of the run is
// done for the piece stored before it, the lock is released.
TEST(Interrupt, AtTheQuestionEndsTheRunSafely) {
    for (StopRequest request : {StopRequest::interrupt, StopRequest::terminate, StopRequest::hangup}) {
        const int how = static_cast<int>(request);
        Area a;
        a.stored({"P1"});
        a.epn_file("P0");
        a.epn_file("P2");
        Child run({"X:TEST", "X:\\epn\\*.epn", "/f"}, a.env());
        ASSERT_TRUE(run.wait_for(kQuestion)) << run.output();
        run.ask_to_stop(request);
        // The read of the answer ends; the input stays open.
        EXPECT_TRUE(run.wait_for("Abbruch durch den Benutzer.\n", std::chrono::seconds(10)))
            << "request " << how << "\n" << run.output();
        const RunResult r = run.finish();
        EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("P0.epn"), "   Teil importiert als:P0",
                                                "Konvertiere Datei:X:\\epn\\" + found_name("P1.epn"), "Teil P1 existiert bereits.",
                                                "\x9A" "berschreiben? (Ja/Nein/Alle)",
                                                "Ergebnis: 1 importiert (0 ersetzt), 0 \x81" "bergangen, 1 fehlerhaft.",
                                                "Abbruch durch den Benutzer."}))
            << how;
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_FALSE(file_exists(a.lock()));
        EXPECT_EQ(a.pieces(), (std::vector<std::string>{"P0", "P1"}));
        EXPECT_EQ(a.problems(), std::vector<std::string>{});
        // Sorted at the end: P0 before P1.
        EXPECT_EQ(read_file(a.data() + "/piece.ctl").substr(0, 2), "P0");
    }
}

// Ctrl-C while waiting for another run's lock ends the wait at once and
// leaves that lock alone.
TEST(Interrupt, WhileWaitingForTheLock) {
    Area a;
    a.clear();
    a.epn_file("P1");
    write_file(a.lock(), "OK\n");
    Child run({"X:TEST", "X:\\epn\\*.epn", "/s1"}, a.env({{"TEILIMP_SLEEP_SCALE", "1"}}));
    ASSERT_TRUE(run.wait_for(".. 1."));
    const auto sent = std::chrono::steady_clock::now();
    run.ask_to_stop();
    const RunResult r = run.finish();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
    EXPECT_EQ(r.out, "Zugriffsdatei gefunden. Wartezyklus...\n.. 1. OK\nAbbruch durch den Benutzer.\n");
    EXPECT_EQ(read_file(a.lock()), "OK\n");
    EXPECT_EQ(list_dir(a.data()), (std::vector<std::string>{"piece.ctl", "teilimp.opn"}));
}

// Ctrl-C in the middle of a long run: no further file is converted, every
// piece reported as imported is there, the lock is gone.
TEST(Interrupt, DuringALongRun) {
    Area a;
    a.clear();
    for (int i = 0; i < 300; ++i) a.epn_file("P" + std::to_string(1000 + i));
    Child run({"X:TEST", "X:\\epn\\*.epn", "/l", "/s1"}, a.env());
    ASSERT_TRUE(run.wait_for("als:P1003\n"));
    run.ask_to_stop();
    const RunResult r = run.finish();
    ASSERT_GE(r.out.size(), 28u);
    EXPECT_EQ(r.out.substr(r.out.size() - 28), "Abbruch durch den Benutzer.\n");
    std::vector<std::string> reported;
    for (size_t at = r.out.find("als:"); at != std::string::npos; at = r.out.find("als:", at + 1))
        reported.push_back(r.out.substr(at + 4, 5));
    EXPECT_LT(reported.size(), 300u);
    EXPECT_EQ(a.pieces(), reported);
    // Exactly the stored pieces' EPN files are gone.
    EXPECT_EQ(list_dir(a.epn()).size(), 300u - reported.size());
    EXPECT_FALSE(file_exists(a.lock()));
    EXPECT_EQ(a.problems(), std::vector<std::string>{});
}

// A second interrupt while the run ends ends the process at once; the next
// run puts the area right.
TEST(Interrupt, SecondOneEndsAtOnce) {
    Area a;
    a.stored({"P1"});
    a.epn_file("P0");
    Child run({"X:TEST", "X:\\epn\\*.epn", "/f", "/s1"}, a.env());
    ASSERT_TRUE(run.wait_for(kQuestion)) << run.output();
    // Two different requests, so that on POSIX the second signal is not
    // merged into the first while that one waits to be handled.
    run.ask_to_stop(StopRequest::interrupt);
    run.ask_to_stop(StopRequest::terminate);
    const RunResult r = run.finish();
    // Ended by whichever of the two came second.
    if (posix_system()) {
        EXPECT_TRUE(r.exitCode == -1000 - SIGTERM || r.exitCode == -1000 - SIGINT) << r.exitCode << r.out;
        EXPECT_EQ(r.out.find("Abbruch"), std::string::npos);
    } else if (r.exitCode == 1) {
        // Windows hands console events to the program one after the other:
        // the second one's turn comes only when the handler of the first has
        // returned, and a run this short may have ended safely by then.
        ASSERT_GE(r.out.size(), 28u);
        EXPECT_EQ(r.out.substr(r.out.size() - 28), "Abbruch durch den Benutzer.\n");
    } else {
        // Ended at once, with the status of a program ended by Ctrl-C.
        EXPECT_EQ(static_cast<uint32_t>(r.exitCode), 0xC000013Au) << r.out;
        EXPECT_EQ(r.out.find("Abbruch"), std::string::npos);
    }
    // The lock it left is renewed by nobody: a later run removes it once
    // it is stale (scaled here), and finds the area sound.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    a.epn_file("P2");
    const RunResult next = a.run({"X:TEST", "X:\\epn\\p2.epn", "/s1"}, {}, kFastLock);
    EXPECT_NE(next.out.find("   Teil importiert als:P2\n"), std::string::npos) << next.out;
    EXPECT_FALSE(file_exists(a.lock()));
    EXPECT_EQ(a.problems(), std::vector<std::string>{});
}

}  // namespace
}  // namespace teilimp::testing
