// Importing AAMA-DXF / ASTM files: each piece one piece of the run.
#include <gtest/gtest.h>

#include "driver/driver_fixture.h"

namespace teilimp::testing {
namespace {

std::string pairs(std::initializer_list<std::string> items) {
    std::string s;
    for (const std::string& i : items) s += i + "\r\n";
    return s;
}

// A block with a square outline (open: its last side missing).
std::string block(const std::string& name, bool open, bool ruled) {
    std::string s = pairs({"0", "BLOCK", "2", name, "0", "TEXT", "8", "1", "10", "0", "20", "0", "1",
                           "Piece Name: " + name, "0", "POLYLINE", "8", "1", "66", "1", "70", open ? "0" : "1"});
    for (auto [x, y] : {std::pair{"0", "0"}, {"0", "100"}, {"100", "100"}, {"100", "0"}})
        s += pairs({"0", "VERTEX", "8", "1", "10", x, "20", y});
    s += pairs({"0", "SEQEND", "0", "LINE", "8", "7", "10", "10", "20", "50", "11", "90", "21", "50"});
    if (ruled) s += pairs({"0", "TEXT", "8", "1", "10", "100", "20", "100", "1", "# 1"});
    return s + pairs({"0", "ENDBLK"});
}

std::string dxf(const std::string& blocks) {
    return pairs({"0", "SECTION", "2", "BLOCKS"}) + blocks +
           pairs({"0", "ENDSEC", "0", "SECTION", "2", "ENTITIES", "0", "TEXT", "8", "1", "1", "Units: METRIC",
                  "0", "ENDSEC", "0", "EOF"});
}

TEST(DxfImport, EveryPieceOfAFileAndTheRefusedOnesSayWhy) {
    Drive d;
    d.clear();
    write_file(d.epn() + "/a.dxf", dxf(block("Gut", false, false) + block("Offen", true, false)));
    write_file(d.epn() + "/b.DXF", "\xEF\xBB\xBF" + dxf(block("zwei", false, true)));
    write_file(d.epn() + "/b.rul", "SIZE LIST: S M\nSAMPLE SIZE: M\nRULE: DELTA 1\n-5, -5 0, 0\nEND\n");
    // teilarea epn shows the same before the import.
    const RunResult look = run_program(TEILAREA_BINARY, {"epn", d.epn() + "/a.dxf"}, d.env());
    EXPECT_EQ(look.exitCode, 1);
    EXPECT_NE(look.out.find("   Teil 1/2: GUT\n   Teil: GUT\n"), std::string::npos) << look.out;
    EXPECT_NE(look.out.find("   Teil 2/2: OFFEN\nFehler beim Konvertieren:    21\n"), std::string::npos);

    const RunResult r = d.run({"X:TEST", d.epn() + "/*.*", "/l"});
    const std::string& out = r.out;
    const std::string refused =
        "   Teil 2/2: OFFEN\n"
        "Fehler beim Konvertieren:    21\n"
        "   (OFFEN: Kontur nicht geschlossen)\n";
    EXPECT_NE(out.find("   Teil 1/2: GUT\n   Teil importiert als:GUT\n"), std::string::npos) << out;
    EXPECT_NE(out.find(refused), std::string::npos) << out;
    EXPECT_NE(out.find("   Teil 1/1: ZWEI\n   Teil importiert als:ZWEI\n"), std::string::npos) << out;
    EXPECT_EQ(out.find(".rul"), std::string::npos) << out;  // never a file of its own
    EXPECT_NE(out.find("Ergebnis: 2 importiert (0 ersetzt), 0 \x81" "bergangen, 1 fehlerhaft."), std::string::npos);
    // /l: a file with a refused piece stays; the other goes with its RUL file.
    EXPECT_TRUE(file_exists(d.epn() + "/a.dxf"));
    EXPECT_FALSE(file_exists(d.epn() + "/b.DXF"));
    EXPECT_FALSE(file_exists(d.epn() + "/b.rul"));
}

}  // namespace
}  // namespace teilimp::testing
