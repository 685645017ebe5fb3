// Putting an area back in order after a run that died in the middle of an
// update. Backups are always complete copies of the state before the
// update, so restoring every one of them is always right; temporary files
// hold new versions that never replaced their originals.
#include <cctype>
#include <vector>

#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

// Names (without directory) in the area's data directory that match the
// wildcard pattern.
std::vector<std::string> matches(const std::string& dir, const std::string& pattern) {
    std::vector<std::string> names;
    platform::FindHandle h;
    platform::FindEntry e;
    if (platform::find_first(dir + pattern, h, e) != platform::kErrNone) return names;
    do {
        if ((e.attributes & platform::kAttrDirectory) == 0) names.push_back(e.long_name);
    } while (platform::find_next(h, e) == platform::kErrNone);
    platform::find_close(h);
    return names;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The code of a piece file or backup name "<stem>piece<code><ext>" (ext
// such as ".pc$" or ".pce.tmp"); false when the name is not of that form.
bool code_of(const std::string& name, const std::string& stem, const std::string& ext, FileCode& code) {
    const std::string n = lower(name);
    const std::string s = lower(stem);
    if (n.size() != s.size() + 8 + ext.size() || n.compare(0, s.size(), s) != 0) return false;
    const size_t at = s.size();
    if (n.compare(at, 5, "piece") != 0 || n.compare(at + 8, std::string::npos, ext) != 0) return false;
    code = {n[at + 5], n[at + 6], n[at + 7]};
    return ccc_valid(code) == 1;
}

}  // namespace

int32_t epn_recover(const AreaField& area) {
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string bak = area_path(area, AreaFile::ControlBackup);
    // Everything up to the file name "piece.ctl": the directory, followed
    // by a stem when an area in the directory form lacks its closing
    // backslash (C:\TMP gives C:\TMPpiece.ctl). The search reports names
    // with the stem, in the directory in front of it.
    const std::string prefix = ctl.substr(0, ctl.size() - 9);
    const size_t sep = prefix.find_last_of("\\/");
    const std::string dir = sep == std::string::npos ? std::string() : prefix.substr(0, sep + 1);
    const std::string stem = prefix.substr(dir.size());

    // Temporary files: unfinished new versions and unfinished backups.
    io::remove_file(io::temp_name(ctl));
    io::remove_file(io::temp_name(bak));
    for (const char* ext : {".pce.tmp", ".pc$.tmp"}) {
        for (const std::string& name : matches(prefix, std::string("piece*") + ext)) {
            FileCode code;
            if (code_of(name, stem, ext, code)) io::remove_file(dir + name);
        }
    }

    int32_t restored = 0;
    bool failed = false;
    if (platform::exists(bak)) {
        if (io::restore_from(ctl, bak)) ++restored;
        else failed = true;
    }
    for (const std::string& name : matches(prefix, "piece*.pc$")) {
        FileCode code;
        if (!code_of(name, stem, ".pc$", code)) continue;
        if (io::restore_from(area_path(area, AreaFile::Piece, code), dir + name)) ++restored;
        else failed = true;
    }
    return failed ? -1 : restored;
}

}  // namespace teilimp::writer
