// What the program tells a user who asks for help or follows its advice:
// the help and version texts, and an area whose control file is gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/driver_fixture.h"
#include "support/test_util.h"
#include "util/version.h"

namespace teilimp::testing {
namespace {

TEST(Help, EveryFormAndTheVersionEndWithZero) {
    for (std::string form : {"--help", "-h", "/H", "-?", "/?", "--HELP"}) {
        for (std::vector<std::string> args : {std::vector<std::string>{form}, {"X:TEST", form, "/s1"}}) {
            auto r = run_teilimp(args, {{"LC_ALL", "C"}});
            EXPECT_EQ(r.exitCode, 0) << form;
            EXPECT_EQ(r.out, kBanner + kUsage) << form;
        }
    }
    auto r = run_teilimp({"--version"}, {{"LC_ALL", "C"}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "teilimp " + std::string(util::version()) + "\n");
}

// Pieces whose control file is deleted or damaged: the import and the clear
// request both point to the repair, which brings every piece back.
TEST(Advice, LostControlFileIsRepairedNotCleared) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/a.epn", square_epn("A"));
    write_file(d.epn() + "/b.epn", square_epn("B"));
    ASSERT_EQ(d.run({"X:TEST", "X:\\epn\\*.epn", "/s1"}).exitCode, 0);
    const std::string ctl = d.data() + "/piece.ctl";
    const std::string sound = read_file(ctl);
    std::remove(ctl.c_str());

    auto r = d.run({"X:TEST", "X:\\epn\\a.epn"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("a.epn"),
                                            "Achtung: Fehler in epn_ctl_put()     1",
                                            "   (Steuerdatei fehlt, Teiledateien sind da: mit teilarea repair wiederherstellen)",
                                            "   Teil nicht importiert !!! (A)",
                                            "Ergebnis: 0 importiert (0 ersetzt), 0 \x81" "bergangen, 1 fehlerhaft."}));
    r = d.run({"X:TEST", "/d", "/s1"}, "n\n");
    EXPECT_EQ(r.out, clear_question(2, 1, true) + kNotCleared);
    EXPECT_EQ(r.exitCode, 0);
    // Damaged (cut inside the trailer): counted from the piece files.
    write_file(ctl, sound.substr(0, sound.size() - 10));
    EXPECT_EQ(d.run({"X:TEST", "/d", "/s1"}, "x\n").out, clear_question(2, 1, true) + kNotCleared);

    std::remove(ctl.c_str());
    const RunResult repair = run_program(build_path(TEILAREA_BINARY), {"repair", "X:TEST"}, d.env());
    EXPECT_EQ(repair.exitCode, 0) << repair.out;
    EXPECT_EQ(d.run({"X:TEST", "/d", "/s1"}, "n\n").out, clear_question(2, 1) + kNotCleared);
}

}  // namespace
}  // namespace teilimp::testing
