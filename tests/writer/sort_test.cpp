// Sorting the control file: natural order of names, the general record
// sort, the gathering of valid entries, and a write-back that never loses
// the file.

#include "writer/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_util.h"
#include "writer/area_path.h"
#include "writer/stamped.h"

namespace teilimp::writer {
namespace {

using testing::TempDir;

// ------------------------------------------------------------ naturalLess

// A name with its NULs and other bytes shown as hex.
std::string printable(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (c >= '!' && c <= '~') {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            out += hex;
        }
    }
    return out;
}

bool less20(std::string a, std::string b) {
    a.resize(20, '\0');
    b.resize(20, '\0');
    return naturalLess(a.data(), b.data(), 20) != 0;
}

TEST(NaturalLess, NumbersByValueEverythingElseByBytes) {
    EXPECT_TRUE(less20("P1A", "P2"));
    EXPECT_TRUE(less20("P2", "P10"));
    EXPECT_FALSE(less20("P10", "P2"));
    EXPECT_TRUE(less20("A", "AB"));     // a prefix sorts first
    EXPECT_FALSE(less20("AB", "A"));
    EXPECT_TRUE(less20("10", "007"));   // leading zeros count as digits
    EXPECT_FALSE(less20("007", "10"));
    EXPECT_TRUE(less20("R12B", "R12C"));
    EXPECT_TRUE(less20("R12", "R12B"));
    EXPECT_TRUE(less20("X9Y", "X10"));  // the run ends at the letter
    EXPECT_TRUE(less20("AB", "B"));
    EXPECT_TRUE(less20("A\x81", "A\x9A") == (0x81 < 0x9A));  // unsigned bytes
    EXPECT_TRUE(less20("Z", "\x84"));
    EXPECT_FALSE(less20("P7", "P7"));
}

TEST(NaturalLess, LastPositionOpensNoRunAndEmptyKeysAreEqual) {
    // Digits meeting only in the last position are compared as bytes.
    EXPECT_TRUE(naturalLess("A1", "A2", 2));
    EXPECT_TRUE(naturalLess("9", "X", 1));
    EXPECT_FALSE(naturalLess("AB", "AA", 0));
    EXPECT_FALSE(naturalLess("AA", "AB", -3));
}

// The three-way comparison the control-file sort uses agrees with
// naturalLess both ways on names full of digit runs, blanks and NULs.
TEST(NaturalLess, ThreeWayComparisonAgrees) {
    std::mt19937 rng(31);
    const std::string alphabets[] = {std::string("0123456789AZ .") + std::string(1, '\0'), "019A", "0123456789"};
    for (int k = 0; k < 200000; ++k) {
        const std::string& alphabet = alphabets[k % 3];
        std::string a(20, '\0');
        const size_t len = rng() % 21;
        for (size_t c = 0; c < len; ++c) a[c] = alphabet[rng() % alphabet.size()];
        // Often the same name with a change or two, as neighbours are.
        std::string b = a;
        for (int changes = 1 + static_cast<int>(rng() % 2); changes > 0; --changes)
            b[rng() % 20] = alphabet[rng() % alphabet.size()];
        if (k % 5 == 0) b.assign(20, alphabet[rng() % alphabet.size()]);
        const int c = test::natural_compare(a.data(), b.data());
        ASSERT_EQ(c < 0, naturalLess(a.data(), b.data(), 20) != 0) << printable(a) << " / " << printable(b);
        ASSERT_EQ(c > 0, naturalLess(b.data(), a.data(), 20) != 0) << printable(a) << " / " << printable(b);
        ASSERT_EQ(c == 0, a == b);
    }
}

// ------------------------------------------------------------ c4sort

std::vector<std::string> sorted_names(std::vector<std::string> names) {
    std::vector<char> recs(names.size() * 24, '\0');
    for (size_t k = 0; k < names.size(); ++k) {
        std::memcpy(&recs[k * 24 + 2], names[k].data(), std::min<size_t>(names[k].size(), 20));
        recs[k * 24] = static_cast<char>(k & 0xFF);  // a payload outside the key
        recs[k * 24 + 1] = static_cast<char>(k >> 8);
    }
    c4sort(recs.data(), 24, static_cast<int16_t>(names.size()), 3, 22);
    std::vector<std::string> out;
    for (size_t k = 0; k < names.size(); ++k) {
        const char* key = &recs[k * 24 + 2];
        out.emplace_back(key, strnlen(key, 20));
        // The whole record moved, not just its key.
        const size_t from = static_cast<unsigned char>(recs[k * 24]) |
                            (static_cast<size_t>(static_cast<unsigned char>(recs[k * 24 + 1])) << 8);
        EXPECT_TRUE(from < names.size() && names[from] == out.back()) << out.back();
    }
    return out;
}

TEST(C4sort, OrdersNamesNaturally) {
    EXPECT_EQ(sorted_names({"P10", "P2", "P1A"}), (std::vector<std::string>{"P1A", "P2", "P10"}));
    EXPECT_EQ(sorted_names({"AB", "007", "A", "10", "B2", "B"}),
              (std::vector<std::string>{"10", "007", "A", "AB", "B", "B2"}));
}

TEST(C4sort, RandomArraysEndSortedAndComplete) {
    std::mt19937 rng(1234);
    const std::string alphabet = "0123456789AB-";
    for (int round = 0; round < 200; ++round) {
        const int count = 2 + static_cast<int>(rng() % 300);
        std::vector<std::string> names;
        for (int k = 0; k < count; ++k) {
            std::string s;
            const int len = 1 + static_cast<int>(rng() % 6);
            for (int c = 0; c < len; ++c) s += alphabet[rng() % alphabet.size()];
            names.push_back(s);
        }
        const std::vector<std::string> out = sorted_names(names);
        for (size_t k = 1; k < out.size(); ++k)
            ASSERT_FALSE(less20(out[k], out[k - 1])) << out[k - 1] << " / " << out[k];
        std::vector<std::string> a = names, b = out;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        ASSERT_EQ(a, b);
    }
}

TEST(C4sort, BadArgumentsLeaveTheRecordsAlone) {
    char recs[] = "DCBA";
    c4sort(recs, 1, 4, 0, 1);        // key before the record
    c4sort(recs, 1, 4, 1, 2);        // key beyond the record
    c4sort(recs, 1025, 1, 1, 1);     // fewer than two records: nothing to do
    c4sort(recs, 0, 4, 1, 1);
    c4sort(recs, 1, 1, 1, 1);
    EXPECT_STREQ(recs, "DCBA");
    c4sort(recs, 1, 4, 1, 1);
    EXPECT_STREQ(recs, "ABCD");
    // An empty key: no record is below another; nothing is lost.
    char same[] = "DCBA";
    c4sort(same, 1, 4, 1, 0);
    std::string s(same);
    std::sort(s.begin(), s.end());
    EXPECT_EQ(s, "ABCD");
}

// ------------------------------------------------------------ epn_ctl_sort

struct Entry {
    std::string name;
    int16_t state;
};

std::string entry_bytes(const Entry& e, int serial) {
    std::string r(64, '\0');
    std::memcpy(&r[0], e.name.data(), std::min<size_t>(e.name.size(), 20));
    r[20] = 'a';
    r[21] = 'a';
    r[22] = static_cast<char>('a' + serial % 26);
    r[23] = static_cast<char>(serial % 8);
    r[24] = static_cast<char>(e.state & 0xFF);
    r[25] = static_cast<char>((e.state >> 8) & 0xFF);
    r[34] = static_cast<char>(serial & 0xFF);        // dataLength: tells records apart
    r[35] = static_cast<char>((serial >> 8) & 0xFF);
    r[38] = 3;
    r[48] = 'B';
    r[49] = 'B';
    return r;
}

// A trailer with some reserved bytes set, to see that it comes back as read.
std::string trailer_bytes(int16_t validCount) {
    std::string t(64, '\0');
    t[0] = 'a';
    t[1] = 'b';
    t[2] = 'c';
    t[3] = 5;
    t[4] = static_cast<char>(validCount & 0xFF);
    t[5] = static_cast<char>((validCount >> 8) & 0xFF);
    t[17] = 0x5A;
    t[59] = 3;
    t[62] = 0x11;
    return t;
}

std::string name_of(const std::string& rec) { return std::string(rec.data(), strnlen(rec.data(), 20)); }
int16_t state_of(const std::string& rec) {
    return static_cast<int16_t>(static_cast<unsigned char>(rec[24]) |
                                (static_cast<unsigned char>(rec[25]) << 8));
}

class CtlSortTest : public ::testing::Test {
protected:
    TempDir dir;
    testing::DriveMap drive{'X', dir.path};
    AreaField area = make_area("X:SORT");
    std::string dataDir = dir / "userroot/storage/SORT/data";
    std::string ctl = dataDir + "/piece.ctl";

