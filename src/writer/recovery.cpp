// Putting an area back in order after a run that died in the middle of an
// update. A sound backup is a complete copy of the state before the update,
// so putting it back is right; temporary files hold new versions that never
// replaced their originals. A backup that does not hold together did not
// come from an update (a stray file, a damaged disk): putting it back would
// replace a sound file with it, so then nothing is changed.
#include <algorithm>
#include <utility>
#include <vector>

#include "util/bytes.h"
#include "writer/area_files.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/area_scan.h"
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

// The places (file code, stored slot) of the valid entries of a sound
// control file, and the place its trailer names next.
struct Places {
    std::vector<std::pair<FileCode, uint8_t>> valid;
    FileCode nextCode{};
    uint8_t nextSlot = 0;

    bool holds(const FileCode& code, uint8_t slot) const {
        return std::find(valid.begin(), valid.end(), std::make_pair(code, slot)) != valid.end();
    }
};

bool read_places(const std::string& path, Places& p, bool entries) {
    util::Bytes bytes;
    if (platform::read_whole_file(path, bytes) != platform::kErrNone) return false;
    std::span<const uint8_t> b(bytes);
    if (!ctl_sound(b)) return false;
    const size_t n = b.size() / kRecordSize;
    CtlTrailer t;
    std::copy(b.end() - kRecordSize, b.end(), t.raw.begin());
    p.nextCode = trailer_next_code(t);
    p.nextSlot = trailer_next_slot(t);
    for (size_t k = 0; entries && k + 1 < n; ++k) {
        const CtlEntry e = decode_entry(std::span<const uint8_t, 64>(b.data() + k * kRecordSize, 64));
        if (e.entryState == kStateValid) p.valid.push_back({e.fileCode, e.slot});
    }
    return true;
}

// A run that died after its piece was in the piece file, with only the
// backup of the control file left to drop: the control file already holds
// the new entry (a valid one at the place the backup named next: the last
// entry, or anywhere when the update wrote the file sorted) and the piece
// file the new piece, so the update is done. Putting the backup back would
// leave the piece file one piece ahead of the control file, and the next
// store would find its slot taken.
bool update_was_complete(const AreaField& area, const std::string& ctl, const std::string& bak) {
    Places before;
    Places after;
    if (!read_places(bak, before, false) || !read_places(ctl, after, true)) return false;
    if (!after.holds(before.nextCode, before.nextSlot)) return false;
    const PceLayout piece = read_pce_layout(area_path(area, AreaFile::Piece, before.nextCode));
    return pce_sound(piece) && piece.usedSlots == before.nextSlot + 1;
}

// The file's name without its directory.
std::string name_of(const std::string& path) {
    const size_t sep = path.find_last_of("\\/");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

}  // namespace

namespace {
RecoveryReport recover_from(const AreaField& area, const std::string& ctl, const std::string& bak,
                            const AreaFiles& files);
}  // namespace

RecoveryReport epn_recover_area(const AreaField& area, AreaRun* run) {
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string bak = area_path(area, AreaFile::ControlBackup);
    std::vector<platform::FoundName> listing;
    const AreaFiles files = find_area_files(area, run != nullptr ? &listing : nullptr);
    RecoveryReport report = recover_from(area, ctl, bak, files);
    // What was put back or deleted names no piece file that the listing
    // did not show, unless a piece file itself came back: then it is
    // listed again.
    // A run that died may have left its control file sorted and a mark it
    // had made early put back just now: after anything was put back, the
    // marks already in the piece files are not taken on trust.
    if (run != nullptr && !report.restored.empty()) run->distrust_earlier_marks();
    if (run != nullptr && !report.failed && report.unsound.empty()) {
        if (!report.restored.empty()) {
            listing.clear();
            find_area_files(area, &listing);
        }
        scan_from_listing(area, listing, *run);
    }
    return report;
}

namespace {

RecoveryReport recover_from(const AreaField& area, const std::string& ctl, const std::string& bak,
                            const AreaFiles& files) {
    // Told by the search that found the other files (no second look).
    const bool ctlBackup = files.controlBackup;

    RecoveryReport report;
    if (ctlBackup && !backup_sound(bak)) report.unsound.push_back(name_of(bak));
    for (const auto& [code, backup] : files.pieceBackups)
        if (!backup_sound(backup)) report.unsound.push_back(name_of(backup));
    if (!report.unsound.empty()) return report;

    for (const std::string& temp : files.temps) io::remove_file(temp);
    // The piece file that was to take the dead run's piece first: whether
    // the control file's update was complete is judged from it as it was
    // before the store.
    Places before;
    const bool known = ctlBackup && read_places(bak, before, false);
    const auto put_back = [&](const FileCode& code, const std::string& backup) {
        const std::string piece = area_path(area, AreaFile::Piece, code);
        if (io::restore_from(piece, backup)) report.restored.push_back(name_of(piece));
        else report.failed = true;
    };
    for (const auto& [code, backup] : files.pieceBackups)
        if (known && code == before.nextCode) put_back(code, backup);
    const bool complete = ctlBackup && !report.failed && update_was_complete(area, ctl, bak);
    // Other piece files with a backup beside the control file's hold marks
    // made for that update (the last store of a run marks the entries it
    // supersedes first): kept when the update is complete, put back when
    // it is undone.
    for (const auto& [code, backup] : files.pieceBackups) {
        if (known && code == before.nextCode) continue;
        if (complete) {
            if (!io::remove_file(backup)) report.failed = true;
        } else {
            put_back(code, backup);
        }
    }
    if (ctlBackup && !report.failed) {
        if (complete) {
            if (!io::remove_file(bak)) report.failed = true;
        } else if (io::restore_from(ctl, bak)) {
            report.restored.push_back(name_of(ctl));
        } else {
            report.failed = true;
        }
    }
    return report;
}

}  // namespace

int32_t epn_recover(const AreaField& area) {
    const RecoveryReport report = epn_recover_area(area);
    if (report.failed || !report.unsound.empty()) return -1;
    return static_cast<int32_t>(report.restored.size());
}

}  // namespace teilimp::writer
