// The control-file update and the piece-file store with the time stamp
// given by the caller, so that a piece's control entry and the directory
// entry of its slot carry the same stamp: epn_store_piece takes one stamp
// and passes it to both. epn_ctl_put and epn_pce_put each take the time
// of their call.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "writer/records.h"
#include "writer/writer.h"

namespace teilimp::writer {

// What the control-file update tells its caller besides its result.
struct CtlPutNotes {
    bool replaced = false;  // a valid entry of the name was superseded
    std::vector<std::pair<FileCode, uint8_t>> superseded;  // the places of the entries it superseded
    bool checkState = false;    // in: find out whether the file was as a finished run leaves it
    bool stateChecked = false;  // out: the file was read and checked
    bool finishedState = false; // out: valid entries first, then only superseded ones
    int64_t newSize = -1;       // out: the new control file's size, once written
    // in: where the old control file's bytes are kept (or read to), and
    // whether they are there already; out: the new version's bytes, once
    // it is in place (else they are to be taken as unknown).
    std::vector<uint8_t>* control = nullptr;
    bool controlKnown = false;
    // in: a new entry that supersedes no other is written with the whole
    // file in sorted order; out: it was (the bytes in `control` are then
    // not the file's).
    bool sortIfNew = false;
    bool writtenSorted = false;
};

// The space check's scan made from a listing of the area's directory (a
// search for "*"), as the first check would make it.
void scan_from_listing(const AreaField& area, const std::vector<platform::FoundName>& found, AreaRun& scan);
// True when the control file is still the one whose bytes `run` keeps
// (same stamp and size).
bool control_as_known(const AreaField& area, const AreaRun& run);
// True when the control file has the stamp and size that `run` noted when
// the run last wrote it.
bool control_unchanged(const AreaField& area, const AreaRun& run);
// Before the run's last store: carries the marks that the end of the run
// would carry, so that the end has only the last store's left, if any.
// True when all are carried; the run then counts every earlier mark as
// carried.
bool carry_marks_before_last(const AreaField& area, AreaRun& run);
// Reads the control file into `run` (its stamp taken first, so that a
// change meanwhile shows); false when it can't be read.
bool read_control_into(const AreaField& area, AreaRun& run);

int32_t ctl_put_stamped(const PieceName& name, int32_t pieceImageLength, int32_t stamp, FileCode& fileCode,
                        int32_t& slot, const AreaField& area, CtlPutNotes* notes = nullptr);
// Enters in `scan` whether the piece file of `code` is there now.
void note_piece_file(const AreaField& area, const FileCode& code, AreaRun& scan);
// `newSize` (if given) receives the piece file's new size when it is stored.
int32_t pce_put_stamped(const FileCode& fileCode, int32_t slot, const PieceName& name,
                        std::span<const uint8_t> image, int32_t stamp, const AreaField& area,
                        int64_t* newSize = nullptr);

}  // namespace teilimp::writer