    void SetUp() override {
        testing::make_dirs(dataDir);
        test::reset_sort_capacity();
    }
    void TearDown() override { platform::test::set_fault_at(0); }

    std::string write_ctl(const std::vector<Entry>& entries, int16_t validCount) {
        std::string bytes;
        for (size_t k = 0; k < entries.size(); ++k) bytes += entry_bytes(entries[k], static_cast<int>(k));
        bytes += trailer_bytes(validCount);
        testing::write_file(ctl, bytes);
        return bytes;
    }

    std::vector<std::string> records() const {
        const std::string bytes = testing::read_file(ctl);
        std::vector<std::string> out;
        for (size_t at = 0; at + 64 <= bytes.size(); at += 64) out.push_back(bytes.substr(at, 64));
        return out;
    }
};

// The same records in any order.
void expect_same_records(const std::string& before, const std::string& after) {
    ASSERT_EQ(before.size(), after.size());
    std::vector<std::string> a, b;
    for (size_t at = 0; at < before.size(); at += 64) {
        a.push_back(before.substr(at, 64));
        b.push_back(after.substr(at, 64));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
}

TEST_F(CtlSortTest, ValidEntriesFirstInNaturalOrderTrailerUnchanged) {
    const std::string before = write_ctl({{"P10", 0},
                                          {"OLD1", kStateSuperseded},
                                          {"P2", 0},
                                          {"OLD2", kStateSuperseded},
                                          {"P1A", 0},
                                          {"007", 0},
                                          {"OLD3", kStateSuperseded},
                                          {"10", 0},
                                          {"A", 0},
                                          {"AB", 0}},
                                         7);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);

    const std::vector<std::string> recs = records();
    ASSERT_EQ(recs.size(), 11u);
    std::vector<std::string> valid;
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(state_of(recs[k]), 0);
        valid.push_back(name_of(recs[k]));
    }
    EXPECT_EQ(valid, (std::vector<std::string>{"10", "007", "A", "AB", "P1A", "P2", "P10"}));
    for (int k = 7; k < 10; ++k) EXPECT_EQ(state_of(recs[k]), kStateSuperseded);
    EXPECT_EQ(recs[10], trailer_bytes(7));
    expect_same_records(before, testing::read_file(ctl));
    // Nothing is left beside the control file.
    EXPECT_EQ(testing::list_dir(dataDir), std::vector<std::string>{"piece.ctl"});
}

