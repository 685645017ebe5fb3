#include "driver/run.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "dxf/dxf_pieces.h"
#include "platform/platform.h"
#include "reader/epn_reader.h"
#include "util/fileops.h"
#include "util/filesearch.h"
#include "util/status_text.h"
#include "util/text.h"
#include "util/version.h"
#include "writer/area_path.h"
#include "writer/compaction.h"
#include "writer/area_scan.h"
#include "writer/lock.h"
#include "writer/records.h"
#include "writer/sort.h"
#include "writer/writer.h"

namespace teilimp::driver {

namespace {

using platform::console_line;

constexpr size_t kPatternCapacity = 1024;
constexpr size_t kOptionCapacity = 20;
constexpr size_t kAnswerCapacity = 80;
constexpr size_t kCommandCapacity = 128;

// Console texts in code page 850 (0x81 u-umlaut, 0x84 a-umlaut, 0x94
// o-umlaut, 0x9A capital U-umlaut).
constexpr std::string_view kBanner = "TEILIMP   Konvertierung von EPN-Dateien V1.17";
constexpr auto kUsage = std::to_array<std::string_view>({
    "Aufruf:",
    "TEILIMP.EXE <Bereich> [<Dateiname>|/d] [/n] [/l] [/f]",
    "   <Bereich>   ist der Bereich in der Vaduvi-Datenstruktur,",
    "               in den die importierten Teile geschrieben werden sollen",
    "               (bestehend aus Laufwerk und Name)",
    "   <Dateiname> bezeichnet die Dateien, die importiert werden sollen",
    "   /d          Datenbereich leeren",
    "   /n          existierende Teile nicht \x81" "berschreiben",
    "   /f          existierende Teile nur nach R\x81" "ckfrage \x81" "berschreiben",
    "   /l          EPN-Dateien nach erfolgreicher \x9A" "bergabe l\x94" "schen",
    "   /s1         ohne Kommentare abarbeiten",
});
// The options and notes the usage text goes on with, then its examples.
constexpr auto kUsageMore = std::to_array<std::string_view>({
    "   /w          auf einen blockierten Zielbereich warten, bis er frei ist",
    "   /?, --help  diese Hilfe zeigen",
    "   --version   nur die Version zeigen",
});
constexpr auto kUsageExamples = std::to_array<std::string_view>({
    " ",
    "Beispiele:",
    "TEILIMP F:TEST C:\\EPN\\*.*",
    "TEILIMP A:FLOPPY C:\\EPN\\*.* /n",
    "",
    "TEILIMP F:TEST /d                leert diese Datenbasis",
    " ",
    " ",
});

// Exit statuses of the process.
enum ExitStatus : int {
    kExitDone = 0,        // every file found was stored or passed over by choice
    kExitSomeFailed = 1,  // at least one file was not imported because of an error
    kExitNothingDone = 2, // usage, no file found, area blocked or refused, clear failed
};

void write_usage() {
    for (auto line : kUsage) console_line(line);
    for (auto line : kUsageMore) console_line(line);
    for (const std::string& line : platform::drive_usage_lines()) console_line(line);
    for (auto line : kUsageExamples) console_line(line);
}

// Switches set from the options and changed by the user's answers.
struct Switches {
    bool replaceExisting = true;
    bool askBeforeReplace = false;
    bool deleteAfterImport = false;
    bool quiet = false;
    bool waitForLock = false;
};

struct CommandLine {
    writer::AreaField area{};
    std::string areaArgument;  // argument 1 as typed
    // The file arguments in the order given (each at most 1024 characters).
    std::vector<std::string> files;
    bool clearRequest = false;
    std::vector<std::string> unknownOptions;
    size_t argumentCount = 0;  // without argument 0
    Switches switches;
};

// What the run did with the files it found.
struct Counts {
    int imported = 0;  // pieces stored
    int replaced = 0;  // of them, those that superseded a valid entry
    int skipped = 0;   // passed over by choice (/n, the answer "Nein")
    int failed = 0;    // not imported because of an error
    int unmatched = 0; // of them, arguments that named no file
    int found() const { return imported + skipped + failed; }
};

// State of one conversion run.
struct Run {
    CommandLine cmd;
    std::string directoryPart;
    std::unique_ptr<writer::LockKeeper> lock;  // the area's lock, once taken
    bool anyImported = false;
    bool lastFile = false;      // the file being converted is the run's last match
    bool stopped = false;       // the run ended early (area blocked, lock lost)
    bool lockLost = false;      // another run has the area now
    bool endFailed = false;     // the tidying at the end of the run failed
    bool keptFile = false;      // an EPN file that /l was to delete is still there
    std::string filePath;       // the file being converted ("" between files)
    bool fileTold = false;      // its line is on standard error (/s1)
    std::string answer;         // last answer to the overwrite question
    bool answerRead = false;
    Counts counts;
    std::set<std::string> seen;  // files taken already (identity keys)
    reader::Piece piece;
    writer::AreaRun areaRun;  // what the run knows of its area
    std::map<std::string, bool> rulFiles;  // RUL files read: true while every DXF file using them was deleted (/l)
    dxf::RulSearch rulSearch;              // the DXF files' directories, each listed once
};

// A line that tells of a failure, followed by `name` as the file system
// gives it. /s1 does not hide it: it goes to standard error, after the
// line of the file it is about (once per file).
void tell(Run& run, std::string_view cp850, std::string_view name = {}) {
    if (!run.cmd.switches.quiet) {
        if (name.empty()) console_line(cp850);
        else platform::console_name_line(cp850, name);
        return;
    }
    if (!run.filePath.empty() && !run.fileTold) {
        platform::console_error_name_line("Konvertiere Datei:", run.filePath);
        run.fileTold = true;
    }
    if (name.empty()) platform::console_error_line(cp850);
    else platform::console_error_name_line(cp850, name);
}

// The line that reports a failed step with its status's number, and the
// line with its reason.
void report_status(Run& run, std::string_view text, int32_t number, std::string_view reason) {
    tell(run, util::status_line(text, number));
    tell(run, util::reason_line(reason));
}

// An argument of the form of an option: "/" or "-" followed by one or two
// characters, unless the system takes it for a file name.
bool is_option(std::string_view arg) {
    if (arg.size() < 2 || arg.size() > 3) return false;
    if (arg[0] != '/' && arg[0] != '-') return false;
    return !platform::argument_is_file_name(arg);
}

// A longer argument that begins like an option, holds no further
// separator, drive or wildcard and names no file: a mistyped option (such
// as "/nope" for "/n"), not a file to look for.
bool is_mistyped_option(std::string_view arg) {
    if (arg.size() < 4 || (arg[0] != '/' && arg[0] != '-')) return false;
    if (arg.find_first_of("/\\:*?", 1) != std::string_view::npos) return false;
    return !platform::exists(arg);
}

// The clear request: "/d" or "-d" exactly, in either case, trailing blanks
// not counted.
bool is_clear_request(std::string_view arg) {
    auto end = arg.find_last_not_of(' ');
    arg = arg.substr(0, end == std::string_view::npos ? 0 : end + 1);
    return arg.size() == 2 && (arg[0] == '-' || arg[0] == '/') && (arg[1] == 'd' || arg[1] == 'D');
}

// Applies one option; false when its letter is unknown.
bool apply_option(std::string_view arg, Switches& sw) {
    std::array<char, kOptionCapacity> field;
    field.fill(' ');
    std::copy(arg.begin(), arg.end(), field.begin());
    util::KleGro(field.data(), static_cast<int32_t>(arg.size()));
    switch (field[1]) {
    case 'N':
        sw.replaceExisting = false;
        break;
    case 'F':
        sw.askBeforeReplace = true;
        sw.replaceExisting = false;
        break;
    case 'L':
        sw.deleteAfterImport = true;
        break;
    case 'S':
        sw.quiet = field[2] == '1';
        break;
    case 'W':
        sw.waitForLock = true;
        break;
    case 'D':
        break;  // the clear request counts only as argument 2, and exactly
    default:
        return false;
    }
    return true;
}

// Argument 1 is the area; every later argument is an option or a file
// name or pattern. "/d" as argument 2 asks for the clear; as a later
// argument it is ignored.
CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine cmd;
    cmd.argumentCount = args.empty() ? 0 : args.size() - 1;
    if (args.size() > 1) cmd.areaArgument = args[1];
    cmd.area = writer::make_area(cmd.areaArgument);
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (is_clear_request(arg) && !platform::argument_is_file_name(arg)) {
            if (i == 2) cmd.clearRequest = true;
            continue;
        }
        if (is_option(arg)) {
            if (!apply_option(arg, cmd.switches)) cmd.unknownOptions.push_back(arg);
            continue;
        }
        if (is_mistyped_option(arg)) {
            cmd.unknownOptions.push_back(arg);
            continue;
        }
        cmd.files.push_back(arg.substr(0, kPatternCapacity));
    }
    return cmd;
}

