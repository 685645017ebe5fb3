// The program's own files found in an area's data directory: piece files,
// their backups and the temporary files of unfinished new versions.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "writer/records.h"

namespace teilimp::writer {

struct AreaFiles {
    // Paths as found on disk, with the code their names carry.
    std::vector<std::pair<FileCode, std::string>> pieces;        // piece<code>.pce
    std::vector<std::pair<FileCode, std::string>> pieceBackups;  // piece<code>.pc$
    // piece.ctl.tmp, piece.ct$.tmp, piece<code>.pce.tmp, piece<code>.pc$.tmp
    std::vector<std::string> temps;
    bool controlBackup = false;  // piece.ct$ is there (in any case)
};

// Looks through the data directory (names with the stem of a directory-form
// area without its closing backslash, as io::area_dir says). With `all`,
// every entry of the directory that a search for "*" finds is put there
// too (one listing for this and the space check's scan).
AreaFiles find_area_files(const AreaField& area, std::vector<platform::FoundName>* all = nullptr);

}  // namespace teilimp::writer
