// Putting an area back in order after a run that died in the middle of an
// update. Backups are always complete copies of the state before the
// update, so restoring every one of them is always right; temporary files
// hold new versions that never replaced their originals.
#include <vector>

#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/writer.h"

namespace teilimp::writer {

int32_t epn_recover(const AreaField& area) {
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string bak = area_path(area, AreaFile::ControlBackup);
    const io::AreaDir where = io::area_dir(area);
    const std::string& prefix = where.prefix;
    const std::string& dir = where.dir;
    const std::string& stem = where.stem;

    // Temporary files: unfinished new versions and unfinished backups.
    io::remove_file(io::temp_name(ctl));
    io::remove_file(io::temp_name(bak));
    for (const char* ext : {".pce.tmp", ".pc$.tmp"}) {
        for (const std::string& name : io::matching_names(prefix, std::string("piece*") + ext)) {
            FileCode code;
            if (io::piece_code_of(name, stem, ext, code)) io::remove_file(dir + name);
        }
    }

    int32_t restored = 0;
    bool failed = false;
    if (platform::exists(bak)) {
        if (io::restore_from(ctl, bak)) ++restored;
        else failed = true;
    }
    for (const std::string& name : io::matching_names(prefix, "piece*.pc$")) {
        FileCode code;
        if (!io::piece_code_of(name, stem, ".pc$", code)) continue;
        if (io::restore_from(area_path(area, AreaFile::Piece, code), dir + name)) ++restored;
        else failed = true;
    }
    return failed ? -1 : restored;
}

}  // namespace teilimp::writer
