// Paths, files and searches of the POSIX platform layer: drive mapping,
// case-blind resolution, the Windows-like semantics of copy, rename, create
// and search, and the error codes they report.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_util.h"
#include "drive_fixture.h"

namespace teilimp::platform {
namespace {

std::vector<std::string> find_all(const std::string& pattern, uint32_t& rc) {
    std::vector<std::string> names;
    FindHandle h;
    FindEntry e;
    rc = find_first(pattern, h, e);
    if (rc != 0) return names;
    do names.push_back(e.long_name);
    while (find_next(h, e) == 0);
    return names;
}

TEST(PlatformPaths, DriveMappingAndCaseBlindComponents) {
    SKIP_UNLESS_POSIX("drive variables and case-blind resolution are the POSIX layer's own");
    DriveF d;
    write_file(d.root / "Userroot/storage/test/DATA/piece.ctl", "ctl");
    std::vector<uint8_t> s;
    EXPECT_EQ(read_whole_file("F:\\userroot\\storage\\TEST\\data\\PIECE.CTL", s), 0u);
    EXPECT_EQ(std::string(s.begin(), s.end()), "ctl");
    EXPECT_EQ(native_path("f:/USERROOT\\storage/TEST/data/piece.ctl"),
              d.root / "Userroot/storage/test/DATA/piece.ctl");
    // In a directory written as on disk only the last name is matched; a
    // missing one keeps its case, below a file nothing is found.
    EXPECT_EQ(native_path("F:\\Userroot\\storage\\test\\DATA\\Piece.CTL"),
              d.root / "Userroot/storage/test/DATA/piece.ctl");
    EXPECT_EQ(native_path("F:\\Userroot\\storage\\test\\DATA\\New.Pce"),
              d.root / "Userroot/storage/test/DATA/New.Pce");
    EXPECT_FALSE(exists("F:\\Userroot\\storage\\test\\DATA\\piece.ctl\\x"));
    // Drive-relative and root forms.
    EXPECT_TRUE(exists("F:Userroot"));
    EXPECT_TRUE(exists("F:\\"));
    // Code page 1252 letters fold too: a-umlaut 0xE4 / A-umlaut 0xC4.
    write_file(d.root / "M\xE4ntel.epn", "x");
    EXPECT_TRUE(exists("F:\\M\xC4NTEL.EPN"));
    EXPECT_EQ(get_attributes("F:\\userroot") & kAttrDirectory, kAttrDirectory);
    // "." and ".." are folded; ".." stops at the drive's root.
    EXPECT_EQ(native_path("F:\\..\\.\\userroot\\x\\..\\STORAGE"), d.root / "Userroot/storage");
}

TEST(PlatformPaths, RelativeAndAbsolutePaths) {
    TempDir t;
    write_file(t / "Sub/Name.EPN", "rel");
    char* old = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(t.path.c_str()), 0);
    std::vector<uint8_t> s;
    EXPECT_EQ(read_whole_file(".\\sub\\name.epn", s), 0u);
    EXPECT_EQ(read_whole_file("SUB/NAME.epn", s), 0u);
    EXPECT_EQ(std::string(s.begin(), s.end()), "rel");
    ASSERT_EQ(chdir(old), 0);
    free(old);
    EXPECT_EQ(read_whole_file(t.path + "\\SUB\\name.epn", s), 0u);
}

// A file is read whole whatever its size: empty, one byte, and more than
// the 64 KiB by which the room grows when the size is not known.
TEST(PlatformFiles, ReadWholeFileOfAnySize) {
    DriveF d;
    std::string big(70000, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    for (const std::string& bytes : {std::string(), std::string("1"), big}) {
        write_file(d.root / "whole.bin", bytes);
        std::vector<uint8_t> read = {'o', 'l', 'd'};
        EXPECT_EQ(read_whole_file("F:\\WHOLE.BIN", read), 0u);
        EXPECT_EQ(std::string(read.begin(), read.end()), bytes) << bytes.size();
    }
}

TEST(PlatformPaths, UnmappedDriveAndMissingParts) {
    SKIP_UNLESS_POSIX("the POSIX layer's codes and disk figures; Windows reports its own");
    DriveF d;
    uint32_t err = 0;
    File f = open_file("Q:\\x.txt", OpenMode::Create, &err);
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(err, kErrPathNotFound);
    EXPECT_FALSE(exists("Q:\\"));
    EXPECT_EQ(native_path("Q:\\x"), "");
    EXPECT_EQ(drive_type("Q:\\"), 1u);
    uint32_t a, b, c, t;
    EXPECT_NE(disk_free_space("Q:\\", a, b, c, t), 0u);
    EXPECT_EQ(drive_type("F:\\"), 3u);
    ASSERT_EQ(disk_free_space("f:\\", a, b, c, t), 0u);
    EXPECT_EQ(a, 8u);
    EXPECT_EQ(b, 512u);
    EXPECT_LE(c, t);
    EXPECT_LE(t, 0x7FFFFFFFu);

    write_file(d.root / "dir/file", "");
    open_file("F:\\dir\\missing", OpenMode::Read, &err);
    EXPECT_EQ(err, kErrFileNotFound);
    open_file("F:\\nodir\\missing", OpenMode::Read, &err);
    EXPECT_EQ(err, kErrPathNotFound);
    open_file("F:\\dir\\file\\below", OpenMode::Read, &err);
    EXPECT_EQ(err, kErrPathNotFound);
    get_attributes("F:\\nope", &err);
    EXPECT_EQ(err, kErrFileNotFound);
    EXPECT_EQ(delete_file("F:\\nope"), kErrFileNotFound);
    EXPECT_EQ(delete_file("F:\\dir"), kErrAccessDenied);
}

TEST(PlatformFiles, NewFileKeepsGivenCaseInResolvedDirectory) {
    DriveF d;
    make_dirs(d.root / "Area/Data");
    File f = open_file("F:\\AREA\\DATA\\NewFile.Ctl", OpenMode::CreateNew);
    ASSERT_TRUE(f.is_open());
    EXPECT_TRUE(write_line(f, "abc"));
    EXPECT_TRUE(close_file(f));
    EXPECT_EQ(read_file(d.root / "Area/Data/NewFile.Ctl"), "abc" + std::string(testing::kLineEnd));
    EXPECT_EQ(make_directory("F:\\area\\Sub"), 0u);
    EXPECT_TRUE(file_exists(d.root / "Area/Sub"));
    EXPECT_EQ(make_directory("F:\\area\\SUB"), kErrAlreadyExists);
}

TEST(PlatformFiles, CreateNewIsExclusiveAndCreateDoesNotTruncate) {
    DriveF d;
    uint32_t err = 0;
    File a = open_file("F:\\lock.opn", OpenMode::CreateNew, &err);
    ASSERT_TRUE(a.is_open());
    File b = open_file("F:\\LOCK.OPN", OpenMode::CreateNew, &err);
    EXPECT_FALSE(b.is_open());
    EXPECT_EQ(err, kErrFileExists);

    write_file(d.root / "keep.txt", "0123456789");
    File c = open_file("F:\\keep.txt", OpenMode::Create, &err);
    ASSERT_TRUE(c.is_open());
    EXPECT_EQ(file_size(c), 10);
    EXPECT_TRUE(write_all(c, "AB", 2));
    EXPECT_TRUE(truncate_file(c, 4));
    EXPECT_TRUE(flush_file(c));
    close_file(c);
    EXPECT_EQ(read_file(d.root / "keep.txt"), "AB23");

    File r = open_file("F:\\keep.txt", OpenMode::ReadWrite);
    char buf[4];
    ASSERT_TRUE(read_exact(r, buf, 4));
    EXPECT_FALSE(read_exact(r, buf, 1));
    EXPECT_TRUE(rewind_file(r));
    EXPECT_EQ(read_bytes(r, buf, 4), 4);
    File moved = std::move(r);
    EXPECT_FALSE(r.is_open());
    EXPECT_TRUE(close_and_delete(moved, "F:\\KEEP.TXT"));
    EXPECT_FALSE(file_exists(d.root / "keep.txt"));
}

TEST(PlatformFiles, CopyReplacesAndRefusesReadOnlyTarget) {
    DriveF d;
    write_file(d.root / "src.bin", std::string(300000, 'x'));
    write_file(d.root / "Dst.bin", "old old old");
    EXPECT_EQ(copy_file("F:\\SRC.BIN", "F:\\dst.bin"), 0u);
    EXPECT_EQ(read_file(d.root / "Dst.bin"), std::string(300000, 'x'));
    EXPECT_EQ(list_dir(d.root.path), (std::vector<std::string>{"Dst.bin", "src.bin"}));

    EXPECT_EQ(set_attributes("F:\\dst.bin", kAttrReadOnly), 0u);
    EXPECT_EQ(get_attributes("F:\\dst.bin") & kAttrReadOnly, kAttrReadOnly);
    if (!testing::posix_system() && testing::writable_by_this_user(d.root / "Dst.bin"))
        GTEST_SKIP() << "the system lets this user write read-only files (Wine run as root)";
    EXPECT_EQ(copy_file("F:\\src.bin", "F:\\dst.bin"), kErrAccessDenied);
    uint32_t err = 0;
    EXPECT_FALSE(open_file("F:\\dst.bin", OpenMode::ReadWrite, &err).is_open());
    EXPECT_EQ(err, kErrAccessDenied);
    EXPECT_EQ(delete_file("F:\\dst.bin"), kErrAccessDenied);
    EXPECT_EQ(set_attributes("F:\\dst.bin", kAttrArchive), 0u);
    EXPECT_EQ(get_attributes("F:\\dst.bin"), kAttrArchive);
    EXPECT_EQ(copy_file("F:\\missing", "F:\\dst.bin"), kErrFileNotFound);
    EXPECT_EQ(copy_file("F:\\dst.bin", "F:\\DST.BIN"), kErrSharingViolation);
    EXPECT_EQ(read_file(d.root / "Dst.bin").size(), 300000u);
    EXPECT_EQ(copy_file("F:\\src.bin", "F:\\nodir\\x"), kErrPathNotFound);
}

TEST(PlatformFiles, RenameRefusesExistingTargetReplaceDoesNot) {
    DriveF d;
    write_file(d.root / "a.txt", "A");
    write_file(d.root / "B.txt", "B");
    EXPECT_EQ(rename_file("F:\\a.txt", "F:\\b.TXT"), kErrAlreadyExists);
    EXPECT_EQ(read_file(d.root / "B.txt"), "B");
    EXPECT_EQ(rename_file("F:\\A.TXT", "F:\\c.txt"), 0u);
    EXPECT_EQ(replace_file("F:\\c.txt", "F:\\b.txt"), 0u);
    EXPECT_EQ(list_dir(d.root.path), (std::vector<std::string>{"B.txt"}));
    EXPECT_EQ(read_file(d.root / "B.txt"), "A");
    // Same file in another case: the name takes the new case (Wine keeps
    // the old one).
    EXPECT_EQ(rename_file("F:\\b.txt", "F:\\b.TXT"), 0u);
    if (testing::posix_system()) {
        EXPECT_EQ(list_dir(d.root.path), (std::vector<std::string>{"b.TXT"}));
    }
    EXPECT_EQ(rename_file("F:\\none", "F:\\x"), kErrFileNotFound);
    EXPECT_EQ(sync_directory("F:\\"), 0u);
}

// A second name shares the content; an existing name is not replaced.
// In a directory declared exact, a name in another case is missing (and a
// new one can be made under it); other directories stay case-blind.
TEST(PlatformFiles, LinksAndExactNames) {
    SKIP_UNLESS_POSIX("names that differ only in case, and the POSIX layer's exact-name directories");
    DriveF d;
    write_file(d.root / "data/piece.ctl", "old");
    write_file(d.root / "data/PIECE.CT$", "stale");
    write_file(d.root / "other/Name.txt", "n");
    EXPECT_EQ(link_file("F:\\data\\piece.ctl", "F:\\data\\piece.ct$"), kErrFileExists);
    EXPECT_EQ(link_file("F:\\data\\missing", "F:\\data\\x"), kErrFileNotFound);
    EXPECT_EQ(link_file("F:\\data\\piece.ctl", "F:\\data\\second"), 0u);
    EXPECT_EQ(read_file(d.root / "data/second"), "old");
    struct stat a, b;
    ASSERT_EQ(stat((d.root / "data/second").c_str(), &a), 0);
    ASSERT_EQ(stat((d.root / "data/piece.ctl").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);

    assume_exact_names("F:\\DATA\\");
    EXPECT_FALSE(exists("F:\\data\\piece.ct$"));
    EXPECT_TRUE(exists("F:\\data\\PIECE.CT$"));
    EXPECT_TRUE(exists("F:\\OTHER\\name.txt"));
    EXPECT_EQ(link_file("F:\\data\\piece.ctl", "F:\\data\\piece.ct$"), 0u);
    assume_exact_names({});
    EXPECT_TRUE(exists("F:\\data\\Piece.Ct$"));
}

// In a directory declared exact, operations go straight to the system call
// without looking the name up first; every result and the files left must
// be what the general, case-blind way gives.
TEST(PlatformFiles, ExactNamesGiveTheSameResults) {
    SKIP_UNLESS_POSIX("the POSIX layer's exact-name directories");
    auto play = [](bool exact) {
        DriveF d;
        write_file(d.root / "data/a.txt", "a");
        write_file(d.root / "data/ro.txt", "r");
        make_dirs(d.root / "data/sub");
        EXPECT_EQ(set_attributes("F:\\data\\ro.txt", kAttrReadOnly), 0u);
        if (exact) assume_exact_names("F:\\data");
        std::vector<std::string> log;
        auto note = [&](const std::string& what, uint32_t code) { log.push_back(what + " " + std::to_string(code)); };
        auto open_code = [&](const std::string& name, OpenMode mode) {
            uint32_t error = 0;
            File f = open_file("F:\\data\\" + name, mode, &error);
            return f.is_open() ? 0u : error;
        };
        note("read missing", open_code("missing", OpenMode::Read));
        note("read a", open_code("a.txt", OpenMode::Read));
        note("write ro", open_code("ro.txt", OpenMode::ReadWrite));
        note("write a", open_code("a.txt", OpenMode::ReadWrite));
        note("read dir", open_code("sub", OpenMode::Read));
        note("write dir", open_code("sub", OpenMode::ReadWrite));
        note("new a", open_code("a.txt", OpenMode::CreateNew));
        note("new new", open_code("new.txt", OpenMode::CreateNew));
        note("new dir", open_code("sub", OpenMode::CreateNew));
        note("new in missing dir", open_code("none\\x.txt", OpenMode::CreateNew));
        note("link", link_file("F:\\data\\a.txt", "F:\\data\\b.txt"));
        note("link again", link_file("F:\\data\\a.txt", "F:\\data\\b.txt"));
        note("link missing", link_file("F:\\data\\missing", "F:\\data\\c.txt"));
        note("link dir", link_file("F:\\data\\sub", "F:\\data\\d"));
        note("replace ro", replace_file("F:\\data\\new.txt", "F:\\data\\ro.txt"));
        note("replace dir", replace_file("F:\\data\\new.txt", "F:\\data\\sub"));
        note("replace missing onto ro", replace_file("F:\\data\\missing", "F:\\data\\ro.txt"));
        note("replace missing", replace_file("F:\\data\\missing", "F:\\data\\a.txt"));
        note("replace", replace_file("F:\\data\\new.txt", "F:\\data\\e.txt"));
        note("delete missing", delete_file("F:\\data\\missing"));
        note("delete ro", delete_file("F:\\data\\ro.txt"));
        note("delete dir", delete_file("F:\\data\\sub"));
        note("delete b", delete_file("F:\\data\\b.txt"));
        uint32_t error = 0;
        note("attributes missing", get_attributes("F:\\data\\missing", &error) == kAttrInvalid ? error : 999);
        note("attributes ro", get_attributes("F:\\data\\ro.txt"));
        uint32_t rc = 0;
        const std::vector<std::string> none = find_all("F:\\data\\missing", rc);
        note("find missing", rc);
        const std::vector<std::string> one = find_all("F:\\data\\a.txt", rc);
        note("find a " + (one.empty() ? std::string() : one[0]), rc);
        note("sync", sync_directory("F:\\data"));
        note("sync with separator", sync_directory("F:\\data\\"));
        if (exact) assume_exact_names({});
        for (const std::string& name : list_dir(d.root / "data")) log.push_back("left " + name);
        return log;
    };
    const std::vector<std::string> general = play(false);
    EXPECT_EQ(play(true), general);
    // The codes themselves, some of them: as Windows gives them.
    ASSERT_GE(general.size(), 26u);
    EXPECT_EQ(general[0], "read missing 2");
    EXPECT_EQ(general[2], "write ro 5");
    EXPECT_EQ(general[6], "new a 80");
    EXPECT_EQ(general[11], "link again 80");
    EXPECT_EQ(general[14], "replace ro 5");
    EXPECT_EQ(general[16], "replace missing onto ro 2");
    EXPECT_EQ(general[25], "find missing 2");
}

// A new file takes the model's permission bits (the owner's write
// permission kept) and group on its open descriptor; a missing model
// changes nothing.
TEST(PlatformFiles, AccessOfAModelOnAnOpenFile) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits and groups";
#else
    DriveF d;
    write_file(d.root / "model", "m");
    ::chmod((d.root / "model").c_str(), 0460);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((d.root / "model").c_str(), static_cast<uid_t>(-1), 4242), 0);
    }
    File f = open_file("F:\\new", OpenMode::CreateNew);
    ASSERT_TRUE(f.is_open());
    const int before = testing::permission_bits(d.root / "new");
    EXPECT_EQ(copy_access("F:\\missing", f), kErrFileNotFound);
    EXPECT_EQ(testing::permission_bits(d.root / "new"), before);
    EXPECT_EQ(copy_access("F:\\model", f), 0u);
    EXPECT_EQ(testing::permission_bits(d.root / "new"), 0660);
    struct stat st {};
    ASSERT_EQ(::stat((d.root / "new").c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_gid, 4242u);
    }
    // Nothing differs: nothing to change, and no failure.
    EXPECT_EQ(copy_access("F:\\model", f), 0u);
#endif
}

