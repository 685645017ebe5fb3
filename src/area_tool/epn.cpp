// teilarea epn: reads EPN files exactly as the importer does, without an
// area, and shows what it would store or why it would not.
#include <cstdio>

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "driver/reasons.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "reader/piece_image.h"

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

}  // namespace

int run_epn(const std::vector<std::string>& arguments) {
    int status = kExitOk;
    reader::Piece piece;
    std::vector<std::string> files;
    for (const std::string& arg : arguments)
        for (const std::string& f : expand(arg)) files.push_back(f);
    for (const std::string& path : files) {
        console_line("Datei: " + console_text(path));
        int32_t reversed = 0, rotated = 0;
        const int32_t read =
            reader::epn_read(path.data(), static_cast<int32_t>(path.size()), reversed, rotated, piece);
        if (read != 0) {
            char line[64];
            std::snprintf(line, sizeof line, "Fehler beim Konvertieren:%6d", static_cast<int>(read));
            console_line(line);
            console_line(driver::reason_line(driver::StatusSource::Conversion, read, piece.stopLine));
            status = kExitProblems;
            continue;
        }
        describe_piece(piece);
        if (reversed == 1) console_line("   Achtung: Umlaufsinn der Kontur ge\x84ndert.");
        if (rotated == 1) console_line("   Achtung: Fadenlauf nach rechts gedreht.");
    }
    platform::console_flush();
    return status;
}

}  // namespace teilimp::area_tool
