#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "rul/read_text.h"

namespace teilimp::exchange {
namespace {

// The number of a line as from_chars reads it (blanks around it and a
// leading '+' allowed), the way every value was read before the short paths.
bool reference(std::string_view s, double& value) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(value);
}

// Every line of up to seven bytes of digits, points, signs, blanks and
// exponents, and longer ones at the short paths' edges: the short paths give what from_chars
// gives, to the bit, or leave the line to the long path.
TEST(ReadText, ShortNumberPathsReadAsTheLongPath) {
    std::vector<std::string> lines = {"12345678", "1234.678", "-1234567", "-12345678", "-.1234567", "1234567.",
                                      "1234567.8", "-1234567.8", "0.000000001", "123456789012345",
                                      "1234567890123456", "99999999.99999999", "+12.5", "1.5E-3"};
    const std::string alphabet = "09.-e ";
    for (size_t length = 1; length <= 7; ++length) {
        std::string s(length, '0');
        for (size_t k = 0, total = static_cast<size_t>(std::pow(alphabet.size(), length)); k < total; ++k) {
            for (size_t i = 0, r = k; i < length; ++i, r /= alphabet.size()) s[i] = alphabet[r % alphabet.size()];
            lines.push_back(s);
        }
    }
    int fast = 0;
    for (const std::string& line : lines) {
        double want = 0, got = 0;
        const bool ok = reference(line, want);
        ASSERT_EQ(parse_decimal(line, got), ok) << line;
        if (ok) {
            ASSERT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << line;
        }
        for (const char* end : {"\n", "\r\n", "\r"}) {
            const std::string rest = line + end + " 20\n1.0\n";
            size_t length = 0;
            if (!detail::short_number_line(rest, got, length)) continue;
            ++fast;
            ASSERT_TRUE(ok) << line;
            ASSERT_EQ(length, line.size()) << line;
            ASSERT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << line;
        }
    }
    EXPECT_GT(fast, 4000);  // the short path is taken where it should be
}

// Lines of 0 to 140 bytes with each line end (ends on every place of the
// 64-byte masks), the last without one: the lines a plain split gives.
TEST(ReadText, LinesAreSplitAtEveryLineEnd) {
    std::string text;
    std::vector<std::string> want;
    for (size_t length = 0, k = 0; length <= 140; ++length)
        for (const char* end : {"\n", "\r\n", "\r"}) {
            want.push_back(std::string(length, static_cast<char>('a' + k++ % 26)));
            text += want.back() + end;
        }
    text += want.emplace_back("tail");
    LineCursor lines(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    std::vector<std::string> got;
    for (std::string_view line; lines.next(line);) got.emplace_back(line);
    EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace teilimp::exchange
