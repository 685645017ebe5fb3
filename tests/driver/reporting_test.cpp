// End-to-end tests of what a run reports: its exit status, the summary, the
// reason lines, and how the command line is taken apart (several file
// arguments, unknown options, arguments that look like options).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "driver/driver_fixture.h"
#include "platform/platform.h"
#include "support/child.h"
#include "support/test_util.h"

namespace teilimp::testing {
namespace {

std::string summary(int imported, int replaced, int skipped, int failed) {
    return "Ergebnis: " + std::to_string(imported) + " importiert (" + std::to_string(replaced) + " ersetzt), " +
           std::to_string(skipped) + " \x81" "bergangen, " + std::to_string(failed) + " fehlerhaft.";
}

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The piece names in piece.ctl, in file order (valid and superseded).
std::vector<std::string> ctl_names(const Drive& d) {
    const std::string ctl = read_file(d.data() + "/piece.ctl");
    std::vector<std::string> names;
    for (size_t at = 0; at + 64 < ctl.size(); at += 64) names.push_back(ctl.substr(at, ctl.find('\0', at) - at));
    return names;
}

TEST(ExitStatus, EveryOutcome) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a read-only control file by POSIX permission bits";
#else
    Drive d;
    write_file(d.epn() + "/e1.epn", square_epn("E1"));
    // No area yet: the piece fails.
    EXPECT_EQ(d.run({"X:TEST", "X:\\epn\\e1.epn", "/s1"}).exitCode, 1);
    d.clear();
    EXPECT_EQ(d.run({"X:TEST", "X:\\epn\\e1.epn"}).exitCode, 0);
    // Passed over by choice, by /n and by the answer "Nein".
    EXPECT_EQ(d.run({"X:TEST", "X:\\epn\\e1.epn", "/n"}).exitCode, 0);
    EXPECT_EQ(d.run({"X:TEST", "X:\\epn\\e1.epn", "/f"}, "n\n").exitCode, 0);
    // Nothing could be done.
    EXPECT_EQ(d.run({"X:TEST"}).exitCode, 2);
    EXPECT_EQ(d.run({"X:TEST", "X:\\epn\\none*.epn"}).exitCode, 2);
    write_file(d.data() + "/teilimp.opn", "OK\n");
    EXPECT_EQ(d.run({"X:TEST", "X:\\epn\\e1.epn", "/s1"}).exitCode, 2);
    std::filesystem::remove(d.data() + "/teilimp.opn");
    // A clear that is declined, and one that fails (read-only piece.ctl).
    EXPECT_EQ(d.run({"X:TEST", "/d"}, "n\n").exitCode, 0);
    chmod((d.data() + "/piece.ctl").c_str(), 0444);
    auto r = d.run({"X:TEST", "/d"}, "j\n");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out.find("Datenbasis geleert."), std::string::npos);
#endif
}

