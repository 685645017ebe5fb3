// Feeds arbitrary bytes to the piece-image decoder: it never reads past the
// bytes, reports a fault inside them, and whatever it accepts encodes back
// to exactly the bytes it was given.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "reader/piece_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace teilimp::reader;
    PieceModel model;
    ImageFault fault;
    if (!decode_piece(std::span<const uint8_t>(data, size), nullptr, model, fault)) {
        if (fault.offset > size || fault.what.empty()) std::abort();
        return 0;
    }
    std::vector<uint8_t> again;
    if (!encode_piece(model, again, fault)) std::abort();
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
    return 0;
}
