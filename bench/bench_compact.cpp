// teilarea compact against copying the area's files once:
//
//   bench_compact TEILAREA WORKDIR [M]      (make bench-compact runs it)
//
// One area of M entries (default 100,000) is made in WORKDIR: M/2 pieces
// imported twice, so that half of the entries are superseded (marks
// carried, control file sorted as a run leaves it), in M/8 piece files of
// one real image. Then, alternating in fresh copies of it, the program
// compacts the area and the floor copies every file of the area once into
// another directory (written, flushed, the directory flushed; before the
// compaction in odd trials, after it in even ones). Printed:
// both times, their ratio per trial, the median ratio, and the program's
// peak resident memory. Environment: BENCH_TRIALS (default 3).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_pieces.h"
#include "reader/epn_reader.h"
#include "synthetic_area.h"

extern char** environ;

namespace {

using namespace teilimp;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bench::file_code;
using bench::put16;
using bench::put32;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string image_of(const std::string& epn) {
    reader::Piece piece;
    int32_t reversed = 0, rotated = 0;
    if (reader::epn_parse({reinterpret_cast<const uint8_t*>(epn.data()), epn.size()}, reversed, rotated, piece) != reader::EpnStatus::Ok) {
        std::fprintf(stderr, "the bench piece does not read\n");
        std::exit(1);
    }
    return {piece.image.begin(), piece.image.end()};
}

// Import position p (0 .. m-1): piece p % (m/2); the first m/2 positions
// are the older, superseded versions.
void make_area(int64_t m, const fs::path& data) {
    const std::string image = image_of(bench::piece_text("T", 40));
    const int64_t pieces = m / 2;
    const int32_t stamp = 1000000000;
    const auto len = static_cast<int32_t>(image.size());
    std::string ctl(static_cast<size_t>(m + 1) * 64, '\0');
    auto entry = [&](int64_t k, int64_t p) {
        const size_t at = static_cast<size_t>(k) * 64;
        const std::string name = "T" + std::to_string(p % pieces);
        ctl.replace(at, name.size(), name);
        ctl.replace(at + 20, 3, file_code(p / 8));
        ctl[at + 23] = static_cast<char>(p % 8);
        put16(ctl, at + 24, p < pieces ? 512 : 0);
        put32(ctl, at + 26, stamp);
        put32(ctl, at + 30, stamp);
        put32(ctl, at + 34, len);
        put16(ctl, at + 38, 3);
        put32(ctl, at + 44, stamp);
        ctl[at + 48] = 'B';
        ctl[at + 49] = 'B';
    };
    for (int64_t i = 0; i < pieces; ++i) entry(i, pieces + i);  // valid, in numeric = natural order
    for (int64_t i = 0; i < pieces; ++i) entry(pieces + i, i);
    const size_t t = static_cast<size_t>(m) * 64;
    ctl.replace(t, 3, file_code(m / 8));
    ctl[t + 3] = static_cast<char>(m % 8);
    put16(ctl, t + 4, static_cast<int32_t>(pieces & 0xFFFF));
    ctl[t + 59] = 3;
    bench::write_bytes(data / "piece.ctl", ctl);
    for (int64_t f = 0; f * 8 < m; ++f) {
        std::string file(528, '\0');
        file[0] = 3;
        int32_t offset = 528;
        for (int64_t s = 0; s < 8 && f * 8 + s < m; ++s) {
            const size_t at = 16 + static_cast<size_t>(s) * 64;
            const int64_t p = f * 8 + s;
            const std::string name = "T" + std::to_string(p % pieces);
            put32(file, at, offset);
            put32(file, at + 4, len);
            file.replace(at + 8, name.size(), name);
            put16(file, at + 28, p < pieces ? 512 : 0);
            for (size_t o : {30u, 34u, 38u}) put32(file, at + o, stamp);
            file[at + 42] = 'B';
            file[at + 43] = 'B';
            offset += len;
            if (s < 7) put32(file, at + 64, offset);
            file += image;
        }
        bench::write_bytes(data / ("piece" + file_code(f) + ".pce"), file);
    }
}

void sync_path(const fs::path& p, int flags) {
    const int fd = ::open(p.c_str(), flags);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The floor: every file read and written once into `to`, flushed.
double copy_once(const fs::path& from, const fs::path& to) {
    const auto start = Clock::now();
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from)) {
        std::ifstream in(e.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const fs::path target = to / e.path().filename();
        bench::write_bytes(target, bytes);
        sync_path(target, O_RDONLY);
    }
    sync_path(to, O_RDONLY | O_DIRECTORY);
    return ms_since(start);
}

struct ProgramRun {
    double ms = 0;
    double peakMiB = 0;
};

ProgramRun compact(const std::string& program, const fs::path& drive) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.push_back("TEILIMP_DRIVE_B=" + drive.string());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {program, "compact", "B:BENCH"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    ProgramRun r{ms_since(start), static_cast<double>(ru.ru_maxrss) / 1024.0};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "teilarea compact failed (status %d)\n", status);
        std::exit(1);
    }
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_compact TEILAREA WORKDIR [M]\n");
        return 2;
    }
    const std::string program = fs::absolute(argv[1]).string();
    const fs::path work = fs::absolute(argv[2]);
    const int64_t m = argc > 3 ? std::strtoll(argv[3], nullptr, 10) : 100000;
    const int trials = std::getenv("BENCH_TRIALS") ? std::atoi(std::getenv("BENCH_TRIALS")) : 3;
    fs::remove_all(work);
    const fs::path model = work / "model";
    fs::create_directories(model);
    make_area(m, model);
    std::printf("compaction of %lld entries (half superseded), %lld piece files; %d trials\n",
                static_cast<long long>(m), static_cast<long long>((m + 7) / 8), trials);
    std::vector<double> ratios, programs, floors;
    for (int t = 1; t <= trials; ++t) {
        const fs::path drive = work / ("drive" + std::to_string(t));
        const fs::path data = drive / "userroot/storage/BENCH/data";
        fs::create_directories(data);
        for (const auto& e : fs::directory_iterator(model)) fs::copy_file(e.path(), data / e.path().filename());
        sync_path(data, O_RDONLY | O_DIRECTORY);
        // Which of the two goes first alternates: the first warms the cache.
        double floor = 0;
        ProgramRun r;
        if (t % 2 == 1) floor = copy_once(model, work / ("copy" + std::to_string(t)));
        r = compact(program, drive);
        if (t % 2 == 0) floor = copy_once(model, work / ("copy" + std::to_string(t)));
        programs.push_back(r.ms);
        floors.push_back(floor);
        ratios.push_back(r.ms / floor);
        std::printf("trial %d: compact %9.1f ms, copy once %9.1f ms, ratio %5.2f; peak memory %.1f MiB\n", t, r.ms,
                    floor, r.ms / floor, r.peakMiB);
        fs::remove_all(drive);
        fs::remove_all(work / ("copy" + std::to_string(t)));
    }
    std::printf("median: compact %.1f ms, copy once %.1f ms, ratio %.2f\n", median(programs), median(floors),
                median(ratios));
    fs::remove_all(work);
    return 0;
}
