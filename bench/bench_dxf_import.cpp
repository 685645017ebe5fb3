// Importing AAMA-DXF / ASTM files against importing the same pieces as EPN
// files, with Google Benchmark, the two alternating in one run:
//  - a generated style of 100 graded pieces (60 to 239 contour points,
//    notches, internal lines, 8 sizes), stored in an area and written by
//    `teilarea export` as ASTM (DXF + RUL), as AAMA and as EPN files;
//  - 1,000 such pieces, each exported as an ASTM file of its own, all in
//    one directory (a run of many files);
//  - each sample of the exchange formats (a directory of DXF and RUL files
//    from other systems), imported once and written as EPN files by the
//    same export (skipped, and said so, where there is none).
// Two measurements per style: `run`, teilimp's whole run (the driver's
// run_main, in-process) into a fresh area, DXF file(s) against the EPN
// files (wall time); `read`, reading and converting alone (the files in
// the page cache, each piece up to its image, nothing stored; processor
// time of the thread). Counters: medians in ms per piece of each and their
// ratio (dxf/epn); the benchmark's time is an iteration's DXF and EPN
// together.
//
//   bench_dxf_import WORKDIR [SAMPLES] [--benchmark_... flags]
//
// SAMPLES: a directory of samples; default the environment's
// TEILIMP_SAMPLES, else ../shared/exchange/samples beside the sources (or
// two levels up, from a worktree). The samples are read where they are.
// BENCH_TRIALS: runs of each `run` measurement (default 5); BENCH_MIN_TIME:
// seconds of each `read` measurement at least (default 1); BENCH_KEEP:
// the files are left in WORKDIR/dxf-import (for profiling).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "area_tool/tool.h"
#include "bench_pieces.h"
#include "driver/run.h"
#include "dxf/dxf_pieces.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "synthetic_area.h"

namespace {

using namespace teilimp;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// This thread's processor time: reading from the page cache is processor
// work, and the machine is shared (wall time there is mostly waiting).
double cpu_seconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A style's pieces in both forms.
struct Style {
    std::string name;
    std::vector<std::string> dxfFiles;  // the DXF files of the style (their RUL files beside them)
    fs::path epnDir;                    // the same pieces, one EPN file each
    std::vector<std::string> epnFiles;
    int pieces = 0;                     // pieces stored from the DXF files
    std::string dxfPattern;             // what the run is given instead of dxfFiles, where set
};

fs::path g_work;

// The area the timed runs import into, B:BENCH, emptied before each.
fs::path area_data() { return g_work / "drive/userroot/storage/BENCH/data"; }

bool fresh_area(const fs::path& data) {
    std::error_code ec;
    fs::remove_all(data, ec);
    fs::create_directories(data, ec);
    return bench::write_area(bench::synth_area(0), data);
}

// teilimp's run, in-process, its console kept; the exit status.
int import_run(const std::vector<std::string>& files, const std::string& area, std::string& console) {
    std::vector<std::string> args{"teilimp", area};
    args.insert(args.end(), files.begin(), files.end());
    console.clear();
    platform::test::capture_console(&console);
    const int status = driver::run_main(args);
    platform::test::capture_console(nullptr);
    return status;
}

int area_tool_run(const std::vector<std::string>& args) {
    std::string console;
    platform::test::capture_console(&console);
    const int status = area_tool::area_main(args);
    platform::test::capture_console(nullptr);
    if (status != 0) std::fprintf(stderr, "%s", console.c_str());
    return status;
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::vector<std::string> epn_files_in(const fs::path& dir) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".epn") v.push_back(e.path().string());
    std::sort(v.begin(), v.end());
    return v;
}

