// teilarea export: the valid pieces of an area as ASTM D6673 or AAMA-DXF
// files (each style one DXF file and its RUL file) or as EPN files. It only
// reads the area and takes no lock, like check. Every file is written under
// a temporary name and renamed, so an existing file is replaced only whole.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "dxf/dxf_writer.h"
#include "platform/platform.h"
#include "reader/epn_writer.h"
#include "rul/rul_writer.h"
#include "util/text.h"
#include "util/version.h"
#include "writer/writer.h"

namespace teilimp::area_tool {

namespace {

using platform::console_line;

enum class Format { Astm, Aama, Epn };

struct Options {
    std::vector<std::string> names;
    Format format = Format::Astm;
    rul::Units units = rul::Units::Mm;
    std::string out;
};

bool parse(const std::vector<std::string>& args, Options& o) {
    bool haveOut = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-o" && hasValue) {
            o.out = args[++i];
            haveOut = !o.out.empty();
        } else if (a == "--format" && hasValue) {
            const std::string& v = args[++i];
            if (v == "astm") o.format = Format::Astm;
            else if (v == "aama") o.format = Format::Aama;
            else if (v == "epn") o.format = Format::Epn;
            else return false;
        } else if (a == "--units" && hasValue) {
            const std::string& v = args[++i];
            if (v == "mm") o.units = rul::Units::Mm;
            else if (v == "inch") o.units = rul::Units::Inch;
            else return false;
        } else if (a.starts_with("-")) {
            return false;
        } else {
            // Typed in the terminal's character set, looked up in the area's.
            o.names.push_back(platform::argument_to_cp850(a));
        }
    }
    return haveOut;
}

struct Run {
    int status = kExitOk;
    void worse(int s) { status = std::max(status, s); }
};

// A file written piece by piece under a temporary name in its directory,
// renamed over `path` when it is complete: an existing file is replaced
// only whole.
struct OutFile {
    std::string path;
    std::string temp;
    platform::File file;
    bool ok = false;

    explicit OutFile(std::string p) : path(std::move(p)), temp(path + ".tmp~") {
        file = platform::open_file(temp, platform::OpenMode::Create);
        ok = file.is_open() && platform::truncate_file(file, 0);
    }
    // Writes and empties `text` once it holds a MiB (or at once with `all`),
    // so that a style of any size needs little memory.
    void put(std::string& text, bool all = false) {
        if (!all && text.size() < (size_t{1} << 20)) return;
        ok = ok && platform::write_all(file, text.data(), text.size());
        text.clear();
    }
    // The rest of `text` written, flushed, closed and renamed; says
    // "Geschrieben:" or why not.
    void finish(std::string& text, Run& run) {
        put(text, true);
        ok = ok && platform::flush_file(file);
        ok = platform::close_file(file) && ok;
        ok = ok && platform::replace_file(temp, path) == 0;
        if (!ok) {
            platform::delete_file(temp);
            platform::console_name_line("Datei l\x84sst sich nicht schreiben: ", path);
            run.worse(kExitUnreadable);
            return;
        }
        platform::console_name_line("Geschrieben: ", path);
    }
};

// The model of an entry's image; false, said so, when it cannot be read.
bool decode(const AreaModel& m, const Entry& e, reader::PieceModel& model, Run& run, bool report) {
    const PieceFile* file = m.file(e.fields.fileCode);
    const auto bytes = file != nullptr ? file->image(e.fields.slot) : std::nullopt;
    reader::ImageFault fault;
    if (bytes && reader::decode_piece(*bytes, &e.fields.pieceName, model, fault)) return true;
    if (report)
        console_line("Bild des Teils " + console_text(name_text(e.fields.pieceName)) + " nicht lesbar" +
                     (bytes ? ": " + fault.what : ""));
    run.worse(kExitUnreadable);
    return false;
}

