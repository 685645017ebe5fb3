// A run of the built program that a test drives while it runs: input sent
// line by line, output watched as it comes, the run interrupted, suspended,
// resumed or killed. One interface on every system; the system's side is in
// system_posix.cpp and system_win32.cpp.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/test_util.h"

namespace teilimp::testing {

// The ways a user or the system asks a console program to stop.
enum class StopRequest {
    interrupt,  // Ctrl-C (POSIX: SIGINT)
    terminate,  // POSIX: SIGTERM; Windows: Ctrl-Break
    hangup,     // the console goes away (POSIX: SIGHUP; Windows: the close event)
};

struct Child {
    // Starts build/teilimp with `args`, the current environment plus `env`
    // (as run_teilimp), standard input a pipe kept open until close_input.
    Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env);
    ~Child();  // kills a child that still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(std::string_view text);
    void close_input();
    // As the user's Ctrl-C or the system would; Windows: the console
    // event delivered to the program on a thread of its own, as the system
    // does.
    void ask_to_stop(StopRequest request = StopRequest::interrupt);
    // Holds every thread of the program until resume (POSIX: SIGSTOP and
    // SIGCONT).
    void suspend();
    void resume();
    // Ends the program at once, without its doing anything more; finish
    // then reports it killed.
    void kill();
    // Standard output so far, lines ending in "\n" (as RunResult::out).
    std::string output() const;
    // Waits until standard output holds `needle` (true) or the time is up.
    bool wait_for(std::string_view needle, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
    // Waits for the end of the process and returns everything it wrote.
    RunResult finish();

private:
    // The process and the test's ends of its pipes (system_*.cpp).
    struct Process;
    std::unique_ptr<Process> process_;
    // Reads from the program's standard output (or error) into `chunk`;
    // false at the end of the stream.
    bool read_stream(bool error, std::string& chunk);
    // Waits for the end of the process and sets result_'s exit code and
    // killed; closes the test's ends of the pipes.
    void wait_for_end();
    void drain_into(bool error, std::string& sink);

    mutable std::mutex mutex_;
    std::string out_;
    std::string err_;
    std::thread outReader_;
    std::thread errReader_;
    bool finished_ = false;
    RunResult result_;
};

}  // namespace teilimp::testing
