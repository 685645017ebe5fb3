// Parts of the operating-system layer shared by its implementations: the
// test hooks and the table of operations that each file system fills.
// Not a public header: only the layer's own files include it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// ------------------------------------------------- the table of operations

// What each file system (the POSIX and the Win32 one, the memory one for
// tests) gives: one entry per call of platform.h that depends on it, with
// the same contract, minus what the shared part does around every call (the
// test hooks: counting, fault injection, crash, the console sink). The
// functions of platform.h call the active table (dispatch.cpp).
//
// To add a call: declare it in platform.h, add its entry here, fill it in
// posix/ (kSystemOps in posix/system.cpp) and win32/ (kSystemOps), give it a
// line in dispatch.cpp that calls active().name (counting it there first,
// where it changes the disk), and, where it touches files, an entry in
// memory/memory_fs.cpp (otherwise the memory table keeps the system's).
struct Ops {
    // files; `native` of a File is the table's own
    File (*open_file)(std::string_view path, OpenMode mode, uint32_t& err);
    int64_t (*read_bytes)(File& f, void* buf, size_t n);
    bool (*write_all)(File& f, const void* buf, size_t n);
    bool (*seek_file)(File& f, int64_t offset);
    bool (*truncate_file)(File& f, int64_t length);
    int64_t (*file_size)(File& f);
    bool (*flush_file)(File& f);
    bool (*close_file)(File& f);
    void (*close_native)(intptr_t native);  // no file is open with -1
    uint32_t (*last_io_error)();            // of the last failed read or write

    // path operations
    uint32_t (*copy_file)(std::string_view src, std::string_view dst);
    uint32_t (*delete_file)(std::string_view path);
    uint32_t (*rename_file)(std::string_view from, std::string_view to);
    uint32_t (*replace_file)(std::string_view from, std::string_view to);
    uint32_t (*link_file)(std::string_view existing, std::string_view newName);
    uint32_t (*copy_access)(std::string_view model, std::string_view target);
    uint32_t (*copy_access_open)(std::string_view model, File& target);
    void (*assume_exact_names)(std::string_view dir);
    uint32_t (*sync_directory)(std::string_view dir);
    uint32_t (*make_directory)(std::string_view path);
    uint32_t (*remove_directory)(std::string_view path);
    uint32_t (*remove_tree)(std::string_view path);
    uint32_t (*make_private_directory)(std::string_view parent, std::string_view prefix, std::string& out);
    uint32_t (*get_attributes)(std::string_view path, uint32_t* error);
    uint32_t (*set_attributes)(std::string_view path, uint32_t attributes);
    bool (*exists)(std::string_view path);
    // A file that is read-only, or a directory that takes no new file.
    bool (*refuses_writes)(std::string_view path);
    bool (*file_stamp)(std::string_view path, FileStamp& out, uint32_t* error);
    std::string (*short_path_name)(std::string_view path);
    bool (*has_short_names)();
    std::string (*native_path)(std::string_view path);
    std::string (*file_identity)(std::string_view path);
    bool (*argument_is_file_name)(std::string_view argument);

    // times
    CalendarTime (*local_now)();
    bool (*file_time_to_local)(FileTime t, CalendarTime& out);
    FileTime (*file_time_now)();
    uint32_t (*set_file_time)(std::string_view path, FileTime t);
    int64_t (*mktime_standard)(const CalendarTime& t);

    // directories
    uint32_t (*find_first)(std::string_view pattern, FindHandle& h, FindEntry& e);
    uint32_t (*find_next)(FindHandle& h, FindEntry& e);
    void (*find_close)(FindHandle& h);
    uint32_t (*find_names)(std::string_view pattern, std::vector<FoundName>& out);

    // drives
    uint32_t (*drive_type)(std::string_view root);
    uint32_t (*disk_free_space)(std::string_view root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                                uint32_t& freeClusters, uint32_t& totalClusters);

    // text, environment
    unsigned char (*upper_ansi)(unsigned char c);
    unsigned char (*lower_ansi)(unsigned char c);
    bool (*get_env)(std::string_view name, std::string& value);
    std::string (*temp_directory)();

    // process, console
    void (*sleep_ms)(uint32_t ms);
    int (*run_command)(std::string_view commandLine);
    // Code page 850 text to standard output as the console shows it; a file
    // name as the file system gives it.
    void (*put_console)(std::string_view cp850);
    void (*put_console_name)(std::string_view name);
    bool (*console_uses_utf8)();
    bool (*input_is_terminal)();  // the console feed of the tests is no terminal
    std::string (*argument_to_cp850)(std::string_view argument);
    void (*console_path_note)(std::string_view path);
    std::vector<std::string> (*drive_usage_lines)();
    // The next byte of standard input; false at its end or when an
    // interrupt comes while it waits.
    bool (*next_input_byte)(int& c);
    void (*catch_interrupts)();
    bool (*interrupted)();
    void (*interrupt_handled)();
    // Ends the process at once, as a crash would.
    void (*kill_self)();  // never returns
    // The system's line end, in files and on the console ("\n", "\r\n").
    std::string_view (*line_end)();
};

// The shared part's way to the active table (dispatch.cpp), for common.cpp.
[[noreturn]] void kill_self();
uint32_t last_io_error();
// Code page 850 text to the console or the test sink; a file name so.
void put_console(std::string_view cp850);
void put_console_name(std::string_view name);
// Where put_console and put_console_name write: standard output, or
// standard error for the console_error_* lines.
std::FILE* console_stream();
std::string_view line_end();
void close_native(intptr_t native);
bool next_input_byte(int& c);

// The system's table (posix/ or win32/).
// A search whose entries were all listed when it began (the POSIX and the
// memory file systems): the handle's state holds them, its native value the
// next one's index.
struct ListedFind {
    std::vector<FindEntry> entries;
};
inline uint32_t listed_find_next(FindHandle& h, FindEntry& e) {
    if (!h.is_open()) return kErrInvalidHandle;
    auto* st = static_cast<ListedFind*>(h.state);
    if (h.native < 0 || static_cast<size_t>(h.native) >= st->entries.size()) return kErrNoMoreFiles;
    e = st->entries[static_cast<size_t>(h.native)];
    ++h.native;
    return kErrNone;
}
inline void listed_find_close(FindHandle& h) {
    delete static_cast<ListedFind*>(h.state);
    h.state = nullptr;
    h.native = -1;
}

extern const Ops kSystemOps;
// The table the calls go to: the system's unless a test put another one in.
const Ops& active();
void set_active(const Ops* ops);

}  // namespace teilimp::platform::detail
