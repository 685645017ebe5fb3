#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/test_util.h"
#include "util/fileops.h"

using namespace teilimp::util;
using teilimp::testing::TempDir;
using teilimp::testing::file_exists;
using teilimp::testing::read_file;
using teilimp::testing::write_file;

namespace {

// A scratch directory mapped as drive X:.
struct FileOps : ::testing::Test {
    TempDir dir;
    teilimp::testing::DriveMap drive{'X', dir.path};
};

// Root ignores read-only bits; such tests then say nothing.
bool read_only_is_enforced(const std::string& nativePath) {
    uint32_t err = 0;
    teilimp::platform::File f = teilimp::platform::open_file(nativePath, teilimp::platform::OpenMode::ReadWrite, &err);
    return !f.is_open();
}

}  // namespace

TEST_F(FileOps, CopyReplacesAWritableTargetAndFailsOnAReadOnlyOne) {
    write_file(dir / "a.txt", "new");
    write_file(dir / "b.txt", "old contents");
    EXPECT_EQ(ftnfco("X:\\a.txt", "X:\\b.txt"), 0);
    EXPECT_EQ(read_file(dir / "b.txt"), "new");

    EXPECT_EQ(ftnfco("X:\\missing.txt", "X:\\c.txt"), 3);
    EXPECT_FALSE(file_exists(dir / "c.txt"));
    EXPECT_EQ(ftnfco("", "X:\\c.txt"), 3);

    Set_ro("X:\\b.txt", 1);
    EXPECT_EQ(Get_ro("X:\\b.txt"), 1);
    if (!read_only_is_enforced(dir / "b.txt")) GTEST_SKIP() << "read-only bits are not enforced";
    write_file(dir / "a.txt", "newer");
    EXPECT_EQ(ftnfco("X:\\a.txt", "X:\\b.txt"), 3);
    EXPECT_EQ(read_file(dir / "b.txt"), "new");
}

TEST_F(FileOps, DeleteReportsAMissingFile) {
    write_file(dir / "a.txt", "x");
    EXPECT_EQ(FTNFDE("X:\\missing.txt"), 3);
    // The name is used exactly: a trailing blank inside the length counts
    // (Windows itself drops trailing blanks of a name).
    if (teilimp::testing::posix_system()) {
        EXPECT_EQ(FTNFDE("X:\\a.txt "), 3);
        EXPECT_TRUE(file_exists(dir / "a.txt"));
    }
    // The system receives the name up to a NUL.
    EXPECT_EQ(FTNFDE(std::string_view("X:\\a.txt\0junk", 13)), 0);
    EXPECT_FALSE(file_exists(dir / "a.txt"));
    EXPECT_EQ(FTNFDE(""), 3);
    // Names of 260 characters or more never reach the system.
    write_file(dir / "b.txt", "B");
    const std::string longName = "X:\\" + std::string(257, 'n');
    EXPECT_EQ(ftnfco("X:\\b.txt", longName), 3);
    EXPECT_EQ(FTNFDE(longName), 3);
    EXPECT_EQ(ftnfre("X:\\b.txt", longName), 3);
    EXPECT_TRUE(file_exists(dir / "b.txt"));
}

TEST_F(FileOps, RenameStatuses) {
    write_file(dir / "a.txt", "A");
    write_file(dir / "b.txt", "B");
    EXPECT_EQ(ftnfre("", "X:\\c.txt"), 1);
    EXPECT_EQ(ftnfre("X:\\a.txt", ""), 1);
    EXPECT_EQ(read_file(dir / "a.txt"), "A");
    EXPECT_EQ(ftnfre("X:\\a.txt", "X:\\b.txt"), 3);  // target exists
    EXPECT_EQ(read_file(dir / "b.txt"), "B");
    EXPECT_EQ(ftnfre("X:\\a.txt", "X:\\c.txt"), 0);
    EXPECT_EQ(read_file(dir / "c.txt"), "A");
    EXPECT_FALSE(file_exists(dir / "a.txt"));
    EXPECT_EQ(ftnfre("X:\\a.txt", "X:\\d.txt"), 3);
}

TEST_F(FileOps, ReadOnlyAttribute) {
    write_file(dir / "a.txt", "A");
    EXPECT_EQ(Get_ro("X:\\a.txt"), 0);
    Set_ro("X:\\a.txt", 0);
    EXPECT_EQ(Get_ro("X:\\a.txt"), 0);
    Set_ro("X:\\a.txt", 1);
    EXPECT_EQ(Get_ro("X:\\a.txt"), 1);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Get_ro(std::string_view("X:\\none.txt\0xx", 14)), -1);
    Set_ro("X:\\none.txt", 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Get_ro: Datei=X:\\none.txt\nSet_ro: Datei=X:\\none.txt\n");
}
