// Fixed-column text lines of an EPN file: splitting the file into lines,
// padding each line into a field of fixed width, and reading the integer
// and keyword fields of a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "util/bytes.h"

namespace teilimp::reader {

// Walks over the lines of a file, held in memory or read through a buffer
// of its own. A line ends at LF; one CR directly before the LF (or at the
// very end of the file) is not part of the line. A final LF does not start
// another, empty line. Only the first columns of a line are kept, so a file
// is read in constant memory however long its lines are.
struct LineCursor {
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;
    platform::File* file = nullptr;  // null: the bytes are all in memory
    util::Bytes buffer;              // the chunk of the file being read
    int32_t linesRead = 0;           // lines handed out by next() so far

    explicit LineCursor(std::span<const uint8_t> bytes)
        : pos(bytes.data()), end(bytes.data() + bytes.size()) {}
    // Reads the open file from its current position. A read error ends the
    // file like its end does.
    explicit LineCursor(platform::File& f);

    // Copies the next line into field(0..width-1): a shorter line is padded
    // with blanks, characters beyond width are dropped. False at the end of
    // the file (the field is then left unchanged). width is at most 128.
    bool next(char* field, size_t width);

    // Loads the next chunk of the file; false when there is none.
    bool refill();
};

// Reads an integer field: blanks anywhere are ignored, one optional sign may
// stand before the first digit, a field of blanks (or a sign alone) reads
// as 0. Any other character, a sign after a digit, a second sign or a value
// outside int32 make the field unreadable (nullopt).
// Defined here, to be inlined: it reads every field of every line, and a
// call that hands the optional back through memory cost more than the
// reading.
inline std::optional<int32_t> read_int_field(const char* field, size_t width) {
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

// Why read_int_field refused a field: true when the field is a number
// whose value does not fit in int32 (blanks, one sign before the first
// digit and digits only), false when it holds something that is no number.
bool int_field_too_large(const char* field, size_t width);

// True when field(0..width-1) equals keyword padded with blanks to width
// (case-sensitive). The keyword must not be longer than the field.
bool is_keyword(const char* field, size_t width, std::string_view keyword);

// True when every character of field(0..width-1) is a blank.
bool is_blank(const char* field, size_t width);

}  // namespace teilimp::reader
