// The results of the writer's steps that the programs report by number
// ("Achtung: Fehler in epn_ctl_put()     9"), each with its reason. The
// numbers are part of the console and stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace teilimp::writer {

// epn_ctl_put: entering a piece in the control file.
enum class CtlStatus : int32_t {
    Ok = 0,
    NotSetUp = 1,          // no control file to back up: the area was never cleared
    NotWritable = 2,       // the new version can't be made
    BackupUnreadable = 3,  // the control file (as backed up) can't be opened
    Damaged = 4,           // unreadable, or no trailer
    BadNextPlace = 5,      // the trailer's next place is no place
    EntryNotWritten = 6,
    NotWritten = 7,        // the trailer, or the new version's commit
    BadFileCode = 8,       // the next place after the new entry is no place
    Full = 9,              // every file code used
};

// epn_pce_put: storing an image in its slot of a piece file.
enum class PceStatus : int32_t {
    Ok = 0,
    BadPlace = 1,             // no such file code or slot
    NoBackup = 2,
    BackupUnreadable = 3,
    NotWritable = 4,
    HeadUnreadable = 5,
    DirectoryUnreadable = 6,
    HeadNotWritten = 7,
    DirectoryNotWritten = 8,
    EarlierNotCopied = 9,     // an image stored before could not be carried over
    ImageNotWritten = 10,
    SlotTaken = 11,           // the slot is not free: nothing was changed
};

// epn_ctl_sort: sorting the control file.
enum class SortStatus : int32_t {
    Ok = 0,
    CannotOpen = 1,   // piece.ctl can't be opened for writing
    NoMemory = 2,
    Unreadable = 3,   // a read failed before the trailer, or there is none
    NotWritten = 4,   // the sorted file could not be written (piece.ctl unchanged)
};

constexpr int32_t number(CtlStatus s) { return static_cast<int32_t>(s); }
constexpr int32_t number(PceStatus s) { return static_cast<int32_t>(s); }
constexpr int32_t number(SortStatus s) { return static_cast<int32_t>(s); }

// The reasons, in code page 850, for the line after the status; "" for Ok.
std::string reason(CtlStatus status);
// `pieceFile` names the piece file ("pieceaac.pce"; empty: "der Teiledatei").
std::string reason(PceStatus status, std::string_view pieceFile = {});
std::string reason(SortStatus status);
// The reason of CtlStatus::NotSetUp in an area whose control file is
// missing while its piece files are there: they can be brought back, and
// clearing the area would delete them.
std::string control_missing_reason();

}  // namespace teilimp::writer
