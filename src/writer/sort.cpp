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
#include "writer/stamped.h"

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

// The control file's bytes taken apart in one pass: the entries stay in
// `bytes`, the trailer is copied out and what follows it dropped; on the
// way the valid entries are counted and the places of the superseded ones
// noted. The sort's array is made for `g_sortCapacity` records and that
// capacity grows in steps until the file's entries and its trailer fit.
struct Control {
    int32_t n = 0;                    // entries before the trailer
    int64_t valid = 0;                // of them, valid
    std::vector<int32_t> superseded;  // places of the superseded ones, in order
    CtlTrailer trailer;
    bool trailing = false;            // bytes followed the trailer
};

// 0 done, 3 no trailer (the file ends early).
SortStatus take_control(util::Bytes& bytes, Control& c) {
    const size_t records_in_file = bytes.size() / kRecordSize;
    size_t at = 0;
    for (; at < records_in_file; ++at) {
        const uint8_t* rec = bytes.data() + at * kRecordSize;
        if (is_trailer(std::span<const uint8_t, 64>(rec, kRecordSize))) break;
        const int16_t state = entry_state(rec);
        if (state == kStateValid) ++c.valid;
        if (state == kStateSuperseded) c.superseded.push_back(static_cast<int32_t>(at));
    }
    if (at == records_in_file) return SortStatus::Unreadable;
    c.n = static_cast<int32_t>(at);
    while (g_sortCapacity < c.n + 1) g_sortCapacity += kCapacityStep;
    std::memcpy(c.trailer.raw.data(), bytes.data() + at * kRecordSize, kRecordSize);
    c.trailing = bytes.size() > (at + 1) * kRecordSize;
    bytes.resize(at * kRecordSize);
    return SortStatus::Ok;
}

// Reads the control file into `records`: the whole file in large blocks,
// once, and the file is closed before anything else happens. 0 done, 3 a
// read failed before the trailer.
SortStatus read_control(const std::string& path, util::Bytes& records) {
    platform::File f = platform::open_file(path, platform::OpenMode::Read);
    if (!f.is_open()) return SortStatus::Unreadable;
    return io::read_all(f, records) ? SortStatus::Ok : SortStatus::Unreadable;
}

// How many entries from the front are sorted: the trailer's stored count.
// The count is kept in 16 bits; beyond 32767 entries its low 16 bits are
// what is stored, and the number of valid entries that agrees with them is
// the one nearest to the count of valid entries. A count that doesn't fit
// the file (a damaged trailer) is held to it.
int32_t entries_to_sort(const Control& c) {
    int64_t v = trailer_valid_count(c.trailer);
    if (c.n > 32767) {
        const int64_t low = static_cast<uint16_t>(v);
        v = low + 65536 * ((c.valid - low + 32768) / 65536);
    }
    if (v < 0) v = 0;
    if (v > c.n) v = c.n;
    return static_cast<int32_t>(v);
}

