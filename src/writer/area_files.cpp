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

    AreaFiles files;
    std::vector<platform::FoundName> found;
    platform::find_names(where.prefix + (all != nullptr ? "*" : "piece*"), found);
    for (const platform::FoundName& entry : found) {
        const std::string& name = entry.name;
        // Of the whole listing only the names a search for "piece*" finds.
        if (all != nullptr && lower_of(name).rfind(stemLower + "piece", 0) != 0) continue;
        const std::string path = where.dir + name;
        if (entry.directory) {
            // Only a backup's name counts for a directory: it is then no
            // backup that could be put back, and says so.
            if (lower_of(name) == stemLower + "piece.ct$") files.controlBackup = true;
            continue;
        }
        FileCode code;
        if (io::piece_code_of(name, where.stem, ".pce", code)) {
            files.pieces.emplace_back(code, path);
        } else if (io::piece_code_of(name, where.stem, ".pc$", code)) {
            files.pieceBackups.emplace_back(code, path);
        } else if (io::piece_code_of(name, where.stem, ".pce.tmp", code) ||
                   io::piece_code_of(name, where.stem, ".pc$.tmp", code)) {
            files.temps.push_back(path);
        } else {
            const std::string lower = lower_of(name);
            if (lower == stemLower + "piece.ctl.tmp" || lower == stemLower + "piece.ct$.tmp")
                files.temps.push_back(path);
            else if (lower == stemLower + "piece.ct$")
                files.controlBackup = true;
        }
    }
    if (all != nullptr) *all = std::move(found);
    return files;
}

}  // namespace teilimp::writer