// Generated piece k of the style: an irregular oval of 60 to 239 points
// (clockwise), a rule at every sixth point, notches, the grain line along
// +x, up to three internal lines, every tenth piece mirrored; 8 sizes.
std::string generated_piece(int k) {
    testing::EpnFile f;
    char name[16];
    std::snprintf(name, sizeof name, "TEIL%03d", k + 1);
    f.name = name;
    f.text1 = "Oberstoff";
    f.text2 = "Stil 100";
    f.kind = k % 10 == 0 ? "MIRRORED" : "CLOSED";
    const int n = 60 + (k * 37) % 180;
    const double rx = 200 + (k % 7) * 40, ry = 150 + (k % 5) * 50;
    int rule = 0;
    for (int i = 0; i < n; ++i) {
        const double a = -6.283185307179586 * i / n;
        const double wobble = 1 + 0.04 * std::sin(5 * a + k);
        const auto x = static_cast<int64_t>(std::lround(rx * wobble * std::cos(a)));
        const auto y = static_cast<int64_t>(std::lround(ry * wobble * std::sin(a)));
        std::optional<int64_t> r;
        if (i % 6 == 0) r = ++rule;
        std::optional<int64_t> angle;
        if (i % 30 == 15) angle = (i * 71) % 3600;
        f.points.push_back(testing::perim(i + 1, x, y, r, i % 15 == 0 ? "N1" : "", angle));
    }
    f.points.push_back(testing::inner(n + 1, -100, 0, 'G', 'N'));
    f.points.push_back(testing::inner(n + 2, 100, 0, 'G', 'O'));
    int number = n + 3;
    if (k % 10 == 0) {
        f.points.push_back(testing::inner(number++, static_cast<int64_t>(-rx), 0, 'M', 'N'));
        f.points.push_back(testing::inner(number++, static_cast<int64_t>(rx), 0, 'M', 'O'));
    }
    for (int line = 0; line < k % 4; ++line) {
        const int m = 2 + line;
        for (int i = 0; i < m; ++i) {
            std::optional<int64_t> r;
            if (i == 0) r = ++rule;
            f.points.push_back(testing::inner(number++, -60 + 30 * i, -80 + 50 * line + 7 * i, ' ',
                                              i + 1 < m ? 'N' : 'O', r));
        }
    }
    f.sizes = {"34", "36", "38", "40", "42", "44", "46", "48"};
    f.baseSize = "40";
    f.grades.resize(f.sizes.size());
    for (size_t s = 0; s < f.sizes.size(); ++s) {
        const int64_t step = static_cast<int64_t>(s) - 3;
        for (int64_t r = 1; r <= rule; ++r) f.grades[s].push_back({r, step * (r % 7), -step * (r % 5)});
    }
    return testing::epn_text(f);
}

// The style of 100 generated pieces, stored in B:SOURCE and exported: ASTM
// and AAMA (each a DXF and its RUL file) and the EPN files.
std::vector<Style> generated_styles() {
    const fs::path gen = g_work / "generated";
    const fs::path data = g_work / "drive/userroot/storage/SOURCE/data";
    fs::create_directories(gen / "in");
    fs::create_directories(gen / "astm");
    fs::create_directories(gen / "aama");
    if (!fresh_area(data)) return {};
    for (int k = 0; k < 100; ++k) {
        char file[32];
        std::snprintf(file, sizeof file, "teil%03d.epn", k + 1);
        if (!bench::write_bytes(gen / "in" / file, generated_piece(k))) return {};
    }
    std::string console;
    if (import_run({(gen / "in/*.epn").string()}, "B:SOURCE", console) != 0 ||
        count_of(console, "Teil importiert als:") != 100) {
        std::fprintf(stderr, "the generated pieces were not all stored:\n%s", console.c_str());
        return {};
    }
    const std::string astm = (gen / "astm/style.dxf").string(), aama = (gen / "aama/style.dxf").string();
    if (area_tool_run({"teilarea", "export", "B:SOURCE", "-o", astm}) != 0 ||
        area_tool_run({"teilarea", "export", "B:SOURCE", "--format", "aama", "-o", aama}) != 0 ||
        area_tool_run({"teilarea", "export", "B:SOURCE", "--format", "epn", "-o", (gen / "epn").string()}) != 0)
        return {};
    if (fs::exists(gen / "astm/style-2.dxf")) {
        std::fprintf(stderr, "the generated pieces were exported as more than one style\n");
        return {};
    }
    const std::vector<std::string> epn = epn_files_in(gen / "epn");
    return {Style{"generated100_astm", {astm}, gen / "epn", epn, 100, {}},
            Style{"generated100_aama", {aama}, gen / "epn", epn, 100, {}}};
}

// 1,000 generated pieces, each exported as an ASTM file of its own (DXF
// and RUL) into one directory, imported by the pattern "*.dxf": a run of
// many files, where what is done for each file weighs.
std::vector<Style> many_files_style() {
    constexpr int kPieces = 1000;
    const fs::path gen = g_work / "files";
    if (!fresh_area(g_work / "drive/userroot/storage/FILES/data")) return {};
    fs::create_directories(gen / "in");
    fs::create_directories(gen / "astm");
    for (int k = 0; k < kPieces; ++k) {
        char file[32];
        std::snprintf(file, sizeof file, "teil%04d.epn", k + 1);
        if (!bench::write_bytes(gen / "in" / file, generated_piece(k))) return {};
    }
    std::string console;
    if (import_run({(gen / "in/*.epn").string()}, "B:FILES", console) != 0 ||
        count_of(console, "Teil importiert als:") != kPieces) {
        std::fprintf(stderr, "the generated pieces were not all stored:\n%s", console.c_str());
        return {};
    }
    std::vector<std::string> dxfFiles;
    for (int k = 0; k < kPieces; ++k) {
        char name[16], file[32];
        std::snprintf(name, sizeof name, "TEIL%03d", k + 1);
        std::snprintf(file, sizeof file, "teil%04d.dxf", k + 1);
        dxfFiles.push_back((gen / "astm" / file).string());
        if (area_tool_run({"teilarea", "export", "B:FILES", name, "-o", dxfFiles.back()}) != 0) return {};
    }
    if (area_tool_run({"teilarea", "export", "B:FILES", "--format", "epn", "-o", (gen / "epn").string()}) != 0)
        return {};
    return {Style{"files1000_astm", dxfFiles, gen / "epn", epn_files_in(gen / "epn"), kPieces,
                  (gen / "astm/*.dxf").string()}};
}

