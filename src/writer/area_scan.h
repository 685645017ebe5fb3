// Reading the shape of area files without changing them: the record
// structure of a control file, the directory chain of a piece file, and the
// piece files present in an area. The soundness tests here decide whether
// a file (or a backup of one) can be used as it is.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "writer/area_files.h"
#include "writer/records.h"

namespace teilimp::writer {

struct CtlLayout {
    int64_t size = 0;
    int64_t entryCount = 0;           // records before the first trailer
    bool trailerFound = false;
    int64_t recordsAfterTrailer = 0;  // whole records behind the trailer
    int64_t firstBadPlace = -1;       // first entry with an invalid file code or a slot above 7
};

CtlLayout ctl_layout(std::span<const uint8_t> bytes);
// A control file that can be used as it is: a positive multiple of 64
// bytes whose last record is its only trailer, every entry naming a valid
// file code and a slot 0..7.
bool ctl_sound(const CtlLayout& layout);
bool ctl_sound(std::span<const uint8_t> bytes);

struct PceLayout {
    int64_t size = 0;
    bool complete = false;    // header and directory present
    std::array<uint8_t, kPceHeaderSize> header{};
    PceDirectory dir{};
    int usedSlots = 0;        // slots 1.. whose images lie back to back from byte 528
    int64_t imagesEnd = 0;    // the end of the last used slot's image
};

// The used slots are the chain from slot 1 on of entries with a positive
// length, each starting where the one before ended (the first at 528) and
// ending within the file. Entries after the chain are not part of it.
PceLayout pce_layout(std::span<const uint8_t> bytes);
// The same from the file's first bytes (header and directory; fewer when
// the file is shorter) and its length.
PceLayout pce_layout(std::span<const uint8_t> head, int64_t size);
// The layout of the piece file at `path`, read from disk (not complete
// when it can't be read).
PceLayout read_pce_layout(const std::string& path);
// Header, directory and length agree: the file ends where its last used
// slot's image ends.
bool pce_sound(const PceLayout& layout);
bool pce_sound(std::span<const uint8_t> bytes);

// A backup that may be put back, judged by the name's ending: piece.ct$
// when ctl_sound; a piece file's backup (.pc$) when pce_sound with at least
// one piece and no directory entry beyond them; other files count as
// sound. False when it can't be read.
bool backup_sound(const std::string& path);

// The place after `code`/`slot` (0-based): the next slot, or slot 0 of the
// next file code.
void next_place(FileCode& code, uint8_t& slot);
// Orders places (file code, then slot).
bool place_less(const FileCode& a, uint8_t slotA, const FileCode& b, uint8_t slotB);

// The codes of the piece files ("piece<code>.pce") present in the area, in
// code order.
std::vector<FileCode> piece_file_codes(const AreaField& area);
std::vector<FileCode> piece_file_codes(const AreaFiles& files);  // of a listing already made

// What an area holds, as far as its files can be read (for the user, before
// a clear): the piece files present and the valid pieces, counted from a
// sound control file, else from the piece files' directories.
struct AreaContents {
    bool ctlPresent = false;
    bool ctlSound = false;  // present, readable and sound
    int64_t pieceFiles = 0;
    int64_t validPieces = 0;
};
AreaContents area_contents(const AreaField& area);
// True when piece.ctl is missing while piece files are there: a repair
// rebuilds it from them (a clear would delete them).
bool control_missing_with_pieces(const AreaField& area);

}  // namespace teilimp::writer
