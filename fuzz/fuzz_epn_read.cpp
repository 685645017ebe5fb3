// Feeds arbitrary bytes to the EPN reader. Besides the sanitizers' checks it
// verifies what every accepted piece must satisfy (its image decodes and
// encodes back to the same bytes), and that reading is repeatable.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "reader/epn_reader.h"
#include "reader/piece_image.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

int32_t get16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<int16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace teilimp::reader;
    const std::span<const uint8_t> bytes(data, size);
    // Kept between inputs as a run keeps its piece: a large image then finds
    // its room already there instead of fresh pages.
    static Piece piece;
    static Piece again;
    static PieceModel decoded;
    static std::vector<uint8_t> encoded;
    int32_t reversed = -1, rotated = -1;
    const EpnStatus status = epn_parse(bytes, reversed, rotated, piece);
    check(number(status) >= 0 && number(status) <= number(kEpnHighestStatus));
    if (status != EpnStatus::Ok) {
        check(piece.image.empty());
        return 0;
    }

    const std::vector<uint8_t>& image = piece.image;
    check(image.size() >= 98 + 10 + 6 && image.size() <= 256u * 1024 * 1024);
    check(reversed == 0 || reversed == 1);
    check(rotated == 0 || rotated == 1);
    check(image[79] == 'B');
    const int32_t sizeCount = get16(image, 42);
    check(sizeCount >= 1);
    check(get16(image, 44) == (sizeCount > 2 ? sizeCount - 2 : 0));
    check(get16(image, 86) == get16(image, 88));
    for (size_t i = image.size() - 6; i < image.size(); ++i) check(image[i] == 0);

    // Every image the reader makes decodes to the reader's model (under the
    // piece's name), and encodes back to itself.
    ImageFault fault;
    check(decode_piece(image, &piece.pieceName, decoded, fault));
    check(decoded == piece.model);
    check(encode_piece(decoded, encoded, fault));
    check(encoded == image);

    int32_t reversed2 = -1, rotated2 = -1;
    check(epn_parse(bytes, reversed2, rotated2, again) == EpnStatus::Ok);
    check(again.image == image && again.pieceName == piece.pieceName);
    check(reversed2 == reversed && rotated2 == rotated);
    return 0;
}
