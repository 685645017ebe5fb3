// Lookup, space check, clearing, superseded marks.
#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "util/drive.h"
#include "util/filesearch.h"
#include "writer/area_files.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/compaction.h"
#include "writer/rewrite.h"
#include "writer/stamped.h"
#include "writer/writer.h"

namespace teilimp::writer {

namespace {

constexpr FileCode kFirstCode = {'a', 'a', 'a'};
constexpr FileCode kLastCode = {'z', 'z', 'z'};

// Reads a piece file's header and directory; false if it can't.
bool read_directory(io::ChunkReader& reader, std::array<uint8_t, kPceHeaderSize>& header, PceDirectory& dir) {
    std::array<uint8_t, kPceDirSize> bytes{};
    if (!reader.read(header.data(), header.size()) || !reader.read(bytes.data(), bytes.size())) return false;
    dir = decode_directory(bytes);
    return true;
}

// Slots (0-based) of one piece file whose state is to be set.
struct SlotSet {
    std::array<bool, 8> slots{};
};

// True when every entry of `set` already holds `state`.
bool in_state(const PceDirectory& dir, const SlotSet& set, int16_t state) {
    for (size_t k = 0; k < 8; ++k)
        if (set.slots[k] && dir_state(dir[k]) != state) return false;
    return true;
}

// True when the piece file's entries of `set` already hold `state`. Read
// from the piece file itself, so that entries marked by an earlier run cost
// no copy.
bool already_in_state(const std::string& piece, const SlotSet& set, int16_t state) {
    platform::File f = platform::open_file(piece, platform::OpenMode::Read);
    if (!f.is_open()) return false;
    io::ChunkReader reader(f, kPceDataStart);
    std::array<uint8_t, kPceHeaderSize> header{};
    PceDirectory dir{};
    return read_directory(reader, header, dir) && in_state(dir, set, state);
}

// Sets `state` in the directory entries `set` of a piece file. `rewritten`
// tells whether the file was replaced (its directory is then still to be
// flushed).
int32_t mark_slots(const AreaField& area, const FileCode& fileCode, const SlotSet& set, int16_t state,
                   bool& rewritten, bool keepBackup = false);

}  // namespace

// Reads the control file whole and closes it; false if it can't be read.
bool read_control(const AreaField& area, util::Bytes& bytes) {
    platform::File f = platform::open_file(area_path(area, AreaFile::Control), platform::OpenMode::Read);
    if (!f.is_open()) return false;
    const bool done = io::read_all(f, bytes);
    platform::close_file(f);
    return done;
}

// Calls `visit` for each entry of the control file, up to the trailer or
// the end of the bytes; stops early when `visit` returns false.
template <typename Visit>
void for_each_entry(const util::Bytes& bytes, Visit visit) {
    for (size_t at = 0; at + kRecordSize <= bytes.size(); at += kRecordSize) {
        const std::span<const uint8_t, 64> rec(bytes.data() + at, kRecordSize);
        if (is_trailer(rec) || !visit(rec)) return;
    }
}

namespace {

int32_t find_in(const util::Bytes& bytes, const PieceName& name) {
    int32_t found = 0;
    for_each_entry(bytes, [&](std::span<const uint8_t, 64> rec) {
        if (std::memcmp(rec.data(), name.data(), name.size()) == 0 && entry_state(rec) == kStateValid) found = 1;
        return found == 0;
    });
    return found;
}

}  // namespace

int32_t epn_ctl_find(const AreaField& area, const PieceName& name) {
    util::Bytes bytes;
    // A read that fails midway still answers from what was read.
    read_control(area, bytes);
    return find_in(bytes, name);
}

int32_t epn_ctl_find(const AreaField& area, const PieceName& name, AreaRun& run) {
    if (run.last.load(area)) return find_in(run.last.bytes(), name);
    // Not readable whole: as without the run.
    return epn_ctl_find(area, name);
}

namespace {

constexpr int kCodes = 26 * 26 * 26;

size_t code_index(const FileCode& c) { return static_cast<size_t>((c[0] - 'a') * 676 + (c[1] - 'a') * 26 + (c[2] - 'a')); }

FileCode code_at(size_t i) {
    return {static_cast<char>('a' + i / 676), static_cast<char>('a' + i / 26 % 26), static_cast<char>('a' + i % 26)};
}

// True when `name` could stand, in another case, for a name of the
// area's files: piece.ctl and the piece files, their backups and
// temporary files, the lock file.
bool area_name_in_other_case(const std::string& name) {
    std::string low = name;
    for (char& c : low) c = static_cast<char>(platform::lower_ansi(static_cast<unsigned char>(c)));
    if (low == name) return false;
    return low.rfind("piece", 0) == 0 || low.rfind("teilimp", 0) == 0;
}

}  // namespace

void scan_from_listing(const AreaField& area, const std::vector<platform::FoundName>& found, AreaRun& scan) {
    std::vector<bool> present(kCodes, false);
    const io::AreaDir where = io::area_dir(area);
    bool exact = where.stem.empty() && !where.dir.empty();
    for (const platform::FoundName& n : found) {
        if (area_name_in_other_case(n.name)) exact = false;
        FileCode code;
        if (!n.directory && io::piece_code_of(n.name, where.stem, ".pce", code)) present[code_index(code)] = true;
    }
    if (exact) platform::assume_exact_names(where.dir);
    scan.set_scan(std::move(present), exact);
}

namespace {

// One directory search for the area's piece files.
void make_scan(const AreaField& area, AreaRun& scan) {
    std::vector<platform::FoundName> found;
    platform::find_names(io::area_dir(area).prefix + "*", found);
    scan_from_listing(area, found, scan);
}

// The size of the last piece file of the unbroken sequence from "aaa", or
// 512 when "aaa" has none; the walk ends after "zzz" (the counter would
// wrap to "aaa").
int64_t last_piece_file_size(const AreaField& area, const AreaRun* scan) {
    if (scan != nullptr) {
        const size_t n = scan->unbroken_piece_files();
        if (n == 0) return 512;
        const FileCode last = code_at(n - 1);
        if (const int64_t stored = scan->last.piece_size(last); stored >= 0) return stored;
        const int32_t size = util::filesize(area_path(area, AreaFile::Piece, last));
        return size >= 0 ? size : 512;
    }
    int64_t pceBytes = 512;
    FileCode code = kFirstCode;
    for (;;) {
        const int32_t size = util::filesize(area_path(area, AreaFile::Piece, code));
        if (size < 0) break;
        pceBytes = size;
        if (code == kLastCode) break;
        inc_ccc(code);
    }
    return pceBytes;
}

int32_t space_check(const AreaField& area, int32_t pieceImageLength, AreaRun* scan) {
    const int64_t need = epn_space_needed(area, pieceImageLength, scan);
    // The drive is named by the first character of the area's paths.
    const std::string path = area_path(area, AreaFile::Control);
    const unsigned char first = path.empty() ? 0 : platform::upper_ansi(static_cast<unsigned char>(path[0]));
    const auto drive = static_cast<int16_t>(static_cast<int>(first) - 64);
    return util::dskfrei(drive) > need ? 1 : 0;
}

}  // namespace

AreaRun::~AreaRun() {
    if (exactNames_) platform::assume_exact_names({});
}

void AreaRun::set_scan(std::vector<bool> present, bool exactNames) {
    present_ = std::move(present);
    exactNames_ = exactNames_ || exactNames;
}

void AreaRun::note_piece_file(size_t codeIndex, bool there) {
    if (codeIndex < present_.size()) present_[codeIndex] = there;
}

size_t AreaRun::unbroken_piece_files() const {
    size_t n = 0;
    while (n < present_.size() && present_[n]) ++n;
    return n;
}

void AreaRun::found_earlier_marks(bool finished) {
    if (earlierMarks_ == Marks::Unknown) earlierMarks_ = finished ? Marks::Carried : Marks::Uncertain;
}

void AreaRun::superseded_by_store(const Places& places) {
    superseded_.insert(superseded_.end(), places.begin(), places.end());
}

void AreaRun::marks_carried() {
    earlierMarks_ = Marks::Carried;
    superseded_.clear();
}

void note_piece_file(const AreaField& area, const FileCode& code, AreaRun& scan) {
    if (!scan.scanned() || !ccc_valid(code)) return;
    scan.note_piece_file(code_index(code), platform::exists(area_path(area, AreaFile::Piece, code)));
}

int64_t epn_space_needed(const AreaField& area, int32_t pieceImageLength, AreaRun* scan) {
    if (scan != nullptr && !scan->scanned()) make_scan(area, *scan);
    const int64_t ctlBytes = scan != nullptr && scan->last.control_size() >= 0
                                 ? scan->last.control_size()
                                 : util::filesize(area_path(area, AreaFile::Control));
    const int64_t pceBytes = last_piece_file_size(area, scan);
    return 2 * ctlBytes + 64 + 2 * pceBytes + pieceImageLength;
}

int32_t epn_space_check(const AreaField& area, int32_t pieceImageLength) {
    return space_check(area, pieceImageLength, nullptr);
}

int32_t epn_space_check(const AreaField& area, int32_t pieceImageLength, AreaRun& scan) {
    return space_check(area, pieceImageLength, &scan);
}

int32_t epn_area_clear(const AreaField& area) {
    const std::string ctl = area_path(area, AreaFile::Control);
    const std::string bak = area_path(area, AreaFile::ControlBackup);
    const std::string tmp = io::temp_name(ctl);
    const AreaFiles files = find_area_files(area);

    // Backups and unfinished versions go first: a backup left behind would
    // later be put back over the cleared area.
    // An unfinished compaction too: it would later put its files in place.
    if (compaction_state(area) != CompactionState::None && platform::remove_tree(compaction_dir(area)) != 0) return 0;
    bool done = io::remove_file(bak);
    for (const auto& [code, backup] : files.pieceBackups) done = io::remove_file(backup) && done;
    for (const std::string& temp : files.temps) done = io::remove_file(temp) && done;
    if (!done) return 0;

    if (io::read_only(ctl)) return 0;
    platform::File out = io::create_temp(tmp, ctl);
    if (!out.is_open()) return 0;
    const CtlTrailer trailer = fresh_trailer();
    if (!platform::write_all(out, trailer.raw.data(), trailer.raw.size())) {
        io::abandon_temp(out, tmp);
        return 0;
    }
    if (io::commit_temp(out, tmp, ctl) == io::Commit::Failed) return 0;

    // Every piece file, wherever it stands in the sequence of codes.
    for (const auto& [code, piece] : files.pieces) done = io::remove_file(piece) && done;
    platform::sync_directory(io::dir_of(ctl));
    return done ? 1 : 0;
}

namespace {

// The superseded slots of each piece file, in the order in which the files
// first appear, so that every file is rewritten once for all of its marks.
struct MarkPlan {
    std::vector<std::pair<FileCode, SlotSet>> files;
    std::map<FileCode, size_t> index;

