// Decoding piece images: what the reader built comes back field by field,
// and encoding the decoded image gives the same bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reader/epn_reader.h"
#include "reader/piece_image.h"
#include "support/epn_builder.h"
#include "support/test_util.h"

namespace teilimp::reader {
namespace {

using testing::EpnFile;
using testing::EpnGrade;
using testing::EpnPointLine;

Piece read_text(const std::string& text) {
    Piece piece;
    int32_t reversed = 0, rotated = 0;
    EXPECT_EQ(epn_parse({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, reversed, rotated, piece), EpnStatus::Ok);
    return piece;
}

// Decodes (to the reader's own model), re-encodes and compares; returns
// the decoded model.
PieceModel round_trip(const Piece& piece, const std::string& what) {
    PieceModel model;
    ImageFault fault;
    EXPECT_TRUE(decode_piece(piece.image, &piece.pieceName, model, fault)) << what << ": " << fault.what << " at " << fault.offset;
    EXPECT_TRUE(model == piece.model) << what;
    std::vector<uint8_t> again;
    EXPECT_TRUE(encode_piece(model, again, fault)) << what << ": " << fault.what;
    EXPECT_EQ(again, piece.image) << what;
    return model;
}

TEST(PieceImage, ExamplesRoundTrip) {
    int seen = 0;
    for (const std::string& name : testing::list_dir(testing::build_path(TEILIMP_SOURCE_DIR) + "/examples")) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".epn") continue;
        const Piece piece = read_text(testing::read_file(testing::build_path(TEILIMP_SOURCE_DIR) + "/examples/" + name));
        const PieceModel model = round_trip(piece, name);
        EXPECT_GT(model.contour.size(), 2u) << name;
        EXPECT_EQ(static_cast<int64_t>(model.sizes.size()), get16(piece.image.data() + 42)) << name;
        ++seen;
    }
    EXPECT_GE(seen, 5);
}

TEST(PieceImage, GeneratedPiecesRoundTripAndDecodeAsBuilt) {
    std::mt19937 rng(20261208);
    for (int i = 0; i < 300; ++i) {
        const EpnFile f = testing::random_epn(rng);
        const Piece piece = read_text(testing::epn_text(f));
        const PieceModel m = round_trip(piece, "piece " + std::to_string(i));
        if (::testing::Test::HasFailure()) return;
        EXPECT_EQ(m.mirrored, f.kind == "MIRRORED");
        EXPECT_EQ(field_text(m.text1), "TEXT EINS");
        ASSERT_EQ(m.sizes.size(), f.sizes.size());
        for (size_t s = 0; s < f.sizes.size(); ++s) EXPECT_EQ(field_text(m.sizes[s].name), f.sizes[s]);
        EXPECT_EQ(field_text(m.sizes[static_cast<size_t>(m.baseSizeIndex)].name), f.baseSize);
        size_t perimeter = 0, rules = 0;
        for (const EpnPointLine& p : f.points) {
            perimeter += p.perimeter ? 1 : 0;
            rules += p.rule ? 1 : 0;
        }
        EXPECT_EQ(m.contour.size(), perimeter);
        ASSERT_EQ(m.rules.size(), rules);
        // A rule's offsets are its values less those of the base size.
        for (size_t r = 0; r < rules && f.sizes.size() > 1; ++r) {
            const auto base = static_cast<size_t>(m.baseSizeIndex);
            for (size_t s = 0; s < f.sizes.size(); ++s)
                EXPECT_EQ(m.rules[r].offsets[s].dx, 10 * (f.grades[s][r].x - f.grades[base][r].x));
        }
        if (f.sizes.size() == 1 && rules > 0) {
            EXPECT_EQ(m.rules[0].oneSize.dy, 10 * f.grades[0][0].y);
        }
        ASSERT_GE(grain_line(m), 0);
        EXPECT_EQ(grain_line(m), 0);
        EXPECT_EQ(mirror_line(m), f.kind == "MIRRORED" && f.points.size() > perimeter + 2 &&
                                          f.points[perimeter + 2].type == 'M' ? 1 : -1);
    }
}

// The images do not depend on the system: the examples and a notch at
// every value of the angle field, with the grain line along x and turned,
// hash to the values the Linux program gives (pinned).
TEST(PieceImage, SameImagesOnEverySystem) {
    auto fnv = [](uint64_t h, const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) {
            h ^= b;
            h *= 1099511628211ull;
        }
        return h;
    };
    uint64_t examples = 1469598103934665603ull;
    for (const std::string& name : testing::list_dir(testing::build_path(TEILIMP_SOURCE_DIR) + "/examples")) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".epn") continue;
        examples = fnv(examples, read_text(testing::read_file(testing::build_path(TEILIMP_SOURCE_DIR) + "/examples/" + name)).image);
    }
    EXPECT_EQ(examples, 0xff52c17cdf80de86ull);  // aermel.epn holds its \x8e (code page 850)
    for (bool turned : {false, true}) {
        uint64_t h = 1469598103934665603ull;
        EpnFile f = testing::epn_example_square();
        if (turned) {
            f.points[5].y = 40;
            f.points[6].y = 65;
        }
        for (int64_t angle = -999; angle <= 9999; ++angle) {
            f.points[2].angle = angle;
            h = fnv(h, read_text(testing::epn_text(f)).image);
        }
        EXPECT_EQ(h, turned ? 0x83a1a4814cacbea8ull : 0x719cbfcac759e598ull)
            << (turned ? "grain line turned" : "grain line along x");
    }
}

