// Entering a piece in the control file, and dropping or putting back the
// control file's backup afterwards.
#include <algorithm>
#include <cstring>
#include <vector>

#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/rewrite.h"
#include "writer/sort.h"
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

constexpr FileCode kLastCode = {'z', 'z', 'z'};

}  // namespace

CtlStatus ctl_put_stamped(const PieceName& name, int32_t pieceImageLength, int32_t stamp, FileCode& fileCode,
                        int32_t& slot, const AreaField& area, CtlPutNotes* notes) {
    // piece.ctl itself is never touched before the commit, so every failure
    // leaves it as it was; the guard then removes the backup and the
    // unfinished new version.
    SafeRewrite rw(area_path(area, AreaFile::Control), area_path(area, AreaFile::ControlBackup));
    if (!rw.begin()) return CtlStatus::NotSetUp;
    if (!rw.open_new()) return CtlStatus::NotWritable;
    util::Bytes own;
    util::Bytes& old = notes != nullptr && notes->control != nullptr ? *notes->control : own;
    if (notes == nullptr || !notes->controlKnown) {
        if (!rw.open_old()) return CtlStatus::BackupUnreadable;
        // The old control file is read whole and closed before anything is
        // written: no area file stays open while the new version is made.
        // Room for the entries of a run's pieces, kept in memory after.
        old.clear();
        old.reserve(static_cast<size_t>(std::max<int64_t>(platform::file_size(rw.in), 0)) + 64 * kRecordSize);
        const bool readDone = io::read_all(rw.in, old);
        platform::close_file(rw.in);
        if (!readDone) return CtlStatus::Damaged;
    }

    const size_t records = old.size() / kRecordSize;
    size_t entries = 0;
    int32_t valid = 0;
    bool finished = true;  // valid entries first, then only superseded ones
    bool supersededSeen = false;
    while (entries < records) {
        const std::span<uint8_t, 64> rec(old.data() + entries * kRecordSize, kRecordSize);
        if (is_trailer(rec)) break;
        const int16_t state = entry_state(rec);
        if (state == kStateValid ? supersededSeen : state != kStateSuperseded) finished = false;
        if (state == kStateSuperseded) supersededSeen = true;
        if (std::memcmp(rec.data(), name.data(), name.size()) == 0) {
            if (notes != nullptr && state == kStateValid) {
                notes->replaced = true;
                notes->superseded.push_back({{static_cast<char>(rec[20]), static_cast<char>(rec[21]),
                                              static_cast<char>(rec[22])},
                                             rec[23]});
            }
            entry_set_state(rec, kStateSuperseded);
        }
        if (entry_state(rec) == kStateValid) ++valid;
        ++entries;
    }
    if (notes != nullptr && notes->checkState) {
        notes->stateChecked = true;
        notes->finishedState = finished;
    }
    // No trailer: the file ends early.
    if (entries == records) return CtlStatus::Damaged;
    std::array<uint8_t, 64> rec{};
    std::memcpy(rec.data(), old.data() + entries * kRecordSize, kRecordSize);

    CtlTrailer trailer;
    trailer.raw = rec;
    // The run's last update may be written with the whole file in the
    // sorted order (see epn_store_piece).
    const bool sorted = notes != nullptr && notes->sortedWrite;
    if (!sorted && entries > 0 && !platform::write_all(rw.out, old.data(), entries * kRecordSize)) return CtlStatus::Damaged;
    const FileCode code = trailer_next_code(trailer);
    const uint8_t nextSlot = trailer_next_slot(trailer);
    fileCode = code;
    slot = nextSlot + 1;
    // A slot byte above 7 names no place in a piece file either.
    if (!ccc_valid(code) || nextSlot > 7) return CtlStatus::BadNextPlace;
    // The last slot of "zzz": the counter would wrap to "aaa", whose piece
    // file is in use. The area is full.
    if (code == kLastCode && nextSlot == 7) return CtlStatus::Full;

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
    ++valid;

    FileCode nextCode = code;
    uint8_t advanced = static_cast<uint8_t>(nextSlot + 1);
    if (nextSlot >= 7) {
        advanced = 0;
        inc_ccc(nextCode);
    }
    trailer_set(trailer, nextCode, advanced, static_cast<int16_t>(valid));
    if (sorted) {
        if (!ccc_valid(nextCode)) return CtlStatus::BadFileCode;
        // The new version's bytes in memory, then written as the sort
        // leaves them (the bytes kept are then not the file's).
        old.resize(entries * kRecordSize);
        old.insert(old.end(), encoded.begin(), encoded.end());
        old.insert(old.end(), trailer.raw.begin(), trailer.raw.end());
        if (write_control_sorted(rw.out, old) != SortStatus::Ok) return CtlStatus::Damaged;
        if (!rw.commit()) return CtlStatus::NotWritten;
        notes->writtenSorted = true;
        notes->newSize = static_cast<int64_t>((entries + 2) * kRecordSize);
        return CtlStatus::Ok;
    }
    if (!platform::write_all(rw.out, encoded.data(), encoded.size())) return CtlStatus::EntryNotWritten;
    if (!platform::write_all(rw.out, trailer.raw.data(), trailer.raw.size())) return CtlStatus::NotWritten;
    if (!ccc_valid(nextCode)) return CtlStatus::BadFileCode;
    // The backup stays: epn_ctl_end drops it or puts it back.
    if (!rw.commit()) return CtlStatus::NotWritten;
    if (notes != nullptr) {
        notes->newSize = static_cast<int64_t>((entries + 2) * kRecordSize);
        // The new version's bytes: the entries as written, the new entry
        // and the trailer.
        old.resize(entries * kRecordSize);
        old.insert(old.end(), encoded.begin(), encoded.end());
        old.insert(old.end(), trailer.raw.begin(), trailer.raw.end());
    }
    return CtlStatus::Ok;
}

CtlStatus epn_ctl_put(const PieceName& name, int32_t pieceImageLength, FileCode& fileCode, int32_t& slot,
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
