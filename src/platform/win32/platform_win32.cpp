// Windows implementation of the operating-system layer: thin wrappers over
// the ANSI Win32 calls. Paths are passed to the system unchanged; the
// system's own error codes are reported as they are.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <sddl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/platform.h"
#include "platform/internal.h"

namespace teilimp::platform::win32 {

namespace {

HANDLE handle_of(const File& f) { return reinterpret_cast<HANDLE>(f.native); }

uint32_t last_error() {
    DWORD e = GetLastError();
    return e == 0 ? kErrGenFailure : static_cast<uint32_t>(e);
}

uint32_t result_of(BOOL ok) { return ok ? kErrNone : last_error(); }

// NUL-terminated copy of a path for the A-API.
std::string z(std::string_view s) { return std::string(s); }

FileTime from_filetime(const FILETIME& ft) {
    return static_cast<FileTime>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME to_filetime(FileTime t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(t) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(t) >> 32);
    return ft;
}

void fill_calendar(const SYSTEMTIME& st, CalendarTime& out) {
    out.year = st.wYear;
    out.month = st.wMonth;
    out.day = st.wDay;
    out.hour = st.wHour;
    out.minute = st.wMinute;
    out.second = st.wSecond;
    out.millisecond = st.wMilliseconds;
    out.weekday = st.wDayOfWeek;
}

// Standard output carries the exact bytes given: no translation of line
// ends by the C library.
void binary_stdout() {
    static bool done = false;
    if (done) return;
    done = true;
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace

[[noreturn]] void kill_self() {
    std::fflush(stdout);  // console text up to the crash is kept
    // Exit code 137, as a shell reports a process ended by SIGKILL.
    TerminateProcess(GetCurrentProcess(), 137);
    ExitProcess(137);
}

uint32_t last_io_error() { return last_error(); }

std::string_view line_end() { return "\r\n"; }

void close_native(intptr_t native) { CloseHandle(reinterpret_cast<HANDLE>(native)); }

void put_console(std::string_view cp850) {
    binary_stdout();
    std::fwrite(cp850.data(), 1, cp850.size(), detail::console_stream());
}

// The system gives names in the ANSI code page; the console shows its OEM
// code page.
void put_console_name(std::string_view name) {
    std::string oem(name);
    if (!oem.empty()) CharToOemBuffA(oem.data(), oem.data(), static_cast<DWORD>(oem.size()));
    binary_stdout();
    std::fwrite(oem.data(), 1, oem.size(), detail::console_stream());
}

namespace {

// A directory's path with a backslash and `name` appended.
std::string child(const std::string& dir, const char* name) {
    std::string p = dir;
    if (!p.empty() && p.back() != '\\' && p.back() != '/') p += '\\';
    p += name;
    return p;
}

// Removes the directory `dir` and everything below it. Links and junctions
// are removed themselves; what they point to is left alone.
DWORD remove_tree_at(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(child(dir, "*").c_str(), &fd);
    DWORD err = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0) continue;
            std::string p = child(dir, fd.cFileName);
            DWORD e = 0;
            bool isDir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            bool isLink = (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesA(p.c_str(), fd.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
            if (isDir && !isLink)
                e = remove_tree_at(p);
            else if (isDir)
                e = RemoveDirectoryA(p.c_str()) ? 0 : GetLastError();
            else
                e = DeleteFileA(p.c_str()) ? 0 : GetLastError();
            if (e != 0 && err == 0) err = e;
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    if (err != 0) return err;
    return RemoveDirectoryA(dir.c_str()) ? 0 : GetLastError();
}

void fill_entry(const WIN32_FIND_DATAA& fd, FindEntry& e) {
    e.long_name = fd.cFileName;
    e.short_name = fd.cAlternateFileName;
    e.attributes = fd.dwFileAttributes;
    e.size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    e.write_time = from_filetime(fd.ftLastWriteTime);
    e.creation_time = from_filetime(fd.ftCreationTime);
}

}  // namespace

// ================================================================ files


File open_file(std::string_view path, OpenMode mode, uint32_t& err) {
    File f;
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case OpenMode::Read: break;
        case OpenMode::ReadWrite: access |= GENERIC_WRITE; break;
        case OpenMode::Create: access |= GENERIC_WRITE; disposition = OPEN_ALWAYS; break;
        case OpenMode::CreateNew: access |= GENERIC_WRITE; disposition = CREATE_NEW; break;
    }
    HANDLE h = CreateFileA(z(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        err = last_error();
        return f;
    }
    f.native = reinterpret_cast<intptr_t>(h);
    return f;
}

int64_t read_bytes(File& f, void* buf, size_t n) {
    if (!f.is_open()) return -1;
    DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle_of(f), buf, want, &got, nullptr)) return -1;
    return got;
}

namespace {

bool write_raw(HANDLE h, const char* p, size_t n) {
    while (n > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(h, p, chunk, &done, nullptr) || done == 0) return false;
        p += done;
        n -= done;
    }
    return true;
}

}  // namespace

bool write_all(File& f, const void* buf, size_t n) {
    if (!f.is_open()) return false;
    return write_raw(handle_of(f), static_cast<const char*>(buf), n);
}


bool seek_file(File& f, int64_t offset) {
    if (!f.is_open() || offset < 0) return false;
    LARGE_INTEGER li;
    li.QuadPart = offset;
    return SetFilePointerEx(handle_of(f), li, nullptr, FILE_BEGIN) != 0;
}

bool truncate_file(File& f, int64_t length) {
    if (!f.is_open() || length < 0) return false;
    HANDLE h = handle_of(f);
    LARGE_INTEGER zero, pos, target;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(h, zero, &pos, FILE_CURRENT)) return false;
    target.QuadPart = length;
    bool ok = SetFilePointerEx(h, target, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    // The position stays where it was, as with ftruncate.
    SetFilePointerEx(h, pos, nullptr, FILE_BEGIN);
    return ok;
}

int64_t file_size(File& f) {
    LARGE_INTEGER li;
    if (!f.is_open() || !GetFileSizeEx(handle_of(f), &li)) return -1;
    return li.QuadPart;
}

bool flush_file(File& f) {
    if (!f.is_open()) return false;
    return FlushFileBuffers(handle_of(f)) != 0;
}

bool close_file(File& f) {
    if (!f.is_open()) return false;
    HANDLE h = handle_of(f);
    f.native = -1;
    return CloseHandle(h) != 0;
}

// ====================================================== path operations

uint32_t copy_file(std::string_view src, std::string_view dst) {
    const std::string target = z(dst);
    if (!CopyFileA(z(src).c_str(), target.c_str(), FALSE)) return last_error();
    // CopyFile carries the read-only attribute over; a copy is a new file
    // that may be written and deleted, as on every system (a backup of a
    // read-only file must not stay behind undeletable).
    DWORD a = GetFileAttributesA(target.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesA(target.c_str(), a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return kErrNone;
}

uint32_t delete_file(std::string_view path) {
    return result_of(DeleteFileA(z(path).c_str()));
}

uint32_t rename_file(std::string_view from, std::string_view to) {
    return result_of(MoveFileA(z(from).c_str(), z(to).c_str()));
}

uint32_t replace_file(std::string_view from, std::string_view to) {
    return result_of(
        MoveFileExA(z(from).c_str(), z(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

uint32_t link_file(std::string_view existing, std::string_view newName) {
    return result_of(CreateHardLinkA(z(newName).c_str(), z(existing).c_str(), nullptr));
}

// The system matches names without regard to case itself.
void assume_exact_names(std::string_view) {}

// MOVEFILE_WRITE_THROUGH already made the rename durable.
uint32_t sync_directory(std::string_view) { return kErrNone; }

uint32_t make_directory(std::string_view path) {
    return result_of(CreateDirectoryA(z(path).c_str(), nullptr));
}

uint32_t remove_directory(std::string_view path) {
    return result_of(RemoveDirectoryA(z(path).c_str()));
}

uint32_t remove_tree(std::string_view path) {
    std::string p = z(path);
    while (p.size() > 3 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    DWORD a = GetFileAttributesA(p.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return last_error();
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return kErrPathNotFound;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return result_of(RemoveDirectoryA(p.c_str()));
    return remove_tree_at(p);
}

uint32_t make_private_directory(std::string_view parent, std::string_view prefix, std::string& out) {
    out.clear();
    // Full access for the owner and the system, nobody else; inherited by
    // everything created inside.
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)",
                                                             SDDL_REVISION_1, &sd, nullptr))
        sa.lpSecurityDescriptor = sd;

    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const uint64_t salt = static_cast<uint64_t>(counter.QuadPart) ^ GetCurrentProcessId();
    const uint32_t result = detail::make_with_random_name(prefix, salt, [&](const std::string& name) {
        std::string candidate = child(z(parent), name.c_str());
        if (!CreateDirectoryA(candidate.c_str(), sd != nullptr ? &sa : nullptr)) {
            DWORD e = GetLastError();
            if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) return uint32_t{kErrAlreadyExists};
            return e == 0 ? uint32_t{kErrGenFailure} : static_cast<uint32_t>(e);
        }
        out = candidate;
        return uint32_t{kErrNone};
    });
    if (sd != nullptr) LocalFree(sd);
    return result;
}

uint32_t get_attributes(std::string_view path, uint32_t* error) {
    DWORD a = GetFileAttributesA(z(path).c_str());
    if (error != nullptr) *error = a == INVALID_FILE_ATTRIBUTES ? last_error() : kErrNone;
    return a == INVALID_FILE_ATTRIBUTES ? uint32_t{kAttrInvalid} : static_cast<uint32_t>(a);
}

uint32_t set_attributes(std::string_view path, uint32_t attributes) {
    // The directory bit is not settable; no bits at all means "normal".
    DWORD a = attributes & ~static_cast<DWORD>(kAttrDirectory);
    if (a == 0) a = FILE_ATTRIBUTE_NORMAL;
    return result_of(SetFileAttributesA(z(path).c_str(), a));
}

bool exists(std::string_view path) { return GetFileAttributesA(z(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// The read-only attribute of a directory does not keep files out of it.
bool refuses_writes(std::string_view path) {
    const DWORD a = GetFileAttributesA(z(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0 && (a & FILE_ATTRIBUTE_READONLY) != 0;
}

uint32_t copy_access(std::string_view, std::string_view) { return kErrNone; }
uint32_t copy_access_open(std::string_view, File&) { return kErrNone; }

bool file_stamp(std::string_view path, FileStamp& out, uint32_t* error) {
    uint32_t dummy = 0;
    uint32_t& err = error != nullptr ? *error : dummy;
    err = kErrNone;
    HANDLE h = CreateFileA(z(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        err = last_error();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    if (!ok) err = last_error();
    CloseHandle(h);
    if (!ok) return false;
    out.volume = info.dwVolumeSerialNumber;
    out.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.writeTime = from_filetime(info.ftLastWriteTime);
    return true;
}

std::string short_path_name(std::string_view path) {
    std::string p = z(path);
    std::vector<char> buf(MAX_PATH + 1);
    DWORD n = GetShortPathNameA(p.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetShortPathNameA(p.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    }
    if (n == 0 || n >= buf.size()) return std::string();
    return std::string(buf.data(), n);
}

bool has_short_names() { return true; }

std::string native_path(std::string_view path) { return std::string(path); }

std::string file_identity(std::string_view path) {
    // The volume and the file's index name it whatever the spelling: also
    // through another drive letter (subst, a share) or a hard link.
    HANDLE h = CreateFileA(z(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        const BOOL ok = GetFileInformationByHandle(h, &info);
        CloseHandle(h);
        if (ok) {
            return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
                   std::to_string(info.nFileIndexLow);
        }
    }
    std::string p = z(path);
    DWORD n = GetFullPathNameA(p.c_str(), 0, nullptr, nullptr);
    if (n == 0) return std::string();
    std::vector<char> buf(n + 1);
    n = GetFullPathNameA(p.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
    if (n == 0 || n >= buf.size() || GetFileAttributesA(buf.data()) == INVALID_FILE_ATTRIBUTES) return std::string();
    CharUpperBuffA(buf.data(), n);
    return std::string(buf.data(), n);
}

bool argument_is_file_name(std::string_view) { return false; }

// ================================================================ times

CalendarTime local_now() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    CalendarTime out;
    fill_calendar(st, out);
    return out;
}

// The system's own zone, with the daylight-saving rules that held at the
// time converted (FileTimeToLocalFileTime would apply today's). The C
// library's TZ variable is never read: shells set it to names the C
// library does not know.
bool file_time_to_local(FileTime t, CalendarTime& out) {
    if (t < 0) return false;
    FILETIME ft = to_filetime(t);
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    fill_calendar(local, out);
    return true;
}

FileTime file_time_now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return from_filetime(ft);
}

uint32_t set_file_time(std::string_view path, FileTime t) {
    HANDLE h = CreateFileA(z(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    FILETIME ft = to_filetime(t);
    uint32_t rc = result_of(SetFileTime(h, nullptr, nullptr, &ft));
    CloseHandle(h);
    return rc;
}

namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar; any month number is carried into the year.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y += (m >= 1 ? (m - 1) / 12 : (m - 12) / 12);
    m = ((m - 1) % 12 + 12) % 12 + 1;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Minutes to add to the zone's standard time to get UTC, as the system's
// zone data give them for `year`.
int64_t standard_bias_minutes(int year) {
    TIME_ZONE_INFORMATION tzi;
    if (year >= 1601 && year <= 30827 && GetTimeZoneInformationForYear(static_cast<USHORT>(year), nullptr, &tzi))
        return static_cast<int64_t>(tzi.Bias) + tzi.StandardBias;
    if (GetTimeZoneInformation(&tzi) != TIME_ZONE_ID_INVALID) return static_cast<int64_t>(tzi.Bias) + tzi.StandardBias;
    return 0;
}

}  // namespace

// The local fields read as the zone's standard time, from the system's own
// zone data (never the C library's TZ).
int64_t mktime_standard(const CalendarTime& t) {
    const int64_t days = days_from_civil(t.year, t.month, t.day);
    const int64_t seconds = days * 86400 + int64_t{t.hour} * 3600 + int64_t{t.minute} * 60 + t.second;
    return seconds + standard_bias_minutes(t.year) * 60;
}

// ========================================================== directories



namespace {

bool dot_entry(const WIN32_FIND_DATAA& fd) {
    return std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0;
}

}  // namespace

uint32_t find_next(FindHandle& h, FindEntry& e);
void find_close(FindHandle& h);

// A search never gives "." and "..", as on every system: a pattern that
// matches nothing else in an existing directory finds no file (2).
uint32_t find_first(std::string_view pattern, FindHandle& h, FindEntry& e) {
    win32::find_close(h);
    WIN32_FIND_DATAA fd;
    HANDLE fh = FindFirstFileA(z(pattern).c_str(), &fd);
    if (fh == INVALID_HANDLE_VALUE) return last_error();
    h.native = reinterpret_cast<intptr_t>(fh);
    if (!dot_entry(fd)) {
        fill_entry(fd, e);
        return kErrNone;
    }
    const uint32_t rc = win32::find_next(h, e);
    if (rc == kErrNoMoreFiles) {
        win32::find_close(h);
        return kErrFileNotFound;
    }
    return rc;
}

uint32_t find_next(FindHandle& h, FindEntry& e) {
    if (!h.is_open()) return kErrInvalidHandle;
    WIN32_FIND_DATAA fd;
    do {
        if (!FindNextFileA(reinterpret_cast<HANDLE>(h.native), &fd)) return last_error();
    } while (dot_entry(fd));
    fill_entry(fd, e);
    return kErrNone;
}

void find_close(FindHandle& h) {
    if (h.native != -1) FindClose(reinterpret_cast<HANDLE>(h.native));
    h.native = -1;
    h.state = nullptr;
}

uint32_t find_names(std::string_view pattern, std::vector<FoundName>& out) {
    out.clear();
    FindHandle h;
    FindEntry e;
    const uint32_t code = win32::find_first(pattern, h, e);
    if (code != kErrNone) return code;
    do out.push_back({e.long_name, (e.attributes & kAttrDirectory) != 0});
    while (win32::find_next(h, e) == kErrNone);
    return kErrNone;
}

// =============================================================== drives

uint32_t drive_type(std::string_view root) { return GetDriveTypeA(z(root).c_str()); }

uint32_t disk_free_space(std::string_view root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                         uint32_t& freeClusters, uint32_t& totalClusters) {
    DWORD spc = 0, bps = 0, fc = 0, tc = 0;
    if (!GetDiskFreeSpaceA(z(root).c_str(), &spc, &bps, &fc, &tc)) return last_error();
    sectorsPerCluster = spc;
    bytesPerSector = bps;
    freeClusters = fc;
    totalClusters = tc;
    return kErrNone;
}

// ============================================================ text, env

unsigned char upper_ansi(unsigned char c) {
    char buf[1] = {static_cast<char>(c)};
    CharUpperBuffA(buf, 1);
    return static_cast<unsigned char>(buf[0]);
}

unsigned char lower_ansi(unsigned char c) {
    char buf[1] = {static_cast<char>(c)};
    CharLowerBuffA(buf, 1);
    return static_cast<unsigned char>(buf[0]);
}

bool get_env(std::string_view name, std::string& value) {
    std::string n = z(name);
    std::vector<char> buf(256);
    for (;;) {
        SetLastError(0);
        DWORD len = GetEnvironmentVariableA(n.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
        if (len == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            value.clear();  // set but empty
            return true;
        }
        if (len < buf.size()) {
            value.assign(buf.data(), len);
            return true;
        }
        buf.resize(len + 1);  // too small: len is the size needed
    }
}

std::string temp_directory() {
    std::string v;
    for (const char* name : {"TMP", "TEMP"}) {
        if (get_env(name, v) && !v.empty() && v[0] != ' ') return v;
    }
    return std::string();
}

// ===================================================== process, console

// ----------------------------------------------------------- interrupts

namespace {

std::atomic<int> g_interrupts{0};
HANDLE g_interruptEvent = nullptr;  // set by the first interrupt: ends a pause
HANDLE g_handledEvent = nullptr;    // set when the run has ended after it
HANDLE g_inputThread = nullptr;     // the thread that reads the answers
std::atomic<bool> g_reading{false}; // true while it waits for input

// A read from a pipe or a file is not ended by Ctrl-C as a console read
// is: the waiting read is cancelled, again until the reading thread has
// seen it (it may have been about to start the read).
void end_input_read() {
    for (int tries = 0; g_reading && g_inputThread != nullptr && tries < 100; ++tries) {
        CancelSynchronousIo(g_inputThread);
        Sleep(10);
    }
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI on_console_event(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            break;
        default:
            return FALSE;
    }
    if (g_interrupts.exchange(1) != 0) {
        // The second one: end at once.
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 0xC000013A);
    }
    SetEvent(g_interruptEvent);
    end_input_read();
    // A closing console ends the process when this returns: give the run
    // the few seconds the system allows to end safely.
    if (type == CTRL_CLOSE_EVENT) WaitForSingleObject(g_handledEvent, 4500);
    return TRUE;
}

bool read_input_byte(int& c) {
    g_reading = true;
    if (g_interrupts != 0) {
        g_reading = false;
        return false;
    }
    c = std::getchar();
    g_reading = false;
    if (c != EOF) return true;
    // Ctrl-C ends a console read as if the input had ended; the event's
    // own thread may set the flag a moment later.
    std::clearerr(stdin);
    if (GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR && g_interruptEvent != nullptr)
        WaitForSingleObject(g_interruptEvent, 200);
    return false;
}

}  // namespace

bool next_input_byte(int& c) { return read_input_byte(c); }

void catch_interrupts() {
    if (g_interruptEvent == nullptr) g_interruptEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_handledEvent == nullptr) g_handledEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_inputThread == nullptr)
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_inputThread, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupted() { return g_interrupts != 0; }

void interrupt_handled() {
    if (g_handledEvent != nullptr) SetEvent(g_handledEvent);
}

void sleep_ms(uint32_t ms) {
    double scaled = static_cast<double>(ms) * detail::hooks().sleepScale;
    if (scaled <= 0) return;
    const DWORD wait = static_cast<DWORD>(std::min(scaled + 0.5, 4294967294.0));
    if (g_interruptEvent != nullptr) WaitForSingleObject(g_interruptEvent, wait);
    else Sleep(wait);
}

int run_command(std::string_view commandLine) {
    console_flush();
    std::fflush(stderr);
    std::string shell;
    if (!get_env("COMSPEC", shell) || shell.empty()) shell = "cmd.exe";
    std::string line = "\"" + shell + "\" /c " + std::string(commandLine);
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = static_cast<DWORD>(-1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

bool input_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The console shows code page 850 itself.
bool console_uses_utf8() { return false; }

// Arguments come in the ANSI code page; piece names are stored in the
// console's code page 850.
std::string argument_to_cp850(std::string_view argument) {
    std::string oem(argument);
    if (!oem.empty()) CharToOemBuffA(oem.data(), oem.data(), static_cast<DWORD>(oem.size()));
    return oem;
}

// The path the user typed is the one the system looked at.
void console_path_note(std::string_view) {}

std::vector<std::string> drive_usage_lines() { return {}; }

}  // namespace teilimp::platform::win32

namespace teilimp::platform::detail {

// The Win32 table of operations.
const Ops kSystemOps = {
    .open_file = win32::open_file,
    .read_bytes = win32::read_bytes,
    .write_all = win32::write_all,
    .seek_file = win32::seek_file,
    .truncate_file = win32::truncate_file,
    .file_size = win32::file_size,
    .flush_file = win32::flush_file,
    .close_file = win32::close_file,
    .close_native = win32::close_native,
    .last_io_error = win32::last_io_error,
    .copy_file = win32::copy_file,
    .delete_file = win32::delete_file,
    .rename_file = win32::rename_file,
    .replace_file = win32::replace_file,
    .link_file = win32::link_file,
    .copy_access = win32::copy_access,
    .copy_access_open = win32::copy_access_open,
    .assume_exact_names = win32::assume_exact_names,
    .sync_directory = win32::sync_directory,
    .make_directory = win32::make_directory,
    .remove_directory = win32::remove_directory,
    .remove_tree = win32::remove_tree,
    .make_private_directory = win32::make_private_directory,
    .get_attributes = win32::get_attributes,
    .set_attributes = win32::set_attributes,
    .exists = win32::exists,
    .refuses_writes = win32::refuses_writes,
    .file_stamp = win32::file_stamp,
    .short_path_name = win32::short_path_name,
    .has_short_names = win32::has_short_names,
    .native_path = win32::native_path,
    .file_identity = win32::file_identity,
    .argument_is_file_name = win32::argument_is_file_name,
    .local_now = win32::local_now,
    .file_time_to_local = win32::file_time_to_local,
    .file_time_now = win32::file_time_now,
    .set_file_time = win32::set_file_time,
    .mktime_standard = win32::mktime_standard,
    .find_first = win32::find_first,
    .find_next = win32::find_next,
    .find_close = win32::find_close,
    .find_names = win32::find_names,
    .drive_type = win32::drive_type,
    .disk_free_space = win32::disk_free_space,
    .upper_ansi = win32::upper_ansi,
    .lower_ansi = win32::lower_ansi,
    .get_env = win32::get_env,
    .temp_directory = win32::temp_directory,
    .sleep_ms = win32::sleep_ms,
    .run_command = win32::run_command,
    .put_console = win32::put_console,
    .put_console_name = win32::put_console_name,
    .console_uses_utf8 = win32::console_uses_utf8,
    .input_is_terminal = win32::input_is_terminal,
    .argument_to_cp850 = win32::argument_to_cp850,
    .console_path_note = win32::console_path_note,
    .drive_usage_lines = win32::drive_usage_lines,
    .next_input_byte = win32::next_input_byte,
    .catch_interrupts = win32::catch_interrupts,
    .interrupted = win32::interrupted,
    .interrupt_handled = win32::interrupt_handled,
    .kill_self = win32::kill_self,
    .line_end = win32::line_end,
};

}  // namespace teilimp::platform::detail
