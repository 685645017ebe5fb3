// teilarea epn: reads EPN files (and AAMA-DXF / ASTM files, recognised by
// their content) exactly as the importer does, without an area, and shows
// what it would store or why it would not.

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "dxf/dxf_pieces.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "reader/piece_image.h"
#include "util/status_text.h"

namespace teilimp::area_tool {

namespace {

using platform::console_line;

std::string text_of(const char* data, size_t n) {
    std::string s(data, n);
    const size_t end = s.find('\0');
    if (end != std::string::npos) s.resize(end);
    return console_text(s);
}

// What the reader built, from its model.
void describe_piece(const reader::Piece& piece) {
    const reader::PieceModel& m = piece.model;
    console_line("   Teil: " + text_of(piece.pieceName.data(), piece.pieceName.size()));
    console_line(std::string("   Art: ") + (m.mirrored ? "gespiegelt" : "geschlossen") +
                 "   Bildl\x84nge: " + std::to_string(piece.image.size()) + " Bytes");
    size_t internal = 0;
    for (const reader::ModelLine& line : m.lines) internal += line.points.size();
    console_line("   Punkte: " + std::to_string(m.contour.size()) + " Kontur, " + std::to_string(internal) +
                 " auf " + std::to_string(m.lines.size()) + " Linie(n)");
    std::string sizes;
    for (const reader::ModelSize& s : m.sizes) sizes += " " + text_of(s.name.data(), s.name.size());
    console_line("   Gr\x94\xe1" "en:" + sizes + " (Basis " + text_of(m.baseSize.data(), m.baseSize.size()) + ")");
    std::string rules;
    for (const reader::ModelRule& r : m.rules) rules += " " + std::to_string(r.number);
    console_line("   Regeln: " + std::to_string(m.rules.size()) + (rules.empty() ? "" : " (" + rules.substr(1) + ")"));
}

// The files an argument names: itself, or with wildcards in its last part
// (as a Windows shell leaves them) the matching files, in the order the
// search gives them.
std::vector<std::string> expand(const std::string& arg) {
    const size_t sep = arg.find_last_of("\\/:");
    const std::string dir = sep == std::string::npos ? std::string() : arg.substr(0, sep + 1);
    if (arg.find_first_of("*?", dir.size()) == std::string::npos) return {arg};
    std::vector<std::string> files;
    platform::FindHandle h;
    platform::FindEntry e;
    if (platform::find_first(arg, h, e) != platform::kErrNone) return {arg};
    do {
        if ((e.attributes & platform::kAttrDirectory) == 0) files.push_back(dir + e.long_name);
    } while (platform::find_next(h, e) == platform::kErrNone);
    platform::find_close(h);
    return files;
}

void conversion_failed(int32_t status, const std::string& reason) {
    console_line(util::status_line("Fehler beim Konvertieren:", status));
    console_line(reason);
}

void warnings(int32_t reversed, int32_t rotated) {
    if (reversed == 1) console_line("   Achtung: Umlaufsinn der Kontur ge\x84ndert.");
    if (rotated == 1) console_line("   Achtung: Fadenlauf nach rechts gedreht.");
}

// Every piece of a DXF file, as the importer would take it.
// Each piece is shown as soon as it is built: a file of many pieces is
// never held whole.
bool show_dxf(const std::string& path, dxf::RulSearch& rulSearch) {
    const dxf::LoadedDxf loaded = dxf::load_dxf_file(path, rulSearch);
    if (loaded.status != dxf::DxfStatus::Ok) {
        conversion_failed(number(loaded.status), loaded.reason);
        return false;
    }
    bool all = true;
    const dxf::DxfFile file =
        dxf::convert_drawing(loaded.drawing, loaded.rules, [&](dxf::DxfPiece& p, size_t k, size_t m) {
            if (k == 0 && !loaded.rulPath.empty()) platform::console_name_line("   RUL-Datei: ", loaded.rulPath);
            console_line("   Teil " + std::to_string(k + 1) + "/" + std::to_string(m) + ": " + console_text(p.name));
            if (p.status != dxf::DxfStatus::Ok) {
                conversion_failed(number(p.status), p.reason);
                all = false;
            } else {
                describe_piece(p.piece);
                warnings(p.contourReversed, p.grainRotated);
            }
            for (const std::string& note : p.notes) console_line(note);
            return true;
        });
    if (file.status != dxf::DxfStatus::Ok) {
        conversion_failed(number(file.status), file.reason);
        return false;
    }
    return all;
}

}  // namespace

int run_epn(const std::vector<std::string>& arguments) {
    int status = kExitOk;
    reader::Piece piece;
    dxf::RulSearch rulSearch;
    std::vector<std::string> files;
    for (const std::string& arg : arguments)
        for (const std::string& f : expand(arg)) files.push_back(f);
    for (const std::string& path : files) {
        if (dxf::is_rul_name(path)) continue;  // read with its DXF file
        platform::console_name_line("Datei: ", path);
        if (dxf::file_looks_like_dxf(path)) {
            if (!show_dxf(path, rulSearch)) status = kExitProblems;
            continue;
        }
        int32_t reversed = 0, rotated = 0;
        const reader::EpnStatus read =
            reader::epn_read(path.data(), static_cast<int32_t>(path.size()), reversed, rotated, piece);
        if (read != reader::EpnStatus::Ok) {
            conversion_failed(reader::number(read), util::reason_line(reader::epn_reason(read, piece)));
            status = kExitProblems;
            continue;
        }
        if (piece.baseSizeLine != 0) console_line(reader::base_size_warning(piece));
        describe_piece(piece);
        warnings(reversed, rotated);
    }
    platform::console_flush();
    return status;
}

}  // namespace teilimp::area_tool
