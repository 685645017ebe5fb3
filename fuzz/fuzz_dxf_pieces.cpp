// Feeds arbitrary bytes through the DXF reader into the conversion to
// pieces, without and with a RUL table: besides the sanitizers' checks,
// every piece it accepts has an image that decodes and encodes back to the
// same bytes, and every refused one a reason and no image.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "dxf/dxf_pieces.h"
#include "reader/piece_image.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

const teilimp::rul::RuleTable& rules() {
    static teilimp::rul::RuleTable table = [] {
        constexpr std::string_view text =
            "UNITS: METRIC\nSIZE LIST: S M L\nSAMPLE SIZE: M\nRULE: DELTA 1\n-5 -5 0 0 5 5\n"
            "RULE: DELTA 2\n-1e9 0 0 0 1e9 0\nRULE: DELTA 3\n0 0 0 0 0 0\nEND\n";
        teilimp::rul::RuleTable t;
        teilimp::rul::parse_rul({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, t);
        return t;
    }();
    return table;
}

void check_file(const teilimp::dxf::DxfFile& file) {
    using namespace teilimp;
    static reader::PieceModel decoded;
    static std::vector<uint8_t> encoded;
    check(file.status == teilimp::dxf::DxfStatus::Ok ? !file.pieces.empty() : file.pieces.empty() && !file.reason.empty());
    for (const dxf::DxfPiece& p : file.pieces) {
        if (p.status != dxf::DxfStatus::Ok) {
            check(p.piece.image.empty() && !p.reason.empty());
            continue;
        }
        // A piece of our own export keeps its contour as stored, also one of one point.
        check(p.name.size() <= 20 && p.contourPoints >= 1 && p.sizeCount >= 1);
        reader::ImageFault fault;
        check(reader::decode_piece(p.piece.image, nullptr, decoded, fault));
        check(reader::encode_piece(decoded, encoded, fault));
        check(encoded == p.piece.image);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace teilimp::dxf;
    static Drawing drawing;
    if (read_dxf(std::span<const uint8_t>(data, size), drawing, counted_only) != ReadStatus::Ok) return 0;
    check_file(convert_drawing(drawing, nullptr));
    check_file(convert_drawing(drawing, &rules()));
    return 0;
}
