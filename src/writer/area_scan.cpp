#include "writer/area_scan.h"

#include <algorithm>

#include "writer/area_files.h"
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

std::vector<FileCode> piece_file_codes(const AreaField& area) {
    std::vector<FileCode> codes;
    for (const auto& [code, path] : find_area_files(area).pieces) codes.push_back(code);
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

}  // namespace teilimp::writer
