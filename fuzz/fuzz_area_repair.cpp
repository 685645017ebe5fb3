// Fuzz target: teilarea repair on an area built from arbitrary bytes (the
// control file and two piece files, layout in scratch_area.h). Repair never
// crashes; when it ends with 0 check finds the area sound, when it ends
// with 1 it has named what it could not mend (check agrees that problems
// remain). No piece whose directory entry says valid and whose image
// decodes is lost: its bytes stay in their slot under their name, and after
// a repair that ended with 0 a valid control entry names it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "area_tool/tool.h"
#include "scratch_area.h"
#include "writer/records.h"
#include "writer/writer.h"

namespace {

using namespace teilimp;

void check(bool condition) {
    if (!condition) std::abort();
}

struct SoundPiece {
    writer::FileCode code;
    uint8_t slot = 0;
    writer::PieceName name;
    std::vector<uint8_t> image;
};

std::vector<SoundPiece> sound_pieces(const area_tool::AreaModel& m) {
    std::vector<SoundPiece> pieces;
    reader::PieceModel decoded;
    reader::ImageFault fault;
    for (const auto& [code, file] : m.files) {
        for (uint8_t s = 0; s < file.layout.usedSlots; ++s) {
            const writer::PceDirEntry& d = file.layout.dir[s];
            if (writer::dir_state(d) != writer::kStateValid) continue;
            const auto image = file.image(s);
            if (!image || !reader::decode_piece(*image, nullptr, decoded, fault)) continue;
            pieces.push_back({code, s, writer::dir_name(d), {image->begin(), image->end()}});
        }
    }
    return pieces;
}

bool named_valid(const area_tool::AreaModel& m, const writer::PieceName& name) {
    for (const area_tool::Entry& e : m.entries)
        if (e.fields.entryState == writer::kStateValid && e.fields.pieceName == name) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_area::init("area_repair", true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz_area::Scratch scratch(data, size);
    if (!scratch.filled) return 0;
    const writer::AreaField area = writer::make_area("F:F");
    area_tool::AreaModel model;
    check(area_tool::load_area(area, model));
    const std::vector<SoundPiece> before = sound_pieces(model);

    const int status = area_tool::run_repair(area);
    check(status == area_tool::kExitOk || status == area_tool::kExitProblems ||
          status == area_tool::kExitUnreadable);

    check(area_tool::load_area(area, model));
    const area_tool::Findings after = area_tool::find_problems(model);
    if (status == area_tool::kExitOk) check(after.problems.empty());
    if (status == area_tool::kExitProblems) check(!after.problems.empty());
    for (const SoundPiece& p : before) {
        const area_tool::PieceFile* file = model.file(p.code);
        check(file != nullptr);
        const auto image = file->image(p.slot);
        check(image && std::vector<uint8_t>(image->begin(), image->end()) == p.image);
        check(writer::dir_name(file->layout.dir[p.slot]) == p.name);
        if (status == area_tool::kExitOk) check(named_valid(model, p.name));
    }
    return 0;
}