// Damaged lines of the square piece (line, column, text written there; a
// negative line: the file keeps only that many lines): a number that is no
// number is refused with its line, a value beyond 32 bits is out of limits,
// a file cut short is incomplete. What the format allows is imported.
TEST(StrictReading, DamagedLinesAreRefusedWithTheirLine) {
    const std::string bad = "Fehler beim Konvertieren:    13\n   (Zeile ", big = "Fehler beim Konvertieren:    11\n   (Zeile ",
                      cut = "Fehler beim Konvertieren:     4\n   (Zeile ", unreadable = ": Zahl unlesbar)\n",
                      limits = ": zu viele Punkte, Gr\x94\xE1" "en oder Regeln, oder ein Wert zu gro\xE1)\n",
                      incomplete = ": Gr\x94\xE1" "en oder Gradierung unvollst\x84ndig)\n";
    const std::vector<std::tuple<int, size_t, std::string, std::string>> damages = {
        {3, 28, "abc", bad + "3" + unreadable},   {5, 38, "1O0", bad + "5" + unreadable},
        {6, 21, "\t", bad + "6" + unreadable},    {2, 10, "x", bad + "2" + unreadable},       // a rule number
        {3, 40, "PERIM", bad + "3" + unreadable}, {13, 30, "O", bad + "13" + unreadable},     // a grade line
        {3, 21, "9999999999", big + "3" + limits}, {13, 31, "9999999999", big + "13" + limits},
        {-12, 0, "", cut + "12" + incomplete},     {-10, 0, "", cut + "10" + incomplete},      // grade, size lines
        {4, 47, "ab", "   Teil importiert als:K\n"},  {5, 21, "  1 0   0", "   Teil importiert als:L\n"},
        {10, 31, "42", "   Achtung: Basisgr\x94\xE1" "e nicht unter den Gr\x94\xE1" "en (Zeile 10); die erste Gr\x94\xE1"
                       "e gilt als Basis.\n   Teil importiert als:M\n"},
    };
    Drive d;
    d.clear();
    std::vector<std::string> args = {"X:TEST"};
    std::string expected = kBanner;
    for (size_t k = 0; k < damages.size(); ++k) {
        const auto& [line, column, text, report] = damages[k];
        std::string file = square_epn(std::string(1, static_cast<char>('A' + k)));
        size_t at = 0;
        for (int n = 1; n < std::abs(line); ++n) at = file.find('\n', at) + 1;
        if (line < 0) file.resize(file.find('\n', at) + 1);
        else file.replace(at + column - 1, text.size(), text);
        const std::string name = "d" + std::to_string(k) + ".epn";
        write_file(d.epn() + "/" + name, file);
        args.push_back("X:\\epn\\" + name);
        expected += "Konvertiere Datei:X:\\epn\\" + found_name(name) + "\n" + report;
    }
    const RunResult r = d.run(args);
    EXPECT_EQ(r.out, expected + summary(3, 0, 0, 10) + "\n");
    EXPECT_EQ(r.exitCode, 1);
}

TEST(Summary, MixedRunCountsEachFileOnce) {
    Drive d;
    d.clear();
    for (auto n : {"M1", "M2"}) write_file(d.epn() + "/" + n + ".epn", square_epn(n));
    d.run({"X:TEST", "X:\\epn\\M*.epn", "/s1"});
    write_file(d.epn() + "/M3.epn", square_epn("M3"));
    write_file(d.epn() + "/M4.epn", "kaputt\n");
    // M1 exists and is passed over ("Nein"), M2 exists and is replaced
    // ("Ja"), M3 is new, M4 cannot be read.
    auto r = d.run({"X:TEST", "X:\\epn\\M*.epn", "/f"}, "n\nj\n");
    EXPECT_EQ(count_of(r.out, "Ergebnis:"), 1u);
    EXPECT_NE(r.out.find(summary(2, 1, 1, 1) + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - summary(2, 1, 1, 1).size() - 1), summary(2, 1, 1, 1) + "\n");
    EXPECT_EQ(r.exitCode, 1);
    // Without /n and /f every existing piece is replaced, and counted so.
    r = d.run({"X:TEST", "X:\\epn\\M?.epn"});
    EXPECT_NE(r.out.find(summary(3, 3, 0, 1)), std::string::npos) << r.out;
    // /n passes them over; quiet shows no summary.
    r = d.run({"X:TEST", "X:\\epn\\M?.epn", "/n"});
    EXPECT_NE(r.out.find(summary(0, 0, 3, 1)), std::string::npos) << r.out;
    r = d.run({"X:TEST", "X:\\epn\\M?.epn", "/n", "/s1"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.exitCode, 1);
}

TEST(FileArguments, SeveralPatternsAndNamesInOneRun) {
    Drive d;
    d.clear();
    for (auto n : {"A", "B", "C", "D"}) write_file(d.epn() + "/" + n + ".epn", square_epn(n));
    // As a shell hands over an expanded pattern, followed by a repeated
    // file (in another spelling), a pattern that matches files taken
    // already and one more, a name that matches nothing, and an option.
    auto r = d.run({"X:TEST", d.epn() + "/D.epn", d.epn() + "/B.epn", "X:\\EPN\\d.EPN", "X:\\epn\\*.epn",
                    "X:\\epn\\gibtsnicht.epn", "/n"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:" + d.epn() + "/" + found_name("D.epn"), "   Teil importiert als:D",
                                            "Konvertiere Datei:" + d.epn() + "/" + found_name("B.epn"), "   Teil importiert als:B",
                                            "Konvertiere Datei:X:\\epn\\" + found_name("A.epn"), "   Teil importiert als:A",
                                            "Konvertiere Datei:X:\\epn\\" + found_name("C.epn"), "   Teil importiert als:C",
                                            "Achtung: Datei nicht gefunden: X:\\epn\\gibtsnicht.epn",
                                            summary(4, 0, 0, 1)}));
    EXPECT_EQ(r.exitCode, 1);
    // One sort at the end: the control file is in name order.
    EXPECT_EQ(ctl_names(d), (std::vector<std::string>{"A", "B", "C", "D"}));
    EXPECT_TRUE(list_dir(d.data()) == (std::vector<std::string>{"piece.ctl", "pieceaaa.pce"}));
    // An option may come first.
    r = d.run({"X:TEST", "/n", "X:\\epn\\A.epn", "X:\\epn\\B.epn"});
    EXPECT_NE(r.out.find(summary(0, 0, 2, 0)), std::string::npos) << r.out;
}

