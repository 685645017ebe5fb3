// Small text helpers of the exchange-format readers (DXF and RUL): lines
// with any line end, blanks, case-blind comparison, numbers as the files
// write them.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

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

// Lines of a byte block: LF, CR LF and a lone CR each end a line; a UTF-8
// byte-order mark at the start is skipped.
class LineCursor {
public:
    explicit LineCursor(std::span<const uint8_t> bytes)
        : data_(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {
        if (data_.size() >= 3 && data_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    }
    bool at_end() const { return pos_ >= data_.size(); }
    // The next line without its line end; false at the end of the bytes.
    bool next(std::string_view& line) {
        if (at_end()) return false;
        const size_t start = pos_;
        const size_t end = std::min(next_of('\n', lf_), next_of('\r', cr_));
        line = data_.substr(start, end - start);
        pos_ = end;
        if (pos_ < data_.size() && data_[pos_] == '\r') ++pos_;
        if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
        return true;
    }

private:
    static constexpr size_t kUnknown = static_cast<size_t>(-1);

    // Where the next `c` at or after pos_ stands (data_.size(): nowhere),
    // remembered in `known`: the bytes are searched once for each of the
    // two line-end bytes, whichever the file uses (searching the rest for
    // an LF at every line would go over a file of lone CRs once per line).
    // memchr rather than a loop: lines are searched byte by byte millions
    // of times while fuzzing.
    size_t next_of(char c, size_t& known) {
        if (known != kUnknown && known >= pos_) return known;
        const void* at = std::memchr(data_.data() + pos_, c, data_.size() - pos_);
        known = at ? static_cast<size_t>(static_cast<const char*>(at) - data_.data()) : data_.size();
        return known;
    }

    std::string_view data_;
    size_t pos_ = 0;
    size_t lf_ = kUnknown;
    size_t cr_ = kUnknown;
};

// A decimal number as the files write it ("12", "-0.5", ".152", "+3e2",
// "1.", blanks around it). False for anything else and for values that are
// not finite.
inline bool parse_decimal(std::string_view s, double& value) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
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
