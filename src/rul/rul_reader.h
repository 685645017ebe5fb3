// Reading a RUL file: the grade rules of an AAMA-DXF / ASTM D6673 style.
// Keyword lines ("SIZE LIST:", "SAMPLE SIZE:", "UNITS:", "RULE: DELTA n",
// "END") in any order and case, any line ends; a rule's values follow its
// keyword line as numbers, one dx, dy pair per size, separated by blanks,
// commas or line ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace teilimp::rul {

// Larger files are not read.
constexpr size_t kMaxRulBytes = size_t{256} * 1024 * 1024;

// The units its UNITS line declares (None: no such line).
enum class TableUnits : uint8_t { None, Millimetre, Inch };

struct Delta {
    double dx = 0;
    double dy = 0;
};

struct Rule {
    int32_t number = 0;
    bool readable = true;  // false: a value that is no number, or an odd count
    std::vector<Delta> deltas;  // per size, in SIZE LIST order, from the sample size
};

struct RuleTable {
    TableUnits units = TableUnits::None;
    std::vector<std::string> sizes;  // SIZE LIST
    std::string sampleSize;          // SAMPLE SIZE
    int32_t numberOfSizes = -1;      // NUMBER OF SIZES, -1 when absent
    std::vector<Rule> rules;         // in file order
    // Indices into rules ordered by number (file order among equal
    // numbers), made by parse_rul: a style's pieces look up thousands of
    // rules. find() searches rules one by one when it does not cover them.
    std::vector<uint32_t> byNumber;

    // The first rule numbered n when it is readable and has one pair per
    // size; else nullptr.
    const Rule* find(int32_t n) const;
    // Index of the sample size in sizes, -1 when it is none of them.
    int32_t sample_index() const;
};

enum class ReadStatus : uint8_t {
    Ok,
    NoSizeList,  // no SIZE LIST with at least one size: not a RUL file
    TooLarge,
    CannotOpen,
};

ReadStatus parse_rul(std::span<const uint8_t> bytes, RuleTable& out);
ReadStatus read_rul(std::string_view path, RuleTable& out);

}  // namespace teilimp::rul
