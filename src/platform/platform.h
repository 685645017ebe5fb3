// Operating-system layer: the one place that knows which system the program
// runs on. Everything above it names files the way the user typed them
// (drive letter, colon, backslashes) and receives Windows-style error codes,
// so the rest of the program behaves the same on every system.
//
// POSIX rules (posix/; the memory file system follows them too):
//  - Drive letter L: is the directory named by TEILIMP_DRIVE_<L>. A path on an
//    unmapped drive does not exist; such a drive has no root (type 1) and no
//    free space.
//  - "\" and "/" both separate path components. A component that does not
//    exist under its exact name is matched case-insensitively (ASCII and the
//    code page 1252 letters); a new file keeps the case given. A well-formed
//    UTF-8 character in a name counts as one character (its letter folded
//    as the code page 1252 letter), other bytes as code page 1252.
//    A path ending in a separator names only a directory (a file: 123).
//    "." and ".." are folded as Windows does; ".." stops at a drive's root.
//    Paths without a drive letter are relative to the current directory;
//    "/x" is used as it is (still case-resolved).
//  - Wildcards * and ? in the last component, matched case-insensitively;
//    a search returns entries in ascending order of their upper-cased names
//    (byte order, code page 1252), without "." and "..". "*.*" matches every
//    name, "x.*" also matches "x".
//  - Read-only means the owner has no write permission. Such a file is not
//    opened for writing, copied onto, replaced or deleted (code 5), as on
//    Windows, even when the process could (root).
//  - No 8.3 alternate names; file times are last-write times.
//  - Temporary directory: TMP, TEMP, TMPDIR, then /tmp.
//  - Command interpreter: /bin/sh -c.
//  - Console: code page 850 bytes, converted to UTF-8 when the locale's
//    character set is UTF-8; lines end in LF (CR LF on Windows). File names
//    are shown as the file system gives them, never converted.
//  - A search pattern whose last component does not begin with "." does
//    not match names beginning with "." (hidden files), as the shell does.
//
// Every function here calls a table of operations (internal.h, Ops): the
// system's (posix/system.cpp, win32/), or for tests one that keeps files
// in memory (memory/, test::use_memory_files). The test hooks below (the
// count of changing operations, fault injection, crash, the console sink)
// are done around every table in one place (dispatch.cpp). The rules for
// names (folding, searches, resolution) are names.h's. A new call: its
// declaration here, an entry in Ops, a function in each system's part and
// in its table, a line in dispatch.cpp (see internal.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace teilimp::platform {

// Windows system error codes, used on every platform.
enum : uint32_t {
    kErrNone = 0,
    kErrFileNotFound = 2,
    kErrPathNotFound = 3,
    kErrAccessDenied = 5,
    kErrInvalidHandle = 6,
    kErrNoMoreFiles = 18,
    kErrWriteProtect = 19,
    kErrGenFailure = 31,
    kErrSharingViolation = 32,
    kErrFileExists = 80,
    kErrInvalidParameter = 87,
    kErrDiskFull = 112,
    kErrInvalidName = 123,
    kErrDirNotEmpty = 145,
    kErrAlreadyExists = 183,
};

// File attribute bits (as Windows reports them).
enum : uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
    kAttrInvalid = 0xFFFFFFFFu,
};

// ---------------------------------------------------------------- files

enum class OpenMode {
    Read,       // existing file, read only
    ReadWrite,  // existing file, read and write, positioned at its start
    Create,     // create or open for writing; NOT truncated: call truncate()
                // (or write a new file and rename it) so that a failed open
                // never destroys the old contents
    CreateNew,  // create a file that must not exist (atomic test and create)
};

// An open file. Move-only; the destructor closes it. `native` is a file
// descriptor on POSIX and a HANDLE on Windows.
struct File {
    intptr_t native = -1;

    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    bool is_open() const { return native != -1; }
};

// Opens `path`. On failure the returned File is not open and *error (if
// given) holds the system code (2, 3, 5, 80, ...).
File open_file(std::string_view path, OpenMode mode, uint32_t* error = nullptr);

// Reads up to n bytes at the current position. Returns the count read
// (0 at end of file) or -1 on error.
int64_t read_bytes(File& f, void* buf, size_t n);
// Reads exactly n bytes; false on error or end of file before n bytes.
bool read_exact(File& f, void* buf, size_t n);
// Writes all n bytes; false on any failure (also a short write).
bool write_all(File& f, const void* buf, size_t n);
// Writes text followed by the system's line end (LF, CR LF on Windows).
bool write_line(File& f, std::string_view text);
// Moves to the start of the file.
bool rewind_file(File& f);
bool seek_file(File& f, int64_t offset);
// Cuts the file at `length` bytes.
bool truncate_file(File& f, int64_t length);
// Size of an open file, -1 on error.
int64_t file_size(File& f);
// Flushes the file's data to the disk (fsync / FlushFileBuffers).
bool flush_file(File& f);
// Closes; false if the close reported an error (the handle is gone either way).
bool close_file(File& f);
// Closes and deletes the file by its path (the path it was opened with).
bool close_and_delete(File& f, std::string_view path);

