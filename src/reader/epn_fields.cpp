#include "reader/epn_fields.h"

#include <cstring>

namespace teilimp::reader {

bool LineCursor::next(char* field, size_t width) {
    if (pos == end) return false;
    const size_t rest = static_cast<size_t>(end - pos);
    const void* lf = std::memchr(pos, '\n', rest);
    const uint8_t* lineEnd = lf ? static_cast<const uint8_t*>(lf) : end;
    const uint8_t* lineStart = pos;
    pos = lf ? lineEnd + 1 : end;

    size_t length = static_cast<size_t>(lineEnd - lineStart);
    if (length > 0 && lineStart[length - 1] == '\r') --length;

    const size_t copied = length < width ? length : width;
    if (copied > 0) std::memcpy(field, lineStart, copied);
    if (copied < width) std::memset(field + copied, ' ', width - copied);
    return true;
}

std::optional<int32_t> read_int_field(const char* field, size_t width) {
    bool negative = false;
    bool seenSign = false;
    bool seenDigit = false;
    int64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        const char c = field[i];
        if (c == ' ') continue;
        if (c == '+' || c == '-') {
            if (seenSign || seenDigit) return std::nullopt;
            seenSign = true;
            negative = c == '-';
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        seenDigit = true;
        value = value * 10 + (c - '0');
        // Past this bound the value can't come back into range; stopping
        // here keeps the arithmetic far from int64 overflow for any width.
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(value);
}

bool is_keyword(const char* field, size_t width, std::string_view keyword) {
    for (size_t i = 0; i < width; ++i) {
        const char expected = i < keyword.size() ? keyword[i] : ' ';
        if (field[i] != expected) return false;
    }
    return true;
}

bool is_blank(const char* field, size_t width) {
    for (size_t i = 0; i < width; ++i)
        if (field[i] != ' ') return false;
    return true;
}

}  // namespace teilimp::reader
