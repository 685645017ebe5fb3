// Feeds arbitrary bytes to the RUL reader: besides the sanitizers' checks,
// what it keeps is bounded by the input, and reading is repeatable.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "rul/rul_reader.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace teilimp::rul;
    const std::span<const uint8_t> bytes(data, size);
    static RuleTable table;
    static RuleTable again;
    const ReadStatus status = parse_rul(bytes, table);
    check(status == ReadStatus::Ok || status == ReadStatus::NoSizeList);
    check(status == ReadStatus::Ok ? !table.sizes.empty() : table.sizes.empty());
    size_t kept = table.sizes.size() + table.sampleSize.size();
    for (const Rule& r : table.rules) {
        kept += 1 + r.deltas.size();
        const Rule* found = table.find(r.number);
        check(!found || found->deltas.size() == table.sizes.size());
    }
    check(kept <= size);
    const int32_t sample = table.sample_index();
    check(sample < static_cast<int32_t>(table.sizes.size()));
    check(parse_rul(bytes, again) == status && again.rules.size() == table.rules.size() &&
          again.sizes == table.sizes);
    return 0;
}
