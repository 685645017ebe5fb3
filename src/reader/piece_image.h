// The piece image, the bytes a slot of a piece file holds: its header, size
// table, rule blocks, perimeter and internal lines, then six zero bytes.
// encode_piece and decode_piece (declared with the model, in
// reader/piece_model.h) write and read it field by field; this header holds
// the layout's constants and the record conversions the reader uses.
#pragma once

#include <cstdint>

#include "reader/epn_points.h"
#include "reader/piece_model.h"

namespace teilimp::reader {

constexpr int32_t kPieceHeaderLength = 98;
constexpr int32_t kSizeEntryLength = 10;
constexpr int32_t kRuleHeaderLength = 26;
constexpr int32_t kRuleStepLength = 8;
constexpr int32_t kLineHeaderLength = 10;
constexpr int32_t kClosingBytes = 6;
constexpr uint8_t kHeaderMark = 0x42;

// The length of the model's image, as encode_piece would write it (64 bits:
// a model may claim more than any image can hold).
int64_t image_length(const PieceModel& m);

}  // namespace teilimp::reader