bool area_is_usable(const writer::AreaField& area) {
    return util::siglen(area.data(), static_cast<int32_t>(area.size())) >= 3 && area[1] == ':';
}

// The area's name counts in full or not at all: only the first 10
// characters name the area's files, so a longer argument would silently
// name another area (F:PROJECT01 and F:PROJECT02 would be one).
constexpr int32_t kAreaSignificant = 10;

// The area argument without its trailing blanks and NULs.
std::string_view significant_area(const CommandLine& cmd) {
    const std::string& a = cmd.areaArgument;
    return std::string_view(a).substr(0, static_cast<size_t>(util::siglen(a.data(), static_cast<int32_t>(a.size()))));
}

// The piece name as it is shown: its first H characters.
std::string_view shown_name(const writer::PieceName& name) {
    auto h = util::siglen(name.data(), static_cast<int32_t>(name.size()));
    return std::string_view(name.data(), static_cast<size_t>(h));
}

// Reads one answer line; false at end of input.
bool read_answer(std::string& line, size_t capacity) { return platform::console_read_line(line, capacity); }

// Takes the area's lock and keeps it fresh until it is released. Null,
// after the messages, when the run has to stop.
std::unique_ptr<writer::LockKeeper> lock_area(const writer::AreaField& area, bool waitForever) {
    writer::HeldLock held;
    switch (writer::epn_lock(area, 1, held, waitForever ? 1 : 0)) {
    case writer::kLockTaken:
        return std::make_unique<writer::LockKeeper>(std::move(held));
    case writer::kLockAreaMissing:
        platform::console_name_line("Achtung: Zielbereich nicht gefunden: ", writer::lock_directory(area));
        platform::console_path_note(writer::lock_directory(area));
        break;
    case writer::kLockAreaUnwritable:
        platform::console_name_line("Achtung: Zielbereich nicht beschreibbar: ", writer::lock_directory(area));
        platform::console_path_note(writer::lock_directory(area));
        break;
    case writer::kLockInterrupted:
        return nullptr;  // the run ends with the interrupt's own line
    default:
        console_line("Zielbereich ist blockiert.");
        break;
    }
    console_line("Stop - Program terminated.");
    return nullptr;
}

