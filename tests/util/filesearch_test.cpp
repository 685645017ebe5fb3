#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_util.h"
#include "util/filesearch.h"

using namespace teilimp::util;
namespace platform = teilimp::platform;
using teilimp::testing::TempDir;
using teilimp::testing::make_dirs;
using teilimp::testing::write_file;

namespace {

// A scratch directory mapped as drive X:.
struct FileSearch : ::testing::Test {
    TempDir dir;
    teilimp::testing::DriveMap drive{'X', dir.path};
};

std::string short12(const Fns4Entry& e) { return std::string(e.shortName, 12); }

// The display short name that ftnfns4 gives the single file `name`.
std::string short_name_of(const TempDir& dir, const std::string& name) {
    write_file(dir / name, "x");
    Fns4Search s;
    Fns4Entry e;
    const int32_t r = ftnfns4(s, 1, "X:\\" + name, e);
    EXPECT_EQ(r, 0) << name;
    EXPECT_EQ(e.longName, name);
    return r == 0 ? short12(e) : std::string();
}

platform::FileTime file_time_of(int y, int mo, int d, int h, int mi, int s) {
    platform::CalendarTime t;
    t.year = y; t.month = mo; t.day = d; t.hour = h; t.minute = mi; t.second = s;
    return (platform::mktime_standard(t) + 11644473600LL) * 10000000LL;
}

}  // namespace

TEST_F(FileSearch, WalksTheMatchesOfAMappedDrive) {
    write_file(dir / "b.EPN", "12345");
    write_file(dir / "a.epn", "1");
    write_file(dir / "longfilename.epn", "");
    write_file(dir / "c.txt", "");
    make_dirs(dir / "sub.epn");
    ASSERT_EQ(platform::set_file_time(dir / "a.epn", file_time_of(2002, 1, 7, 9, 5, 0)), 0u);

    Fns4Search s;
    Fns4Entry e;
    std::vector<std::string> longNames, shortNames;
    int32_t r = ftnfns4(s, 1, "X:\\*.EPN", e);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(e.size, 1);
    EXPECT_EQ(e.dti, (Dti{22, 1, 7, 9, 5, 0}));
    EXPECT_EQ(e.attributes & platform::kAttrDirectory, 0);
    for (; r == 0; r = ftnfns4(s, 2, {}, e)) {
        longNames.push_back(e.longName);
        shortNames.push_back(short12(e));
        // Without 8.3 aliases the display name is built here, not reported.
        if (!platform::has_short_names()) {
            EXPECT_FALSE(e.hasAlternateName) << e.longName;
        }
    }
    EXPECT_EQ(r, 1);
    EXPECT_EQ(longNames, (std::vector<std::string>{"a.epn", "b.EPN", "longfilename.epn", "sub.epn"}));
    ASSERT_EQ(shortNames.size(), 4u);
    // A long name has no 8.3 form of its own: blank, or the system's alias.
    const std::string longShort = platform::has_short_names() ? shortNames[2] : "            ";
    EXPECT_EQ(shortNames, (std::vector<std::string>{"A       .EPN", "B       .EPN", longShort, "SUB     .EPN"}));
    EXPECT_TRUE(!platform::has_short_names() || longShort.find('~') != std::string::npos) << longShort;
    EXPECT_NE(e.attributes & platform::kAttrDirectory, 0);  // the last entry is kept
    EXPECT_EQ(ftnfns4(s, 2, {}, e), 3);  // the search is closed
    EXPECT_EQ(ftnfns4(s, 3, {}, e), 0);
    EXPECT_EQ(ftnfns4(s, 7, {}, e), 3);
}

