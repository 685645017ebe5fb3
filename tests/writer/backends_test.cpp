// The file system in memory against the system's: one sequence of writer
// operations and of file operations at their edges (missing names and
// directories, names in another case, a file where a directory is meant,
// read-only files, links, renames over existing files) gives the same
// results and leaves the same files, byte for byte, on both.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "area_fixture.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "writer/sort.h"

namespace teilimp::writer::test {
namespace {

namespace platform = teilimp::platform;

// Every file below `dir` by its path there, with its bytes ("/" after a
// directory's name).
void collect(const std::string& dir, const std::string& rel, std::map<std::string, std::vector<uint8_t>>& out) {
    std::vector<platform::FoundName> found;
    for (const char* pattern : {"\\*", "\\.*"}) {
        platform::find_names(dir + pattern, found);
        for (const platform::FoundName& n : found) {
            if (n.directory) {
                out[rel + n.name + "/"];
                collect(dir + "\\" + n.name, rel + n.name + "/", out);
            } else {
                platform::read_whole_file(dir + "\\" + n.name, out[rel + n.name]);
            }
        }
    }
}

struct Outcome {
    std::vector<std::string> results;
    std::map<std::string, std::vector<uint8_t>> files;
};

// A clock that stands still, put in front of the active table: both runs
// stamp what they store alike.
platform::CalendarTime fixed_now() { return {2024, 5, 6, 7, 8, 10, 0, 1}; }
platform::FileTime fixed_file_time() { return 133594516900000000; }

// Runs the sequence on drive F: (mapped to `root`, with the area F:TEST in it).
Outcome run_sequence() {
    platform::detail::Ops clock = platform::detail::active();
    clock.local_now = fixed_now;
    clock.file_time_now = fixed_file_time;
    const platform::detail::Ops* before = &platform::detail::active();
    platform::detail::set_active(&clock);
    struct Back {
        const platform::detail::Ops* ops;
        ~Back() { platform::detail::set_active(ops); }
    } back{before};
    Outcome o;
    auto note = [&](const std::string& what, int64_t result) { o.results.push_back(what + " " + std::to_string(result)); };
    const AreaField area = make_area("F:TEST");
    const std::string d = "F:\\userroot\\storage\\TEST\\data\\";
    note("clear", epn_area_clear(area));
    int n = 0;
    for (const auto& [name, length] : std::vector<std::pair<const char*, size_t>>{
             {"N1", 900}, {"S3", 250}, {"N2", 40}, {"S9", 3000}, {"N1", 77}, {"S3", 12}, {"N4", 500}}) {
        const Stored s = epn_store_piece(area, make_piece_name(name), bytes_of(image_bytes(length, ++n)));
        note(std::string("store ") + name, number(s.ctl) * 100 + number(s.pce) * 10 + s.slot);
    }
    epn_mark_superseded(area);
    note("sort", number(epn_ctl_sort(area)));
    note("find", epn_ctl_find(area, make_piece_name("S3")));
    note("recover", epn_recover(area));

    // The file operations at their edges.
    uint32_t err = 0;
    platform::File f = platform::open_file(d + "PIECE.CTL", platform::OpenMode::CreateNew, &err);
    note("create existing", err);
    f = platform::open_file(d + "nothing", platform::OpenMode::Read, &err);
    note("open missing", err);
    f = platform::open_file(d + "no\\thing", platform::OpenMode::Create, &err);
    note("open in missing directory", err);
    f = platform::open_file(d + "piece.ctl\\", platform::OpenMode::Read, &err);
    note("file as a directory", err);
    f = platform::open_file(d + "piece.ctl\\x", platform::OpenMode::Create, &err);
    note("below a file", err);
    f = platform::open_file(d + "New.Tmp", platform::OpenMode::Create, &err);
    note("create", err);
    note("write", platform::write_all(f, "abcdef", 6) && platform::truncate_file(f, 4) && platform::seek_file(f, 9) &&
                      platform::write_all(f, "z", 1));
    note("size", platform::file_size(f));
    note("close", platform::close_file(f));
    note("copy", platform::copy_file(d + "new.tmp", d + "copy.tmp"));
    note("copy onto itself", platform::copy_file(d + "new.tmp", d + "NEW.TMP"));
    note("link", platform::link_file(d + "copy.tmp", d + "link.tmp"));
    note("link over", platform::link_file(d + "copy.tmp", d + "new.tmp"));
    note("rename over", platform::rename_file(d + "copy.tmp", d + "new.tmp"));
    note("rename case", platform::rename_file(d + "new.tmp", d + "NEW.tmp"));
    note("replace", platform::replace_file(d + "link.tmp", d + "new.TMP"));
    note("read-only", platform::set_attributes(d + "new.tmp", platform::kAttrReadOnly));
    note("attributes", platform::get_attributes(d + "NEW.TMP"));
    note("delete read-only", platform::delete_file(d + "new.tmp"));
    note("copy again", platform::copy_file(d + "piece.ctl", d + "other.tmp"));
    note("replace read-only", platform::replace_file(d + "other.tmp", d + "new.tmp"));
    note("replace by a link", platform::replace_file(d + "copy.tmp", d + "NEW.tmp"));
    f = platform::open_file(d + "new.tmp", platform::OpenMode::ReadWrite, &err);
    note("write read-only", err);
    note("directory", platform::make_directory(d + "sub"));
    note("directory again", platform::make_directory(d + "SUB\\"));
    note("into directory", platform::rename_file(d + "copy.tmp", d + "sub\\moved"));
    note("remove full", platform::remove_directory(d + "sub"));
    note("delete directory", platform::delete_file(d + "sub"));
    note("remove file as directory", platform::remove_directory(d + "sub\\moved"));
    note("missing directory", platform::get_attributes(d + "nix\\x", &err) == platform::kAttrInvalid ? err : 0);
    note("dots", platform::exists(d + "sub\\..\\.\\piece.ctl"));
    // A directory moved away, made anew and removed: the names in it follow.
    note("directory 2", platform::make_directory(d + "sub2"));
    f = platform::open_file(d + "sub2\\a", platform::OpenMode::Create, &err);
    note("file in it", err == 0 && platform::close_file(f) && platform::exists(d + "sub2\\a"));
    note("move directory", platform::rename_file(d + "sub2", d + "sub3"));
    note("gone with it", platform::exists(d + "sub2\\a") * 2 + platform::exists(d + "sub3\\a"));
    note("made anew", platform::make_directory(d + "SUB2") * 2 + platform::exists(d + "sub2\\a"));
    note("tree removed", platform::remove_tree(d + "sub3") * 2 + platform::exists(d + "sub3\\a"));
    std::vector<platform::FoundName> found;
    note("find pieces", platform::find_names(d + "PIECE*.pce", found));
    note("found", static_cast<int64_t>(found.size()));
    note("find none", platform::find_names(d + "*.xyz", found));
    note("find in missing", platform::find_names(d + "nix\\*", found));
    collect("F:\\userroot", "", o.files);
    return o;
}

TEST(Backends, MemoryFilesBehaveAsTheSystemsDo) {
#ifdef _WIN32
    GTEST_SKIP() << "the memory file system follows the POSIX rules (drives mapped to directories)";
#endif
    teilimp::testing::TempDir root;
    teilimp::testing::DriveMap drive('F', root.path);
    teilimp::testing::make_dirs(root / "userroot/storage/TEST/data");
    const Outcome disk = run_sequence();

    platform::test::use_memory_files(true);
    // The same directories, in memory.
    std::string dir;
    for (std::string_view part : {std::string_view(root.path), std::string_view("/userroot/storage/TEST/data")}) {
        for (size_t i = 0; i < part.size(); ++i) {
            if (part[i] == '/' && !dir.empty()) platform::make_directory(dir);
            dir += part[i];
        }
    }
    ASSERT_EQ(platform::make_directory(dir), platform::kErrNone) << dir;
    const Outcome memory = run_sequence();
    platform::test::use_memory_files(false);

    EXPECT_EQ(memory.results, disk.results);
    EXPECT_EQ(memory.files, disk.files);
    EXPECT_GT(disk.files.size(), 5u);
}

}  // namespace
}  // namespace teilimp::writer::test
