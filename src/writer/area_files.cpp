#include "writer/area_files.h"

#include <cctype>
#include <utility>

#include "platform/platform.h"
#include "writer/area_io.h"

namespace teilimp::writer {

namespace {

std::string lower_of(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

AreaFiles find_area_files(const AreaField& area, std::vector<platform::FoundName>* all) {
    const io::AreaDir where = io::area_dir(area);
    const std::string stemLower = lower_of(where.stem);
    const std::string pieceStart = stemLower + "piece";
    const std::string ctlBackup = pieceStart + ".ct$";
    const std::string ctlTemp = pieceStart + ".ctl.tmp";
    const std::string ctlBackupTemp = pieceStart + ".ct$.tmp";

    AreaFiles files;
    std::vector<platform::FoundName> found;
    platform::find_names(where.prefix + (all != nullptr ? "*" : "piece*"), found);
    for (const platform::FoundName& entry : found) {
        const std::string& name = entry.name;
        const std::string lower = lower_of(name);
        // Of the whole listing only the names a search for "piece*" finds.
        if (all != nullptr && lower.rfind(pieceStart, 0) != 0) continue;
        if (entry.directory) {
            // Only a backup's name counts for a directory: it is then no
            // backup that could be put back, and says so.
            if (lower == ctlBackup) files.controlBackup = true;
            continue;
        }
        FileCode code;
        if (io::piece_code_of(name, where.stem, ".pce", code)) {
            files.pieces.emplace_back(code, where.dir + name);
        } else if (io::piece_code_of(name, where.stem, ".pc$", code)) {
            files.pieceBackups.emplace_back(code, where.dir + name);
        } else if (io::piece_code_of(name, where.stem, ".pce.tmp", code) ||
                   io::piece_code_of(name, where.stem, ".pc$.tmp", code) || lower == ctlTemp ||
                   lower == ctlBackupTemp) {
            files.temps.push_back(where.dir + name);
        } else if (lower == ctlBackup) {
            files.controlBackup = true;
        }
    }
    if (all != nullptr) *all = std::move(found);
    return files;
}

}  // namespace teilimp::writer
