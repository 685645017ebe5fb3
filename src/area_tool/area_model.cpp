#include "area_tool/area_model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/platform.h"
#include "writer/area_io.h"
#include "util/text.h"
#include "writer/area_path.h"

namespace teilimp::area_tool {

std::optional<std::span<const uint8_t>> PieceFile::image(uint8_t slot) const {
    if (!present || slot >= layout.usedSlots) return std::nullopt;
    const auto& d = layout.dir[slot];
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    return std::span<const uint8_t>(data + writer::dir_offset(d), static_cast<size_t>(writer::dir_length(d)));
}

const PieceFile* AreaModel::file(const FileCode& code) const {
    auto it = files.find(code);
    return it == files.end() ? nullptr : &it->second;
}

namespace {

void read_piece_file(const writer::AreaField& area, const FileCode& code, PieceFile& f) {
    const std::string path = writer::area_path(area, writer::AreaFile::Piece, code);
    if (!platform::exists(path)) return;
    f.present = true;
    f.readError = platform::read_whole_file(path, f.bytes);
    if (f.readError != 0) f.bytes.clear();
    f.layout = writer::pce_layout(f.bytes);
}

}  // namespace

bool find_area_dir(const writer::AreaField& area, AreaModel& m) {
    m = AreaModel{};
    m.area = area;
    m.dataDir = writer::io::area_dir(area).dir;
    const uint32_t attributes = platform::get_attributes(m.dataDir.empty() ? "." : m.dataDir);
    return attributes != platform::kAttrInvalid && (attributes & platform::kAttrDirectory) != 0;
}

bool load_area(const writer::AreaField& area, AreaModel& m) {
    if (!find_area_dir(area, m)) return false;

    m.ctlPath = writer::area_path(area, writer::AreaFile::Control);
    m.ctlPresent = platform::exists(m.ctlPath);
    if (m.ctlPresent) {
        m.ctlReadError = platform::read_whole_file(m.ctlPath, m.ctlBytes);
        if (m.ctlReadError != 0) m.ctlBytes.clear();
    }
    const std::span<const uint8_t> bytes(m.ctlBytes);
    m.layout = writer::ctl_layout(bytes);
    m.entries.reserve(static_cast<size_t>(m.layout.entryCount));
    for (size_t k = 0; k < static_cast<size_t>(m.layout.entryCount); ++k) {
        std::span<const uint8_t, 64> rec(bytes.data() + k * writer::kRecordSize, writer::kRecordSize);
        Entry e;
        e.record = static_cast<int64_t>(k);
        e.fields = writer::decode_entry(rec);
        e.placeValid = writer::ccc_valid(e.fields.fileCode) == 1 && e.fields.slot <= 7;
        m.entries.push_back(e);
    }
    if (m.layout.trailerFound) {
        writer::CtlTrailer t;
        std::copy_n(bytes.begin() + m.layout.entryCount * writer::kRecordSize, writer::kRecordSize, t.raw.begin());
        m.trailer = t;
    }

    m.found = writer::find_area_files(area);
    for (const FileCode& code : writer::piece_file_codes(m.found)) read_piece_file(area, code, m.files[code]);
    for (const Entry& e : m.entries) {
        if (!e.placeValid || m.files.count(e.fields.fileCode) != 0) continue;
        read_piece_file(area, e.fields.fileCode, m.files[e.fields.fileCode]);
    }
    return true;
}

std::string_view name_bytes(const writer::PieceName& name) {
    size_t end = name.size();
    while (end > 0 && name[end - 1] == '\0') --end;
    return std::string_view(name.data(), end);
}

std::string name_text(const writer::PieceName& name) { return std::string(name_bytes(name)); }

void append_name_shown(std::string& out, const writer::PieceName& name) {
    constexpr char kHex[] = "0123456789ABCDEF";
    const size_t end = name_bytes(name).size();
    size_t plain = 0;  // start of the bytes not yet appended
    for (size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x20 && c != 0x7F && c != '\\') continue;
        out.append(name.data() + plain, i - plain);
        plain = i + 1;
        if (c == '\\') {
            out += "\\\\";
        } else if (c == 0) {
            out += "\\0";
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out.append(name.data() + plain, end - plain);
}

std::string name_shown(const writer::PieceName& name) {
    std::string out;
    out.reserve(name.size());
    append_name_shown(out, name);
    return out;
}

writer::PieceName name_from_shown(std::string_view shown) {
    std::string bytes;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\' || i + 1 >= shown.size()) {
            bytes += shown[i];
            continue;
        }
        const char next = shown[i + 1];
        if (next == '0') {
            bytes += '\0';
            ++i;
        } else if (next == '\\') {
            bytes += '\\';
            ++i;
        } else if (next == 'x' && i + 3 < shown.size() && std::isxdigit(static_cast<unsigned char>(shown[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(shown[i + 3]))) {
            bytes += static_cast<char>(std::stoi(std::string(shown.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            bytes += shown[i];
        }
    }
    return writer::make_piece_name(bytes);
}

std::string state_word(int16_t state) {
    if (state == writer::kStateValid) return "g\x81ltig";
    if (state == writer::kStateSuperseded) return "ersetzt";
    return std::to_string(state);
}

std::string area_text(const writer::AreaField& area) {
    return std::string(area.data(), static_cast<size_t>(util::siglen(area.data(), static_cast<int32_t>(area.size()))));
}

std::string code_text(const FileCode& code) { return std::string(code.data(), code.size()); }

std::string piece_file_name(const FileCode& code) { return "piece" + code_text(code) + ".pce"; }

const char* stamp_text(int32_t stamp, StampText& text) {
    const platform::CalendarTime t = writer::stamp_time(stamp);
    std::snprintf(text.data(), text.size(), "%02d-%02d-%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return text.data();
}

const char* stamp_iso(int32_t stamp, StampText& text) {
    const platform::CalendarTime t = writer::stamp_time(stamp);
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text.data();
}

std::string stamp_text(int32_t stamp) {
    StampText text;
    return stamp_text(stamp, text);
}

std::string stamp_iso(int32_t stamp) {
    StampText text;
    return stamp_iso(stamp, text);
}

}  // namespace teilimp::area_tool
