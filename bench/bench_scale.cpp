// Whole runs of the program against the floor of the design, on areas of
// M entries (M/8 piece files):
//
//   bench_scale PROGRAM WORKDIR M...      (make bench runs it)
//
// For each M one synthetic area is made in WORKDIR; then, alternating in
// fresh copies of it, the program imports K = 20 EPN files (15 new pieces,
// 5 that replace stored ones) in one run, and the floor does per piece
// only the essential file work of the design: piece.ctl copied to its
// backup and flushed, the new control file written to a temporary file,
// flushed and renamed; the same for the piece file; the backups deleted;
// one flush of the directory. Printed: ms per piece of both, their ratio
// per trial and the median ratio, the program's peak resident memory
// against 2 x (largest image + control file) + 16 MiB, and from runs made
// in-process (as many as trials) the share of the end of the run
// (superseded marks and sort) in the in-process run and in the program's.
// Environment: BENCH_TRIALS (default 3), BENCH_PIECES (default 20), BENCH_KEEP
// (keep the areas, for profiling).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench_pieces.h"
#include "reader/epn_reader.h"
#include "synthetic_area.h"
#include "writer/lock.h"
#include "writer/records.h"
#include "writer/sort.h"
#include "writer/stamped.h"
#include "writer/writer.h"

extern char** environ;

namespace {

using namespace teilimp;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string load() {
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// ------------------------------------------------------------ the floor

std::string read_all(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool write_flushed(const fs::path& p, const std::string& bytes) {
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    const bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

// The essential work for one piece whose image goes to slot `slot`
// (0-based) of piece file `code`.
bool floor_piece(const fs::path& data, const std::string& code, int slot, const std::string& image) {
    const fs::path ctl = data / "piece.ctl", ctlBak = data / "piece.ct$", ctlTmp = data / "piece.ctl.tmp";
    std::string old = read_all(ctl);
    if (!write_flushed(ctlBak, old)) return false;
    std::string entry(64, '\0');
    entry.replace(0, 5, "FLOOR");
    old.insert(old.size() - 64, entry);
    if (!write_flushed(ctlTmp, old) || ::rename(ctlTmp.c_str(), ctl.c_str()) != 0) return false;

    const fs::path pce = data / ("piece" + code + ".pce"), pceBak = data / ("piece" + code + ".pc$"),
                   pceTmp = data / ("piece" + code + ".pce.tmp");
    std::string file = slot == 0 ? std::string(528, '\0') : read_all(pce);
    if (slot > 0 && !write_flushed(pceBak, file)) return false;
    file += image;
    if (!write_flushed(pceTmp, file) || ::rename(pceTmp.c_str(), pce.c_str()) != 0) return false;

    ::unlink(ctlBak.c_str());
    if (slot > 0) ::unlink(pceBak.c_str());
    const int dfd = ::open(data.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd < 0) return false;
    const bool ok = ::fsync(dfd) == 0;
    ::close(dfd);
    return ok;
}

double run_floor(const fs::path& drive, int64_t m, const std::vector<std::string>& images) {
    const fs::path data = drive / "userroot/storage/BENCH/data";
    int64_t place = m;  // the next free place: file place / 8, slot place % 8
    const auto start = Clock::now();
    for (const std::string& image : images) {
        if (!floor_piece(data, bench::file_code(place / 8), static_cast<int>(place % 8), image)) {
            std::fprintf(stderr, "the floor failed\n");
            std::exit(1);
        }
        ++place;
    }
    return ms_since(start);
}

// ---------------------------------------------------------- the program

struct ProgramRun {
    double ms = 0;
    double peakMiB = 0;
};

ProgramRun run_program(const std::string& program, const fs::path& drive, const fs::path& epn) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view v = *e;
        if (v.substr(0, 16) != "TEILIMP_DRIVE_B=" && v.substr(0, 16) != "TEILIMP_DRIVE_E=") env.emplace_back(v);
    }
    env.push_back("TEILIMP_DRIVE_B=" + drive.string());
    env.push_back("TEILIMP_DRIVE_E=" + epn.string());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {program, "B:BENCH", "E:\\*.epn", "/s1"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // fork, not a spawn that shares this process's memory until the exec:
    // the peak memory of the child would include this process's.
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        std::exit(1);
    }
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    ProgramRun r;
    r.ms = ms_since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the program failed (status %d)\n", status);
        std::exit(1);
    }
    r.peakMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
    return r;
}

// ------------------------------------------------ the end of a run's share

struct InProcess {
    double storeMs = 0;
    double marksMs = 0;
    double sortMs = 0;
};

// A run of the EPN files in `files`' order, made as the program makes it:
// the last file's store finishes the run. The marks carried before the
// last store count as the end of the run's, not as the store's.
InProcess run_in_process(const fs::path& drive, const fs::path& epn, const std::vector<std::string>& files) {
    ::setenv("TEILIMP_DRIVE_B", drive.c_str(), 1);
    ::setenv("TEILIMP_DRIVE_E", epn.c_str(), 1);
    const writer::AreaField area = writer::make_area("B:BENCH");
    InProcess r;
    if (writer::epn_lock(area, 0) != 1) std::exit(1);
    writer::AreaRun areaRun;
    reader::Piece piece;
    auto start = Clock::now();
    for (const std::string& file : files) {
        const std::string path = "E:\\" + file;
        const bool last = &file == &files.back();
        int32_t reversed = 0, rotated = 0;
        if (reader::epn_read(path.data(), static_cast<int32_t>(path.size()), reversed, rotated, piece) != reader::EpnStatus::Ok ||
            writer::epn_space_check(area, piece.imageLength(), areaRun) == 0) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            std::exit(1);
        }
        if (last) {
            // What the last store does first, timed on its own (the store
            // then finds nothing left to carry).
            const auto marks = Clock::now();
            writer::carry_marks_before_last(area, areaRun);
            r.marksMs += ms_since(marks);
            start += std::chrono::duration_cast<Clock::duration>(Clock::now() - marks);
        }
        if (!writer::epn_store_piece(area, piece.pieceName, piece.image, &areaRun, last).ok()) {
            std::fprintf(stderr, "cannot store %s\n", path.c_str());
            std::exit(1);
        }
    }
    r.storeMs = ms_since(start);
    start = Clock::now();
    writer::epn_mark_superseded(area, areaRun);
    r.marksMs += ms_since(start);
    start = Clock::now();
    if (writer::epn_ctl_sort(area, areaRun) != writer::SortStatus::Ok) std::exit(1);
    r.sortMs = ms_since(start);
    writer::epn_unlock(area);
    return r;
}