fs::path samples_dir(int argc, char** argv) {
    if (argc > 2) return argv[2];
    if (const char* env = std::getenv("TEILIMP_SAMPLES")) return env;
    const fs::path source = TEILIMP_SOURCE_DIR;
    for (const fs::path& p : {source / "../shared/exchange/samples", source / "../../shared/exchange/samples"})
        if (fs::is_directory(p)) return p;
    return {};
}

// Each sample DXF file: imported into an area of its own and exported as
// EPN files; the pieces the import stores are the pieces compared.
std::vector<Style> sample_styles(const fs::path& dir) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dxf") files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    std::vector<Style> styles;
    int k = 0;
    for (const std::string& file : files) {
        const fs::path data = g_work / "drive/userroot/storage/SAMPLE/data";
        const fs::path epn = g_work / "samples" / std::to_string(++k);
        if (!fresh_area(data)) return {};
        std::string console;
        import_run({file}, "B:SAMPLE", console);
        const int stored = count_of(console, "Teil importiert als:");
        fs::create_directories(epn);
        if (stored == 0 ||
            area_tool_run({"teilarea", "export", "B:SAMPLE", "--format", "epn", "-o", epn.string()}) != 0) {
            std::printf("sample %s: no piece stored, left out\n", file.c_str());
            continue;
        }
        std::string name = "sample_" + fs::path(file).stem().string();
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
        styles.push_back(Style{name, {file}, epn, epn_files_in(epn), stored, {}});
        if (static_cast<int>(styles.back().epnFiles.size()) != stored)
            std::printf("sample %s: %d pieces stored, %zu EPN files\n", file.c_str(), stored,
                        styles.back().epnFiles.size());
    }
    return styles;
}

void report(benchmark::State& state, const Style& style, const std::vector<double>& dxf,
            const std::vector<double>& epn, const char* prefix = "") {
    const double perPiece = 1000.0 / style.pieces;
    const std::string p = prefix;
    state.counters["pieces"] = style.pieces;
    state.counters[p + "dxf_ms/piece"] = median(dxf) * perPiece;
    state.counters[p + "epn_ms/piece"] = median(epn) * perPiece;
    state.counters[p + "ratio"] = median(dxf) / median(epn);
}

// teilimp's whole run into a fresh area: the DXF file(s), then (or, every
// other iteration, first) the EPN files. The iteration's time is both.
// Besides the wall time the run's processor time (cpu_ counters, the
// kernel's part in it), which the flushes' waiting, that varies tenfold
// on a shared disk, does not blur.
void BM_Run(benchmark::State& state, const Style& style) {
    const std::vector<std::string> epnPattern{(style.epnDir / "*.epn").string()};
    std::vector<double> dxf, epn, dxfCpu, epnCpu;
    std::string console;
    bool dxfFirst = true;
    for (auto _ : state) {
        double both = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isDxf = (turn == 0) == dxfFirst;
            if (!fresh_area(area_data())) state.SkipWithError("cannot empty the area");
            const auto start = Clock::now();
            const double cpuStart = cpu_seconds();
            const std::vector<std::string> dxfArgs =
                style.dxfPattern.empty() ? style.dxfFiles : std::vector<std::string>{style.dxfPattern};
            const int status = import_run(isDxf ? dxfArgs : epnPattern, "B:BENCH", console);
            const double s = seconds_since(start);
            (isDxf ? dxfCpu : epnCpu).push_back(cpu_seconds() - cpuStart);
            if (count_of(console, "Teil importiert als:") != style.pieces || (status != 0 && !isDxf)) {
                state.SkipWithError("the import did not store every piece");
                std::fprintf(stderr, "%s", console.c_str());
            }
            (isDxf ? dxf : epn).push_back(s);
            both += s;
        }
        state.SetIterationTime(both);
        dxfFirst = !dxfFirst;
    }
    report(state, style, dxf, epn);
    report(state, style, dxfCpu, epnCpu, "cpu_");
}