// Every argument and every failure is told: a name that matches nothing, a
// directory named as a file, an EPN file that /l could not delete; with
// /s1 on standard error, after the line of the file it is about.
TEST(FileArguments, EveryArgumentAndFailureIsTold) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/k.epn", square_epn("K"));
    write_file(d.epn() + "/bad.epn", "kaputt\n");
    const std::string notFound = "Achtung: Datei nicht gefunden: X:\\epn\\nix*.epn";
    const std::string directory = "Achtung: Verzeichnis statt Datei: X:\\epn";
    auto r = d.run({"X:TEST", "X:\\epn\\nix*.epn", "X:\\epn", "X:\\epn\\k.epn"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({notFound, directory, "Konvertiere Datei:X:\\epn\\" + found_name("k.epn"),
                                            "   Teil importiert als:K", summary(1, 0, 0, 2)}));
    EXPECT_EQ(r.exitCode, 1);
    r = d.run({"X:TEST", "X:\\epn\\nix*.epn", "X:\\epn"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({notFound, directory}) + kNoFiles);
    EXPECT_EQ(r.exitCode, 2);

    const std::string bad = "Konvertiere Datei:X:\\epn\\" + found_name("bad.epn");
    r = d.run({"X:TEST", "X:\\epn\\bad.epn", "X:\\epn\\nix*.epn", "X:\\epn\\k.epn", "/s1"});
    EXPECT_EQ(r.out, "   Teil importiert als:K\n");
    EXPECT_EQ(r.err, cp850_lines({bad, "Fehler beim Konvertieren:     4",
                                  "   (Zeile 1: Kopfzeile unlesbar oder nicht EPN-Format 3, oder die Schlusszeile fehlt)",
                                  notFound}));
    EXPECT_EQ(r.exitCode, 1);

    SKIP_UNLESS_READ_ONLY_REFUSED();
    const std::string k = d.epn() + "/k.epn";
    ASSERT_EQ(platform::set_attributes(k, platform::kAttrReadOnly), 0u);
    const std::string kept = "Achtung: EPN-Datei nicht gel\x94scht: X:\\epn\\" + found_name("k.epn");
    r = d.run({"X:TEST", "X:\\epn\\k.epn", "/l"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("k.epn"), "   Teil importiert als:K",
                                            kept, summary(1, 1, 0, 0)}));
    EXPECT_EQ(r.exitCode, 1);
    r = d.run({"X:TEST", "X:\\epn\\k.epn", "/l", "/s1"});
    EXPECT_EQ(r.out, "   Teil importiert als:K\n");
    EXPECT_EQ(r.err, cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("k.epn"), kept}));
    EXPECT_EQ(r.exitCode, 1);
    platform::set_attributes(k, platform::kAttrNormal);
}

