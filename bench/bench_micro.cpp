// In-process parts of an import, with Google Benchmark:
//  - reading EPN files (parsing the bytes into a piece image), in MB/s,
//    against a plain count of the lines of the same bytes;
//  - the end-of-run sort of a full control file (140,607 entries: every
//    place of an area but the one never given out), read, sorted and
//    written back with its flush, as a run does it.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "bench_pieces.h"
#include "reader/epn_reader.h"
#include "synthetic_area.h"
#include "writer/records.h"
#include "writer/sort.h"

namespace {

using namespace teilimp;

// Twenty pieces of 400 points, as the whole-program benchmark imports.
const std::vector<std::string>& epn_files() {
    static const std::vector<std::string> files = [] {
        std::vector<std::string> v;
        for (int i = 0; i < 20; ++i) v.push_back(bench::piece_text("TEIL" + std::to_string(i), 400));
        return v;
    }();
    return files;
}

int64_t total_bytes(const std::vector<std::string>& files) {
    int64_t n = 0;
    for (const auto& f : files) n += static_cast<int64_t>(f.size());
    return n;
}

void BM_EpnRead(benchmark::State& state) {
    const auto& files = epn_files();
    reader::Piece piece;
    for (auto _ : state) {
        for (const auto& f : files) {
            int32_t reversed = 0, rotated = 0;
            const reader::EpnStatus rc = reader::epn_parse(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(f.data()), f.size()), reversed, rotated,
                piece);
            if (rc != reader::EpnStatus::Ok) state.SkipWithError("a piece could not be read");
            benchmark::DoNotOptimize(piece.image.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * total_bytes(files));
}
BENCHMARK(BM_EpnRead);

// The floor for reading: the lines of the same bytes counted.
void BM_LineCount(benchmark::State& state) {
    const auto& files = epn_files();
    for (auto _ : state) {
        int64_t lines = 0;
        for (const auto& f : files) {
            const char* p = f.data();
            const char* end = p + f.size();
            while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr) {
                ++lines;
                ++p;
            }
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * total_bytes(files));
}
BENCHMARK(BM_LineCount);

// The control file as a run leaves it before its sort: the area's sorted
// entries, then 20 new ones, 5 of which superseded an older entry.
std::string unsorted_full_control_file() {
    bench::SynthArea a = bench::synth_area(140607 - 20);
    std::string ctl = a.control;
    const std::string trailer = ctl.substr(ctl.size() - 64);
    ctl.resize(ctl.size() - 64);
    for (int k = 0; k < 20; ++k) {
        std::string e = ctl.substr(0, 64);
        const std::string name = k < 5 ? bench::valid_name(k * 20000 + 7) : "NEU" + std::to_string(k);
        e.replace(0, 20, std::string(20, '\0'));
        e.replace(0, name.size(), name);
        ctl += e;
        if (k < 5) {
            // Supersede the older entry of the name (valid entry i sits at i).
            const size_t at = static_cast<size_t>(k * 20000 + 7) * 64;
            bench::put16(ctl, at + 24, 512);
        }
    }
    std::string t = trailer;
    bench::put16(t, 4, static_cast<int32_t>((a.valid + 15) & 0xFFFF));
    return ctl + t;
}

void BM_SortFullControlFile(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("teilimp-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "userroot/storage/SORT/data");
    ::setenv("TEILIMP_DRIVE_S", dir.c_str(), 1);
    const std::string bytes = unsorted_full_control_file();
    const writer::AreaField area = writer::make_area("S:SORT");
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path ctl = dir / "userroot/storage/SORT/data/piece.ctl";
        bench::write_bytes(ctl, bytes);
        // On disk before the sort, as a run's control file is: the sort's
        // own flush is not to carry this write.
        const int fd = ::open(ctl.c_str(), O_RDONLY);
        ::fsync(fd);
        ::close(fd);
        state.ResumeTiming();
        if (writer::epn_ctl_sort(area) != writer::SortStatus::Ok) state.SkipWithError("the sort failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    fs::remove_all(dir);
}
BENCHMARK(BM_SortFullControlFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
