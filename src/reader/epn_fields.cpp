#include "reader/epn_fields.h"

#include <cstring>

namespace teilimp::reader {

namespace {
constexpr size_t kChunkSize = 64 * 1024;
constexpr size_t kMaxWidth = 128;
}  // namespace

LineCursor::LineCursor(platform::File& f) : file(&f), buffer(kChunkSize) {
    pos = end = buffer.data();
}

bool LineCursor::refill() {
    if (!file) return false;
    const int64_t n = platform::read_bytes(*file, buffer.data(), buffer.size());
    if (n <= 0) {
        file = nullptr;  // end of file or read error: no more lines
        return false;
    }
    pos = buffer.data();
    end = pos + n;
    return true;
}

bool LineCursor::next(char* field, size_t width) {
    if (pos == end && !refill()) return false;
    // The line's first width + 1 bytes, its length and its last byte: enough
    // to drop a closing CR and to fill the field.
    char head[kMaxWidth + 1];
    const size_t keep = (width < kMaxWidth ? width : kMaxWidth) + 1;
    size_t length = 0;
    uint8_t last = 0;
    for (;;) {
        const size_t rest = static_cast<size_t>(end - pos);
        const void* lf = std::memchr(pos, '\n', rest);
        const size_t segment = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - pos) : rest;
        if (length < keep) {
            const size_t take = segment < keep - length ? segment : keep - length;
            std::memcpy(head + length, pos, take);
        }
        if (segment > 0) last = pos[segment - 1];
        length += segment;
        pos += segment;
        if (lf) {
            ++pos;  // the LF itself
            break;
        }
        if (!refill()) break;  // the line ends with the file
    }
    if (length > 0 && last == '\r') --length;
    ++linesRead;

    const size_t copied = length < width ? length : width;
    if (copied > 0) std::memcpy(field, head, copied);
    if (copied < width) std::memset(field + copied, ' ', width - copied);
    return true;
}

bool int_field_too_large(const char* field, size_t width) {
    bool seenSign = false;
    bool seenDigit = false;
    for (size_t i = 0; i < width; ++i) {
        const char c = field[i];
        if (c == ' ') continue;
        if (c == '+' || c == '-') {
            if (seenSign || seenDigit) return false;
            seenSign = true;
            continue;
        }
        if (c < '0' || c > '9') return false;
        seenDigit = true;
    }
    return !read_int_field(field, width).has_value();
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