TEST(Options, UnknownOptionsAreNamedAndTheRunGoesOn) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/u1.epn", square_epn("U1"));
    d.run({"X:TEST", "X:\\epn\\u1.epn", "/s1"});
    // "/nope" meant as "/n": named, not taken for a file, and the piece is
    // replaced as without options.
    auto r = d.run({"X:TEST", "X:\\epn\\u1.epn", "/x", "-Q1", "/nope", "/s1"});
    EXPECT_EQ(r.out, cp850_lines({"Achtung: Unbekannte Option ignoriert: /x",
                                  "Achtung: Unbekannte Option ignoriert: -Q1",
                                  "Achtung: Unbekannte Option ignoriert: /nope", "   Teil importiert als:U1"}));
    EXPECT_EQ(r.exitCode, 0);
    // Known letters with a further character act as before; /d after the
    // second argument is ignored without a word.
    r = d.run({"X:TEST", "X:\\epn\\u1.epn", "/nx", "/d", "/wz"});
    EXPECT_EQ(r.out.find("Unbekannte"), std::string::npos);
    EXPECT_NE(r.out.find(summary(0, 0, 1, 0)), std::string::npos) << r.out;
}

TEST(Options, ArgumentsThatNameFilesAreFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: the POSIX rule for arguments that look like options";
#else
    Drive d;
    d.clear();
    // Names a shell hands over from "*": they look like options.
    write_file(d.epn() + "/-n", square_epn("MINUSN"));
    write_file(d.epn() + "/-d", square_epn("MINUSD"));
    make_dirs(d.epn() + "/-x");
    auto r = run_teilimp({"X:TEST", "-d", "-n", "-x", "/s1"}, d.env(), {}, d.epn());
    // "-d" is not the clear request, "-n" no option, "-x" a directory.
    EXPECT_EQ(r.out, cp850_lines({"   Teil importiert als:MINUSD", "   Teil importiert als:MINUSN"}));
    EXPECT_EQ(r.err, "Achtung: Verzeichnis statt Datei: -x\n");
    EXPECT_EQ(r.exitCode, 1);
    // A "/" after the first character makes a path, never an option.
    r = run_teilimp({"X:TEST", "/n/", "-n/x", d.epn() + "/-n"}, d.env());
    EXPECT_EQ(r.out.find("Unbekannte"), std::string::npos);
    EXPECT_NE(r.out.find(summary(1, 1, 0, 2)), std::string::npos) << r.out;
    // Not a file: an option.
    r = run_teilimp({"X:TEST", "-q", d.epn() + "/-n", "/s1"}, d.env());
    EXPECT_EQ(r.out, cp850_lines({"Achtung: Unbekannte Option ignoriert: -q", "   Teil importiert als:MINUSN"}));
#endif
}