// Moves superseded entries out of the first v positions, front to back,
// exchanging each with the last valid entry behind position v (which then
// holds the superseded one). True when an entry moved.
bool compact(uint8_t* base, const Control& c, int32_t v) {
    bool moved = false;
    int32_t k = c.n;  // entries from position k on hold no valid one
    for (const int32_t j : c.superseded) {
        if (j >= v) break;
        while (k > v && entry_state(base + static_cast<size_t>(k - 1) * kRecordSize) != kStateValid) --k;
        if (k <= v) break;
        util::taupp(kRecordSize, base + static_cast<size_t>(j) * kRecordSize, base + static_cast<size_t>(k - 1) * kRecordSize);
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

// Three-way comparison of two 20-byte piece names in natural order, the
// order of their natural keys, worked out from the first byte in which
// they differ: what comes before it is the same in both, so only the
// digit run that byte may belong to (the same start in both names) can
// still change the outcome, by its length.
int natural_compare(const uint8_t* a, const uint8_t* b) {
    constexpr int n = kNameLength;
    int p = 0;
    while (p < n && a[p] == b[p]) ++p;
    if (p == n) return 0;
    const bool da = is_digit(static_cast<char>(a[p]));
    const bool db = is_digit(static_cast<char>(b[p]));
    const int bytes = a[p] < b[p] ? -1 : 1;
    if (p > 0 && is_digit(static_cast<char>(a[p - 1]))) {
        // Inside a run that both names opened before p (it began before
        // the last position): the longer number is the greater.
        if (da != db) return da ? 1 : -1;
        if (!da) return bytes;
    } else if (!da || !db || p == n - 1) {
        // A run that only one name begins here sorts as its first digit;
        // none opens in the last position.
        return bytes;
    }
    int ea = p;
    int eb = p;
    while (ea < n && is_digit(static_cast<char>(a[ea]))) ++ea;
    while (eb < n && is_digit(static_cast<char>(b[eb]))) ++eb;
    if (ea != eb) return ea > eb ? 1 : -1;
    return bytes;
}

const uint8_t* name_of(const uint8_t* base, int32_t k) { return base + static_cast<size_t>(k) * kRecordSize; }

// The order of entries 0..v-1 when all names differ and few entries are
// out of place, as after a run on a sorted area: the area's entries in
// order with the run's new ones among and behind them. Both entries of
// every neighbouring pair in the wrong order are taken out, and so is any
// entry that is not above the last one kept; what is kept is then in
// order, and the ones taken out, sorted, are merged into it. False (and
// `from` unset) when two names are equal, whose order only the quicksort
// decides, or when too many entries are out of place for this to pay.
bool nearly_sorted_order(const uint8_t* base, int32_t v, std::vector<int32_t>& from) {
    const size_t limit = static_cast<size_t>(v) / 64 + 64;
    std::vector<int32_t> strays;
    for (int32_t k = 1; k < v; ++k) {
        const int c = natural_compare(name_of(base, k - 1), name_of(base, k));
        if (c == 0) return false;
        if (c < 0) continue;
        if (strays.empty() || strays.back() != k - 1) strays.push_back(k - 1);
        strays.push_back(k);
        if (strays.size() > limit) return false;
    }
    // The kept entries, each above the one kept before it, go to the front
    // of `from`; the ones taken out are merged in from the back.
    from.clear();
    from.reserve(static_cast<size_t>(v));
    std::vector<int32_t> out;  // taken out, in the order of the entries
    size_t s = 0;
    for (int32_t k = 0; k < v; ++k) {
        if (s < strays.size() && strays[s] == k) {
            out.push_back(k);
            ++s;
            continue;
        }
        if (!from.empty() && from.back() != k - 1) {
            const int c = natural_compare(name_of(base, from.back()), name_of(base, k));
            if (c == 0) return false;
            if (c > 0) {
                out.push_back(k);
                if (out.size() > limit) return false;
                continue;
            }
        }
        from.push_back(k);
    }
    if (out.empty()) return true;
    const auto less = [base](int32_t x, int32_t y) { return natural_compare(name_of(base, x), name_of(base, y)) < 0; };
    std::sort(out.begin(), out.end(), less);
    for (size_t k = 1; k < out.size(); ++k)
        if (!less(out[k - 1], out[k])) return false;  // equal names

    // From the highest taken out down: the kept entries above it move up
    // to make room, and it goes in below them.
    const auto kept = static_cast<std::ptrdiff_t>(from.size());
    from.resize(static_cast<size_t>(v));
    auto keptEnd = from.begin() + kept;
    auto to = from.end();
    for (auto x = out.rbegin(); x != out.rend(); ++x) {
        const auto above = std::lower_bound(from.begin(), keptEnd, *x, less);
        if (above != keptEnd && !less(*x, *above)) return false;  // equal names
        to = std::move_backward(above, keptEnd, to);
        *--to = *x;
        keptEnd = above;
    }
    return true;
}

// The order of entries 1..v as c4sort gives it, on their natural keys:
// from[k] is the entry that goes to position k (0-based).
//
// When no two keys are equal, only one order is sorted, and the quicksort
// ends in exactly that one, as any sort does. Few entries out of place are
// merged in (above); otherwise the order is found by merging the runs of
// entries that are already in order, a few passes for a handful of runs.
// Two equal keys (equal names) leave the order of their entries to the
// quicksort's course, so then the quicksort itself is followed: the same
// algorithm on short records of key and index, every comparison with the
// same outcome as naturalLess on the entries, so the same order also for
// equal names.
std::vector<int32_t> sorted_order(const uint8_t* base, int32_t v) {
    std::vector<int32_t> from;
    if (nearly_sorted_order(base, v, from)) return from;
    from.resize(static_cast<size_t>(v));
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
    util::Bytes keyed(static_cast<size_t>(v) * kKeyed);
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
// from position v on and the trailer to `out`. Long stretches of entries
// that keep their neighbours are written straight from where they lie;
// the others are gathered into a buffer first, block by block.
bool write_entries(platform::File& out, const uint8_t* base, int32_t n, const std::vector<int32_t>& from,
                   const CtlTrailer& trailer) {
    constexpr size_t kBlock = 16384;     // entries per gathered write: 1 MiB
    constexpr int32_t kStraight = 1024;  // a stretch this long is written as it is
    // Made when first needed, and not cleared: every byte written is put.
    const size_t blockBytes = std::min(kBlock, static_cast<size_t>(n) + 1) * kRecordSize;
    std::unique_ptr<uint8_t[]> block;
    size_t filled = 0;
    bool written = true;
    const auto write = [&](const uint8_t* bytes, size_t count) {
        written = written && platform::write_all(out, bytes, count);
    };
    const auto flush_block = [&] {
        if (filled > 0) write(block.get(), filled * kRecordSize);
        filled = 0;
    };
    const auto put = [&](const uint8_t* rec) {
        if (!block) block.reset(new uint8_t[blockBytes]);
        std::memcpy(block.get() + filled * kRecordSize, rec, kRecordSize);
        if (++filled * kRecordSize == blockBytes) flush_block();
    };
    const auto source = [&from](int32_t k) {
        return k < static_cast<int32_t>(from.size()) ? from[static_cast<size_t>(k)] : k;
    };
    for (int32_t k = 0; k < n && written;) {
        const int32_t src = source(k);
        int32_t len = 1;
        while (k + len < n && source(k + len) == src + len) ++len;
        if (len >= kStraight) {
            flush_block();
            write(base + static_cast<size_t>(src) * kRecordSize, static_cast<size_t>(len) * kRecordSize);
        } else {
            for (int32_t i = 0; i < len; ++i) put(base + static_cast<size_t>(src + i) * kRecordSize);
        }
        k += len;
    }
    put(trailer.raw.data());
    flush_block();
    return written;
}

// The sorted entries and the trailer written to a file beside piece.ctl,
// which is renamed over piece.ctl (the temporary name is the one that
// recovery clears up after a run that died). false leaves piece.ctl as it
// was.
bool write_sorted(const std::string& ctlPath, const uint8_t* base, int32_t n, const std::vector<int32_t>& from,
                  const CtlTrailer& trailer) {
    const std::string tmpPath = io::temp_name(ctlPath);
    platform::File out = io::create_temp(tmpPath, ctlPath);
    if (!out.is_open()) return false;
    if (!write_entries(out, base, n, from, trailer)) {
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

namespace {

// The sort of the control file whose bytes `kept` holds (empty: read from
// the file).
SortStatus sort_control(const AreaField& area, util::Bytes kept) {
    const std::string ctlPath = area_path(area, AreaFile::Control);
    {
        // The control file must be there and writable: the sorted file
        // takes its place.
        platform::File f = platform::open_file(ctlPath, platform::OpenMode::ReadWrite);
        if (!f.is_open()) return SortStatus::CannotOpen;
    }
    util::Bytes records = std::move(kept);
    try {
        if (records.empty()) {
            const SortStatus rc = read_control(ctlPath, records);
            if (rc != SortStatus::Ok) return rc;
        }
        Control c;
        const SortStatus rc = take_control(records, c);
        if (rc != SortStatus::Ok) return rc;
        const int32_t v = entries_to_sort(c);
        const bool compacted = compact(records.data(), c, v);
        const std::vector<int32_t> order = sorted_order(records.data(), v);
        // A control file that is in order already is left as it is: the
        // sorted file would be the same bytes (what follows a trailer is
        // dropped).
        if (!compacted && is_identity(order) && !c.trailing) return SortStatus::Ok;
        return write_sorted(ctlPath, records.data(), c.n, order, c.trailer) ? SortStatus::Ok : SortStatus::NotWritten;
    } catch (const std::bad_alloc&) {
        return SortStatus::NoMemory;
    }
}

}  // namespace

SortStatus epn_ctl_sort(const AreaField& area) { return sort_control(area, {}); }

SortStatus write_control_sorted(platform::File& out, util::Bytes& bytes) {
    try {
        Control c;
        if (take_control(bytes, c) != SortStatus::Ok) return SortStatus::Unreadable;
        const int32_t v = entries_to_sort(c);
        compact(bytes.data(), c, v);
        const std::vector<int32_t> order = sorted_order(bytes.data(), v);
        return write_entries(out, bytes.data(), c.n, order, c.trailer) ? SortStatus::Ok : SortStatus::NotWritten;
    } catch (const std::bad_alloc&) {
        return SortStatus::NoMemory;
    }
}

SortStatus epn_ctl_sort(const AreaField& area, AreaRun& run) {
    // The run's last store wrote the file in order, and it is still that
    // version: nothing to do.
    if (run.last.written_sorted(area)) {
        run.last.forget();
        return SortStatus::Ok;
    }
    // The bytes the run last wrote are the file's while its stamp and size
    // are unchanged; they are handed over, not copied.
    return sort_control(area, run.last.take_bytes(area));
}

namespace test {
int32_t sort_capacity() { return g_sortCapacity; }
void reset_sort_capacity() { g_sortCapacity = kInitialCapacity; }
void record_sort(void* records, int32_t recordSize, int32_t count, int32_t keyStart, int32_t keyEnd) {
    sort_records(records, recordSize, count, keyStart, keyEnd);
}
int32_t natural_compare(const char* a, const char* b) {
    return writer::natural_compare(reinterpret_cast<const uint8_t*>(a), reinterpret_cast<const uint8_t*>(b));
}
}  // namespace test

}  // namespace teilimp::writer
