// End-to-end tests of the built program: its console bytes, its dialogue
// and what it leaves in a storage area on a mapped drive.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "driver/driver_fixture.h"
#include "support/test_util.h"

namespace teilimp::testing {
namespace {

TEST(Usage, TooFewOrBadArguments) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"F:TEST"}, {"F:", "*.EPN"}, {"FTEST", "x"},
                                          {"F;TEST", "x", "/n"}}) {
        auto r = run_teilimp(args, {{"LC_ALL", "C"}});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, kBanner + kUsage) << (args.empty() ? "" : args[0]);
    }
}

TEST(Usage, QuietSuppressesBannerOnly) {
    auto r = run_teilimp({"F:", "x", "/s1"}, {{"LC_ALL", "C"}});
    EXPECT_EQ(r.out, kUsage);
    // "/s" alone or followed by another character leaves quiet off; the
    // later option wins.
    r = run_teilimp({"F:", "x", "/s1", "/s2"}, {{"LC_ALL", "C"}});
    EXPECT_EQ(r.out, kBanner + kUsage);
    r = run_teilimp({"F:", "x", "-S1"}, {{"LC_ALL", "C"}});
    EXPECT_EQ(r.out, kUsage);
    // A 4-character option does not act; it is named as unknown.
    r = run_teilimp({"F:", "x", "/s1x"}, {{"LC_ALL", "C"}});
    EXPECT_EQ(r.out, kBanner + "Achtung: Unbekannte Option ignoriert: /s1x\n" + kUsage);
}

TEST(Usage, UmlautsAsTheConsoleShowsThem) {
    auto r = run_teilimp({"F:"}, {{"LC_ALL", "de_DE.UTF-8"}});
    if (posix_system()) {
        // A UTF-8 locale gets UTF-8.
        EXPECT_NE(r.out.find("nicht \xC3\xBC" "berschreiben"), std::string::npos);
        EXPECT_NE(r.out.find("\xC3\x9C" "bergabe l\xC3\xB6schen"), std::string::npos);
        return;
    }
    // Windows: the code page 850 bytes unchanged in the pipe, whatever the
    // locale variables say, and every line ending in CR LF.
    EXPECT_EQ(r.rawOut.find("\xC3"), std::string::npos);
    EXPECT_NE(r.rawOut.find("nicht \x81" "berschreiben\r\n"), std::string::npos);
    EXPECT_NE(r.rawOut.find("\x9A" "bergabe l\x94" "schen\r\n"), std::string::npos);
    EXPECT_EQ(r.out, kBanner + kUsage);
    // The same bytes in a file, as the command shell's redirection makes it.
    TempDir t;
    const std::string file = t / "usage.txt";
    const RunResult shell =
        run_program("cmd.exe", {"/c", build_path(TEILIMP_BINARY) + " F: > " + file}, {{"LC_ALL", "de_DE.UTF-8"}});
    EXPECT_EQ(shell.exitCode, 2) << shell.out << shell.err;
    EXPECT_EQ(read_file(file), r.rawOut);
}

TEST(Walk, NoFileFound) {
    Drive d;
    // Only options: nothing names a file.
    auto r = d.run({"X:TEST", "/n"});
    EXPECT_EQ(r.out, kBanner + kNoFiles);
    EXPECT_EQ(r.exitCode, 2);
    // /d as the third argument is ignored.
    r = d.run({"X:TEST", "X:\\epn\\*.none", "/d"});
    EXPECT_EQ(r.out, kBanner + "Achtung: Datei nicht gefunden: X:\\epn\\*.none\n" + kNoFiles);
    EXPECT_EQ(r.exitCode, 2);
}