// The names of a search without a look at every file: the same names, in
// the same order and with the same kinds as find_first gives.
TEST(PlatformFiles, NamesOfASearchAsTheSearchFindsThem) {
    DriveF d;
    for (const char* name : {"b.pce", "A.pce", "a.pcx", "piece.ctl", ".hidden", "c.pce"})
        write_file(d.root / (std::string("dir/") + name), "x");
    make_dirs(d.root / "dir/sub.pce");
    testing::make_link(d.root / "dir/sub.pce", d.root / "dir/linked.pce");
    testing::make_link(d.root / "dir/gone", d.root / "dir/dangling.pce");
    for (const char* pattern : {"F:\\dir\\*", "F:\\dir\\*.pce", "F:\\DIR\\*.PCE", "F:\\dir\\.*", "F:\\dir\\c.pce",
                                "F:\\dir\\C.PCE", "F:\\dir\\none*", "F:\\dir\\none", "F:\\none\\*", "F:\\dir\\sub.pce"}) {
        uint32_t searchCode = 0;
        std::vector<std::string> searched;
        FindHandle h;
        FindEntry e;
        searchCode = find_first(pattern, h, e);
        if (searchCode == 0) {
            do searched.push_back(e.long_name + ((e.attributes & kAttrDirectory) != 0 ? "/" : ""));
            while (find_next(h, e) == 0);
        }
        std::vector<FoundName> found;
        const uint32_t code = find_names(pattern, found);
        std::vector<std::string> named;
        for (const FoundName& n : found) named.push_back(n.name + (n.directory ? "/" : ""));
        EXPECT_EQ(code, searchCode) << pattern;
        EXPECT_EQ(named, searched) << pattern;
    }
    std::vector<FoundName> found;
    ASSERT_EQ(find_names("F:\\dir\\*.pce", found), 0u);
    ASSERT_GE(found.size(), 4u);
    EXPECT_EQ(found[0].name, "A.pce");
    EXPECT_FALSE(found[0].directory);
}

