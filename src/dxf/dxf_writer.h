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

// The DXF text of a style. `numbers` is the style's rule numbering, the
// one its RUL file is written with.
std::string write_dxf(const rul::Style& style, const rul::RuleNumbers& numbers, const StyleHeader& header);

// The notch code as the attribute texts write it ("-" for none).
std::string_view notch_token(reader::NotchCode code);

}  // namespace teilimp::dxf
