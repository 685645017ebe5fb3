// teilarea repair: under the area's lock, puts back leftover backups as an
// import does, rebuilds a missing or damaged control file from the piece
// files' directories (the old one kept beside it), sets the states of the
// piece files' directory entries, and sorts, as at the end of an import.
// Every change goes through the writer's safe steps: complete backups,
// new versions under a temporary name, one rename.
#include <cstdio>
#include <map>
#include <set>

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "platform/platform.h"
#include "util/status_text.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/lock.h"
#include "writer/rewrite.h"
#include "writer/sort.h"
#include "writer/writer.h"

namespace teilimp::area_tool {

namespace {

using platform::console_line;
using writer::kStateSuperseded;
using writer::kStateValid;

// "<path>.<YYYYMMDD-HHMMSS>.bak", a name not in use.
std::string kept_name(const std::string& ctlPath) {
    const platform::CalendarTime t = platform::local_now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    std::string name = ctlPath + "." + stamp + ".bak";
    for (int n = 2; platform::exists(name); ++n) name = ctlPath + "." + stamp + "-" + std::to_string(n) + ".bak";
    return name;
}

// Renames backups that cannot be put back to kept names.
bool set_aside(const AreaModel& m, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const std::string path = m.dataDir + name;
        const std::string kept = kept_name(path);
        if (platform::rename_file(path, kept) != platform::kErrNone) {
            console_line("Unbrauchbare Sicherungskopie " + console_text(name) + " kann nicht umbenannt werden.");
            return false;
        }
        console_line("Unbrauchbare Sicherungskopie beiseitegelegt als " + console_text(kept.substr(m.dataDir.size())));
    }
    platform::sync_directory(writer::io::dir_of(m.dataDir + "x"));
    return true;
}

// Piece files whose bytes go on after their last whole image (cut short in
// the middle of one, or with bytes after it): the whole file is kept as
// "<name>.<stamp>.bak", then the file is cut back to its whole images, the
// directory entries after them cleared, so that the next store finds the
// slot after them free. A file without a whole image is only renamed.
bool cut_back_piece_files(const AreaModel& m, bool& changed) {
    for (const auto& [code, file] : m.files) {
        const writer::PceLayout& l = file.layout;
        if (!file.present || file.readError != 0 || !l.complete || writer::pce_sound(l)) continue;
        const std::string path = writer::area_path(m.area, writer::AreaFile::Piece, code);
        const std::string kept = kept_name(path);
        const std::string shownKept = console_text(kept.substr(m.dataDir.size()));
        changed = true;
        if (l.usedSlots == 0) {
            if (platform::rename_file(path, kept) != platform::kErrNone) {
                console_line("Teiledatei " + piece_file_name(code) + " kann nicht beiseitegelegt werden.");
                return false;
            }
            console_line("Teiledatei " + piece_file_name(code) + " ohne ganzes Bild beiseitegelegt als " + shownKept);
            continue;
        }
        writer::PceDirectory dir = l.dir;
        for (size_t k = static_cast<size_t>(l.usedSlots); k < dir.size(); ++k) dir[k] = writer::PceDirEntry{};
        if (l.usedSlots < 8) writer::dir_set_offset(dir[static_cast<size_t>(l.usedSlots)], static_cast<int32_t>(l.imagesEnd));
        util::Bytes bytes(file.bytes.begin(), file.bytes.begin() + l.imagesEnd);
        std::array<uint8_t, writer::kPceDirSize> dirBytes{};
        writer::encode_directory(dir, dirBytes);
        std::copy(dirBytes.begin(), dirBytes.end(), bytes.begin() + writer::kPceHeaderSize);

        writer::SafeRewrite rw(path, kept);
        if (!rw.begin() || !rw.open_new() || !platform::write_all(rw.out, bytes.data(), bytes.size()) || !rw.commit()) {
            console_line("Teiledatei " + piece_file_name(code) + " kann nicht gek\x81rzt werden.");
            return false;
        }
        platform::sync_directory(writer::io::dir_of(path));
        console_line("Teiledatei " + piece_file_name(code) + " aufbewahrt als " + shownKept + ", gek\x81rzt auf " +
                     std::to_string(l.usedSlots) + " ganze Bilder (" + std::to_string(l.imagesEnd) + " statt " +
                     std::to_string(l.size) + " Bytes).");
    }
    return true;
}

// The control entries that the piece files' directories describe, in
// piece-file and slot order.
std::vector<writer::CtlEntry> entries_from_directories(const AreaModel& m) {
    std::vector<writer::CtlEntry> entries;
    for (const auto& [code, file] : m.files) {
        for (uint8_t s = 0; s < file.layout.usedSlots; ++s) {
            const writer::PceDirEntry& d = file.layout.dir[s];
            writer::CtlEntry e;
            e.pieceName = writer::dir_name(d);
            e.fileCode = code;
            e.slot = s;
            e.entryState = writer::dir_state(d);
            e.timeStamp = writer::get_i32(d.raw.data() + 30);
            e.timeStamp2 = writer::get_i32(d.raw.data() + 34);
            e.timeStamp3 = writer::get_i32(d.raw.data() + 38);
            e.dataLength = writer::dir_length(d);
            entries.push_back(e);
        }
    }
    return entries;
}

// A name valid in several entries keeps only its newest (by stamp, then by
// place) valid; the others become superseded.
int settle_duplicates(std::vector<writer::CtlEntry>& entries) {
    std::map<writer::PieceName, size_t> newest;
    int changed = 0;
    for (size_t k = 0; k < entries.size(); ++k) {
        writer::CtlEntry& e = entries[k];
        if (e.entryState != kStateValid) continue;
        auto [it, fresh] = newest.emplace(e.pieceName, k);
        if (fresh) continue;
        // Entries come in place order: a later one with a stamp not older wins.
        writer::CtlEntry& other = entries[it->second];
        if (e.timeStamp >= other.timeStamp) {
            other.entryState = kStateSuperseded;
            it->second = k;
        } else {
            e.entryState = kStateSuperseded;
        }
        ++changed;
    }
    return changed;
}

bool rebuild_control_file(const AreaModel& m) {
    std::vector<writer::CtlEntry> entries = entries_from_directories(m);
    const int settled = settle_duplicates(entries);

    FileCode next{'a', 'a', 'a'};
    uint8_t nextSlot = 0;
    int64_t valid = 0;
    for (const writer::CtlEntry& e : entries) valid += e.entryState == kStateValid ? 1 : 0;
    if (!entries.empty()) {
        next = entries.back().fileCode;
        nextSlot = entries.back().slot;
        writer::next_place(next, nextSlot);
    }
    writer::CtlTrailer trailer = m.trailer && writer::ctl_sound(m.layout) ? *m.trailer : writer::fresh_trailer();
    writer::trailer_set(trailer, next, nextSlot, static_cast<int16_t>(static_cast<uint16_t>(valid & 0xFFFF)));

    util::Bytes bytes((entries.size() + 1) * writer::kRecordSize);
    for (size_t k = 0; k < entries.size(); ++k)
        writer::encode_entry(entries[k], std::span<uint8_t, 64>(bytes.data() + k * writer::kRecordSize, 64));
    std::copy(trailer.raw.begin(), trailer.raw.end(), bytes.end() - writer::kRecordSize);

    // The old control file's backup is the kept copy: it stays after the
    // commit. A missing control file is written new.
    writer::SafeRewrite rw(m.ctlPath, kept_name(m.ctlPath));
    if (m.ctlPresent && !rw.begin()) {
        console_line("Alte Steuerdatei kann nicht aufbewahrt werden.");
        return false;
    }
    if (!rw.open_new() || !platform::write_all(rw.out, bytes.data(), bytes.size()) || !rw.commit()) {
        console_line("Neue Steuerdatei kann nicht geschrieben werden.");
        return false;
    }
    platform::sync_directory(writer::io::dir_of(m.ctlPath));
    // Entries of the old control file whose images are gone.
    std::set<std::pair<FileCode, uint8_t>> kept;
    for (const writer::CtlEntry& e : entries) kept.insert({e.fileCode, e.slot});
    for (const Entry& e : m.entries)
        if (e.placeValid && kept.count({e.fields.fileCode, e.fields.slot}) == 0)
            console_line("Eintrag ohne Bild entfernt: " + name_shown(e.fields.pieceName) + " (" +
                         piece_file_name(e.fields.fileCode) + " Platz " + std::to_string(e.fields.slot) + ")");
    if (m.ctlPresent) console_line("Alte Steuerdatei aufbewahrt als " + console_text(rw.backup.substr(m.dataDir.size())));
    console_line("Steuerdatei aus den Verzeichnissen der Teiledateien neu aufgebaut: " + std::to_string(entries.size()) +
                 " Eintr\x84ge, davon " + std::to_string(valid) + " g\x81ltig, n\x84" "chster Platz " +
                 code_text(next) + "/" + std::to_string(nextSlot) + ".");
    if (settled > 0)
        console_line("Mehrfach g\x81ltige Teile: " + std::to_string(settled) +
                     " \x84ltere Eintr\x84ge als ersetzt markiert.");
    return true;
}

// Directory entries that say superseded where the control file says valid.
bool revive_valid_slots(const AreaModel& m) {
    for (const Entry& e : m.entries) {
        if (!e.placeValid || e.fields.entryState != kStateValid) continue;
        const PieceFile* file = m.file(e.fields.fileCode);
        if (file == nullptr || !file->image(e.fields.slot)) continue;
        if (writer::dir_state(file->layout.dir[e.fields.slot]) == kStateValid) continue;
        if (writer::epn_pce_mark(m.area, e.fields.fileCode, e.fields.slot + 1, kStateValid) != 0) {
            console_line("Zustand in " + piece_file_name(e.fields.fileCode) + " kann nicht gesetzt werden.");
            return false;
        }
        console_line("Zustand in " + piece_file_name(e.fields.fileCode) + " Platz " + std::to_string(e.fields.slot) +
                     " auf g\x81ltig gesetzt (" + name_shown(e.fields.pieceName) + ").");
    }
    return true;
}

int failed() {
    console_line("Reparatur abgebrochen; der Bereich ist unver\x84ndert oder wie vor dem letzten Schritt.");
    return kExitUnreadable;
}

}  // namespace

