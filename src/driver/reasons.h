// Plain reasons for the statuses the run reports, in the words of the
// people who use the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "reader/epn_reader.h"

namespace teilimp::driver {

// Who reported a status.
enum class StatusSource {
    Conversion,     // epn_read ("Fehler beim Konvertieren:")
    ControlUpdate,  // epn_ctl_put
    PieceFile,      // epn_pce_put
    Sort,           // epn_ctl_sort
};

// The reason line shown right after a status line: three blanks and the
// reason in parentheses, in code page 850. Reasons of a conversion that
// stopped at a line of the EPN file begin with "Zeile <stopLine>: ";
// reasons of a piece file name it (`pieceFile`, "pieceaac.pce").
std::string reason_line(StatusSource source, int32_t status, int32_t stopLine = 0,
                        std::string_view pieceFile = {});
// The reason line of epn_ctl_put's status 1 in an area whose control file
// is missing while its piece files are there: they can be brought back,
// and clearing the area would delete them.
std::string control_missing_reason_line();

// The reason line of a conversion that failed with `status` on `piece`.
std::string conversion_reason_line(int32_t status, const reader::Piece& piece);

// The line after a converted file's line when its base size is none of its
// sizes (piece.baseSizeLine != 0); "" when it is one.
std::string base_size_warning(const reader::Piece& piece);

}  // namespace teilimp::driver
