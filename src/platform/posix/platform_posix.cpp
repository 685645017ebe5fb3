// POSIX implementation of the operating-system layer: maps drive letters to
// directories, resolves Windows-style paths case-insensitively and reports
// failures with the Windows error codes the rest of the program expects.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "platform/platform.h"
#include "platform/internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace teilimp::platform {

using detail::hooks;
using detail::Hooks;
using detail::injected_fault;

namespace detail {

[[noreturn]] void kill_self() {
    std::fflush(stdout);  // console text up to the crash is kept
    raise(SIGKILL);
    _exit(137);
}

}  // namespace detail

namespace {

// ------------------------------------------------------------ code page 1252

unsigned char upper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
    switch (c) {
        case 0x9A: return 0x8A;
        case 0x9C: return 0x8C;
        case 0x9E: return 0x8E;
        case 0xFF: return 0x9F;
        default: return c;
    }
}

unsigned char lower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x8A: return 0x9A;
        case 0x8C: return 0x9C;
        case 0x8E: return 0x9E;
        case 0x9F: return 0xFF;
        default: return c;
    }
}

// Names on disk are mostly UTF-8 on POSIX. A well-formed UTF-8 character is
// taken whole: a code page 1252 letter among them is folded as that letter
// (so "\xC3\xBC" matches "\xC3\x9C"), and its bytes are never folded one
// by one, which would make distinct letters equal (U+00DC "\xC3\x9C" and
// U+00CC "\xC3\x8C"). Any other byte is a code page 1252 character.
struct Folded {
    uint32_t key;  // a byte below 0x100, else 0x100 + upper-cased code point
    size_t len;    // bytes used
};

uint32_t upper_code_point(uint32_t cp) {
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
    switch (cp) {
        case 0xFF: return 0x178;   // y with diaeresis
        case 0x161: return 0x160;  // s with caron
        case 0x153: return 0x152;  // oe
        case 0x17E: return 0x17D;  // z with caron
        default: return cp;
    }
}

// Length of the well-formed UTF-8 character at s[i] (2 to 4), else 0.
size_t utf8_length(std::string_view s, size_t i, uint32_t& cp) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char c = b(0);
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < len; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

Folded fold_at(std::string_view s, size_t i) {
    uint32_t cp = 0;
    if (size_t len = utf8_length(s, i, cp); len != 0) return {0x100 + upper_code_point(cp), len};
    return {upper1252(static_cast<unsigned char>(s[i])), 1};
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (cp & 0x3F));
}

// Sort key of a name: its upper-cased form (UTF-8 letters re-encoded).
std::string upper_key(std::string_view s) {
    std::string k;
    k.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        Folded f = fold_at(s, i);
        if (f.key < 0x100)
            k += static_cast<char>(f.key);
        else
            append_utf8(k, f.key - 0x100);
        i += f.len;
    }
    return k;
}

bool same_name(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        Folded x = fold_at(a, i), y = fold_at(b, j);
        if (x.key != y.key) return false;
        i += x.len;
        j += y.len;
    }
    return i == a.size() && j == b.size();
}

// ------------------------------------------------------------ errors

uint32_t code_of(int e, bool parentMissing = false) {
    switch (e) {
        case 0: return kErrNone;
        case ENOENT: return parentMissing ? kErrPathNotFound : kErrFileNotFound;
        case ENOTDIR: return kErrPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ETXTBSY: return kErrAccessDenied;
        case EROFS: return kErrWriteProtect;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return kErrDiskFull;
        case EEXIST: return kErrFileExists;
        case ENAMETOOLONG: return kErrPathNotFound;
        case EBADF: return kErrInvalidHandle;
        case EINVAL: return kErrInvalidParameter;
        default: return kErrGenFailure;
    }
}


// ------------------------------------------------------------ paths

bool is_sep(char c) { return c == '\\' || c == '/'; }

bool drive_letter(std::string_view path, char& letter) {
    if (path.size() < 2 || path[1] != ':') return false;
    char c = path[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c < 'A' || c > 'Z') return false;
    letter = c;
    return true;
}

// The directory that stands for a drive; false if the drive is unmapped.
bool drive_dir(char letter, std::string_view& dir) {
    char name[] = "TEILIMP_DRIVE_X";
    name[sizeof name - 2] = letter;
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') return false;
    dir = v;
    return true;
}

bool drive_dir(char letter, std::string& dir) {
    std::string_view v;
    if (!drive_dir(letter, v)) return false;
    dir = v;
    return true;
}

// Appends a name to a directory path, with a separator where needed.
void append_name(std::string& path, std::string_view name) {
    if (!path.empty() && path.back() != '/') path += '/';
    path.append(name);
}

std::string join(const std::string& dir, std::string_view name) {
    std::string r;
    r.reserve(dir.size() + 1 + name.size());
    r = dir;
    append_name(r, name);
    return r;
}

std::vector<std::string_view> split(std::string_view rest) {
    std::vector<std::string_view> parts;
    parts.reserve(static_cast<size_t>(std::count_if(rest.begin(), rest.end(), is_sep)) + 1);
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && is_sep(rest[i])) ++i;
        size_t j = i;
        while (j < rest.size() && !is_sep(rest[j])) ++j;
        if (j > i) parts.push_back(rest.substr(i, j - i));
        i = j;
    }
    return parts;
}

// Drops "." and folds ".." into the component before it, as Windows does
// with every path; ".." never climbs above a drive's root or "/". In place:
// the components kept move to the front.
void normalise(std::vector<std::string_view>& parts, bool rooted) {
    size_t kept = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string_view p = parts[i];
        if (p == ".") continue;
        if (p == "..") {
            if (kept > 0 && parts[kept - 1] != "..")
                --kept;
            else if (!rooted)
                parts[kept++] = p;
            continue;
        }
        parts[kept++] = p;
    }
    parts.resize(kept);
}

bool name_exists(const std::string& p) {
    struct stat st;
    return lstat(p.empty() ? "." : p.c_str(), &st) == 0;
}

