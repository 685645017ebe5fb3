// The command line of teilarea and the read-only subcommands list and check.
#include "area_tool/tool.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "area_tool/output.h"
#include "platform/platform.h"
#include "util/text.h"
#include "util/version.h"
#include "writer/writer.h"

namespace teilimp::area_tool {

namespace {

using platform::console_line;

// The commands, each with its line (or two), then the options and notes.
constexpr const char* kUsage[] = {
    "Aufruf:",
    "teilarea list <Bereich> [--all] [--json]      Teile im Bereich auflisten",
    "teilarea check <Bereich> [--json]             Bereich pr\x81" "fen (ohne ihn zu sperren)",
    "teilarea repair <Bereich>                     Bereich reparieren",
    "teilarea compact <Bereich>                    ersetzte Teile entfernen, Bereich verdichten",
    "teilarea show <Bereich> <Teil> [-o <Datei.svg>] [--size <Gr\x94\xe1" "e>]",
    "                                              Teil als SVG zeichnen",
    "teilarea epn <Datei.epn>...                   EPN-Dateien lesen wie beim Import",
    "teilarea export <Bereich> [<Teil>...] [--format astm|aama|epn] [--units mm|inch] -o <Pfad>",
    "                                              Teile als ASTM/AAMA-DXF mit RUL oder als EPN ausgeben",
    "teilarea --help | --version                   diese Hilfe | nur die Version zeigen",
    "   <Bereich>        wie bei TEILIMP: Laufwerk und Name (F:TEST) oder ein Verzeichnis (C:\\TMP\\)",
    "   <Teil>           der Name des Teils, wie list ihn zeigt",
    "   --all            auch ersetzte Eintr\x84ge auflisten",
    "   --json           Ausgabe als JSON",
    "   -o <Datei.svg>   das Bild in diese Datei schreiben (sonst auf die Standardausgabe)",
    "   --size <Gr\x94\xe1" "e>   nur diese Gr\x94\xe1" "e zeichnen",
    "   --help, /?       diese Hilfe zeigen",
};
constexpr const char* kUsageEnd = "Ende mit Status 0: in Ordnung, 1: Probleme gefunden, 2: Bereich nicht lesbar";

void write_usage() {
    for (const char* line : kUsage) console_line(line);
    for (const std::string& line : platform::drive_usage_lines()) console_line(line);
    console_line(kUsageEnd);
}

int usage() {
    write_usage();
    return kExitUnreadable;
}

// An argument the tool does not know: named, then the usage.
int unknown_argument(const std::string& arg) {
    platform::console_name_line("teilarea: unbekanntes Argument: ", arg);
    return usage();
}

// The help and version words count in any case.
std::string lower(std::string a) {
    for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return a;
}

bool is_help(const std::string& arg) {
    const std::string a = lower(arg);
    return a == "--help" || a == "-h" || a == "/h" || a == "-?" || a == "/?";
}

bool area_usable(const writer::AreaField& area) {
    return util::siglen(area.data(), static_cast<int32_t>(area.size())) >= 3 && area[1] == ':';
}


// What list shows of an image; absent fields are shown as "?".
struct ImageSummary {
    bool decoded = false;
    reader::PieceModel model;
};

ImageSummary summary(const AreaModel& m, const Entry& e) {
    ImageSummary s;
    const PieceFile* file = e.placeValid ? m.file(e.fields.fileCode) : nullptr;
    if (file == nullptr) return s;
    const auto bytes = file->image(e.fields.slot);
    reader::ImageFault fault;
    if (bytes) s.decoded = reader::decode_piece(*bytes, nullptr, s.model, fault);
    return s;
}

std::string field_text(const char* data, size_t n) {
    std::string s(data, n);
    const size_t end = s.find('\0');
    if (end != std::string::npos) s.resize(end);
    return s;
}

const char* kind_text(bool mirrored) { return mirrored ? "gespiegelt" : "geschlossen"; }
const char* kind_json(bool mirrored) { return mirrored ? "mirrored" : "closed"; }

// Columns of a row of list: name, file code, slot, state, image length,
// date and time, kind, sizes, base size, perimeter points.
constexpr const char* kRowFormat = "%-20s %-4s %5d %-7s %8d %-19s %-11s %6s %-6s %6s";

// A row in `row`, which the caller keeps for all of them (as the name
// shown, `name`); cut at its size as snprintf cuts.
using RowText = std::array<char, 200>;
std::string_view list_row(const Entry& e, const ImageSummary& s, RowText& row, std::string& name) {
    const writer::CtlEntry& f = e.fields;
    name.clear();
    append_name_shown(name, f.pieceName);
    const std::string stateText = state_word(f.entryState);
    const char* state = stateText.c_str();
    StampText stamp;
    int n = 0;
    if (!s.decoded) {
        n = std::snprintf(row.data(), row.size(), kRowFormat, name.c_str(),
                          console_text(code_text(f.fileCode)).c_str(), f.slot, state, f.dataLength,
                          stamp_text(f.timeStamp, stamp), "?", "?", "?", "?");
    } else {
        const reader::PieceModel& h = s.model;
        n = std::snprintf(row.data(), row.size(), kRowFormat, name.c_str(), code_text(f.fileCode).c_str(), f.slot,
                          state, f.dataLength, stamp_text(f.timeStamp, stamp), kind_text(h.mirrored),
                          std::to_string(h.sizes.size()).c_str(),
                          console_text(field_text(h.baseSize.data(), 6)).c_str(),
                          std::to_string(h.contour.size()).c_str());
    }
    return std::string_view(row.data(), n < 0 ? 0 : std::min(static_cast<size_t>(n), row.size() - 1));
}

void append_list_json_entry(std::string& j, const Entry& e, const ImageSummary& s) {
    const writer::CtlEntry& f = e.fields;
    StampText stamp;
    j += "{\"record\":";
    j += std::to_string(e.record + 1);
    j += ",\"name\":";
    append_json_string(j, name_bytes(f.pieceName));
    j += ",\"file_code\":";
    append_json_string(j, std::string_view(f.fileCode.data(), f.fileCode.size()));
    j += ",\"slot\":";
    j += std::to_string(f.slot);
    j += ",\"state\":";
    j += f.entryState == writer::kStateValid        ? "\"valid\""
         : f.entryState == writer::kStateSuperseded ? "\"superseded\""
                                                    : "\"other\"";
    j += ",\"state_value\":";
    j += std::to_string(f.entryState);
    j += ",\"length\":";
    j += std::to_string(f.dataLength);
    j += ",\"stamp\":";
    j += std::to_string(f.timeStamp);
    j += ",\"time\":";
    append_json_string(j, stamp_iso(f.timeStamp, stamp));
    if (!s.decoded) {
        j += ",\"kind\":null,\"sizes\":null,\"base_size\":null,\"perimeter_points\":null}";
        return;
    }
    const reader::PieceModel& h = s.model;
    j += ",\"kind\":\"";
    j += kind_json(h.mirrored);
    j += "\",\"sizes\":";
    j += std::to_string(h.sizes.size());
    j += ",\"base_size\":";
    append_json_string(j, field_text(h.baseSize.data(), 6));
    j += ",\"perimeter_points\":";
    j += std::to_string(h.contour.size());
    j += '}';
}

}  // namespace

int unreadable(const AreaModel& m) {
    platform::console_name_line("Bereich nicht lesbar: Verzeichnis ", m.dataDir + " fehlt");
    platform::console_path_note(m.dataDir);
    return kExitUnreadable;
}

int run_list(const writer::AreaField& area, bool all, bool json) {
    AreaModel m;
    if (!load_area(area, m)) return unreadable(m);
    return list_report(m, all, json);
}

int list_report(const AreaModel& m, bool all, bool json) {
    const writer::AreaField& area = m.area;
    if (!m.ctlPresent || m.ctlReadError != 0) {
        platform::console_name_line("Steuerdatei fehlt oder ist nicht lesbar: ", m.ctlPath);
        return kExitUnreadable;
    }
    int64_t shown = 0, valid = 0;
    std::string entries, name;
    RowText row;
    if (!json) {
        platform::console_name_line("Teile im Bereich ", area_text(area));
        console_line("Name                 Code Platz Zustand    L\x84nge Datum und Zeit      Art         "
                     "Gr\x94\xe1" "en Basis  Punkte");
    }
    for (const Entry& e : m.entries) {
        const bool isValid = e.fields.entryState == writer::kStateValid;
        valid += isValid ? 1 : 0;
        if (!isValid && !all) continue;
        ++shown;
        const ImageSummary s = summary(m, e);
        if (json) {
            if (!entries.empty()) entries += ',';
            append_list_json_entry(entries, e, s);
        } else {
            console_line(list_row(e, s, row, name));
        }
    }
    if (json) {
        console_line("{\"area\":" + json_string(area_text(area)) + ",\"entries\":[" + entries +
                     "],\"count\":" + std::to_string(shown) + ",\"valid\":" + std::to_string(valid) +
                     ",\"control_file_sound\":" + (writer::ctl_sound(m.layout) ? "true" : "false") + "}");
        return kExitOk;
    }
    if (all) console_line(std::to_string(shown) + " Eintr\x84ge, davon " + std::to_string(valid) + " g\x81ltig");
    else console_line(std::to_string(shown) + " Teile");
    if (!writer::ctl_sound(m.layout))
        console_line("Achtung: Steuerdatei besch\x84" "digt (teilarea check zeigt die Probleme).");
    return kExitOk;
}

int run_check(const writer::AreaField& area, bool json) {
    AreaModel m;
    if (!load_area(area, m)) {
        if (json) {
            console_line("{\"area\":" + json_string(area_text(area)) + ",\"status\":2,\"sound\":false,\"problems\":[]}");
            return kExitUnreadable;
        }
        return unreadable(m);
    }
    return check_report(m, find_problems(m), json);
}

int check_report(const AreaModel& m, const Findings& f, bool json) {
    const writer::AreaField& area = m.area;
    const int status = f.problems.empty() ? kExitOk : kExitProblems;
    if (json) {
        std::string problems;
        for (const Problem& p : f.problems) {
            if (!problems.empty()) problems += ',';
            problems += "{\"kind\":";
            append_json_string(problems, p.kind);
            problems += ",\"concerns\":";
            append_json_string(problems, p.concerns);
            problems += ",\"text\":";
            append_json_string(problems, p.text);
            problems += '}';
        }
        const char* lock = f.lock == writer::LockState::None ? "none" : f.lock == writer::LockState::Fresh ? "fresh" : "stale";
        console_line("{\"area\":" + json_string(area_text(area)) + ",\"status\":" + std::to_string(status) +
                     ",\"sound\":" + (status == kExitOk ? "true" : "false") + ",\"lock\":\"" + lock +
                     "\",\"entries\":" + std::to_string(m.entries.size()) + ",\"piece_files\":" +
                     std::to_string(m.files.size()) + ",\"problems\":[" + problems + "]}");
        return status;
    }
    platform::console_name_line("Pr\x81" "fe Bereich ", area_text(area) + " (" + m.dataDir + ")");
    if (f.lock != writer::LockState::None)
        console_line("Hinweis: Zugriffsdatei vorhanden, vielleicht l\x84uft ein Import. Die Pr\x81" "fung sperrt den "
                     "Bereich nicht.");
    std::string line;
    for (const Problem& p : f.problems) {
        line.assign("   ").append(p.concerns).append(": ").append(p.text);
        console_line(line);
    }
    if (status == kExitOk)
        console_line("Bereich in Ordnung: " + std::to_string(m.entries.size()) + " Eintr\x84ge, " +
                     std::to_string(m.files.size()) + " Teiledateien.");
    else
        console_line(std::to_string(f.problems.size()) + " Problem(e) gefunden.");
    return status;
}

int area_main(const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (!is_help(args[i])) continue;
        write_usage();
        platform::console_flush();
        return kExitOk;
    }
    if (args.size() == 2 && lower(args[1]) == "--version") {
        console_line("teilarea " + std::string(util::version()));
        platform::console_flush();
        return kExitOk;
    }
    if (args.size() < 2) return usage();
    const std::string& command = args[1];
    if (command != "list" && command != "check" && command != "repair" && command != "show" && command != "compact" &&
        command != "export" && command != "epn")
        return unknown_argument(command);
    if (args.size() < 3) return usage();
    if (command == "epn") return run_epn({args.begin() + 2, args.end()});

