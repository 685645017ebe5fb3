// Helpers shared by the tests: scratch directories, whole-file access and
// running the built program with its own environment and input.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace teilimp::testing {

// A fresh directory below /tmp (or $TMPDIR), removed with everything in it
// when the object goes.
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
// Names in a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);

struct RunResult {
    int exitCode = -1;   // -1000 - signal when killed by a signal
    std::string out;     // standard output
    std::string err;     // standard error
};

// The environment of a child: the current one with `env` added or
// overridden (a value of "\x01" removes the variable), as "NAME=value".
std::vector<std::string> child_environment(const std::map<std::string, std::string>& env);

// Runs the built teilimp binary with `args` (without argument 0). The child
// gets the current environment with `env` added or overridden (a value of
// "\x01" removes the variable), `input` on standard input, and `cwd` as its
// working directory when not empty.
RunResult run_teilimp(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {},
                      std::string_view input = {}, const std::string& cwd = {});

// Sets (or with nullptr unsets) an environment variable of this process,
// and restores the previous value when the object goes.
struct ScopedEnv {
    std::string name;
    std::string old;
    bool had = false;
    ScopedEnv(std::string n, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
};

}  // namespace teilimp::testing
