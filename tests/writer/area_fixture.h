// A storage area F:TEST on a drive mapped to a scratch directory, with
// helpers to import pieces the way a run does.
#pragma once

#include <gtest/gtest.h>


#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/area_check.h"
#include "support/test_util.h"
#include "writer/area_path.h"
#include "writer/records.h"
#include "writer/writer.h"

namespace teilimp::writer::test {

// Deterministic image bytes.
inline std::string image_bytes(size_t length, unsigned seed) {
    std::string s(length, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

inline std::span<const uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

using Stored = StoreResult;

// Scratch files on a memory file system where there is one: the tests
// flush often.
inline const char* fast_scratch() {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
    return std::getenv("TMPDIR");
}

struct AreaFixture : ::testing::Test {
    teilimp::testing::ScopedEnv scratch{"TMPDIR", fast_scratch()};
    teilimp::testing::TempDir root;
    teilimp::testing::DriveMap drive{'F', root.path};
    std::string tmpDir = root / "tmp";
    teilimp::testing::ScopedEnv tmp{"TMP", tmpDir.c_str()};
    AreaField area = make_area("F:TEST");
    std::string data = root / "userroot/storage/TEST/data";

    AreaFixture() {
        teilimp::testing::make_dirs(data);
        teilimp::testing::make_dirs(tmpDir);
    }

    std::string file(const std::string& name) const { return data + "/" + name; }
    std::string bytes(const std::string& name) const { return teilimp::testing::read_file(file(name)); }
    bool has(const std::string& name) const { return teilimp::testing::file_exists(file(name)); }

    // The per-piece sequence of a run: control entry, image, end.
    Stored store(const std::string& name, const std::string& image, AreaRun* run = nullptr) {
        return epn_store_piece(area, make_piece_name(name), bytes_of(image), run);
    }

    std::vector<std::string> problems(const std::map<std::string, std::string>* images = nullptr,
                                      bool marksCarried = false) const {
        teilimp::testing::AreaExpectation e;
        e.images = images;
        e.marksCarried = marksCarried;
        return teilimp::testing::check_area(data, e);
    }
};

}  // namespace teilimp::writer::test