TEST(Walk, OrderMessagesAndSkippedDirectories) {
    Drive d;
    write_file(d.epn() + "/b.epn", "garbage\n");
    write_file(d.epn() + "/A.EPN", "");
    write_file(d.epn() + "/c.Epn", square_epn("C", false, false).substr(0, 30));
    make_dirs(d.epn() + "/sub.epn");
    write_file(d.epn() + "/other.txt", "x");
    auto r = d.run({"x:TEST", "X:\\EPN\\*.epn"});
    const std::string header = "   (Zeile 1: Kopfzeile unlesbar oder nicht EPN-Format 3, oder die Schlusszeile fehlt)";
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\EPN\\A.EPN", "Fehler beim Konvertieren:     4",
                                            "   (Zeile 1: die Datei ist leer)",
                                            "Konvertiere Datei:X:\\EPN\\" + found_name("b.epn"), "Fehler beim Konvertieren:     4",
                                            header,
                                            "Konvertiere Datei:X:\\EPN\\" + found_name("c.Epn"), "Fehler beim Konvertieren:     4",
                                            header,
                                            "Ergebnis: 0 importiert (0 ersetzt), 0 \x81" "bergangen, 3 fehlerhaft."}));
    EXPECT_EQ(r.exitCode, 1);
    // Nothing was stored, so the area was not touched: no lock was taken.
    EXPECT_TRUE(list_dir(d.data()).empty());
    // Quiet: no file lines, no error lines.
    r = d.run({"X:TEST", "X:\\EPN\\*.epn", "/s1"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.exitCode, 1);
    // Only directories match: quiet end, nothing found to convert.
    r = d.run({"X:TEST", "X:\\EPN\\sub*"});
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.exitCode, 2);
}

TEST(Walk, SlashPatternAndCurrentDirectory) {
    Drive d;
    write_file(d.epn() + "/one.epn", "x\n");
    auto r = run_teilimp({"X:TEST", d.epn() + "/*.EPN"}, d.env());
    const std::string reason = "   (Zeile 1: Kopfzeile unlesbar oder nicht EPN-Format 3, oder die Schlusszeile fehlt)";
    const std::string summary = "Ergebnis: 0 importiert (0 ersetzt), 0 \x81" "bergangen, 1 fehlerhaft.";
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:" + d.epn() + "/" + found_name("one.epn"),
                                            "Fehler beim Konvertieren:     4", reason, summary}));
    r = run_teilimp({"X:TEST", "*.epn"}, d.env(), {}, d.epn());
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:.\\" + found_name("one.epn"), "Fehler beim Konvertieren:     4",
                                            reason, summary}));
}

TEST(Clear, AnswersAndForms) {
    Drive d;
    auto ctl = d.data() + "/piece.ctl";
    auto r = d.run({"X:TEST", "/d"}, "n\n");
    EXPECT_EQ(r.out, kBanner + kClearQuestion + kNotCleared);
    EXPECT_FALSE(file_exists(ctl));
    EXPECT_EQ(r.exitCode, 0);
    r = d.run({"X:TEST", "/d"}, "");
    EXPECT_EQ(r.out, kBanner + kClearQuestion + kNotCleared);
    EXPECT_FALSE(file_exists(ctl));
    EXPECT_EQ(r.exitCode, 0);
    // Anything longer than "/d" is no clear request.
    r = d.run({"X:TEST", "/dxyz"}, "j\n");
    EXPECT_EQ(r.out, kBanner + "Achtung: Unbekannte Option ignoriert: /dxyz\n" + kNoFiles);
    EXPECT_FALSE(file_exists(ctl));
    for (std::string form : {"/d", "-D", "/d "}) {
        // A piece file without a readable piece; the control file missing
        // the first time, then the one the clear made.
        const bool noControl = !file_exists(ctl);
        write_file(d.data() + "/pieceaaa.pce", "old");
        r = d.run({"X:TEST", form, "/s1"}, "Ja\n");
        EXPECT_EQ(r.out, clear_question(0, 1, noControl) + "Datenbasis geleert.\n") << form;
        EXPECT_EQ(r.exitCode, 0);
        std::string trailer(64, '\0');
        trailer.replace(0, 3, "aaa");
        trailer[59] = 3;
        EXPECT_EQ(read_file(ctl), trailer);
        EXPECT_FALSE(file_exists(d.data() + "/pieceaaa.pce"));
    }
}

