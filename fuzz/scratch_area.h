// A scratch storage area for the fuzz targets that work on area files: drive
// F: in a directory of its own (in memory where possible, as every store
// flushes), refilled from each input.
//
// Input layout: two little-endian 16-bit lengths a and b, then a bytes of
// piece.ctl, b bytes of pieceaaa.pce, and the rest as pieceaab.pce.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <unistd.h>

#include "platform/platform.h"

namespace fuzz_area {

namespace fs = std::filesystem;

inline fs::path& root() {
    static fs::path path;
    return path;
}

// What the console caught (quiet targets), dropped with each input.
inline std::string& console() {
    static std::string text;
    return text;
}

inline fs::path data_dir() { return root() / "userroot/storage/F/data"; }

inline void remove_scratch() {
    std::error_code ec;
    fs::remove_all(root(), ec);
}

// Creates the scratch drive for target `name` and maps F: to it. Waits of
// the code under test (retries, lock polling) take no time. With quiet,
// the console output of the code under test is caught and dropped.
inline void init(const char* name, bool quiet) {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    root() = base / (std::string("teilimp-fuzz-") + name + "-" + std::to_string(::getpid()));
    std::atexit(remove_scratch);
    fs::create_directories(data_dir());
    fs::create_directories(root() / "tmp");
    ::setenv("TEILIMP_DRIVE_F", root().c_str(), 1);
    ::setenv("TMP", (root() / "tmp").c_str(), 1);
    teilimp::platform::test::set_sleep_scale(0);
    if (quiet) teilimp::platform::test::capture_console(&console());
}

inline void put(const fs::path& path, const uint8_t* data, size_t n) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
}

// Empties the area and writes its files from the input. False when the
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
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(data_dir(), ec)) fs::remove_all(entry.path(), ec);
    put(data_dir() / "piece.ctl", data, a);
    put(data_dir() / "pieceaaa.pce", data + a, b);
    put(data_dir() / "pieceaab.pce", data + a + b, size - a - b);
    return true;
}

// Every file of the area by name, with its bytes.
inline std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(data_dir(), ec)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

}  // namespace fuzz_area