TEST(Reasons, ConversionStatusesNameTheLine) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a dangling symbolic link";
#else
    Drive d;
    d.clear();
    const std::string good = square_epn("R1");
    // The file ends after its end line (line 9): the trailer is missing.
    write_file(d.epn() + "/a_trail.epn", good.substr(0, good.find("0000000000") + 11));
    std::string kind = good;
    kind.replace(60, 6, "OPEN  ");
    write_file(d.epn() + "/b_kind.epn", kind);
    // A coordinate too large on line 4.
    std::string big = good;
    const size_t line4 = big.find('\n', big.find('\n', big.find('\n') + 1) + 1) + 1;
    big.replace(line4 + 20, 10, " 300000000");
    write_file(d.epn() + "/c_limit.epn", big);
    // A link to nothing: found, but it does not open (not under Wine).
    const bool gone = make_link(d.epn() + "/vanished", d.epn() + "/d_gone.epn");
    write_file(d.epn() + "/e_noname.epn", square_epn(""));
    auto r = d.run({"X:TEST", "X:\\epn\\*.epn"});
    std::string lines = cp850_lines(
        {"Konvertiere Datei:X:\\epn\\" + found_name("a_trail.epn"), "Fehler beim Konvertieren:     4",
         "   (Zeile 9: Schlusszeile mit den Gr\x94\xE1" "en fehlt oder ist unlesbar)",
         "Konvertiere Datei:X:\\epn\\" + found_name("b_kind.epn"), "Fehler beim Konvertieren:     5",
         "   (Zeile 1: Teileart ist weder MIRRORED noch CLOSED)",
         "Konvertiere Datei:X:\\epn\\" + found_name("c_limit.epn"), "Fehler beim Konvertieren:    11",
         "   (Zeile 4: zu viele Punkte, Gr\x94\xE1" "en oder Regeln, oder ein Wert zu gro\xE1)"});
    if (gone) {
        lines += cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("d_gone.epn"), "Fehler beim Konvertieren:     3",
                              "   (EPN-Datei l\x84sst sich nicht \x94" "ffnen)"});
    }
    lines += cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("e_noname.epn"), "Fehler beim Konvertieren:    12",
                          "   (Zeile 1: Teil ohne Namen)"});
    EXPECT_EQ(r.out, kBanner + lines + cp850_lines({summary(0, 0, 0, gone ? 5 : 4)}));
    EXPECT_EQ(r.exitCode, 1);
#endif
}

