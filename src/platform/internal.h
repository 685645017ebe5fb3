// Parts of the operating-system layer shared by its implementations: the
// test hooks and what each system defines for the common code in
// common.cpp. Not a public header: only the layer's own files include it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace teilimp::platform::detail {

// ------------------------------------------------------------ test hooks

struct Hooks {
    // Counted also by the thread that renews a held lock.
    std::atomic<int64_t> count{0};
    int64_t faultAt = 0;
    int64_t crashAt = 0;
    double sleepScale = 1.0;
    double lockScale = 1.0;
    std::string* consoleSink = nullptr;
    const std::string* consoleFeed = nullptr;
    size_t feedPos = 0;
};

// The hooks, read from the environment at the first call.
Hooks& hooks();

// Counts one file operation that changes the disk. Returns true when the
// operation must fail (fault injection); kills the process when the crash
// index is reached, before the operation is done.
bool injected_fault();

// Creates something under a fresh name: `prefix` and ten random letters or
// digits. `make` returns kErrNone when it created the name given, 
// kErrAlreadyExists to have another name tried, any other code to stop;
// after 100 names in use the result is kErrAlreadyExists. `salt` (a
// process id, a counter) keeps processes started at once apart.
uint32_t make_with_random_name(std::string_view prefix, uint64_t salt,
                               const std::function<uint32_t(const std::string& name)>& make);

// ------------------------------------------------- defined per system

// Ends the process at once, as a crash would.
[[noreturn]] void kill_self();
// The system code of the last failed read or write.
uint32_t last_io_error();
// Writes code page 850 text to the console as the system shows it, or to
// the test sink.
void put_console(std::string_view cp850);
// The same for a file name as the file system gives it.
void put_console_name(std::string_view name);
// Where put_console and put_console_name write: standard output, or
// standard error for the console_error_* lines.
std::FILE* console_stream();
// The system's line end, in files and on the console ("\n", "\r\n").
std::string_view line_end();
// Closes a file's native handle (no file is open with -1).
void close_native(intptr_t native);
// The next byte of standard input; false at its end or when an interrupt
// comes while it waits.
bool next_input_byte(int& c);

}  // namespace teilimp::platform::detail
