// Reading an ASCII DXF file into its blocks and their entities: what the
// pattern exchange formats (AAMA-DXF, ASTM D6673) put there. The reader
// takes any bytes: it never reads outside them, and what it keeps grows at
// most linearly with their number (a few times the file's size at worst:
// entities it has no use for are only counted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace teilimp::dxf {

// Larger files are not read (a style of a few hundred graded pieces is a
// few MiB).
constexpr size_t kMaxDxfBytes = size_t{256} * 1024 * 1024;

// Units the file's HEADER declares ($INSUNITS, else $MEASUREMENT).
enum class Units : uint8_t { None, Millimetre, Inch };

struct Vec {
    double x = 0;
    double y = 0;
};

// A POLYLINE with its VERTEXes and an LWPOLYLINE are both a Polyline;
// TEXT and MTEXT are Text.
enum class Kind : uint8_t { Polyline, Line, Point, Text };

constexpr int32_t kNoLayerNumber = -1;

struct Entity {
    Kind kind = Kind::Point;
    bool closed = false;    // Polyline: flag 70 bit 1
    bool hasAngle = false;  // group 50 present
    int32_t layer = kNoLayerNumber;  // group 8 read as a number
    double angle = 0;       // group 50, degrees
    // Polyline: its vertices; Line: start and end; Point, Text: position.
    uint32_t firstPoint = 0;
    uint32_t pointCount = 0;
    // Text: group 1 (MTEXT: its 3s, then its 1), bytes as in the file.
    uint32_t textAt = 0;
    uint32_t textLength = 0;
};

// Entities of other kinds (ATTDEF, INSERT, CIRCLE, ...), counted by kind and
// layer.
struct OtherCount {
    std::string type;  // upper-cased
    int32_t layer = kNoLayerNumber;
    uint32_t count = 0;
};

struct Block {
    std::string name;  // group 2
    std::vector<Entity> entities;
    std::vector<Vec> points;
    std::string texts;
    std::vector<OtherCount> others;  // at most kMaxOtherKinds entries

    std::span<const Vec> points_of(const Entity& e) const {
        return std::span<const Vec>(points).subspan(e.firstPoint, e.pointCount);
    }
    std::string_view text_of(const Entity& e) const {
        return std::string_view(texts).substr(e.textAt, e.textLength);
    }
};
constexpr size_t kMaxOtherKinds = 64;

struct Drawing {
    Units headerUnits = Units::None;
    std::vector<Block> blocks;  // in file order, ended blocks only
    Block entities;             // the ENTITIES section's
};

enum class ReadStatus : uint8_t {
    Ok,
    NotDxf,      // does not begin with group 0 SECTION
    TooLarge,    // more than kMaxDxfBytes
    Malformed,   // a group code that is no number, a pair cut off, data ending inside a section
    CannotOpen,  // the file could not be opened or read
};

// True when the bytes begin (after a byte-order mark and blanks) with the
// group code 0 and SECTION, in any case.
bool looks_like_dxf(std::span<const uint8_t> bytes);

// A test of layers whose POLYLINEs are kept without their VERTEXes (the
// entity, its layer and flags, pointCount 0): for a reader that only
// counts what stands there. Other entities are kept whole.
using DropPoints = bool (*)(int32_t layer);

// Reads the bytes into out (cleared first). On Malformed, out holds what
// was read up to the fault.
ReadStatus read_dxf(std::span<const uint8_t> bytes, Drawing& out, DropPoints drop = nullptr);

// Reads the whole file at path: Ok, TooLarge (nothing read) or CannotOpen.
ReadStatus load_file(std::string_view path, std::vector<uint8_t>& bytes);

// Reads the first bytes of the file at path: looks_like_dxf of them.
bool file_looks_like_dxf(std::string_view path);

}  // namespace teilimp::dxf
