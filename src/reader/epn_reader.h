// Reading one EPN file into a piece: its name and its byte image.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reader/piece_model.h"
#include "util/bytes.h"

namespace teilimp::reader {

// Statuses of epn_read (Ok = 0 = success). The numbers are part of the
// console ("Fehler beim Konvertieren:    11") and stay as they are.
enum class EpnStatus : int32_t {
    Ok = 0,
    NoPerimeterTable = 1,
    NoInternalTable = 2,
    CannotOpen = 3,
    BadHeaderOrTrailer = 4,
    BadPieceKind = 5,
    NoSizeTable = 6,
    NoStepTable = 7,
    NoGradeTable = 8,
    NoSectionBuffers = 9,
    NoImage = 10,
    // The file breaks a limit of the piece image: more than 10000 perimeter
    // or 20000 internal points; a size count below 1 or above 32767; a
    // coordinate or grade value whose tenfold does not fit in int32; a
    // coordinate or grade value that does not fit after the turn onto the
    // grain line; a grade step (difference of neighbouring sizes) that does
    // not fit in int32; or a piece image longer than 256 MiB.
    OutOfLimits = 11,
    // The piece has no name: its name field is blank or NUL to its end. Such
    // a piece could not be told from another nameless one in the area.
    NoName = 12,
    // A number of a point line (point number, rule number, x, y) or of a
    // grade line is no number: a letter, a tab, a stray character. Taken as
    // 0 it would store a wrong piece without a word.
    UnreadableNumber = 13,
};
constexpr EpnStatus kEpnHighestStatus = EpnStatus::UnreadableNumber;
constexpr int32_t number(EpnStatus status) { return static_cast<int32_t>(status); }

// The piece as the reader delivers it. Valid from a successful epn_read until
// the next call with the same Piece.
struct Piece {
    std::array<char, 20> pieceName{};  // upper-cased, NUL after its significant length
    util::Bytes image;                 // pieceImage; its size is pieceImageLength
    // The same piece as a model: `image` is its encoding (on success).
    PieceModel model;
    // Where the reading stopped, also after a failure: the number (from 1)
    // of the last line of the file that was read; 0 when no line was read
    // (the file could not be opened or is empty). On success the last line
    // the piece needed.
    int32_t stopLine = 0;
    // Status 4: true when the file ended before all its size-name or grade
    // lines were read; false when its header or trailer is missing or
    // unreadable.
    bool incomplete = false;
    // On success: the trailer's line when its base size is none of the
    // sizes (the first size then counts as the base); 0 when it is one.
    int32_t baseSizeLine = 0;

    int32_t imageLength() const { return static_cast<int32_t>(image.size()); }
};

// Reads the EPN file named by fileName(1:fileNameLength) (a negative length
// counts as 0). contourReversed / grainRotated are set to 0 on entry and to
// 1 when the contour was reversed / the piece turned. Returns the status.
EpnStatus epn_read(const char* fileName, int32_t fileNameLength, int32_t& contourReversed,
                   int32_t& grainRotated, Piece& piece);

// The same on the bytes of a file that is already in memory (no open, no
// retry). Used by epn_read and by the fuzzer.
EpnStatus epn_parse(std::span<const uint8_t> bytes, int32_t& contourReversed,
                    int32_t& grainRotated, Piece& piece);

// The reason of a failed conversion, in code page 850, for the line after
// its status: what went wrong, for most statuses with the line of the file
// where the reading stopped ("Zeile 3: Zahl unlesbar"). "" for Ok.
std::string epn_reason(EpnStatus status, const Piece& piece);
// The line after a converted file's line when its base size is none of its
// sizes (piece.baseSizeLine != 0); "" when it is one.
std::string base_size_warning(const Piece& piece);

}  // namespace teilimp::reader