bool is_directory(const std::string& p) {
    struct stat st;
    return stat(p.empty() ? "." : p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entry of `dir` whose name equals `name` but for case; false if none.
// Of several such entries the one first in byte order is taken, so the
// choice does not depend on the directory's order.
bool find_case_insensitive(const std::string& dir, std::string_view name, std::string& found) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return false;
    bool any = false;
    while (struct dirent* ent = readdir(d)) {
        std::string_view n = ent->d_name;
        if (!same_name(n, name)) continue;
        if (!any || n < std::string_view(found)) found = n;
        any = true;
    }
    closedir(d);
    return any;
}

// The native path of the directory whose names are taken exactly as
// given (assume_exact_names), empty if none. Guarded: another thread (the
// lock's renewal) may resolve paths meanwhile.
struct ExactNames {
    std::mutex mutex;
    std::string dir;
    // The directory as it was named when declared (drive mapped, "." and
    // ".." folded, names as given): paths that name it so find it too.
    std::string spelled;
    // The directory's owner could write in it when it was declared: a new
    // file may be made there without a look at the directory first.
    bool takesFiles = false;
};

ExactNames& exact_names() {
    static ExactNames e;
    return e;
}

std::string exact_names_dir(std::string* spelled = nullptr, bool* takesFiles = nullptr) {
    ExactNames& e = exact_names();
    std::lock_guard<std::mutex> guard(e.mutex);
    if (spelled != nullptr) *spelled = e.spelled;
    if (takesFiles != nullptr) *takesFiles = e.takesFiles;
    return e.dir;
}

// True when `path` names an entry directly in that directory.
bool in_exact_names_dir(const std::string& path) {
    ExactNames& e = exact_names();
    std::lock_guard<std::mutex> guard(e.mutex);
    const std::string& dir = e.dir;
    return !dir.empty() && path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/' && path.find('/', dir.size() + 1) == std::string::npos;
}

// A path as written, taken apart: the drive mapped, "." and ".." folded.
struct PathForm {
    bool mapped = true;        // false: the path names an unmapped drive
    std::string base;          // the drive's directory, "/" or "" (relative)
    std::string_view rest;     // the path after the drive letter
    std::vector<std::string_view> parts;
    bool dirOnly = false;      // the path ends in a separator
    std::string exact;         // base and parts joined, every name as given
};

PathForm path_form(std::string_view path) {
    PathForm f;
    f.rest = path;
    char letter = 0;
    if (drive_letter(path, letter)) {
        if (!drive_dir(letter, f.base)) {
            f.mapped = false;
            return f;
        }
        f.rest = path.substr(2);
    } else if (!path.empty() && is_sep(path[0])) {
        f.base = "/";
    }
    f.parts = split(f.rest);
    normalise(f.parts, !f.base.empty());
    f.dirOnly = !f.parts.empty() && !f.rest.empty() && is_sep(f.rest.back());
    f.exact = f.base;
    for (auto p : f.parts) f.exact = join(f.exact, p);
    return f;
}

// True when `exact` names an entry directly inside the directory `dir`.
bool entry_of(const std::string& exact, const std::string& dir) {
    return !dir.empty() && exact.size() > dir.size() && exact.compare(0, dir.size(), dir) == 0 &&
           exact[dir.size()] == '/' && exact.find('/', dir.size() + 1) == std::string::npos;
}

// The native path of a file named directly inside the directory declared
// exact (assume_exact_names), found without looking at the disk: the
// system call that uses it tells by itself whether the name exists, so
// the lookup before it, a round trip on a network file system, is saved.
// With `forNewFile`, only while that directory takes new files.
bool exact_entry(std::string_view path, std::string& native, bool forNewFile = false) {
    std::string spelled;
    bool takesFiles = false;
    const std::string dir = exact_names_dir(&spelled, &takesFiles);
    if (dir.empty() || (forNewFile && !takesFiles)) return false;
    PathForm f = path_form(path);
    if (!f.mapped || f.parts.empty() || f.dirOnly || f.parts.back() == "..") return false;
    if (entry_of(f.exact, dir)) {
        native = std::move(f.exact);
        return true;
    }
    if (!entry_of(f.exact, spelled)) return false;
    native = join(dir, f.parts.back());
    return true;
}

// The same for the directory declared exact itself.
bool exact_directory(std::string_view path, std::string& native) {
    std::string spelled;
    const std::string dir = exact_names_dir(&spelled);
    if (dir.empty()) return false;
    PathForm f = path_form(path);
    if (!f.mapped) return false;
    while (f.exact.size() > 1 && f.exact.back() == '/') f.exact.pop_back();
    if (f.exact != dir && f.exact != spelled) return false;
    native = dir;
    return true;
}

struct Resolved {
    std::string native;
    bool mapped = true;        // false: the path names an unmapped drive
    bool found = false;        // the whole path exists
    bool parentFound = false;  // every directory above the last component exists
    bool dirOnly = false;      // the path ends in a separator: only a directory fits
    bool notDir = false;       // ... but it names an existing file
};

// A path ending in a separator names a directory: an existing file under
// that name is not found (Windows: invalid name).
Resolved& only_directory(Resolved& r) {
    if (r.dirOnly && r.found && !is_directory(r.native)) {
        r.found = false;
        r.notDir = true;
    }
    return r;
}

// Turns a path as the user writes it into the native path: the drive mapped,
// each existing component replaced by its name on disk. Components from the
// first missing one on are kept as given, so a new file keeps its case.
Resolved resolve(std::string_view path) {
    Resolved r;
    std::string_view base;  // the drive's directory, "/" or none
    std::string_view rest = path;
    char letter = 0;
    if (drive_letter(path, letter)) {
        if (!drive_dir(letter, base)) {
            r.mapped = false;
            return r;
        }
        rest = path.substr(2);
    } else if (!path.empty() && is_sep(path[0])) {
        base = "/";
    }
    std::vector<std::string_view> parts = split(rest);
    normalise(parts, !base.empty());
    r.dirOnly = !parts.empty() && !rest.empty() && is_sep(rest.back());
    if (parts.empty()) {
        r.native = base.empty() ? "." : std::string(base);
        r.found = name_exists(r.native);
        r.parentFound = r.found;  // a missing root is a missing path
        return r;
    }

    std::string exact;
    exact.reserve(base.size() + rest.size() + 1);
    exact = base;
    for (auto p : parts) append_name(exact, p);
    if (name_exists(exact)) {
        r.native = std::move(exact);
        r.found = r.parentFound = true;
        return only_directory(r);
    }
    if (parts.back() != ".." && in_exact_names_dir(exact)) {
        // A missing name in a directory whose names are all exact.
        r.native = std::move(exact);
        r.parentFound = true;
        return r;
    }

    // Every component of a directory that exists as given is its own name
    // on disk (an existing path's prefixes exist): when the parent does,
    // only the last component is searched for.
    // (The parent is the exact path without its last name and separator.)
    std::string cur(base);
    size_t first = 0;
    if (parts.size() > 1) {
        std::string parent = exact.substr(0, exact.size() - parts.back().size() - 1);
        if (name_exists(parent)) {
            cur = std::move(parent);
            first = parts.size() - 1;
        }
    }
    for (size_t i = first; i < parts.size(); ++i) {
        std::string cand = join(cur, parts[i]);
        std::string match;
        const bool special = parts[i] == "..";
        const bool there = name_exists(cand);
        if (!there && !special && find_case_insensitive(cur, parts[i], match))
            cand = join(cur, match);
        else if (!there) {
            // Missing: the rest is kept as given.
            r.parentFound = (i + 1 == parts.size()) && is_directory(cur);
            for (size_t j = i; j < parts.size(); ++j) append_name(cur, parts[j]);
            r.native = cur;
            return r;
        }
        cur = cand;
    }
    r.native = cur;
    r.found = r.parentFound = true;
    return only_directory(r);
}

// Code for a path that could not be resolved to an existing file.
uint32_t missing_code(const Resolved& r) {
    if (!r.mapped || !r.parentFound) return kErrPathNotFound;
    if (r.notDir) return kErrInvalidName;
    return kErrFileNotFound;
}

// Code for a path that is to name a new or existing file (never a
// directory): 0 if it may, else the code Windows gives.
bool owner_writable(const struct stat& st) { return (st.st_mode & S_IWUSR) != 0; }

// A directory whose owner may not write takes no new file, also for root
// (whom the system would let in): a user who may not create files there
// must see the same as root does.
bool directory_takes_no_file(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !owner_writable(st);
}

uint32_t file_target_code(const Resolved& r) {
    if (!r.mapped || !r.parentFound) return kErrPathNotFound;
    if (r.dirOnly) return kErrInvalidName;  // "name\" is no file name
    if (directory_takes_no_file(r.native)) return kErrAccessDenied;
    return kErrNone;
}

// Windows refuses to write to a read-only file even for administrators;
// root on POSIX would not be refused, so the test is made explicitly.
bool read_only_file(const std::string& native) {
    struct stat st;
    return stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !owner_writable(st);
}

FileTime to_file_time(const struct timespec& ts) {
    return (static_cast<int64_t>(ts.tv_sec) + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

void fill_calendar(const struct tm& tm, int ms, CalendarTime& out) {
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.millisecond = ms;
    out.weekday = tm.tm_wday;
}

// ------------------------------------------------------------ raw I/O

bool write_raw(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

int close_raw(int fd) {
    int rc = ::close(fd);
    // After EINTR the descriptor is gone on Linux; nothing to retry.
    return rc == 0 || errno == EINTR ? 0 : -1;
}

// Copies the rest of `in` to `out`: in-kernel where possible, else through
// a large buffer. Returns 0 or an errno value.
int copy_fd(int in, int out) {
#ifdef __linux__
    for (;;) {
        ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) continue;
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
            errno != EBADF && errno != EPERM)
            return errno;
        break;  // fall back to plain reads and writes
    }
#endif
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        if (!write_raw(out, buf.data(), static_cast<size_t>(n))) return errno;
    }
}

// Removes the entry `name` of the directory `dirfd`, and below it
// everything, without following links.
int remove_at(int parent, const char* name) {
    struct stat st;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name, 0) == 0 ? 0 : errno;
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR* d = fdopendir(fd);
    if (d == nullptr) {
        int e = errno;
        ::close(fd);
        return e;
    }
    int err = 0;
    std::vector<std::string> names;
    while (struct dirent* ent = readdir(d)) {
        if (std::strcmp(ent->d_name, ".") == 0 || std::strcmp(ent->d_name, "..") == 0) continue;
        names.emplace_back(ent->d_name);
    }
    for (const auto& n : names) {
        int e = remove_at(dirfd(d), n.c_str());
        if (e != 0 && err == 0) err = e;
    }
    closedir(d);
    if (err != 0) return err;
    return unlinkat(parent, name, AT_REMOVEDIR) == 0 ? 0 : errno;
}

