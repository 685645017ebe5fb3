// The Windows rules for names: folding, searches, paths, resolution and
// the directory of exact names, over strings and listings only.
#include "platform/names.h"

#include <cstdlib>

#include "platform/platform.h"

namespace teilimp::platform::names {

// ------------------------------------------------------------ folding

unsigned char upper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
    switch (c) {
        case 0x9A: return 0x8A;
        case 0x9C: return 0x8C;
        case 0x9E: return 0x8E;
        case 0xFF: return 0x9F;
        default: return c;
    }
}

unsigned char lower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x8A: return 0x9A;
        case 0x8C: return 0x9C;
        case 0x8E: return 0x9E;
        case 0x9F: return 0xFF;
        default: return c;
    }
}

namespace {

// Names on disk are mostly UTF-8 on POSIX. A well-formed UTF-8 character is
// taken whole: a code page 1252 letter among them is folded as that letter
// (so "\xC3\xBC" matches "\xC3\x9C"), and its bytes are never folded one
// by one, which would make distinct letters equal (U+00DC "\xC3\x9C" and
// U+00CC "\xC3\x8C").
uint32_t upper_code_point(uint32_t cp) {
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
    switch (cp) {
        case 0xFF: return 0x178;   // y with diaeresis
        case 0x161: return 0x160;  // s with caron
        case 0x153: return 0x152;  // oe
        case 0x17E: return 0x17D;  // z with caron
        default: return cp;
    }
}

// Length of the well-formed UTF-8 character at s[i] (2 to 4), else 0.
size_t utf8_length(std::string_view s, size_t i, uint32_t& cp) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char c = b(0);
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < len; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (cp & 0x3F));
}

}  // namespace

Folded fold_at(std::string_view s, size_t i) {
    uint32_t cp = 0;
    if (size_t len = utf8_length(s, i, cp); len != 0) return {0x100 + upper_code_point(cp), len};
    return {upper1252(static_cast<unsigned char>(s[i])), 1};
}

std::string upper_key(std::string_view s) {
    std::string k;
    k.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        Folded f = fold_at(s, i);
        if (f.key < 0x100)
            k += static_cast<char>(f.key);
        else
            append_utf8(k, f.key - 0x100);
        i += f.len;
    }
    return k;
}

// ASCII names (the usual ones) keep one byte a character; a key of 0x80
// or more takes a marker byte and three bytes, so no two fold sequences
// share a key.
std::string fold_key(std::string_view s) {
    std::string k;
    k.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        Folded f = fold_at(s, i);
        if (f.key < 0x80) {
            k += static_cast<char>(f.key);
        } else {
            k += '\xFF';
            k += static_cast<char>(f.key >> 16);
            k += static_cast<char>((f.key >> 8) & 0xFF);
            k += static_cast<char>(f.key & 0xFF);
        }
        i += f.len;
    }
    return k;
}

bool same_name(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto p = static_cast<unsigned char>(a[i]), q = static_cast<unsigned char>(b[j]);
        if (p < 0x80 && q < 0x80) {
            // ASCII, the usual case: only a-z fold.
            if (upper1252(p) != upper1252(q)) return false;
            ++i;
            ++j;
            continue;
        }
        Folded x = fold_at(a, i), y = fold_at(b, j);
        if (x.key != y.key) return false;
        i += x.len;
        j += y.len;
    }
    return i == a.size() && j == b.size();
}

// ------------------------------------------------------------ searches

