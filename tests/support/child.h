// A run of the built program that a test drives while it runs: input sent
// line by line, output watched as it comes, signals sent to the process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/test_util.h"

namespace teilimp::testing {

// The environment of a child: the current one with `env` added or
// overridden (a value of "\x01" removes the variable), as "NAME=value".
std::vector<std::string> child_environment(const std::map<std::string, std::string>& env);

// A program started with pipes for its standard input, output and error:
// its process id and the test's ends of the pipes.
struct Started {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int err = -1;
};
// Starts `program` with `args`, the environment of child_environment(env)
// and `cwd` as its working directory (when not empty); the signals a test
// may have changed go back to their defaults in the program.
Started start_program(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd = {});

struct Child {
    pid_t pid = -1;
    int input = -1;  // the child's standard input (write end)

    // Starts build/teilimp with `args`, the current environment plus `env`
    // (as run_teilimp), standard input a pipe kept open until close_input.
    Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env);
    ~Child();  // kills a child that still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(std::string_view text);
    void close_input();
    void signal(int sig);
    // Standard output so far.
    std::string output() const;
    // Waits until standard output holds `needle` (true) or the time is up.
    bool wait_for(std::string_view needle, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
    // Waits for the end of the process and returns everything it wrote.
    RunResult finish();

private:
    int outFd = -1;
    int errFd = -1;
    mutable std::mutex mutex;
    std::string out;
    std::string err;
    std::thread outReader;
    std::thread errReader;
    bool finished = false;
    RunResult result;
};

}  // namespace teilimp::testing