// ------------------------------------------------------------ console

}  // namespace

namespace detail {

uint32_t last_io_error() { return code_of(errno); }

std::string_view line_end() { return "\n"; }

void close_native(intptr_t native) { close_raw(static_cast<int>(native)); }

void put_console(std::string_view cp850) {
    Hooks& h = hooks();
    if (h.consoleSink != nullptr) {
        h.consoleSink->append(cp850);
        return;
    }
    if (console_uses_utf8()) {
        std::string u = cp850_to_utf8(cp850);
        std::fwrite(u.data(), 1, u.size(), console_stream());
    } else {
        std::fwrite(cp850.data(), 1, cp850.size(), console_stream());
    }
}

// Names on disk are bytes the terminal already shows in its own character
// set: they are written as they are, in every locale.
void put_console_name(std::string_view name) {
    Hooks& h = hooks();
    if (h.consoleSink != nullptr) {
        h.consoleSink->append(name);
        return;
    }
    std::fwrite(name.data(), 1, name.size(), console_stream());
}

}  // namespace detail

// ================================================================ files

namespace {

// open_file for a name in the directory declared exact: the open itself
// tells a missing or existing name, and the checks that the general path
// makes before it (a directory, a read-only file) are made on the open
// file. Create (open or create) is not taken here: whether the file was
// there before could not be told afterwards.
File open_exact(const std::string& native, OpenMode mode, uint32_t& err) {
    File f;
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Read: flags |= O_RDONLY; break;
        case OpenMode::ReadWrite: flags |= O_RDWR; break;
        case OpenMode::Create: return f;
        case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    }
    int fd;
    do {
        fd = ::open(native.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // The directory was there when it was declared: a missing name is
        // a missing file, unless it was to be made (then the directory went).
        err = code_of(errno, mode == OpenMode::CreateNew);
        return f;
    }
    struct stat st;
    const bool known = fstat(fd, &st) == 0;
    // Windows opens no directory as a file, and no read-only file for
    // writing (also not for root).
    if (known && (S_ISDIR(st.st_mode) || (mode == OpenMode::ReadWrite && !owner_writable(st)))) {
        ::close(fd);
        err = kErrAccessDenied;
        return f;
    }
    f.native = fd;
    return f;
}

}  // namespace

