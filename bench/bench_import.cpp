// Measures the cost of an import: reading EPN files into piece images, and
// storing pieces in an area (control-file update, piece-file store, the end
// of the run). Drive B: must be mapped to an empty scratch directory:
//
//   TEILIMP_DRIVE_B=$(mktemp -d) build/bench_import [pieces] [points]
//
// (`make bench` does that.) Times are wall-clock and include every flush to
// disk that a real run makes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "reader/epn_reader.h"
#include "support/epn_builder.h"
#include "writer/lock.h"
#include "writer/records.h"
#include "writer/sort.h"
#include "writer/writer.h"

namespace {

using namespace teilimp;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A graded piece: a contour of `points` points, every tenth a rule point,
// eight sizes, a grain line.
std::string piece_text(int index, int points) {
    testing::EpnFile f;
    f.name = "TEIL" + std::to_string(index);
    std::vector<int64_t> rules;
    for (int i = 0; i < points; ++i) {
        const int64_t x = (i * 37) % 1000, y = (i * 91) % 700;
        std::optional<int64_t> rule;
        if (i % 10 == 0) {
            rule = i + 1;
            rules.push_back(i + 1);
        }
        f.points.push_back(testing::perim(i + 1, x, y, rule, i % 25 == 0 ? "N1" : "", 450));
    }
    f.points.push_back(testing::inner(points + 1, 100, 100, 'G', 'N'));
    f.points.push_back(testing::inner(points + 2, 100, 400, 'G', 'O'));
    f.sizes = {"34", "36", "38", "40", "42", "44", "46", "48"};
    f.baseSize = "40";
    for (size_t s = 0; s < f.sizes.size(); ++s) {
        std::vector<testing::EpnGrade> grades;
        for (int64_t r : rules) grades.push_back({r, static_cast<int64_t>(s) * 5, -static_cast<int64_t>(s) * 3});
        f.grades.push_back(grades);
    }
    return testing::epn_text(f);
}

}  // namespace

int main(int argc, char** argv) {
    const char* drive = std::getenv("TEILIMP_DRIVE_B");
    if (drive == nullptr || *drive == '\0') {
        std::fprintf(stderr, "map drive B: to a scratch directory: TEILIMP_DRIVE_B=DIR %s\n", argv[0]);
        return 2;
    }
    const int pieces = argc > 1 ? std::atoi(argv[1]) : 200;
    const int points = argc > 2 ? std::atoi(argv[2]) : 400;
    namespace fs = std::filesystem;
    const fs::path root(drive);
    fs::create_directories(root / "epn");
    fs::create_directories(root / "userroot/storage/BENCH/data");

    std::vector<std::string> paths;
    uintmax_t bytes = 0;
    for (int i = 0; i < pieces; ++i) {
        const std::string name = "p" + std::to_string(i) + ".epn";
        std::ofstream(root / "epn" / name, std::ios::binary) << piece_text(i, points);
        bytes += fs::file_size(root / "epn" / name);
        paths.push_back("B:\\epn\\" + name);
    }

    // Reading.
    reader::Piece piece;
    auto start = Clock::now();
    int64_t imageBytes = 0;
    for (const auto& p : paths) {
        int32_t reversed = 0, rotated = 0;
        if (reader::epn_read(p.data(), static_cast<int32_t>(p.size()), reversed, rotated, piece) != 0) {
            std::fprintf(stderr, "cannot read %s\n", p.c_str());
            return 1;
        }
        imageBytes += piece.imageLength();
    }
    const double readMs = ms_since(start);
    std::printf("read   %d files, %.1f MB: %.1f ms, %.1f MB/s, %.3f ms per file\n", pieces, bytes / 1e6,
                readMs, bytes / 1e3 / readMs, readMs / pieces);

    // Storing: everything a run does per piece, twice over (the second
    // round supersedes every piece), then the end of the run.
    const writer::AreaField area = writer::make_area("B:BENCH");
    writer::HeldLock held;
    if (writer::epn_area_clear(area) != 1 || writer::epn_lock(area, 0, held) != writer::kLockTaken) {
        std::fprintf(stderr, "cannot prepare the area\n");
        return 1;
    }
    writer::LockKeeper lock(std::move(held));
    start = Clock::now();
    for (int round = 0; round < 2; ++round) {
        for (const auto& p : paths) {
            int32_t reversed = 0, rotated = 0;
            reader::epn_read(p.data(), static_cast<int32_t>(p.size()), reversed, rotated, piece);
            // The run makes sure before each store that the lock is still its own.
            if (!lock.still_ours() || writer::epn_space_check(area, piece.imageLength()) == 0 ||
                !writer::epn_store_piece(area, piece.pieceName, piece.image).ok()) {
                std::fprintf(stderr, "cannot store %s\n", p.c_str());
                return 1;
            }
        }
    }
    const double storeMs = ms_since(start);
    start = Clock::now();
    writer::epn_mark_superseded(area);
    const int32_t sorted = writer::epn_ctl_sort(area);
    const double endMs = ms_since(start);
    lock.release();
    std::printf("store  %d pieces (%.1f KB images on average): %.1f ms, %.2f ms per piece\n", 2 * pieces,
                imageBytes / 1e3 / pieces, storeMs, storeMs / (2 * pieces));
    std::printf("end    mark %d superseded entries and sort: %.1f ms (sort status %d)\n", pieces, endMs, sorted);
    return sorted == 0 ? 0 : 1;
}
