// The records of the storage area: control-file entries and trailer, the
// piece-file header and directory. Each is encoded and decoded field by
// field, little-endian, at fixed offsets.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/platform.h"

namespace teilimp::writer {

using AreaField = std::array<char, 80>;   // area argument as typed, blank-padded
using PieceName = std::array<char, 20>;   // NUL after its significant length
using FileCode = std::array<char, 3>;     // "aaa" .. "zzz"

constexpr int kRecordSize = 64;
constexpr int kPceHeaderSize = 16;
constexpr int kPceDirSize = 8 * 64;
constexpr int kPceDataStart = kPceHeaderSize + kPceDirSize;  // 528
constexpr int16_t kStateValid = 0;
constexpr int16_t kStateSuperseded = 512;

// Blank-pads (or cuts) typed text into an area field.
AreaField make_area(std::string_view typed);

struct CtlEntry {
    PieceName pieceName{};
    FileCode fileCode{};
    uint8_t slot = 0;           // 0-based
    int16_t entryState = 0;
    int32_t timeStamp = 0;
    int32_t timeStamp2 = 0;
    int32_t dataLength = 0;
    int16_t entryKind = 3;
    int32_t timeStamp3 = 0;
    // bytes 40-43 and 50-63 are written as zero; marker is "BB"
};

struct CtlTrailer {
    std::array<uint8_t, 64> raw{};  // kept as read; the fields below live in it
};

// A 64-byte record is a trailer when its byte 59 is not 0.
inline bool is_trailer(std::span<const uint8_t, 64> rec) { return rec[59] != 0; }

void encode_entry(const CtlEntry& e, std::span<uint8_t, 64> out);
CtlEntry decode_entry(std::span<const uint8_t, 64> in);
// The state word of an encoded entry, read and changed in place.
int16_t entry_state(std::span<const uint8_t, 64> rec);
void entry_set_state(std::span<uint8_t, 64> rec, int16_t state);

// Trailer fields inside the raw 64 bytes.
FileCode trailer_next_code(const CtlTrailer& t);
uint8_t trailer_next_slot(const CtlTrailer& t);
int16_t trailer_valid_count(const CtlTrailer& t);
void trailer_set(CtlTrailer& t, const FileCode& code, uint8_t slot, int16_t validCount);
// The trailer of a new or cleared area: "aaa", zeros, byte 59 = 3.
CtlTrailer fresh_trailer();

struct PceDirEntry {
    std::array<uint8_t, 64> raw{};  // reserved bytes 44-63 kept as read
};
int32_t dir_offset(const PceDirEntry& d);
int32_t dir_length(const PceDirEntry& d);
int16_t dir_state(const PceDirEntry& d);
int32_t dir_stamp(const PceDirEntry& d);
PieceName dir_name(const PceDirEntry& d);
void dir_set_offset(PceDirEntry& d, int32_t offset);
void dir_set_state(PceDirEntry& d, int16_t state);
// Fills length, name, state 0, the three stamps and "BB"; bytes 44-63 untouched.
void dir_fill(PceDirEntry& d, int32_t length, const PieceName& name, int32_t stamp);

// The eight directory entries of a piece file (bytes 16-527).
using PceDirectory = std::array<PceDirEntry, 8>;
PceDirectory decode_directory(std::span<const uint8_t, kPceDirSize> in);
void encode_directory(const PceDirectory& dir, std::span<uint8_t, kPceDirSize> out);

// A piece name from text: its characters, NUL bytes up to 20 (cut at 20).
PieceName make_piece_name(std::string_view text);

// The current local time in seconds (mktime, daylight-saving flag 0) + 32400.
int32_t time_stamp_now();
// The local date and time that a stamp was made from (its inverse).
platform::CalendarTime stamp_time(int32_t stamp);

// Little-endian field helpers.
int16_t get_i16(const uint8_t* p);
int32_t get_i32(const uint8_t* p);
void put_i16(uint8_t* p, int16_t v);
void put_i32(uint8_t* p, int32_t v);

}  // namespace teilimp::writer
