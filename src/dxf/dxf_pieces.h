// The pieces of an AAMA-DXF / ASTM D6673 file: each piece's blocks (one,
// or one per size in a graded nest) turned into the piece the area stores,
// through the same normal form and image as an EPN piece, graded by the
// style's RUL file or by the nest's sizes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dxf/dxf_reader.h"
#include "reader/epn_reader.h"
#include "rul/rul_reader.h"

namespace teilimp::dxf {

// Statuses of a DXF piece or file, beside the EPN reader's (which keep
// their numbers: 3 the file cannot be opened, 11 a limit of the image).
// The numbers are part of the console ("Fehler beim Konvertieren:").
enum class DxfStatus : int32_t {
    Ok = 0,
    CannotOpen = 3,          // the DXF file cannot be opened or read
    OutOfLimits = 11,        // points, sizes, rules or values beyond an image; a file over 256 MiB
    NoPieces = 20,           // the file: no block with an outline and a piece name
    OpenOutline = 21,        // the outline on layer 1 does not close
    NameTooLong = 22,        // piece name longer than 20 characters
    SizeTwice = 23,          // two blocks of the piece with one size
    PointCountsDiffer = 24,  // a graded nest's sizes differ in their contour points
    SizeNameTooLong = 25,    // a size name longer than 6 characters
    NoRules = 26,            // rule texts, but no readable RUL file
};
constexpr int32_t number(DxfStatus s) { return static_cast<int32_t>(s); }

// The reason line of a status (three blanks, the reason in parentheses,
// code page 850); `name` the piece's name, `size` the size concerned.
std::string reason_line(DxfStatus status, std::string_view name, std::string_view size = {});

struct DxfPiece {
    DxfStatus status = DxfStatus::Ok;
    std::string reason;               // the reason line when status != 0
    std::string name;                 // upper-cased, code page 850
    reader::Piece piece;              // name field and image when status == 0
    int32_t contourReversed = 0;
    int32_t grainRotated = 0;
    std::vector<std::string> notes;   // whole lines ("   Hinweis: ...")
    // What the piece holds, for a listing.
    int32_t sizeCount = 0;
    int32_t contourPoints = 0;
    int32_t lineCount = 0;
    int32_t ruleCount = 0;
    std::vector<std::string> sizes;
};

struct DxfFile {
    DxfStatus status = DxfStatus::Ok;  // for the whole file; the pieces' own statuses otherwise
    std::string reason;
    std::vector<DxfPiece> pieces;  // in the order of their first block
    std::string rulPath;           // the RUL file read, "" when none
};

// Layers whose entities the conversion only counts (stripe, plaid, cutter
// instructions, annotations, validation curves): their polylines' vertices
// need not be read (read_dxf's DropPoints).
bool counted_only(int32_t layer);

// Takes a file's pieces one by one as they are built: piece k (from 0) of
// m. False stops the conversion there.
using PieceSink = std::function<bool(DxfPiece& piece, size_t k, size_t m)>;

// Converts a drawing. `rules` is the style's RUL table, null when there is
// none (or it could not be read): a piece of one block with rule texts is
// then refused (status 26). With `take` each piece goes there as soon as it
// is built and is not kept (the file's `pieces` stay empty): a file of a
// hundred thousand small pieces needs room for one of them, not for all.
DxfFile convert_drawing(const Drawing& drawing, const rul::RuleTable* rules, const PieceSink& take);
DxfFile convert_drawing(const Drawing& drawing, const rul::RuleTable* rules);

// The names in the directories RUL files are looked for in, each directory
// listed once, and the RUL file read last: a run may read thousands of DXF
// files from one directory, all of one style's pieces naming one RUL file,
// and listing the directory or reading that file again for each of them
// costs time that grows with the square of their number.
class RulSearch {
public:
    // The file in directory `dir` (as typed, with its separator, or "")
    // whose name equals `name` without regard to case (the one of the
    // same case where there are several).
    std::optional<std::string> find(std::string_view dir, std::string_view name);
    // The table of the RUL file at `path` (as find gives it), null where
    // it cannot be read.
    const rul::RuleTable* rules(const std::string& path);

private:
    struct Listing {
        // The names under their upper-cased key, in the order listed.
        std::unordered_map<std::string, std::vector<std::string>> byKey;
    };
    std::map<std::string, Listing, std::less<>> listings_;
    std::string tablePath_;  // the file read last, "" before the first
    bool tableRead_ = false;
    rul::RuleTable table_;
};

// A DXF file read, with its RUL file, to be converted.
struct LoadedDxf {
    DxfStatus status = DxfStatus::Ok;  // else the file cannot be converted: `reason` says why
    std::string reason;
    Drawing drawing;
    const rul::RuleTable* rules = nullptr;  // held by the search, up to its next file
    std::string rulPath;                    // "" when none was read
};

// Reads the DXF file at `path` and its RUL file: `<stem>.rul` in any case
// beside it, else the file that the drawing's "Grade Rule Table:" names
// there. The directory is listed by `search` (once for all files read
// with it), or afresh without one.
LoadedDxf load_dxf_file(std::string_view path, RulSearch& search);
// The same, converted, all pieces kept.
DxfFile read_dxf_file(std::string_view path, RulSearch& search);
DxfFile read_dxf_file(std::string_view path);

// True for a name ending in ".rul" in any case: such a file is never
// imported itself.
bool is_rul_name(std::string_view path);

}  // namespace teilimp::dxf
