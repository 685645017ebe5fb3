// Storing a piece image in its slot of a piece file.
#include <algorithm>

#include "util/filesearch.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/rewrite.h"
#include "writer/area_scan.h"
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

// Fills directory entry `slot` (1..8) for the new image and presets the
// offset of the entry after it.
void fill_slot(PceDirectory& dir, int32_t slot, const PieceName& name, int32_t length, int32_t stamp) {
    const int k = slot - 1;
    int64_t offset = kPceDataStart;
    if (k > 0) offset = static_cast<int64_t>(dir_offset(dir[k - 1])) + dir_length(dir[k - 1]);
    dir_set_offset(dir[k], static_cast<int32_t>(offset));
    dir_fill(dir[k], length, name, stamp);
    if (k < 7) dir_set_offset(dir[k + 1], static_cast<int32_t>(offset + length));
}

bool write_head(platform::File& out, const std::array<uint8_t, kPceHeaderSize>& header) {
    return platform::write_all(out, header.data(), header.size());
}

bool write_dir(platform::File& out, const PceDirectory& dir) {
    std::array<uint8_t, kPceDirSize> bytes{};
    encode_directory(dir, bytes);
    return platform::write_all(out, bytes.data(), bytes.size());
}

// Slot 1: a new piece file, written whole under the temporary name; there
// is no old content to keep.
PceStatus put_first_slot(const AreaField& area, const FileCode& fileCode, const PieceName& name,
                         std::span<const uint8_t> image, int32_t stamp, int64_t* newSize) {
    const std::string piece = area_path(area, AreaFile::Piece, fileCode);
    // The slot is free only when no piece file of this code holds anything:
    // a damaged control file must not make the store replace eight pieces.
    if (platform::exists(piece) && util::filesize(piece) != 0) return PceStatus::SlotTaken;
    SafeRewrite rw(piece, area_path(area, AreaFile::PieceBackup, fileCode));
    // A new piece file is as accessible as the control file.
    rw.accessModel = area_path(area, AreaFile::Control);
    if (!rw.open_new()) return PceStatus::NotWritable;
    std::array<uint8_t, kPceHeaderSize> header{};
    header[0] = 3;
    PceDirectory dir{};
    fill_slot(dir, 1, name, static_cast<int32_t>(image.size()), stamp);

    if (!write_head(rw.out, header)) return PceStatus::HeadNotWritten;
    if (!write_dir(rw.out, dir)) return PceStatus::DirectoryNotWritten;
    if (!platform::write_all(rw.out, image.data(), image.size())) return PceStatus::ImageNotWritten;
    // Not committed (also when in place but unflushed): the run puts
    // piece.ctl back, so nothing refers to the file.
    if (!rw.commit()) return PceStatus::ImageNotWritten;
    if (newSize != nullptr) *newSize = kPceDataStart + static_cast<int64_t>(image.size());
    return PceStatus::Ok;
}

}  // namespace

PceStatus pce_put_stamped(const FileCode& fileCode, int32_t slot, const PieceName& name,
                          std::span<const uint8_t> image, int32_t stamp, const AreaField& area,
                          int64_t* newSize) {
    if (!ccc_valid(fileCode) || slot < 1 || slot > 8) return PceStatus::BadPlace;
    if (slot == 1) return put_first_slot(area, fileCode, name, image, stamp, newSize);

    // The piece file itself is replaced only by the commit: before it every
    // failure leaves it as it was, and the guard removes its backup.
    SafeRewrite rw(area_path(area, AreaFile::Piece, fileCode), area_path(area, AreaFile::PieceBackup, fileCode));
    if (!rw.begin()) return PceStatus::NoBackup;
    if (!rw.open_old()) return PceStatus::BackupUnreadable;
    if (!rw.open_new()) return PceStatus::NotWritable;

    io::ChunkReader reader(rw.in);
    std::array<uint8_t, kPceHeaderSize> header{};
    if (!reader.read(header.data(), header.size())) return PceStatus::HeadUnreadable;
    std::array<uint8_t, kPceDirSize> dirBytes{};
    if (!reader.read(dirBytes.data(), dirBytes.size())) return PceStatus::DirectoryUnreadable;
    PceDirectory dir = decode_directory(dirBytes);
    // Slot k is free when the file holds exactly the k - 1 pieces before it
    // and ends where they end; anything else would overwrite a piece.
    std::array<uint8_t, kPceDataStart> head{};
    std::copy(header.begin(), header.end(), head.begin());
    std::copy(dirBytes.begin(), dirBytes.end(), head.begin() + kPceHeaderSize);
    const PceLayout held = pce_layout(head, platform::file_size(rw.in));
    if (!pce_sound(held) || held.usedSlots != slot - 1) return PceStatus::SlotTaken;

    // The earlier slots' images follow the directory back to back.
    int64_t earlier = 0;
    for (int j = 0; j < slot - 1; ++j) {
        if (dir_length(dir[j]) < 0) return PceStatus::EarlierNotCopied;
        earlier += dir_length(dir[j]);
    }
    fill_slot(dir, slot, name, static_cast<int32_t>(image.size()), stamp);

    if (!write_head(rw.out, header)) return PceStatus::HeadNotWritten;
    if (!write_dir(rw.out, dir)) return PceStatus::DirectoryNotWritten;
    if (io::copy_bytes(reader, rw.out, earlier) != io::CopyResult::Ok) return PceStatus::EarlierNotCopied;
    if (!platform::write_all(rw.out, image.data(), image.size())) return PceStatus::ImageNotWritten;
    if (!rw.commit()) return PceStatus::ImageNotWritten;
    if (newSize != nullptr) *newSize = kPceDataStart + earlier + static_cast<int64_t>(image.size());
    // The directory is flushed at the end of the piece (epn_ctl_end).
    rw.drop_backup(false);
    return PceStatus::Ok;
}

PceStatus epn_pce_put(const FileCode& fileCode, int32_t slot, const PieceName& name,
                      std::span<const uint8_t> image, const AreaField& area) {
    return pce_put_stamped(fileCode, slot, name, image, time_stamp_now(), area);
}

}  // namespace teilimp::writer