// Reads a whole file into `out`. Returns 0 or the system code.
uint32_t read_whole_file(std::string_view path, std::vector<uint8_t>& out);

// ----------------------------------------------------- path operations
// Each returns 0 on success, else the system code.

// Copies src over dst (an existing, writable dst is replaced; a new dst is
// created). Copying a file onto itself fails with 32.
uint32_t copy_file(std::string_view src, std::string_view dst);
uint32_t delete_file(std::string_view path);
// Renames; fails with 183 if `to` exists (another file; the same file under
// another case is renamed to the case given).
uint32_t rename_file(std::string_view from, std::string_view to);
// Renames, atomically replacing `to` if it exists.
uint32_t replace_file(std::string_view from, std::string_view to);
// Gives an existing file a second name (a hard link; both names then share
// one content). Fails if `newName` exists, and where the file system keeps
// no links (callers then copy).
uint32_t link_file(std::string_view existing, std::string_view newName);
// Gives `target` the access of `model`, so that a new version of a shared
// file is as usable by the team as the file it replaces: on POSIX its
// permission bits (the owner's write permission always kept) and, where
// the process may set it, its group; on Windows nothing (a new file takes
// the access its directory gives). 0 or the system code; not counted by the
// test hooks.
uint32_t copy_access(std::string_view model, std::string_view target);
// The same for an open file (a new version just created), changing only
// what differs from `model`.
uint32_t copy_access(std::string_view model, File& target);
// Declares that every name in directory `dir` is written in the case it
// has on disk: a name in it that does not exist exactly as given is then
// missing, without a search of the directory for it in another case (one
// directory search per lookup of a missing name, where the file system
// tells case apart). Operations on a file named directly in it then go
// straight to the system call, without looking the name up first (a
// round trip each on a network file system); whether the directory takes
// new files is taken as it was at the declaration. For a run that holds
// an area's lock and has checked the area's names. An empty `dir` ends
// it. No-op where names are matched without regard to case by the system
// itself.
void assume_exact_names(std::string_view dir);
// Flushes a directory's entries to disk (after a rename); no-op where the
// system has no such operation.
uint32_t sync_directory(std::string_view dir);
uint32_t make_directory(std::string_view path);
// Creating an existing directory fails with 183.
// Removes an empty directory (145 if it is not empty).
uint32_t remove_directory(std::string_view path);
// Removes a directory and everything below it, following no links.
uint32_t remove_tree(std::string_view path);
// Creates a new directory private to this process (mode 0700) below `parent`
// with a unique name starting with `prefix`; `out` receives its path.
uint32_t make_private_directory(std::string_view parent, std::string_view prefix,
                                std::string& out);

// Attribute bits of the file, or kAttrInvalid (*error set) if unreadable.
uint32_t get_attributes(std::string_view path, uint32_t* error = nullptr);
// Sets the attributes (only the read-only bit has an effect on POSIX: it
// clears every write permission; without it the owner may write).
uint32_t set_attributes(std::string_view path, uint32_t attributes);
bool exists(std::string_view path);
// True when the file refuses to be changed (read-only), or the directory
// takes no new file, for every user; found without writing anything. False
// when it can't be looked at.
bool refuses_writes(std::string_view path);

// What tells one file from another that later takes its name: the file's
// identity on its volume (device and inode; volume serial and file index)
// and its last-write time.
struct FileStamp {
    uint64_t volume = 0;
    uint64_t index = 0;
    int64_t writeTime = 0;  // a FileTime
    bool operator==(const FileStamp&) const = default;
};
// False (with *error set) when the file cannot be looked at.
bool file_stamp(std::string_view path, FileStamp& out, uint32_t* error = nullptr);

// Short (8.3) form of a path; empty where the system has none (POSIX).
std::string short_path_name(std::string_view path);
// True where the file system may give 8.3 alternate names (Windows).
bool has_short_names();

// The path as the system names it: on POSIX the mapped, case-resolved
// native path ("" for an unmapped drive); on Windows the path unchanged.
std::string native_path(std::string_view path);

// A key that is the same for every spelling of one existing file (its
// device and inode; on Windows its volume and file index, else its full
// path upper-cased); "" when the file can't be looked at.
std::string file_identity(std::string_view path);

