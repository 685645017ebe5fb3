// Fuzz target: the writer on a damaged storage area. The input becomes the
// area's control file and two piece files; then a piece is looked up,
// entered, stored, its backup settled, superseded marks are carried into
// the piece files, the control file is sorted and leftovers are recovered.
// Whatever the files hold, nothing may crash or read or write out of bounds.
// The input's layout: scratch_area.h.
#include <cstdint>
#include <vector>

#include "scratch_area.h"
#include "writer/lock.h"
#include "writer/records.h"
#include "writer/sort.h"
#include "writer/writer.h"

using namespace teilimp;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_area::init("area", false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz_area::Scratch scratch(data, size);
    if (!scratch.filled) return 0;

    const writer::AreaField area = writer::make_area("F:F");
    writer::PieceName name{};
    name[0] = 'P';
    name[1] = '1';
    const std::vector<uint8_t> image(40, 0x5A);

    writer::epn_ctl_find(area, name);
    writer::epn_space_check(area, static_cast<int32_t>(image.size()));
    // As a run ends: the marks, the sort of the bytes the run keeps.
    writer::AreaRun run;
    writer::epn_store_piece(area, name, image, &run);
    writer::epn_mark_superseded(area, run);
    writer::epn_ctl_sort(area, run);
    writer::epn_recover(area);
    return 0;
}