TEST_F(FileSearch, FailuresOfTheFirstCall) {
    Fns4Search s;
    Fns4Entry e;
    e.longName = "untouched";
    EXPECT_EQ(ftnfns4(s, 1, "X:\\*.EPN", e), 2);        // no match in an existing directory
    EXPECT_EQ(ftnfns4(s, 1, "X:\\nodir\\*.EPN", e), 2); // no such directory
    EXPECT_EQ(ftnfns4(s, 1, "", e), 2);
    EXPECT_EQ(ftnfns4(s, 1, "Q:\\*.*", e), 2);          // unmapped drive
    EXPECT_EQ(e.longName, "untouched");
    EXPECT_EQ(ftnfns4(s, 2, {}, e), 3);
    // An over-long pattern is cut to 259 characters: the blanks stay part
    // of it (Windows drops trailing blanks of a name itself).
    write_file(dir / "a.epn", "");
    EXPECT_EQ(ftnfns4(s, 1, "X:\\*.EPN" + std::string(300, ' '), e), teilimp::testing::posix_system() ? 2 : 0);
}

TEST_F(FileSearch, ShortNameLayouts) {
    EXPECT_EQ(short_name_of(dir, "a.b"), "A       .B  ");
    EXPECT_EQ(short_name_of(dir, "abcdefgh.xyz"), "ABCDEFGH.XYZ");
    EXPECT_EQ(short_name_of(dir, "abcdefg.x"), "ABCDEFG .X  ");
    EXPECT_EQ(short_name_of(dir, "noext"), "NOEXT       ");
    // Names that are no 8.3 names: laid out from the long name where the
    // system has no aliases, the system's alias where it has.
    if (platform::has_short_names()) return;
    EXPECT_EQ(short_name_of(dir, "ab.cdef"), "AB      .CDE");
    EXPECT_EQ(short_name_of(dir, "abcdefghij.k"), "ABCDEFGHIJ.K");  // dot beyond column 8 stays
    EXPECT_EQ(short_name_of(dir, "\xe4rmel.epn"), "\xc4RMEL   .EPN");
    EXPECT_EQ(short_name_of(dir, "thirteen.char"), "            ");
}

TEST_F(FileSearch, FtnfnsFiltersByAttributes) {
    write_file(dir / "a.txt", "abc");
    make_dirs(dir / "d1");
    write_file(dir / "e.txt", "");
    make_dirs(dir / "f2");

    FnsSearch s;
    FnsInfo info;
    std::string name = "X:\\*";
    int16_t attrs = platform::kAttrDirectory;
    std::vector<std::string> found;
    for (int16_t st = FTNFNS(s, 1, name, attrs, info); st == 0; st = FTNFNS(s, 2, name, attrs, info)) {
        EXPECT_NE(attrs & platform::kAttrDirectory, 0);
        found.push_back(name);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"d1", "f2"}));

    name = "X:\\A.TXT";
    attrs = 0;
    ASSERT_EQ(FTNFNS(s, 1, name, attrs, info), 0);
    EXPECT_EQ(name, "a.txt");
    EXPECT_EQ(info.size, 3);
    EXPECT_EQ(FTNFNS(s, 3, name, attrs, info), 0);
    const int16_t next = FTNFNS(s, 2, name, attrs, info);
    EXPECT_TRUE(next == 4 || next == 3) << next;
    EXPECT_EQ(FTNFNS(s, 9, name, attrs, info), 3);
    name = "X:\\*.none";
    EXPECT_EQ(FTNFNS(s, 1, name, attrs, info), 2);
}

TEST_F(FileSearch, OneFileLookups) {
    write_file(dir / "lock.opn", "OK\n");
    ASSERT_EQ(platform::set_file_time(dir / "lock.opn", file_time_of(2003, 12, 31, 23, 59, 58)), 0u);
    EXPECT_EQ(filesize("X:\\lock.opn"), 3);
    Dti d{};
    EXPECT_EQ(filedti("X:\\LOCK.OPN", d), 1);
    EXPECT_EQ(d, (Dti{23, 12, 31, 23, 59, 58}));

    EXPECT_EQ(filesize("X:\\missing.opn"), -1);
    d = Dti{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(filedti("X:\\missing.opn", d), 0);
    EXPECT_EQ(d, Dti{});
    int32_t size = 77;
    EXPECT_EQ(fileinfo("X:\\nodir\\missing.opn", d, size), 0);
    EXPECT_EQ(size, 0);
}
