// A scratch storage area for the fuzz targets that work on area files: drive
// F: in a directory of its own (in memory where possible, as every store
// flushes), refilled from each input.
//
// Input layout: two little-endian 16-bit lengths a and b, then a bytes of
// piece.ctl, b bytes of pieceaaa.pce, and the rest as pieceaab.pce.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
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

// The same as a string, made once (the scratch work is done for every
// input with plain system calls, so that it costs little next to the code
// under test).
inline std::string& data_path() {
    static std::string path;
    return path;
}

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
    data_path() = data_dir().string();
    fs::create_directories(root() / "tmp");
    ::setenv("TEILIMP_DRIVE_F", root().c_str(), 1);
    ::setenv("TMP", (root() / "tmp").c_str(), 1);
    teilimp::platform::test::set_sleep_scale(0);
    if (quiet) teilimp::platform::test::capture_console(&console());
}

inline void put(int dir, const char* name, const uint8_t* data, size_t n) {
    const int fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) std::abort();
    while (n > 0) {
        const ssize_t written = ::write(fd, data, n);
        if (written <= 0) std::abort();
        data += written;
        n -= static_cast<size_t>(written);
    }
    ::close(fd);
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
    DIR* dir = ::opendir(data_path().c_str());
    if (dir == nullptr) std::abort();
    const int fd = ::dirfd(dir);
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (::unlinkat(fd, entry->d_name, 0) != 0) {
            std::error_code ec;  // a directory the code under test made
            fs::remove_all(data_dir() / entry->d_name, ec);
        }
    }
    put(fd, "piece.ctl", data, a);
    put(fd, "pieceaaa.pce", data + a, b);
    put(fd, "pieceaab.pce", data + a + b, size - a - b);
    ::closedir(dir);
    return true;
}

// Every file of the area by name, with its bytes.
inline std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> files;
    DIR* dir = ::opendir(data_path().c_str());
    if (dir == nullptr) std::abort();
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string& bytes = files[std::string(name)];
        const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;  // a directory reads as empty
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
        ::close(fd);
    }
    ::closedir(dir);
    return files;
}

}  // namespace fuzz_area