void report_lost_lock() {
    console_line("Achtung: Zugriff auf den Zielbereich verloren.");
    console_line("Stop - Program terminated.");
}

int clear_request(const CommandLine& cmd) {
    platform::console_name_line("Bereich: ", writer::lock_directory(cmd.area));
    // What the clear would delete; pieces a repair could bring back are
    // not to be lost by mistake.
    const writer::AreaContents contents = writer::area_contents(cmd.area);
    console_line("Der Bereich enth\x84lt " + std::to_string(contents.validPieces) + " g\x81ltige Teile in " +
                 std::to_string(contents.pieceFiles) + " Teiledateien.");
    if (!contents.ctlSound && contents.pieceFiles > 0)
        console_line("Achtung: die Teiledateien lassen sich mit teilarea repair wiederherstellen.");
    console_line("Reset der Datenbasis durchf\x81hren.");
    console_line("Sind Sie sicher, dass sie alle Teile im angegebenen Datenbereich");
    console_line("l\x94schen wollen? (j/n)");
    // The answer is one word: blank lines before it are passed over; only
    // its first character counts. End of input clears nothing.
    std::string line;
    char first = 0;
    while (read_answer(line, kAnswerCapacity)) {
        auto pos = line.find_first_not_of(" \t");
        if (pos == std::string::npos) continue;
        first = line[pos];
        break;
    }
    if (first != 'j' && first != 'J') {
        console_line("Datenbasis nicht geleert.");
        return kExitDone;
    }
    // No run may store while the area is being cleared.
    std::unique_ptr<writer::LockKeeper> lock = lock_area(cmd.area, cmd.switches.waitForLock);
    if (!lock) return kExitNothingDone;
    const bool cleared = lock->still_ours() && writer::epn_area_clear(cmd.area) != 0;
    if (!lock->release()) {
        report_lost_lock();
        return kExitNothingDone;
    }
    if (!cleared) {
        console_line("Achtung: Datenbasis konnte nicht geleert werden.");
        return kExitNothingDone;
    }
    console_line("Datenbasis geleert.");
    return kExitDone;
}

