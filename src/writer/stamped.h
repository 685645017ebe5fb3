// The control-file update and the piece-file store with the time stamp
// given by the caller, so that a piece's control entry and the directory
// entry of its slot carry the same stamp: epn_store_piece takes one stamp
// and passes it to both. epn_ctl_put and epn_pce_put each take the time
// of their call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "writer/records.h"
#include "writer/writer.h"

namespace teilimp::writer {

// What a run's store asks of the control-file update besides the entry.
struct CtlPutRequest {
    // Where the old control file's bytes are kept (or read to), and whether
    // they are there already. Once the new version is in place its bytes
    // are left there, unless it was written sorted; after a failure they
    // are to be taken as unknown.
    util::Bytes* control = nullptr;
    bool controlKnown = false;
    bool checkState = false;   // find out whether the file was as a finished run leaves it
    // The new version is written with the whole file in sorted order
    // (every mark is in the piece files already).
    bool sortedWrite = false;
};

// What the control-file update tells its caller besides its result.
struct CtlPutNotes {
    bool replaced = false;         // a valid entry of the name was superseded
    AreaRun::Places superseded;    // the places of the entries it superseded
    bool stateChecked = false;     // checkState: the file was read and checked
    bool finishedState = false;    // then: valid entries first, then only superseded ones
    int64_t newSize = -1;          // the new control file's size, once written
    bool writtenSorted = false;    // sortedWrite done (the kept bytes are then not the file's)
};

// The space check's scan made from a listing of the area's directory (a
// search for "*"), as the first check would make it.
void scan_from_listing(const AreaField& area, const std::vector<platform::FoundName>& found, AreaRun& scan);
// Before the run's last store: carries the marks that the end of the run
// would carry, so that the end has only the last store's left, if any.
// True when all are carried; the run then counts every earlier mark as
// carried.
bool carry_marks_before_last(const AreaField& area, AreaRun& run);
// The piece files that the run's last store marked before its control
// update, each with the backup it keeps until the store is through:
// (piece file, backup).
using EarlyMarks = std::vector<std::pair<std::string, std::string>>;
// Before the run's last store of a piece that supersedes stored ones:
// marks the valid entries of `name` superseded in their piece files, each
// file's backup kept (in `early`), so that the control update can be
// written in sorted order at once. A dead store is then undone by the
// recovery as a whole (the backups put back). True when done, or when no
// entry has the name; false (nothing changed) when an entry is in the piece
// file the store will write to, or a mark failed.
bool mark_replaced_early(const AreaField& area, AreaRun& run, const PieceName& name, EarlyMarks& early);
// The piece files put back from their backups (the store failed).
void undo_early_marks(EarlyMarks& early);
// The backups removed (the store is through; the directory is flushed by
// the end of the control update).
void drop_early_backups(EarlyMarks& early);
CtlStatus ctl_put_stamped(const PieceName& name, int32_t pieceImageLength, int32_t stamp, FileCode& fileCode,
                          int32_t& slot, const AreaField& area, const CtlPutRequest& request = {},
                          CtlPutNotes* notes = nullptr);
// Enters in `scan` whether the piece file of `code` is there now.
void note_piece_file(const AreaField& area, const FileCode& code, AreaRun& scan);
// `newSize` (if given) receives the piece file's new size when it is stored.
PceStatus pce_put_stamped(const FileCode& fileCode, int32_t slot, const PieceName& name,
                          std::span<const uint8_t> image, int32_t stamp, const AreaField& area,
                          int64_t* newSize = nullptr);

}  // namespace teilimp::writer
