#include "area_tool/output.h"

#include <array>
#include <cstdio>

#include "platform/platform.h"

namespace teilimp::area_tool {

namespace {

// The Unicode character of a code page 850 byte.
uint32_t converted_code_point(unsigned char c) {
    if (c < 0x80) return c;
    const std::string u = platform::cp850_to_utf8(std::string_view(reinterpret_cast<const char*>(&c), 1));
    if (u.size() == 2) return (u[0] & 0x1Fu) << 6 | (u[1] & 0x3Fu);
    if (u.size() == 3) return (u[0] & 0x0Fu) << 12 | (u[1] & 0x3Fu) << 6 | (u[2] & 0x3Fu);
    return '?';
}

// The same from a table made at the first use.
uint32_t code_point(unsigned char c) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (size_t i = 0; i < t.size(); ++i) t[i] = converted_code_point(static_cast<unsigned char>(i));
        return t;
    }();
    return table[c];
}

// "\u" and the character's four hex digits (all of code page 850 is in the
// first plane).
void append_json_escape(std::string& out, uint32_t code) {
    constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 15];
}

// The bytes a JSON string holds as they are: printable ASCII but the quote
// and the backslash.
constexpr std::array<bool, 256> kJsonPlain = [] {
    std::array<bool, 256> t{};
    for (size_t c = 0x20; c < 0x7F; ++c) t[c] = c != '"' && c != '\\';
    return t;
}();

}  // namespace

void append_json_string(std::string& out, std::string_view cp850) {
    out += '"';
    size_t plain = 0;  // start of the bytes not yet appended
    for (size_t i = 0; i < cp850.size(); ++i) {
        const auto c = static_cast<unsigned char>(cp850[i]);
        if (kJsonPlain[c]) continue;
        out.append(cp850.data() + plain, i - plain);
        plain = i + 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            append_json_escape(out, code_point(c));
        }
    }
    out.append(cp850.data() + plain, cp850.size() - plain);
    out += '"';
}

std::string json_string(std::string_view cp850) {
    std::string out;
    out.reserve(cp850.size() + 2);
    append_json_string(out, cp850);
    return out;
}

std::string xml_text(std::string_view cp850) {
    std::string out;
    char buf[12];
    for (char ch : cp850) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '&': out += "&amp;"; continue;
            case '<': out += "&lt;"; continue;
            case '>': out += "&gt;"; continue;
            case '"': out += "&quot;"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            out += '?';  // not allowed in XML
        } else if (c < 0x7F) {
            out += ch;
        } else {
            std::snprintf(buf, sizeof buf, "&#%u;", static_cast<unsigned>(code_point(c)));
            out += buf;
        }
    }
    return out;
}

std::string console_text(std::string_view cp850) {
    std::string out(cp850);
    for (char& ch : out)
        if (static_cast<unsigned char>(ch) < 0x20) ch = '?';
    return out;
}

}  // namespace teilimp::area_tool
