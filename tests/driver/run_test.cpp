// End-to-end tests of the built program: its console bytes, its dialogue
// and what it leaves in a storage area on a mapped drive.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace teilimp::testing {
namespace {

const std::string kBanner = "TEILIMP   Konvertierung von EPN-Dateien V1.17\n \n";
const std::string kUsage =
    "Aufruf:\n"
    "TEILIMP.EXE <Bereich> [<Dateiname>|/d] [/n] [/l] [/f]\n"
    "   <Bereich>   ist der Bereich in der Vaduvi-Datenstruktur,\n"
    "               in den die importierten Teile geschrieben werden sollen\n"
    "               (bestehend aus Laufwerk und Name)\n"
    "   <Dateiname> bezeichnet die Dateien, die importiert werden sollen\n"
    "   /d          Datenbereich leeren\n"
    "   /n          existierende Teile nicht \x81" "berschreiben\n"
    "   /f          existierende Teile nur nach R\x81" "ckfrage \x81" "berschreiben\n"
    "   /l          EPN-Dateien nach erfolgreicher \x9A" "bergabe l\x94" "schen\n"
    "   /s1         ohne Kommentare abarbeiten\n"
    " \n"
    "Beispiele:\n"
    "TEILIMP F:TEST C:\\EPN\\*.*\n"
    "TEILIMP A:FLOPPY C:\\EPN\\*.* /n\n"
    "\n"
    "TEILIMP F:TEST /d                leert diese Datenbasis\n"
    " \n"
    " \n";
const std::string kNoFiles = "Achtung: Keine EPN-Datei(en) gefunden!\n";
const std::string kClearQuestion =
    "Reset der Datenbasis durchf\x81hren.\n"
    "Sind Sie sicher, dass sie alle Teile im angegebenen Datenbereich\n"
    "l\x94schen wollen? (j/n)\n";

// Fixed-column helpers for writing EPN lines.
std::string left(std::string_view s, size_t width) {
    std::string r(s.substr(0, width));
    r.resize(width, ' ');
    return r;
}
std::string right(long v, size_t width) {
    std::string r = std::to_string(v);
    return std::string(width > r.size() ? width - r.size() : 0, ' ') + r;
}

struct Pt {
    long number;
    std::string rule;  // columns 6-10 as text ("" = blank)
    std::string label;
    long x, y;
    bool perim;
    char type;
    std::string angle;  // columns 47-50 as text
    char flag;
};

std::string point_line(const Pt& p) {
    return right(p.number, 5) + left(p.rule.empty() ? "" : std::string(5 - p.rule.size(), ' ') + p.rule, 5) +
           left(p.label, 10) + right(p.x, 10) + right(p.y, 10) + left(p.perim ? "PERIM" : "", 5) +
           std::string(1, p.type) + left(p.angle.empty() ? "" : std::string(4 - p.angle.size(), ' ') + p.angle, 4) +
           std::string(1, p.flag);
}

// A closed square piece of two sizes with one grade rule and a grain line.
// `reversed` writes the contour counter-clockwise; `grainLeft` lets the
// grain line point to -x.
std::string square_epn(std::string_view name, bool reversed = false, bool grainLeft = false) {
    std::string s = left(name, 20) + left("VORDERTEIL", 20) + left("STOFF", 20) + left("CLOSED", 10) +
                    right(3, 4) + "\n";
    std::vector<Pt> contour = {
        {1, "1", "", 0, 0, true, ' ', "", ' '},       {2, "", "", 0, 100, true, ' ', "", ' '},
        {3, "", "N1", 100, 100, true, ' ', "0", ' '}, {4, "", "", 100, 0, true, ' ', "", ' '},
        {5, "", "", 0, 0, true, ' ', "", ' '},
    };
    if (reversed) std::swap(contour[1], contour[3]);
    for (auto& p : contour) s += point_line(p) + "\n";
    long gx1 = grainLeft ? 80 : 20, gx2 = grainLeft ? 20 : 80;
    s += point_line({6, "", "", gx1, 50, false, 'G', "", 'N'}) + "\n";
    s += point_line({7, "", "", gx2, 50, false, 'G', "", 'O'}) + "\n";
    s += "0000000000\n";
    s += left("NUMERIC", 10) + left("", 20) + left("40", 6) + std::string(14, ' ') + right(2, 6) + "\n";
    s += left("38", 6) + left("40", 6) + "\n";
    s += right(1, 5) + right(1, 5) + std::string(10, ' ') + right(0, 10) + right(0, 10) + "\n";
    s += right(1, 5) + right(1, 5) + std::string(10, ' ') + right(5, 10) + right(-5, 10) + "\n";
    return s;
}

// A scratch drive X: holding an area TEST and a directory of EPN files.
struct Drive {
    TempDir dir;
    DriveMap x{'X', dir.path};
    std::string data() const { return dir / "userroot/storage/TEST/data"; }
    std::string epn() const { return dir / "epn"; }
    std::map<std::string, std::string> env(std::map<std::string, std::string> extra = {}) const {
        std::map<std::string, std::string> e = {{"LC_ALL", "C"},
                                                {"TEILIMP_SLEEP_SCALE", "0"}, {"TMP", dir / "tmp"}};
        for (auto& [k, v] : extra) e[k] = v;
        return e;
    }
    Drive() {
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
};

std::string cp850_lines(std::initializer_list<std::string> lines) {
    std::string s;
    for (auto& l : lines) s += l + "\n";
    return s;
}

TEST(Usage, TooFewOrBadArguments) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"F:TEST"}, {"F:", "*.EPN"}, {"FTEST", "x"},
                                          {"F;TEST", "x", "/n"}}) {
        auto r = run_teilimp(args, {{"LC_ALL", "C"}});
        EXPECT_EQ(r.exitCode, 0);
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
    // A 4-character option is ignored.
    r = run_teilimp({"F:", "x", "/s1x"}, {{"LC_ALL", "C"}});
    EXPECT_EQ(r.out, kBanner + kUsage);
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
}

