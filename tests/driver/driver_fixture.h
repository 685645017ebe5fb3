// Helpers of the end-to-end tests of the built program: expected texts,
// EPN files and a scratch drive X: holding an area TEST.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/test_util.h"

namespace teilimp::testing {

inline const std::string kBanner = "TEILIMP   Konvertierung von EPN-Dateien V1.17\n \n";
inline const std::string kUsage =
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
    "   /w          auf einen blockierten Zielbereich warten, bis er frei ist\n"
    "   /?, --help  diese Hilfe zeigen\n"
    "   --version   nur die Version zeigen\n"
#ifndef _WIN32
    "   Laufwerke:  Laufwerk L: ist das Verzeichnis in der Umgebungsvariablen\n"
    "               TEILIMP_DRIVE_L (ein Laufwerk ohne sie gibt es nicht)\n"
#endif
    " \n"
    "Beispiele:\n"
    "TEILIMP F:TEST C:\\EPN\\*.*\n"
    "TEILIMP A:FLOPPY C:\\EPN\\*.* /n\n"
    "\n"
    "TEILIMP F:TEST /d                leert diese Datenbasis\n"
    " \n"
    " \n";
inline const std::string kNoFiles = "Achtung: Keine EPN-Datei(en) gefunden!\n";
// The clear question for the area X:TEST holding `pieces` valid pieces in
// `files` piece files; `repairable`: the control file is missing or
// damaged while piece files are there.
inline std::string clear_question(int pieces = 0, int files = 0, bool repairable = false) {
    return "Bereich: X:\\userroot\\storage\\TEST\\data\\\n"
           "Der Bereich enth\x84lt " + std::to_string(pieces) + " g\x81ltige Teile in " + std::to_string(files) +
           " Teiledateien.\n" + (repairable ? "Achtung: die Teiledateien lassen sich mit teilarea repair wiederherstellen.\n" : "") +
           "Reset der Datenbasis durchf\x81hren.\n"
           "Sind Sie sicher, dass sie alle Teile im angegebenen Datenbereich\n"
           "l\x94schen wollen? (j/n)\n";
}
inline const std::string kClearQuestion = clear_question();
inline const std::string kNotCleared = "Datenbasis nicht geleert.\n";

// Fixed-column helpers for writing EPN lines.
inline std::string left(std::string_view s, size_t width) {
    std::string r(s.substr(0, width));
    r.resize(width, ' ');
    return r;
}
inline std::string right(long v, size_t width) {
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

inline std::string point_line(const Pt& p) {
    return right(p.number, 5) + left(p.rule.empty() ? "" : std::string(5 - p.rule.size(), ' ') + p.rule, 5) +
           left(p.label, 10) + right(p.x, 10) + right(p.y, 10) + left(p.perim ? "PERIM" : "", 5) +
           std::string(1, p.type) + left(p.angle.empty() ? "" : std::string(4 - p.angle.size(), ' ') + p.angle, 4) +
           std::string(1, p.flag);
}

// A closed square piece of two sizes with one grade rule and a grain line.
// `reversed` writes the contour counter-clockwise; `grainLeft` lets the
// grain line point to -x.
inline std::string square_epn(std::string_view name, bool reversed = false, bool grainLeft = false) {
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

inline std::string cp850_lines(std::initializer_list<std::string> lines) {
    std::string s;
    for (auto& l : lines) s += l + "\n";
    return s;
}

}  // namespace teilimp::testing