// True when a command-line argument that has the form of an option must
// be taken as a file name: on POSIX, where "/" starts absolute paths and a
// shell expands patterns into names such as "-n", an argument that names
// an existing file or directory or holds a "/" after its first character.
// Always false on Windows.
bool argument_is_file_name(std::string_view argument);

// --------------------------------------------------------------- times

// A file time: 100-nanosecond intervals since 1601-01-01 UTC (FILETIME).
using FileTime = int64_t;

struct CalendarTime {
    int year = 0;     // full year
    int month = 0;    // 1..12
    int day = 0;      // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int weekday = 0;  // 0 = Sunday .. 6 = Saturday
};

CalendarTime local_now();
// Converts a file time to local calendar fields; false if it can't.
bool file_time_to_local(FileTime t, CalendarTime& out);
// The current time as a FileTime.
FileTime file_time_now();
// Sets a file's last-write time; 0 or the system code.
uint32_t set_file_time(std::string_view path, FileTime t);
// Seconds since 1970-01-01 UTC of local calendar fields read as standard
// time (mktime with the daylight-saving flag 0).
int64_t mktime_standard(const CalendarTime& t);

// ---------------------------------------------------------- directories

struct FindEntry {
    std::string long_name;
    std::string short_name;  // 8.3 alternate name, empty if none
    uint32_t attributes = 0;
    uint64_t size = 0;
    FileTime write_time = 0;
    FileTime creation_time = 0;  // 0 where unknown
};

// An open directory search. Move-only; the destructor closes it.
struct FindHandle {
    intptr_t native = -1;  // Windows HANDLE; POSIX: index into the entry list
    void* state = nullptr; // POSIX: the sorted list of matches

    FindHandle() = default;
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    FindHandle(FindHandle&& other) noexcept;
    FindHandle& operator=(FindHandle&& other) noexcept;
    ~FindHandle();

    bool is_open() const;
};

// Starts a search on a pattern (wildcards in the last component). Returns 0
// with the first entry, or the system code: 18 (none), 2 (no match in an
// existing directory, as Windows reports it), 3 (no such directory), ...
uint32_t find_first(std::string_view pattern, FindHandle& h, FindEntry& e);
// Next entry: 0, 18 when no more, 6 when `h` is not open.
uint32_t find_next(FindHandle& h, FindEntry& e);
void find_close(FindHandle& h);

// The names that a search on `pattern` finds, in its order, each with
// whether it is a directory: where the system tells each entry's type in
// the directory's listing, from the listing alone, without looking at
// every file (one round trip each on a network file system). 0, or the
// code find_first gives.
struct FoundName {
    std::string name;
    bool directory = false;
};
uint32_t find_names(std::string_view pattern, std::vector<FoundName>& out);

// -------------------------------------------------------------- drives

// GetDriveTypeA's values: 0 unknown, 1 no root directory, 2 removable,
// 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk. `root` is like "F:\".
uint32_t drive_type(std::string_view root);
// GetDiskFreeSpaceA's figures; 0 or the system code.
uint32_t disk_free_space(std::string_view root, uint32_t& sectorsPerCluster,
                         uint32_t& bytesPerSector, uint32_t& freeClusters,
                         uint32_t& totalClusters);

// ----------------------------------------------------------- text, env

// Upper/lower case of one byte in the ANSI code page (1252 on POSIX).
unsigned char upper_ansi(unsigned char c);
unsigned char lower_ansi(unsigned char c);

// Reads an environment variable; false if it is not set.
bool get_env(std::string_view name, std::string& value);
// The directory for temporary files ("" if none).
std::string temp_directory();

// --------------------------------------------------------- process, console

// Pauses; ends early when an interrupt comes (after catch_interrupts).
void sleep_ms(uint32_t ms);
// Runs a command line through the command interpreter; its exit status.
int run_command(std::string_view commandLine);

// Writes code page 850 text to standard output (converted as the console
// needs), without / with the system's line end.
void console_write(std::string_view cp850);
void console_line(std::string_view cp850);
// A line of code page 850 text followed by a file name or path as the file
// system gives it: on POSIX its bytes unchanged (a UTF-8 name shows as
// such under a UTF-8 locale), on Windows converted from the ANSI to the
// console's code page.
void console_name_line(std::string_view cp850, std::string_view name);
void console_flush();
// Reads one line from standard input without its line end, cut to maxLen
// bytes; false at end of input, and when an interrupt comes while it waits.
bool console_read_line(std::string& line, size_t maxLen);