TEST(Walk, OptionAsSecondArgumentIsThePattern) {
    Drive d;
    auto r = d.run({"X:TEST", "/n"});
    EXPECT_EQ(r.out, kBanner + kNoFiles);
    // /d as the third argument is ignored.
    r = d.run({"X:TEST", "X:\\epn\\*.none", "/d"});
    EXPECT_EQ(r.out, kBanner + kNoFiles);
}

TEST(Walk, OrderMessagesAndSkippedDirectories) {
    Drive d;
    write_file(d.epn() + "/b.epn", "garbage\n");
    write_file(d.epn() + "/A.EPN", "");
    write_file(d.epn() + "/c.Epn", square_epn("C", false, false).substr(0, 30));
    make_dirs(d.epn() + "/sub.epn");
    write_file(d.epn() + "/other.txt", "x");
    auto r = d.run({"x:TEST", "X:\\EPN\\*.epn"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\EPN\\A.EPN", "Fehler beim Konvertieren:     4",
                                            "Konvertiere Datei:X:\\EPN\\" + found_name("b.epn"), "Fehler beim Konvertieren:     4",
                                            "Konvertiere Datei:X:\\EPN\\" + found_name("c.Epn"), "Fehler beim Konvertieren:     4"}));
    // Nothing was stored, so the area was not touched: no lock was taken.
    EXPECT_TRUE(list_dir(d.data()).empty());
    // Quiet: no file lines, no error lines.
    r = d.run({"X:TEST", "X:\\EPN\\*.epn", "/s1"});
    EXPECT_EQ(r.out, "");
    // Only directories match: quiet end, nothing found to convert.
    r = d.run({"X:TEST", "X:\\EPN\\sub*"});
    EXPECT_EQ(r.out, kBanner);
}

TEST(Walk, SlashPatternAndCurrentDirectory) {
    Drive d;
    write_file(d.epn() + "/one.epn", "x\n");
    auto r = run_teilimp({"X:TEST", d.epn() + "/*.EPN"}, d.env());
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:" + d.epn() + "/" + found_name("one.epn"),
                                            "Fehler beim Konvertieren:     4"}));
    r = run_teilimp({"X:TEST", "*.epn"}, d.env(), {}, d.epn());
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:.\\" + found_name("one.epn"), "Fehler beim Konvertieren:     4"}));
}

TEST(Clear, AnswersAndForms) {
    Drive d;
    auto ctl = d.data() + "/piece.ctl";
    auto r = d.run({"X:TEST", "/d"}, "n\n");
    EXPECT_EQ(r.out, kBanner + kClearQuestion);
    EXPECT_FALSE(file_exists(ctl));
    r = d.run({"X:TEST", "/d"}, "");
    EXPECT_EQ(r.out, kBanner + kClearQuestion);
    EXPECT_FALSE(file_exists(ctl));
    for (std::string form : {"/d", "-D", "/dxyz"}) {
        write_file(d.data() + "/pieceaaa.pce", "old");
        r = d.run({"X:TEST", form, "/s1"}, "Ja\n");
        EXPECT_EQ(r.out, kClearQuestion + "Datenbasis geleert.\n") << form;
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
                                            "   Teil importiert als:P2"}));
    auto names = list_dir(d.data());
    EXPECT_EQ(names, (std::vector<std::string>{"piece.ctl", "pieceaaa.pce"}));
    EXPECT_EQ(read_file(d.data() + "/piece.ctl").size(), 3u * 64);

    // /n: existing pieces are passed over.
    r = d.run({"X:TEST", "X:\\epn\\p1.epn", "-N"});
    EXPECT_EQ(r.out, kBanner + cp850_lines({"Konvertiere Datei:X:\\epn\\" + found_name("p1.epn"),
                                            "   Teil =>P1<= \x81" "bergangen. Es existiert schon."}));
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
                                     "Konvertiere Datei:X:\\epn\\" + found_name("A4.epn"), "   Teil importiert als:A4"}));
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
                                            "   Teil nicht importiert !!! (F1)", "Weiter mit Enter."}));
    EXPECT_EQ(read_file(marker), "hi" + std::string(kLineEnd));
    // Without /f there is no pause; quiet shows nothing.
    r = d.run({"X:TEST", "X:\\epn\\f1.epn", "/s1"});
    EXPECT_EQ(r.out, "");
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
                                  "   Teil importiert als:R2"}));
    auto after = read_file(d.data() + "/piece.ctl");
    ASSERT_EQ(after.size(), 3u * 64);
    EXPECT_EQ(after.substr(0, 64), before.substr(0, 64));
    EXPECT_FALSE(file_exists(d.data() + "/piece.ct$"));
}

}  // namespace
}  // namespace teilimp::testing
