// The shape tests of area files that decide whether a file or a backup of
// it can be used as it is.
#include <gtest/gtest.h>

#include <vector>

#include "writer/area_scan.h"
#include "writer/records.h"

namespace teilimp::writer {
namespace {

std::vector<uint8_t> control_file(int entries, const FileCode& code = {'a', 'a', 'b'}) {
    std::vector<uint8_t> bytes;
    for (int k = 0; k < entries; ++k) {
        CtlEntry e;
        e.pieceName = make_piece_name("P" + std::to_string(k));
        e.fileCode = code;
        e.slot = static_cast<uint8_t>(k % 8);
        std::array<uint8_t, 64> rec{};
        encode_entry(e, rec);
        bytes.insert(bytes.end(), rec.begin(), rec.end());
    }
    const CtlTrailer t = fresh_trailer();
    bytes.insert(bytes.end(), t.raw.begin(), t.raw.end());
    return bytes;
}

TEST(AreaScan, ControlFileIsSoundOnlyAsWholeRecordsEndingInItsOnlyTrailer) {
    EXPECT_TRUE(ctl_sound(control_file(0)));
    EXPECT_TRUE(ctl_sound(control_file(3)));
    EXPECT_FALSE(ctl_sound(std::vector<uint8_t>{}));

    std::vector<uint8_t> b = control_file(3);
    b.push_back(0);
    EXPECT_FALSE(ctl_sound(b));  // not a multiple of 64
    b = control_file(3);
    b.resize(b.size() - 64);
    CtlLayout l = ctl_layout(b);
    EXPECT_FALSE(l.trailerFound);
    EXPECT_FALSE(ctl_sound(l));
    b = control_file(3);
    const std::vector<uint8_t> more = control_file(1);
    b.insert(b.end(), more.begin(), more.end());  // an earlier trailer
    l = ctl_layout(b);
    EXPECT_EQ(l.entryCount, 3);
    EXPECT_EQ(l.recordsAfterTrailer, 2);
    EXPECT_FALSE(ctl_sound(l));

    EXPECT_EQ(ctl_layout(control_file(2, {'a', 'A', 'b'})).firstBadPlace, 0);
    b = control_file(2);
    b[64 + 23] = 8;  // slot 8 does not exist
    EXPECT_EQ(ctl_layout(b).firstBadPlace, 1);
    EXPECT_FALSE(ctl_sound(b));
}

std::vector<uint8_t> piece_file(const std::vector<int32_t>& lengths) {
    std::vector<uint8_t> bytes(kPceDataStart, 0);
    bytes[0] = 3;
    PceDirectory dir{};
    int32_t offset = kPceDataStart;
    for (size_t k = 0; k < lengths.size(); ++k) {
        dir_set_offset(dir[k], offset);
        dir_fill(dir[k], lengths[k], make_piece_name("X"), 1);
        offset += lengths[k];
        if (k + 1 < 8) dir_set_offset(dir[k + 1], offset);
    }
    encode_directory(dir, std::span<uint8_t, kPceDirSize>(bytes.data() + kPceHeaderSize, kPceDirSize));
    bytes.resize(static_cast<size_t>(offset), 7);
    return bytes;
}

TEST(AreaScan, PieceFileSlotsAreTheChainThatFitsTheFile) {
    PceLayout l = pce_layout(piece_file({100, 50, 70}));
    EXPECT_EQ(l.usedSlots, 3);
    EXPECT_EQ(l.imagesEnd, kPceDataStart + 220);
    EXPECT_TRUE(pce_sound(l));

    std::vector<uint8_t> b = piece_file({100, 50, 70});
    b.resize(b.size() - 70);  // the last image cut off
    l = pce_layout(b);
    EXPECT_EQ(l.usedSlots, 2);
    EXPECT_TRUE(pce_sound(l));  // indistinguishable from two slots with a stale third entry
    b.resize(b.size() - 10);    // into the second image
    EXPECT_FALSE(pce_sound(b));
    b = piece_file({100});
    b.push_back(0);  // a byte after the last image
    EXPECT_FALSE(pce_sound(b));
    EXPECT_FALSE(pce_sound(std::vector<uint8_t>(100, 0)));
    EXPECT_TRUE(pce_sound(piece_file({})));
}

TEST(AreaScan, PlacesFollowEachOther) {
    FileCode code{'a', 'a', 'z'};
    uint8_t slot = 7;
    next_place(code, slot);
    EXPECT_EQ(code, (FileCode{'a', 'b', 'a'}));
    EXPECT_EQ(slot, 0);
    EXPECT_TRUE(place_less({'a', 'a', 'z'}, 7, code, slot));
    EXPECT_FALSE(place_less(code, 1, code, 1));
}

TEST(Records, StampGivesBackItsLocalTime) {
    const platform::CalendarTime now = platform::local_now();
    const platform::CalendarTime t = stamp_time(time_stamp_now());
    // The same second, or the next one if the clock moved on between the calls.
    const int64_t a = now.hour * 3600 + now.minute * 60 + now.second, b = t.hour * 3600 + t.minute * 60 + t.second;
    EXPECT_TRUE(b == a || b == a + 1 || (a == 86399 && b == 0)) << a << " " << b;
    EXPECT_EQ(t.year, now.year);
    EXPECT_EQ(t.month, now.month);
}

}  // namespace
}  // namespace teilimp::writer
