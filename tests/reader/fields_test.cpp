#include <gtest/gtest.h>

#include <string>

#include "reader/epn_fields.h"
#include "support/test_util.h"

namespace teilimp::reader {
namespace {

std::span<const uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::vector<std::string> all_lines(const std::string& text, size_t width) {
    LineCursor cursor(bytes_of(text));
    std::vector<std::string> lines;
    std::string field(width, '?');
    while (cursor.next(field.data(), width)) lines.push_back(field);
    return lines;
}

TEST(LineCursor, SplitsLfAndCrLfAndDropsOnlyTheCrBeforeTheLineEnd) {
    using V = std::vector<std::string>;
    EXPECT_EQ(all_lines("ab\r\ncd\nef", 3), (V{"ab ", "cd ", "ef "}));
    // A final LF does not start an empty line; a blank line inside does.
    EXPECT_EQ(all_lines("ab\n\ncd\n", 2), (V{"ab", "  ", "cd"}));
    // A CR at the very end of the file is dropped, a lone CR inside a line
    // and Ctrl-Z are ordinary characters, only one CR goes before an LF.
    EXPECT_EQ(all_lines("a\rb\r\r\n\x1a\r", 4), (V{"a\rb\r", "\x1a   "}));
    EXPECT_TRUE(all_lines("", 4).empty());
    EXPECT_EQ(all_lines("\n", 2), (V{"  "}));
}

TEST(LineCursor, CutsLongLinesAndKeepsNulBytes) {
    const std::string text("12345678\n1\0" "3\n", 13);
    using V = std::vector<std::string>;
    EXPECT_EQ(all_lines(text, 4), (V{"1234", std::string("1\0" "3 ", 4)}));
}

// The same lines read from a file through the cursor's own buffer, whose
// chunks end in the middle of lines, of CR LF pairs and of long lines.
TEST(LineCursor, ReadsAFileInChunksLikeTheBytesInMemory) {
    testing::TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) {
        text += std::string(static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26));
        text += (i % 3 == 0) ? "\r\n" : (i % 3 == 1 ? "\n" : "\r\r\n");
    }
    text += std::string(150000, 'x') + "\r";  // a long last line, closing CR
    // A CR LF split exactly at the first chunk's end.
    text.replace(65535, 2, "\r\n");
    const std::string path = dir / "lines.epn";
    testing::write_file(path, text);

    platform::File f = platform::open_file(path, platform::OpenMode::Read);
    ASSERT_TRUE(f.is_open());
    LineCursor cursor(f);
    std::vector<std::string> lines;
    std::string field(80, '?');
    while (cursor.next(field.data(), field.size())) lines.push_back(field);
    EXPECT_EQ(lines, all_lines(text, 80));
    EXPECT_EQ(lines.back(), std::string(80, 'x'));
}

std::optional<int32_t> num(std::string_view field) {
    return read_int_field(field.data(), field.size());
}

TEST(IntField, BlanksAreIgnoredAnywhere) {
    EXPECT_EQ(num(" 1 2 "), 12);
    EXPECT_EQ(num("     "), 0);
    EXPECT_EQ(num("-  5 "), -5);
    EXPECT_EQ(num("   +7"), 7);
    EXPECT_EQ(num(" -   "), 0);  // a sign alone
    EXPECT_EQ(num(""), 0);
}

TEST(IntField, OtherCharactersAndMisplacedSignsAreUnreadable) {
    for (std::string_view bad : {"1.0", "12a", " \t1", "5-", "1 +2", "+-5", "--5", "x"})
        EXPECT_FALSE(num(bad).has_value()) << bad;
    EXPECT_FALSE(num(std::string_view("1\0" "2", 3)).has_value());
}

TEST(IntField, ValuesOutsideInt32AreUnreadable) {
    EXPECT_EQ(num("2147483647"), 2147483647);
    EXPECT_EQ(num("-2147483648"), INT32_MIN);
    EXPECT_FALSE(num("2147483648").has_value());
    EXPECT_FALSE(num("-2147483649").has_value());
    EXPECT_FALSE(num("99999999999999999999999999").has_value());
    EXPECT_EQ(num("0000000000000000000000000001"), 1);
}

TEST(Keyword, ComparesTheWholeBlankPaddedField) {
    EXPECT_TRUE(is_keyword("CLOSED    ", 10, "CLOSED"));
    EXPECT_FALSE(is_keyword("closed    ", 10, "CLOSED"));
    EXPECT_FALSE(is_keyword("CLOSEDX   ", 10, "CLOSED"));
    EXPECT_FALSE(is_keyword(" CLOSED   ", 10, "CLOSED"));
}

}  // namespace
}  // namespace teilimp::reader
