// Entering a piece in the control file, and dropping or putting back the
// control file's backup afterwards.
#include <cstring>

#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/rewrite.h"
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

constexpr FileCode kLastCode = {'z', 'z', 'z'};

}  // namespace

int32_t ctl_put_stamped(const PieceName& name, int32_t pieceImageLength, int32_t stamp, FileCode& fileCode,
                        int32_t& slot, const AreaField& area, bool* replaced) {
    if (replaced != nullptr) *replaced = false;
    // piece.ctl itself is never touched before the commit, so every failure
    // leaves it as it was; the guard then removes the backup and the
    // unfinished new version.
    SafeRewrite rw(area_path(area, AreaFile::Control), area_path(area, AreaFile::ControlBackup));
    if (!rw.begin()) return 1;
    if (!rw.open_new()) return 2;
    if (!rw.open_old()) return 3;

    io::ChunkReader reader(rw.in);
    io::BlockWriter writer(rw.out);
    std::array<uint8_t, 64> rec{};
    int32_t valid = 0;
    bool trailerFound = false;
    while (reader.read(rec.data(), rec.size())) {
        if (is_trailer(rec)) {
            trailerFound = true;
            break;
        }
        if (std::memcmp(rec.data(), name.data(), name.size()) == 0) {
            if (replaced != nullptr && entry_state(rec) == kStateValid) *replaced = true;
            entry_set_state(rec, kStateSuperseded);
        }
        if (entry_state(rec) == kStateValid) ++valid;
        if (!writer.put(rec.data(), rec.size())) return 4;
    }
    if (!trailerFound || !writer.flush()) return 4;

    CtlTrailer trailer;
    trailer.raw = rec;
    const FileCode code = trailer_next_code(trailer);
    const uint8_t nextSlot = trailer_next_slot(trailer);
    fileCode = code;
    slot = nextSlot + 1;
    // A slot byte above 7 names no place in a piece file either.
    if (!ccc_valid(code) || nextSlot > 7) return 5;
    // The last slot of "zzz": the counter would wrap to "aaa", whose piece
    // file is in use. The area is full.
    if (code == kLastCode && nextSlot == 7) return 9;

    CtlEntry entry;
    entry.pieceName = name;
    entry.fileCode = code;
    entry.slot = nextSlot;
    entry.entryState = kStateValid;
    entry.timeStamp = entry.timeStamp2 = entry.timeStamp3 = stamp;
    entry.dataLength = pieceImageLength;
    entry.entryKind = 3;
    std::array<uint8_t, 64> encoded{};
    encode_entry(entry, encoded);
    if (!platform::write_all(rw.out, encoded.data(), encoded.size())) return 6;
    ++valid;

    FileCode nextCode = code;
    uint8_t advanced = static_cast<uint8_t>(nextSlot + 1);
    if (nextSlot >= 7) {
        advanced = 0;
        inc_ccc(nextCode);
    }
    trailer_set(trailer, nextCode, advanced, static_cast<int16_t>(valid));
    if (!platform::write_all(rw.out, trailer.raw.data(), trailer.raw.size())) return 7;
    if (!ccc_valid(nextCode)) return 8;
    // The backup stays: epn_ctl_end drops it or puts it back.
    return rw.commit() ? 0 : 7;
}

int32_t epn_ctl_put(const PieceName& name, int32_t pieceImageLength, FileCode& fileCode, int32_t& slot,
                    const AreaField& area) {
    return ctl_put_stamped(name, pieceImageLength, time_stamp_now(), fileCode, slot, area);
}

void epn_ctl_end(const AreaField& area, int32_t restore) {
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string bak = area_path(area, AreaFile::ControlBackup);
    if (!platform::exists(bak)) return;
    if (restore != 0) {
        // On failure the backup stays for the next update or recovery.
        io::restore_from(ctl, bak);
        return;
    }
    // piece.ctl was flushed before it replaced the old one.
    io::drop_backup(ctl, bak);
}

}  // namespace teilimp::writer
