// Export benchmark: an area of 10,000 graded pieces (60 contour points, 8
// sizes, a grain line) exported in-process to ASTM D6673 (mm) and to
// AAMA-DXF (inch), against reading those pieces' images alone (the area
// loaded and every valid image decoded to the piece model), alternating in
// one run; milliseconds per piece and the ratio.
//
//   bench_export WORKDIR [PIECES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "area_tool/area_model.h"
#include "area_tool/tool.h"
#include "bench_pieces.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "synthetic_area.h"
#include "writer/records.h"

namespace {

using namespace teilimp;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Reading alone: the area's files and every valid image as a model.
double read_pieces(const writer::AreaField& area, int64_t& pieces) {
    const auto start = Clock::now();
    area_tool::AreaModel m;
    if (!area_tool::load_area(area, m)) return -1;
    pieces = 0;
    reader::PieceModel model;
    for (const area_tool::Entry& e : m.entries) {
        if (!e.placeValid || e.fields.entryState != writer::kStateValid) continue;
        const auto bytes = m.file(e.fields.fileCode)->image(e.fields.slot);
        reader::ImageFault fault;
        if (!bytes || !reader::decode_piece(*bytes, &e.fields.pieceName, model, fault)) return -1;
        ++pieces;
    }
    return ms_since(start);
}

double export_pieces(const std::vector<std::string>& args) {
    std::string console;
    platform::test::capture_console(&console);
    const auto start = Clock::now();
    const int status = area_tool::area_main(args);
    const double ms = ms_since(start);
    platform::test::capture_console(nullptr);
    return status == 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_export WORKDIR [PIECES]\n");
        return 2;
    }
    const fs::path work = fs::absolute(argv[1]) / "export";
    const int64_t wanted = argc > 2 ? std::atoll(argv[2]) : 10000;
    // Every 16th entry of a synthetic area is superseded: this many entries
    // leave `wanted` valid pieces.
    const int64_t entries = (wanted * 16 + 14) / 15;
    std::error_code ec;
    fs::remove_all(work, ec);
    fs::create_directories(work / "drive/userroot/storage/BENCH/data");
    fs::create_directories(work / "out");

    reader::Piece piece;
    int32_t reversed = 0, rotated = 0;
    const std::string epn = bench::piece_text("T", 60);
    if (reader::epn_parse({reinterpret_cast<const uint8_t*>(epn.data()), epn.size()}, reversed, rotated, piece) != reader::EpnStatus::Ok)
        return 1;
    const std::string image(piece.image.begin(), piece.image.end());
    const bench::SynthArea a = bench::synth_area(entries, &image);
    if (!bench::write_area(a, work / "drive/userroot/storage/BENCH/data")) return 1;
    setenv("TEILIMP_DRIVE_B", (work / "drive").c_str(), 1);
    const writer::AreaField area = writer::make_area("B:BENCH");

    std::vector<double> readMs, astmMs, aamaMs;
    int64_t pieces = 0;
    const std::string astm = (work / "out/astm.dxf").string(), aama = (work / "out/aama.dxf").string();
    for (int trial = 0; trial < 5; ++trial) {
        readMs.push_back(read_pieces(area, pieces));
        astmMs.push_back(export_pieces({"teilarea", "export", "B:BENCH", "-o", astm}));
        aamaMs.push_back(export_pieces({"teilarea", "export", "B:BENCH", "--format", "aama", "--units", "inch", "-o", aama}));
        if (readMs.back() < 0 || astmMs.back() < 0 || aamaMs.back() < 0) {
            std::fprintf(stderr, "a trial failed\n");
            return 1;
        }
    }
    const double n = static_cast<double>(pieces);
    const double read = median(readMs) / n, a1 = median(astmMs) / n, a2 = median(aamaMs) / n;
    std::printf("%lld valid pieces of %lld entries, image %zu bytes, 5 trials (medians)\n",
                static_cast<long long>(pieces), static_cast<long long>(a.entries), image.size());
    std::printf("reading the images alone   %8.4f ms/piece\n", read);
    std::printf("export ASTM, mm            %8.4f ms/piece   ratio %5.2f   (DXF %.1f MiB)\n", a1, a1 / read,
                static_cast<double>(fs::file_size(astm)) / 1048576.0);
    std::printf("export AAMA, inch          %8.4f ms/piece   ratio %5.2f   (DXF %.1f MiB)\n", a2, a2 / read,
                static_cast<double>(fs::file_size(aama)) / 1048576.0);
    fs::remove_all(work, ec);
    return 0;
}
