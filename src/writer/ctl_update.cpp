// Entering a piece in the control file, and dropping or putting back the
// control file's backup afterwards.
#include <cstring>

#include "driver/opennetw.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

constexpr FileCode kLastCode = {'z', 'z', 'z'};

}  // namespace

int32_t epn_ctl_put(const PieceName& name, int32_t pieceImageLength, FileCode& fileCode, int32_t& slot,
                    const AreaField& area, bool* replaced) {
    if (replaced != nullptr) *replaced = false;
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string bak = area_path(area, AreaFile::ControlBackup);
    const std::string tmp = io::temp_name(ctl);

    // A backup left by an earlier failure holds the sound state: put it
    // back before the control file is used.
    if (!io::settle_backup(ctl, bak)) return 1;
    if (!io::make_backup(ctl, bak)) return 1;

    // piece.ctl is untouched; its backup is a plain copy of it and goes.
    if (io::read_only(ctl)) {
        io::remove_file(bak);
        return 2;
    }
    platform::File out = io::create_temp(tmp);
    if (!out.is_open()) {
        io::remove_file(bak);
        return 2;
    }

    // The backup is read through a private copy, so that a control file on
    // a shared drive is not held open while it is worked through.
    platform::File in;
    if (driver::opennetw(in, bak, "OLD", 1) != 0) {
        io::abandon_temp(out, tmp);
        io::remove_file(bak);
        return 3;
    }

    // piece.ctl itself is never touched before the commit, so every failure
    // below leaves it as it was; the backup is then a copy of it and goes.
    auto fail = [&](int32_t result) {
        platform::close_file(in);
        io::abandon_temp(out, tmp);
        io::remove_file(bak);
        return result;
    };

    io::ChunkReader reader(in);
    io::BlockWriter writer(out);
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
        if (!writer.put(rec.data(), rec.size())) return fail(4);
    }
    if (!trailerFound || !writer.flush()) return fail(4);

    CtlTrailer trailer;
    trailer.raw = rec;
    const FileCode code = trailer_next_code(trailer);
    const uint8_t nextSlot = trailer_next_slot(trailer);
    fileCode = code;
    slot = nextSlot + 1;
    // A slot byte above 7 names no place in a piece file either.
    if (!ccc_valid(code) || nextSlot > 7) return fail(5);
    // The last slot of "zzz": the counter would wrap to "aaa", whose piece
    // file is in use. The area is full.
    if (code == kLastCode && nextSlot == 7) return fail(9);

    const int32_t stamp = time_stamp_now();
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
    if (!platform::write_all(out, encoded.data(), encoded.size())) return fail(6);
    ++valid;

    FileCode nextCode = code;
    uint8_t advanced = static_cast<uint8_t>(nextSlot + 1);
    if (nextSlot >= 7) {
        advanced = 0;
        inc_ccc(nextCode);
    }
    trailer_set(trailer, nextCode, advanced, static_cast<int16_t>(valid));
    if (!platform::write_all(out, trailer.raw.data(), trailer.raw.size())) return fail(7);
    if (!ccc_valid(nextCode)) return fail(8);

    platform::close_file(in);
    switch (io::commit_temp(out, tmp, ctl)) {
        case io::Commit::Done: break;
        case io::Commit::Failed: io::remove_file(bak); return 7;
        case io::Commit::Unsynced: io::restore_from(ctl, bak); return 7;
    }
    io::remember_stamp(area, code, slot, name, pieceImageLength, stamp);
    return 0;
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
