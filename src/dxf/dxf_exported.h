// Reading back what teilarea export wrote. Its pieces are already in the
// normal form and carry in their "TEILIMP " texts (layer 15) everything an
// image holds beyond the geometry, so they are rebuilt exactly, not
// converted: no turn, no rounding beyond the file's own, the same image
// bytes as the area held.
#pragma once

#include "dxf/dxf_reader.h"
#include "reader/piece_model.h"
#include "rul/rul_reader.h"

namespace teilimp::dxf {

// A value of the file in stored tenths (`tenthsPerUnit` of them to the
// file's unit), rounded half away from zero; false beyond 32 bits.
bool to_tenths(double value, double tenthsPerUnit, int32_t& out);

// True when the drawing says it was written by our export (its
// "TEILIMP EXPORT <version>" text among the entities).
bool written_by_export(const Drawing& drawing);

// What the block's numbers mean: stored tenths per DXF unit and per RUL
// unit (10 for millimetres, 254 for inches).
struct ExportUnits {
    double dxfTenths = 10;
    double rulTenths = 10;
};

// The piece of one block of our export, rebuilt from its geometry, its
// texts and the style's rules (null when the style has no RUL file: then
// only a piece of one size can be rebuilt). False when the block is not
// one of ours or does not agree with itself (an edited file: a point moved,
// a text lost, rules of another style): the caller then converts it like
// any other block. A model that encode_piece refuses cannot have come from
// an area either.
bool rebuild_exported(const Block& block, const rul::RuleTable* rules, ExportUnits units, reader::PieceModel& m);

}  // namespace teilimp::dxf
