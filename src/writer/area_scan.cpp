#include "writer/area_scan.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "util/bytes.h"
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
    return pce_layout(bytes.first(std::min(bytes.size(), static_cast<size_t>(kPceDataStart))),
                      static_cast<int64_t>(bytes.size()));
}

PceLayout pce_layout(std::span<const uint8_t> bytes, int64_t size) {
    PceLayout l;
    l.size = size;
    if (bytes.size() < static_cast<size_t>(kPceDataStart) || size < kPceDataStart) return l;
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

PceLayout read_pce_layout(const std::string& path) {
    platform::File f = platform::open_file(path, platform::OpenMode::Read);
    if (!f.is_open()) return {};
    const int64_t size = platform::file_size(f);
    std::array<uint8_t, kPceDataStart> head{};
    const size_t want = static_cast<size_t>(std::clamp<int64_t>(size, 0, kPceDataStart));
    if (size < 0 || !platform::read_exact(f, head.data(), want)) return {};
    return pce_layout(std::span<const uint8_t>(head.data(), want), size);
}

namespace {

bool ends_with_lower(const std::string& path, std::string_view end) {
    if (path.size() < end.size()) return false;
    for (size_t i = 0; i < end.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[path.size() - end.size() + i]);
        if (std::tolower(c) != end[i]) return false;
    }
    return true;
}

}  // namespace

bool backup_sound(const std::string& path) {
    if (ends_with_lower(path, ".ct$")) {
        util::Bytes bytes;
        if (platform::read_whole_file(path, bytes) != platform::kErrNone) return false;
        return ctl_sound(bytes);
    }
    if (ends_with_lower(path, ".pc$")) {
        // A copy the program made of a piece file: at least one piece, and
        // no directory entry names an image beyond them (a file cut short
        // would otherwise pass for one with fewer pieces).
        const PceLayout l = read_pce_layout(path);
        if (!pce_sound(l) || l.usedSlots < 1) return false;
        for (size_t k = static_cast<size_t>(l.usedSlots); k < l.dir.size(); ++k)
            if (dir_length(l.dir[k]) != 0) return false;
        return true;
    }
    return true;
}

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

std::vector<FileCode> piece_file_codes(const AreaField& area) { return piece_file_codes(find_area_files(area)); }

std::vector<FileCode> piece_file_codes(const AreaFiles& files) {
    std::vector<FileCode> codes;
    codes.reserve(files.pieces.size());
    for (const auto& [code, path] : files.pieces) codes.push_back(code);
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

AreaContents area_contents(const AreaField& area) {
    AreaContents c;
    const std::string ctl = area_path(area, AreaFile::Control);
    util::Bytes bytes;
    c.ctlPresent = platform::exists(ctl);
    c.ctlSound = c.ctlPresent && platform::read_whole_file(ctl, bytes) == platform::kErrNone && ctl_sound(bytes);
    const std::vector<FileCode> codes = piece_file_codes(area);
    c.pieceFiles = static_cast<int64_t>(codes.size());
    if (c.ctlSound) {
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        for (size_t at = 0; at + kRecordSize < bytes.size(); at += kRecordSize)
            if (entry_state(std::span<const uint8_t, 64>(data + at, kRecordSize)) == kStateValid) ++c.validPieces;
        return c;
    }
    for (const FileCode& code : codes) {
        const PceLayout l = read_pce_layout(area_path(area, AreaFile::Piece, code));
        for (int k = 0; k < l.usedSlots; ++k)
            if (dir_state(l.dir[static_cast<size_t>(k)]) == kStateValid) ++c.validPieces;
    }
    return c;
}

bool control_missing_with_pieces(const AreaField& area) {
    return !platform::exists(area_path(area, AreaFile::Control)) && !piece_file_codes(area).empty();
}

}  // namespace teilimp::writer
