// Fuzz target: teilarea on a damaged storage area. The input becomes the
// area's control file and two piece files (the layout of fuzz_area); then
// check, list, repair and check again run on it. Whatever the files hold,
// nothing may crash or read out of bounds, and a repair that reports a
// sound area leaves one that check finds sound.
//
// Input layout: two little-endian 16-bit lengths a and b, then a bytes of
// piece.ctl, b bytes of pieceaaa.pce, and the rest as pieceaab.pce.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "area_tool/tool.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using namespace teilimp;

fs::path g_root;
fs::path g_data;

void remove_scratch() {
    std::error_code ec;
    fs::remove_all(g_root, ec);
}

void put(const fs::path& path, const uint8_t* data, size_t n) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
}

int tool(const std::vector<std::string>& args) {
    std::string sink;
    platform::test::capture_console(&sink);
    const int status = area_tool::area_main(args);
    platform::test::capture_console(nullptr);
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path root = base / ("teilimp-fuzz-area-tool-" + std::to_string(::getpid()));
    g_root = root;
    g_data = root / "userroot/storage/F/data";
    std::atexit(remove_scratch);
    fs::create_directories(g_data);
    ::setenv("TEILIMP_DRIVE_F", root.c_str(), 1);
    platform::test::set_sleep_scale(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    size_t a = static_cast<size_t>(data[0] | (data[1] << 8));
    size_t b = static_cast<size_t>(data[2] | (data[3] << 8));
    data += 4;
    size -= 4;
    a = a > size ? size : a;
    b = b > size - a ? size - a : b;

    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(g_data, ec)) fs::remove(entry.path(), ec);
    put(g_data / "piece.ctl", data, a);
    put(g_data / "pieceaaa.pce", data + a, b);
    put(g_data / "pieceaab.pce", data + a + b, size - a - b);

    tool({"teilarea", "check", "F:F", "--json"});
    tool({"teilarea", "list", "F:F", "--all"});
    if (tool({"teilarea", "repair", "F:F"}) == area_tool::kExitOk &&
        tool({"teilarea", "check", "F:F"}) != area_tool::kExitOk)
        std::abort();
    return 0;
}
