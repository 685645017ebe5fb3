#include "writer/area_path.h"

#include <string_view>

namespace teilimp::writer {

namespace {

// The 46-character templates of the drive form. Positions (0-based): the
// drive at 0-1, the area's name at 20-27, the file code at 39-41.
constexpr std::string_view kCtlTemplate = "c:\\userroot\\storage\\floppyyy\\data\\piece.ctl   ";
constexpr std::string_view kCtlBakTemplate = "c:\\userroot\\storage\\floppyyy\\data\\piece.ct$   ";
constexpr std::string_view kPceTemplate = "c:\\userroot\\storage\\floppyyy\\data\\pieceaaa.pce";
constexpr std::string_view kPceBakTemplate = "c:\\userroot\\storage\\floppyyy\\data\\pieceaaa.pc$";
constexpr std::string_view kLockTemplate = "c:\\userroot\\storage\\floppyyy\\data\\teilimp.opn ";
constexpr size_t kTemplateLength = 46;
constexpr size_t kNamePos = 20;
constexpr size_t kCodePos = 39;

static_assert(kCtlTemplate.size() == kTemplateLength && kCtlBakTemplate.size() == kTemplateLength &&
              kPceTemplate.size() == kTemplateLength && kPceBakTemplate.size() == kTemplateLength &&
              kLockTemplate.size() == kTemplateLength);

std::string_view template_of(AreaFile kind) {
    switch (kind) {
        case AreaFile::Control: return kCtlTemplate;
        case AreaFile::ControlBackup: return kCtlBakTemplate;
        case AreaFile::Piece: return kPceTemplate;
        case AreaFile::PieceBackup: return kPceBakTemplate;
        case AreaFile::Lock: return kLockTemplate;
    }
    return kCtlTemplate;
}

std::string file_name_of(AreaFile kind, const FileCode& code) {
    std::string c(code.begin(), code.end());
    switch (kind) {
        case AreaFile::Control: return "piece.ctl";
        case AreaFile::ControlBackup: return "piece.ct$";
        case AreaFile::Piece: return "piece" + c + ".pce";
        case AreaFile::PieceBackup: return "piece" + c + ".pc$";
        case AreaFile::Lock: return "teilimp.opn";
    }
    return {};
}

bool is_piece_kind(AreaFile kind) { return kind == AreaFile::Piece || kind == AreaFile::PieceBackup; }

// Drops every blank and NUL from the first 46 characters.
std::string close_up(const std::string& raw) {
    std::string out;
    size_t n = std::min(raw.size(), kTemplateLength);
    for (size_t i = 0; i < n; ++i) {
        if (raw[i] != ' ' && raw[i] != '\0') out.push_back(raw[i]);
    }
    return out;
}

}  // namespace

std::string area_path(const AreaField& area, AreaFile kind, const FileCode& code) {
    std::string raw;
    if (area[2] == '\\') {
        raw.assign(area.begin(), area.begin() + 10);
        raw += file_name_of(kind, code);
    } else {
        raw.assign(template_of(kind));
        raw[0] = area[0];
        raw[1] = area[1];
        for (size_t i = 0; i < 8; ++i) raw[kNamePos + i] = area[2 + i];
        if (is_piece_kind(kind)) {
            for (size_t i = 0; i < 3; ++i) raw[kCodePos + i] = code[i];
        }
    }
    return close_up(raw);
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
