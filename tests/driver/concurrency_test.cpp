// Several importers started at the same time on one storage area: the lock
// lets one at a time in, and afterwards the area holds every piece exactly
// once as valid, in a sorted control file, with nothing left behind.

#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/area_check.h"
#include "support/epn_builder.h"
#include "support/test_util.h"
#include "writer/sort.h"

namespace teilimp::testing {
namespace {

constexpr int kImporters = 8;
constexpr int kPiecesEach = 3;

int16_t i16(const std::string& s, size_t at) {
    return static_cast<int16_t>(static_cast<unsigned char>(s[at]) |
                                (static_cast<unsigned char>(s[at + 1]) << 8));
}

uint32_t i32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(s[at + b]);
    return v;
}

struct CtlRecord {
    std::string name;
    std::string code;
    int slot = 0;
    int16_t state = 0;
    std::string raw;
};

// A drive X: with the area TEST and one EPN directory per importer.
struct SharedArea {
    TempDir dir;
    DriveMap x{'X', dir.path};
    std::string data() const { return dir / "userroot/storage/TEST/data"; }
    std::map<std::string, std::string> env() const {
        // Pauses of a quarter of the real ones: a waiting importer tries
        // again every ~250 ms and gives up only after some 8.7 seconds.
        return {{"LC_ALL", "C"},
                {"TEILIMP_SLEEP_SCALE", "0.25"},
                {"TMP", dir / "tmp"}};
    }
    SharedArea() {
        make_dirs(data());
        make_dirs(dir / "tmp");
    }
    void clear() const {
        const RunResult r = run_teilimp({"X:TEST", "/d"}, env(), "j\n");
        ASSERT_NE(r.out.find("Datenbasis geleert."), std::string::npos) << r.out;
    }
    void write_epn(int importer, const std::string& pieceName) const {
        EpnFile f = epn_example_square();
        f.name = pieceName;
        write_file(dir / ("epn" + std::to_string(importer) + "/" + pieceName + ".epn"), epn_text(f));
    }

    // Starts every importer at once on its own EPN directory.
    std::vector<RunResult> import_all_at_once() const {
        std::vector<RunResult> results(kImporters);
        std::latch start(kImporters);
        std::vector<std::thread> threads;
        const auto environment = env();
        for (int k = 0; k < kImporters; ++k) {
            threads.emplace_back([&, k] {
                const std::string pattern = "X:\\epn" + std::to_string(k) + "\\*.epn";
                start.arrive_and_wait();
                results[k] = run_teilimp({"X:TEST", pattern, "/s1"}, environment);
            });
        }
        for (auto& t : threads) t.join();
        return results;
    }