namespace {

// Wildcard match of one name: * any run, ? one character, case-blind.
bool glob_match(std::string_view pat, std::string_view name) {
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        Folded c = fold_at(name, n);
        if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starN = n;
            continue;
        }
        if (p < pat.size() && pat[p] == '?') {
            ++p;
            n += c.len;
            continue;
        }
        if (p < pat.size()) {
            Folded q = fold_at(pat, p);
            if (q.key == c.key) {
                p += q.len;
                n += c.len;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        p = starP + 1;
        starN += fold_at(name, starN).len;
        n = starN;
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

}  // namespace

bool pattern_match(std::string_view pat, std::string_view name) {
    if (pat == "*.*" || pat == "*") return true;
    if (glob_match(pat, name)) return true;
    if (pat.size() >= 2 && pat.substr(pat.size() - 2) == ".*")
        return glob_match(pat.substr(0, pat.size() - 2), name);
    if (!pat.empty() && pat.back() == '.' && name.find('.') == std::string_view::npos)
        return glob_match(pat.substr(0, pat.size() - 1), name);
    return false;
}

void split_pattern(std::string_view pattern, std::string_view& dirPart, std::string_view& namePart) {
    size_t cut = pattern.find_last_of("\\/");
    dirPart = {};
    if (cut != std::string_view::npos) {
        dirPart = pattern.substr(0, cut + 1);
        namePart = pattern.substr(cut + 1);
    } else if (pattern.size() >= 2 && pattern[1] == ':') {
        dirPart = pattern.substr(0, 2);
        namePart = pattern.substr(2);
    } else {
        namePart = pattern;
    }
}

bool plain_name(std::string_view namePart) {
    return !namePart.empty() && namePart.find_first_of("*?") == std::string_view::npos && namePart != "." &&
           namePart != "..";
}

bool listed_match(std::string_view namePart, std::string_view name) {
    if (name == "." || name == "..") return false;
    if (namePart.empty() || !pattern_match(namePart, name)) return false;
    return name[0] != '.' || namePart[0] == '.';
}

// ------------------------------------------------------------ paths

bool drive_letter(std::string_view path, char& letter) {
    if (path.size() < 2 || path[1] != ':') return false;
    char c = path[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c < 'A' || c > 'Z') return false;
    letter = c;
    return true;
}

bool drive_dir(char letter, std::string& dir) {
    char name[] = "TEILIMP_DRIVE_X";
    name[sizeof name - 2] = letter;
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') return false;
    dir = v;
    return true;
}

void append_name(std::string& path, std::string_view name) {
    if (!path.empty() && path.back() != '/') path += '/';
    path.append(name);
}

std::string join(const std::string& dir, std::string_view name) {
    std::string r;
    r.reserve(dir.size() + 1 + name.size());
    r = dir;
    append_name(r, name);
    return r;
}

std::vector<std::string_view> split(std::string_view rest) {
    std::vector<std::string_view> parts;
    parts.reserve(static_cast<size_t>(std::count_if(rest.begin(), rest.end(), is_sep)) + 1);
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && is_sep(rest[i])) ++i;
        size_t j = i;
        while (j < rest.size() && !is_sep(rest[j])) ++j;
        if (j > i) parts.push_back(rest.substr(i, j - i));
        i = j;
    }
    return parts;
}

void normalise(std::vector<std::string_view>& parts, bool rooted) {
    size_t kept = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string_view p = parts[i];
        if (p == ".") continue;
        if (p == "..") {
            if (kept > 0 && parts[kept - 1] != "..")
                --kept;
            else if (!rooted)
                parts[kept++] = p;
            continue;
        }
        parts[kept++] = p;
    }
    parts.resize(kept);
}

PathForm path_form(std::string_view path) {
    PathForm f;
    f.rest = path;
    char letter = 0;
    if (drive_letter(path, letter)) {
        if (!drive_dir(letter, f.base)) {
            f.mapped = false;
            return f;
        }
        f.rest = path.substr(2);
    } else if (!path.empty() && is_sep(path[0])) {
        f.base = "/";
    }
    f.parts = split(f.rest);
    normalise(f.parts, !f.base.empty());
    f.dirOnly = !f.parts.empty() && !f.rest.empty() && is_sep(f.rest.back());
    f.exact = f.base;
    for (auto p : f.parts) append_name(f.exact, p);
    return f;
}

// ------------------------------------------------------------ resolution

namespace {

struct CaseSearch {
    std::string_view name;
    std::string* found;
    bool any = false;
};

void take_case_match(void* sink, std::string_view n) {
    auto& s = *static_cast<CaseSearch*>(sink);
    if (!same_name(n, s.name)) return;
    if (!s.any || n < std::string_view(*s.found)) *s.found = n;
    s.any = true;
}

// A path ending in a separator names a directory: an existing file under
// that name is not found (Windows: invalid name).
Resolved& only_directory(const Listing& fs, Resolved& r) {
    if (r.dirOnly && r.found && !fs.is_directory(fs.context, r.native)) {
        r.found = false;
        r.notDir = true;
    }
    return r;
}

}  // namespace

bool find_case_insensitive(const Listing& fs, const std::string& dir, std::string_view name, std::string& found) {
    CaseSearch s{name, &found};
    if (!fs.list(fs.context, dir, take_case_match, &s)) return false;
    return s.any;
}

