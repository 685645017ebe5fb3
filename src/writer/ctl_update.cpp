// Entering a piece in the control file, and dropping or putting back the
// control file's backup afterwards.
#include <algorithm>
#include <array>
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
using Record = std::array<uint8_t, 64>;

// Backs up piece.ctl and begins its new version.
CtlStatus begin_update(SafeRewrite& rw) {
    if (!rw.begin()) return CtlStatus::NotSetUp;
    if (!rw.open_new()) return CtlStatus::NotWritable;
    return CtlStatus::Ok;
}

// Reads the old control file whole into `old`, and closes it before
// anything is written: no area file stays open while the new version is
// made. Room is made for the entries of a run's pieces, kept in memory
// after.
CtlStatus read_old(SafeRewrite& rw, util::Bytes& old) {
    if (!rw.open_old()) return CtlStatus::BackupUnreadable;
    old.clear();
    old.reserve(static_cast<size_t>(std::max<int64_t>(platform::file_size(rw.in), 0)) + 64 * kRecordSize);
    const bool readDone = io::read_all(rw.in, old);
    platform::close_file(rw.in);
    return readDone ? CtlStatus::Ok : CtlStatus::Damaged;
}

// What the walk over the old entries found.
struct OldEntries {
    size_t count = 0;      // entries before the trailer (the trailer is record `count`)
    int32_t valid = 0;     // valid entries, after those of the name were superseded
    bool finished = true;  // valid entries first, then only superseded ones
    bool trailer = false;  // false: the file ends early
};

// Walks the entries of `old` up to the trailer and supersedes, in `old`,
// those of `name`; the places of the valid ones among them go to `notes`.
OldEntries supersede_name(util::Bytes& old, const PieceName& name, CtlPutNotes* notes) {
    OldEntries seen;
    const size_t records = old.size() / kRecordSize;
    bool supersededSeen = false;
    for (; seen.count < records; ++seen.count) {
        const std::span<uint8_t, 64> rec(old.data() + seen.count * kRecordSize, kRecordSize);
        if (is_trailer(rec)) {
            seen.trailer = true;
            break;
        }
        const int16_t state = entry_state(rec);
        if (state == kStateValid ? supersededSeen : state != kStateSuperseded) seen.finished = false;
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
        if (entry_state(rec) == kStateValid) ++seen.valid;
    }
    return seen;
}

// The place that the trailer gives the new entry: fileCode and slot
// (1..8), set also when the place is none.
CtlStatus take_place(const CtlTrailer& trailer, FileCode& fileCode, int32_t& slot) {
    const FileCode code = trailer_next_code(trailer);
    const uint8_t nextSlot = trailer_next_slot(trailer);
    fileCode = code;
    slot = nextSlot + 1;
    // A slot byte above 7 names no place in a piece file either.
    if (!ccc_valid(code) || nextSlot > 7) return CtlStatus::BadNextPlace;
    // The last slot of "zzz": the counter would wrap to "aaa", whose piece
    // file is in use. The area is full.
    if (code == kLastCode && nextSlot == 7) return CtlStatus::Full;
    return CtlStatus::Ok;
}

// The new entry's record: valid, at (code, slot), all three stamps `stamp`.
Record new_entry(const PieceName& name, const FileCode& code, int32_t slot, int32_t stamp,
                 int32_t pieceImageLength) {
    CtlEntry entry;
    entry.pieceName = name;
    entry.fileCode = code;
    entry.slot = static_cast<uint8_t>(slot - 1);
    entry.entryState = kStateValid;
    entry.timeStamp = entry.timeStamp2 = entry.timeStamp3 = stamp;
    entry.dataLength = pieceImageLength;
    entry.entryKind = 3;
    Record encoded{};
    encode_entry(entry, encoded);
    return encoded;
}

// The trailer after the new entry at (code, slot): the next place one
// further, `valid` valid entries. Returns the next place's file code.
FileCode advance_trailer(CtlTrailer& trailer, const FileCode& code, int32_t slot, int32_t valid) {
    FileCode nextCode = code;
    auto advanced = static_cast<uint8_t>(slot);
    if (slot >= 8) {
        advanced = 0;
        inc_ccc(nextCode);
    }
    trailer_set(trailer, nextCode, advanced, static_cast<int16_t>(valid));
    return nextCode;
}

