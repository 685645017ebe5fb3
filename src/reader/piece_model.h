// The one model of a piece: everything a piece image holds, as plain
// values. The EPN reader fills it, the image encoder writes the image from
// it, the image decoder gives it back from an image, and every writer of an
// exchange format (DXF, RUL, EPN) and every reader of one works on it.
//
// Units and frame, for every coordinate and value below: the stored unit,
// one tenth of the EPN unit (the EPN unit is one millimetre, so 0.1 mm);
// integers, exact as stored. The frame is the stored one: x to the right,
// y upward, the contour running clockwise, the piece turned so that its
// grain line points to +x (the reader's normal form). Nothing in the model
// is rounded or converted: decode(encode(m)) == m for every model that
// encode_piece accepts, and encode(decode(image)) == image for every image
// decode_piece accepts (every image the importer writes is such).
//
// Texts are fixed fields as stored: the significant characters, then NUL
// bytes to the end (never blanks). field_text() gives them as a string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"

namespace teilimp::reader {

using Text20 = std::array<char, 20>;
using Text6 = std::array<char, 6>;

// The notch code of a point: the first two columns of its EPN label.
enum class NotchCode : uint8_t {
    None,  // no notch (any other label)
    N1,    // "N1"
    N2,    // "N2"
    N,     // "N " (N and a blank)
    NL,    // "NL"
    NK,    // "NK"
    Digit1,  // "1 " (the digit and a blank)
    Digit2,  // "2 "
};

// The two label characters of a code ("  " for None).
std::array<char, 2> notch_label(NotchCode code);
// True for the codes whose direction a rule point can store: N1, N2, Digit1, Digit2.
bool notch_takes_direction(NotchCode code);

// One point, of the contour or of an internal line.
struct ModelPoint {
    // The point's number as stored: the low 16 bits of the file's number,
    // -1 when the file gave none (a number of 0 or less).
    int16_t number = -1;
    // Position in stored tenths, stored frame (see the top). Exact.
    int32_t x = 0;
    int32_t y = 0;
    // The number of the point's grade rule, above 0 for a rule point; 0 for
    // a point without rule. A point moves with the rule whose `number`
    // equals the low 16 bits of this value (rule_of).
    int32_t rule = 0;
    NotchCode notch = NotchCode::None;
    // Rule points only, and only with N1, N2, Digit1 or Digit2: the notch direction
    // is stored (the image's long point record). dirX, dirY are the cosine
    // and sine of the direction times 1000, rounded half away from zero, in
    // the stored frame (turned with the piece for N1/N2; Digit1/Digit2 keep the
    // direction as the file gave it). Both 0 when not directed.
    bool directed = false;
    int32_t dirX = 0;
    int32_t dirY = 0;
    // Points without rule only: the "C" mark of the file's line flag (the
    // image's point class 2). A rule point records no mark.
    bool cMark = false;

    bool operator==(const ModelPoint&) const = default;
};

// An internal line: its points in order (at least one). A line of one point
// is a drill hole or a single marked point.
struct ModelLine {
    // The line's type character as stored (the EPN point type of its last
    // point): 'G' grain line, 'M' mirror line, any other byte as read
    // (usually a blank).
    char type = ' ';
    std::vector<ModelPoint> points;

    bool operator==(const ModelLine&) const = default;
};

struct ModelSize {
    Text6 name{};  // as stored (not upper-cased), NUL after its significant length
    // The image's inner-size mark: true for every size but the first and
    // the last, as the importer writes it (also for a blank name); false for
    // the first and the last size, and for a size whose name the file did
    // not hold at all. set_inner_marks() sets it the importer's way.
    bool inner = false;

    bool operator==(const ModelSize&) const = default;
};

// A pair of grade values, in stored tenths, stored frame. 64 bits so that
// the sum of steps between any two sizes is exact.
struct Offset {
    int64_t dx = 0;
    int64_t dy = 0;

    bool operator==(const Offset&) const = default;
};

// One grade rule (one rule block of the image, in the image's order: the
// order of the EPN grade lines of the first size).
struct ModelRule {
    // The rule's number as stored: the low 16 bits of the number on the
    // rule's grade line of the first size.
    int16_t number = 0;
    // One entry per size, in size order: where the rule moves its points in
    // that size relative to the base size (the entry of baseSizeIndex is
    // 0, 0). Exact: the image's step k (from size k to size k + 1) is
    // offsets[k + 1] - offsets[k]. With one size the single entry is 0, 0.
    std::vector<Offset> offsets;
    // Pieces of one size only: the rule's values in that size, as the image
    // stores them in its single step (the file's values, times 10, turned
    // and truncated). 0, 0 for pieces of two or more sizes. Such a value
    // moves no point; it is kept so that the image can be rebuilt.
    Offset oneSize;

