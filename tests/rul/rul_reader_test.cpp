#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rul/rul_reader.h"

namespace teilimp::rul {
namespace {

std::span<const uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(RulReader, DialectsGiveTheSameRules) {
    const std::string commas =
        "ASTM/D13Proposal 1 Version: D 6673-04\nUNITS: ENGLISH\nNUMBER OF SIZES: 3\n"
        "SIZE LIST:  S M L\nSAMPLE SIZE: M\nRULE: DELTA 1\n  -0.50,  0.25   0.00,  0.00\n"
        "   1.00,   -.5\nRULE: DELTA 2\n 0, 0 0, 0 1, 1\nEND\n";
    std::string blanks = commas;
    for (char& c : blanks)
        if (c == ',') c = ' ';
    std::string crlf;
    for (char c : commas) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string cr = commas;
    for (char& c : cr)
        if (c == '\n') c = '\r';
    std::string reordered = "sample size: M\nunits: english\nsize list: S M L\n" +
                            commas.substr(commas.find("RULE"));
    for (const std::string& text : {commas, blanks, crlf, cr, reordered}) {
        SCOPED_TRACE(text);
        RuleTable t;
        ASSERT_EQ(parse_rul(bytes_of(text), t), ReadStatus::Ok);
        EXPECT_EQ(t.units, TableUnits::Inch);
        EXPECT_EQ(t.sizes, (std::vector<std::string>{"S", "M", "L"}));
        EXPECT_EQ(t.sample_index(), 1);
        const Rule* r = t.find(1);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->deltas[0].dx, -0.5);
        EXPECT_EQ(r->deltas[2].dy, -0.5);
        ASSERT_NE(t.find(2), nullptr);
        EXPECT_EQ(t.find(0), nullptr);
    }
}

TEST(RulReader, IncompleteRulesAreNotFound) {
    RuleTable t;
    const std::string text =
        "SIZE LIST: A B\nSAMPLE SIZE: Z\nRULE: DELTA 0\n1 2 3\nRULE: DELTA 1\n1 x 3 4\n"
        "RULE: DELTA 2\n1 2\nRULE: DELTA 3\n1 2 3 4\nEND\nRULE: DELTA 4\n1 2 3 4\n";
    ASSERT_EQ(parse_rul(bytes_of(text), t), ReadStatus::Ok);
    EXPECT_EQ(t.find(0), nullptr);  // odd count
    EXPECT_EQ(t.find(1), nullptr);  // no number
    EXPECT_EQ(t.find(2), nullptr);  // one pair for two sizes
    EXPECT_NE(t.find(3), nullptr);
    EXPECT_EQ(t.find(4), nullptr);  // after END
    EXPECT_EQ(t.sample_index(), -1);
    EXPECT_EQ(parse_rul(bytes_of("RULE: DELTA 1\n0 0\n"), t), ReadStatus::NoSizeList);
}

// A style's thousands of rules, numbered in no order, some numbers twice:
// find() gives the first of a number in the file, or nothing when that
// one cannot be used.
TEST(RulReader, ManyRulesAreFoundByTheirFirstNumber) {
    std::string text = "SIZE LIST: S M L\rSAMPLE SIZE: M\r";
    std::vector<int32_t> firstValue(3001, -1);  // by number: the first rule's dx in S, 0 unusable
    for (int32_t k = 0; k < 6000; ++k) {
        const int32_t n = (k * 1237) % 3001, value = k + 1;
        const bool usable = k % 7 != 0;
        text += "RULE: DELTA " + std::to_string(n) + "\r" + std::to_string(value) + " 0 0 0" +
                (usable ? " 1 1" : "") + "\r";
        if (firstValue[static_cast<size_t>(n)] < 0) firstValue[static_cast<size_t>(n)] = usable ? value : 0;
    }
    RuleTable t;
    ASSERT_EQ(parse_rul(bytes_of(text), t), ReadStatus::Ok);
    ASSERT_EQ(t.rules.size(), 6000u);
    for (int32_t n = -1; n <= 3001; ++n) {
        const int32_t want = n >= 0 && n < 3001 ? firstValue[static_cast<size_t>(n)] : -1;
        const Rule* r = t.find(n);
        if (want <= 0) {
            EXPECT_EQ(r, nullptr) << n;
        } else {
            ASSERT_NE(r, nullptr) << n;
            EXPECT_EQ(r->deltas[0].dx, want) << n;
        }
    }
}

}  // namespace
}  // namespace teilimp::rul
