// Small text helpers of the exchange-format readers (DXF and RUL): lines
// with any line end, blanks, case-blind comparison, numbers as the files
// write them.
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace teilimp::exchange {

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && (is_blank(s.front()) || s.front() == '\0')) s.remove_prefix(1);
    while (!s.empty() && (is_blank(s.back()) || s.back() == '\0')) s.remove_suffix(1);
    return s;
}

inline char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

inline bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
    return true;
}

inline bool istarts_with(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

namespace detail {

// Bit k set where p[k] is CR or LF, for the n <= 64 bytes from p on.
inline uint64_t line_end_mask(const char* p, size_t n) {
#if defined(__SSE2__)
    if (n == 64) {
        const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
        uint64_t m = 0;
        for (int k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
            const __m128i e = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr));
            m |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(e))} << (16 * k);
        }
        return m;
    }
#endif
    uint64_t m = 0;
    for (size_t k = 0; k < n; ++k)
        if (p[k] == '\n' || p[k] == '\r') m |= uint64_t{1} << k;
    return m;
}

}  // namespace detail

// Lines of a byte block: LF, CR LF and a lone CR each end a line; a UTF-8
// byte-order mark at the start is skipped.
class LineCursor {
public:
    explicit LineCursor(std::span<const uint8_t> bytes)
        : pos_(reinterpret_cast<const char*>(bytes.data())), end_(pos_ + bytes.size()), maskAt_(pos_) {
        load_mask(pos_);
        if (bytes.size() >= 3 && std::memcmp(pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;
    }
    bool at_end() const { return pos_ >= end_; }
    // The bytes from the start of the next line on, to look at a line
    // before taking it; skip_line(n) then takes it, its first n bytes
    // being all of it and the byte after them its CR or LF.
    std::string_view rest() const { return std::string_view(pos_, static_cast<size_t>(end_ - pos_)); }
    void skip_line(size_t n) {
        const char* const end = pos_ + n;
        pos_ = end + 1;
        if (*end == '\r' && pos_ < end_ && *pos_ == '\n') ++pos_;
    }
    // The next line without its line end; false at the end of the bytes.
    [[gnu::always_inline]] bool next(std::string_view& line) {
        if (at_end()) return false;
        const char* const end = line_end();
        line = std::string_view(pos_, static_cast<size_t>(end - pos_));
        if (end == end_) pos_ = end_;  // the last line, without a line end
        else skip_line(line.size());
        return true;
    }

private:
    // The first CR or LF at or after pos_ (end_: none). The line ends of
    // 64 bytes at a time are kept as a mask: the lines of these files are
    // a few bytes long, so a loop over their bytes would guess each line's
    // end wrong; and the bytes are looked at once however long the lines
    // are.
    const char* line_end() {
        const char* at = pos_;
        for (;;) {
            if (at - maskAt_ >= 64) {
                if (at >= end_) return end_;
                load_mask(at);
            }
            if (const uint64_t m = mask_ >> (at - maskAt_)) return at + std::countr_zero(m);
            if (end_ - maskAt_ <= 64) return end_;
            at = maskAt_ + 64;
        }
    }
    void load_mask(const char* at) {
        maskAt_ = at;
        mask_ = detail::line_end_mask(at, std::min<size_t>(64, static_cast<size_t>(end_ - at)));
    }

    const char* pos_;
    const char* end_;
    const char* maskAt_;  // the mask covers the 64 bytes from here (those there are)
    uint64_t mask_ = 0;
};

namespace detail {

inline bool is_digit(char c) { return static_cast<unsigned>(c - '0') <= 9; }

// Digits with at most one point and no exponent ("-12.345"), at most 15
// digits, from p on: their value is the integer of the digits divided by a
// power of ten, both exact in a double, so that the one rounding of the
// division gives the nearest double, as from_chars does. Where they end,
// or null (value untouched) when there are none or too many.
inline const char* decimal_prefix(const char* p, const char* end, double& value) {
    static constexpr double kTens[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    uint64_t digits = 0;
    const char* q = p;
    while (q != end && is_digit(*q)) digits = digits * 10 + static_cast<uint64_t>(*q++ - '0');
    const auto whole = static_cast<size_t>(q - p);
    size_t after = 0;
    if (q != end && *q == '.') {
        const char* const fraction = ++q;
        while (q != end && is_digit(*q)) digits = digits * 10 + static_cast<uint64_t>(*q++ - '0');
        after = static_cast<size_t>(q - fraction);
    }
    // Past 15 digits the integer may have wrapped: only what was counted
    // is used.
    if (whole + after == 0 || whole + after > 15) return nullptr;
    const double v = static_cast<double>(digits) / kTens[after];
    value = negative ? -v : v;
    return q;
}

// All of s (trimmed, not empty) in decimal_prefix's form; false (value
// untouched) for anything else.
inline bool simple_decimal(std::string_view s, double& value) {
    const char* const end = s.data() + s.size();
    double v = 0;
    if (decimal_prefix(s.data(), end, v) != end) return false;
    value = v;
    return true;
}

// The line at the start of `rest` when it holds a number of
// simple_decimal's form in at most eight bytes after an optional '-'
// (digits and at most one point), then CR or LF: true with its value and
// the line's length (without its end), else false, also where `rest` has
// fewer than nine bytes after the sign. Taken apart eight bytes at once,
// so that the length, which differs from line to line, costs no branch
// per byte.
[[gnu::always_inline]] inline bool short_number_line(std::string_view rest, double& value, size_t& length) {
    if constexpr (std::endian::native != std::endian::little) return false;
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    const size_t sign = !rest.empty() && rest[0] == '-' ? 1 : 0;
    if (rest.size() < sign + 9) return false;
    uint64_t w = 0;
    std::memcpy(&w, rest.data() + sign, 8);
    // The high bit of each byte that equals b, no other bit.
    auto marks = [](uint64_t x, uint8_t b) {
        const uint64_t z = x ^ (kOnes * b);
        return ~(((z & ~kHigh) + ~kHigh) | z | ~kHigh);
    };
    const char after8 = rest[sign + 8];
    uint64_t ends = marks(w, '\n') | marks(w, '\r');
    size_t n = 8;  // the number's bytes
    if (ends) n = static_cast<size_t>(std::countr_zero(ends)) / 8;
    else if (after8 != '\n' && after8 != '\r') return false;
    if (n == 0) return false;
    if (n < 8) w &= (uint64_t{1} << (8 * n)) - 1;
    const uint64_t dots = marks(w, '.');
    size_t count = n, fraction = 0;
    if (dots) {
        if (dots & (dots - 1)) return false;  // two points
        const auto k = static_cast<size_t>(std::countr_zero(dots)) / 8;
        const uint64_t low = w & ((uint64_t{1} << (8 * k)) - 1);
        const uint64_t high = k < 7 ? (w >> (8 * k + 8)) << (8 * k) : 0;
        w = low | high;
        count = n - 1;
        fraction = n - 1 - k;
    }
    if (count == 0) return false;
    // The digits to the top of the word, '0's below them.
    if (count < 8) w = (w << (8 * (8 - count))) | (kOnes * '0' & ((uint64_t{1} << (8 * (8 - count))) - 1));
    if ((((w + kOnes * 0x46) | (w - kOnes * '0')) & kHigh) != 0) return false;  // not all digits
    // Eight digits to their number: pairs, then fours, then the eight.
    w -= kOnes * '0';
    w = w * 10 + (w >> 8);
    w = (((w & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
         (((w >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
    static constexpr double kTens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
    const double v = static_cast<double>(w) / kTens[fraction];
    value = sign ? -v : v;
    length = sign + n;
    return true;
}

}  // namespace detail

// A decimal number as the files write it ("12", "-0.5", ".152", "+3e2",
// "1.", blanks around it). False for anything else and for values that are
// not finite.
inline bool parse_decimal(std::string_view s, double& value) {
    const char* p = s.data();
    const char* e = p + s.size();
    while (p != e && (is_blank(*p) || *p == '\0')) ++p;
    while (e != p && (is_blank(e[-1]) || e[-1] == '\0')) --e;
    if (p != e && *p == '+') ++p;
    if (p == e) return false;
    s = std::string_view(p, static_cast<size_t>(e - p));
    if (detail::simple_decimal(s, value)) return true;
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

inline bool parse_int(std::string_view s, int32_t& value) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    value = v;
    return true;
}

}  // namespace teilimp::exchange
