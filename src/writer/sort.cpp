// Sorting the control file: the valid entries are gathered at the front and
// ordered by piece name, the superseded ones stay behind them, the trailer
// is kept as it was. The sorted file is written beside piece.ctl and put in
// its place by one rename, so that a failed write never loses entries.

#include "writer/sort.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "util/memvec.h"
#include "util/text.h"
#include "writer/area_io.h"
#include "writer/area_path.h"

namespace teilimp::writer {

namespace {

constexpr int32_t kMaxRecordSize = 1024;
constexpr int32_t kNameLength = 20;  // the sort key: the piece name, bytes 1..20
constexpr int32_t kInitialCapacity = 1000;
constexpr int32_t kCapacityStep = 2000;

// Records the array is made for. It grows when a control file does not fit
// and keeps the grown value for the rest of the run.
int32_t g_sortCapacity = kInitialCapacity;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ------------------------------------------------------------ c4sort

// Pending frames of the explicit-stack quicksort: the start of the right
// range and the end of the whole range, negated once the right range has
// been entered (then nothing of that frame is left to sort).
struct SortStack {
    std::vector<int32_t> rightStart;
    std::vector<int32_t> rangeEnd;
    size_t depth = 0;

    bool push(int32_t i, int32_t hi) {
        if (depth >= rightStart.size()) return false;
        rightStart[depth] = i;
        rangeEnd[depth] = hi;
        ++depth;
        return true;
    }
};

struct SortArgs {
    unsigned char* base;   // record 1 starts here
    int32_t size;
    int32_t count;
    int32_t keyOffset;     // 0-based offset of the key in a record
    int32_t keyLength;     // may be 0 or negative: an empty key
    bool bytewise = false; // keys compared in plain byte order, not naturalLess
};

unsigned char* record(const SortArgs& a, int32_t k) {
    return a.base + static_cast<size_t>(k - 1) * static_cast<size_t>(a.size);
}

bool key_less(const SortArgs& a, const unsigned char* x, const unsigned char* y) {
    if (a.bytewise) return std::memcmp(x + a.keyOffset, y + a.keyOffset, static_cast<size_t>(a.keyLength)) < 0;
    return naturalLess(reinterpret_cast<const char*>(x + a.keyOffset),
                       reinterpret_cast<const char*>(y + a.keyOffset), a.keyLength) != 0;
}

// Partitions lo..hi around a copy of its middle record. On return i is the
// start of the right part and j the end of the left part. The scans are
// bounded by the whole array (1..count), so no comparison ever reads
// outside it.
void partition(const SortArgs& a, unsigned char* pivot, int32_t lo, int32_t hi, int32_t& i,
               int32_t& j) {
    const int32_t mid = static_cast<int32_t>((static_cast<int64_t>(lo) + hi) / 2);
    std::memcpy(pivot, record(a, mid), static_cast<size_t>(a.size));
    i = lo;
    j = hi;
    do {
        while (key_less(a, record(a, i), pivot) && i < a.count) ++i;
        while (key_less(a, pivot, record(a, j)) && j > 1) --j;
        if (j < i) break;
        if (j > i) util::taupp(a.size, record(a, i), record(a, j));
        ++i;
        --j;
    } while (j >= i);
}

void quicksort(const SortArgs& a, SortStack& stack, unsigned char* pivot) {
    int32_t lo = 1;
    int32_t hi = a.count;
    for (;;) {
        int32_t i = 0;
        int32_t j = 0;
        partition(a, pivot, lo, hi, i, j);
        if (lo < j) {
            // Left part first; the frame remembers the right part.
            if (!stack.push(i, hi)) {
                util::liberr("c4sort-6");
                return;
            }
            hi = j;
            continue;
        }
        if (i < hi) {
            if (!stack.push(i, -hi)) {
                util::liberr("c4sort-70");
                return;
            }
            lo = i;
            continue;
        }
        // Both parts done: go back to the nearest frame whose right part
        // is still to be sorted.
        for (;;) {
            if (stack.depth == 0) return;
            --stack.depth;
            const int32_t start = stack.rightStart[stack.depth];
            const int32_t end = stack.rangeEnd[stack.depth];
            if (end < 0 || start >= end) continue;
            if (!stack.push(start, -end)) {
                util::liberr("c4sort-70");
                return;
            }
            lo = start;
            hi = end;
            break;
        }
    }
}

// The record sort behind c4sort, for any number of records.
void sort_records(void* records, int32_t recordSize, int32_t count, int32_t keyStart, int32_t keyEnd,
                  bool bytewise = false) {
    if (count < 2 || recordSize < 1) return;
    if (recordSize > kMaxRecordSize || keyStart > kMaxRecordSize || keyEnd > kMaxRecordSize ||
        keyStart < 1 || keyEnd < 1 || keyStart > recordSize || keyEnd > recordSize) {
        // A key outside the record would be read from the neighbouring
        // record or beyond the array.
        util::liberr("c4sort-3");
        return;
    }
    SortStack stack;
    try {
        stack.rightStart.resize(2 * static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        util::liberr("c4sort-1");
        return;
    }
    try {
        stack.rangeEnd.resize(2 * static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        util::liberr("c4sort-2");
        return;
    }
    unsigned char pivot[kMaxRecordSize];
    const SortArgs args{static_cast<unsigned char*>(records), recordSize, count, keyStart - 1,
                        keyEnd - keyStart + 1, bytewise};
    quicksort(args, stack, pivot);
}

// ------------------------------------------------------ epn_ctl_sort

int16_t entry_state(const uint8_t* rec) { return get_i16(rec + 24); }

// Reads the control file into `records` (entries, then the trailer apart):
// the whole file in large blocks, once, and the file is closed before
// anything else happens. The array is made for `g_sortCapacity` records and
// that capacity grows in steps until the file's entries and its trailer
// fit. `trailing`: bytes followed the trailer. 0 done, 2 no memory, 3 a
// read failed before the trailer.
int32_t read_control(const std::string& path, std::vector<uint8_t>& records, int32_t& n,
                     CtlTrailer& trailer, bool& trailing) {
    std::vector<uint8_t> bytes;
    {
        platform::File f = platform::open_file(path, platform::OpenMode::Read);
        if (!f.is_open()) return 3;
        if (!io::read_all(f, bytes)) return 3;
    }
    const size_t records_in_file = bytes.size() / kRecordSize;
    size_t at = 0;
    while (at < records_in_file &&
           !is_trailer(std::span<const uint8_t, 64>(bytes.data() + at * kRecordSize, kRecordSize)))
        ++at;
    if (at == records_in_file) return 3;  // no trailer: the file ends early
    n = static_cast<int32_t>(at);
    while (g_sortCapacity < n + 1) g_sortCapacity += kCapacityStep;
    std::memcpy(trailer.raw.data(), bytes.data() + at * kRecordSize, kRecordSize);
    trailing = bytes.size() > (at + 1) * kRecordSize;
    // The entries stay where they were read; what follows them is dropped.
    bytes.resize(at * kRecordSize);
    records = std::move(bytes);
    return 0;
}

// How many entries from the front are sorted: the trailer's stored count.
// The count is kept in 16 bits; beyond 32767 entries its low 16 bits are
// what is stored, and the number of valid entries that agrees with them is
// the one nearest to a recount. A count that doesn't fit the file (a
// damaged trailer) is held to it.
int32_t entries_to_sort(const uint8_t* base, int32_t n, const CtlTrailer& trailer) {
    int64_t v = trailer_valid_count(trailer);
    if (n > 32767) {
        int64_t recount = 0;
        for (int32_t k = 0; k < n; ++k)
            if (entry_state(base + static_cast<size_t>(k) * kRecordSize) == kStateValid) ++recount;
        const int64_t low = static_cast<uint16_t>(v);
        v = low + 65536 * ((recount - low + 32768) / 65536);
    }
    if (v < 0) v = 0;
    if (v > n) v = n;
    return static_cast<int32_t>(v);
}

// Moves superseded entries out of the first v positions, exchanging each
// with a valid entry taken from the back. True when an entry moved.
bool compact(uint8_t* base, int32_t n, int32_t v) {
    bool moved = false;
    for (int32_t j = 1; j <= v; ++j) {
        uint8_t* front = base + static_cast<size_t>(j - 1) * kRecordSize;
        if (entry_state(front) != kStateSuperseded) continue;
        int32_t k = n;
        while (k > v && entry_state(base + static_cast<size_t>(k - 1) * kRecordSize) != kStateValid) --k;
        if (k <= v) break;
        util::taupp(kRecordSize, front, base + static_cast<size_t>(k - 1) * kRecordSize);
        moved = true;
    }
    return moved;
}

// The key of a 20-byte piece name whose plain byte order is the natural
// order of the names: every digit run that naturalLess would open (one
// that does not begin at the last position) becomes '0', its length, its
// digits. Against any other character a run sorts as its first digit
// does (digits are contiguous in byte order), against another run by
// length first and digits second; other characters stay as they are.
// Twenty characters give at most 40 key bytes ("1a1a..."); the rest is 0.
constexpr int kNaturalKeySize = 40;

void natural_key(const uint8_t* name, uint8_t* key) {
    constexpr int n = kNameLength;
    int o = 0;
    int p = 0;
    while (p < n) {
        if (is_digit(static_cast<char>(name[p])) && p < n - 1) {
            int q = p;
            while (q < n && is_digit(static_cast<char>(name[q]))) ++q;
            key[o++] = '0';
            key[o++] = static_cast<uint8_t>(q - p);
            while (p < q) key[o++] = name[p++];
        } else {
            key[o++] = name[p++];
        }
    }
    std::memset(key + o, 0, static_cast<size_t>(kNaturalKeySize - o));
}

// The order of entries 1..v as c4sort gives it, on their natural keys:
// from[k] is the entry that goes to position k (0-based).
//
// When no two keys are equal, only one order is sorted, and the quicksort
// ends in exactly that one, as any sort does. It is then found by merging
// the runs of entries that are already in order: an area sorted before
// the run, with the run's few entries among and behind its own, is a
// handful of runs and costs a few passes. Two equal keys (equal names)
// leave the order of their entries to the quicksort's course, so then the
// quicksort itself is followed: the same algorithm on short records of key
// and index, every comparison with the same outcome as naturalLess on the
// entries, so the same order also for equal names.
std::vector<int32_t> sorted_order(const uint8_t* base, int32_t v) {
    std::vector<int32_t> from(static_cast<size_t>(v));
    std::iota(from.begin(), from.end(), 0);
    if (v < 2) return from;
    {
        // Every byte of every key is written: the array needs no clearing.
        const std::unique_ptr<uint8_t[]> keys(new uint8_t[static_cast<size_t>(v) * kNaturalKeySize]);
        for (int32_t k = 0; k < v; ++k)
            natural_key(base + static_cast<size_t>(k) * kRecordSize, keys.get() + static_cast<size_t>(k) * kNaturalKeySize);
        const auto compare = [&keys](int32_t x, int32_t y) {
            return std::memcmp(keys.get() + static_cast<size_t>(x) * kNaturalKeySize,
                               keys.get() + static_cast<size_t>(y) * kNaturalKeySize, kNaturalKeySize);
        };
        const auto less = [&compare](int32_t x, int32_t y) { return compare(x, y) < 0; };
        // Where each run in order begins, and its end.
        std::vector<int32_t> runs{0};
        bool unique = true;
        for (int32_t k = 1; k < v && unique; ++k) {
            const int c = compare(k - 1, k);
            if (c == 0) unique = false;
            if (c > 0) runs.push_back(k);
        }
        runs.push_back(v);
        std::vector<int32_t> other(from.size());
        while (unique && runs.size() > 2) {
            // Neighbouring runs merged pairwise; an odd last run is taken over.
            std::vector<int32_t> merged{0};
            size_t r = 0;
            for (; r + 2 < runs.size(); r += 2) {
                std::merge(from.begin() + runs[r], from.begin() + runs[r + 1], from.begin() + runs[r + 1],
                           from.begin() + runs[r + 2], other.begin() + runs[r], less);
                merged.push_back(runs[r + 2]);
            }
            if (r + 1 < runs.size()) {
                std::copy(from.begin() + runs[r], from.begin() + runs[r + 1], other.begin() + runs[r]);
                merged.push_back(runs[r + 1]);
            }
            from.swap(other);
            runs.swap(merged);
        }
        // Equal keys in different runs meet only in the merged order.
        for (int32_t k = 1; k < v && unique; ++k)
            if (compare(from[static_cast<size_t>(k - 1)], from[static_cast<size_t>(k)]) == 0) unique = false;
        if (unique) return from;
    }

    constexpr int kKeyed = kNaturalKeySize + 4;  // key, then the entry's index
    std::vector<uint8_t> keyed(static_cast<size_t>(v) * kKeyed);
    for (int32_t k = 0; k < v; ++k) {
        uint8_t* r = keyed.data() + static_cast<size_t>(k) * kKeyed;
        natural_key(base + static_cast<size_t>(k) * kRecordSize, r);
        std::memcpy(r + kNaturalKeySize, &k, 4);
    }
    sort_records(keyed.data(), kKeyed, v, 1, kNaturalKeySize, true);
    for (int32_t k = 0; k < v; ++k)
        std::memcpy(&from[static_cast<size_t>(k)], keyed.data() + static_cast<size_t>(k) * kKeyed + kNaturalKeySize, 4);
    return from;
}

bool is_identity(const std::vector<int32_t>& from) {
    for (size_t k = 0; k < from.size(); ++k)
        if (from[k] != static_cast<int32_t>(k)) return false;
    return true;
}

// Writes entries from[0], from[1], ... (the sorted ones), then the entries
// from position v on and the trailer to a file beside piece.ctl, and
// renames it over piece.ctl (the temporary name is the one that recovery
// clears up after a run that died). The entries are gathered in order
// into a buffer of their own, block by block, rather than moved about in
// place first. false leaves piece.ctl as it was.
bool write_sorted(const std::string& ctlPath, const uint8_t* base, int32_t n, const std::vector<int32_t>& from,
                  const CtlTrailer& trailer) {
    constexpr size_t kBlock = 16384;  // entries per write: 1 MiB
    std::vector<uint8_t> block(std::min(kBlock, static_cast<size_t>(n) + 1) * kRecordSize);
    const std::string tmpPath = io::temp_name(ctlPath);
    platform::File out = io::create_temp(tmpPath, ctlPath);
    if (!out.is_open()) return false;
    size_t filled = 0;
    bool written = true;
    const auto put = [&](const uint8_t* rec) {
        std::memcpy(block.data() + filled * kRecordSize, rec, kRecordSize);
        if (++filled * kRecordSize == block.size()) {
            written = written && platform::write_all(out, block.data(), block.size());
            filled = 0;
        }
    };
    for (int32_t k = 0; k < n && written; ++k) {
        const int32_t src = k < static_cast<int32_t>(from.size()) ? from[static_cast<size_t>(k)] : k;
        put(base + static_cast<size_t>(src) * kRecordSize);
    }
    put(trailer.raw.data());
    if (!written || (filled > 0 && !platform::write_all(out, block.data(), filled * kRecordSize))) {
        io::abandon_temp(out, tmpPath);
        return false;
    }
    // The sorted file is flushed before it takes piece.ctl's name, so that
    // name always holds a whole file. The directory is not flushed: should
    // the rename be lost with the power, the entries stand unsorted as the
    // run's last update left them, which the next run's sort puts right
    // (and the temporary file is cleared by its recovery).
    return io::commit_temp(out, tmpPath, ctlPath, false) != io::Commit::Failed;
}

}  // namespace

int32_t naturalLess(const char* a, const char* b, int32_t n) {
    int32_t r = 0;
    for (int32_t p = 0; p < n; ++p) {
        if (a[p] != b[p]) {
            r = static_cast<unsigned char>(a[p]) < static_cast<unsigned char>(b[p]) ? 1 : 0;
            break;
        }
    }
    int32_t s = -1;  // start of the open digit run, -1: none
    for (int32_t p = 0; p < n; ++p) {
        const bool da = is_digit(a[p]);
        const bool db = is_digit(b[p]);
        if (s < 0) {
            if (da && db && p < n - 1) {
                s = p;
            } else if (a[p] != b[p]) {
                return r;
            }
            continue;
        }
        if (da && db) continue;
        if (da) return 0;  // a's number is longer
        if (db) return 1;  // b's number is longer
        if (std::memcmp(a + s, b + s, static_cast<size_t>(p - s + 1)) != 0) return r;
        s = -1;
    }
    return r;
}

void c4sort(void* records, int16_t recordSize, int16_t count, int16_t keyStart, int16_t keyEnd) {
    sort_records(records, recordSize, count, keyStart, keyEnd);
}

int32_t epn_ctl_sort(const AreaField& area) {
    const std::string ctlPath = area_path(area, AreaFile::Control);
    {
        // The control file must be there and writable: the sorted file
        // takes its place.
        platform::File f = platform::open_file(ctlPath, platform::OpenMode::ReadWrite);
        if (!f.is_open()) return 1;
    }
    std::vector<uint8_t> records;
    CtlTrailer trailer;
    int32_t n = 0;
    bool trailing = false;
    try {
        const int32_t rc = read_control(ctlPath, records, n, trailer, trailing);
        if (rc != 0) return rc;
        const int32_t v = entries_to_sort(records.data(), n, trailer);
        const bool compacted = compact(records.data(), n, v);
        const std::vector<int32_t> order = sorted_order(records.data(), v);
        // A control file that is in order already is left as it is: the
        // sorted file would be the same bytes (what follows a trailer is
        // dropped).
        if (!compacted && is_identity(order) && !trailing) return 0;
        return write_sorted(ctlPath, records.data(), n, order, trailer) ? 0 : 4;
    } catch (const std::bad_alloc&) {
        return 2;
    }
}

namespace test {
int32_t sort_capacity() { return g_sortCapacity; }
void reset_sort_capacity() { g_sortCapacity = kInitialCapacity; }
void record_sort(void* records, int32_t recordSize, int32_t count, int32_t keyStart, int32_t keyEnd) {
    sort_records(records, recordSize, count, keyStart, keyEnd);
}
}  // namespace test

}  // namespace teilimp::writer
