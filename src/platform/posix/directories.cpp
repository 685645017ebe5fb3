// POSIX directories and searches: making and removing directories, the
// sorted, case-blind searches of the Windows rules, and drives.
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

using names::drive_dir;
using names::drive_letter;
using names::join;
using names::listed_match;
using names::sort_as_search;
using names::split_pattern;

namespace {

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

using FindState = detail::ListedFind;

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

uint32_t make_directory(std::string_view path) {
    Resolved r = resolve(path);
    if (!r.mapped || !r.parentFound) return kErrPathNotFound;
    if (r.found) return kErrAlreadyExists;
    if (mkdir(r.native.c_str(), 0777) == 0) return kErrNone;
    return errno == EEXIST ? kErrAlreadyExists : code_of(errno);
}

uint32_t remove_directory(std::string_view path) {
    Resolved r = resolve(path);
    if (!r.found) return missing_code(r);
    if (rmdir(r.native.c_str()) == 0) return kErrNone;
    if (errno == ENOTEMPTY || errno == EEXIST) return kErrDirNotEmpty;
    return code_of(errno);
}

uint32_t remove_tree(std::string_view path) {
    Resolved r = resolve(path);
    if (!r.found) return missing_code(r);
    return code_of(remove_at(AT_FDCWD, r.native.c_str()));
}

uint32_t make_private_directory(std::string_view parent, std::string_view prefix, std::string& out) {
    out.clear();
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
        uint32_t code = posix::find_first(pattern, h, e);
        if (code != kErrNone) return code;
        do out.push_back({e.long_name, (e.attributes & kAttrDirectory) != 0});
        while (posix::find_next(h, e) == kErrNone);
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
    posix::find_close(h);
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
            return posix::find_next(h, e);
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
    return posix::find_next(h, e);
}

uint32_t find_next(FindHandle& h, FindEntry& e) { return detail::listed_find_next(h, e); }

void find_close(FindHandle& h) { detail::listed_find_close(h); }

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

}  // namespace teilimp::platform::posix
