// A scratch storage area for the fuzz targets that work on area files: drive
// F: in the file system held in memory (test::use_memory_files: no disk
// work per input), refilled from each input.
//
// Input layout: two little-endian 16-bit lengths a and b, then a bytes of
// piece.ctl, b bytes of pieceaaa.pce, and the rest as pieceaab.pce.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace fuzz_area {

namespace platform = teilimp::platform;

// What the console caught (quiet targets), dropped with each input.
inline std::string& console() {
    static std::string text;
    return text;
}

inline const std::string& data_dir() {
    static const std::string dir = "F:\\userroot\\storage\\F\\data";
    return dir;
}

inline void must(bool ok) {
    if (!ok) std::abort();
}

// Creates the scratch drive for target `name` in memory and maps F: to it.
// Waits of the code under test (retries, lock polling) take no time. With
// quiet, the console output of the code under test is caught and dropped.
inline void init(const char*, bool quiet) {
    platform::test::use_memory_files(true);
    ::setenv("TEILIMP_DRIVE_F", "/fuzz", 1);
    ::setenv("TMP", "/fuzz/tmp", 1);
    // The system's zone as it is, named: the C library then reads it once,
    // not at every conversion of a stamp (unset, it looks at the file again
    // each time).
    if (std::getenv("TZ") == nullptr) ::setenv("TZ", ":/etc/localtime", 1);
    for (const char* dir : {"/fuzz", "/fuzz/tmp", "/fuzz/userroot", "/fuzz/userroot/storage",
                            "/fuzz/userroot/storage/F"})
        must(platform::make_directory(dir) == platform::kErrNone);
    platform::test::set_sleep_scale(0);
    if (quiet) platform::test::capture_console(&console());
}

inline void put(const char* name, const uint8_t* data, size_t n) {
    platform::File f = platform::open_file(data_dir() + "\\" + name, platform::OpenMode::CreateNew);
    must(f.is_open() && platform::write_all(f, data, n) && platform::close_file(f));
}

// Whatever the code under test left in the area (files, directories,
// read-only ones) goes with its directory.
inline void empty() {
    if (platform::exists(data_dir())) must(platform::remove_tree(data_dir()) == platform::kErrNone);
}

// Makes the area anew and writes its files from the input. False when the
// input is too short to hold the two lengths.
inline bool fill(const uint8_t* data, size_t size) {
    if (size < 4) return false;
    console().clear();
    size_t a = static_cast<size_t>(data[0] | (data[1] << 8));
    size_t b = static_cast<size_t>(data[2] | (data[3] << 8));
    data += 4;
    size -= 4;
    a = a > size ? size : a;
    b = b > size - a ? size - a : b;
    empty();
    must(platform::make_directory(data_dir()) == platform::kErrNone);
    put("piece.ctl", data, a);
    put("pieceaaa.pce", data + a, b);
    put("pieceaab.pce", data + a + b, size - a - b);
    return true;
}

// The area of one input, filled from it and emptied when the input is
// done: what an input makes is freed within it. (An input that ends with
// more allocations than frees is run a second time by libFuzzer, looking
// for a leak; with the area kept until the next input that was 5 to 8 % of
// the time of the check and repair targets.)
struct Scratch {
    const bool filled;
    Scratch(const uint8_t* data, size_t size) : filled(fill(data, size)) {}
    ~Scratch() { empty(); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// Every file of the area by name, with its bytes (a directory reads as
// empty).
inline std::map<std::string, std::vector<uint8_t>> snapshot() {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const char* pattern : {"\\*", "\\.*"}) {
        std::vector<platform::FoundName> found;
        platform::find_names(data_dir() + pattern, found);
        for (const platform::FoundName& n : found) {
            std::vector<uint8_t>& bytes = files[n.name];
            if (!n.directory) platform::read_whole_file(data_dir() + "\\" + n.name, bytes);
        }
    }
    return files;
}

}  // namespace fuzz_area
