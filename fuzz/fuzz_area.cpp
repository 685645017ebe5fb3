// Fuzz target: the writer on a damaged storage area. The input becomes the
// area's control file and two piece files; then a piece is looked up,
// entered, stored, its backup settled, superseded marks are carried into
// the piece files, the control file is sorted and leftovers are recovered.
// Whatever the files hold, nothing may crash or read or write out of bounds.
//
// Input layout: two little-endian 16-bit lengths a and b, then a bytes of
// piece.ctl, b bytes of pieceaaa.pce, and the rest as pieceaab.pce.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "writer/lock.h"
#include "writer/records.h"
#include "writer/sort.h"
#include "writer/writer.h"

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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A scratch drive F: in memory where possible: every store flushes.
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path root = base / ("teilimp-fuzz-area-" + std::to_string(::getpid()));
    g_root = root;
    g_data = root / "userroot/storage/F/data";
    std::atexit(remove_scratch);
    fs::create_directories(g_data);
    fs::create_directories(root / "tmp");
    ::setenv("TEILIMP_DRIVE_F", root.c_str(), 1);
    ::setenv("TMP", (root / "tmp").c_str(), 1);
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

    const writer::AreaField area = writer::make_area("F:F");
    writer::PieceName name{};
    name[0] = 'P';
    name[1] = '1';
    const std::vector<uint8_t> image(40, 0x5A);

    writer::epn_ctl_find(area, name);
    writer::epn_space_check(area, static_cast<int32_t>(image.size()));
    writer::epn_store_piece(area, name, image);
    writer::epn_mark_superseded(area);
    writer::epn_ctl_sort(area);
    writer::epn_recover(area);
    return 0;
}
