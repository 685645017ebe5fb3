#include "writer/area_io.h"

#include "writer/area_path.h"
#include "writer/area_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace teilimp::writer::io {

using platform::kErrNone;

std::string temp_name(const std::string& path) { return path + ".tmp"; }

std::string dir_of(const std::string& path) {
    size_t p = path.find_last_of("\\/");
    if (p == std::string::npos) return ".";
    if (p == 0 || (p == 2 && path[1] == ':')) return path.substr(0, p + 1);
    return path.substr(0, p);
}

bool read_only(const std::string& path) {
    uint32_t a = platform::get_attributes(path);
    return a != platform::kAttrInvalid && (a & platform::kAttrReadOnly) != 0;
}

bool remove_file(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!platform::exists(path)) return true;
        if (platform::delete_file(path) == kErrNone) return true;
    }
    return !platform::exists(path);
}

namespace {

// Flushes an existing file's data to the disk.
bool sync_file(const std::string& path) {
    platform::File f = platform::open_file(path, platform::OpenMode::ReadWrite);
    if (!f.is_open()) return false;
    bool flushed = platform::flush_file(f);
    bool closed = platform::close_file(f);
    return flushed && closed;
}

// Copies src to a temporary name, flushes it and renames it to dst.
bool copy_flushed(const std::string& src, const std::string& dst) {
    const std::string tmp = temp_name(dst);
    if (!remove_file(tmp)) return false;
    if (platform::copy_file(src, tmp) != kErrNone || !sync_file(tmp)) {
        remove_file(tmp);
        return false;
    }
    // The copy is as accessible as the file it replaces (or, new, as the
    // file it copies).
    platform::copy_access(platform::exists(dst) ? dst : src, tmp);
    if (platform::replace_file(tmp, dst) != kErrNone) {
        remove_file(tmp);
        return false;
    }
    return platform::sync_directory(dir_of(dst)) == kErrNone;
}

}  // namespace

bool make_backup(const std::string& orig, const std::string& bak, bool tryLink) {
    // A second name for the file costs no copy and no flush: its content
    // is on disk already and is replaced, never changed, by the update. A
    // read-only file is copied: a second name would share its attribute,
    // and a read-only backup could not be dropped.
    if (tryLink && !read_only(orig) && platform::link_file(orig, bak) == kErrNone) return true;
    return copy_flushed(orig, bak);
}

bool restore_from(const std::string& orig, const std::string& bak) {
    if (!copy_flushed(bak, orig)) return false;
    if (remove_file(bak)) platform::sync_directory(dir_of(bak));
    return true;
}

bool settle_backup(const std::string& orig, const std::string& bak) {
    if (!platform::exists(bak)) return true;
    // A backup that does not hold together would replace a sound file with
    // rubbish: it stays for the user to look at, and nothing goes on.
    if (!backup_sound(bak)) return false;
    return restore_from(orig, bak);
}

void drop_backup(const std::string& orig, const std::string& bak, bool syncDir) {
    if (!remove_file(bak)) {
        make_backup(orig, bak);
        remove_file(bak);
    }
    if (syncDir) platform::sync_directory(dir_of(bak));
}

platform::File create_temp(const std::string& tmp, const std::string& model, const std::string& otherModel) {
    uint32_t error = 0;
    platform::File f = platform::open_file(tmp, platform::OpenMode::CreateNew, &error);
    if (!f.is_open() && error == platform::kErrFileExists) {
        // A stale one: removed, and the file made anew.
        if (!remove_file(tmp)) return {};
        f = platform::open_file(tmp, platform::OpenMode::CreateNew);
    }
    if (!f.is_open() || model.empty()) return f;
    // Set on the open file, and only where it differs.
    const uint32_t access = platform::copy_access(model, f);
    if ((access == platform::kErrFileNotFound || access == platform::kErrPathNotFound) && !otherModel.empty())
        platform::copy_access(otherModel, f);
    return f;
}

void abandon_temp(platform::File& f, const std::string& tmp) {
    if (f.is_open()) platform::close_file(f);
    remove_file(tmp);
}

