// A storage area read whole, without changing it: the control file's
// records, and the header, directory and images of every piece file that
// is present or named by an entry.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reader/piece_image.h"
#include "util/bytes.h"
#include "writer/area_files.h"
#include "writer/area_scan.h"
#include "writer/records.h"

namespace teilimp::area_tool {

using writer::FileCode;

struct PieceFile {
    bool present = false;
    uint32_t readError = 0;  // the system code when it exists but could not be read
    util::Bytes bytes;
    writer::PceLayout layout;

    // The image of a used slot (0-based); nullopt when the slot is not in
    // the directory's chain.
    std::optional<std::span<const uint8_t>> image(uint8_t slot) const;
};

struct Entry {
    int64_t record = 0;  // 0-based record number in piece.ctl
    writer::CtlEntry fields;
    bool placeValid = false;  // valid file code and slot 0..7
};

struct AreaModel {
    writer::AreaField area{};
    std::string dataDir;   // the directory of the area's files
    std::string ctlPath;
    bool ctlPresent = false;
    uint32_t ctlReadError = 0;
    util::Bytes ctlBytes;
    writer::CtlLayout layout;
    std::vector<Entry> entries;  // the entries before the first trailer
    std::optional<writer::CtlTrailer> trailer;
    std::map<FileCode, PieceFile> files;  // present or named by an entry
    writer::AreaFiles found;              // the program's files in the directory, listed once

    const PieceFile* file(const FileCode& code) const;
};

// Reads the area. False when its data directory does not exist.
bool load_area(const writer::AreaField& area, AreaModel& model);
// Only the area and its directory (whether it exists): what a command that
// reads the area under its lock needs to know before it.
bool find_area_dir(const writer::AreaField& area, AreaModel& model);

// The name of a piece as its bytes, the NUL padding after it dropped (a NUL
// inside it kept: names are told apart by all 20 bytes).
std::string name_text(const writer::PieceName& name);
std::string_view name_bytes(const writer::PieceName& name);  // the same, in the name's storage
// The name as a console line shows it: a NUL inside it as \0, other control
// bytes as \xNN, a backslash as \\ (AB\0cd); and back.
std::string name_shown(const writer::PieceName& name);
void append_name_shown(std::string& out, const writer::PieceName& name);
writer::PieceName name_from_shown(std::string_view shown);
// An entry state in words: "gültig", "ersetzt", the number for others.
std::string state_word(int16_t state);
// The text of a file code.
std::string code_text(const FileCode& code);
std::string area_text(const writer::AreaField& area);  // as typed, without the padding
std::string piece_file_name(const FileCode& code);  // "piece<code>.pce"
// "DD-MM-YYYY HH:MM:SS" of a stamp, and the ISO form "YYYY-MM-DDTHH:MM:SS".
std::string stamp_text(int32_t stamp);
std::string stamp_iso(int32_t stamp);
// The same into a buffer of the caller's (rows of a long listing).
using StampText = std::array<char, 40>;
const char* stamp_text(int32_t stamp, StampText& text);
const char* stamp_iso(int32_t stamp, StampText& text);

}  // namespace teilimp::area_tool