TEST_F(CtlSortTest, NoOrOneValidEntryKeepsTheOrder) {
    const std::string none = write_ctl({{"B", kStateSuperseded}, {"A", kStateSuperseded}}, 0);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    EXPECT_EQ(testing::read_file(ctl), none);

    write_ctl({{"B", kStateSuperseded}, {"Z", kStateSuperseded}, {"A", 0}}, 1);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    const std::vector<std::string> recs = records();
    EXPECT_EQ(name_of(recs[0]), "A");
    EXPECT_EQ(state_of(recs[0]), 0);
    EXPECT_EQ(recs[3], trailer_bytes(1));

    const std::string bare = write_ctl({}, 0);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    EXPECT_EQ(testing::read_file(ctl), bare);
}

TEST_F(CtlSortTest, StoredCountDecidesAndADamagedCountIsHeldToTheFile) {
    // The trailer counts two valid entries although three are valid: only
    // the first two positions are sorted.
    write_ctl({{"C", 0}, {"B", 0}, {"A", 0}}, 2);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    std::vector<std::string> recs = records();
    EXPECT_EQ(name_of(recs[0]) + name_of(recs[1]) + name_of(recs[2]), "BCA");

    // A count beyond the entries sorts the entries there are.
    write_ctl({{"C", 0}, {"B", 0}}, 999);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    recs = records();
    EXPECT_EQ(name_of(recs[0]) + name_of(recs[1]), "BC");
    EXPECT_EQ(recs[2], trailer_bytes(999));
}

