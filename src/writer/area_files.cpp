#include "writer/area_files.h"

#include <cctype>

#include "writer/area_io.h"

namespace teilimp::writer {

AreaFiles find_area_files(const AreaField& area) {
    const io::AreaDir where = io::area_dir(area);
    std::string stemLower = where.stem;
    for (char& c : stemLower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    AreaFiles files;
    for (const std::string& name : io::matching_names(where.prefix, "piece*")) {
        const std::string path = where.dir + name;
        FileCode code;
        if (io::piece_code_of(name, where.stem, ".pce", code)) {
            files.pieces.emplace_back(code, path);
        } else if (io::piece_code_of(name, where.stem, ".pc$", code)) {
            files.pieceBackups.emplace_back(code, path);
        } else if (io::piece_code_of(name, where.stem, ".pce.tmp", code) ||
                   io::piece_code_of(name, where.stem, ".pc$.tmp", code)) {
            files.temps.push_back(path);
        } else {
            std::string lower = name;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower == stemLower + "piece.ctl.tmp" || lower == stemLower + "piece.ct$.tmp")
                files.temps.push_back(path);
        }
    }
    return files;
}

}  // namespace teilimp::writer