// The new version's bytes in `bytes`: the first `entries` entries as they
// are there, the new entry and the trailer.
void make_new_version(util::Bytes& bytes, size_t entries, const Record& encoded, const CtlTrailer& trailer) {
    bytes.resize(entries * kRecordSize);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    bytes.insert(bytes.end(), trailer.raw.begin(), trailer.raw.end());
}

// The new version written in file order after the old entries (written
// already): the new entry and the trailer, then put in place. The backup
// stays: epn_ctl_end drops it or puts it back.
CtlStatus write_appended(SafeRewrite& rw, const Record& encoded, const CtlTrailer& trailer,
                         const FileCode& nextCode) {
    if (!platform::write_all(rw.out, encoded.data(), encoded.size())) return CtlStatus::EntryNotWritten;
    if (!platform::write_all(rw.out, trailer.raw.data(), trailer.raw.size())) return CtlStatus::NotWritten;
    if (!ccc_valid(nextCode)) return CtlStatus::BadFileCode;
    if (!rw.commit()) return CtlStatus::NotWritten;
    return CtlStatus::Ok;
}

// The new version made in memory in `bytes` and written as the sort leaves
// it, then put in place (the bytes kept are then not the file's).
CtlStatus write_sorted_version(SafeRewrite& rw, util::Bytes& bytes, size_t entries, const Record& encoded,
                               const CtlTrailer& trailer, const FileCode& nextCode) {
    if (!ccc_valid(nextCode)) return CtlStatus::BadFileCode;
    make_new_version(bytes, entries, encoded, trailer);
    if (write_control_sorted(rw.out, bytes) != SortStatus::Ok) return CtlStatus::Damaged;
    if (!rw.commit()) return CtlStatus::NotWritten;
    return CtlStatus::Ok;
}

}  // namespace

CtlStatus ctl_put_stamped(const PieceName& name, int32_t pieceImageLength, int32_t stamp, FileCode& fileCode,
                          int32_t& slot, const AreaField& area, const CtlPutRequest& request, CtlPutNotes* notes) {
    // piece.ctl itself is never touched before the commit, so every failure
    // leaves it as it was; the guard then removes the backup and the
    // unfinished new version.
    SafeRewrite rw(area_path(area, AreaFile::Control), area_path(area, AreaFile::ControlBackup));
    if (const CtlStatus s = begin_update(rw); s != CtlStatus::Ok) return s;
    util::Bytes own;
    util::Bytes& old = request.control != nullptr ? *request.control : own;
    if (request.control == nullptr || !request.controlKnown)
        if (const CtlStatus s = read_old(rw, old); s != CtlStatus::Ok) return s;

    const OldEntries seen = supersede_name(old, name, notes);
    if (request.checkState && notes != nullptr) {
        notes->stateChecked = true;
        notes->finishedState = seen.finished;
    }
    if (!seen.trailer) return CtlStatus::Damaged;
    CtlTrailer trailer;
    std::memcpy(trailer.raw.data(), old.data() + seen.count * kRecordSize, kRecordSize);

    // The run's last update may be written with the whole file in the
    // sorted order (see epn_store_piece); else the old entries go first,
    // before the new one's place is even looked at.
    const bool sorted = request.sortedWrite && notes != nullptr;
    if (!sorted && seen.count > 0 && !platform::write_all(rw.out, old.data(), seen.count * kRecordSize))
        return CtlStatus::Damaged;
    if (const CtlStatus s = take_place(trailer, fileCode, slot); s != CtlStatus::Ok) return s;
    const Record encoded = new_entry(name, fileCode, slot, stamp, pieceImageLength);
    const FileCode nextCode = advance_trailer(trailer, fileCode, slot, seen.valid + 1);
    const auto newSize = static_cast<int64_t>((seen.count + 2) * kRecordSize);

    if (sorted) {
        const CtlStatus s = write_sorted_version(rw, old, seen.count, encoded, trailer, nextCode);
        if (s != CtlStatus::Ok) return s;
        notes->writtenSorted = true;
        notes->newSize = newSize;
        return CtlStatus::Ok;
    }
    if (const CtlStatus s = write_appended(rw, encoded, trailer, nextCode); s != CtlStatus::Ok) return s;
    if (notes != nullptr) notes->newSize = newSize;
    if (request.control != nullptr) make_new_version(old, seen.count, encoded, trailer);
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
