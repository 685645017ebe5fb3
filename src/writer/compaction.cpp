#include "writer/compaction.h"

#include <set>
#include <string>

#include "platform/platform.h"
#include "util/bytes.h"
#include "writer/area_files.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/area_scan.h"
#include "writer/lock.h"

namespace teilimp::writer {

namespace {

constexpr const char* kDirName = "compact.new";
constexpr const char* kOldControl = "piece.old";
constexpr const char* kNewControl = "piece.ctl";

bool gone(const std::string& path) { return !platform::exists(path) || io::remove_file(path); }

// Puts the new files in place; each step may have been done already.
bool finish(const AreaField& area) {
    const std::string newCtl = compaction_file(area, kNewControl);
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string dataDir = io::dir_of(ctl);
    // A control file while the new one still waits: only a clear makes one
    // (an importer that does not know compaction, /d); the cleared area
    // stands, the compaction is dropped.
    if (platform::exists(newCtl) && platform::exists(ctl)) return platform::remove_tree(compaction_dir(area)) == 0;
    if (platform::exists(newCtl)) {
        util::Bytes bytes;
        if (platform::read_whole_file(newCtl, bytes) != platform::kErrNone) return false;
        const CtlLayout l = ctl_layout(bytes);
        if (!ctl_sound(l)) return false;
        // The new piece files hold the entries back to back from "aaa".
        std::set<FileCode> kept;
        FileCode code{'a', 'a', 'a'};
        for (int64_t k = 0; k < l.entryCount; k += 8, inc_ccc(code)) kept.insert(code);
        for (const FileCode& c : kept) {
            const std::string name = "piece" + std::string(c.data(), 3) + ".pce";
            const std::string staged = compaction_file(area, name);
            if (platform::exists(staged) && platform::replace_file(staged, area_path(area, AreaFile::Piece, c)) != 0)
                return false;
        }
        const AreaFiles files = find_area_files(area);
        for (const auto& [c, path] : files.pieces)
            if (kept.count(c) == 0 && !gone(path)) return false;
        for (const auto& [c, path] : files.pieceBackups)
            if (!gone(path)) return false;
        for (const std::string& path : files.temps)
            if (!gone(path)) return false;
        if (!gone(area_path(area, AreaFile::ControlBackup))) return false;
        platform::sync_directory(dataDir);
        // The area appears again: its new control file, in one rename.
        if (platform::replace_file(newCtl, ctl) != 0) return false;
        platform::sync_directory(dataDir);
    }
    if (!gone(compaction_file(area, kOldControl))) return false;
    platform::sync_directory(compaction_dir(area));
    return platform::remove_tree(compaction_dir(area)) == 0;
}

}  // namespace

std::string compaction_dir(const AreaField& area) { return lock_directory(area) + kDirName; }

std::string compaction_file(const AreaField& area, const std::string& name) {
    return compaction_dir(area) + "\\" + name;
}

CompactionState compaction_state(const AreaField& area) {
    const uint32_t a = platform::get_attributes(compaction_dir(area));
    if (a == platform::kAttrInvalid) return CompactionState::None;
    return platform::exists(compaction_file(area, kOldControl)) ? CompactionState::Committed : CompactionState::Building;
}

bool compaction_commit(const AreaField& area) {
    const std::string ctl = area_path(area, AreaFile::Control);
    if (platform::rename_file(ctl, compaction_file(area, kOldControl)) != 0) return false;
    platform::sync_directory(io::dir_of(ctl));
    platform::sync_directory(compaction_dir(area));
    return true;
}

bool compaction_settle(const AreaField& area, bool* finished) {
    const CompactionState state = compaction_state(area);
    if (finished != nullptr) *finished = state == CompactionState::Committed;
    if (state == CompactionState::None) return true;
    if (state == CompactionState::Committed) return finish(area);
    // Being built: the area's own files are as they were.
    if (platform::remove_tree(compaction_dir(area)) != 0) return false;
    platform::sync_directory(lock_directory(area));
    return true;
}

}  // namespace teilimp::writer