Commit commit_temp(platform::File& f, const std::string& tmp, const std::string& orig, bool syncDir) {
    bool flushed = platform::flush_file(f);
    bool closed = platform::close_file(f);
    if (!flushed || !closed || platform::replace_file(tmp, orig) != kErrNone) {
        remove_file(tmp);
        return Commit::Failed;
    }
    if (!syncDir) return Commit::Done;
    return platform::sync_directory(dir_of(orig)) == kErrNone ? Commit::Done : Commit::Unsynced;
}

AreaDir area_dir(const AreaField& area) {
    const std::string ctl = area_path(area, AreaFile::Control);
    AreaDir d;
    d.prefix = ctl.substr(0, ctl.size() - 9);  // without "piece.ctl"
    const size_t sep = d.prefix.find_last_of("\\/");
    d.dir = sep == std::string::npos ? std::string() : d.prefix.substr(0, sep + 1);
    d.stem = d.prefix.substr(d.dir.size());
    return d;
}

bool piece_code_of(const std::string& name, const std::string& stem, const std::string& ext, FileCode& code) {
    if (name.size() != stem.size() + 8 + ext.size()) return false;
    auto low = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    // Whether the name holds `part` at `at`, in any case.
    auto holds = [&](size_t at, std::string_view part) {
        for (size_t i = 0; i < part.size(); ++i)
            if (low(name[at + i]) != low(part[i])) return false;
        return true;
    };
    const size_t at = stem.size();
    if (!holds(0, stem) || !holds(at, "piece") || !holds(at + 8, ext)) return false;
    code = {low(name[at + 5]), low(name[at + 6]), low(name[at + 7])};
    return ccc_valid(code) == 1;
}

bool read_all(platform::File& f, util::Bytes& out) {
    out.clear();
    const int64_t size = platform::file_size(f);
    if (size > 0) out.resize(static_cast<size_t>(size));
    size_t have = 0;
    while (have < out.size()) {
        const int64_t got = platform::read_bytes(f, out.data() + have, out.size() - have);
        if (got < 0) {
            out.resize(have);  // what was read
            return false;
        }
        if (got == 0) break;
        have += static_cast<size_t>(got);
    }
    out.resize(have);
    // Whatever the file gained since it was measured (usually nothing: a
    // block on the stack, not a buffer allocated for every file read).
    uint8_t block[4096];
    for (;;) {
        const int64_t got = platform::read_bytes(f, block, sizeof block);
        if (got < 0) return false;
        if (got == 0) return true;
        out.insert(out.end(), block, block + got);
    }
}

bool ChunkReader::fill() {
    if (pos != end) return true;
    const int64_t got = platform::read_bytes(file, buf.get(), size);
    if (got <= 0) return false;
    pos = 0;
    end = static_cast<size_t>(got);
    return true;
}

bool ChunkReader::read(uint8_t* out, size_t n) {
    while (n > 0) {
        if (!fill()) return false;
        size_t take = std::min(n, end - pos);
        std::memcpy(out, buf.get() + pos, take);
        pos += take;
        out += take;
        n -= take;
    }
    return true;
}

bool ChunkReader::append(util::Bytes& out, size_t n) {
    while (n > 0) {
        if (!fill()) return false;
        size_t take = std::min(n, end - pos);
        out.insert(out.end(), buf.get() + pos, buf.get() + pos + take);
        pos += take;
        n -= take;
    }
    return true;
}

bool BlockWriter::put(const uint8_t* data, size_t n) {
    buf.insert(buf.end(), data, data + n);
    return buf.size() < limit || flush();
}

bool BlockWriter::flush() {
    if (buf.empty()) return true;
    bool ok = platform::write_all(file, buf.data(), buf.size());
    buf.clear();
    return ok;
}

CopyResult copy_bytes(ChunkReader& in, platform::File& out, int64_t total) {
    constexpr int64_t kChunk = 1 << 20;
    // Grown by what is read: a total that a damaged directory claims costs
    // no buffer of that size.
    util::Bytes chunk;
    while (total > 0) {
        auto n = static_cast<size_t>(std::min(total, kChunk));
        chunk.clear();
        if (!in.append(chunk, n)) return CopyResult::ReadFailed;
        if (!platform::write_all(out, chunk.data(), n)) return CopyResult::WriteFailed;
        total -= static_cast<int64_t>(n);
    }
    return CopyResult::Ok;
}

}  // namespace teilimp::writer::io