int run_repair(const writer::AreaField& area) {
    AreaModel m;
    if (!find_area_dir(area, m)) return unreadable(m);
    platform::console_name_line("Repariere Bereich ", area_text(area) + " (" + m.dataDir + ")");
    std::unique_ptr<writer::LockKeeper> lock = lock_for_change(area);
    if (!lock) return kExitUnreadable;
    // Before each step that changes the area: still this run's lock?
    auto held = [&] { return lock_still_held(*lock); };
    // A compaction that was cut off comes first: until it is finished the
    // area has no control file, or files it does not name.
    if (!held() || !settle_compaction(area)) return failed();
    load_area(area, m);
    // A sound area is left as it is, to the byte (the lock is this run's).
    Findings first = find_problems(m);
    std::erase_if(first.problems, [](const Problem& p) { return p.kind == "lock_fresh"; });
    if (first.problems.empty()) {
        if (!lock->release()) {
            console_line("Achtung: Zugriff auf den Zielbereich verloren.");
            return failed();
        }
        console_line("Reparatur beendet: Bereich in Ordnung.");
        return kExitOk;
    }
    std::string leftovers;
    for (const Problem& p : first.problems)
        if (p.kind == "leftover") leftovers += (leftovers.empty() ? "" : ", ") + p.concerns;
    if (!leftovers.empty())
        console_line("Sicherungskopien und tempor\x84re Dateien eines abgebrochenen Laufs: " + leftovers);
    if (!held()) return failed();
    writer::RecoveryReport report = writer::epn_recover_area(area);
    if (!report.unsound.empty()) {
        // A backup that does not hold together cannot be put back, and it
        // blocks every import: kept under another name, out of the way.
        if (!set_aside(m, report.unsound)) return failed();
        report = writer::epn_recover_area(area);
    }
    if (report.failed || !report.unsound.empty()) {
        console_line("Achtung: Sicherungskopien konnten nicht zur\x81" "ckgespielt werden.");
        return failed();
    }
    for (const std::string& name : report.restored)
        console_line("Aus der Sicherungskopie zur\x81" "ckgespielt: " + console_text(name));
    if (!leftovers.empty()) console_line("Sicherungskopien und tempor\x84re Dateien aufgel\x94st.");

    if (!leftovers.empty()) load_area(area, m);
    bool cut = false;
    if (!held() || !cut_back_piece_files(m, cut)) return failed();
    if (cut) load_area(area, m);
    Findings f = find_problems(m);
    if (f.ctlNeedsRebuild) {
        if (!held() || !rebuild_control_file(m)) return failed();
        load_area(area, m);
        f = find_problems(m);
    }
    if (!held() || !revive_valid_slots(m)) return failed();
    if (f.marksToCarry > 0) {
        if (!held()) return failed();
        writer::epn_mark_superseded(area);
        console_line("Ersetzt-Markierungen in die Teiledateien \x81" "bertragen: " + std::to_string(f.marksToCarry) + ".");
    }
    if (m.ctlPresent && f.unsorted) {
        if (!held()) return failed();
        const writer::SortStatus sorted = writer::epn_ctl_sort(area);
        if (sorted != writer::SortStatus::Ok) {
            console_line(util::status_line("Achtung: Fehler in epn_ctl_sort()", writer::number(sorted)));
            console_line(util::reason_line(writer::reason(sorted)));
            return failed();
        }
        console_line("Steuerdatei sortiert.");
    }
    if (!lock->release()) {
        console_line("Achtung: Zugriff auf den Zielbereich verloren.");
        return failed();
    }

    load_area(area, m);
    const Findings after = find_problems(m);
    if (after.problems.empty()) {
        console_line("Reparatur beendet: Bereich in Ordnung.");
        return kExitOk;
    }
    console_line("Reparatur beendet; es bleiben " + std::to_string(after.problems.size()) + " Problem(e):");
    for (const Problem& p : after.problems) console_line("   " + p.concerns + ": " + p.text);
    return kExitProblems;
}

}  // namespace teilimp::area_tool