// The directory part of the pattern: up to and including its last "\" or
// "/"; ".\" when it has neither.
std::string directory_part(std::string_view pattern) {
    auto pos = pattern.find_last_of("\\/");
    if (pos == std::string_view::npos) return ".\\";
    return std::string(pattern.substr(0, pos + 1));
}

// The name under which an entry of the search is opened. Where the system
// has 8.3 names this is the 12-character short-name field closed up: the
// alias, or the upper-cased long name of a file that needs none. A long
// name without an alias leaves that field blank and is used as it is. A
// system without 8.3 names (case-sensitive, as POSIX) always uses the long
// name as the system gives it: an upper-cased copy could name another file.
std::string entry_file_name(const util::Fns4Entry& entry) {
    if (!platform::has_short_names()) return entry.longName;
    char shortName[12];
    std::copy(std::begin(entry.shortName), std::end(entry.shortName), shortName);
    int32_t n = util::leedel(shortName, 12);
    if (n == 0) return entry.longName;
    return std::string(shortName, static_cast<size_t>(n));
}

// The overwrite question for an existing piece. Returns true when the piece
// is to be stored.
bool overwrite_dialogue(Run& run, std::string_view name) {
    console_line("Teil " + std::string(name) + " existiert bereits.");
    console_line("\x9A" "berschreiben? (Ja/Nein/Alle)");
    std::string line;
    if (read_answer(line, kAnswerCapacity)) {
        // The answer field is blank-padded: an empty line reads as a blank.
        run.answer = line.empty() ? std::string(" ") : line;
        run.answerRead = true;
    }
    if (platform::interrupted()) return false;  // no answer: the run ends
    char first = run.answerRead ? run.answer[0] : ' ';
    switch (first) {
    case 'j': case 'J': case 'y': case 'Y':
        console_line("Ja.");
        return true;
    case 'a': case 'A':
        console_line("Alle.");
        run.cmd.switches.askBeforeReplace = false;
        run.cmd.switches.replaceExisting = true;
        return true;
    default:
        console_line("Nein.");
        return false;
    }
}

// After a piece failed: the failure line and, when the user is being asked
// anyway, a pause in which a command may be typed. Only a person at a
// terminal types commands: a line from a pipe or a file is an answer meant
// for some question, and running it could do anything.
void report_failure(Run& run, std::string_view name) {
    const Switches& sw = run.cmd.switches;
    tell(run, "   Teil nicht importiert !!! (" + std::string(name) + ")");
    if (sw.quiet || !sw.askBeforeReplace) return;
    console_line("Weiter mit Enter.");
    std::string line;
    if (!read_answer(line, kCommandCapacity)) return;
    auto end = line.find_last_not_of(" \t");
    size_t len = end == std::string::npos ? 0 : end + 1;
    if (len >= 2 && platform::input_is_terminal()) platform::run_command(std::string_view(line).substr(0, len));
}

// Before each change of the area: is the lock still this run's? If another
// run has taken it over (this run was suspended for longer than a lock
// lives) or it was deleted, the run changes nothing more and ends.
bool lock_still_ours(Run& run) {
    if (run.lock->still_ours()) return true;
    if (!run.lockLost) report_lost_lock();
    run.lockLost = true;
    run.stopped = true;
    return false;
}

// Releases the lock at the end of the run; a lock that is no longer this
// run's is left to whoever holds it.
void release_lock(Run& run) {
    if (!run.lock || run.lockLost) return;
    if (!run.lock->release()) {
        report_lost_lock();
        run.lockLost = true;
    }
    run.lock.reset();
}

