// teilarea compact: under the area's lock, drops every superseded entry
// and its image and packs the other pieces into piece files from "aaa" on,
// byte for byte as they were (names, states, stamps), the control file
// sorted as at the end of an import. The new files are written beside the
// area and put in place through the writer's compaction steps, so that a
// compaction cut off anywhere is finished or undone by the next repair or
// compact.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "area_tool/output.h"
#include "area_tool/tool.h"
#include "platform/platform.h"
#include "writer/area_io.h"
#include "writer/area_path.h"
#include "writer/compaction.h"
#include "writer/sort.h"
#include "writer/writer.h"

namespace teilimp::area_tool {

namespace {

using platform::console_line;

constexpr size_t kSlots = 8;

// Writes a new file into the compaction's directory, flushed.
bool write_staged(const AreaModel& m, const std::string& name, const util::Bytes& bytes) {
    const std::string path = writer::compaction_file(m.area, name);
    platform::File f = platform::open_file(path, platform::OpenMode::CreateNew);
    if (!f.is_open()) return false;
    platform::copy_access(m.ctlPath, f);
    const bool ok = platform::write_all(f, bytes.data(), bytes.size()) && platform::flush_file(f);
    return platform::close_file(f) && ok;
}

// The entries that stay, in the order of the new control file: valid ones
// sorted by name, then those in other states as they stood.
std::vector<const Entry*> kept_entries(const AreaModel& m) {
    std::vector<const Entry*> valid, other;
    for (const Entry& e : m.entries) {
        if (e.fields.entryState == writer::kStateSuperseded) continue;
        (e.fields.entryState == writer::kStateValid ? valid : other).push_back(&e);
    }
    std::sort(valid.begin(), valid.end(), [](const Entry* a, const Entry* b) {
        return writer::naturalLess(a->fields.pieceName.data(), b->fields.pieceName.data(), 20) != 0;
    });
    valid.insert(valid.end(), other.begin(), other.end());
    return valid;
}

// One new piece file of up to eight of the kept entries; their control
// records get the new places.
bool stage_piece_file(const AreaModel& m, const FileCode& code, std::span<const Entry* const> group,
                      util::Bytes& ctl, size_t firstRecord) {
    const PieceFile* first = m.file(group.front()->fields.fileCode);
    util::Bytes bytes(first->layout.header.begin(), first->layout.header.end());
    bytes.resize(writer::kPceDataStart);
    writer::PceDirectory dir{};
    int64_t offset = writer::kPceDataStart;
    for (size_t s = 0; s < group.size(); ++s) {
        const Entry& e = *group[s];
        const PieceFile* file = m.file(e.fields.fileCode);
        const auto image = file->image(e.fields.slot);
        dir[s] = file->layout.dir[e.fields.slot];
        writer::dir_set_offset(dir[s], static_cast<int32_t>(offset));
        bytes.insert(bytes.end(), image->begin(), image->end());
        offset += static_cast<int64_t>(image->size());
        uint8_t* rec = ctl.data() + (firstRecord + s) * writer::kRecordSize;
        std::copy_n(code.begin(), 3, rec + 20);
        rec[23] = static_cast<uint8_t>(s);
    }
    if (group.size() < kSlots) writer::dir_set_offset(dir[group.size()], static_cast<int32_t>(offset));
    std::array<uint8_t, writer::kPceDirSize> dirBytes{};
    writer::encode_directory(dir, dirBytes);
    std::copy(dirBytes.begin(), dirBytes.end(), bytes.begin() + writer::kPceHeaderSize);
    return write_staged(m, piece_file_name(code), bytes);
}

// The new files, complete in the compaction's directory. Their count of
// piece files in `files`.
bool stage(const AreaModel& m, const std::vector<const Entry*>& kept, size_t& files) {
    if (platform::make_directory(writer::compaction_dir(m.area)) != 0) return false;
    util::Bytes ctl((kept.size() + 1) * writer::kRecordSize);
    for (size_t k = 0; k < kept.size(); ++k)
        std::copy_n(m.ctlBytes.begin() + kept[k]->record * writer::kRecordSize, writer::kRecordSize,
                    ctl.begin() + static_cast<std::ptrdiff_t>(k * writer::kRecordSize));
    FileCode code{'a', 'a', 'a'};
    files = 0;
    for (size_t k = 0; k < kept.size(); k += kSlots, writer::inc_ccc(code), ++files) {
        const size_t n = std::min(kSlots, kept.size() - k);
        if (!stage_piece_file(m, code, std::span<const Entry* const>(kept.data() + k, n), ctl, k)) return false;
    }
    // The next place right after the last piece.
    FileCode next{'a', 'a', 'a'};
    for (size_t k = 0; k < kept.size() / kSlots; ++k) writer::inc_ccc(next);
    int64_t valid = 0;
    for (const Entry* e : kept) valid += e->fields.entryState == writer::kStateValid ? 1 : 0;
    writer::CtlTrailer trailer = *m.trailer;
    writer::trailer_set(trailer, next, static_cast<uint8_t>(kept.size() % kSlots),
                        static_cast<int16_t>(static_cast<uint16_t>(valid & 0xFFFF)));
    std::copy(trailer.raw.begin(), trailer.raw.end(), ctl.end() - writer::kRecordSize);
    if (!write_staged(m, "piece.ctl", ctl)) return false;
    return platform::sync_directory(writer::compaction_dir(m.area)) == platform::kErrNone;
}

int not_finished() {
    console_line("Achtung: Verdichtung nicht beendet: teilarea repair aufrufen.");
    return kExitUnreadable;
}

}  // namespace

bool settle_compaction(const writer::AreaField& area) {
    if (writer::compaction_state(area) == writer::CompactionState::None) return true;
    // Without its new control file nothing was built yet, or the finish
    // had put everything in place: what is left goes.
    const bool built = platform::exists(writer::compaction_file(area, "piece.ctl"));
    bool finished = false;
    if (!writer::compaction_settle(area, &finished)) {
        console_line("Achtung: unterbrochene Verdichtung l\x84sst sich nicht aufl\x94sen.");
        return false;
    }
    console_line(finished ? "Unterbrochene Verdichtung zu Ende gef\x81hrt."
                 : built  ? "Unterbrochene Verdichtung r\x81" "ckg\x84ngig gemacht."
                          : "Reste einer unterbrochenen Verdichtung entfernt.");
    return true;
}

int run_compact(const writer::AreaField& area) {
    AreaModel m;
    if (!find_area_dir(area, m)) {
        console_line("Bereich nicht lesbar: Verzeichnis " + console_text(m.dataDir) + " fehlt");
        return kExitUnreadable;
    }
    std::unique_ptr<writer::LockKeeper> lock = lock_for_change(area);
    if (!lock) return kExitUnreadable;
    auto release = [&](int status) -> int {
        if (lock->release()) return status;
        console_line("Achtung: Zugriff auf den Zielbereich verloren.");
        return kExitUnreadable;
    };
    if (!lock_still_held(*lock)) return kExitUnreadable;
    if (!settle_compaction(area)) return release(kExitUnreadable);

    load_area(area, m);
    Findings f = find_problems(m);
    std::erase_if(f.problems, [](const Problem& p) { return p.kind == "lock_fresh"; });
    if (!f.problems.empty()) {
        console_line("Achtung: Bereich nicht in Ordnung: erst teilarea repair aufrufen.");
        return release(kExitUnreadable);
    }
    const std::vector<const Entry*> kept = kept_entries(m);
    const size_t dropped = m.entries.size() - kept.size();
    if (dropped == 0) {
        console_line("Nichts zu verdichten.");
        return release(kExitOk);
    }
    size_t before = 0;
    for (const auto& [code, file] : m.files) before += file.present ? 1 : 0;

    size_t after = 0;
    if (!stage(m, kept, after) || !lock_still_held(*lock) || !writer::compaction_commit(area)) {
        // Nothing of the area has changed: the new files go.
        writer::compaction_settle(area);
        console_line("Achtung: Verdichtung abgebrochen; der Bereich ist unver\x84ndert.");
        return release(kExitUnreadable);
    }
    if (!writer::compaction_settle(area)) return release(not_finished());
    const int status = release(kExitOk);
    if (status != kExitOk) return status;
    console_line("Verdichtet: " + std::to_string(dropped) + " ersetzte Eintr\x84ge entfernt, " + std::to_string(after) +
                 " Teiledateien statt " + std::to_string(before) + ".");
    return kExitOk;
}

}  // namespace teilimp::area_tool