TEST_F(CtlSortTest, ManyEntriesGrowTheArray) {
    std::vector<Entry> entries;
    int valid = 0;
    for (int k = 0; k < 2500; ++k) {
        const bool superseded = k % 5 == 0;
        entries.push_back({"N" + std::to_string((k * 7919) % 2500), superseded ? kStateSuperseded : int16_t{0}});
        if (!superseded) ++valid;
    }
    const std::string before = write_ctl(entries, static_cast<int16_t>(valid));
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    EXPECT_EQ(test::sort_capacity(), 3000);

    const std::vector<std::string> recs = records();
    ASSERT_EQ(recs.size(), 2501u);
    for (int k = 0; k < valid; ++k) {
        ASSERT_EQ(state_of(recs[k]), 0) << k;
        if (k > 0) {
            ASSERT_TRUE(less20(name_of(recs[k - 1]), name_of(recs[k]))) << k;
        }
    }
    for (int k = valid; k < 2500; ++k) ASSERT_EQ(state_of(recs[k]), kStateSuperseded) << k;
    expect_same_records(before, testing::read_file(ctl));

    // The grown array stays for the rest of the run.
    write_ctl({{"B", 0}, {"A", 0}}, 2);
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    EXPECT_EQ(test::sort_capacity(), 3000);
}

// More valid entries than a 16-bit count holds: the trailer keeps the low
// 16 bits (negative from 32768 on, small again from 65536 on), and every
// valid entry is still sorted.
TEST_F(CtlSortTest, MoreValidEntriesThanTheCountHolds) {
    for (const int total : {40000, 70000}) {
        std::vector<Entry> entries;
        int valid = 0;
        for (int k = 0; k < total; ++k) {
            const bool superseded = k % 9 == 4;
            entries.push_back({"T" + std::to_string((k * 7919) % total), superseded ? kStateSuperseded : int16_t{0}});
            if (!superseded) ++valid;
        }
        ASSERT_GT(valid, 32767);
        const std::string before = write_ctl(entries, static_cast<int16_t>(valid));
        ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok) << total;

        const std::vector<std::string> recs = records();
        ASSERT_EQ(recs.size(), static_cast<size_t>(total) + 1);
        for (int k = 0; k < valid; ++k) {
            ASSERT_EQ(state_of(recs[k]), 0) << total << " at " << k;
            if (k > 0) {
                ASSERT_TRUE(less20(name_of(recs[k - 1]), name_of(recs[k]))) << total << " at " << k;
            }
        }
        for (int k = valid; k < total; ++k) ASSERT_EQ(state_of(recs[k]), kStateSuperseded) << total << " at " << k;
        EXPECT_EQ(recs[static_cast<size_t>(total)], trailer_bytes(static_cast<int16_t>(valid)));
        expect_same_records(before, testing::read_file(ctl));
    }
}

// The control file's entries come out in exactly the order that c4sort
// gives the same records: names full of digit runs, blanks and NULs, many
// of them equal (whose order the sort does not define but must keep).
TEST_F(CtlSortTest, SameOrderAsTheRecordSort) {
    std::mt19937 rng(12);
    const std::string alphabet = std::string("0123456789AZ .") + std::string(1, '\0');
    for (int round = 0; round < 4; ++round) {
        std::vector<Entry> entries;
        for (int k = 0; k < 3000; ++k) {
            std::string name(20, '\0');
            const size_t len = rng() % 21;
            for (size_t c = 0; c < len; ++c) name[c] = alphabet[rng() % (round % 2 ? 4 : alphabet.size())];
            entries.push_back({name, 0});
        }
        const std::string before = write_ctl(entries, 3000);
        std::string expected = before;
        c4sort(expected.data(), 64, 3000, 1, 20);
        ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
        EXPECT_EQ(testing::read_file(ctl), expected) << "round " << round;
    }
}

// What the sort must give, step by step as the format lays it down: the
// superseded entries among the first v exchanged with valid ones from the
// back, then the first v entries in the record sort's order.
std::string reference_sorted(const std::string& file, int v) {
    std::vector<std::string> recs;
    for (size_t at = 0; at + 64 <= file.size(); at += 64) recs.push_back(file.substr(at, 64));
    const std::string trailer = recs.back();
    recs.pop_back();
    const int n = static_cast<int>(recs.size());
    for (int j = 0; j < v; ++j) {
        if (state_of(recs[j]) != kStateSuperseded) continue;
        int k = n - 1;
        while (k >= v && state_of(recs[k]) != 0) --k;
        if (k < v) break;
        std::swap(recs[j], recs[k]);
    }
    std::string front;
    for (int j = 0; j < v; ++j) front += recs[j];
    test::record_sort(front.data(), 64, v, 1, 20);
    std::string out = front;
    for (int j = v; j < n; ++j) out += recs[j];
    return out + trailer;
}

