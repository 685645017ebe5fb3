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

// What the run's last store left of the control file and of the piece
// file it stored into, so that the next lookup, space check, store or the
// end of the run need not read or ask for them again (one read of the
// control file per run instead of one or two per piece).
//
// What it caches, and when each part is valid:
//  - the control file's bytes, with the stamp the file had when they were
//    read or written: valid while `bytes_current` says so, that is while
//    the file has that stamp and as many bytes (a file changed behind the
//    run's back is then read again). Known after a read (`load`) and after
//    a store that wrote them; unknown from the moment a store begins, and
//    after a failed store or a failed read.
//  - the control file's size and the size of the piece file the last
//    store wrote into (`control_size`, `piece_size`): the sizes that the
//    last successful store left; -1 (unknown) from the moment a store
//    begins until it has succeeded.
//  - whether the last store wrote the control file in sorted order
//    (`written_sorted`): true only while the file still has the stamp and
//    size that store left, and then the kept bytes are not the file's
//    (they are unknown).
// Who may change it: the store (`begin_store`, `stored`, between them the
// control update works on `bytes_for_update`), `load` (lookups and the
// marks before the run's last store), and the end of the run, which takes
// the bytes (`take_bytes`) or lets go of them (`forget`). It is only
// valid while the run holds the area's lock.
class LastStore {
public:
    // True when the kept control-file bytes are the file's now.
    bool bytes_current(const AreaField& area) const;
    // Makes the kept bytes the file's: true when they are so already, or
    // the file was read whole (its stamp taken first, so that a change
    // meanwhile shows). False leaves nothing kept.
    bool load(const AreaField& area);
    // Reads the control file whole, also when the kept bytes are current.
    bool read(const AreaField& area);
    // The kept bytes; the file's only while bytes_current() is true.
    const util::Bytes& bytes() const { return control_; }
    bool bytes_known() const { return known_; }
    const platform::FileStamp& stamp() const { return stamp_; }

    // The control file's size after the last store; -1: not known.
    int64_t control_size() const { return controlBytes_; }
    // The size of piece file `code` after the last store, when it is the
    // file that store wrote into; -1 otherwise.
    int64_t piece_size(const FileCode& code) const {
        return storedBytes_ >= 0 && code == storedCode_ ? storedBytes_ : -1;
    }
    // True when the last store wrote the control file sorted and the file
    // is still that version (same stamp and size).
    bool written_sorted(const AreaField& area) const;

    // A store begins: nothing is known until it has succeeded. `current`
    // tells whether the kept bytes are the file's (the control update then
    // works on them instead of reading the file). Returns the buffer that
    // the control update reads the file into and leaves its new version in.
    util::Bytes& begin_store(const AreaField& area, bool& current);
    // The store succeeded: the control file has `controlSize` bytes, which
    // are those in the buffer unless it was `writtenSorted`; piece file
    // `code` has `pieceSize` bytes.
    void stored(const AreaField& area, int64_t controlSize, bool writtenSorted, const FileCode& code,
                int64_t pieceSize);

    // Hands over the kept bytes when they are the file's (else empty) and
    // lets go of them.
    util::Bytes take_bytes(const AreaField& area);
    // Lets go of the control file's bytes (and of the sorted write).
    void forget();

private:
    util::Bytes control_;
    platform::FileStamp stamp_{};  // of the control file, when control_ was read or written
    bool known_ = false;           // control_ is the file's as of stamp_
    bool sorted_ = false;          // the last store wrote the file sorted: stamp_ and controlBytes_ are its
    int64_t controlBytes_ = -1;
    FileCode storedCode_{};
    int64_t storedBytes_ = -1;     // of the piece file storedCode_
};

// What one run knows of its area (the area's lock keeps other importers
// out meanwhile), so that it need not find it out again for every piece.
// The program's front only holds it and passes it to the writer: the space
// check and the recovery make its scan, epn_store_piece keeps the scan,
// the marks and the last store current, and the end of the run carries
// the marks and sorts. All of it is valid only while the run holds the
// area's lock.
class AreaRun {
public:
    // Whether the control file was, before the run's first piece, in the
    // state that a finished run leaves (valid entries, then superseded
    // ones): then every mark was carried into the piece files before, and
    // the end of this run has to carry only the marks of the entries that
    // this run superseded, which it keeps.
    enum class Marks { Unknown, Carried, Uncertain };
    using Places = std::vector<std::pair<FileCode, uint8_t>>;  // (file code, 0-based slot)

    AreaRun() = default;
    ~AreaRun();
    AreaRun(const AreaRun&) = delete;
    AreaRun& operator=(const AreaRun&) = delete;

    // The piece files, as the space check counts them: which codes have a
    // piece file, for the unbroken sequence from "aaa". Found by one
    // directory search at the run's first check (or taken from the
    // recovery's listing) and kept current as the run creates piece files.
    bool scanned() const { return !present_.empty(); }
    // `present` holds every code, "aaa" first. `exactNames`: every name of
    // the area's files is in lower case, as the writer writes them (the
    // system has been told so): then, while the run lives, a name that
    // does not exist exactly is missing, without a search for it in
    // another case. Once true it stays so.
    void set_scan(std::vector<bool> present, bool exactNames);
    // Whether the piece file of `code` is there now (kept only once scanned).
    void note_piece_file(size_t codeIndex, bool there);
    // How many piece files follow one another from "aaa" without a gap.
    size_t unbroken_piece_files() const;
    const std::vector<bool>& present() const { return present_; }
    bool exact_names() const { return exactNames_; }

    // The earlier marks: Unknown until the run's first store (or the marks
    // before its last) has seen the control file, then Carried or
    // Uncertain; Carried again once every mark is carried.
    Marks earlier_marks() const { return earlierMarks_; }
    // The control file was seen in the state a finished run leaves, or not
    // (taken only while the marks are Unknown).
    void found_earlier_marks(bool finished);
    // Files were put back from backups: no mark already in the piece files
    // is taken on trust.
    void distrust_earlier_marks() { earlierMarks_ = Marks::Uncertain; }
    // The places of the entries that a store of this run superseded, whose
    // marks the end of the run carries.
    void superseded_by_store(const Places& places);
    const Places& superseded() const { return superseded_; }
    // Every mark that the end of the run would carry is carried.
    void marks_carried();

    // What the run's last store left (see LastStore).
    LastStore last;

private:
    std::vector<bool> present_;  // by code, "aaa" first; empty until scanned
    bool exactNames_ = false;
    Marks earlierMarks_ = Marks::Unknown;
    Places superseded_;          // not yet carried
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
