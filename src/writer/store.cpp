// Storing one piece: the control entry, the image, and the end of the
// update, with one time stamp for both files.
#include "util/filesearch.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

// True when the control file has this stamp and size now.
bool control_is(const AreaField& area, const platform::FileStamp& stamp, int64_t size) {
    const std::string ctl = area_path(area, AreaFile::Control);
    platform::FileStamp now;
    return platform::file_stamp(ctl, now) && now == stamp && util::filesize(ctl) == size;
}

}  // namespace

bool LastStore::bytes_current(const AreaField& area) const {
    return known_ && control_is(area, stamp_, static_cast<int64_t>(control_.size()));
}

bool LastStore::written_sorted(const AreaField& area) const {
    return sorted_ && control_is(area, stamp_, controlBytes_);
}

bool LastStore::read(const AreaField& area) {
    known_ = false;
    const std::string ctl = area_path(area, AreaFile::Control);
    bool done = platform::file_stamp(ctl, stamp_);
    if (done) {
        platform::File f = platform::open_file(ctl, platform::OpenMode::Read);
        done = f.is_open() && io::read_all(f, control_);
        if (f.is_open()) platform::close_file(f);
    }
    if (!done) control_ = {};
    known_ = done;
    return done;
}

bool LastStore::load(const AreaField& area) { return bytes_current(area) || read(area); }

util::Bytes& LastStore::begin_store(const AreaField& area, bool& current) {
    sorted_ = false;
    current = bytes_current(area);
    known_ = false;  // known again only when stored
    controlBytes_ = storedBytes_ = -1;
    return control_;
}

void LastStore::stored(const AreaField& area, int64_t controlSize, bool writtenSorted, const FileCode& code,
                       int64_t pieceSize) {
    // The stamp of the version just put in place (the run holds the
    // area's lock: nobody else changes it).
    known_ = platform::file_stamp(area_path(area, AreaFile::Control), stamp_);
    controlBytes_ = controlSize;
    if (writtenSorted) {
        sorted_ = known_;
        known_ = false;
    }
    storedCode_ = code;
    storedBytes_ = pieceSize;
}

util::Bytes LastStore::take_bytes(const AreaField& area) {
    util::Bytes kept;
    if (bytes_current(area)) kept = std::move(control_);
    forget();
    return kept;
}

void LastStore::forget() {
    control_ = {};
    known_ = false;
    sorted_ = false;
}

StoreResult epn_store_piece(const AreaField& area, const PieceName& name, std::span<const uint8_t> image,
                            AreaRun* run, bool lastOfRun) {
    StoreResult r;
    const int32_t stamp = time_stamp_now();
    const auto length = static_cast<int32_t>(image.size());
    CtlPutRequest request;
    CtlPutNotes notes;
    // The run's last piece: once every mark the end of the run would carry
    // is in the piece files (the run's earlier ones, and those of the
    // entries this piece supersedes, whose files keep their backups until
    // the store is through), the control entry goes in with the file
    // written in sorted order, and the end of the run has nothing left to
    // do. A sorted control file tells the next run that every mark is
    // carried, so it must not be written before they are.
    EarlyMarks early;
    request.sortedWrite = run != nullptr && lastOfRun && carry_marks_before_last(area, *run) &&
                        mark_replaced_early(area, *run, name, early);
    request.checkState = run != nullptr && run->earlier_marks() == AreaRun::Marks::Unknown;
    if (run != nullptr) request.control = &run->last.begin_store(area, request.controlKnown);
    r.ctl = ctl_put_stamped(name, length, stamp, r.code, r.slot, area, request, &notes);
    if (r.ctl != CtlStatus::Ok) undo_early_marks(early);
    r.replaced = notes.replaced;
    // The state before the run's first change (a failed update leaves the
    // file as it was).
    if (request.checkState && notes.stateChecked) run->found_earlier_marks(notes.finishedState);
    if (r.ctl != CtlStatus::Ok) return r;
    int64_t pieceBytes = -1;
    r.pce = pce_put_stamped(r.code, r.slot, name, image, stamp, area, &pieceBytes);
    // The early marks go with the control update: undone with it, or their
    // backups dropped before its own (a store that dies in between is then
    // carried forward whole by the recovery).
    if (r.pce != PceStatus::Ok) undo_early_marks(early);
    else drop_early_backups(early);
    epn_ctl_end(area, r.pce != PceStatus::Ok ? 1 : 0);
    if (run == nullptr) return r;
    if (r.pce == PceStatus::Ok) {
        run->last.stored(area, notes.newSize, notes.writtenSorted, r.code, pieceBytes);
        // Marks still to carry at the end of the run (not those made early).
        if (!notes.writtenSorted) run->superseded_by_store(notes.superseded);
    }
    // Slot 1 creates the piece file (or finds one left behind).
    if (r.slot == 1) note_piece_file(area, r.code, *run);
    return r;
}

}  // namespace teilimp::writer