// Takes the area's lock before the first piece is stored, and puts the
// area back in order if an earlier run died in the middle of an update.
// False when the run has to stop.
bool take_lock(Run& run) {
    if (run.lock) return true;
    run.lock = lock_area(run.cmd.area, run.cmd.switches.waitForLock);
    if (!run.lock) return false;
    // A compaction that was cut off is finished or undone by teilarea alone.
    if (writer::compaction_state(run.cmd.area) != writer::CompactionState::None) {
        console_line("Achtung: Verdichtung nicht beendet: teilarea repair aufrufen.");
        console_line("Stop - Program terminated.");
        return false;
    }
    const writer::RecoveryReport recovery = writer::epn_recover_area(run.cmd.area, &run.areaRun);
    // A backup that does not hold together is left for the user to look
    // at: nothing is put back and nothing is stored.
    for (const std::string& name : recovery.unsound)
        platform::console_name_line("Achtung: Sicherung unbrauchbar: ", name);
    if (!recovery.restored.empty()) {
        console_line("Achtung: Zielbereich nach Abbruch wiederhergestellt.");
        for (const std::string& name : recovery.restored)
            platform::console_name_line("   zur\x81" "ckgesetzt: ", name);
    }
    if (!recovery.unsound.empty() || recovery.failed) {
        // Storing on top of backups that could not be put back would lose
        // them: leave the area alone.
        console_line("Achtung: Zielbereich konnte nach Abbruch nicht wiederhergestellt werden.");
        console_line("Stop - Program terminated.");
        return false;
    }
    return true;
}

// Space check, control-file entry and piece-file store. True when stored.
bool store_piece(Run& run, const writer::PieceName& name) {
    const auto& area = run.cmd.area;
    int32_t length = run.piece.imageLength();
    if (writer::epn_space_check(area, length, run.areaRun) == 0) {
        tell(run, " ");
        tell(run, "   Nicht gen\x81gend Speicherplatz vorhanden !");
        tell(run, " ");
        return false;
    }
    const writer::StoreResult r = writer::epn_store_piece(area, name, run.piece.image, &run.areaRun, run.lastFile);
    if (r.ctl != writer::CtlStatus::Ok) {
        // No control file but piece files: the advice is repair, not a clear.
        const bool repairable = r.ctl == writer::CtlStatus::NotSetUp && writer::control_missing_with_pieces(area);
        report_status(run, "Achtung: Fehler in epn_ctl_put()", writer::number(r.ctl),
                      repairable ? writer::control_missing_reason() : writer::reason(r.ctl));
        return false;
    }
    if (r.pce != writer::PceStatus::Ok) {
        report_status(run, "Achtung: Fehler in epn_pce_put()", writer::number(r.pce),
                      writer::reason(r.pce, "piece" + std::string(r.code.data(), r.code.size()) + ".pce"));
        return false;
    }
    if (r.replaced) ++run.counts.replaced;
    return true;
}

// True the first time a file is met in this run: a file that several
// arguments name is imported once.
bool first_sight(Run& run, const std::string& path) {
    std::string key = platform::file_identity(path);
    if (key.empty()) key = "?" + path;  // can't be looked at: its name stands for it
    return run.seen.insert(key).second;
}

// ---- AAMA-DXF / ASTM files: every piece of the file is one piece of the run.

// Stores the piece read into run.piece as its EPN counterpart does: the
// lock, the existing piece, the question, the store. True when stored.
bool store_dxf_piece(Run& run) {
    Switches& sw = run.cmd.switches;
    writer::PieceName name = run.piece.pieceName;
    auto h = util::siglen(name.data(), static_cast<int32_t>(name.size()));
    std::fill(name.begin() + h, name.end(), '\0');
    const std::string shown(shown_name(name));
    if (platform::interrupted()) {
        ++run.counts.failed;
        return false;
    }
    if (!take_lock(run)) {
        run.stopped = true;
        return false;
    }
    bool exists = !sw.replaceExisting && writer::epn_ctl_find(run.cmd.area, name, run.areaRun) != 0;
    if (sw.askBeforeReplace && exists && overwrite_dialogue(run, shown)) exists = false;
    if (platform::interrupted()) {
        ++run.counts.failed;
        return false;
    }
    if (!sw.replaceExisting && exists) {
        ++run.counts.skipped;
        if (!sw.quiet) console_line("   Teil =>" + shown + "<= \x81" "bergangen. Es existiert schon.");
        return false;
    }
    if (!lock_still_ours(run) || !store_piece(run, name)) {
        ++run.counts.failed;
        if (!run.lockLost) report_failure(run, shown);
        return false;
    }
    ++run.counts.imported;
    run.anyImported = true;
    console_line("   Teil importiert als:" + shown);
    return true;
}

