#include "writer/rewrite.h"

#include <utility>

#include "writer/area_io.h"

namespace teilimp::writer {

SafeRewrite::SafeRewrite(std::string filePath, std::string backupPath)
    : path(std::move(filePath)), backup(std::move(backupPath)), temp(io::temp_name(path)) {}

SafeRewrite::~SafeRewrite() {
    if (committed_) return;
    if (in.is_open()) platform::close_file(in);
    if (out.is_open()) io::abandon_temp(out, temp);
    // Before the commit the backup is a copy of the untouched file.
    if (backedUp_) io::remove_file(backup);
}

bool SafeRewrite::begin() {
    // As a rule one link makes the backup: a backup that an earlier
    // failure left (or a missing file) makes it fail, and only then is the
    // backup looked for and put back. A file system that refuses links
    // gets a copy.
    const bool linkable = !io::read_only(path);
    uint32_t linked = platform::kErrAccessDenied;
    if (linkable) {
        linked = platform::link_file(path, backup);
        if (linked == platform::kErrNone) {
            backedUp_ = true;
            return true;
        }
    }
    if (!io::settle_backup(path, backup)) return false;
    const bool relink = linkable && (linked == platform::kErrFileExists || linked == platform::kErrFileNotFound);
    if (!io::make_backup(path, backup, relink)) return false;
    backedUp_ = true;
    return true;
}

bool SafeRewrite::open_old() {
    in = platform::open_file(backup, platform::OpenMode::Read);
    return in.is_open();
}

bool SafeRewrite::read_old(util::Bytes& bytes) {
    if (!open_old()) return false;
    const bool done = io::read_all(in, bytes);
    platform::close_file(in);
    return done;
}

bool SafeRewrite::open_new() {
    if (io::read_only(path)) return false;
    out = io::create_temp(temp, path, accessModel);
    return out.is_open();
}

bool SafeRewrite::commit() {
    if (in.is_open()) platform::close_file(in);
    committed_ = true;
    switch (io::commit_temp(out, temp, path, false)) {
        case io::Commit::Done: return true;
        case io::Commit::Failed:
            if (backedUp_) io::remove_file(backup);
            return false;
        case io::Commit::Unsynced:
            if (backedUp_) io::restore_from(path, backup);
            return false;
    }
    return false;
}

void SafeRewrite::drop_backup(bool syncDir) { io::drop_backup(path, backup, syncDir); }

}  // namespace teilimp::writer