    bool operator==(const ModelRule&) const = default;
};

struct PieceModel {
    // The piece's name, its key in the area: upper-cased, NUL after its
    // significant length. The image holds only its eighth character; the
    // rest travels in the control file (decode_piece takes it from there).
    Text20 name{};
    Text20 text1{};      // header text 1, upper-cased, NUL-padded
    Text20 text2{};      // header text 2, upper-cased, NUL-padded
    bool mirrored = false;  // "MIRRORED" (true) or "CLOSED" (false)
    // The contour, clockwise, in the stored order. A contour whose last
    // point repeats its first is kept so (nothing is added or dropped).
    std::vector<ModelPoint> contour;
    // Internal lines in the stored order; the grain line and the mirror
    // line are among them (grain_line, mirror_line).
    std::vector<ModelLine> lines;
    std::vector<ModelSize> sizes;  // at least one, in the file's order
    // The base size's name as the file wrote it (NUL-padded; it may name no
    // size at all) and the 0-based index of the size it stands for (the
    // first size of that name; 0 when none has it). The rules' offsets are
    // relative to sizes[baseSizeIndex].
    Text6 baseSize{};
    int16_t baseSizeIndex = 0;
    bool numericNames = false;  // the trailer said "NUMERIC"
    Text20 trailerText{};       // as stored (not upper-cased), NUL-padded
    std::vector<ModelRule> rules;

    bool operator==(const PieceModel&) const = default;
};

// ---- Reading the model ----

// The significant text of a stored field (up to its first NUL).
std::string field_text(const char* data, size_t n);
template <size_t N>
std::string field_text(const std::array<char, N>& field) {
    return field_text(field.data(), N);
}
// A stored field from a text: cut to N, NUL-padded.
template <size_t N>
std::array<char, N> make_field(std::string_view text) {
    std::array<char, N> f{};
    for (size_t i = 0; i < N && i < text.size(); ++i) f[i] = text[i];
    return f;
}

// Index into lines of the grain line: the first line of type 'G' with two
// or more points, running from its first to its last point; -1 when there
// is none. (The image keeps the grain line only as the line's type.)
int grain_line(const PieceModel& m);
// Index of the mirror line: in a mirrored piece, the first line of type
// 'M' with two or more points; -1 otherwise.
int mirror_line(const PieceModel& m);

// The rule a point moves with, or null (no rule, or no rule of its number).
const ModelRule* rule_of(const PieceModel& m, const ModelPoint& p);
// Where the point's rule moves it in size `size` (0-based) relative to the
// base size; 0, 0 for a point without rule or an unknown size.
Offset point_offset(const PieceModel& m, const ModelPoint& p, size_t size);

// Sets every size's inner mark as the importer does (false for the first
// and the last size, true for the others). For writers that build a model.
void set_inner_marks(PieceModel& m);

// ---- The piece image ----

// Where and why an image could not be decoded or a model not encoded.
struct ImageFault {
    size_t offset = 0;  // byte offset in the image (0 for a model fault)
    std::string what;   // German text (code page 850) for the user
};

// Writes the image of the model into `out` (its room is reused). False,
// with the fault, when the model cannot be an image: a count beyond 32767
// (sizes, rules, contour points, lines, points of a line), no size, an
// empty line, a base index outside the sizes, a rule whose offsets are not
// one per size or not 0, 0 at the base size, a step beyond 32 bits, a
// oneSize value with several sizes, a direction or "C" mark on a point that
// cannot store it, a text field (texts, base size, size names) not filled
// with NUL after its significant length (a blank there, say). `out` is then
// unspecified.
bool encode_piece(const PieceModel& m, util::Bytes& out, ImageFault& fault);

// Reads an image into the model. `name` is the piece's name as the control
// file holds it; its eighth character must be the one the image records.
// Null when it is not known: the model's name then holds only that eighth
// character (the rest NUL). False, with the first fault, when the bytes
// break the layout (the faults of the area check); `out` then holds no
// complete piece. Room held by `out` is reused.
bool decode_piece(std::span<const uint8_t> image, const Text20* name, PieceModel& out, ImageFault& fault);

}  // namespace teilimp::reader
