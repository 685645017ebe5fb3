#include "writer/records.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace teilimp::writer {

namespace {
// Control entry fields.
constexpr int kEntName = 0;
constexpr int kEntCode = 20;
constexpr int kEntSlot = 23;
constexpr int kEntState = 24;
constexpr int kEntStamp = 26;
constexpr int kEntStamp2 = 30;
constexpr int kEntLength = 34;
constexpr int kEntKind = 38;
constexpr int kEntStamp3 = 44;
constexpr int kEntMarker = 48;
// Trailer fields.
constexpr int kTrlCode = 0;
constexpr int kTrlSlot = 3;
constexpr int kTrlValid = 4;
constexpr int kTrlMark = 59;
// Piece-file directory entry fields.
constexpr int kDirOffset = 0;
constexpr int kDirLength = 4;
constexpr int kDirName = 8;
constexpr int kDirState = 28;
constexpr int kDirStamp = 30;
constexpr int kDirStamp2 = 34;
constexpr int kDirStamp3 = 38;
constexpr int kDirMarker = 42;
}  // namespace

int16_t get_i16(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int32_t get_i32(const uint8_t* p) {
    uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                 (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return static_cast<int32_t>(v);
}

void put_i16(uint8_t* p, int16_t v) {
    auto u = static_cast<uint16_t>(v);
    p[0] = static_cast<uint8_t>(u & 0xFF);
    p[1] = static_cast<uint8_t>(u >> 8);
}

void put_i32(uint8_t* p, int32_t v) {
    auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((u >> (8 * i)) & 0xFF);
}

AreaField make_area(std::string_view typed) {
    AreaField a;
    a.fill(' ');
    std::copy_n(typed.begin(), std::min(typed.size(), a.size()), a.begin());
    return a;
}

void encode_entry(const CtlEntry& e, std::span<uint8_t, 64> out) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    uint8_t* p = out.data();
    std::memcpy(p + kEntName, e.pieceName.data(), 20);
    std::memcpy(p + kEntCode, e.fileCode.data(), 3);
    p[kEntSlot] = e.slot;
    put_i16(p + kEntState, e.entryState);
    put_i32(p + kEntStamp, e.timeStamp);
    put_i32(p + kEntStamp2, e.timeStamp2);
    put_i32(p + kEntLength, e.dataLength);
    put_i16(p + kEntKind, e.entryKind);
    put_i32(p + kEntStamp3, e.timeStamp3);
    p[kEntMarker] = 'B';
    p[kEntMarker + 1] = 'B';
}

CtlEntry decode_entry(std::span<const uint8_t, 64> in) {
    const uint8_t* p = in.data();
    CtlEntry e;
    std::memcpy(e.pieceName.data(), p + kEntName, 20);
    std::memcpy(e.fileCode.data(), p + kEntCode, 3);
    e.slot = p[kEntSlot];
    e.entryState = get_i16(p + kEntState);
    e.timeStamp = get_i32(p + kEntStamp);
    e.timeStamp2 = get_i32(p + kEntStamp2);
    e.dataLength = get_i32(p + kEntLength);
    e.entryKind = get_i16(p + kEntKind);
    e.timeStamp3 = get_i32(p + kEntStamp3);
    return e;
}

int16_t entry_state(std::span<const uint8_t, 64> rec) { return get_i16(rec.data() + kEntState); }

void entry_set_state(std::span<uint8_t, 64> rec, int16_t state) { put_i16(rec.data() + kEntState, state); }

FileCode trailer_next_code(const CtlTrailer& t) {
    return {static_cast<char>(t.raw[kTrlCode]), static_cast<char>(t.raw[kTrlCode + 1]),
            static_cast<char>(t.raw[kTrlCode + 2])};
}

uint8_t trailer_next_slot(const CtlTrailer& t) { return t.raw[kTrlSlot]; }

int16_t trailer_valid_count(const CtlTrailer& t) { return get_i16(t.raw.data() + kTrlValid); }

void trailer_set(CtlTrailer& t, const FileCode& code, uint8_t slot, int16_t validCount) {
    for (int i = 0; i < 3; ++i) t.raw[kTrlCode + i] = static_cast<uint8_t>(code[i]);
    t.raw[kTrlSlot] = slot;
    put_i16(t.raw.data() + kTrlValid, validCount);
}

CtlTrailer fresh_trailer() {
    CtlTrailer t;
    t.raw[0] = 'a';
    t.raw[1] = 'a';
    t.raw[2] = 'a';
    t.raw[kTrlMark] = 3;
    return t;
}

int32_t dir_offset(const PceDirEntry& d) { return get_i32(d.raw.data() + kDirOffset); }
int32_t dir_length(const PceDirEntry& d) { return get_i32(d.raw.data() + kDirLength); }
int16_t dir_state(const PceDirEntry& d) { return get_i16(d.raw.data() + kDirState); }
int32_t dir_stamp(const PceDirEntry& d) { return get_i32(d.raw.data() + kDirStamp); }

PieceName dir_name(const PceDirEntry& d) {
    PieceName n;
    std::memcpy(n.data(), d.raw.data() + kDirName, 20);
    return n;
}

void dir_set_offset(PceDirEntry& d, int32_t offset) { put_i32(d.raw.data() + kDirOffset, offset); }
void dir_set_state(PceDirEntry& d, int16_t state) { put_i16(d.raw.data() + kDirState, state); }

void dir_fill(PceDirEntry& d, int32_t length, const PieceName& name, int32_t stamp) {
    uint8_t* p = d.raw.data();
    put_i32(p + kDirLength, length);
    std::memcpy(p + kDirName, name.data(), 20);
    put_i16(p + kDirState, kStateValid);
    put_i32(p + kDirStamp, stamp);
    put_i32(p + kDirStamp2, stamp);
    put_i32(p + kDirStamp3, stamp);
    p[kDirMarker] = 'B';
    p[kDirMarker + 1] = 'B';
}

PceDirectory decode_directory(std::span<const uint8_t, kPceDirSize> in) {
    PceDirectory dir;
    for (int k = 0; k < 8; ++k) std::memcpy(dir[k].raw.data(), in.data() + 64 * k, 64);
    return dir;
}

void encode_directory(const PceDirectory& dir, std::span<uint8_t, kPceDirSize> out) {
    for (int k = 0; k < 8; ++k) std::memcpy(out.data() + 64 * k, dir[k].raw.data(), 64);
}

int32_t time_stamp_now() {
    int64_t secs = platform::mktime_standard(platform::local_now()) + 32400;
    return static_cast<int32_t>(secs);
}

namespace {

// Calendar fields of a count of seconds since 1970-01-01, read without any
// time zone (days to civil date after H. Hinnant's algorithm).
platform::CalendarTime civil(int64_t secs) {
    int64_t days = secs / 86400;
    int64_t rest = secs % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    platform::CalendarTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return t;
}

}  // namespace

platform::CalendarTime stamp_time(int32_t stamp) {
    const int64_t secs = static_cast<int64_t>(stamp) - 32400;
    // The zone's standard offset, found by converting the fields back.
    const int64_t offset = platform::mktime_standard(civil(secs)) - secs;
    return civil(secs - offset);
}

PieceName make_piece_name(std::string_view text) {
    PieceName n{};
    std::copy_n(text.begin(), std::min(text.size(), n.size()), n.begin());
    return n;
}

}  // namespace teilimp::writer