// Each piece is stored as soon as it is built: a file of many pieces is
// never held whole.
void convert_dxf(Run& run, const std::string& path) {
    const Switches& sw = run.cmd.switches;
    auto failed = [&](dxf::DxfStatus status, const std::string& reason) {
        ++run.counts.failed;
        if (!sw.quiet) {
            console_line(util::status_line("Fehler beim Konvertieren:", number(status)));
            console_line(reason);
        }
    };
    dxf::LoadedDxf loaded = dxf::load_dxf_file(path, run.rulSearch);
    if (loaded.status != dxf::DxfStatus::Ok) return failed(loaded.status, loaded.reason);
    const bool lastFile = run.lastFile;
    bool all = true;
    const dxf::DxfFile file =
        dxf::convert_drawing(loaded.drawing, loaded.rules, [&](dxf::DxfPiece& p, size_t k, size_t m) {
            if (run.stopped) return false;
            if (!sw.quiet)
                console_line("   Teil " + std::to_string(k + 1) + "/" + std::to_string(m) + ": " + p.name);
            run.lastFile = lastFile && k + 1 == m;
            bool stored = false;
            if (p.status != dxf::DxfStatus::Ok) {
                failed(p.status, p.reason);
            } else {
                if (p.contourReversed == 1) console_line("   Achtung: Umlaufsinn der Kontur ge\x84ndert.");
                if (p.grainRotated == 1) console_line("   Achtung: Fadenlauf nach rechts gedreht.");
                run.piece.pieceName = p.piece.pieceName;
                run.piece.image.swap(p.piece.image);
                stored = store_dxf_piece(run);
            }
            all = all && stored;
            if (!sw.quiet)
                for (const std::string& note : p.notes) console_line(note);
            if (platform::interrupted()) {
                all = false;
                return false;
            }
            return !run.stopped;
        });
    if (file.status != dxf::DxfStatus::Ok) return failed(file.status, file.reason);
    if (!loaded.rulPath.empty()) {
        auto [it, added] = run.rulFiles.emplace(loaded.rulPath, true);
        it->second = it->second && all;
    }
    if (all && sw.deleteAfterImport) util::FTNFDE(path);
}

// With /l: the RUL files whose DXF files were all deleted.
void delete_rul_files(Run& run) {
    if (!run.cmd.switches.deleteAfterImport) return;
    for (const auto& [path, allDeleted] : run.rulFiles)
        if (allDeleted) util::FTNFDE(path);
}

// ---- end of AAMA-DXF / ASTM files

