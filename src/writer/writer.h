// Storing pieces in a storage area: control-file update, piece-file writer,
// lookup, space check, clearing, superseded marks, and the recovery of an
// update that a dead run left half done.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "util/bytes.h"
#include "writer/records.h"
#include "writer/statuses.h"

namespace teilimp::writer {

// What storing one piece came to.
struct StoreResult {
    CtlStatus ctl = CtlStatus::Ok;  // epn_ctl_put's result
    PceStatus pce = PceStatus::Ok;  // epn_pce_put's result (when ctl is Ok)
    FileCode code{};  // the place the piece was given (when ctl is Ok)
    int32_t slot = 0;
    bool replaced = false;  // a valid entry of the name was superseded (when ctl is Ok)
    bool ok() const { return ctl == CtlStatus::Ok && pce == PceStatus::Ok; }
};

// What one run knows of its area (the area's lock keeps other importers
// out meanwhile), so that it need not find it out again for every piece:
//  - the piece files, as the space check counts them: which codes have a
//    piece file, for the unbroken sequence from "aaa". Found by one
//    directory search at the run's first check and kept current by
//    epn_store_piece as the run creates piece files;
//  - whether every name of the area's files is in lower case, as the
//    writer writes them (the same search): then, while this lives, a name
//    that does not exist exactly is missing, without a search for it in
//    another case;
//  - the sizes that the run's last store left: of the control file and
//    of the piece file it stored into (the space check asks for both), so
//    that they are not looked up again; unknown after a failed store;
//  - the control file's bytes as the run last read or wrote them, with
//    the file's stamp then: a lookup or store that finds the file with
//    that stamp and size works on these bytes instead of reading the file
//    again (one read of the control file per run instead of one or two
//    per piece); unknown after a failed store;
//  - whether the control file was, before the run's first piece, in the
//    state that a finished run leaves (valid entries, then superseded
//    ones): then every mark was carried into the piece files before, and
//    the end of this run has to carry only the marks of the entries that
//    this run superseded, which it keeps.
struct AreaRun {
    std::vector<bool> present;  // by code, "aaa" first; empty until the first check
    bool exactNames = false;
    enum class Marks { Unknown, Carried, Uncertain } earlierMarks = Marks::Unknown;
    std::vector<std::pair<FileCode, uint8_t>> superseded;  // places (0-based slot) this run superseded
    int64_t controlBytes = -1;   // -1: not known
    FileCode storedCode{};
    int64_t storedBytes = -1;    // of the piece file storedCode; -1: not known
    util::Bytes control;
    platform::FileStamp controlStamp{};
    bool controlKnown = false;
    // The run's last store wrote the control file in sorted order (its
    // stamp and size are controlStamp and controlBytes): while it is so,
    // the end of the run has nothing to sort.
    bool controlSorted = false;

    AreaRun() = default;
    ~AreaRun();
    // Lets go of the control file's bytes.
    void forget_control() {
        control = {};
        controlKnown = false;
        controlSorted = false;
    }
    AreaRun(const AreaRun&) = delete;
    AreaRun& operator=(const AreaRun&) = delete;
};

// Stores one piece the way a run does: enters it in piece.ctl, writes its
// image into the slot it was given, then drops the control file's backup,
// or puts it back when the image could not be stored. The control entry
// and the directory entry carry the same time stamp.
// With `run`, what the store finds out or changes is kept in it.
// `lastOfRun`: no further piece follows in this run (with `run` only):
// the marks the end of the run would carry are carried first (also those
// of the entries this piece supersedes, unless one of them is in the piece
// file that takes the new image), and the piece is entered with the
// control file written in the order the end of the run's sort gives it, so
// that the end of the run has nothing left to write. The files come out as
// the end of the run leaves them.
StoreResult epn_store_piece(const AreaField& area, const PieceName& name, std::span<const uint8_t> image,
                            AreaRun* run = nullptr, bool lastOfRun = false);

// Enters a piece in piece.ctl (older entries of the same name superseded)
// and assigns its place: fileCode and slot (1..8). piece.ct$ keeps the
// previous control file until epn_ctl_end. Full when the area is full
// (every file code used); see the tests for each case.
CtlStatus epn_ctl_put(const PieceName& name, int32_t pieceImageLength, FileCode& fileCode,
                      int32_t& slot, const AreaField& area);

// After epn_pce_put: restore != 0 puts piece.ct$ back over piece.ctl; the
// backup is removed once piece.ctl is sound.
void epn_ctl_end(const AreaField& area, int32_t restore);

// Stores the image in slot `slot` (1..8) of piece file `fileCode`.
// ImageNotWritten when writing the image itself failed, and SlotTaken when
// the slot is not free (the piece file holds other than slot - 1 pieces, or
// its directory and length disagree): nothing is then changed.
PceStatus epn_pce_put(const FileCode& fileCode, int32_t slot, const PieceName& name,
                      std::span<const uint8_t> image, const AreaField& area);

// 1 if a valid entry of exactly this name is in piece.ctl. With `run`,
// from the bytes it keeps when the file is as it knows it, else read (and
// then kept).
int32_t epn_ctl_find(const AreaField& area, const PieceName& name);
int32_t epn_ctl_find(const AreaField& area, const PieceName& name, AreaRun& run);
// 1 if the area's drive has room for a piece of this length. Without a
// scan the piece files are walked one by one from "aaa"; with one, the
// scan is made at the first check and used from then on.
int32_t epn_space_check(const AreaField& area, int32_t pieceImageLength);
int32_t epn_space_check(const AreaField& area, int32_t pieceImageLength, AreaRun& scan);
// The bytes that check asks for: the control file and its backup, one
// more entry, the piece file that receives the piece (the last of the
// unbroken sequence from "aaa", 512 bytes if there is none) and its
// backup, and the image.
int64_t epn_space_needed(const AreaField& area, int32_t pieceImageLength, AreaRun* scan);
// Resets piece.ctl to a bare trailer and deletes the piece files; 1 if done.
int32_t epn_area_clear(const AreaField& area);
// Carries the superseded state of every control entry into its piece file.
void epn_mark_superseded(const AreaField& area);
// The same at the end of a run: only the entries that the run superseded,
// when the run found every earlier mark carried; else every entry.
void epn_mark_superseded(const AreaField& area, const AreaRun& run);
// Sets the state of one directory entry of a piece file. Results 0..4, and
// 5 when a read or write failed (the piece file is then restored).
int32_t epn_pce_mark(const AreaField& area, const FileCode& fileCode, int32_t slot,
                     int16_t state);

// What putting an area back in order came to.
struct RecoveryReport {
    std::vector<std::string> restored;  // names of the files put back
    std::vector<std::string> unsound;   // names of backups that do not hold together
    bool failed = false;                // a sound backup could not be put back
};

// Puts back piece.ctl and piece files from backups that a run which died in
// the middle of an update left behind, and deletes those backups and the
// temporary files of unfinished versions. Only sound backups are put back:
// when any backup is unsound, nothing is changed at all. A backup that
// could not be put back stays for the next attempt.
// With `run`, the listing of the directory that the recovery makes is
// also the space check's scan for the run (after what was put back), and
// when anything was put back the run carries every mark at its end.
RecoveryReport epn_recover_area(const AreaField& area, AreaRun* run = nullptr);
// The number of files put back (0: nothing to do); -1 when a backup was
// unsound or could not be put back.
int32_t epn_recover(const AreaField& area);

}  // namespace teilimp::writer
