// Reading one EPN file into a piece: its name and its byte image.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "reader/piece_model.h"

namespace teilimp::reader {

// Statuses of epn_read (0 = success).
enum : int32_t {
    kEpnOk = 0,
    kEpnNoPerimeterTable = 1,
    kEpnNoInternalTable = 2,
    kEpnCannotOpen = 3,
    kEpnBadHeaderOrTrailer = 4,
    kEpnBadPieceKind = 5,
    kEpnNoSizeTable = 6,
    kEpnNoStepTable = 7,
    kEpnNoGradeTable = 8,
    kEpnNoSectionBuffers = 9,
    kEpnNoImage = 10,
    // The file breaks a limit of the piece image: more than 10000 perimeter
    // or 20000 internal points; a size count below 1 or above 32767; a
    // coordinate or grade value whose tenfold does not fit in int32; a
    // coordinate or grade value that does not fit after the turn onto the
    // grain line; a grade step (difference of neighbouring sizes) that does
    // not fit in int32; or a piece image longer than 256 MiB.
    kEpnOutOfLimits = 11,
    // The piece has no name: its name field is blank or NUL to its end. Such
    // a piece could not be told from another nameless one in the area.
    kEpnNoName = 12,
};

// The piece as the reader delivers it. Valid from a successful epn_read until
// the next call with the same Piece.
struct Piece {
    std::array<char, 20> pieceName{};  // upper-cased, NUL after its significant length
    std::vector<uint8_t> image;        // pieceImage; its size is pieceImageLength
    // The same piece as a model: `image` is its encoding (on success).
    PieceModel model;
    // Where the reading stopped, also after a failure: the number (from 1)
    // of the last line of the file that was read; 0 when no line was read
    // (the file could not be opened or is empty). On success the last line
    // the piece needed.
    int32_t stopLine = 0;

    int32_t imageLength() const { return static_cast<int32_t>(image.size()); }
};

// Reads the EPN file named by fileName(1:fileNameLength) (a negative length
// counts as 0). contourReversed / grainRotated are set to 0 on entry and to
// 1 when the contour was reversed / the piece turned. Returns the status.
int32_t epn_read(const char* fileName, int32_t fileNameLength, int32_t& contourReversed,
                 int32_t& grainRotated, Piece& piece);

// The same on the bytes of a file that is already in memory (no open, no
// retry). Used by epn_read and by the fuzzer.
int32_t epn_parse(std::span<const uint8_t> bytes, int32_t& contourReversed,
                  int32_t& grainRotated, Piece& piece);

}  // namespace teilimp::reader