TEST(PlatformFiles, PrivateDirectoryAndRemoveTree) {
    TempDir t;
    std::string dir;
    ASSERT_EQ(make_private_directory(t.path, "teilimp", dir), 0u);
    if (testing::posix_system()) {
        EXPECT_EQ(testing::permission_bits(dir), 0700);
    }
    EXPECT_EQ(dir.rfind(t.path, 0), 0u);
    EXPECT_EQ(dir.substr(t.path.size() + 1, 7), "teilimp");
    std::string dir2;
    ASSERT_EQ(make_private_directory(t.path, "teilimp", dir2), 0u);
    EXPECT_NE(dir, dir2);

    // A link inside the tree is removed, not what it points to.
    write_file(t / "outside/keep", "k");
    write_file(dir + "/sub/f", "f");
    const bool linked = testing::make_link(t / "outside", dir + "/sub/link");
    if (testing::posix_system()) {
        ASSERT_TRUE(linked);
    }
    EXPECT_EQ(remove_tree(dir), 0u);
    EXPECT_FALSE(file_exists(dir));
    EXPECT_EQ(read_file(t / "outside/keep"), "k");
    EXPECT_EQ(remove_directory(dir2), 0u);
}

TEST(PlatformFind, WildcardsSortOrderAndCodes) {
    SKIP_UNLESS_POSIX("sorted listings and names that differ only in case");
    DriveF d;
    for (const char* n : {"b.epn", "A.EPN", "c.EPn", "a1.epn", "x.txt", "\xE4z.epn", "noext"})
        write_file(d.root / (std::string("in/") + n), "");
    make_dirs(d.root / "in/Dir.epn");
    uint32_t rc = 0;
    // Upper-cased byte order: "A.EPN" < "A1.EPN" < "B.EPN" < ... < 0xC4.
    EXPECT_EQ(find_all("F:\\IN\\*.epn", rc),
              (std::vector<std::string>{"A.EPN", "a1.epn", "b.epn", "c.EPn", "Dir.epn", "\xE4z.epn"}));
    EXPECT_EQ(find_all("F:\\in\\?.EPN", rc), (std::vector<std::string>{"A.EPN", "b.epn", "c.EPn"}));
    EXPECT_EQ(find_all("F:\\in\\*.*", rc).size(), 8u);
    EXPECT_EQ(find_all("F:\\in\\noext.*", rc), (std::vector<std::string>{"noext"}));
    EXPECT_EQ(find_all("F:\\in\\\xC4Z.EPN", rc), (std::vector<std::string>{"\xE4z.epn"}));
    // A plain name that exists as given is the one match, also where another
    // file differs from it only in case.
    EXPECT_EQ(find_all("F:\\in\\b.epn", rc), (std::vector<std::string>{"b.epn"}));
    write_file(d.root / "in/B.EPN", "");
    EXPECT_EQ(find_all("F:\\in\\B.EPN", rc), (std::vector<std::string>{"B.EPN"}));
    EXPECT_EQ(find_all("F:\\in\\b.Epn", rc), (std::vector<std::string>{"B.EPN", "b.epn"}));
    std::remove((d.root / "in/B.EPN").c_str());
    EXPECT_EQ(find_all("F:\\in\\*.pce", rc).size(), 0u);
    EXPECT_EQ(rc, kErrFileNotFound);
    find_all("F:\\out\\*.epn", rc);
    EXPECT_EQ(rc, kErrPathNotFound);
    find_all("Q:\\*.*", rc);
    EXPECT_EQ(rc, kErrPathNotFound);

    FindHandle h;
    FindEntry e;
    ASSERT_EQ(find_first("F:\\in\\d*", h, e), 0u);
    EXPECT_EQ(e.attributes & kAttrDirectory, kAttrDirectory);
    EXPECT_TRUE(e.short_name.empty());
    EXPECT_EQ(find_next(h, e), kErrNoMoreFiles);
    FindHandle moved = std::move(h);
    EXPECT_FALSE(h.is_open());
    find_close(moved);
    EXPECT_EQ(find_next(moved, e), kErrInvalidHandle);
    EXPECT_EQ(short_path_name("F:\\in\\b.epn"), "");
}

