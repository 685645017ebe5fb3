// Storing one piece: the control entry, the image, and the end of the
// update, with one time stamp for both files.
#include "util/filesearch.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

bool control_as_known(const AreaField& area, const AreaRun& run) {
    if (!run.controlKnown) return false;
    const std::string ctl = area_path(area, AreaFile::Control);
    platform::FileStamp now;
    return platform::file_stamp(ctl, now) && now == run.controlStamp &&
           util::filesize(ctl) == static_cast<int64_t>(run.control.size());
}

bool control_unchanged(const AreaField& area, const AreaRun& run) {
    const std::string ctl = area_path(area, AreaFile::Control);
    platform::FileStamp now;
    return platform::file_stamp(ctl, now) && now == run.controlStamp && util::filesize(ctl) == run.controlBytes;
}

bool read_control_into(const AreaField& area, AreaRun& run) {
    run.controlKnown = false;
    const std::string ctl = area_path(area, AreaFile::Control);
    if (!platform::file_stamp(ctl, run.controlStamp)) return false;
    platform::File f = platform::open_file(ctl, platform::OpenMode::Read);
    if (!f.is_open()) return false;
    const bool done = io::read_all(f, run.control);
    platform::close_file(f);
    run.controlKnown = done;
    return done;
}

StoreResult epn_store_piece(const AreaField& area, const PieceName& name, std::span<const uint8_t> image,
                            AreaRun* run, bool lastOfRun) {
    StoreResult r;
    const int32_t stamp = time_stamp_now();
    const auto length = static_cast<int32_t>(image.size());
    CtlPutNotes notes;
    if (run != nullptr) run->controlSorted = false;
    // The run's last piece: once every mark the end of the run would carry
    // is in the piece files (the run's earlier ones, and those of the
    // entries this piece supersedes, whose files keep their backups until
    // the store is through), the control entry goes in with the file
    // written in sorted order, and the end of the run has nothing left to
    // do. A sorted control file tells the next run that every mark is
    // carried, so it must not be written before they are.
    EarlyMarks early;
    notes.sortedWrite = run != nullptr && lastOfRun && carry_marks_before_last(area, *run) &&
                        mark_replaced_early(area, *run, name, early);
    notes.checkState = run != nullptr && run->earlierMarks == AreaRun::Marks::Unknown;
    if (run != nullptr) {
        notes.control = &run->control;
        notes.controlKnown = control_as_known(area, *run);
        run->controlKnown = false;  // known again only when stored
    }
    r.ctl = ctl_put_stamped(name, length, stamp, r.code, r.slot, area, &notes);
    if (r.ctl != CtlStatus::Ok) undo_early_marks(early);
    r.replaced = notes.replaced;
    // The state before the run's first change (a failed update leaves the
    // file as it was).
    if (notes.checkState && notes.stateChecked)
        run->earlierMarks = notes.finishedState ? AreaRun::Marks::Carried : AreaRun::Marks::Uncertain;
    if (run != nullptr) run->controlBytes = run->storedBytes = -1;  // known again only when stored
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
        // The stamp of the version just put in place (the run holds the
        // area's lock: nobody else changes it).
        run->controlKnown = platform::file_stamp(area_path(area, AreaFile::Control), run->controlStamp);
        run->controlBytes = notes.newSize;
        if (notes.writtenSorted) {
            run->controlSorted = run->controlKnown;
            run->controlKnown = false;
        }
        run->storedCode = r.code;
        run->storedBytes = pieceBytes;
    }
    // Marks still to carry at the end of the run (not those made early).
    if (r.pce == PceStatus::Ok && !notes.writtenSorted)
        run->superseded.insert(run->superseded.end(), notes.superseded.begin(), notes.superseded.end());
    // Slot 1 creates the piece file (or finds one left behind).
    if (r.slot == 1) note_piece_file(area, r.code, *run);
    return r;
}

}  // namespace teilimp::writer