    const writer::AreaField area = writer::make_area(args[2]);
    if (!area_usable(area)) return usage();
    // Only the first 10 characters name the area's files: a longer argument
    // would silently name another area, as the importer says too.
    if (area_text(area).size() > 10) {
        platform::console_name_line("Achtung: Bereich zu lang (h\x94" "chstens 10 Zeichen): ", area_text(area));
        return kExitUnreadable;
    }
    if (command == "export") {
        const int status = run_export(area, {args.begin() + 3, args.end()});
        platform::console_flush();
        return status == kExportBadArguments ? usage() : status;
    }
    bool all = false, json = false;
    std::string outPath, sizeName, pieceName;
    for (size_t i = 3; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--all") all = true;
        else if (a == "--json") json = true;
        else if (a == "-o" && i + 1 < args.size()) outPath = args[++i];
        // Piece and size names typed in the terminal's character set are
        // looked up in the area's code page.
        else if (a == "--size" && i + 1 < args.size()) sizeName = platform::argument_to_cp850(args[++i]);
        else if (command == "show" && pieceName.empty()) pieceName = platform::argument_to_cp850(a);
        else return unknown_argument(a);
    }
    int status = kExitUnreadable;
    if (command == "list") status = run_list(area, all, json);
    else if (command == "check") status = run_check(area, json);
    else if (command == "repair") status = run_repair(area);
    else if (command == "compact") status = run_compact(area);
    else if (command == "show" && !pieceName.empty()) status = run_show(area, pieceName, outPath, sizeName);
    else status = usage();
    platform::console_flush();
    return status;
}

}  // namespace teilimp::area_tool