// A name from a small alphabet of digits, letters, blanks and NULs (many
// digit runs, some equal names when `len` is small).
std::string random_name(std::mt19937& rng, size_t maxLen) {
    static const std::string alphabet = std::string("0123456789AZ .") + std::string(1, '\0');
    std::string name(20, '\0');
    const size_t len = 1 + rng() % maxLen;
    for (size_t c = 0; c < len; ++c) name[c] = alphabet[rng() % alphabet.size()];
    return name;
}

// The control file as a run leaves it: an area sorted by an earlier run
// (valid entries in order, superseded ones behind), then this run's
// entries, each superseding the valid entry of its name if there is one.
std::vector<Entry> after_a_run(std::mt19937& rng, int areaEntries, int runEntries, bool unique) {
    std::vector<std::string> names;
    std::set<std::string> seen;
    while (static_cast<int>(names.size()) < areaEntries) {
        std::string name = random_name(rng, 8);
        if (!unique || seen.insert(name).second) names.push_back(name);
    }
    std::string block;
    for (const std::string& name : names) block += name + std::string(44, '\0');
    test::record_sort(block.data(), 64, areaEntries, 1, 20);
    std::vector<Entry> entries;
    for (int k = 0; k < areaEntries; ++k) entries.push_back({block.substr(static_cast<size_t>(k) * 64, 20), 0});
    for (int k = 0; k < areaEntries / 10; ++k) entries.push_back({random_name(rng, 8), kStateSuperseded});
    for (int k = 0; k < runEntries; ++k) {
        // Every third entry of the run replaces a stored piece.
        const std::string name = k % 3 == 0 && areaEntries > 0 ? entries[rng() % areaEntries].name : random_name(rng, 12);
        for (Entry& e : entries)
            if (e.name == name && e.state == 0) e.state = kStateSuperseded;
        entries.push_back({name, 0});
    }
    return entries;
}

int count_valid(const std::vector<Entry>& entries) {
    return static_cast<int>(std::count_if(entries.begin(), entries.end(), [](const Entry& e) { return e.state == 0; }));
}

// The control file comes out byte for byte as the record sort orders it,
// whatever the shape: after a run on a sorted area (unique names, or some
// names twice), random names with and without repeats, counts the trailer
// gets wrong, and more valid entries than its 16 bits count.
TEST_F(CtlSortTest, SameBytesAsTheRecordSortWhateverTheShape) {
    std::mt19937 rng(77);
    struct Case {
        int area, run;
        bool unique;
        int countShift;  // added to the stored count (a damaged trailer)
    };
    const Case cases[] = {{2000, 20, true, 0},  {2000, 20, false, 0}, {3000, 1, true, 0},  {500, 300, true, 0},
                          {2000, 20, true, -7}, {2000, 20, true, 5},  {0, 40, true, 0},    {1, 1, true, 0},
                          {40000, 20, true, 0}, {3000, 0, true, 0},   {3000, 2, false, 0}, {2, 0, true, 0}};
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            const std::vector<Entry> entries = after_a_run(rng, c.area, c.run, c.unique);
            const int valid = count_valid(entries);
            const int stored = valid + c.countShift;
            const std::string before = write_ctl(entries, static_cast<int16_t>(stored));
            const int v = std::clamp(stored, 0, static_cast<int>(entries.size()));
            const std::string expected = reference_sorted(before, v);
            ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
            ASSERT_TRUE(testing::read_file(ctl) == expected)
                << "area " << c.area << ", run " << c.run << ", unique " << c.unique << ", count " << c.countShift;
            // Sorted once more, names that are all different stay as they
            // are (a count beyond the valid entries takes superseded ones in).
            ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
            if (c.unique && c.countShift <= 0) {
                ASSERT_TRUE(testing::read_file(ctl) == expected) << "area " << c.area << ", run " << c.run;
            }
        }
    }
    // Random names, as often equal as not, in random order.
    for (int round = 0; round < 6; ++round) {
        std::vector<Entry> entries;
        const int count = 1 + static_cast<int>(rng() % 5000);
        for (int k = 0; k < count; ++k)
            entries.push_back({random_name(rng, round % 2 ? 3 : 20), rng() % 7 == 0 ? kStateSuperseded : int16_t{0}});
        const int valid = count_valid(entries);
        const std::string before = write_ctl(entries, static_cast<int16_t>(valid));
        ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
        ASSERT_TRUE(testing::read_file(ctl) == reference_sorted(before, valid)) << "round " << round;
    }
}