void copy_area(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
    ::sync();  // the copy's writes don't land in the timed part
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PROGRAM WORKDIR M...\n", argv[0]);
        return 2;
    }
    const std::string program = fs::absolute(argv[1]).string();
    const fs::path work = fs::absolute(argv[2]);
    const int trials = std::getenv("BENCH_TRIALS") ? std::atoi(std::getenv("BENCH_TRIALS")) : 3;
    const int pieces = std::getenv("BENCH_PIECES") ? std::atoi(std::getenv("BENCH_PIECES")) : 20;
    fs::create_directories(work);
    std::printf("work directory %s, %d pieces per run, %d trials; load %s\n", work.c_str(), pieces, trials,
                load().c_str());

    for (int a = 3; a < argc; ++a) {
        const int64_t m = std::atoll(argv[a]);
        const fs::path base = work / ("area-" + std::to_string(m));
        const fs::path tpl = base / "template", epn = base / "epn", run = base / "run";
        fs::remove_all(base);
        fs::create_directories(tpl / "userroot/storage/BENCH/data");
        fs::create_directories(epn);
        // The area's bytes are dropped once written: the program's peak
        // memory is measured from its start, which shares this process's.
        int64_t validCount = 0;
        size_t controlBytes = 0;
        {
            const bench::SynthArea area = bench::synth_area(m);
            if (!bench::write_area(area, tpl / "userroot/storage/BENCH/data")) {
                std::fprintf(stderr, "cannot write the area\n");
                return 1;
            }
            validCount = area.valid;
            controlBytes = area.control.size();
        }
        // 15 new pieces and 5 that replace stored ones; their images for
        // the floor.
        std::vector<std::string> images;
        size_t largest = 0;
        for (int k = 0; k < pieces; ++k) {
            const bool replaces = k % 4 == 3 && validCount > 0;
            const std::string name = replaces ? bench::valid_name((k * 7919) % validCount) : "NEU" + std::to_string(k);
            const std::string text = bench::piece_text(name, 400);
            bench::write_bytes(epn / ("p" + std::to_string(k) + ".epn"), text);
            reader::Piece piece;
            int32_t reversed = 0, rotated = 0;
            if (reader::epn_parse(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                                  reversed, rotated, piece) != reader::EpnStatus::Ok)
                return 1;
            images.emplace_back(piece.image.begin(), piece.image.end());
            largest = std::max(largest, piece.image.size());
        }
        const double ctlMiB = static_cast<double>(controlBytes + 64 * static_cast<size_t>(pieces)) / (1 << 20);
        const double bound = 2 * (static_cast<double>(largest) / (1 << 20) + ctlMiB) + 16;

        std::vector<double> ratios, programMs, floorMs, peaks;
        for (int t = 0; t < trials; ++t) {
            double p = 0, f = 0;
            for (int order = 0; order < 2; ++order) {
                copy_area(tpl, run);
                if ((order == 0) == (t % 2 == 0)) {
                    const ProgramRun r = run_program(program, run, epn);
                    p = r.ms / pieces;
                    peaks.push_back(r.peakMiB);
                } else {
                    f = run_floor(run, m, images) / pieces;
                }
            }
            ratios.push_back(p / f);
            programMs.push_back(p);
            floorMs.push_back(f);
            std::printf("M=%-7lld trial %d: program %8.2f ms/piece, floor %8.2f ms/piece, ratio %5.2f\n",
                        static_cast<long long>(m), t + 1, p, f, p / f);
            std::fflush(stdout);
        }
        const double peak = *std::max_element(peaks.begin(), peaks.end());
        const double bestProgram = *std::min_element(programMs.begin(), programMs.end());
        const double bestFloor = *std::min_element(floorMs.begin(), floorMs.end());
        std::printf("M=%-7lld median: program %.2f ms/piece, floor %.2f ms/piece, ratio %.2f; best of each %.2f / "
                    "%.2f = %.2f; peak memory %.1f MiB (bound %.1f MiB: %s); load %s\n",
                    static_cast<long long>(m), median(programMs), median(floorMs), median(ratios), bestProgram,
                    bestFloor, bestProgram / bestFloor, peak, bound, peak <= bound ? "within" : "ABOVE",
                    load().c_str());

        // The end of the run against the stores of the same in-process run,
        // and against the program's whole run (start, lock, listing, stores
        // and end; the median above): the files in name order, as the
        // program takes them (its last piece is new: its store writes the
        // control file sorted), and once more with a replacing piece last
        // (the end of the run then carries its mark and sorts).
        std::vector<std::string> listed, otherLast;
        for (const auto& entry : fs::directory_iterator(epn)) listed.push_back(entry.path().filename().string());
        std::sort(listed.begin(), listed.end(), [](std::string a, std::string b) {
            for (char& c : a) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            for (char& c : b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return a < b;
        });
        otherLast = listed;
        const auto isNew = [validCount](const std::string& file) {
            return validCount == 0 || std::stoi(file.substr(1)) % 4 != 3;
        };
        const auto other = std::find_if(otherLast.begin(), otherLast.end(),
                                         [&](const std::string& f) { return isNew(f) != isNew(listed.back()); });
        if (other != otherLast.end()) std::rotate(other, other + 1, otherLast.end());
        for (const bool nameOrder : {true, false}) {
            std::vector<double> storeMs, marksMs, sortMs, endMs, endShare;
            for (int t = 0; t < trials; ++t) {
                copy_area(tpl, run);
                const InProcess ip = run_in_process(run, epn, nameOrder ? listed : otherLast);
                storeMs.push_back(ip.storeMs);
                marksMs.push_back(ip.marksMs);
                sortMs.push_back(ip.sortMs);
                endMs.push_back(ip.marksMs + ip.sortMs);
                endShare.push_back(100.0 * (ip.marksMs + ip.sortMs) / (ip.storeMs + ip.marksMs + ip.sortMs));
            }
            const std::string& last = (nameOrder ? listed : otherLast).back();
            std::printf("M=%-7lld in-process runs, %s (last %s, %s): store %.2f ms/piece, superseded marks %.1f ms, "
                        "sort %.1f ms: end of the run %.1f ms, %.1f %% of the in-process run, %.1f %% of the "
                        "program's run (medians)\n",
                        static_cast<long long>(m), nameOrder ? "name order" : "another piece last", last.c_str(),
                        isNew(last) ? "new" : "replacing", median(storeMs) / pieces, median(marksMs), median(sortMs),
                        median(endMs), median(endShare), 100.0 * median(endMs) / (median(programMs) * pieces));
            std::fflush(stdout);
        }
        if (std::getenv("BENCH_KEEP") == nullptr) fs::remove_all(base);
    }
    return 0;
}
