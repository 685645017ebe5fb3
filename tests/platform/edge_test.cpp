// Edge cases of the POSIX platform layer where a slip would lose or
// misplace data: names ending in a separator, UTF-8 names on disk, a
// directory as a replace target, and a copy that fails part way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_util.h"
#include "drive_fixture.h"

namespace teilimp::platform {
namespace {

TEST(PlatformEdges, TrailingSeparatorNamesOnlyADirectory) {
    DriveF d;
    write_file(d.root / "data/piece.ctl", "ctl");
    uint32_t err = 0;
    EXPECT_FALSE(open_file("F:\\data\\new.ctl\\", OpenMode::Create, &err).is_open());
    EXPECT_EQ(err, kErrInvalidName);
    EXPECT_FALSE(open_file("F:\\data\\piece.ctl\\", OpenMode::Read, &err).is_open());
    EXPECT_EQ(err, kErrInvalidName);
    EXPECT_FALSE(exists("F:\\data\\piece.ctl\\"));
    EXPECT_EQ(copy_file("F:\\data\\piece.ctl", "F:\\data\\copy\\"), kErrInvalidName);
    // (Wine says "not a directory", 267.)
    const uint32_t moved = rename_file("F:\\data\\piece.ctl", "F:\\data\\moved\\");
    EXPECT_TRUE(moved == kErrInvalidName || (!testing::posix_system() && moved == 267)) << moved;
    EXPECT_EQ(delete_file("F:\\data\\PIECE.CTL\\"), kErrInvalidName);
    EXPECT_EQ(list_dir(d.root / "data"), (std::vector<std::string>{"piece.ctl"}));
    // Directories take the form with or without the separator.
    EXPECT_TRUE(exists("F:\\DATA\\"));
    EXPECT_EQ(make_directory("F:\\data\\sub\\"), 0u);
    EXPECT_EQ(remove_directory("F:\\data\\SUB\\"), 0u);
}

TEST(PlatformEdges, Utf8NamesFoldByCharacter) {
    SKIP_UNLESS_POSIX("UTF-8 names on disk; Windows names are characters");
    DriveF d;
    // U+00DC and U+00CC differ only in a byte that code page 1252 folds
    // (0x9C / 0x8C); they are different letters all the same.
    write_file(d.root / "\xC3\x9C" "ber.epn", "U");
    EXPECT_TRUE(exists("F:\\\xC3\xBC" "BER.EPN"));
    EXPECT_FALSE(exists("F:\\\xC3\x8C" "ber.epn"));
    File f = open_file("F:\\\xC3\x8C" "ber.epn", OpenMode::CreateNew);
    ASSERT_TRUE(f.is_open());
    close_file(f);
    EXPECT_EQ(read_file(d.root / "\xC3\x9C" "ber.epn"), "U");

    write_file(d.root / "\xC3\xA4" "x.epn", "");
    FindHandle h;
    FindEntry e;
    std::vector<std::string> names;
    // "?" is one character, also where UTF-8 gives it two bytes.
    for (uint32_t rc = find_first("F:\\?BER.EPN", h, e); rc == 0; rc = find_next(h, e))
        names.push_back(e.long_name);
    EXPECT_EQ(names, (std::vector<std::string>{"\xC3\x8C" "ber.epn", "\xC3\x9C" "ber.epn"}));
    names.clear();
    for (uint32_t rc = find_first("F:\\\xC3\x84?.*", h, e); rc == 0; rc = find_next(h, e))
        names.push_back(e.long_name);
    EXPECT_EQ(names, (std::vector<std::string>{"\xC3\xA4" "x.epn"}));
}

TEST(PlatformEdges, ReplaceDoesNotDropADirectory) {
    DriveF d;
    write_file(d.root / "new", "N");
    make_dirs(d.root / "target");
    EXPECT_EQ(replace_file("F:\\new", "F:\\TARGET"), kErrAccessDenied);
    EXPECT_TRUE(file_exists(d.root / "target"));
    EXPECT_EQ(read_file(d.root / "new"), "N");
}

TEST(PlatformEdges, FailedCopyLeavesNoPartialTarget) {
    DriveF d;
    write_file(d.root / "big", std::string(200000, 'b'));
    write_file(d.root / "dst", "old");
    // A file size limit makes the copy fail after its first bytes.
    uint32_t rc = 0;
    {
        testing::FileSizeLimit limit(65536);
        if (!limit.active) GTEST_SKIP() << "no per-process file size limit on this system";
        rc = copy_file("F:\\big", "F:\\dst");
    }
    EXPECT_NE(rc, 0u);
    EXPECT_FALSE(file_exists(d.root / "dst"));
    EXPECT_EQ(read_file(d.root / "big").size(), 200000u);
}

}  // namespace
}  // namespace teilimp::platform
