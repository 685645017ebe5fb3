// Writing a piece as an EPN file, the format the importer reads.
#pragma once

#include <string>

#include "reader/piece_model.h"

namespace teilimp::reader {

// The EPN text of the piece (lines ending in CR LF, bytes of the texts as
// stored, code page 850). EPN files hold whole EPN units; every stored
// value (tenths) is written rounded half away from zero to whole units, in
// the stored frame (the piece as turned on its import), so importing the
// file gives a piece within half a unit of this one, and writing that piece
// again gives the same bytes (a fixed point). A piece whose stored values
// are all whole units comes back as the identical image.
//
// The grade lines hold each rule's values per size relative to the base
// size (0, 0 there); a one-size piece's rule its own values. Contour points
// come first, then the internal lines point by point. What the image does
// not hold (point types inside a line, the "O" flags) is written so that
// the importer rebuilds the same lines: a two-point line of type 'G' or 'M'
// carries the type on both points, "O" on the second point of the grain
// line (and of a mirror line behind it), every other line its type on its
// last point.
std::string write_epn(const PieceModel& m);

}  // namespace teilimp::reader
