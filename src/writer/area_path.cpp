#include "writer/area_path.h"

#include <string_view>

namespace teilimp::writer {

namespace {

// The drive form follows the 46-character template
// "c:\\userroot\\storage\\floppyyy\\data\\pieceaaa.pce": the drive at 0-1, the
// area's name at 20-27, the file code at 39-41, and every blank and NUL
// of the filled-in template dropped. Only the parts taken from the
// arguments can hold those; the fixed parts are appended as they are.
constexpr std::string_view kStorageDir = "\\userroot\\storage\\";
constexpr std::string_view kDataDir = "\\data\\";

void append_closed_up(std::string& out, const char* chars, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (chars[i] != ' ' && chars[i] != '\0') out += chars[i];
}

void append_file_name(std::string& out, AreaFile kind, const FileCode& code) {
    switch (kind) {
        case AreaFile::Control: out += "piece.ctl"; return;
        case AreaFile::ControlBackup: out += "piece.ct$"; return;
        case AreaFile::Piece:
        case AreaFile::PieceBackup:
            out += "piece";
            append_closed_up(out, code.data(), code.size());
            out += kind == AreaFile::Piece ? ".pce" : ".pc$";
            return;
        case AreaFile::Lock: out += "teilimp.opn"; return;
    }
}

}  // namespace

std::string area_path(const AreaField& area, AreaFile kind, const FileCode& code) {
    std::string out;
    out.reserve(46);
    if (area[2] == '\\') {
        // Directory form: the first 10 characters, then the file's name.
        append_closed_up(out, area.data(), 10);
    } else {
        append_closed_up(out, area.data(), 2);
        out += kStorageDir;
        append_closed_up(out, area.data() + 2, 8);
        out += kDataDir;
    }
    append_file_name(out, kind, code);
    return out;
}

void inc_ccc(FileCode& code) {
    for (int i = 2; i >= 0; --i) {
        if (static_cast<unsigned char>(code[i]) < 'z') {
            code[i] = static_cast<char>(code[i] + 1);
            return;
        }
        code[i] = 'a';
    }
}

int32_t ccc_valid(const FileCode& code) {
    for (char c : code) {
        auto u = static_cast<unsigned char>(c);
        if (u < 'a' || u > 'z') return 0;
    }
    return 1;
}

}  // namespace teilimp::writer