// Reading and converting alone: each DXF file to its pieces' images (its
// RUL file read), each EPN file to its image.
void BM_Read(benchmark::State& state, const Style& style) {
    std::vector<double> dxf, epn;
    reader::Piece piece;
    bool dxfFirst = true;
    for (auto _ : state) {
        double both = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isDxf = (turn == 0) == dxfFirst;
            const double start = cpu_seconds();
            if (isDxf) {
                dxf::RulSearch search;  // as in a run: each directory listed once
                for (const std::string& f : style.dxfFiles) {
                    const dxf::DxfFile file = dxf::read_dxf_file(f, search);
                    benchmark::DoNotOptimize(file.pieces.data());
                }
            } else {
                for (const std::string& f : style.epnFiles) {
                    int32_t reversed = 0, rotated = 0;
                    if (reader::epn_read(f.data(), static_cast<int32_t>(f.size()), reversed, rotated, piece) != reader::EpnStatus::Ok)
                        state.SkipWithError("an EPN file cannot be read");
                    benchmark::DoNotOptimize(piece.image.data());
                }
            }
            const double s = cpu_seconds() - start;
            (isDxf ? dxf : epn).push_back(s);
            both += s;
        }
        state.SetIterationTime(both);
        dxfFirst = !dxfFirst;
    }
    report(state, style, dxf, epn);
}

// Where a DXF file's reading goes (processor time): its lines taken apart
// into the drawing, its RUL file read, the drawing converted to images.
void BM_DxfParts(benchmark::State& state, const Style& style) {
    std::vector<double> lex, rul, convert;
    std::vector<std::vector<uint8_t>> dxfBytes, rulBytes;
    for (const std::string& f : style.dxfFiles) {
        dxfBytes.emplace_back();
        dxf::load_file(f, dxfBytes.back());
        const dxf::DxfFile file = dxf::read_dxf_file(f);
        rulBytes.emplace_back();
        if (!file.rulPath.empty()) dxf::load_file(file.rulPath, rulBytes.back());
    }
    dxf::Drawing drawing;
    rul::RuleTable table;
    for (auto _ : state) {
        double l = 0, r = 0, c = 0;
        for (size_t k = 0; k < dxfBytes.size(); ++k) {
            double t = cpu_seconds();
            dxf::read_dxf(dxfBytes[k], drawing, dxf::counted_only);
            l += cpu_seconds() - t;
            t = cpu_seconds();
            const bool haveRules = !rulBytes[k].empty() && rul::parse_rul(rulBytes[k], table) == rul::ReadStatus::Ok;
            r += cpu_seconds() - t;
            t = cpu_seconds();
            const dxf::DxfFile file = dxf::convert_drawing(drawing, haveRules ? &table : nullptr);
            benchmark::DoNotOptimize(file.pieces.data());
            c += cpu_seconds() - t;
        }
        lex.push_back(l);
        rul.push_back(r);
        convert.push_back(c);
        state.SetIterationTime(l + r + c);
    }
    const double perPiece = 1000.0 / style.pieces;
    state.counters["lines_ms/piece"] = median(lex) * perPiece;
    state.counters["rul_ms/piece"] = median(rul) * perPiece;
    state.counters["convert_ms/piece"] = median(convert) * perPiece;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_dxf_import WORKDIR [SAMPLES] [--benchmark_... flags]\n");
        return 2;
    }
    g_work = fs::absolute(argv[1]) / "dxf-import";
    std::error_code ec;
    fs::remove_all(g_work, ec);
    fs::create_directories(g_work);
    ::setenv("TEILIMP_DRIVE_B", (g_work / "drive").c_str(), 1);

    static std::vector<Style> styles = generated_styles();
    if (styles.empty()) return 1;
    for (Style& s : many_files_style()) styles.push_back(std::move(s));
    const fs::path samples = samples_dir(argc, argv);
    if (samples.empty() || !fs::is_directory(samples)) {
        std::printf("no exchange samples (../shared/exchange/samples or TEILIMP_SAMPLES): samples skipped\n");
    } else {
        std::printf("samples from %s\n", samples.c_str());
        for (Style& s : sample_styles(samples)) styles.push_back(std::move(s));
    }
    const int runs = std::getenv("BENCH_TRIALS") ? std::atoi(std::getenv("BENCH_TRIALS")) : 5;
    const double minTime = std::getenv("BENCH_MIN_TIME") ? std::atof(std::getenv("BENCH_MIN_TIME")) : 1.0;
    for (const Style& s : styles) {
        benchmark::RegisterBenchmark(("BM_Read/" + s.name).c_str(), BM_Read, s)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(minTime);
        benchmark::RegisterBenchmark(("BM_DxfParts/" + s.name).c_str(), BM_DxfParts, s)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(minTime);
        benchmark::RegisterBenchmark(("BM_Run/" + s.name).c_str(), BM_Run, s)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(runs);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!std::getenv("BENCH_KEEP")) fs::remove_all(g_work, ec);
    return 0;
}