TEST(Reasons, WriterStatuses) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: read-only files by POSIX permission bits";
#else
    Drive d;
    d.clear();
    write_file(d.epn() + "/w1.epn", square_epn("W1"));
    write_file(d.epn() + "/w2.epn", square_epn("W2"));
    d.run({"X:TEST", "X:\\epn\\w1.epn", "/s1"});
    // A piece file that may not be written.
    chmod((d.data() + "/pieceaaa.pce").c_str(), 0444);
    auto r = d.run({"X:TEST", "X:\\epn\\w2.epn"});
    EXPECT_NE(r.out.find("Achtung: Fehler in epn_pce_put()     4\n"
                         "   (Teiledatei ist schreibgesch\x81tzt oder nicht beschreibbar)\n"
                         "   Teil nicht importiert !!! (W2)\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.exitCode, 1);
    // A damaged trailer that names the slot W1 is in.
    chmod((d.data() + "/pieceaaa.pce").c_str(), 0644);
    std::string ctl = read_file(d.data() + "/piece.ctl");
    ctl[ctl.size() - 64 + 3] = 0;
    write_file(d.data() + "/piece.ctl", ctl);
    r = d.run({"X:TEST", "X:\\epn\\w2.epn"});
    EXPECT_NE(r.out.find("Achtung: Fehler in epn_pce_put()    11\n"
                         "   (Platz in pieceaaa.pce ist schon belegt: Bereich mit teilarea check pr\x81" "fen)\n"),
              std::string::npos)
        << r.out;
    // A full area: the trailer names the last slot of "zzz".
    std::string trailer(64, '\0');
    trailer.replace(0, 3, "zzz");
    trailer[3] = 7;
    trailer[59] = 3;
    write_file(d.data() + "/piece.ctl", trailer);
    r = d.run({"X:TEST", "X:\\epn\\w2.epn"});
    EXPECT_NE(r.out.find("Achtung: Fehler in epn_ctl_put()     9\n"
                         "   (Bereich ist voll: er nimmt keine weiteren Teile auf)\n"),
              std::string::npos)
        << r.out;
    // A control file without its closing record.
    write_file(d.data() + "/piece.ctl", std::string(64, 'x').replace(59, 1, 1, '\0'));
    r = d.run({"X:TEST", "X:\\epn\\w2.epn"});
    EXPECT_NE(r.out.find("Achtung: Fehler in epn_ctl_put()     4\n"
                         "   (Steuerdatei piece.ctl ist besch\x84" "digt oder unlesbar (kein Schlusssatz))\n"),
              std::string::npos)
        << r.out;
    // Quiet: neither the status nor its reason.
    r = d.run({"X:TEST", "X:\\epn\\w2.epn", "/s1"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.exitCode, 1);
#endif
}

// Every status line, whichever file operation fails, is followed by its
// reason, and a failure is never reported as success.
TEST(Reasons, EveryInjectedFailureHasAReasonAndAnExitStatus) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/f1.epn", square_epn("F1"));
    write_file(d.epn() + "/f2.epn", square_epn("F2"));
    d.run({"X:TEST", "X:\\epn\\f1.epn", "/s1"});
    const std::string before = read_file(d.data() + "/piece.ctl");
    const std::string pieceFile = read_file(d.data() + "/pieceaaa.pce");
    bool sortFailed = false;
    for (int k = 1; k <= 80; ++k) {
        // The same starting point for every k: F1 stored, F2 not. The run
        // stores F2 and then F1 anew, whose older entry the end of the run
        // marks and sorts behind the valid ones.
        write_file(d.data() + "/piece.ctl", before);
        write_file(d.data() + "/pieceaaa.pce", pieceFile);
        const auto r = d.run({"X:TEST", "X:\\epn\\f2.epn", "X:\\epn\\f1.epn"}, {},
                             {{"TEILIMP_FAULT_AT", std::to_string(k)}});
        for (const char* status : {"Fehler beim Konvertieren:", "epn_ctl_put()", "epn_pce_put()", "epn_ctl_sort()"}) {
            for (size_t at = r.out.find(status); at != std::string::npos; at = r.out.find(status, at + 1)) {
                const size_t next = r.out.find('\n', at) + 1;
                EXPECT_EQ(r.out.substr(next, 4), "   (") << "k=" << k << "\n" << r.out;
                EXPECT_EQ(r.out.find("unbekannter Fehler", next), std::string::npos) << r.out;
            }
        }
        if (r.out.find("Achtung: Fehler in epn_ctl_sort()") != std::string::npos) {
            sortFailed = true;
            EXPECT_EQ(r.exitCode, 1) << r.out;
        }
        if (r.out.find("Teil nicht importiert") != std::string::npos) {
            EXPECT_EQ(r.exitCode, 1) << r.out;
            EXPECT_NE(r.out.find(" 1 fehlerhaft."), std::string::npos) << r.out;
        }
        if (r.exitCode == 0) {
            EXPECT_NE(r.out.find(summary(2, 1, 0, 0)), std::string::npos) << r.out;
        }
    }
    EXPECT_TRUE(sortFailed);
}

TEST(Wait, WaitsForABusyAreaAsLongAsItTakes) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/h.epn", square_epn("HALTEN"));
    write_file(d.epn() + "/w.epn", square_epn("WARTEN"));
    d.run({"X:TEST", "X:\\epn\\h.epn", "/s1"});
    // Pauses at a hundredth: the 30 attempts take about 0.35 s. The other
    // run holds the lock at its question for 1.5 s, some 150 s at the real
    // pace.
    const auto env = d.env({{"TEILIMP_SLEEP_SCALE", "0.01"}});
    Child holder({"X:TEST", "X:\\epn\\h.epn", "/f"}, env);
    ASSERT_TRUE(holder.wait_for("(Ja/Nein/Alle)"));
    auto r = run_teilimp({"X:TEST", "X:\\epn\\w.epn", "/s1"}, env);
    EXPECT_NE(r.out.find("Zielbereich ist blockiert."), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 2);

    std::thread waiter([&] { r = run_teilimp({"X:TEST", "X:\\epn\\w.epn", "/w", "/s1"}, env); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    holder.send("j\n");
    const RunResult held = holder.finish();
    waiter.join();
    EXPECT_EQ(held.exitCode, 0);
    EXPECT_EQ(r.exitCode, 0);
    // Every attempt up to the 30th is marked, then every tenth.
    EXPECT_NE(r.out.find("Zugriffsdatei gefunden. Wartezyklus...\n.. 1. .. 2."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" ..29. ..30. ..40. ..50."), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("..31."), std::string::npos);
    EXPECT_NE(r.out.find(" OK\n   Teil importiert als:WARTEN\n"), std::string::npos) << r.out;
    // Both stored; the earlier HALTEN superseded, behind the valid entries.
    EXPECT_EQ(ctl_names(d), (std::vector<std::string>{"HALTEN", "WARTEN", "HALTEN"}));
}

TEST(Wait, StaleLockIsRemovedWhileWaiting) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/s.epn", square_epn("STALE"));
    // A lock last renewed 298 seconds ago: it becomes stale during the wait.
    const std::string lock = d.data() + "/teilimp.opn";
    write_file(lock, "OK\n");
    std::filesystem::last_write_time(lock, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(298));
    auto r = d.run({"X:TEST", "X:\\epn\\s.epn", "/w", "/s1"}, {}, {{"TEILIMP_SLEEP_SCALE", "0.1"}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("\nAlte Zugriffsdatei entfernt...\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   Teil importiert als:STALE\n"), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(lock));
}

TEST(Names, ShownAsTheFileSystemGivesThem) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: UTF-8 locales";
#else
    Drive d;
    d.clear();
    const std::string name = "\xC3\xA4rmel.epn";  // "ärmel.epn" in UTF-8
    write_file(d.epn() + "/" + name, square_epn("AERMEL"));
    auto r = d.run({"X:TEST", "X:\\epn\\*.epn", "/n"}, {}, {{"LC_ALL", "\x01"}, {"LC_CTYPE", "\x01"}, {"LANG", "C.UTF-8"}});
    EXPECT_EQ(r.out, "TEILIMP   Konvertierung von EPN-Dateien V1.17\n \n"
                     "Konvertiere Datei:X:\\epn\\\xC3\xA4rmel.epn\n"
                     "   Teil importiert als:AERMEL\n"
                     "Ergebnis: 1 importiert (0 ersetzt), 0 \xC3\xBC" "bergangen, 0 fehlerhaft.\n");
    // Paths made from a typed area name are shown as typed.
    r = d.run({"X:M\xC3\x84NTEL", "X:\\epn\\*.epn", "/s1"}, {},
              {{"LC_ALL", "\x01"}, {"LC_CTYPE", "\x01"}, {"LANG", "C.UTF-8"}});
    EXPECT_NE(r.out.find("Achtung: Zielbereich nicht gefunden: X:\\userroot\\storage\\M\xC3\x84NTEL\\data\\\n"),
              std::string::npos)
        << r.out;
    // Without a UTF-8 locale every byte goes out as it is: the program's
    // texts in code page 850, the name as on disk.
    r = d.run({"X:TEST", "X:\\epn\\*.epn", "/n"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\\xC3\xA4rmel.epn",
                                            "   Teil =>AERMEL<= \x81" "bergangen. Es existiert schon.",
                                            summary(0, 0, 1, 0)}));
#endif
}

TEST(Names, HiddenFilesAreNotMatched) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: the POSIX rule for hidden names";
#else
    Drive d;
    d.clear();
    write_file(d.epn() + "/h.epn", square_epn("H"));
    write_file(d.epn() + "/._h.epn", "Mac OS X resource fork");
    auto r = d.run({"X:TEST", "X:\\epn\\*.*", "/s1"});
    EXPECT_EQ(r.out, "   Teil importiert als:H\n");
    EXPECT_EQ(r.exitCode, 0);
    // A pattern that begins with "." asks for them.
    r = d.run({"X:TEST", "X:\\epn\\.*.epn"});
    EXPECT_NE(r.out.find("Konvertiere Datei:X:\\epn\\._h.epn\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 1);
#endif
}

}  // namespace
}  // namespace teilimp::testing