bool ends_with_dxf(const std::string& p) {
    if (p.size() < 4) return false;
    std::string tail = p.substr(p.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".dxf";
}

// The DXF file of style k (0-based): -o for the first, "-2", "-3", ...
// before ".dxf" for the others.
std::string style_path(const std::string& out, size_t k) {
    if (k == 0) return out;
    const std::string suffix = "-" + std::to_string(k + 1);
    if (ends_with_dxf(out)) return out.substr(0, out.size() - 4) + suffix + out.substr(out.size() - 4);
    return out + suffix;
}

std::string rul_path(const std::string& dxf) {
    return (ends_with_dxf(dxf) ? dxf.substr(0, dxf.size() - 4) : dxf) + ".rul";
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Every piece is decoded twice: once to find its style, once to write it,
// so that only one piece is held at a time.
void export_dxf(const AreaModel& m, const std::vector<const Entry*>& entries, const Options& o,
                const std::string& areaName, Run& run) {
    // Styles in the order of their first piece: the size names and the base index.
    std::map<std::pair<int16_t, std::vector<reader::Text6>>, size_t> styleOf;
    std::vector<std::vector<const Entry*>> styles;
    reader::PieceModel model;
    for (const Entry* e : entries) {
        if (!decode(m, *e, model, run, true)) continue;
        std::pair<int16_t, std::vector<reader::Text6>> key{model.baseSizeIndex, {}};
        for (const reader::ModelSize& size : model.sizes) key.second.push_back(size.name);
        const auto [it, added] = styleOf.try_emplace(std::move(key), styles.size());
        if (added) styles.emplace_back();
        styles[it->second].push_back(e);
    }
    const platform::CalendarTime now = platform::local_now();
    const std::string author = "TEILIMP " + std::string(util::version());
    for (size_t k = 0; k < styles.size(); ++k) {
        OutFile dxf(style_path(o.out, k)), rul(rul_path(dxf.path));
        dxf::StyleHeader h;
        h.styleName = areaName;
        h.author = author;
        h.rulName = base_name(rul.path);
        h.created = now;
        h.flavour = o.format == Format::Aama ? dxf::Flavour::Aama : dxf::Flavour::Astm;
        h.units = o.units;
        rul::RulHeader r;
        r.author = author;
        r.tableName = h.rulName;
        r.created = now;
        r.units = o.units;
        std::string dxfText, rulText;
        std::vector<std::string> blocks;
        reader::PieceModel first;
        int64_t nextRule = 1;
        dxf::dxf_begin(dxfText);
        for (const Entry* e : styles[k]) {
            if (!decode(m, *e, model, run, false)) continue;
            if (blocks.empty()) {
                first = model;
                rul::rul_begin(rulText, r, first);
            }
            blocks.push_back(dxf::dxf_block(dxfText, model, blocks.size(), nextRule, h));
            rul::rul_rules(rulText, model, nextRule, o.units);
            nextRule += static_cast<int64_t>(model.rules.size());
            dxf.put(dxfText);
            rul.put(rulText);
        }
        dxf::dxf_end(dxfText, first, blocks, h);
        rul::rul_end(rulText);
        dxf.finish(dxfText, run);
        rul.finish(rulText, run);
    }
}

// "<NAME>.epn", every byte outside A-Z a-z 0-9 _ - as '_', and "_2", "_3",
// ... where the name would be taken (compared without regard to case, as
// Windows names are).
std::string epn_file_name(const std::string& name, std::set<std::string>& taken) {
    std::string base = name;
    for (char& c : base) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                          c == '-';
        if (!keep) c = '_';
    }
    auto key = [](std::string s) {
        for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return s;
    };
    std::string candidate = base;
    for (int n = 2; taken.count(key(candidate)) != 0; ++n) candidate = base + "_" + std::to_string(n);
    taken.insert(key(candidate));
    return candidate + ".epn";
}

void export_epn(const AreaModel& m, const std::vector<const Entry*>& entries, const Options& o, Run& run) {
    const uint32_t attributes = platform::get_attributes(o.out);
    if (attributes == platform::kAttrInvalid && platform::make_directory(o.out) != 0) {
        platform::console_name_line("Datei l\x84sst sich nicht schreiben: ", o.out);
        run.worse(kExitUnreadable);
        return;
    }
    // The directory's own separator, as the user wrote it.
    const bool separator = o.out.back() == '/' || o.out.back() == '\\';
    const char* join = separator ? "" : o.out.find('\\') != std::string::npos ? "\\" : "/";
    std::set<std::string> taken;
    reader::PieceModel model;
    for (const Entry* e : entries) {
        if (!decode(m, *e, model, run, true)) continue;
        OutFile f(o.out + join + epn_file_name(name_text(e->fields.pieceName), taken));
        std::string text = reader::write_epn(model);
        f.finish(text, run);
    }
}

// The valid entries to export: the names asked for, in their order, or
// every valid entry in the control file's order.
std::vector<const Entry*> select(const AreaModel& m, const std::vector<std::string>& names, Run& run) {
    std::vector<const Entry*> out;
    auto valid = [](const Entry& e) { return e.placeValid && e.fields.entryState == writer::kStateValid; };
    if (names.empty()) {
        for (const Entry& e : m.entries)
            if (valid(e)) out.push_back(&e);
        return out;
    }
    for (const std::string& name : names) {
        writer::PieceName wanted = writer::make_piece_name(name);
        util::KleGro(wanted.data(), static_cast<int32_t>(wanted.size()));
        // A longer name is no piece's: cut to 20 it could name another.
        const bool fits = util::siglen(name.data(), static_cast<int32_t>(name.size())) <= 20;
        const Entry* found = nullptr;
        for (const Entry& e : m.entries)
            if (fits && valid(e) && e.fields.pieceName == wanted) found = &e;
        if (found == nullptr) {
            console_line("Teil nicht gefunden: " + console_text(name));
            run.worse(kExitProblems);
            continue;
        }
        out.push_back(found);
    }
    return out;
}

}  // namespace

int run_export(const writer::AreaField& area, const std::vector<std::string>& args) {
    Options o;
    if (!parse(args, o)) return kExportBadArguments;
    AreaModel m;
    if (!load_area(area, m)) {
        console_line("Bereich nicht lesbar: Verzeichnis " + console_text(m.dataDir) + " fehlt");
        return kExitUnreadable;
    }
    if (!m.ctlPresent || m.ctlReadError != 0) {
        console_line("Steuerdatei fehlt oder ist nicht lesbar: " + console_text(m.ctlPath));
        return kExitUnreadable;
    }
    int64_t age = 0;
    if (writer::epn_lock_state(area, age) == writer::LockState::Fresh)
        console_line("Hinweis: Zugriffsdatei vorhanden, vielleicht l\x84uft ein Import. Der Export sperrt den "
                     "Bereich nicht.");
    Run run;
    const std::vector<const Entry*> entries = select(m, o.names, run);
    if (o.format == Format::Epn) export_epn(m, entries, o, run);
    else export_dxf(m, entries, o, area_text(area), run);
    return run.status;
}

}  // namespace teilimp::area_tool