TEST(Import, StoresReplacesAndSkips) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/p1.epn", square_epn("P1"));
    write_file(d.epn() + "/p2.epn", square_epn("P2", true, true));
    auto r = d.run({"X:TEST", "X:\\epn\\*.epn"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("p1.epn"), "   Teil importiert als:P1",
                                            "Konvertiere Datei:X:\\epn\\" + found_name("p2.epn"),
                                            "   Achtung: Umlaufsinn der Kontur ge\x84ndert.",
                                            "   Achtung: Fadenlauf nach rechts gedreht.",
                                            "   Teil importiert als:P2",
                                            "Ergebnis: 2 importiert (0 ersetzt), 0 \x81" "bergangen, 0 fehlerhaft."}));
    EXPECT_EQ(r.exitCode, 0);
    auto names = list_dir(d.data());
    EXPECT_EQ(names, (std::vector<std::string>{"piece.ctl", "pieceaaa.pce"}));
    EXPECT_EQ(read_file(d.data() + "/piece.ctl").size(), 3u * 64);

    // /n: existing pieces are passed over.
    r = d.run({"X:TEST", "X:\\epn\\p1.epn", "-N"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("p1.epn"),
                                            "   Teil =>P1<= \x81" "bergangen. Es existiert schon.",
                                            "Ergebnis: 0 importiert (0 ersetzt), 1 \x81" "bergangen, 0 fehlerhaft."}));
    EXPECT_EQ(r.exitCode, 0);
    // Quiet /n: nothing at all.
    r = d.run({"X:TEST", "X:\\epn\\p1.epn", "/n", "/s1"});
    EXPECT_EQ(r.out, "");
    // Without /n the piece is stored again and the old entry superseded.
    r = d.run({"X:TEST", "X:\\epn\\p1.epn", "/s1"});
    EXPECT_EQ(r.out, "   Teil importiert als:P1\n");
    auto ctl = read_file(d.data() + "/piece.ctl");
    ASSERT_EQ(ctl.size(), 4u * 64);
    // Sorted: the valid P1, P2 first, the superseded P1 behind them.
    EXPECT_EQ(ctl.substr(0, 2), "P1");
    EXPECT_EQ(ctl.substr(64, 2), "P2");
    EXPECT_EQ(ctl.substr(128, 2), "P1");
    EXPECT_EQ(static_cast<unsigned char>(ctl[128 + 25]), 2u);  // state 512
    EXPECT_EQ(ctl[3 * 64 + 4], 2);                             // validCount
}

TEST(Import, AskBeforeReplace) {
    Drive d;
    d.clear();
    for (auto n : {"A1", "A2", "A3", "A4"}) write_file(d.epn() + "/" + n + ".epn", square_epn(n));
    auto r = d.run({"X:TEST", "X:\\epn\\*.epn", "/s1"});
    // "n", then an empty line: both pass over; "a" stores this piece and
    // every later one without another question.
    r = d.run({"X:TEST", "X:\\epn\\*.epn", "/f"}, "n\n\na\n");
    EXPECT_EQ(r.out,
              kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("A1.epn"), "Teil A1 existiert bereits.",
                                     "\x9A" "berschreiben? (Ja/Nein/Alle)", "Nein.",
                                     "   Teil =>A1<= \x81" "bergangen. Es existiert schon.",
                                     "Konvertiere Datei:X:\\epn\\" + found_name("A2.epn"), "Teil A2 existiert bereits.",
                                     "\x9A" "berschreiben? (Ja/Nein/Alle)", "Nein.",
                                     "   Teil =>A2<= \x81" "bergangen. Es existiert schon.",
                                     "Konvertiere Datei:X:\\epn\\" + found_name("A3.epn"), "Teil A3 existiert bereits.",
                                     "\x9A" "berschreiben? (Ja/Nein/Alle)", "Alle.", "   Teil importiert als:A3",
                                     "Konvertiere Datei:X:\\epn\\" + found_name("A4.epn"), "   Teil importiert als:A4",
                                     "Ergebnis: 2 importiert (2 ersetzt), 2 \x81" "bergangen, 0 fehlerhaft."}));
    // "j" stores, and the dialogue is held also when quiet; at the end of
    // input the previous answer stands.
    r = d.run({"X:TEST", "X:\\epn\\A*.epn", "/f", "/s1"}, "j\n");
    EXPECT_EQ(r.out, cp850_lines({"Teil A1 existiert bereits.", "\x9A" "berschreiben? (Ja/Nein/Alle)", "Ja.",
                                  "   Teil importiert als:A1", "Teil A2 existiert bereits.",
                                  "\x9A" "berschreiben? (Ja/Nein/Alle)", "Ja.", "   Teil importiert als:A2",
                                  "Teil A3 existiert bereits.", "\x9A" "berschreiben? (Ja/Nein/Alle)", "Ja.",
                                  "   Teil importiert als:A3", "Teil A4 existiert bereits.",
                                  "\x9A" "berschreiben? (Ja/Nein/Alle)", "Ja.", "   Teil importiert als:A4"}));
}