// One entry of the search: convert the EPN file and store its piece.
void convert_entry(Run& run, const util::Fns4Entry& entry) {
    if (entry.attributes & platform::kAttrDirectory) return;
    std::string path = run.directoryPart + entry_file_name(entry);
    if (path.size() > kPatternCapacity) path.resize(kPatternCapacity);
    if (dxf::is_rul_name(path)) return;  // read with its DXF file, never on its own
    if (!first_sight(run, path)) return;
    Switches& sw = run.cmd.switches;
    run.filePath = path;
    run.fileTold = false;
    if (!sw.quiet) platform::console_name_line("Konvertiere Datei:", path);
    if (dxf::file_looks_like_dxf(path)) return convert_dxf(run, path);

    int32_t reversed = 0, rotated = 0;
    const reader::EpnStatus status =
        reader::epn_read(path.data(), static_cast<int32_t>(path.size()), reversed, rotated, run.piece);
    if (status != reader::EpnStatus::Ok) {
        ++run.counts.failed;
        report_status(run, "Fehler beim Konvertieren:", reader::number(status), reader::epn_reason(status, run.piece));
        return;
    }
    if (run.piece.baseSizeLine != 0) console_line(reader::base_size_warning(run.piece));
    if (reversed == 1) console_line("   Achtung: Umlaufsinn der Kontur ge\x84ndert.");
    if (rotated == 1) console_line("   Achtung: Fadenlauf nach rechts gedreht.");

    writer::PieceName name = run.piece.pieceName;
    auto h = util::siglen(name.data(), static_cast<int32_t>(name.size()));
    std::fill(name.begin() + h, name.end(), '\0');
    std::string shown(shown_name(name));

    // Interrupted: this piece is not stored, and no further file is read.
    if (platform::interrupted()) {
        ++run.counts.failed;
        return;
    }
    if (!take_lock(run)) {
        run.stopped = true;
        return;
    }

    bool exists = !sw.replaceExisting && writer::epn_ctl_find(run.cmd.area, name, run.areaRun) != 0;
    if (sw.askBeforeReplace && exists && overwrite_dialogue(run, shown)) exists = false;
    if (platform::interrupted()) {
        ++run.counts.failed;
        return;
    }
    if (!sw.replaceExisting && exists) {
        ++run.counts.skipped;
        if (!sw.quiet) console_line("   Teil =>" + shown + "<= \x81" "bergangen. Es existiert schon.");
        return;
    }

    if (!lock_still_ours(run)) {
        ++run.counts.failed;
        return;
    }
    if (!store_piece(run, name)) {
        ++run.counts.failed;
        report_failure(run, shown);
        return;
    }
    ++run.counts.imported;
    run.anyImported = true;
    console_line("   Teil importiert als:" + shown);
    if (sw.deleteAfterImport && util::FTNFDE(path) != 0) {
        // Left there, the next run imports it again.
        tell(run, "Achtung: EPN-Datei nicht gel\x94scht: ", path);
        run.keptFile = true;
    }
}

// An argument that names no file to read: a directory named as such (one
// that a pattern matches is passed over), or nothing. Counted as failed.
bool argument_unmatched(Run& run, const std::string& pattern, util::Fns4Search& search,
                        util::Fns4Entry& entry) {
    run.filePath.clear();
    std::string_view line;
    const bool plainName = pattern.find_first_of("*?") == std::string::npos;
    const uint32_t attributes = plainName ? platform::get_attributes(pattern) : platform::kAttrInvalid;
    if (attributes != platform::kAttrInvalid && (attributes & platform::kAttrDirectory) != 0) {
        line = "Achtung: Verzeichnis statt Datei: ";
    } else if (util::ftnfns4(search, 1, pattern, entry) != 0) {
        line = "Achtung: Datei nicht gefunden: ";
    } else {
        return false;
    }
    tell(run, line, pattern);
    ++run.counts.failed;
    ++run.counts.unmatched;
    return true;
}

// Imports the files that one argument names. True when a match was found.
// `lastArgument`: no argument follows.
bool import_argument(Run& run, const std::string& pattern, bool lastArgument) {
    run.directoryPart = directory_part(pattern);
    util::Fns4Search search;
    util::Fns4Entry entry;
    if (argument_unmatched(run, pattern, search, entry)) return false;
    for (;;) {
        if (platform::interrupted()) {
            util::ftnfns4(search, 3, {}, entry);
            return true;
        }
        // The next match is looked for before this one is taken, so that
        // the run knows its last file: the store of its piece finishes the
        // run's work on the area.
        util::Fns4Entry next;
        const bool more = util::ftnfns4(search, 2, {}, next) == 0;
        run.lastFile = lastArgument && !more;
        convert_entry(run, entry);
        if (run.stopped) {
            util::ftnfns4(search, 3, {}, entry);
            return true;
        }
        if (!more) return true;
        entry = std::move(next);
    }
}

// "Ergebnis: 3 importiert (1 ersetzt), 1 übergangen, 0 fehlerhaft."
std::string summary_line(const Counts& c) {
    return "Ergebnis: " + std::to_string(c.imported) + " importiert (" + std::to_string(c.replaced) +
           " ersetzt), " + std::to_string(c.skipped) + " \x81" "bergangen, " + std::to_string(c.failed) +
           " fehlerhaft.";
}