File open_file(std::string_view path, OpenMode mode, uint32_t* error) {
    File f;
    uint32_t dummy = 0;
    uint32_t& err = error != nullptr ? *error : dummy;
    err = kErrNone;

    if (mode != OpenMode::Read && injected_fault()) {
        err = kErrAccessDenied;
        return f;
    }
    if (mode != OpenMode::Create) {
        std::string native;
        if (exact_entry(path, native, mode == OpenMode::CreateNew)) return open_exact(native, mode, err);
    }
    Resolved r = resolve(path);
    if (!r.mapped || !r.parentFound || (!r.found && (mode == OpenMode::Read || mode == OpenMode::ReadWrite))) {
        err = missing_code(r);
        return f;
    }
    if (!r.found) {
        if (uint32_t c = file_target_code(r); c != kErrNone) {
            err = c;
            return f;
        }
    }
    if (r.found && mode == OpenMode::CreateNew) {
        err = kErrFileExists;
        return f;
    }
    if (r.found && mode != OpenMode::Read && read_only_file(r.native)) {
        err = kErrAccessDenied;
        return f;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Read: flags |= O_RDONLY; break;
        case OpenMode::ReadWrite: flags |= O_RDWR; break;
        case OpenMode::Create: flags |= O_RDWR | O_CREAT; break;
        case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    }
    int fd;
    do {
        fd = ::open(r.native.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        err = code_of(errno, !r.parentFound);
        return f;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {  // Windows opens no directory as a file
        ::close(fd);
        err = kErrAccessDenied;
        return f;
    }
    f.native = fd;
    return f;
}

int64_t read_bytes(File& f, void* buf, size_t n) {
    if (!f.is_open()) return -1;
    for (;;) {
        ssize_t r = ::read(static_cast<int>(f.native), buf, n);
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

bool write_all(File& f, const void* buf, size_t n) {
    if (!f.is_open()) return false;
    if (injected_fault()) return false;
    return write_raw(static_cast<int>(f.native), static_cast<const char*>(buf), n);
}

bool seek_file(File& f, int64_t offset) {
    if (!f.is_open() || offset < 0) return false;
    return lseek(static_cast<int>(f.native), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool truncate_file(File& f, int64_t length) {
    if (!f.is_open() || length < 0) return false;
    if (injected_fault()) return false;
    int rc;
    do {
        rc = ftruncate(static_cast<int>(f.native), static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

int64_t file_size(File& f) {
    struct stat st;
    if (!f.is_open() || fstat(static_cast<int>(f.native), &st) != 0) return -1;
    return st.st_size;
}

bool flush_file(File& f) {
    if (!f.is_open()) return false;
    if (injected_fault()) return false;
    return fsync(static_cast<int>(f.native)) == 0;
}

bool close_file(File& f) {
    if (!f.is_open()) return false;
    int fd = static_cast<int>(f.native);
    f.native = -1;
    return close_raw(fd) == 0;
}

// ====================================================== path operations

uint32_t copy_file(std::string_view src, std::string_view dst) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved s = resolve(src);
    if (!s.found) return missing_code(s);
    Resolved d = resolve(dst);
    if (!d.found) {
        if (uint32_t c = file_target_code(d); c != kErrNone) return c;
    }
    if (d.found && read_only_file(d.native)) return kErrAccessDenied;

    int in = ::open(s.native.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return code_of(errno);
    struct stat st;
    if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(in);
        return kErrAccessDenied;
    }
    struct stat dt;
    if (d.found && stat(d.native.c_str(), &dt) == 0 && dt.st_dev == st.st_dev && dt.st_ino == st.st_ino) {
        ::close(in);  // truncating the target would destroy the source
        return kErrSharingViolation;
    }
    int out = ::open(d.native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        int e = errno;
        ::close(in);
        return code_of(e);
    }
    int e = copy_fd(in, out);
    ::close(in);
    if (close_raw(out) != 0 && e == 0) e = errno;
    // A failed copy leaves no truncated target that could pass for a
    // complete one (its old contents are gone already), as on Windows.
    if (e != 0) unlink(d.native.c_str());
    return code_of(e);
}

uint32_t delete_file(std::string_view path) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved r;
    if (exact_entry(path, r.native)) {
        r.found = r.parentFound = true;  // the lstat tells
    } else {
        r = resolve(path);
        if (!r.found) return missing_code(r);
    }
    struct stat st;
    if (lstat(r.native.c_str(), &st) != 0) return code_of(errno);
    if (S_ISDIR(st.st_mode)) return kErrAccessDenied;
    if (S_ISREG(st.st_mode) && !owner_writable(st)) return kErrAccessDenied;
    return unlink(r.native.c_str()) == 0 ? kErrNone : code_of(errno);
}

namespace {

// The target of a rename: the existing entry matched regardless of case, or
// the path as given when nothing of the name exists. When `from` and `to`
// name the same file in different case the file gets the case of `to`.
struct RenameTarget {
    std::string native;
    bool exists = false;
    uint32_t error = 0;
};

RenameTarget rename_target(const Resolved& from, std::string_view to) {
    RenameTarget t;
    Resolved r = resolve(to);
    if (!r.mapped || !r.parentFound) {
        t.error = kErrPathNotFound;
        return t;
    }
    if (!r.found && r.dirOnly && !is_directory(from.native)) {
        t.error = kErrInvalidName;  // a file cannot take a directory's form of name
        return t;
    }
    t.native = r.native;
    t.exists = r.found;
    if (r.found) {
        struct stat a, b;
        if (lstat(from.native.c_str(), &a) == 0 && lstat(r.native.c_str(), &b) == 0 &&
            a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
            // Same file: rename to the case given.
            std::vector<std::string_view> parts = split(to);
            size_t slash = r.native.find_last_of('/');
            std::string dir = slash == std::string::npos ? "" : r.native.substr(0, slash + 1);
            t.native = dir + std::string(parts.empty() ? std::string_view() : parts.back());
            t.exists = false;
        }
    }
    return t;
}

}  // namespace

uint32_t rename_file(std::string_view from, std::string_view to) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved f = resolve(from);
    if (!f.found) return missing_code(f);
    RenameTarget t = rename_target(f, to);
    if (t.error != 0) return t.error;
    if (t.exists) return kErrAlreadyExists;
    if (t.native == f.native) return kErrNone;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, f.native.c_str(), AT_FDCWD, t.native.c_str(), RENAME_NOREPLACE) == 0)
        return kErrNone;
    if (errno == EEXIST) return kErrAlreadyExists;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return code_of(errno);
#endif
    // No atomic no-replace rename here: for a file link + unlink is atomic
    // about the target; a directory falls back to a test before rename.
    struct stat st;
    if (lstat(f.native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (link(f.native.c_str(), t.native.c_str()) == 0) {
            if (unlink(f.native.c_str()) == 0) return kErrNone;
            // The old name could not be dropped (another process may have
            // moved it meanwhile): take back the new name, so that the
            // failed rename leaves no second name for the file behind.
            int e = errno;
            unlink(t.native.c_str());
            return code_of(e);
        }
        if (errno == EEXIST) return kErrAlreadyExists;
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV) return code_of(errno);
    }
    if (name_exists(t.native)) return kErrAlreadyExists;
    return ::rename(f.native.c_str(), t.native.c_str()) == 0 ? kErrNone : code_of(errno);
}

namespace {

// replace_file for two names in the directory declared exact: the rename
// tells a missing source itself; the target, an existing file as a rule,
// is looked at once.
uint32_t replace_exact(const std::string& from, const std::string& to) {
    struct stat st;
    if (lstat(to.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && !owner_writable(st)))) {
        // Refused; a missing source is reported first, as the general way does.
        struct stat src;
        if (lstat(from.c_str(), &src) != 0) return code_of(errno);
        return kErrAccessDenied;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? kErrNone : code_of(errno);
}

}  // namespace

uint32_t replace_file(std::string_view from, std::string_view to) {
    if (injected_fault()) return kErrAccessDenied;
    {
        std::string nativeFrom, nativeTo;
        if (exact_entry(from, nativeFrom) && exact_entry(to, nativeTo)) return replace_exact(nativeFrom, nativeTo);
    }
    Resolved f = resolve(from);
    if (!f.found) return missing_code(f);
    RenameTarget t = rename_target(f, to);
    if (t.error != 0) return t.error;
    if (t.native == f.native) return kErrNone;
    if (t.exists && read_only_file(t.native)) return kErrAccessDenied;
    // Windows replaces no directory; rename() would drop an empty one.
    if (t.exists && is_directory(t.native)) return kErrAccessDenied;
    return ::rename(f.native.c_str(), t.native.c_str()) == 0 ? kErrNone : code_of(errno);
}

uint32_t link_file(std::string_view existing, std::string_view newName) {
    if (injected_fault()) return kErrAccessDenied;
    {
        // Both names in the directory declared exact: the link itself tells
        // a missing file (2), a directory (5) and a name in use (80).
        std::string from, to;
        if (exact_entry(existing, from) && exact_entry(newName, to, true))
            return ::link(from.c_str(), to.c_str()) == 0 ? kErrNone : code_of(errno);
    }
    Resolved s = resolve(existing);
    if (!s.found) return missing_code(s);
    if (is_directory(s.native)) return kErrAccessDenied;
    Resolved d = resolve(newName);
    if (d.found) return kErrFileExists;
    if (uint32_t c = file_target_code(d); c != kErrNone) return c;
    return ::link(s.native.c_str(), d.native.c_str()) == 0 ? kErrNone : code_of(errno);
}

void assume_exact_names(std::string_view dir) {
    std::string native;
    std::string spelled;
    bool takesFiles = false;
    if (!dir.empty()) {
        {
            ExactNames& e = exact_names();
            std::lock_guard<std::mutex> guard(e.mutex);
            e.dir.clear();  // the directory itself is found case-blind
        }
        Resolved r = resolve(dir);
        struct stat st;
        if (r.found && stat(r.native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            native = r.native;
            while (native.size() > 1 && native.back() == '/') native.pop_back();
            takesFiles = owner_writable(st);
            spelled = path_form(dir).exact;
            while (spelled.size() > 1 && spelled.back() == '/') spelled.pop_back();
        }
    }
    ExactNames& e = exact_names();
    std::lock_guard<std::mutex> guard(e.mutex);
    e.dir = native;
    e.spelled = spelled;
    e.takesFiles = takesFiles;
}

uint32_t sync_directory(std::string_view dir) {
    Resolved r;
    if (!exact_directory(dir, r.native)) {
        r = resolve(dir);
        if (!r.found) return kErrPathNotFound;
    }
    int fd = ::open(r.native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return code_of(errno);
    int rc = fsync(fd);
    int e = errno;
    ::close(fd);
    // Some file systems cannot sync a directory; that is no failure.
    if (rc != 0 && e != EINVAL && e != EROFS) return code_of(e);
    return kErrNone;
}

uint32_t make_directory(std::string_view path) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved r = resolve(path);
    if (!r.mapped || !r.parentFound) return kErrPathNotFound;
    if (r.found) return kErrAlreadyExists;
    if (mkdir(r.native.c_str(), 0777) == 0) return kErrNone;
    return errno == EEXIST ? kErrAlreadyExists : code_of(errno);
}

uint32_t remove_directory(std::string_view path) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved r = resolve(path);
    if (!r.found) return missing_code(r);
    if (rmdir(r.native.c_str()) == 0) return kErrNone;
    if (errno == ENOTEMPTY || errno == EEXIST) return kErrDirNotEmpty;
    return code_of(errno);
}

uint32_t remove_tree(std::string_view path) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved r = resolve(path);
    if (!r.found) return missing_code(r);
    return code_of(remove_at(AT_FDCWD, r.native.c_str()));
}

uint32_t make_private_directory(std::string_view parent, std::string_view prefix, std::string& out) {
    out.clear();
    if (injected_fault()) return kErrAccessDenied;
    Resolved p = resolve(parent);
    if (!p.found) return kErrPathNotFound;
    const uint64_t salt = static_cast<uint64_t>(getpid()) ^ static_cast<uint64_t>(time(nullptr));
    return detail::make_with_random_name(prefix, salt, [&](const std::string& name) {
        std::string candidate = join(p.native, name);
        // mkdir never follows a link in the last component: an existing
        // name of any kind gives EEXIST and another name is tried.
        if (mkdir(candidate.c_str(), 0700) != 0) return errno == EEXIST ? uint32_t{kErrAlreadyExists} : code_of(errno);
        out = candidate;
        return uint32_t{kErrNone};
    });
}

namespace {

// The status of the file a path names (of a dangling link itself); false,
// with *error set (when given), when it can't be had.
bool stat_path(std::string_view path, struct stat& st, uint32_t* error) {
    uint32_t dummy = 0;
    uint32_t& err = error != nullptr ? *error : dummy;
    err = kErrNone;
    Resolved r;
    if (!exact_entry(path, r.native)) {
        r = resolve(path);
        if (!r.found) {
            err = missing_code(r);
            return false;
        }
    }
    if (stat(r.native.c_str(), &st) != 0 && lstat(r.native.c_str(), &st) != 0) {
        err = code_of(errno);
        return false;
    }
    return true;
}

}  // namespace

uint32_t get_attributes(std::string_view path, uint32_t* error) {
    struct stat st;
    if (!stat_path(path, st, error)) return kAttrInvalid;
    uint32_t a = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if (!owner_writable(st)) a |= kAttrReadOnly;
    return a;
}

uint32_t set_attributes(std::string_view path, uint32_t attributes) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved r = resolve(path);
    if (!r.found) return missing_code(r);
    struct stat st;
    if (stat(r.native.c_str(), &st) != 0) return code_of(errno);
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777)) return kErrNone;
    return chmod(r.native.c_str(), mode) == 0 ? kErrNone : code_of(errno);
}

