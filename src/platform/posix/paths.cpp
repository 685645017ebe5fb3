// POSIX paths: Windows-style paths resolved to native ones on disk, the
// directory of exact names, and the Windows codes of errno values.
#include "platform/posix/posix.h"

#include <cerrno>
#include <mutex>

#include <dirent.h>

namespace teilimp::platform::posix {

uint32_t code_of(int e, bool parentMissing) {
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



bool name_exists(const std::string& p) {
    struct stat st;
    return lstat(p.empty() ? "." : p.c_str(), &st) == 0;
}

bool is_directory(const std::string& p) {
    struct stat st;
    return stat(p.empty() ? "." : p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

struct GuardedExactNames {
    std::mutex mutex;
    names::ExactNames names;
};

GuardedExactNames& guarded_exact_names() {
    static GuardedExactNames e;
    return e;
}

// True when `path` names an entry directly in the directory of exact names.
bool in_exact_names_dir(void*, const std::string& path) {
    GuardedExactNames& e = guarded_exact_names();
    std::lock_guard<std::mutex> guard(e.mutex);
    return names::entry_of(path, e.names.dir);
}

bool listed_exists(void*, const std::string& p) { return name_exists(p); }
bool listed_directory(void*, const std::string& p) { return is_directory(p); }

bool list_directory(void*, const std::string& dir, void (*each)(void* sink, std::string_view name), void* sink) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return false;
    while (struct dirent* ent = readdir(d)) each(sink, ent->d_name);
    closedir(d);
    return true;
}

const names::Listing kDisk{nullptr, listed_exists, listed_directory, list_directory, in_exact_names_dir};

}  // namespace

Resolved resolve(std::string_view path) { return names::resolve(kDisk, path); }

names::ExactNames exact_names() {
    GuardedExactNames& e = guarded_exact_names();
    std::lock_guard<std::mutex> guard(e.mutex);
    return e.names;
}

void set_exact_names(names::ExactNames n) {
    GuardedExactNames& e = guarded_exact_names();
    std::lock_guard<std::mutex> guard(e.mutex);
    e.names = std::move(n);
}

bool exact_entry(std::string_view path, std::string& native, bool forNewFile) {
    const names::ExactNames e = exact_names();
    return names::exact_entry(e, path, native, forNewFile);
}

bool exact_directory(std::string_view path, std::string& native) {
    const names::ExactNames e = exact_names();
    return names::exact_directory(e, path, native);
}

bool owner_writable(const struct stat& st) { return (st.st_mode & S_IWUSR) != 0; }

namespace {

// A directory whose owner may not write takes no new file, also for root
// (whom the system would let in): a user who may not create files there
// must see the same as root does.
bool directory_takes_no_file(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !owner_writable(st);
}

}  // namespace

uint32_t file_target_code(const Resolved& r) {
    if (!r.mapped || !r.parentFound) return kErrPathNotFound;
    if (r.dirOnly) return kErrInvalidName;  // "name\" is no file name
    if (directory_takes_no_file(r.native)) return kErrAccessDenied;
    return kErrNone;
}

bool read_only_file(const std::string& native) {
    struct stat st;
    return stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !owner_writable(st);
}

FileTime to_file_time(const struct timespec& ts) {
    return (static_cast<int64_t>(ts.tv_sec) + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

}  // namespace teilimp::platform::posix
