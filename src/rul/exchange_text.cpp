#include "rul/exchange_text.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace teilimp::rul {

namespace {

// ISO 8859-1 code of each character 128-255 of code page 850; the ones
// ISO 8859-1 lacks numbered 128-159 in code-page order.
constexpr unsigned char kLatin1OfCp850[128] = {
    199, 252, 233, 226, 228, 224, 229, 231, 234, 235, 232, 239, 238, 236, 196, 197,
    201, 230, 198, 244, 246, 242, 251, 249, 255, 214, 220, 248, 163, 216, 215, 128,
    225, 237, 243, 250, 241, 209, 170, 186, 191, 174, 172, 189, 188, 161, 171, 187,
    129, 130, 131, 132, 133, 193, 194, 192, 169, 134, 135, 136, 137, 162, 165, 138,
    139, 140, 141, 142, 143, 144, 227, 195, 145, 146, 147, 148, 149, 150, 151, 164,
    240, 208, 202, 203, 200, 152, 205, 206, 207, 153, 154, 155, 156, 166, 204, 157,
    211, 223, 212, 210, 245, 213, 181, 254, 222, 218, 219, 217, 253, 221, 175, 180,
    173, 177, 158, 190, 182, 167, 247, 184, 176, 168, 183, 185, 179, 178, 159, 160,
};

constexpr std::array<unsigned char, 128> inverse_table() {
    std::array<unsigned char, 128> t{};
    for (int i = 0; i < 128; ++i) t[kLatin1OfCp850[i] - 128] = static_cast<unsigned char>(128 + i);
    return t;
}
constexpr std::array<unsigned char, 128> kCp850OfLatin1 = inverse_table();

void append_code(std::string& out, unsigned code) {
    char b[8];
    std::snprintf(b, sizeof b, "%%%%%03u", code);
    out += b;
}

std::string escape(std::string_view s, bool token) {
    std::string out;
    out.reserve(s.size() + 8);
    if (token && s.empty()) return "%%000";
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const bool edgeBlank = c == ' ' && (token || i == 0 || i + 1 == s.size());
        if (c == '%') out += "%%%";
        else if (c < 32 || c == 127 || edgeBlank) append_code(out, c);
        else if (c >= 128) append_code(out, latin1_of_cp850(c));
        else out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

const char* units_keyword(Units u) { return u == Units::Mm ? "METRIC" : "ENGLISH"; }

std::string format_length(int64_t tenths, Units u) {
    std::string out;
    append_length(out, tenths, u);
    return out;
}

void append_length(std::string& out, int64_t tenths, Units u) {
    const bool negative = tenths < 0;
    const uint64_t a = negative ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
    uint64_t whole = a / 10, fraction = a % 10;
    int digits = 1;
    if (u == Units::Inch) {
        // Whole inches and the thousandths of the rest (halves away from
        // zero), apart, so that no product leaves 64 bits.
        whole = a / 254;
        fraction = (a % 254 * 2000 + 254) / 508;
        if (fraction == 1000) {
            ++whole;
            fraction = 0;
        }
        digits = 3;
    }
    char b[32];
    char* p = b;
    if (negative) *p++ = '-';
    p = std::to_chars(p, b + sizeof b, whole).ptr;
    *p++ = '.';
    for (int k = digits - 1; k >= 0; --k) {
        p[k] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    out.append(b, static_cast<size_t>(p + digits - b));
}

std::string escape_text(std::string_view cp850) { return escape(cp850, false); }
std::string escape_token(std::string_view cp850) { return escape(cp850, true); }

bool unescape_text(std::string_view s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 < s.size() && s[i + 1] == '%' && s[i + 2] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        if (i + 4 >= s.size() || s[i + 1] != '%') return false;
        unsigned code = 0;
        for (size_t k = i + 2; k < i + 5; ++k) {
            if (s[k] < '0' || s[k] > '9') return false;
            code = code * 10 + static_cast<unsigned>(s[k] - '0');
        }
        if (code > 255) return false;
        const auto c = static_cast<unsigned char>(code);
        out += static_cast<char>(c >= 128 ? cp850_of_latin1(c) : c);
        i += 4;
    }
    return true;
}

unsigned char latin1_of_cp850(unsigned char c) { return c < 128 ? c : kLatin1OfCp850[c - 128]; }
unsigned char cp850_of_latin1(unsigned char c) { return c < 128 ? c : kCp850OfLatin1[c - 128]; }

std::string exchange_date(const platform::CalendarTime& t) {
    char b[32];
    std::snprintf(b, sizeof b, "%02d-%02d-%04d", t.month, t.day, t.year);
    return b;
}

std::string exchange_time(const platform::CalendarTime& t) {
    char b[32];
    std::snprintf(b, sizeof b, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return b;
}

}  // namespace teilimp::rul
