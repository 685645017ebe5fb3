// AAMA-DXF and ASTM D6673 files of one style: ASCII DXF R12 (AC1009), CR LF
// line ends, 7-bit ASCII, a short HEADER, no TABLES, one BLOCK (flag 64) per
// piece and one INSERT per block at 0,0 in ENTITIES, layers named by their
// numbers. What a piece image holds that the format has no place for goes
// into TEXT entities on layer 15 that begin with "TEILIMP " (the README's
// table of the mapping): with them and the geometry our own reader rebuilds
// the identical piece.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "reader/piece_model.h"
#include "rul/rul_writer.h"

namespace teilimp::dxf {

enum class Flavour { Astm, Aama };

// Layers, by number.
enum Layer : int {
    kLayerBoundary = 1,
    kLayerTurnPoint = 2,
    kLayerNotch = 4,
    kLayerMirror = 6,
    kLayerGrain = 7,
    kLayerInternal = 8,
    kLayerDrill = 13,
    kLayerAnnotation = 15,
};

// The version of the "TEILIMP " attribute texts.
constexpr int kAttributeVersion = 1;

struct StyleHeader {
    std::string styleName;     // Style Name: (the area)
    std::string author;        // Author:
    std::string rulName;       // Grade Rule Table: the RUL file's name
    platform::CalendarTime created;
    Flavour flavour = Flavour::Astm;
    rul::Units units = rul::Units::Mm;
};

// The DXF text of a style, piece by piece into a text the caller empties
// as it likes: dxf_begin, then dxf_block for each piece (k its place in the
// file from 0, firstRule the number of its first rule, as the style's RUL
// file numbers them; returns the block's name), then dxf_end with any piece
// of the style and the names of the blocks.
void dxf_begin(std::string& out);
std::string dxf_block(std::string& out, const reader::PieceModel& m, size_t k, int64_t firstRule,
                      const StyleHeader& h);
void dxf_end(std::string& out, const reader::PieceModel& style, const std::vector<std::string>& blocks,
             const StyleHeader& h);

// The notch code as the attribute texts write it ("-" for none).
std::string_view notch_token(reader::NotchCode code);

}  // namespace teilimp::dxf
