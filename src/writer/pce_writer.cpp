// Storing a piece image in its slot of a piece file.
#include <algorithm>

#include "driver/opennetw.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

struct PiecePaths {
    std::string piece;
    std::string backup;
    std::string temp;
};

PiecePaths piece_paths(const AreaField& area, const FileCode& code) {
    PiecePaths p;
    p.piece = area_path(area, AreaFile::Piece, code);
    p.backup = area_path(area, AreaFile::PieceBackup, code);
    p.temp = io::temp_name(p.piece);
    return p;
}

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

// Slot 1: a new piece file, written whole under the temporary name.
int32_t put_first_slot(const PiecePaths& p, const PieceName& name, std::span<const uint8_t> image,
                       int32_t stamp) {
    if (io::read_only(p.piece)) return 4;
    platform::File out = io::create_temp(p.temp);
    if (!out.is_open()) return 4;
    std::array<uint8_t, kPceHeaderSize> header{};
    header[0] = 3;
    PceDirectory dir{};
    fill_slot(dir, 1, name, static_cast<int32_t>(image.size()), stamp);

    int32_t result = 0;
    if (!write_head(out, header)) result = 7;
    else if (!write_dir(out, dir)) result = 8;
    else if (!platform::write_all(out, image.data(), image.size())) result = 10;
    if (result != 0) {
        io::abandon_temp(out, p.temp);
        return result;
    }
    // Unsynced: the new file is in place; the run puts piece.ctl back, so
    // nothing refers to it.
    return io::commit_temp(out, p.temp, p.piece) == io::Commit::Done ? 0 : 10;
}

}  // namespace

int32_t epn_pce_put(const FileCode& fileCode, int32_t slot, const PieceName& name,
                    std::span<const uint8_t> image, const AreaField& area) {
    if (!ccc_valid(fileCode) || slot < 1 || slot > 8) return 1;
    const PiecePaths p = piece_paths(area, fileCode);
    const auto length = static_cast<int32_t>(image.size());
    const int32_t stamp = io::stamp_for(area, fileCode, slot, name, length);
    if (slot == 1) return put_first_slot(p, name, image, stamp);

    if (!io::settle_backup(p.piece, p.backup)) return 2;
    if (!io::make_backup(p.piece, p.backup)) return 2;
    // Read through a private copy of the backup (see epn_ctl_put).
    platform::File in;
    if (driver::opennetw(in, p.backup, "OLD", 1) != 0) {
        io::remove_file(p.backup);
        return 3;
    }
    if (io::read_only(p.piece)) {
        io::remove_file(p.backup);
        return 4;
    }
    platform::File out = io::create_temp(p.temp);
    if (!out.is_open()) {
        io::remove_file(p.backup);
        return 4;
    }
    // The piece file itself is replaced only by the commit: before it every
    // failure leaves it as it was, and its backup is a copy of it.
    auto fail = [&](int32_t result) {
        platform::close_file(in);
        io::abandon_temp(out, p.temp);
        io::remove_file(p.backup);
        return result;
    };

    io::ChunkReader reader(in);
    std::array<uint8_t, kPceHeaderSize> header{};
    if (!reader.read(header.data(), header.size())) return fail(5);
    std::array<uint8_t, kPceDirSize> dirBytes{};
    if (!reader.read(dirBytes.data(), dirBytes.size())) return fail(6);
    PceDirectory dir = decode_directory(dirBytes);

    // The earlier slots' images follow the directory back to back.
    int64_t earlier = 0;
    for (int j = 0; j < slot - 1; ++j) {
        if (dir_length(dir[j]) < 0) return fail(9);
        earlier += dir_length(dir[j]);
    }
    fill_slot(dir, slot, name, length, stamp);

    if (!write_head(out, header)) return fail(7);
    if (!write_dir(out, dir)) return fail(8);
    if (io::copy_bytes(reader, out, earlier) != io::CopyResult::Ok) return fail(9);
    if (!platform::write_all(out, image.data(), image.size())) return fail(10);

    platform::close_file(in);
    switch (io::commit_temp(out, p.temp, p.piece)) {
        case io::Commit::Done: break;
        case io::Commit::Failed: io::remove_file(p.backup); return 10;
        case io::Commit::Unsynced: io::restore_from(p.piece, p.backup); return 10;
    }
    io::drop_backup(p.piece, p.backup);
    return 0;
}

}  // namespace teilimp::writer
