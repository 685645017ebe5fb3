// The piece image field by field: its header, size table, rule blocks,
// perimeter and internal lines. The reader writes the header parts through
// the encoders here; decode_image reads a whole image back, checking every
// structural rule the encoder keeps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

struct ImageHeader {
    std::array<char, 20> text1{};      // NUL after the significant length
    std::array<char, 20> text2{};
    uint8_t pieceKind = 0;             // 0 closed, 2 mirrored
    char nameChar8 = 0;                // eighth character of the piece name
    int16_t sizeCount = 0;
    int16_t lastStepIndex = 0;         // max(sizeCount - 2, 0)
    std::array<char, 6> baseSize{};
    int16_t baseSizeIndex = 0;
    uint8_t sizeNameKind = 1;          // 0 numeric
    std::array<char, 20> trailerText{};
    int16_t ruleCount = 0;
    int16_t perimeterCount = 0;
    int16_t lineCount = 0;
};

struct SizeEntry {
    std::array<char, 6> name{};
    uint8_t inner = 0;  // 0 for the first and the last size
};

struct RuleStep {
    int32_t dx = 0;
    int32_t dy = 0;
};

// A grade rule: its number (low 16 bits) and lastStepIndex + 1 steps. With
// several sizes step k leads from size k to size k + 1; with one size the
// single step holds that size's values.
struct RuleBlock {
    int16_t ruleNumber = 0;
    std::vector<RuleStep> steps;
};

struct ImageLine {
    int16_t index = 0;
    char type = ' ';  // 'G' grain line, 'M' mirror line
    std::vector<PointRecord> points;
};

struct PieceImage {
    ImageHeader header;
    std::vector<SizeEntry> sizes;
    std::vector<RuleBlock> rules;
    std::vector<PointRecord> perimeter;
    std::vector<ImageLine> lines;
};

void encode_header(const ImageHeader& h, uint8_t* out);        // 98 bytes
void encode_size_entry(const SizeEntry& s, uint8_t* out);      // 10 bytes
void encode_line_header(int32_t index, char type, int32_t pointCount, uint8_t* out);  // 10 bytes

// The whole image, as the reader would have built it.
std::vector<uint8_t> encode_image(const PieceImage& image);
// The same into `out`, whose room is reused (a caller that encodes image
// after image allocates little).
void encode_image(const PieceImage& image, std::vector<uint8_t>& out);

// Reads an image. False, with the first fault, when the bytes break the
// layout: wrong header mark or counts, a size or rule table, point record
// or line header the encoder does not write, a missing or non-zero closing,
// or bytes after it; `out` then holds no complete piece. The rule blocks of
// an earlier decoding into `out` lend their room to the new ones.
bool decode_image(std::span<const uint8_t> bytes, PieceImage& out, ImageFault& fault);

}  // namespace teilimp::reader