bool exists(std::string_view path) { return resolve(path).found; }

bool refuses_writes(std::string_view path) {
    const Resolved r = resolve(path);
    struct stat st;
    return r.found && stat(r.native.c_str(), &st) == 0 && !owner_writable(st);
}

uint32_t copy_access(std::string_view model, std::string_view target) {
    Resolved m = resolve(model);
    Resolved t = resolve(target);
    if (!m.found) return missing_code(m);
    if (!t.found) return missing_code(t);
    struct stat ms;
    if (stat(m.native.c_str(), &ms) != 0) return code_of(errno);
    // The group first: changing it may clear the set-id bits. A process
    // that may not give the file that group leaves it its own.
    [[maybe_unused]] int ignored = chown(t.native.c_str(), static_cast<uid_t>(-1), ms.st_gid);
    const mode_t mode = (ms.st_mode & 07777) | S_IWUSR;
    return chmod(t.native.c_str(), mode) == 0 ? kErrNone : code_of(errno);
}

uint32_t copy_access(std::string_view model, File& target) {
    if (!target.is_open()) return kErrInvalidHandle;
    const int fd = static_cast<int>(target.native);
    struct stat ms;
    uint32_t err = kErrNone;
    if (!stat_path(model, ms, &err)) return err;
    struct stat ts;
    if (fstat(fd, &ts) != 0) return code_of(errno);
    // Only what differs is changed: each change is a round trip on a
    // network file system. The group first: changing it may clear the
    // set-id bits.
    if (ts.st_gid != ms.st_gid && fchown(fd, static_cast<uid_t>(-1), ms.st_gid) == 0 && fstat(fd, &ts) != 0)
        return code_of(errno);
    const mode_t mode = (ms.st_mode & 07777) | S_IWUSR;
    if ((ts.st_mode & 07777) == mode) return kErrNone;
    return fchmod(fd, mode) == 0 ? kErrNone : code_of(errno);
}

