// Putting an area back in order after a run that died in the middle of an
// update. Backups are always complete copies of the state before the
// update, so restoring every one of them is always right; temporary files
// hold new versions that never replaced their originals.
#include "writer/area_files.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/writer.h"

namespace teilimp::writer {

int32_t epn_recover(const AreaField& area) {
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string bak = area_path(area, AreaFile::ControlBackup);
    const AreaFiles files = find_area_files(area);

    // Temporary files: unfinished new versions and unfinished backups.
    for (const std::string& temp : files.temps) io::remove_file(temp);

    int32_t restored = 0;
    bool failed = false;
    if (platform::exists(bak)) {
        if (io::restore_from(ctl, bak)) ++restored;
        else failed = true;
    }
    for (const auto& [code, backup] : files.pieceBackups) {
        if (io::restore_from(area_path(area, AreaFile::Piece, code), backup)) ++restored;
        else failed = true;
    }
    return failed ? -1 : restored;
}

}  // namespace teilimp::writer