TEST(PlatformFind, EntryHasSizeAndWriteTime) {
    DriveF d;
    write_file(d.root / "f.epn", "12345");
    const FileTime t = (1234567890LL + 11644473600LL) * 10000000LL;
    ASSERT_EQ(set_file_time("F:\\F.EPN", t), 0u);
    FindHandle h;
    FindEntry e;
    ASSERT_EQ(find_first("F:\\f.epn", h, e), 0u);
    EXPECT_EQ(e.size, 5u);
    EXPECT_EQ(e.write_time, t);
    if (testing::posix_system()) {
        EXPECT_EQ(e.creation_time, 0);  // unknown there
    }
    EXPECT_EQ(e.attributes, kAttrArchive);
}

TEST(PlatformHooks, KthOperationFailsAndCounts) {
    DriveF d;
    test::reset_file_ops();
    File f = open_file("F:\\x", OpenMode::Create);     // 1
    ASSERT_TRUE(f.is_open());
    test::set_fault_at(3);
    EXPECT_TRUE(write_all(f, "a", 1));                 // 2
    EXPECT_FALSE(write_all(f, "b", 1));                // 3: fails
    EXPECT_TRUE(write_all(f, "c", 1));                 // 4
    close_file(f);                                     // not counted
    EXPECT_EQ(test::file_ops_counted(), 4);
    EXPECT_EQ(read_file(d.root / "x"), "ac");

    test::set_fault_at(6);
    std::vector<uint8_t> s;
    EXPECT_EQ(read_whole_file("F:\\x", s), 0u);        // reads are not counted
    EXPECT_EQ(copy_file("F:\\x", "F:\\y"), 0u);        // 5
    EXPECT_EQ(rename_file("F:\\y", "F:\\z"), kErrAccessDenied);  // 6
    EXPECT_TRUE(file_exists(d.root / "y"));
    uint32_t err = 0;
    test::set_fault_at(7);
    EXPECT_FALSE(open_file("F:\\n", OpenMode::CreateNew, &err).is_open());
    EXPECT_EQ(err, kErrAccessDenied);
    EXPECT_FALSE(file_exists(d.root / "n"));
    test::set_fault_at(0);
    test::reset_file_ops();
    EXPECT_EQ(test::file_ops_counted(), 0);
}

// Run as a program of its own by CrashKillsBeforeTheOperation, on the
// drive F: that test mapped.
TEST(PlatformHooksChild, CrashAtTheSecondOperation) {
    if (std::getenv("TEILIMP_TEST_CRASH_CHILD") == nullptr)
        GTEST_SKIP() << "only the child process of PlatformHooks.CrashKillsBeforeTheOperation runs this";
    test::reset_file_ops();
    test::set_crash_at(2);
    File f = open_file("F:\\crash", OpenMode::Create);
    write_all(f, "never", 5);
}

TEST(PlatformHooks, CrashKillsBeforeTheOperation) {
    DriveF d;
    const testing::RunResult r =
        testing::run_self("PlatformHooksChild.CrashAtTheSecondOperation", {{"TEILIMP_TEST_CRASH_CHILD", "1"}});
    EXPECT_TRUE(r.killed) << r.exitCode << "\n" << r.rawOut;
    EXPECT_EQ(read_file(d.root / "crash"), "");
    EXPECT_TRUE(file_exists(d.root / "crash"));
}

}  // namespace
}  // namespace teilimp::platform
