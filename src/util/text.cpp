// Text routines on fixed-length, blank-padded fields, and the library's
// error hook.
#include "util/text.h"

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace teilimp::util {

namespace {

bool is_blank_or_nul(char c) { return c == ' ' || c == '\0'; }

// Whether reports of the error hook are wanted; asked once per process.
bool liberr_enabled() {
    static const bool enabled = [] {
        std::string value;
        return platform::get_env("TEILIMP_LIBERR", value);
    }();
    return enabled;
}

char upper(char c) {
    return static_cast<char>(platform::upper_ansi(static_cast<unsigned char>(c)));
}
char lower(char c) {
    return static_cast<char>(platform::lower_ansi(static_cast<unsigned char>(c)));
}

// Shared worker of leedelq and leedelqup: drops blanks and NULs outside
// double-quoted sections, optionally upper-casing what it keeps there.
int32_t leedelq_worker(char* text, int32_t n, bool upcase) {
    if (n <= 0) return 0;
    bool inside = false;
    int32_t k = 0;
    for (int32_t p = 0; p < n; ++p) {
        char c = text[p];
        if (c == '"') {
            inside = !inside;
        } else if (!inside) {
            if (is_blank_or_nul(c)) continue;
            if (upcase) c = upper(c);
        }
        text[k++] = c;
    }
    std::memset(text + k, '\0', static_cast<size_t>(n - k));
    return k;
}

}  // namespace

void liberr(std::string_view tag, int32_t code) {
    if (!liberr_enabled()) return;
    std::string line = "liberr: ";
    line.append(tag);
    line += ' ';
    line += std::to_string(code);
    platform::error_line(line);
}

int32_t siglen(const char* text, int32_t n) {
    for (int32_t p = n; p >= 1; --p) {
        if (!is_blank_or_nul(text[p - 1])) return p;
    }
    return 0;
}

int32_t leedel(char* text, int32_t n) {
    if (n <= 0) return 0;
    int32_t k = 0;
    for (int32_t p = 0; p < n; ++p) {
        if (!is_blank_or_nul(text[p])) text[k++] = text[p];
    }
    std::memset(text + k, ' ', static_cast<size_t>(n - k));
    return k;
}

void GroKleGro(char* text, int32_t n, int32_t direction) {
    if (n < 0) {
        liberr("GroKleGro");
        return;
    }
    if (n == 0) return;
    char (*convert)(char) = direction == 0 ? upper : lower;
    // text(1:n-1) is converted as a NUL-terminated string: it ends at the
    // first NUL. The last character is converted on its own, always.
    for (int32_t p = 0; p < n - 1 && text[p] != '\0'; ++p) text[p] = convert(text[p]);
    text[n - 1] = convert(text[n - 1]);
}

void KleGro(char* text, int32_t n) {
    if (n < 0) liberr("KleGro");
    GroKleGro(text, n, 0);
}

void GroKle(char* text, int32_t n) {
    if (n < 0) liberr("GroKle");
    GroKleGro(text, n, 1);
}

void fillch(char* text, int32_t n, char ch) {
    if (n <= 0) return;
    std::memset(text, static_cast<unsigned char>(ch), static_cast<size_t>(n));
}

int16_t nsuche(const char* text, int32_t n, const char* sub, int32_t m) {
    if (n < 0 || m < 0) {
        liberr("nsuche");
        return 0;
    }
    if (n == 0 || m == 0 || m > n) return 0;
    std::string_view hay(text, static_cast<size_t>(n));
    size_t pos = hay.find(std::string_view(sub, static_cast<size_t>(m)));
    return pos == std::string_view::npos ? int16_t{0} : static_cast<int16_t>(pos + 1);
}

int16_t nsuche_H(const char* text, int32_t n, const char* sub, int32_t m) {
    if (n < 0 || m < 0) {
        liberr("nsuche_H");
        return 0;
    }
    if (n == 0 || m == 0 || m > n) return 0;
    std::string_view hay(text, static_cast<size_t>(n));
    size_t pos = hay.rfind(std::string_view(sub, static_cast<size_t>(m)));
    return pos == std::string_view::npos ? int16_t{0} : static_cast<int16_t>(pos + 1);
}

int32_t chcount(const char* text, int32_t n, char ch) {
    int32_t count = 0;
    for (int32_t p = 0; p < n; ++p) {
        if (text[p] == ch) ++count;
    }
    return count;
}

void upquote(char* text, int32_t n) {
    bool inside = false;
    for (int32_t p = 0; p < n; ++p) {
        if (text[p] == '"') {
            inside = !inside;
        } else if (!inside) {
            text[p] = upper(text[p]);
        }
    }
}

int32_t leedelq(char* text, int32_t n) { return leedelq_worker(text, n, false); }

int32_t leedelqup(char* text, int32_t n) { return leedelq_worker(text, n, true); }

int32_t ltrim(char* text, int32_t n) {
    if (n <= 0) return 0;
    int32_t first = 0;
    while (first < n && is_blank_or_nul(text[first])) ++first;
    int32_t kept = n - first;
    if (first > 0 && kept > 0) std::memmove(text, text + first, static_cast<size_t>(kept));
    return kept;
}

int32_t trimmid(char* text, int32_t n) {
    int32_t first = 0;
    while (first < n && text[first] == ' ') ++first;
    if (first >= n) return 0;  // nothing but blanks (or an empty field)
    int32_t last = n - 1;
    while (text[last] == ' ') --last;
    int32_t len = last - first + 1;
    if (first > 0) std::memmove(text, text + first, static_cast<size_t>(len));
    return len;
}

int32_t blank1(char* text, int32_t n) {
    if (n <= 0) return 0;
    int32_t k = 0;
    for (int32_t p = 0; p < n; ++p) {
        if (text[p] == ' ' && k > 0 && text[k - 1] == ' ') continue;
        text[k++] = text[p];
    }
    return (text[k - 1] == ' ') ? k - 1 : k;
}

}  // namespace teilimp::util
