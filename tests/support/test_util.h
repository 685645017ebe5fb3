// Helpers shared by the tests: scratch directories, drive letters, the
// environment, whole-file access and running programs with their own
// environment and input. One interface on every system; what differs lives
// in system_posix.cpp and system_win32.cpp.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace teilimp::testing {

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // path + "/" + rel
    std::string operator/(std::string_view rel) const;
};

std::string read_file(const std::string& path);   // native path; "" if missing
bool file_exists(const std::string& path);
void write_file(const std::string& path, std::string_view bytes);  // creates parent dirs
void make_dirs(const std::string& path);
void remove_file(const std::string& path);
// Names in a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);

// Sets (or with nullptr unsets) an environment variable of this process and
// of the programs it starts, and restores the previous value when the
// object goes.
struct ScopedEnv {
    std::string name;
    std::string old;
    bool had = false;
    ScopedEnv(std::string n, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
};

// The drive letter `letter` names the directory `dir` (or, without a
// directory, no drive at all) for this process and every program it starts,
// while the object lives. On POSIX the layer's drive variable is set; on
// Windows a real drive letter is defined (under Wine a link in the prefix's
// dosdevices), and a letter is held by one test process at a time.
struct DriveMap {
    char letter;
    DriveMap(char letter, const std::string& dir);
    explicit DriveMap(char letter);  // the letter names no drive
    ~DriveMap();
    DriveMap(const DriveMap&) = delete;
    DriveMap& operator=(const DriveMap&) = delete;

private:
    void* state_ = nullptr;
};

struct RunResult {
    int exitCode = -1;     // POSIX: -1000 - signal when killed by a signal
    bool killed = false;   // ended by the crash hook (or another kill)
    std::string out;       // standard output, lines ending in "\n"
    std::string err;       // standard error, lines ending in "\n"
    std::string rawOut;    // standard output exactly as written
};

// The line end the programs write on this system ("\n", "\r\n" on Windows).
extern const std::string_view kLineEnd;
// Output in the system's line ends with every line ending in "\n"; a bare
// "\n" where "\r\n" belongs shows as "<LF>\n".
std::string in_lines(std::string_view raw);
// True where the file system gives 8.3 names: a found file is then shown
// under its short name.
bool short_names();
// The name under which the program shows a found file called `name` that
// is a valid 8.3 name (upper-cased where the system has 8.3 names).
std::string found_name(std::string_view name);

// Runs `program` with `args` (without argument 0). The child gets the
// current environment with `env` added or overridden (a value of "\x01"
// removes the variable), `input` on standard input, and `cwd` as its
// working directory when not empty. Output as in_lines gives it.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {}, std::string_view input = {},
                      const std::string& cwd = {});
// The built teilimp program.
RunResult run_teilimp(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {},
                      std::string_view input = {}, const std::string& cwd = {});
// This test program again, running only the tests that match `filter`.
RunResult run_self(const std::string& filter, const std::map<std::string, std::string>& env = {});

// Whether a sweep that starts a program for each operation k takes this
// one: every k on POSIX; under Windows, where a start costs a good part of
// a second under Wine, every third one and always the first (the sweeps
// run in full on POSIX).
bool sweep_point(int64_t k);

// True on POSIX systems. A test of behaviour that only they have starts
// with SKIP_UNLESS_POSIX("why") and says so where it is skipped.
bool posix_system();
#define SKIP_UNLESS_POSIX(why)                                                   \
    do {                                                                         \
        if (!::teilimp::testing::posix_system()) GTEST_SKIP() << "POSIX only: " << why; \
    } while (0)

// True where the system refuses to write, replace or delete a read-only
// file for this process: the POSIX layer always does; Windows does, but
// Wine run as root does not.
bool read_only_refused();
#define SKIP_UNLESS_READ_ONLY_REFUSED()                                                     \
    do {                                                                                    \
        if (!::teilimp::testing::read_only_refused())                                       \
            GTEST_SKIP() << "read-only files are writable for this user here (Wine as root)"; \
    } while (0)

// Makes `link` a symbolic link to `target` (a file or a directory); false
// where the system (or Wine) cannot.
bool make_link(const std::string& target, const std::string& link);
// True when this process can open the (read-only) file for writing.
bool writable_by_this_user(const std::string& path);
// True when `path` is a directory itself (not a link to one).
bool is_real_directory(const std::string& path);
// The permission bits of a file (0777 part), -1 if it cannot be read.
int permission_bits(const std::string& path);

// Limits the size of files this process writes while the object lives
// (POSIX: RLIMIT_FSIZE); `active` is false where there is no such limit.
struct FileSizeLimit {
    bool active = false;
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    uint64_t old_ = 0;
    void* oldHandler_ = nullptr;
};

// Paths given by the build (the program, the source tree) as this process
// names them.
std::string build_path(std::string_view hostPath);

// Polls `done` every 20 ms until it holds (true) or the time is up.
template <typename F>
bool eventually(F done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace teilimp::testing