int conversion_run(Run& run) {
    bool anyMatch = false;
    run.anyImported = false;
    for (size_t k = 0; k < run.cmd.files.size(); ++k) {
        if (import_argument(run, run.cmd.files[k], k + 1 == run.cmd.files.size())) anyMatch = true;
        if (run.stopped || platform::interrupted()) break;
    }
    delete_rul_files(run);
    run.filePath.clear();
    // No file at all: the arguments that named none were all there was.
    const bool onlyUnmatched = run.counts.unmatched > 0 && run.counts.found() == run.counts.unmatched;
    if (!anyMatch || (onlyUnmatched && !run.stopped)) {
        release_lock(run);
        console_line("Achtung: Keine EPN-Datei(en) gefunden!");
        return kExitNothingDone;
    }
    if (run.stopped) {
        release_lock(run);
        return run.lockLost ? kExitSomeFailed : kExitNothingDone;
    }

    if (run.anyImported && lock_still_ours(run)) {
        writer::epn_mark_superseded(run.cmd.area, run.areaRun);
        const writer::SortStatus status = writer::epn_ctl_sort(run.cmd.area, run.areaRun);
        if (status != writer::SortStatus::Ok) {
            run.endFailed = true;
            report_status(run, "Achtung: Fehler in epn_ctl_sort()", writer::number(status), writer::reason(status));
        }
    }
    release_lock(run);
    if (run.lockLost) return kExitSomeFailed;
    // Matches that were all directories: no file was found.
    if (run.counts.found() == 0) return kExitNothingDone;
    if (!run.cmd.switches.quiet) console_line(summary_line(run.counts));
    return run.counts.failed > 0 || run.endFailed || run.keptFile ? kExitSomeFailed : kExitDone;
}

// What a user asks for who wants to know how the program is called: the
// help words in any case, or the version.
enum class Request { None, Help, Version };

Request help_request(std::string_view arg) {
    std::string a(arg);
    for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (a == "--help" || a == "-h" || a == "/h" || a == "-?" || a == "/?") return Request::Help;
    if (a == "--version") return Request::Version;
    return Request::None;
}

// The help word as the only argument or the first, or right after the area
// (unless the system takes it for a file's name there).
Request help_request(const std::vector<std::string>& args) {
    if (args.size() > 1 && help_request(args[1]) != Request::None) return help_request(args[1]);
    if (args.size() > 2 && !platform::argument_is_file_name(args[2])) return help_request(args[2]);
    return Request::None;
}

}  // namespace

int run_main(const std::vector<std::string>& args) {
    switch (help_request(args)) {
    case Request::Help:
        console_line(kBanner);
        console_line(" ");
        write_usage();
        platform::console_flush();
        return kExitDone;
    case Request::Version:
        console_line("teilimp " + std::string(util::version()));
        platform::console_flush();
        return kExitDone;
    case Request::None:
        break;
    }
    // Ctrl-C ends the run safely: the piece being stored is finished, the
    // end of the run is done and the lock released (see the end below).
    platform::catch_interrupts();
    Run run;
    run.cmd = parse_command_line(args);
    if (!run.cmd.switches.quiet) {
        console_line(kBanner);
        console_line(" ");
    }
    for (const auto& arg : run.cmd.unknownOptions)
        platform::console_name_line("Achtung: Unbekannte Option ignoriert: ", arg);
    int status = kExitNothingDone;
    if (run.cmd.argumentCount < 2 || !area_is_usable(run.cmd.area)) {
        write_usage();
    } else if (significant_area(run.cmd).size() > static_cast<size_t>(kAreaSignificant)) {
        platform::console_name_line("Achtung: Bereich zu lang (h\x94" "chstens 10 Zeichen): ", significant_area(run.cmd));
        console_line("Stop - Program terminated.");
    } else if (run.cmd.clearRequest) {
        status = clear_request(run.cmd);
    } else {
        status = conversion_run(run);
    }
    if (platform::interrupted()) {
        console_line("Abbruch durch den Benutzer.");
        if (status == kExitDone) status = kExitSomeFailed;
        platform::interrupt_handled();
    }
    platform::console_flush();
    return status;
}

}  // namespace teilimp::driver
