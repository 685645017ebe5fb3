// Fuzz target: teilarea check on an area built from arbitrary bytes (the
// control file and two piece files, layout in scratch_area.h). Whatever the
// files hold, check never crashes, always ends with a verdict that agrees
// with its findings (0 sound, 1 problems), in both its outputs, and never
// changes a file of the area. The area is read and checked once; both
// outputs and list's are made from that reading, as run_check and run_list
// make theirs.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "area_tool/tool.h"
#include "platform/platform.h"
#include "scratch_area.h"
#include "writer/writer.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The last line of what was written (names in the lines before it may
// hold any text).
std::string last_line(const std::string& text) {
    const size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) return {};
    const size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
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
    // Every operation that could change a file is counted.
    const int64_t changes = platform::test::file_ops_counted();

    const writer::AreaField area = writer::make_area("F:F");
    area_tool::AreaModel model;
    check(area_tool::load_area(area, model));
    const area_tool::Findings findings = area_tool::find_problems(model);
    const bool sound = findings.problems.empty();
    const int expected = sound ? area_tool::kExitOk : area_tool::kExitProblems;
    for (const area_tool::Problem& p : findings.problems) check(!p.kind.empty() && !p.text.empty());

    std::string& out = fuzz_area::console();
    out.clear();
    check(area_tool::check_report(model, findings, false) == expected);
    const std::string verdict = last_line(out);
    check(verdict.starts_with("Bereich in Ordnung: ") == sound && verdict.ends_with(" Problem(e) gefunden.") == !sound);
    out.clear();
    check(area_tool::check_report(model, findings, true) == expected);
    check(has(out, "\"sound\":true") == sound && has(out, "\"problems\":[]") == sound);
    check(area_tool::list_report(model, true, false) != area_tool::kExitProblems);
    check(platform::test::file_ops_counted() == changes);
    return 0;
}