bool file_stamp(std::string_view path, FileStamp& out, uint32_t* error) {
    struct stat st;
    if (!stat_path(path, st, error)) return false;
    out.volume = static_cast<uint64_t>(st.st_dev);
    out.index = static_cast<uint64_t>(st.st_ino);
    out.writeTime = to_file_time(st.st_mtim);
    return true;
}

std::string short_path_name(std::string_view) { return std::string(); }

bool has_short_names() { return false; }

std::string native_path(std::string_view path) {
    Resolved r = resolve(path);
    return r.mapped ? r.native : std::string();
}

std::string file_identity(std::string_view path) {
    Resolved r = resolve(path);
    struct stat st;
    if (!r.found || stat(r.native.c_str(), &st) != 0) return std::string();
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}

bool argument_is_file_name(std::string_view argument) {
    if (argument.find('/', 1) != std::string_view::npos) return true;
    return resolve(argument).found;
}

// ================================================================ times

CalendarTime local_now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    struct tm tm;
    CalendarTime out;
    if (localtime_r(&secs, &tm) != nullptr)
        fill_calendar(tm, static_cast<int>(ts.tv_nsec / 1000000), out);
    return out;
}

bool file_time_to_local(FileTime t, CalendarTime& out) {
    if (t < 0) return false;
    time_t secs = static_cast<time_t>(t / 10000000 - 11644473600LL);
    int ms = static_cast<int>((t % 10000000) / 10000);
    struct tm tm;
    if (localtime_r(&secs, &tm) == nullptr) return false;
    fill_calendar(tm, ms, out);
    return true;
}

FileTime file_time_now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return to_file_time(ts);
}

uint32_t set_file_time(std::string_view path, FileTime t) {
    if (injected_fault()) return kErrAccessDenied;
    Resolved r = resolve(path);
    if (!r.found) return missing_code(r);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    int64_t unix100 = t - 11644473600LL * 10000000LL;
    int64_t secs = unix100 / 10000000;
    int64_t rem = unix100 % 10000000;
    if (rem < 0) {
        rem += 10000000;
        --secs;
    }
    times[1].tv_sec = static_cast<time_t>(secs);
    times[1].tv_nsec = static_cast<long>(rem * 100);
    return utimensat(AT_FDCWD, r.native.c_str(), times, 0) == 0 ? kErrNone : code_of(errno);
}

int64_t mktime_standard(const CalendarTime& t) {
    struct tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = 0;
    return static_cast<int64_t>(mktime(&tm));
}

// ========================================================== directories

