// What check reports: the control file's structure and trailer, every
// entry against its piece file and image, the piece files themselves,
// leftovers of interrupted updates, the lock and the order of the entries.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "platform/platform.h"
#include "writer/area_files.h"
#include "writer/compaction.h"
#include "writer/area_path.h"
#include "writer/area_scan.h"
#include "writer/sort.h"

namespace teilimp::area_tool {

namespace {

using writer::kStateSuperseded;
using writer::kStateValid;

constexpr const char* kCtlName = "piece.ctl";

std::string place_text(const FileCode& code, uint8_t slot) {
    return console_text(code_text(code)) + "/" + std::to_string(slot);
}

struct Checker {
    const AreaModel& m;
    Findings out;

    void add(const char* kind, std::string concerns, std::string text) {
        out.problems.push_back({kind, std::move(concerns), std::move(text)});
    }
    std::string entry_label(const Entry& e) const {
        std::string label;
        label.reserve(48);
        label += "Eintrag ";
        label += std::to_string(e.record + 1);
        label += " (";
        append_name_shown(label, e.fields.pieceName);
        label += ')';
        return label;
    }

    bool marksPending = false;  // a run is under way or was cut off: it carries marks later

    void access();
    void control_file();
    void trailer();
    void entries();
    void piece_files();
    void leftovers(const writer::AreaFiles& files);
    void order();
};

// Files and the directory that an import must change: refused, every
// import fails there.
void Checker::access() {
    const char* text = "schreibgesch\x81tzt: Importe in den Bereich schlagen fehl";
    if (platform::refuses_writes(m.dataDir)) add("read_only", console_text(m.dataDir), text);
    if (m.ctlPresent && platform::refuses_writes(m.ctlPath)) add("read_only", kCtlName, text);
    for (const auto& [code, file] : m.files)
        if (file.present && platform::refuses_writes(writer::area_path(m.area, writer::AreaFile::Piece, code)))
            add("read_only", piece_file_name(code), text);
}

void Checker::control_file() {
    if (!m.ctlPresent) {
        add("ctl_missing", kCtlName, "Steuerdatei fehlt");
        out.ctlNeedsRebuild = true;
        return;
    }
    if (m.ctlReadError != 0) {
        add("ctl_unreadable", kCtlName, "Steuerdatei nicht lesbar (Fehler " + std::to_string(m.ctlReadError) + ")");
        return;
    }
    const writer::CtlLayout& l = m.layout;
    if (l.size < writer::kRecordSize)
        add("ctl_short", kCtlName,
            "Steuerdatei k\x81rzer als ein Schlusssatz (" + std::to_string(l.size) + " Bytes)");
    else if (l.size % writer::kRecordSize != 0)
        add("ctl_length", kCtlName,
            "L\x84nge der Steuerdatei kein Vielfaches von 64 (" + std::to_string(l.size) + " Bytes)");
    if (l.size >= writer::kRecordSize && !l.trailerFound) add("ctl_no_trailer", kCtlName, "Steuerdatei ohne Schlusssatz");
    if (l.recordsAfterTrailer > 0)
        add("ctl_after_trailer", kCtlName,
            std::to_string(l.recordsAfterTrailer) + " S\x84tze nach dem Schlusssatz");
    for (const Entry& e : m.entries)
        if (!e.placeValid)
            add("entry_bad_place", entry_label(e),
                "ung\x81ltiger Dateicode oder Platz " + place_text(e.fields.fileCode, e.fields.slot));
    if (!writer::ctl_sound(l)) out.ctlNeedsRebuild = true;
}

void Checker::trailer() {
    if (!m.trailer) return;
    FileCode code;
    uint8_t slot = 0;
    place_after_entries(m, code, slot);
    const FileCode next = writer::trailer_next_code(*m.trailer);
    const uint8_t nextSlot = writer::trailer_next_slot(*m.trailer);
    if (next != code || nextSlot != slot) {
        add("trailer_next_place", "Schlusssatz",
            "n\x84" "chster Platz " + place_text(next, nextSlot) + ", erwartet " + place_text(code, slot));
        out.ctlNeedsRebuild = true;
    }
    const auto valid = std::count_if(m.entries.begin(), m.entries.end(),
                                     [](const Entry& e) { return e.fields.entryState == kStateValid; });
    const auto low16 = static_cast<int16_t>(static_cast<uint16_t>(valid & 0xFFFF));
    const int16_t stored = writer::trailer_valid_count(*m.trailer);
    if (stored != low16) {
        add("trailer_count", "Schlusssatz",
            "z\x84hlt " + std::to_string(stored) + " g\x81ltige Eintr\x84ge, es sind " + std::to_string(valid));
        out.ctlNeedsRebuild = true;
    }
}

void Checker::entries() {
    std::map<writer::PieceName, int> validNames;  // all 20 bytes, as the importer tells names apart
    for (const Entry& e : m.entries) {
        if (!e.placeValid) continue;
        const writer::CtlEntry& f = e.fields;
        if (f.entryState == kStateValid) ++validNames[f.pieceName];
        const PieceFile* file = m.file(f.fileCode);
        const std::string fileName = piece_file_name(f.fileCode);
        if (file == nullptr || !file->present) {
            add("pce_missing", entry_label(e), "Teiledatei " + fileName + " fehlt");
            out.ctlNeedsRebuild = true;
            continue;
        }
        const auto image = file->image(f.slot);
        if (!image) {
            if (file->readError == 0) {
                add("slot_missing", entry_label(e),
                    "Platz " + std::to_string(f.slot) + " nicht im Verzeichnis von " + fileName);
                out.ctlNeedsRebuild = true;
            }
            continue;
        }
        const writer::PceDirEntry& d = file->layout.dir[f.slot];
        const bool nameDiffers = writer::dir_name(d) != f.pieceName;
        const bool lengthDiffers = writer::dir_length(d) != f.dataLength;
        if (nameDiffers || lengthDiffers) {
            std::string text = "Verzeichnis von " + fileName + " Platz " + std::to_string(f.slot) + " weicht ab:";
            if (nameDiffers) text += " Name " + name_shown(writer::dir_name(d));
            if (lengthDiffers)
                text += " L\x84nge " + std::to_string(writer::dir_length(d)) + " statt " + std::to_string(f.dataLength);
            add("dir_mismatch", entry_label(e), text);
            // The directory's length is what the file holds; which of two
            // names is right cannot be told, so a name is left to the user.
            if (lengthDiffers) out.ctlNeedsRebuild = true;
        } else if (writer::dir_state(d) != f.entryState) {
            std::string text = "Zustand " + state_word(f.entryState) + " in der Steuerdatei, " +
                               state_word(writer::dir_state(d)) + " in " + fileName;
            if (f.entryState == kStateSuperseded && writer::dir_state(d) == kStateValid && marksPending)
                text += " (noch nicht \x81" "bertragen: das tut der n\x84" "chste Lauf oder teilarea repair)";
            add("dir_state", entry_label(e), text);
            if (f.entryState == kStateSuperseded) ++out.marksToCarry;
        }
        reader::PieceModel decoded;
        reader::ImageFault fault;
        if (!reader::decode_piece(*image, nullptr, decoded, fault))
            add("image_bad", entry_label(e),
                "Bild in " + fileName + " Platz " + std::to_string(f.slot) + " nicht lesbar: " + fault.what +
                    " (Byte " + std::to_string(fault.offset) + ")");
    }
    for (const auto& [name, count] : validNames) {
        if (count < 2) continue;
        add("name_twice", "Teil " + name_shown(name), std::to_string(count) + "-mal g\x81ltig");
        out.ctlNeedsRebuild = true;
    }
}

void Checker::piece_files() {
    std::set<std::pair<FileCode, uint8_t>> listed;
    for (const Entry& e : m.entries)
        if (e.placeValid) listed.insert({e.fields.fileCode, e.fields.slot});
    for (const auto& [code, file] : m.files) {
        if (!file.present) continue;
        const std::string name = piece_file_name(code);
        if (file.readError != 0) {
            add("pce_unreadable", name, "Teiledatei nicht lesbar (Fehler " + std::to_string(file.readError) + ")");
            continue;
        }
        if (!file.layout.complete) {
            add("pce_short", name,
                "Teiledatei k\x81rzer als Kopf und Verzeichnis (" + std::to_string(file.layout.size) + " Bytes)");
            continue;
        }
        if (!writer::pce_sound(file.layout))
            add("pce_length", name,
                "Bilder enden bei Byte " + std::to_string(file.layout.imagesEnd) + ", die Datei hat " +
                    std::to_string(file.layout.size) + " Bytes");
        std::string unlisted;
        for (uint8_t s = 0; s < file.layout.usedSlots; ++s) {
            // Also a slot at or after the trailer's next place: a store
            // refuses to overwrite it, so every later import would fail there.
            if (listed.count({code, s}) != 0) continue;
            unlisted += (unlisted.empty() ? "" : ", ") + std::to_string(s);
        }
        if (!unlisted.empty()) {
            add("slot_unlisted", name, "Pl\x84tze " + unlisted + " nicht in der Steuerdatei");
            out.ctlNeedsRebuild = true;
        }
    }
}

void Checker::leftovers(const writer::AreaFiles& files) {
    const std::string ctlBackup = writer::area_path(m.area, writer::AreaFile::ControlBackup);
    std::vector<std::string> backups;
    if (platform::exists(ctlBackup)) backups.push_back(ctlBackup);
    for (const auto& [code, path] : files.pieceBackups) backups.push_back(path);
    auto shown = [&](const std::string& path) {
        return console_text(path.substr(std::min(path.size(), m.dataDir.size())));
    };
    for (const std::string& path : backups) {
        add("leftover", shown(path), "Sicherungskopie eines abgebrochenen Laufs");
        // One that does not hold together is not put back: every import
        // stops at it until repair sets it aside.
        if (!writer::backup_sound(path))
            add("backup_unsound", shown(path),
                "Sicherungskopie unbrauchbar: sie wird nicht zur\x81" "ckgespielt und sperrt jeden Import");
    }
    for (const std::string& path : files.temps)
        add("leftover", shown(path), "tempor\x84re Datei eines abgebrochenen Laufs");
}

void Checker::order() {
    bool supersededSeen = false;
    const Entry* previous = nullptr;
    for (const Entry& e : m.entries) {
        if (e.fields.entryState != kStateValid) {
            supersededSeen = true;
            continue;
        }
        const bool outOfOrder =
            supersededSeen || (previous != nullptr && writer::naturalLess(e.fields.pieceName.data(),
                                                                          previous->fields.pieceName.data(), 20) != 0);
        if (outOfOrder) {
            add("unsorted", kCtlName, "Steuerdatei nicht sortiert (ab " + entry_label(e) + ")");
            out.unsorted = true;
            return;
        }
        previous = &e;
    }
}

}  // namespace

void place_after_entries(const AreaModel& m, FileCode& code, uint8_t& slot) {
    const Entry* last = nullptr;
    for (const Entry& e : m.entries) {
        if (!e.placeValid) continue;
        if (last == nullptr || writer::place_less(last->fields.fileCode, last->fields.slot, e.fields.fileCode, e.fields.slot))
            last = &e;
    }
    code = {'a', 'a', 'a'};
    slot = 0;
    if (last == nullptr) return;
    code = last->fields.fileCode;
    slot = last->fields.slot;
    writer::next_place(code, slot);
}

Findings find_problems(const AreaModel& model) {
    Checker c{model, {}};
    c.out.lock = writer::epn_lock_state(model.area, c.out.lockAge);
    if (c.out.lock == writer::LockState::Stale)
        c.add("lock_stale", "teilimp.opn",
              "alte Zugriffsdatei (" + std::to_string(c.out.lockAge) + " s), von einem abgebrochenen Lauf");
    else if (c.out.lock == writer::LockState::Fresh)
        c.add("lock_fresh", "teilimp.opn", "Zugriffsdatei vorhanden: vielleicht l\x84uft gerade ein Import");
    const writer::AreaFiles& found = model.found;
    c.marksPending = c.out.lock != writer::LockState::None || found.controlBackup || !found.pieceBackups.empty();
    if (writer::compaction_state(model.area) != writer::CompactionState::None)
        c.add("compaction_unfinished", "compact.new", "Verdichtung nicht beendet: teilarea repair beendet sie");
    c.access();
    c.control_file();
    c.trailer();
    c.entries();
    c.piece_files();
    c.leftovers(found);
    c.order();
    return std::move(c.out);
}

}  // namespace teilimp::area_tool
