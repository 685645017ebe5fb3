// Synthetic storage areas for the benchmarks: M entries in the control file
// as a run leaves it (valid entries sorted first, superseded ones behind),
// every 16th piece of the import order a version later superseded, and the
// M/8 piece files that hold them (small images, marks carried).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace teilimp::bench {

constexpr int kSynthImage = 300;  // bytes of each stored image

inline void put16(std::string& b, size_t at, int32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void put32(std::string& b, size_t at, int32_t v) {
    for (int k = 0; k < 4; ++k) b[at + static_cast<size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
}

inline std::string file_code(int64_t index) {
    return {static_cast<char>('a' + index / 676), static_cast<char>('a' + index / 26 % 26),
            static_cast<char>('a' + index % 26)};
}

struct SynthArea {
    int64_t entries = 0;
    int64_t valid = 0;
    std::string control;                          // piece.ctl
    std::vector<std::string> pieceFiles;          // by code index
    std::vector<std::string> validNames;
};

// The name of valid entry i: natural order is numeric order.
inline std::string valid_name(int64_t i) { return "T" + std::to_string(i); }

// With `image`, every slot holds those bytes instead of filler (a real
// piece image, for the benchmarks that read the pieces).
inline SynthArea synth_area(int64_t m, const std::string* image = nullptr) {
    const auto length = static_cast<int32_t>(image != nullptr ? image->size() : kSynthImage);
    SynthArea a;
    a.entries = m;
    const int64_t superseded = (m + 15) / 16;  // import positions 0, 16, 32, ...
    a.valid = m - superseded;
    // Where each entry's image lies (import position p: file p / 8, slot p % 8).
    std::vector<int64_t> posValid(static_cast<size_t>(a.valid)), posOld(static_cast<size_t>(superseded));
    for (int64_t p = 0; p < m; ++p) {
        if (p % 16 == 0) posOld[static_cast<size_t>(p / 16)] = p;
        else posValid[static_cast<size_t>(p - p / 16 - 1)] = p;
    }
    std::vector<std::string> nameAt(static_cast<size_t>(m));
    std::vector<bool> oldAt(static_cast<size_t>(m));
    const int32_t stamp = 1000000000;
    a.control.assign(static_cast<size_t>(m + 1) * 64, '\0');
    auto entry = [&](int64_t k, const std::string& name, int64_t p, bool old) {
        const size_t at = static_cast<size_t>(k) * 64;
        a.control.replace(at, name.size(), name);
        a.control.replace(at + 20, 3, file_code(p / 8));
        a.control[at + 23] = static_cast<char>(p % 8);
        put16(a.control, at + 24, old ? 512 : 0);
        put32(a.control, at + 26, stamp);
        put32(a.control, at + 30, stamp);
        put32(a.control, at + 34, length);
        put16(a.control, at + 38, 3);
        put32(a.control, at + 44, stamp);
        a.control[at + 48] = 'B';
        a.control[at + 49] = 'B';
        nameAt[static_cast<size_t>(p)] = name;
        oldAt[static_cast<size_t>(p)] = old;
    };
    for (int64_t i = 0; i < a.valid; ++i) {
        a.validNames.push_back(valid_name(i));
        entry(i, a.validNames.back(), posValid[static_cast<size_t>(i)], false);
    }
    for (int64_t j = 0; j < superseded; ++j)
        entry(a.valid + j, a.valid > 0 ? valid_name((j * 15) % a.valid) : "GONE", posOld[static_cast<size_t>(j)], true);
    const size_t t = static_cast<size_t>(m) * 64;
    a.control.replace(t, 3, file_code(m / 8));
    a.control[t + 3] = static_cast<char>(m % 8);
    put16(a.control, t + 4, static_cast<int32_t>(a.valid & 0xFFFF));
    a.control[t + 59] = 3;

    for (int64_t f = 0; f * 8 < m; ++f) {
        std::string file(528, '\0');
        file[0] = 3;
        int32_t offset = 528;
        for (int64_t s = 0; s < 8 && f * 8 + s < m; ++s) {
            const size_t at = 16 + static_cast<size_t>(s) * 64;
            const int64_t p = f * 8 + s;
            put32(file, at, offset);
            put32(file, at + 4, length);
            file.replace(at + 8, nameAt[static_cast<size_t>(p)].size(), nameAt[static_cast<size_t>(p)]);
            put16(file, at + 28, oldAt[static_cast<size_t>(p)] ? 512 : 0);
            put32(file, at + 30, stamp);
            put32(file, at + 34, stamp);
            put32(file, at + 38, stamp);
            file[at + 42] = 'B';
            file[at + 43] = 'B';
            offset += length;
            if (s < 7) put32(file, at + 64, offset);
            if (image != nullptr) file += *image;
            else file.append(static_cast<size_t>(kSynthImage), static_cast<char>('a' + p % 26));
        }
        a.pieceFiles.push_back(std::move(file));
    }
    return a;
}

inline bool write_bytes(const std::filesystem::path& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Writes the area's files into `data` (which must exist).
inline bool write_area(const SynthArea& a, const std::filesystem::path& data) {
    if (!write_bytes(data / "piece.ctl", a.control)) return false;
    for (size_t f = 0; f < a.pieceFiles.size(); ++f)
        if (!write_bytes(data / ("piece" + file_code(static_cast<int64_t>(f)) + ".pce"), a.pieceFiles[f])) return false;
    return true;
}

}  // namespace teilimp::bench