namespace {

// Wildcard match of one name: * any run, ? one character, case-blind.
bool glob_match(std::string_view pat, std::string_view name) {
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        Folded c = fold_at(name, n);
        if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starN = n;
            continue;
        }
        if (p < pat.size() && pat[p] == '?') {
            ++p;
            n += c.len;
            continue;
        }
        if (p < pat.size()) {
            Folded q = fold_at(pat, p);
            if (q.key == c.key) {
                p += q.len;
                n += c.len;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        p = starP + 1;
        starN += fold_at(name, starN).len;
        n = starN;
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

// The name rules of the Windows search: "*.*" matches every name, a pattern
// ending in ".*" also matches the name without an extension, one ending in
// "." matches names without a dot.
bool pattern_match(std::string_view pat, std::string_view name) {
    if (pat == "*.*" || pat == "*") return true;
    if (glob_match(pat, name)) return true;
    if (pat.size() >= 2 && pat.substr(pat.size() - 2) == ".*")
        return glob_match(pat.substr(0, pat.size() - 2), name);
    if (!pat.empty() && pat.back() == '.' && name.find('.') == std::string_view::npos)
        return glob_match(pat.substr(0, pat.size() - 1), name);
    return false;
}

struct FindState {
    std::vector<FindEntry> entries;
};

FindEntry make_entry(const std::string& name, const struct stat& st) {
    FindEntry e;
    e.long_name = name;
    e.attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if (!owner_writable(st)) e.attributes |= kAttrReadOnly;
    e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    e.write_time = to_file_time(st.st_mtim);
    e.creation_time = 0;
    return e;
}

}  // namespace



namespace {

// A search pattern's directory (up to its last separator or the drive's
// colon) and its last component.
void split_pattern(std::string_view pattern, std::string_view& dirPart, std::string_view& namePart) {
    size_t cut = pattern.find_last_of("\\/");
    dirPart = {};
    if (cut != std::string_view::npos) {
        dirPart = pattern.substr(0, cut + 1);
        namePart = pattern.substr(cut + 1);
    } else if (pattern.size() >= 2 && pattern[1] == ':') {
        dirPart = pattern.substr(0, 2);
        namePart = pattern.substr(2);
    } else {
        namePart = pattern;
    }
}

// True when a listed name is one the search reports: it matches, and a
// hidden name only for a pattern that asks for it.
bool listed_match(std::string_view namePart, const std::string& name) {
    if (name == "." || name == "..") return false;
    if (namePart.empty() || !pattern_match(namePart, name)) return false;
    return name[0] != '.' || namePart[0] == '.';
}

// The order of a search: upper-cased names, then the names themselves.
template <typename Item, typename NameOf>
void sort_as_search(std::vector<Item>& items, NameOf nameOf) {
    std::vector<std::string> upper;
    upper.reserve(items.size());
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        order[i] = i;
        upper.push_back(upper_key(nameOf(items[i])));
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (upper[a] != upper[b]) return upper[a] < upper[b];
        return nameOf(items[a]) < nameOf(items[b]);
    });
    std::vector<Item> sorted;
    sorted.reserve(order.size());
    for (size_t i : order) sorted.push_back(std::move(items[i]));
    items = std::move(sorted);
}

}  // namespace

uint32_t find_names(std::string_view pattern, std::vector<FoundName>& out) {
    out.clear();
    std::string_view dirPart, namePart;
    split_pattern(pattern, dirPart, namePart);
    const bool plainName = !namePart.empty() && namePart.find_first_of("*?") == std::string_view::npos &&
                           namePart != "." && namePart != "..";
    if (plainName) {
        // One name: as the search finds it.
        FindHandle h;
        FindEntry e;
        uint32_t code = find_first(pattern, h, e);
        if (code != kErrNone) return code;
        do out.push_back({e.long_name, (e.attributes & kAttrDirectory) != 0});
        while (find_next(h, e) == kErrNone);
        return kErrNone;
    }
    Resolved d;
    if (!exact_directory(dirPart, d.native)) {
        d = resolve(dirPart);
        if (!d.found) return kErrPathNotFound;
    }
    DIR* dir = opendir(d.native.c_str());
    if (dir == nullptr) return errno == ENOTDIR || errno == ENOENT ? kErrPathNotFound : code_of(errno);
    while (struct dirent* ent = readdir(dir)) {
        std::string name = ent->d_name;
        if (!listed_match(namePart, name)) continue;
        bool directory = ent->d_type == DT_DIR;
        if (ent->d_type != DT_DIR && ent->d_type != DT_REG) {
            // A link or an entry of unknown type: what it names decides.
            const std::string full = join(d.native, name);
            struct stat sb;
            if (stat(full.c_str(), &sb) != 0 && lstat(full.c_str(), &sb) != 0) continue;
            directory = S_ISDIR(sb.st_mode);
        }
        out.push_back({std::move(name), directory});
    }
    closedir(dir);
    sort_as_search(out, [](const FoundName& n) -> const std::string& { return n.name; });
    return out.empty() ? kErrFileNotFound : kErrNone;
}

uint32_t find_first(std::string_view pattern, FindHandle& h, FindEntry& e) {
    find_close(h);
    std::string_view dirPart, namePart;
    split_pattern(pattern, dirPart, namePart);
    Resolved d;
    const bool exactDir = exact_directory(dirPart, d.native);
    if (!exactDir) {
        d = resolve(dirPart);
        if (!d.found) return kErrPathNotFound;
    }
    // A name without wildcards that exists as given is the one match (as
    // the path rules take it); no need to list a large directory for it.
    const bool plainName = !namePart.empty() && namePart.find_first_of("*?") == std::string_view::npos &&
                           namePart != "." && namePart != "..";
    struct stat exact;
    if (plainName) {
        const std::string full = join(d.native, std::string(namePart));
        if (stat(full.c_str(), &exact) == 0) {
            auto* st = new FindState;
            st->entries.push_back(make_entry(std::string(namePart), exact));
            h.state = st;
            h.native = 0;
            return find_next(h, e);
        }
        // In the directory declared exact no other case is looked for (a
        // dangling link under the name is listed as the search lists it).
        if (exactDir && errno == ENOENT && lstat(full.c_str(), &exact) != 0) return kErrFileNotFound;
    }
    DIR* dir = opendir(d.native.c_str());
    if (dir == nullptr) return errno == ENOTDIR || errno == ENOENT ? kErrPathNotFound : code_of(errno);

    auto* st = new FindState;
    while (struct dirent* ent = readdir(dir)) {
        std::string name = ent->d_name;
        if (!listed_match(namePart, name)) continue;
        std::string full = join(d.native, name);
        struct stat sb;
        if (stat(full.c_str(), &sb) != 0 && lstat(full.c_str(), &sb) != 0) continue;
        st->entries.push_back(make_entry(name, sb));
    }
    closedir(dir);
    sort_as_search(st->entries, [](const FindEntry& x) -> const std::string& { return x.long_name; });

    if (st->entries.empty()) {
        delete st;
        return kErrFileNotFound;
    }
    h.state = st;
    h.native = 0;
    return find_next(h, e);
}

uint32_t find_next(FindHandle& h, FindEntry& e) {
    if (!h.is_open()) return kErrInvalidHandle;
    auto* st = static_cast<FindState*>(h.state);
    if (h.native < 0 || static_cast<size_t>(h.native) >= st->entries.size()) return kErrNoMoreFiles;
    e = st->entries[static_cast<size_t>(h.native)];
    ++h.native;
    return kErrNone;
}