TEST(Import, DeleteAfterImportKeepsSkippedFiles) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/k1.epn", square_epn("K1"));
    write_file(d.epn() + "/bad.epn", "nonsense\n");
    auto r = d.run({"X:TEST", "X:\\epn\\*.epn", "/l", "/s1"});
    EXPECT_EQ(r.out, "   Teil importiert als:K1\n");
    EXPECT_EQ(list_dir(d.epn()), std::vector<std::string>{"bad.epn"});
    // A piece passed over with /n keeps its file.
    write_file(d.epn() + "/k1.epn", square_epn("K1"));
    r = d.run({"X:TEST", "X:\\epn\\k1.epn", "/l", "/n", "/s1"});
    EXPECT_TRUE(file_exists(d.epn() + "/k1.epn"));
}

TEST(Import, FailureLineAndCommandAtThePause) {
    Drive d;  // no piece.ctl: the control-file update fails with 1
    write_file(d.epn() + "/f1.epn", square_epn("F1"));
    auto marker = d.dir / "ran";
    auto r = d.run({"X:TEST", "X:\\epn\\f1.epn", "/f"}, "echo hi>" + marker + "\n");
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("f1.epn"),
                                            "Achtung: Fehler in epn_ctl_put()     1",
                                            "   (Bereich ist nicht eingerichtet: einmal mit /d leeren)",
                                            "   Teil nicht importiert !!! (F1)", "Weiter mit Enter.",
                                            "Ergebnis: 0 importiert (0 ersetzt), 0 \x81" "bergangen, 1 fehlerhaft."}));
    EXPECT_EQ(r.exitCode, 1);
    // The line comes through a pipe, not from a person: it is not run.
    EXPECT_FALSE(file_exists(marker));
    // Without /f there is no pause; quiet shows nothing.
    r = d.run({"X:TEST", "X:\\epn\\f1.epn", "/s1"});
    EXPECT_EQ(r.out, "");
    // The failure goes to standard error, after the file's line.
    const std::string told = "Konvertiere Datei:X:\\epn\\" + found_name("f1.epn") + "\nAchtung: Fehler in epn_ctl_put()     1\n";
    EXPECT_EQ(r.err.substr(0, told.size()), told);
    EXPECT_EQ(r.err.substr(r.err.size() - 34), "   Teil nicht importiert !!! (F1)\n");
    EXPECT_FALSE(file_exists(d.data() + "/teilimp.opn"));
}

TEST(Lock, BlockedAreaStopsTheRun) {
    Drive d;
    d.clear();
    write_file(d.data() + "/teilimp.opn", "OK\n");
    write_file(d.epn() + "/b1.epn", square_epn("B1"));
    write_file(d.epn() + "/b2.epn", square_epn("B2"));
    auto r = d.run({"X:TEST", "X:\\epn\\*.epn", "/s1"});
    std::string marks = ".. 1.";
    for (int i = 2; i <= 30; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, " ..%2d.", i);
        marks += buf;
    }
    EXPECT_EQ(r.out, cp850_lines({"Zugriffsdatei gefunden. Wartezyklus...", marks + " OK",
                                  "Zielbereich ist blockiert.", "Stop - Program terminated."}));
    EXPECT_EQ(r.exitCode, 2);
    // The other run's lock stays; nothing was stored.
    EXPECT_TRUE(file_exists(d.data() + "/teilimp.opn"));
    EXPECT_EQ(read_file(d.data() + "/piece.ctl").size(), 64u);
}

TEST(Recovery, LeftoverBackupIsPutBack) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/r1.epn", square_epn("R1"));
    d.run({"X:TEST", "X:\\epn\\r1.epn", "/s1"});
    auto before = read_file(d.data() + "/piece.ctl");
    // A run that died after saving the backup and damaging piece.ctl.
    write_file(d.data() + "/piece.ct$", before);
    write_file(d.data() + "/piece.ctl", before.substr(0, 70));
    write_file(d.epn() + "/r2.epn", square_epn("R2"));
    auto r = d.run({"X:TEST", "X:\\epn\\r2.epn", "/s1"});
    EXPECT_EQ(r.out, cp850_lines({"Achtung: Zielbereich nach Abbruch wiederhergestellt.",
                                  "   zur\x81" "ckgesetzt: piece.ctl", "   Teil importiert als:R2"}));
    auto after = read_file(d.data() + "/piece.ctl");
    ASSERT_EQ(after.size(), 3u * 64);
    EXPECT_EQ(after.substr(0, 64), before.substr(0, 64));
    EXPECT_FALSE(file_exists(d.data() + "/piece.ct$"));
}

}  // namespace
}  // namespace teilimp::testing