TEST(PieceImage, DamagedImagesAreRefusedWithTheirPlace) {
    const Piece piece = read_text(testing::epn_text(testing::epn_example_square()));
    PieceModel image;
    ImageFault fault;
    // Every cut is found, never read past.
    for (size_t n = 0; n < piece.image.size(); ++n) {
        std::vector<uint8_t> cut(piece.image.begin(), piece.image.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(decode_piece(cut, nullptr, image, fault)) << n;
        EXPECT_LE(fault.offset, n);
    }
    std::vector<uint8_t> longer = piece.image;
    longer.push_back(0);
    EXPECT_FALSE(decode_piece(longer, nullptr, image, fault));
    EXPECT_EQ(fault.offset, piece.image.size());

    std::vector<uint8_t> bad = piece.image;
    bad[79] = 'C';
    EXPECT_FALSE(decode_piece(bad, nullptr, image, fault));
    EXPECT_EQ(fault.offset, 79u);

    // The first perimeter record (after header, two sizes and one rule of
    // one step): a notch mark that is not 9.
    bad = piece.image;
    const size_t first = kPieceHeaderLength + 2 * kSizeEntryLength + kRuleHeaderLength + kRuleStepLength;
    bad[first + 10] = 7;
    EXPECT_FALSE(decode_piece(bad, nullptr, image, fault));
    EXPECT_EQ(fault.offset, first);
}

}  // namespace
}  // namespace teilimp::reader

namespace teilimp::reader {
namespace {

// What the encoder refuses: every model it could not write, or that would
// not decode to itself. The name travels beside the image: its eighth
// character must be the image's.
TEST(PieceModel, EncoderRefusesWhatNoImageHoldsAndDecoderChecksTheName) {
    const Piece piece = read_text(testing::epn_text(testing::epn_example_square()));
    const PieceModel good = piece.model;
    const std::vector<std::pair<const char*, void (*)(PieceModel&)>> faults = {
        {"no size", [](PieceModel& m) { m.sizes.clear(); }},
        {"base outside", [](PieceModel& m) { m.baseSizeIndex = 2; }},
        {"blank in a text", [](PieceModel& m) { m.text2[19] = ' '; }},
        {"outer size inner", [](PieceModel& m) { m.sizes[0].inner = true; }},
        {"offsets per size", [](PieceModel& m) { m.rules[0].offsets.pop_back(); }},
        {"base not 0", [](PieceModel& m) { m.rules[0].offsets[1].dx = 1; }},
        {"step beyond 32 bits", [](PieceModel& m) { m.rules[0].offsets[0].dx = -(int64_t{1} << 32); }},
        {"one-size value", [](PieceModel& m) { m.rules[0].oneSize.dx = 1; }},
        {"direction on a plain point", [](PieceModel& m) { m.contour[1].directed = true; }},
        {"direction on N", [](PieceModel& m) { m.contour[0].notch = NotchCode::N, m.contour[0].directed = true; }},
        {"C on a rule point", [](PieceModel& m) { m.contour[0].cMark = true; }},
        {"negative rule", [](PieceModel& m) { m.contour[1].rule = -1; }},
        {"empty line", [](PieceModel& m) { m.lines[0].points.clear(); }},
    };
    std::vector<uint8_t> bytes;
    ImageFault fault;
    ASSERT_TRUE(encode_piece(good, bytes, fault));
    for (const auto& [what, damage] : faults) {
        PieceModel m = good;
        damage(m);
        fault.what.clear();
        EXPECT_FALSE(encode_piece(m, bytes, fault)) << what;
        EXPECT_FALSE(fault.what.empty()) << what;
    }

    PieceModel back;
    Text20 other = good.name;
    other[7] = 'X';
    EXPECT_FALSE(decode_piece(piece.image, &other, back, fault));
    EXPECT_EQ(fault.offset, 41u);
    ASSERT_TRUE(decode_piece(piece.image, nullptr, back, fault));
    EXPECT_EQ(back.name, Text20{});  // the square's name is shorter than eight
    back.name = good.name;
    EXPECT_TRUE(back == good);
    EXPECT_EQ(image_length(good), static_cast<int64_t>(piece.image.size()));
}

}  // namespace
}  // namespace teilimp::reader
