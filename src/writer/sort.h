// Sorting the control file: valid entries first, by piece name in natural
// order (embedded numbers by value), superseded entries behind them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "util/bytes.h"
#include "writer/records.h"
#include "writer/statuses.h"
#include "writer/writer.h"

namespace teilimp::writer {

// Sorts piece.ctl; see SortStatus for what can fail.
SortStatus epn_ctl_sort(const AreaField& area);
// The same at the end of a run: the control file's bytes that the run keeps
// are sorted when the file is still as the run left it, instead of being
// read again. The run lets go of them.
SortStatus epn_ctl_sort(const AreaField& area, AreaRun& run);

// Writes the control file held in `bytes` (entries, then the trailer) to
// `out` as the sort leaves it: the bytes epn_ctl_sort would put in its
// place. `bytes` is changed on the way (entries exchanged, what follows
// the trailer dropped). Ok, NoMemory, Unreadable (no trailer) or
// NotWritten.
SortStatus write_control_sorted(platform::File& out, util::Bytes& bytes);

// Sorts `count` records of `recordSize` bytes in place by bytes
// keyStart..keyEnd (1-based) with naturalLess.
void c4sort(void* records, int16_t recordSize, int16_t count, int16_t keyStart, int16_t keyEnd);
// 1 if key a sorts before key b (n bytes each).
int32_t naturalLess(const char* a, const char* b, int32_t n);

namespace test {
// The number of records the sort's array is made for (1000 at the start of
// a run, 2000 more per control file that didn't fit), and its reset.
int32_t sort_capacity();
void reset_sort_capacity();
// The record sort behind c4sort (naturalLess on bytes keyStart..keyEnd) for
// any number of records: what the control file's order is checked against.
void record_sort(void* records, int32_t recordSize, int32_t count, int32_t keyStart, int32_t keyEnd);
// The three-way natural comparison of two 20-byte names that the sort uses
// where it can (negative, 0, positive).
int32_t natural_compare(const char* a, const char* b);
}  // namespace test

}  // namespace teilimp::writer