Resolved resolve(const Listing& fs, std::string_view path) {
    Resolved r;
    std::string base;  // the drive's directory, "/" or none
    std::string_view rest = path;
    char letter = 0;
    if (drive_letter(path, letter)) {
        if (!drive_dir(letter, base)) {
            r.mapped = false;
            return r;
        }
        rest = path.substr(2);
    } else if (!path.empty() && is_sep(path[0])) {
        base = "/";
    }
    std::vector<std::string_view> parts = split(rest);
    normalise(parts, !base.empty());
    r.dirOnly = !parts.empty() && !rest.empty() && is_sep(rest.back());
    if (parts.empty()) {
        r.native = base.empty() ? "." : base;
        r.found = fs.exists(fs.context, r.native);
        r.parentFound = r.found;  // a missing root is a missing path
        return r;
    }

    std::string exact;
    exact.reserve(base.size() + rest.size() + 1);
    exact = base;
    for (auto p : parts) append_name(exact, p);
    if (fs.exists(fs.context, exact)) {
        r.native = std::move(exact);
        r.found = r.parentFound = true;
        return only_directory(fs, r);
    }
    if (parts.back() != ".." && fs.in_exact_dir(fs.context, exact)) {
        // A missing name in a directory whose names are all exact.
        r.native = std::move(exact);
        r.parentFound = true;
        return r;
    }

    // Every component of a directory that exists as given is its own name
    // on disk (an existing path's prefixes exist): when the parent does,
    // only the last component is searched for.
    // (The parent is the exact path without its last name and separator.)
    std::string cur(base);
    size_t first = 0;
    if (parts.size() > 1) {
        std::string parent = exact.substr(0, exact.size() - parts.back().size() - 1);
        if (fs.exists(fs.context, parent)) {
            cur = std::move(parent);
            first = parts.size() - 1;
        }
    }
    for (size_t i = first; i < parts.size(); ++i) {
        std::string cand = join(cur, parts[i]);
        std::string match;
        const bool special = parts[i] == "..";
        const bool there = fs.exists(fs.context, cand);
        if (!there && !special && find_case_insensitive(fs, cur, parts[i], match))
            cand = join(cur, match);
        else if (!there) {
            // Missing: the rest is kept as given.
            r.parentFound = (i + 1 == parts.size()) && fs.is_directory(fs.context, cur);
            for (size_t j = i; j < parts.size(); ++j) append_name(cur, parts[j]);
            r.native = cur;
            return r;
        }
        cur = cand;
    }
    r.native = cur;
    r.found = r.parentFound = true;
    return only_directory(fs, r);
}

uint32_t missing_code(const Resolved& r) {
    if (!r.mapped || !r.parentFound) return kErrPathNotFound;
    if (r.notDir) return kErrInvalidName;
    return kErrFileNotFound;
}

// ------------------------------------------------------ exact names

bool entry_of(const std::string& exact, const std::string& dir) {
    return !dir.empty() && exact.size() > dir.size() && exact.compare(0, dir.size(), dir) == 0 &&
           exact[dir.size()] == '/' && exact.find('/', dir.size() + 1) == std::string::npos;
}

// The system call that uses the path tells by itself whether the name
// exists, so the lookup before it, a round trip on a network file system,
// is saved.
bool exact_entry(const ExactNames& e, std::string_view path, std::string& native, bool forNewFile) {
    if (e.dir.empty() || (forNewFile && !e.takesFiles)) return false;
    PathForm f = path_form(path);
    if (!f.mapped || f.parts.empty() || f.dirOnly || f.parts.back() == "..") return false;
    if (entry_of(f.exact, e.dir)) {
        native = std::move(f.exact);
        return true;
    }
    if (!entry_of(f.exact, e.spelled)) return false;
    native = join(e.dir, f.parts.back());
    return true;
}

bool exact_directory(const ExactNames& e, std::string_view path, std::string& native) {
    if (e.dir.empty()) return false;
    PathForm f = path_form(path);
    if (!f.mapped) return false;
    while (f.exact.size() > 1 && f.exact.back() == '/') f.exact.pop_back();
    if (f.exact != e.dir && f.exact != e.spelled) return false;
    native = e.dir;
    return true;
}

}  // namespace teilimp::platform::names
