#include "writer/area_scan.h"

#include <algorithm>
#include <cctype>

#include "writer/area_path.h"

namespace teilimp::writer {

CtlLayout ctl_layout(std::span<const uint8_t> bytes) {
    CtlLayout l;
    l.size = static_cast<int64_t>(bytes.size());
    const size_t records = bytes.size() / kRecordSize;
    for (size_t k = 0; k < records; ++k) {
        std::span<const uint8_t, 64> rec(bytes.data() + k * kRecordSize, kRecordSize);
        if (l.trailerFound) {
            ++l.recordsAfterTrailer;
            continue;
        }
        if (is_trailer(rec)) {
            l.trailerFound = true;
            continue;
        }
        ++l.entryCount;
        const CtlEntry e = decode_entry(rec);
        if (l.firstBadPlace < 0 && (ccc_valid(e.fileCode) == 0 || e.slot > 7))
            l.firstBadPlace = static_cast<int64_t>(k);
    }
    return l;
}

bool ctl_sound(const CtlLayout& l) {
    return l.size > 0 && l.size % kRecordSize == 0 && l.trailerFound && l.recordsAfterTrailer == 0 &&
           l.firstBadPlace < 0;
}

bool ctl_sound(std::span<const uint8_t> bytes) { return ctl_sound(ctl_layout(bytes)); }

PceLayout pce_layout(std::span<const uint8_t> bytes) {
    PceLayout l;
    l.size = static_cast<int64_t>(bytes.size());
    if (bytes.size() < static_cast<size_t>(kPceDataStart)) return l;
    l.complete = true;
    std::copy_n(bytes.begin(), kPceHeaderSize, l.header.begin());
    l.dir = decode_directory(std::span<const uint8_t, kPceDirSize>(bytes.data() + kPceHeaderSize, kPceDirSize));
    int64_t end = kPceDataStart;
    for (const PceDirEntry& d : l.dir) {
        const int64_t length = dir_length(d);
        if (length <= 0 || dir_offset(d) != end || end + length > l.size) break;
        end += length;
        ++l.usedSlots;
    }
    l.imagesEnd = end;
    return l;
}

bool pce_sound(const PceLayout& l) { return l.complete && l.imagesEnd == l.size; }

bool pce_sound(std::span<const uint8_t> bytes) { return pce_sound(pce_layout(bytes)); }

void next_place(FileCode& code, uint8_t& slot) {
    if (slot < 7) {
        ++slot;
        return;
    }
    slot = 0;
    inc_ccc(code);
}

bool place_less(const FileCode& a, uint8_t slotA, const FileCode& b, uint8_t slotB) {
    if (a != b) return a < b;
    return slotA < slotB;
}

std::vector<std::string> matching_names(const std::string& prefix, const std::string& pattern) {
    std::vector<std::string> names;
    platform::FindHandle h;
    platform::FindEntry e;
    if (platform::find_first(prefix + pattern, h, e) != platform::kErrNone) return names;
    do {
        if ((e.attributes & platform::kAttrDirectory) == 0) names.push_back(e.long_name);
    } while (platform::find_next(h, e) == platform::kErrNone);
    platform::find_close(h);
    return names;
}

namespace {
std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

bool code_of(const std::string& name, const std::string& stem, const std::string& ext, FileCode& code) {
    const std::string n = lower(name);
    const std::string s = lower(stem);
    if (n.size() != s.size() + 8 + ext.size() || n.compare(0, s.size(), s) != 0) return false;
    const size_t at = s.size();
    if (n.compare(at, 5, "piece") != 0 || n.compare(at + 8, std::string::npos, ext) != 0) return false;
    code = {n[at + 5], n[at + 6], n[at + 7]};
    return ccc_valid(code) == 1;
}

AreaDir area_dir(const AreaField& area) {
    // Everything up to the file name "piece.ctl": the directory, followed
    // by a stem when an area in the directory form lacks its closing
    // backslash (C:\TMP gives C:\TMPpiece.ctl).
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string prefix = ctl.substr(0, ctl.size() - 9);
    const size_t sep = prefix.find_last_of("\\/");
    AreaDir d;
    d.dir = sep == std::string::npos ? std::string() : prefix.substr(0, sep + 1);
    d.stem = prefix.substr(d.dir.size());
    return d;
}

std::vector<FileCode> piece_file_codes(const AreaField& area) {
    const AreaDir d = area_dir(area);
    std::vector<FileCode> codes;
    for (const std::string& name : matching_names(d.dir + d.stem, "piece*.pce")) {
        FileCode code;
        if (code_of(name, d.stem, ".pce", code)) codes.push_back(code);
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

}  // namespace teilimp::writer