// Code page 850 text as UTF-8 (every byte has its character).
std::string cp850_to_utf8(std::string_view cp850);
// True when console output is converted to UTF-8: the character set of the
// locale (LC_ALL, else LC_CTYPE, else LANG) is UTF-8. Always false on Windows.
bool console_uses_utf8();
// UTF-8 text in code page 850: a character code page 850 lacks becomes
// '?'; bytes that are no well-formed UTF-8 are kept as they are.
std::string utf8_to_cp850(std::string_view utf8);
// A command-line argument (a piece name typed by the user) in code page
// 850: from UTF-8 under a UTF-8 locale, else unchanged on POSIX; from the
// ANSI code page on Windows.
std::string argument_to_cp850(std::string_view argument);

// After a message that an area's directory `path` is missing or unusable,
// the line that tells the user where it was looked for: on POSIX
// "   (<the absolute directory>)", or, when its drive letter is not mapped,
// "   (Laufwerk F: ist nicht zugeordnet: TEILIMP_DRIVE_F setzen)". Nothing
// on Windows, where the path is the system's own.
void console_path_note(std::string_view path);
// Lines of the usage texts (code page 850) that tell how drive letters
// reach the file system: on POSIX the TEILIMP_DRIVE_<L> variables; none on
// Windows.
std::vector<std::string> drive_usage_lines();

// Writes a line to standard error (diagnostics).
void error_line(std::string_view text);
// console_line and console_name_line to standard error: converted as on
// standard output, after what standard output holds so far.
void console_error_line(std::string_view cp850);
void console_error_name_line(std::string_view cp850, std::string_view name);
// True when standard input is a terminal (Windows: a console), where a
// person types; false for a pipe, a file or fed test input.
bool input_is_terminal();

// ----------------------------------------------------------- interrupts

// From now on an interrupt (Ctrl-C: SIGINT, SIGTERM, SIGHUP; on Windows the
// console's Ctrl-C, Ctrl-Break and close events) does not end the process:
// it sets a flag that the run looks at, and ends a wait for input or a
// pause. A second interrupt ends the process at once.
void catch_interrupts();
// True once an interrupt has come.
bool interrupted();
// The run has ended after an interrupt: a console that is being closed
// (Windows) lets the process go now instead of waiting for it.
void interrupt_handled();

// ------------------------------------------------------------ test hooks
// Switches for tests. The program reads them from the environment once:
//  TEILIMP_FAULT_AT=k   the k-th counted file operation fails
//  TEILIMP_CRASH_AT=k   the process kills itself at the k-th counted file
//                       operation, before doing it (crash tests)
//  TEILIMP_SLEEP_SCALE=x  every pause lasts x times as long (0: no pause)
//  TEILIMP_LOCK_SCALE=x   the lock's ages (the stale age and the renewal
//                       period) are x times as long
// Counted operations, one count per call: open_file in every mode but Read,
// write_all/write_line, truncate_file, flush_file, copy_file, delete_file
// (also through close_and_delete), rename_file, replace_file, link_file,
// make_directory, remove_directory, remove_tree, make_private_directory,
// set_attributes, set_file_time. Not counted: reads, closes (a crash before a
// close leaves the disk as a crash after the last write), seeks,
// sync_directory, attribute and existence queries, searches.
// A failing operation does nothing and reports access denied (open: code 5;
// write, truncate, flush: false; path operations: 5). The crash flushes
// standard output, then SIGKILL (TerminateProcess on Windows).
namespace test {
void set_fault_at(int64_t k);         // 0 switches fault injection off
void set_crash_at(int64_t k);         // 0 switches it off
int64_t file_ops_counted();           // counted operations so far
void reset_file_ops();                // counter back to 0
void set_sleep_scale(double scale);
void set_lock_scale(double scale);
double lock_scale();
// Console output goes to *sink instead of standard output (nullptr: back):
// the code page 850 bytes unconverted, lines ending in the system's line end.
void capture_console(std::string* sink);
// Console input is read from `text` instead of standard input
// (std::nullopt-like: pass nullptr to go back to standard input).
void feed_console(const std::string* text);
// With true, every file operation works on a new, empty file system held in
// memory (only "/" in it; drives map to its directories as on POSIX, by
// TEILIMP_DRIVE_<L>): the POSIX rules and codes, but names are one entry
// whatever their case, and no 8.3 names, permissions or links to
// directories. With false, the system's files again (what was in memory
// is gone). Files open meanwhile must be closed before either switch.
void use_memory_files(bool on);
// The room for contents in the memory file system (default 1 GiB): writes
// beyond it fail as on a full disk (112), free space is what is left.
void set_memory_capacity(uint64_t bytes);
}  // namespace test

}  // namespace teilimp::platform