    std::vector<CtlRecord> control_entries(std::string& trailer) const {
        const std::string ctl = read_file(data() + "/piece.ctl");
        std::vector<CtlRecord> out;
        EXPECT_EQ(ctl.size() % 64, 0u);
        for (size_t at = 0; at + 64 <= ctl.size(); at += 64) {
            const std::string rec = ctl.substr(at, 64);
            if (rec[59] != 0) {
                trailer = rec;
                EXPECT_EQ(at + 64, ctl.size()) << "trailer is not the last record";
                break;
            }
            out.push_back({std::string(rec.data(), strnlen(rec.data(), 20)), rec.substr(20, 3),
                           static_cast<unsigned char>(rec[23]), i16(rec, 24), rec});
        }
        return out;
    }
};

// Checks the area after the importers: `valid` names each once in state 0,
// every other entry superseded in the control file and in its piece file,
// valid entries first and in natural order, piece files consistent with
// their entries, and no lock, backup or temporary file left.
void check_after_import(const SharedArea& area, const std::set<std::string>& valid, size_t totalEntries) {
    std::string trailer;
    const std::vector<CtlRecord> entries = area.control_entries(trailer);
    ASSERT_EQ(trailer.size(), 64u);
    ASSERT_EQ(entries.size(), totalEntries);
    EXPECT_EQ(i16(trailer, 4), static_cast<int16_t>(valid.size()));

    std::multiset<std::string> validSeen;
    std::set<std::pair<std::string, int>> places;
    for (size_t k = 0; k < entries.size(); ++k) {
        const CtlRecord& e = entries[k];
        const bool isValid = k < valid.size();
        EXPECT_EQ(e.state, isValid ? 0 : 512) << e.name << " at " << k;
        if (isValid) validSeen.insert(e.name);
        if (isValid && k > 0) {
            const std::string& prev = entries[k - 1].raw;
            EXPECT_TRUE(writer::naturalLess(prev.data(), e.raw.data(), 20))
                << entries[k - 1].name << " before " << e.name;
        }
        EXPECT_TRUE(places.insert({e.code, e.slot}).second) << "two entries share a slot: " << e.name;

        // The slot in the piece file carries the same name, length and state.
        const std::string pce = read_file(area.data() + "/piece" + e.code + ".pce");
        const size_t dir = 16 + 64 * static_cast<size_t>(e.slot);
        ASSERT_GE(pce.size(), 528u) << e.code;
        EXPECT_EQ(pce.substr(dir + 8, 20), e.raw.substr(0, 20)) << e.name;
        EXPECT_EQ(pce.substr(dir + 4, 4), e.raw.substr(34, 4)) << e.name;
        EXPECT_EQ(i16(pce, dir + 28), e.state) << e.name << " in piece" << e.code;
        // Images lie back to back in slot order from byte 528.
        uint32_t expected = 528;
        for (int slot = 0; slot < e.slot; ++slot) expected += i32(pce, 16 + 64 * slot + 4);
        EXPECT_EQ(i32(pce, dir), expected) << e.name;
        EXPECT_GE(pce.size(), expected + i32(pce, dir + 4)) << e.name;
    }
    EXPECT_EQ(validSeen, std::multiset<std::string>(valid.begin(), valid.end()));

    AreaExpectation expect;
    expect.marksCarried = true;
    const std::vector<std::string> problems = check_area(area.data(), expect);
    EXPECT_TRUE(problems.empty()) << describe(problems);

    for (const std::string& name : list_dir(area.data())) {
        const bool pieceFile = name.size() == 12 && name.rfind("piece", 0) == 0 &&
                               name.compare(8, 4, ".pce") == 0;
        EXPECT_TRUE(name == "piece.ctl" || pieceFile) << "left over: " << name;
    }
}

void check_runs(const std::vector<RunResult>& results) {
    for (int k = 0; k < kImporters; ++k) {
        const RunResult& r = results[k];
        EXPECT_EQ(r.exitCode, 0) << "importer " << k;
        EXPECT_EQ(r.out.find("blockiert"), std::string::npos) << "importer " << k << ":\n" << r.out;
        EXPECT_EQ(r.out.find("Achtung: Fehler"), std::string::npos) << "importer " << k << ":\n" << r.out;
        size_t stored = 0;
        for (size_t at = r.out.find("Teil importiert als:"); at != std::string::npos;
             at = r.out.find("Teil importiert als:", at + 1))
            ++stored;
        EXPECT_EQ(stored, static_cast<size_t>(kPiecesEach)) << "importer " << k << ":\n" << r.out;
    }
}

TEST(ManyImporters, DisjointPiecesAllArriveOnce) {
    SharedArea area;
    area.clear();
    std::set<std::string> names;
    for (int k = 0; k < kImporters; ++k) {
        for (int j = 1; j <= kPiecesEach; ++j) {
            const std::string name = "T" + std::to_string(k) + "P" + std::to_string(j * 5);
            area.write_epn(k, name);
            names.insert(name);
        }
    }
    check_runs(area.import_all_at_once());
    check_after_import(area, names, names.size());
}

TEST(ManyImporters, SameNamesFromHalfOfThemEndWithOneValidEach) {
    SharedArea area;
    area.clear();
    std::set<std::string> names;
    for (int k = 0; k < kImporters; ++k) {
        for (int j = 1; j <= kPiecesEach; ++j) {
            // The second half all bring the same three names.
            const std::string name = k < kImporters / 2
                                         ? "U" + std::to_string(k) + "P" + std::to_string(j)
                                         : "GEMEINSAM" + std::to_string(j * 4);
            area.write_epn(k, name);
            names.insert(name);
        }
    }
    check_runs(area.import_all_at_once());
    check_after_import(area, names, static_cast<size_t>(kImporters * kPiecesEach));
}

}  // namespace
}  // namespace teilimp::testing