// An area sorted before, with entries out of place among and behind its
// own: one far too high or too low, a block in falling order, short rising
// runs that cross each other, a name that a kept entry already has, more
// entries out of place than are merged in one by one.
TEST_F(CtlSortTest, SameBytesAsTheRecordSortForEntriesOutOfPlace) {
    std::mt19937 rng(41);
    const std::vector<Entry> stored = after_a_run(rng, 3000, 0, true);
    std::vector<Entry> valid;
    for (const Entry& e : stored)
        if (e.state == 0) valid.push_back(e);
    const auto with = [&](std::vector<std::pair<size_t, std::string>> inserts) {
        std::vector<Entry> entries = valid;
        for (auto& [at, name] : inserts) entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(std::min(at, entries.size())), {name, 0});
        return entries;
    };
    std::vector<std::vector<Entry>> shapes;
    shapes.push_back(with({{5, std::string(20, '\xFF')}, {2000, std::string(1, '\x01')}}));
    std::vector<std::pair<size_t, std::string>> falling, crossing, many;
    for (int k = 0; k < 100; ++k) falling.push_back({valid.size() + 1, "N" + std::to_string(k)});
    shapes.push_back(with(falling));
    for (int k = 0; k < 30; ++k) crossing.push_back({valid.size() + static_cast<size_t>(k), "N" + std::to_string(k % 3) + std::to_string(k)});
    shapes.push_back(with(crossing));
    shapes.push_back(with({{10, valid[2000].name}, {valid.size(), valid[7].name}}));
    for (int k = 0; k < 1000; ++k) many.push_back({rng() % valid.size(), random_name(rng, 12)});
    shapes.push_back(with(many));
    for (size_t k = 0; k < shapes.size(); ++k) {
        const int v = count_valid(shapes[k]);
        const std::string before = write_ctl(shapes[k], static_cast<int16_t>(v));
        ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
        ASSERT_TRUE(testing::read_file(ctl) == reference_sorted(before, v)) << "shape " << k;
    }
}

// At the end of a run the bytes the run keeps are sorted while the file
// has the stamp and size they were kept with (shown here by changing the
// file in place and putting its time back: the kept bytes are sorted); a
// file replaced behind the run's back is read instead.
TEST_F(CtlSortTest, RunSortsTheBytesItKeepsWhileTheFileIsUnchanged) {
    std::mt19937 rng(43);
    const std::vector<Entry> entries = after_a_run(rng, 2000, 20, true);
    std::vector<Entry> other = entries;
    std::reverse(other.begin(), other.end());
    other[0].name = "ZZ";  // a different set of names
    const int v = count_valid(entries);

    const std::string before = write_ctl(entries, static_cast<int16_t>(v));
    AreaRun run;
    ASSERT_TRUE(run.last.read(area));
    const auto time = std::filesystem::last_write_time(ctl);
    {
        std::fstream f(ctl, std::ios::in | std::ios::out | std::ios::binary);
        std::string otherBytes;
        for (size_t k = 0; k < other.size(); ++k) otherBytes += entry_bytes(other[k], static_cast<int>(k));
        f.write(otherBytes.data(), static_cast<std::streamsize>(otherBytes.size()));
    }
    std::filesystem::last_write_time(ctl, time);
    // Where the time put back gives the file its stamp again, the kept
    // bytes are what is sorted; elsewhere the file is read.
    platform::FileStamp now;
    const bool stampBack = platform::file_stamp(ctl, now) && now == run.last.stamp();
    const std::string changed = testing::read_file(ctl);
    ASSERT_EQ(epn_ctl_sort(area, run), SortStatus::Ok);
    if (stampBack) {
        EXPECT_TRUE(testing::read_file(ctl) == reference_sorted(before, v));
    } else {
        EXPECT_TRUE(testing::read_file(ctl) == reference_sorted(changed, count_valid(other)));
    }
    EXPECT_FALSE(run.last.bytes_known());
    EXPECT_TRUE(run.last.bytes().empty());

    // Kept, then the file replaced by another version of the same size.
    const std::string tmp = ctl + ".new";
    const std::string otherBytes = write_ctl(other, static_cast<int16_t>(count_valid(other)));
    std::filesystem::rename(ctl, tmp);
    write_ctl(entries, static_cast<int16_t>(v));
    ASSERT_TRUE(run.last.read(area));
    std::filesystem::rename(tmp, ctl);
    ASSERT_EQ(epn_ctl_sort(area, run), SortStatus::Ok);
    EXPECT_TRUE(testing::read_file(ctl) == reference_sorted(otherBytes, count_valid(other)));
}

