#include "writer/area_files.h"

#include <cctype>

#include "platform/platform.h"
#include "writer/area_path.h"

namespace teilimp::writer {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The code of a name "piece<code><ext>" (already without its stem).
bool code_of(const std::string& name, const std::string& ext, FileCode& code) {
    if (name.size() != 8 + ext.size() || name.compare(0, 5, "piece") != 0 ||
        name.compare(8, std::string::npos, ext) != 0)
        return false;
    code = {name[5], name[6], name[7]};
    return ccc_valid(code) == 1;
}

}  // namespace

AreaFiles find_area_files(const AreaField& area) {
    // Everything up to the file name "piece.ctl": the directory, followed
    // by the stem of a directory-form area without its closing backslash.
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string prefix = ctl.substr(0, ctl.size() - 9);
    const size_t sep = prefix.find_last_of("\\/");
    const std::string dir = sep == std::string::npos ? std::string() : prefix.substr(0, sep + 1);
    const std::string stem = lower(prefix.substr(dir.size()));

    AreaFiles files;
    platform::FindHandle h;
    platform::FindEntry e;
    if (platform::find_first(prefix + "piece*", h, e) != platform::kErrNone) return files;
    do {
        if ((e.attributes & platform::kAttrDirectory) != 0) continue;
        const std::string n = lower(e.long_name);
        if (n.compare(0, stem.size(), stem) != 0) continue;
        const std::string name = n.substr(stem.size());
        const std::string path = dir + e.long_name;
        FileCode code;
        if (code_of(name, ".pce", code)) files.pieces.emplace_back(code, path);
        else if (code_of(name, ".pc$", code)) files.pieceBackups.emplace_back(code, path);
        else if (name == "piece.ctl.tmp" || name == "piece.ct$.tmp" || code_of(name, ".pce.tmp", code) ||
                 code_of(name, ".pc$.tmp", code))
            files.temps.push_back(path);
    } while (platform::find_next(h, e) == platform::kErrNone);
    platform::find_close(h);
    return files;
}

}  // namespace teilimp::writer
