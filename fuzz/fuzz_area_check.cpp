// Fuzz target: teilarea check on an area built from arbitrary bytes (the
// control file and two piece files, layout in scratch_area.h). Whatever the
// files hold, check never crashes, always ends with a verdict that agrees
// with its findings (0 sound, 1 problems), in both its outputs, and never
// changes a file of the area.
#include <cstdint>
#include <cstdlib>

#include "area_tool/tool.h"
#include "scratch_area.h"
#include "writer/writer.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_area::init("area_check", true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace teilimp;
    const fuzz_area::Scratch scratch(data, size);
    if (!scratch.filled) return 0;
    const auto before = fuzz_area::snapshot();

    const writer::AreaField area = writer::make_area("F:F");
    area_tool::AreaModel model;
    check(area_tool::load_area(area, model));
    const area_tool::Findings findings = area_tool::find_problems(model);
    const int expected = findings.problems.empty() ? area_tool::kExitOk : area_tool::kExitProblems;
    for (const area_tool::Problem& p : findings.problems) check(!p.kind.empty() && !p.text.empty());

    check(area_tool::run_check(area, false) == expected);
    check(area_tool::run_check(area, true) == expected);
    check(area_tool::run_list(area, true, false) != area_tool::kExitProblems);
    check(fuzz_area::snapshot() == before);
    return 0;
}
