// Ordinary actions on a shared area that must not lose, overwrite or mix
// up pieces: the command line's clear request and area argument, the
// console log of a run that dies, and (below) two runs at once.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#endif

#include <map>
#include <string>
#include <vector>

#include "support/area_check.h"
#ifndef _WIN32
#include "support/child.h"
#endif
#include "support/epn_builder.h"
#include "support/test_util.h"

namespace teilimp::testing {
namespace {

const std::string kBanner = "TEILIMP   Konvertierung von EPN-Dateien V1.17\n \n";
const std::string kStop = "Stop - Program terminated.\n";
const std::string kClearQuestion =
    "Reset der Datenbasis durchf\x81hren.\n"
    "Sind Sie sicher, dass sie alle Teile im angegebenen Datenbereich\n"
    "l\x94schen wollen? (j/n)\n";

// A drive X: with the area TEST and a directory of EPN files.
struct Area {
    TempDir dir;
    DriveMap x{'X', dir.path};
    std::string data() const { return dir / "userroot/storage/TEST/data"; }
    std::string epn() const { return dir / "epn"; }
    std::string lock() const { return data() + "/teilimp.opn"; }
    std::map<std::string, std::string> env(std::map<std::string, std::string> extra = {}) const {
        std::map<std::string, std::string> e = {{"LC_ALL", "C"},
                                                {"TEILIMP_SLEEP_SCALE", "0"}, {"TMP", dir / "tmp"}};
        for (auto& [k, v] : extra) e[k] = v;
        return e;
    }
    Area() {
        make_dirs(data());
        make_dirs(epn());
        make_dirs(dir / "tmp");
    }
    RunResult run(std::vector<std::string> args, std::string_view input = {},
                  std::map<std::string, std::string> extra = {}) const {
        return run_teilimp(args, env(std::move(extra)), input);
    }
    void clear() const {
        auto r = run({"X:TEST", "/d"}, "j\n");
        ASSERT_NE(r.out.find("Datenbasis geleert."), std::string::npos) << r.out;
    }
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
    // The names of the valid pieces.
    std::vector<std::string> pieces() const {
        std::vector<std::string> names;
        for (auto& [name, image] : valid_images(data())) names.push_back(name);
        return names;
    }
};

std::string lines(std::initializer_list<std::string> ls) {
    std::string s;
    for (auto& l : ls) s += l + "\n";
    return s;
}

// Only "/d" or "-d" itself (either case, trailing blanks ignored) asks to
// clear; a pattern that merely begins with it is a pattern, also when the
// answer "j" is waiting on the input.
TEST(ClearRequest, OnlyTheExactArgumentClears) {
    Area a;
    a.clear();
    a.epn_file("P1");
    ASSERT_EQ(a.run({"X:TEST", "X:\\epn\\*.epn", "/s1"}).out, "   Teil importiert als:P1\n");

    // "-data/*.epn" relative to the working directory: imported, not cleared.
    make_dirs(a.dir / "-data");
    EpnFile f = epn_example_square();
    f.name = "P2";
    write_file(a.dir / "-data/p2.epn", epn_text(f));
    auto r = run_teilimp({"X:TEST", "-data/*.epn", "/f"}, a.env(), "j\n", a.dir.path);
    EXPECT_EQ(r.out, kBanner + lines({"Konvertiere Datei:-data/p2.epn", "   Teil importiert als:P2",
                                      "Ergebnis: 1 importiert (0 ersetzt), 0 \x81" "bergangen, 0 fehlerhaft."}));
    for (std::string pattern : {"/dxyz", "/D/none/*.epn", "-dx"}) {
        r = a.run({"X:TEST", pattern, "/f"}, "j\n");
        // A longer word that names no file reads as a mistyped option.
        const std::string warning = pattern == "/dxyz" ? "Achtung: Unbekannte Option ignoriert: /dxyz\n" : "";
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

// The console log is written line by line: a run killed in the middle has
// logged every piece it stored (and, with /l, whose EPN file it deleted).
TEST(ConsoleLog, CompleteUpToTheMomentTheRunDies) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a FIFO that hangs the run and a signal that kills it";
#else
    Area a;
    a.clear();
    a.epn_file("A1", "a1.epn");
    // The next file is a FIFO without a writer: opening it hangs the run.
    ASSERT_EQ(::mkfifo((a.epn() + "/b2.epn").c_str(), 0600), 0);
    Child run({"X:TEST", "X:\\epn\\*.epn", "/l"}, a.env());
    ASSERT_TRUE(eventually([&] { return !file_exists(a.epn() + "/a1.epn"); }));
    run.signal(SIGKILL);
    const RunResult r = run.finish();
    EXPECT_EQ(r.exitCode, -1000 - SIGKILL);
    EXPECT_EQ(r.out, kBanner + lines({"Konvertiere Datei:X:\\epn\\a1.epn", "   Teil importiert als:A1",
                                      "Konvertiere Datei:X:\\epn\\b2.epn"}));
    EXPECT_EQ(a.pieces(), std::vector<std::string>{"A1"});
#endif
}

// A run reads the area's files where they are and writes nothing to the
// temporary directory, so a run killed at any file operation leaves
// nothing there either.
TEST(TemporaryDirectory, NothingLeftAfterAKilledRun) {
    for (int64_t k = 1;; ++k) {
        ASSERT_LT(k, 400) << "the run never got through";
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

}  // namespace
}  // namespace teilimp::testing