    void add(const FileCode& code, uint8_t slot) {
        auto [it, added] = index.try_emplace(code, files.size());
        if (added) files.push_back({code, SlotSet{}});
        files[it->second].second.slots[slot] = true;
    }
};

// True when every mark of the plan was carried and the directory flushed.
bool carry_marks(const AreaField& area, const MarkPlan& plan) {
    bool changed = false;
    bool done = true;
    for (const auto& [code, set] : plan.files) {
        bool rewritten = false;
        if (mark_slots(area, code, set, kStateSuperseded, rewritten) != 0) {
            done = false;
            break;
        }
        changed = changed || rewritten;
    }
    // One flush of the directory for every file rewritten.
    if (changed && platform::sync_directory(io::dir_of(area_path(area, AreaFile::Control))) != platform::kErrNone)
        done = false;
    return done;
}

// The places of the superseded entries of a control file's bytes. False
// when a slot outside a piece file ends the walk, as its refusal would.
bool plan_every_mark(const util::Bytes& bytes, MarkPlan& plan) {
    bool whole = true;
    for_each_entry(bytes, [&](std::span<const uint8_t, 64> rec) {
        if (entry_state(rec) != kStateSuperseded) return true;
        const CtlEntry e = decode_entry(rec);
        if (e.slot > 7) return whole = false;
        plan.add(e.fileCode, e.slot);
        return true;
    });
    return whole;
}

// Valid entries first, then only superseded ones: the state a finished
// run leaves.
bool in_finished_state(const util::Bytes& bytes) {
    bool finished = true;
    bool supersededSeen = false;
    for_each_entry(bytes, [&](std::span<const uint8_t, 64> rec) {
        const int16_t state = entry_state(rec);
        if (state == kStateValid ? supersededSeen : state != kStateSuperseded) finished = false;
        if (state == kStateSuperseded) supersededSeen = true;
        return finished;
    });
    return finished;
}

}  // namespace

void epn_mark_superseded(const AreaField& area) {
    // A read that fails midway still marks the entries read before it.
    util::Bytes bytes;
    read_control(area, bytes);
    MarkPlan plan;
    plan_every_mark(bytes, plan);
    bytes = {};
    carry_marks(area, plan);
}

bool mark_replaced_early(const AreaField& area, AreaRun& run, const PieceName& name, EarlyMarks& early) {
    if (!run.last.load(area)) return false;
    const util::Bytes& control = run.last.bytes();
    // The valid entries of the name (those the store will supersede) and
    // the piece file that the store will write to.
    MarkPlan plan;
    FileCode next{};
    bool trailer = false;
    for (size_t at = 0; at + kRecordSize <= control.size(); at += kRecordSize) {
        const std::span<const uint8_t, 64> rec(control.data() + at, kRecordSize);
        if (is_trailer(rec)) {
            CtlTrailer t;
            std::copy(rec.begin(), rec.end(), t.raw.begin());
            next = trailer_next_code(t);
            trailer = true;
            break;
        }
        if (std::memcmp(rec.data(), name.data(), name.size()) != 0 || entry_state(rec) != kStateValid) continue;
        const CtlEntry e = decode_entry(rec);
        if (e.slot > 7) return false;
        plan.add(e.fileCode, e.slot);
    }
    if (!trailer) return false;
    // The piece file that takes the new image keeps one backup of its own.
    for (const auto& [code, set] : plan.files)
        if (code == next) return false;
    bool rewritten = false;
    for (const auto& [code, set] : plan.files) {
        bool one = false;
        const std::string piece = area_path(area, AreaFile::Piece, code);
        const std::string backup = area_path(area, AreaFile::PieceBackup, code);
        if (mark_slots(area, code, set, kStateSuperseded, one, true) != 0) {
            undo_early_marks(early);
            return false;
        }
        if (one) early.push_back({piece, backup});
        rewritten = rewritten || one;
    }
    if (rewritten) platform::sync_directory(io::dir_of(area_path(area, AreaFile::Control)));
    return true;
}

void undo_early_marks(EarlyMarks& early) {
    for (const auto& [piece, backup] : early) io::restore_from(piece, backup);
    early.clear();
}

void drop_early_backups(EarlyMarks& early) {
    for (const auto& [piece, backup] : early) io::drop_backup(piece, backup, false);
    early.clear();
}

bool carry_marks_before_last(const AreaField& area, AreaRun& run) {
    MarkPlan plan;
    if (run.earlier_marks() == AreaRun::Marks::Carried) {
        for (const auto& [code, slot] : run.superseded()) {
            if (slot > 7) return false;
            plan.add(code, slot);
        }
    } else {
        // The control file as the store will find it (kept for it).
        if (!run.last.load(area)) return false;
        if (run.earlier_marks() == AreaRun::Marks::Unknown && in_finished_state(run.last.bytes())) {
            run.found_earlier_marks(true);  // no store of this run yet: nothing to carry
        } else if (!plan_every_mark(run.last.bytes(), plan)) {
            return false;
        }
    }
    if (!carry_marks(area, plan)) return false;
    run.marks_carried();
    return true;
}

void epn_mark_superseded(const AreaField& area, const AreaRun& run) {
    if (run.earlier_marks() != AreaRun::Marks::Carried) {
        epn_mark_superseded(area);
        return;
    }
    MarkPlan plan;
    for (const auto& [code, slot] : run.superseded()) {
        if (slot > 7) break;
        plan.add(code, slot);
    }
    carry_marks(area, plan);
}

int32_t epn_pce_mark(const AreaField& area, const FileCode& fileCode, int32_t slot, int16_t state) {
    if (slot < 1 || slot > 8) return 1;
    SlotSet set;
    set.slots[static_cast<size_t>(slot - 1)] = true;
    bool rewritten = false;
    const int32_t result = mark_slots(area, fileCode, set, state, rewritten);
    if (rewritten) platform::sync_directory(io::dir_of(area_path(area, AreaFile::Piece, fileCode)));
    return result;
}

namespace {

int32_t mark_slots(const AreaField& area, const FileCode& fileCode, const SlotSet& set, int16_t state,
                   bool& rewritten, bool keepBackup) {
    if (!ccc_valid(fileCode)) return 2;
    SafeRewrite rw(area_path(area, AreaFile::Piece, fileCode), area_path(area, AreaFile::PieceBackup, fileCode));
    if (already_in_state(rw.path, set, state)) return 0;

    // A missing piece file is nothing to mark.
    if (!rw.begin()) return 0;
    if (!rw.open_old()) return 3;
    // The piece file is replaced only by the commit: every failure before
    // it leaves the file as it was.
    io::ChunkReader reader(rw.in);
    std::array<uint8_t, kPceHeaderSize> header{};
    PceDirectory dir{};
    if (!read_directory(reader, header, dir)) return 5;
    if (in_state(dir, set, state)) return 0;
    if (!rw.open_new()) return 4;

    for (size_t k = 0; k < 8; ++k)
        if (set.slots[k]) dir_set_state(dir[k], state);
    int64_t images = 0;
    for (const PceDirEntry& d : dir) {
        if (dir_length(d) == 0 || dir_offset(d) == 0) break;
        if (dir_length(d) < 0) return 5;
        images += dir_length(d);
    }
    std::array<uint8_t, kPceDirSize> dirBytes{};
    encode_directory(dir, dirBytes);
    if (!platform::write_all(rw.out, header.data(), header.size()) ||
        !platform::write_all(rw.out, dirBytes.data(), dirBytes.size()))
        return 5;
    if (io::copy_bytes(reader, rw.out, images) != io::CopyResult::Ok) return 5;
    rewritten = true;
    if (!rw.commit()) return 5;
    if (!keepBackup) rw.drop_backup(false);
    return 0;
}

}  // namespace

}  // namespace teilimp::writer