// A control file in order is not written again; one with bytes after its
// trailer is (they are dropped).
TEST_F(CtlSortTest, ControlFileInOrderIsLeftAsItIs) {
    std::mt19937 rng(5);
    const std::vector<Entry> sorted = after_a_run(rng, 1000, 0, true);
    const std::string bytes = write_ctl(sorted, static_cast<int16_t>(count_valid(sorted)));
    platform::test::reset_file_ops();
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    const int64_t opsInOrder = platform::test::file_ops_counted();
    EXPECT_EQ(testing::read_file(ctl), bytes);

    write_ctl({{"B", 0}, {"A", 0}}, 2);
    platform::test::reset_file_ops();
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    // Creating, writing, flushing and renaming the sorted file.
    EXPECT_GE(platform::test::file_ops_counted(), opsInOrder + 4);

    testing::write_file(ctl, bytes + "left over");
    ASSERT_EQ(epn_ctl_sort(area), SortStatus::Ok);
    EXPECT_EQ(testing::read_file(ctl), bytes);
    EXPECT_EQ(testing::list_dir(dataDir), std::vector<std::string>{"piece.ctl"});
}

TEST_F(CtlSortTest, MissingOrTruncatedControlFileIsReported) {
    EXPECT_EQ(epn_ctl_sort(area), SortStatus::CannotOpen);
    EXPECT_EQ(epn_ctl_sort(make_area("X:NOAREA")), SortStatus::CannotOpen);

    // Entries without a trailer, and a torn last record.
    const std::string noTrailer = entry_bytes({"B", 0}, 0) + entry_bytes({"A", 0}, 1);
    testing::write_file(ctl, noTrailer);
    EXPECT_EQ(epn_ctl_sort(area), SortStatus::Unreadable);
    EXPECT_EQ(testing::read_file(ctl), noTrailer);
    testing::write_file(ctl, noTrailer + trailer_bytes(2).substr(0, 40));
    EXPECT_EQ(epn_ctl_sort(area), SortStatus::Unreadable);
    EXPECT_EQ(testing::list_dir(dataDir), std::vector<std::string>{"piece.ctl"});
}

TEST_F(CtlSortTest, FailedWriteBackLeavesTheControlFileAsItWas) {
    const std::vector<Entry> entries = {{"P10", 0}, {"X", kStateSuperseded}, {"P2", 0}, {"P1A", 0}};
    // Fail each file operation of the sort in turn, until one run gets
    // through without meeting the fault.
    for (int64_t k = 1;; ++k) {
        if (k >= 50) FAIL() << "the sort never got through";
        const std::string before = write_ctl(entries, 3);
        platform::test::reset_file_ops();
        platform::test::set_fault_at(k);
        const int32_t rc = number(epn_ctl_sort(area));
        const bool faultMet = platform::test::file_ops_counted() >= k;
        platform::test::set_fault_at(0);
        if (!faultMet) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(name_of(records()[0]), "P1A");
            EXPECT_GE(k, 4);  // open, create, write, flush, close, rename at least
            break;
        }
        EXPECT_TRUE(rc == 1 || rc == 4) << "fault " << k << ": " << rc;
        EXPECT_EQ(testing::read_file(ctl), before) << "fault " << k;
        EXPECT_EQ(testing::list_dir(dataDir), std::vector<std::string>{"piece.ctl"}) << "fault " << k;
    }
}

TEST_F(CtlSortTest, ReadOnlyControlFileIsNotOpened) {
    SKIP_UNLESS_READ_ONLY_REFUSED();
    const std::string before = write_ctl({{"B", 0}, {"A", 0}}, 2);
    ASSERT_EQ(platform::set_attributes(area_path(area, AreaFile::Control), platform::kAttrReadOnly), 0u);
    EXPECT_EQ(epn_ctl_sort(area), SortStatus::CannotOpen);
    EXPECT_EQ(testing::read_file(ctl), before);
}

}  // namespace
}  // namespace teilimp::writer
