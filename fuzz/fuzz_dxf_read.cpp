// Feeds arbitrary bytes to the DXF reader: besides the sanitizers' checks,
// every entity's points and text lie within its block's tables, and what
// the reader keeps is bounded by the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "dxf/dxf_reader.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

size_t check_block(const teilimp::dxf::Block& b) {
    using namespace teilimp::dxf;
    size_t points = 0;
    for (const Entity& e : b.entities) {
        check(size_t{e.firstPoint} + e.pointCount <= b.points.size());
        check(size_t{e.textAt} + e.textLength <= b.texts.size());
        if (e.kind == Kind::Line) check(e.pointCount == 2);
        if (e.kind == Kind::Point) check(e.pointCount == 1);
        points += e.pointCount;
    }
    check(points == b.points.size());
    check(b.others.size() <= kMaxOtherKinds);
    return b.entities.size() + b.points.size() + b.texts.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace teilimp::dxf;
    const std::span<const uint8_t> bytes(data, size);
    static Drawing drawing;
    const ReadStatus status = read_dxf(bytes, drawing);
    check(status != ReadStatus::TooLarge && status != ReadStatus::CannotOpen);
    check((status == ReadStatus::NotDxf) == !looks_like_dxf(bytes));
    // Every kept entity, vertex and text byte stands for at least one byte
    // of the input.
    size_t kept = check_block(drawing.entities);
    for (const Block& b : drawing.blocks) kept += check_block(b) + b.name.size();
    check(kept <= size);

    // Odd layers' vertices left out: those polylines lose their points, nothing else changes.
    static Drawing dropped;
    check(read_dxf(bytes, dropped, [](int32_t layer) { return layer % 2 != 0; }) == status);
    check(dropped.blocks.size() == drawing.blocks.size());
    for (size_t i = 0; i <= drawing.blocks.size(); ++i) {
        const bool inBlock = i < drawing.blocks.size();
        const Block &a = inBlock ? drawing.blocks[i] : drawing.entities, &b = inBlock ? dropped.blocks[i] : dropped.entities;
        check(a.entities.size() == b.entities.size() && a.texts == b.texts);
        for (size_t k = 0; k < a.entities.size(); ++k) {
            const Entity &x = a.entities[k], &y = b.entities[k];
            const bool gone = x.kind == Kind::Polyline && x.layer % 2 != 0 && y.pointCount == 0;
            const auto p = a.points_of(x), q = b.points_of(y);
            const auto same = [](Vec u, Vec v) { return u.x == v.x && u.y == v.y; };
            check(x.kind == y.kind && x.layer == y.layer && x.closed == y.closed &&
                  (gone || std::equal(p.begin(), p.end(), q.begin(), q.end(), same)));
        }
    }
    return 0;
}