void find_close(FindHandle& h) {
    delete static_cast<FindState*>(h.state);
    h.state = nullptr;
    h.native = -1;
}

// =============================================================== drives

namespace {

bool root_dir(std::string_view root, std::string& dir) {
    char letter = 0;
    if (drive_letter(root, letter)) return drive_dir(letter, dir);
    Resolved r = resolve(root);
    dir = r.native;
    return r.mapped;
}

}  // namespace

uint32_t drive_type(std::string_view root) {
    std::string dir;
    if (!root_dir(root, dir)) return 1;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 1;
    return 3;
}

uint32_t disk_free_space(std::string_view root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                         uint32_t& freeClusters, uint32_t& totalClusters) {
    std::string dir;
    if (!root_dir(root, dir)) return kErrPathNotFound;
    struct statvfs vs;
    if (statvfs(dir.c_str(), &vs) != 0) return errno == ENOENT ? kErrPathNotFound : code_of(errno);
    auto clusters = [](uint64_t bytes) {
        return static_cast<uint32_t>(std::min<uint64_t>(bytes / 4096, 0x7FFFFFFF));
    };
    sectorsPerCluster = 8;
    bytesPerSector = 512;
    freeClusters = clusters(static_cast<uint64_t>(vs.f_bavail) * vs.f_frsize);
    totalClusters = clusters(static_cast<uint64_t>(vs.f_blocks) * vs.f_frsize);
    return kErrNone;
}

// ============================================================ text, env

unsigned char upper_ansi(unsigned char c) { return upper1252(c); }
unsigned char lower_ansi(unsigned char c) { return lower1252(c); }

bool get_env(std::string_view name, std::string& value) {
    const char* v = std::getenv(std::string(name).c_str());
    if (v == nullptr) return false;
    value = v;
    return true;
}

std::string temp_directory() {
    for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0' && *v != ' ') return v;
    }
    return "/tmp";
}

// ===================================================== process, console

// ----------------------------------------------------------- interrupts

namespace {

volatile sig_atomic_t g_interrupts = 0;
// Written to by the handler, so that a wait for input or a pause (a poll
// that includes this pipe) ends when an interrupt comes, also one that
// comes just before the wait begins.
int g_wakePipe[2] = {-1, -1};

void on_interrupt(int sig) {
    if (g_interrupts != 0) {
        // The second one: end at once, as the signal itself would.
        signal(sig, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        raise(sig);
        _exit(128 + sig);
    }
    g_interrupts = 1;
    const int saved = errno;
    if (g_wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(g_wakePipe[1], &byte, 1);
    }
    errno = saved;
}

// Waits until `fd` (if not -1) is readable, an interrupt comes, or the time
// (milliseconds, -1: none) is up. True when `fd` is readable.
bool wait_readable(int fd, int64_t timeoutMs) {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (g_interrupts != 0) return false;
        struct pollfd fds[2];
        nfds_t n = 0;
        if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
        if (g_wakePipe[0] >= 0) fds[n++] = {g_wakePipe[0], POLLIN, 0};
        int wait = -1;
        if (timeoutMs >= 0) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const int64_t spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
            if (spent >= timeoutMs) return false;
            wait = static_cast<int>(std::min<int64_t>(timeoutMs - spent, 1 << 30));
        }
        const int rc = poll(fds, n, wait);
        if (rc < 0 && errno != EINTR) return fd >= 0;  // let the read report it
        if (rc > 0 && fd >= 0 && fds[0].revents != 0) return true;
    }
}

}  // namespace

void catch_interrupts() {
    if (g_wakePipe[0] < 0 && pipe(g_wakePipe) == 0) {
        for (int fd : g_wakePipe) {
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    // Other system calls go on as before; the waits watch the pipe.
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool interrupted() { return g_interrupts != 0; }

void interrupt_handled() {}

namespace detail {

bool next_input_byte(int& c) {
    for (;;) {
        if (!wait_readable(0, -1)) return false;
        unsigned char byte = 0;
        const ssize_t n = ::read(0, &byte, 1);
        if (n == 1) {
            c = byte;
            return true;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return false;
    }
}

}  // namespace detail

void sleep_ms(uint32_t ms) {
    double scaled = std::min(static_cast<double>(ms) * hooks().sleepScale, 1e12);
    if (scaled <= 0) return;
    wait_readable(-1, static_cast<int64_t>(scaled + 0.5));
}

int run_command(std::string_view commandLine) {
    console_flush();
    std::fflush(stderr);
    std::string cmd(commandLine);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

bool input_is_terminal() { return hooks().consoleFeed == nullptr && isatty(0) == 1; }

bool console_uses_utf8() {
    const char* v = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        v = std::getenv(name);
        if (v != nullptr && *v != '\0') break;
        v = nullptr;
    }
    if (v == nullptr) return false;
    std::string s = v;
    for (char& c : s) c = static_cast<char>(lower1252(static_cast<unsigned char>(c)));
    return s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
}

}  // namespace teilimp::platform

namespace teilimp::platform {

std::string argument_to_cp850(std::string_view argument) {
    return console_uses_utf8() ? utf8_to_cp850(argument) : std::string(argument);
}

// The directory is named as the system names it, from the root: a drive's
// directory or a relative path is taken from the current directory.
void console_path_note(std::string_view path) {
    char letter = 0;
    std::string_view dir;
    if (drive_letter(path, letter) && !drive_dir(letter, dir)) {
        const std::string l(1, letter);
        console_line("   (Laufwerk " + l + ": ist nicht zugeordnet: TEILIMP_DRIVE_" + l + " setzen)");
        return;
    }
    std::string native = native_path(path);
    if (native.empty() || native == ".") native.clear();
    else if (native.compare(0, 2, "./") == 0) native.erase(0, 2);
    if (native.empty() || native[0] != '/') {
        std::vector<char> cwd(4096);
        while (getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE) cwd.resize(cwd.size() * 2);
        std::string abs = cwd.data();
        if (!native.empty()) abs = join(abs, native);
        native = std::move(abs);
    }
    console_name_line("   (", native + ")");
}

std::vector<std::string> drive_usage_lines() {
    return {
        "   Laufwerke:  Laufwerk L: ist das Verzeichnis in der Umgebungsvariablen",
        "               TEILIMP_DRIVE_L (ein Laufwerk ohne sie gibt es nicht)",
    };
}

}  // namespace teilimp::platform
