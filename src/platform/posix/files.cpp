// POSIX files: open files, reads and writes, and the operations on paths
// (copies, renames, links, attributes, stamps).
#include "platform/posix/posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

namespace teilimp::platform::posix {

namespace {

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

}  // namespace

uint32_t last_io_error() { return code_of(errno); }

void close_native(intptr_t native) { close_raw(static_cast<int>(native)); }

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

File open_file(std::string_view path, OpenMode mode, uint32_t& err) {
    File f;
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
    return write_raw(static_cast<int>(f.native), static_cast<const char*>(buf), n);
}

bool seek_file(File& f, int64_t offset) {
    if (!f.is_open() || offset < 0) return false;
    return lseek(static_cast<int>(f.native), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool truncate_file(File& f, int64_t length) {
    if (!f.is_open() || length < 0) return false;
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
            std::vector<std::string_view> parts = names::split(to);
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
    names::ExactNames e;
    if (!dir.empty()) {
        set_exact_names({});  // the directory itself is found case-blind
        Resolved r = resolve(dir);
        struct stat st;
        if (r.found && stat(r.native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            e.dir = r.native;
            while (e.dir.size() > 1 && e.dir.back() == '/') e.dir.pop_back();
            e.takesFiles = owner_writable(st);
            e.spelled = names::path_form(dir).exact;
            while (e.spelled.size() > 1 && e.spelled.back() == '/') e.spelled.pop_back();
        }
    }
    set_exact_names(std::move(e));
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

uint32_t copy_access_open(std::string_view model, File& target) {
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

uint32_t set_file_time(std::string_view path, FileTime t) {
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

}  // namespace teilimp::platform::posix
