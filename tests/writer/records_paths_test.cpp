#include <gtest/gtest.h>

#include <set>

#include "platform/platform.h"
#include "writer/area_path.h"
#include "writer/records.h"

namespace teilimp::writer {
namespace {

TEST(Records, EntryIsEncodedFieldByField) {
    CtlEntry e;
    e.pieceName = make_piece_name("AB");
    e.fileCode = {'a', 'b', 'c'};
    e.slot = 7;
    e.entryState = kStateSuperseded;
    e.timeStamp = e.timeStamp2 = e.timeStamp3 = 0x01020304;
    e.dataLength = 0x00000A0B;
    std::array<uint8_t, 64> out{};
    out.fill(0xEE);
    encode_entry(e, out);
    std::array<uint8_t, 64> want{};
    want[0] = 'A';
    want[1] = 'B';
    want[20] = 'a'; want[21] = 'b'; want[22] = 'c';
    want[23] = 7;
    want[24] = 0x00; want[25] = 0x02;
    for (int at : {26, 30, 44}) { want[at] = 4; want[at + 1] = 3; want[at + 2] = 2; want[at + 3] = 1; }
    want[34] = 0x0B; want[35] = 0x0A;
    want[38] = 3;
    want[48] = 'B'; want[49] = 'B';
    EXPECT_EQ(out, want);
    EXPECT_FALSE(is_trailer(out));

    CtlEntry back = decode_entry(out);
    EXPECT_EQ(back.pieceName, e.pieceName);
    EXPECT_EQ(back.slot, 7);
    EXPECT_EQ(back.entryState, kStateSuperseded);
    EXPECT_EQ(back.dataLength, 0xA0B);
    EXPECT_EQ(back.timeStamp3, 0x01020304);
}

TEST(Records, FreshTrailerAndItsFields) {
    CtlTrailer t = fresh_trailer();
    std::array<uint8_t, 64> want{};
    want[0] = want[1] = want[2] = 'a';
    want[59] = 3;
    EXPECT_EQ(t.raw, want);
    EXPECT_TRUE(is_trailer(t.raw));

    t.raw[10] = 0x55;  // reserved bytes stay as they are
    trailer_set(t, {'a', 'a', 'b'}, 5, -2);
    EXPECT_EQ(trailer_next_code(t), (FileCode{'a', 'a', 'b'}));
    EXPECT_EQ(trailer_next_slot(t), 5);
    EXPECT_EQ(trailer_valid_count(t), -2);
    EXPECT_EQ(t.raw[4], 0xFE);
    EXPECT_EQ(t.raw[5], 0xFF);
    EXPECT_EQ(t.raw[10], 0x55);
}

TEST(Records, DirectoryEntryKeepsItsReservedBytes) {
    PceDirEntry d;
    for (int i = 44; i < 64; ++i) d.raw[i] = static_cast<uint8_t>(i);
    dir_set_offset(d, 528);
    dir_fill(d, 100, make_piece_name("X1"), 0x11223344);
    EXPECT_EQ(dir_offset(d), 528);
    EXPECT_EQ(dir_length(d), 100);
    EXPECT_EQ(dir_state(d), 0);
    EXPECT_EQ(dir_stamp(d), 0x11223344);
    EXPECT_EQ(get_i32(d.raw.data() + 34), 0x11223344);
    EXPECT_EQ(get_i32(d.raw.data() + 38), 0x11223344);
    EXPECT_EQ(d.raw[8], 'X');
    EXPECT_EQ(d.raw[10], 0);
    EXPECT_EQ(d.raw[42], 'B');
    EXPECT_EQ(d.raw[43], 'B');
    for (int i = 44; i < 64; ++i) EXPECT_EQ(d.raw[i], i);
    dir_set_state(d, kStateSuperseded);
    EXPECT_EQ(d.raw[28], 0x00);
    EXPECT_EQ(d.raw[29], 0x02);
}

TEST(Records, StampIsStandardTimePlusNineHours) {
    int64_t before = platform::mktime_standard(platform::local_now()) + 32400;
    int32_t stamp = time_stamp_now();
    int64_t after = platform::mktime_standard(platform::local_now()) + 32400;
    EXPECT_GE(stamp, static_cast<int32_t>(before));
    EXPECT_LE(stamp, static_cast<int32_t>(after));
}

TEST(AreaPath, DriveForm) {
    AreaField a = make_area("F:TEST");
    EXPECT_EQ(area_path(a, AreaFile::Control), "F:\\userroot\\storage\\TEST\\data\\piece.ctl");
    EXPECT_EQ(area_path(a, AreaFile::Control).size(), 39u);
    EXPECT_EQ(area_path(a, AreaFile::ControlBackup), "F:\\userroot\\storage\\TEST\\data\\piece.ct$");
    EXPECT_EQ(area_path(a, AreaFile::Piece, {'a', 'a', 'b'}), "F:\\userroot\\storage\\TEST\\data\\pieceaab.pce");
    EXPECT_EQ(area_path(a, AreaFile::PieceBackup, {'z', 'y', 'x'}),
              "F:\\userroot\\storage\\TEST\\data\\piecezyx.pc$");
    EXPECT_EQ(area_path(a, AreaFile::Lock), "F:\\userroot\\storage\\TEST\\data\\teilimp.opn");
    // Cut after 8 characters; blanks and NULs inside vanish.
    EXPECT_EQ(area_path(make_area("f:LONGNAME123"), AreaFile::Control),
              "f:\\userroot\\storage\\LONGNAME\\data\\piece.ctl");
    AreaField gaps = make_area("F:A B");
    gaps[5] = '\0';
    gaps[6] = 'C';
    EXPECT_EQ(area_path(gaps, AreaFile::Control), "F:\\userroot\\storage\\ABC\\data\\piece.ctl");
}

TEST(AreaPath, DirectoryForm) {
    EXPECT_EQ(area_path(make_area("C:\\TMP\\"), AreaFile::Control), "C:\\TMP\\piece.ctl");
    EXPECT_EQ(area_path(make_area("C:\\TMP"), AreaFile::Control), "C:\\TMPpiece.ctl");
    EXPECT_EQ(area_path(make_area("..\\X\\"), AreaFile::Piece, {'a', 'b', 'c'}), "..\\X\\pieceabc.pce");
    EXPECT_EQ(area_path(make_area("C:\\ABCDEFGHIJ\\"), AreaFile::ControlBackup), "C:\\ABCDEFGpiece.ct$");
    EXPECT_EQ(area_path(make_area("F:\\TEST\\"), AreaFile::Lock), "F:\\TEST\\teilimp.opn");
    EXPECT_EQ(area_path(make_area("F:\\TEST"), AreaFile::Lock), "F:\\TESTteilimp.opn");
}

TEST(FileCodes, StepAndWrap) {
    FileCode c{'a', 'a', 'z'};
    inc_ccc(c);
    EXPECT_EQ(c, (FileCode{'a', 'b', 'a'}));
    c = {'a', 'z', 'z'};
    inc_ccc(c);
    EXPECT_EQ(c, (FileCode{'b', 'a', 'a'}));
    c = {'z', 'z', 'z'};
    inc_ccc(c);
    EXPECT_EQ(c, (FileCode{'a', 'a', 'a'}));

    std::set<std::string> seen;
    c = {'a', 'a', 'a'};
    do {
        ASSERT_EQ(ccc_valid(c), 1);
        seen.insert(std::string(c.begin(), c.end()));
        inc_ccc(c);
    } while (c != FileCode{'a', 'a', 'a'});
    EXPECT_EQ(seen.size(), 17576u);
}

TEST(FileCodes, Validity) {
    EXPECT_EQ(ccc_valid({'a', 'b', 'c'}), 1);
    EXPECT_EQ(ccc_valid({'a', 'z', 'a'}), 1);
    for (char bad : {' ', 'A', '5', '{', '`', '\0', '\xE4'}) {
        EXPECT_EQ(ccc_valid({bad, 'a', 'a'}), 0) << int(bad);
        EXPECT_EQ(ccc_valid({'a', bad, 'a'}), 0) << int(bad);
        EXPECT_EQ(ccc_valid({'a', 'a', bad}), 0) << int(bad);
    }
}

}  // namespace
}  // namespace teilimp::writer
