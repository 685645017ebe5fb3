// The Windows rules for names, as pure code over strings and directory
// listings: case folding (code page 1252 and whole UTF-8 characters), the
// wildcards of a search and its order, paths taken apart (drive letter,
// separators, "." and ".."), the resolution of a typed path to the names a
// directory listing holds, and the directory whose names are taken as
// exact. The POSIX and the memory file systems both follow them. Not a
// public header: only the layer's own files include it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace teilimp::platform::names {

// ------------------------------------------------------------ folding

unsigned char upper1252(unsigned char c);
unsigned char lower1252(unsigned char c);

// One character of a name: a well-formed UTF-8 character whole (a code
// page 1252 letter among them folded as that letter), any other byte as a
// code page 1252 character.
struct Folded {
    uint32_t key;  // a byte below 0x100, else 0x100 + upper-cased code point
    size_t len;    // bytes used
};
Folded fold_at(std::string_view s, size_t i);

// Sort key of a name: its upper-cased form (UTF-8 letters re-encoded).
std::string upper_key(std::string_view s);
// A key that two names share exactly when same_name() holds for them.
std::string fold_key(std::string_view s);
bool same_name(std::string_view a, std::string_view b);

// ------------------------------------------------------------ searches

// The name rules of the Windows search: * any run, ? one character,
// case-blind; "*.*" matches every name, a pattern ending in ".*" also the
// name without an extension, one ending in "." names without a dot.
bool pattern_match(std::string_view pat, std::string_view name);
// A search pattern's directory (up to its last separator or the drive's
// colon) and its last component.
void split_pattern(std::string_view pattern, std::string_view& dirPart, std::string_view& namePart);
// The last component names one entry: no wildcards, not "." or "..".
bool plain_name(std::string_view namePart);
// True when a listed name is one the search reports: it matches, and a
// hidden name only for a pattern that asks for it; never "." and "..".
bool listed_match(std::string_view namePart, std::string_view name);

// The order of a search: upper-cased names, then the names themselves.
template <typename Item, typename NameOf>
void sort_as_search(std::vector<Item>& items, NameOf nameOf) {
    if (items.size() < 2) return;
    std::vector<std::string> upper;
    upper.reserve(items.size());
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        order[i] = i;
        upper.push_back(upper_key(nameOf(items[i])));
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (upper[a] != upper[b]) return upper[a] < upper[b];
        return nameOf(items[a]) < nameOf(items[b]);
    });
    std::vector<Item> sorted;
    sorted.reserve(order.size());
    for (size_t i : order) sorted.push_back(std::move(items[i]));
    items = std::move(sorted);
}

// ------------------------------------------------------------ paths

inline bool is_sep(char c) { return c == '\\' || c == '/'; }
// The drive letter of "L:...", upper-cased; false if the path has none.
bool drive_letter(std::string_view path, char& letter);
// The directory that stands for drive `letter` (TEILIMP_DRIVE_<L>); false
// if the drive is unmapped.
bool drive_dir(char letter, std::string& dir);

// Appends a name to a directory path, with a "/" where needed.
void append_name(std::string& path, std::string_view name);
std::string join(const std::string& dir, std::string_view name);
// The components of a path, separators dropped.
std::vector<std::string_view> split(std::string_view rest);
// Drops "." and folds ".." into the component before it, as Windows does
// with every path; ".." never climbs above a drive's root or "/". In place.
void normalise(std::vector<std::string_view>& parts, bool rooted);

// A path as written, taken apart: the drive mapped, "." and ".." folded.
struct PathForm {
    bool mapped = true;        // false: the path names an unmapped drive
    std::string base;          // the drive's directory, "/" or "" (relative)
    std::string_view rest;     // the path after the drive letter
    std::vector<std::string_view> parts;
    bool dirOnly = false;      // the path ends in a separator
    std::string exact;         // base and parts joined, every name as given
};
PathForm path_form(std::string_view path);

// ------------------------------------------------------------ resolution

// A path resolved against the names on disk.
struct Resolved {
    std::string native;
    bool mapped = true;        // false: the path names an unmapped drive
    bool found = false;        // the whole path exists
    bool parentFound = false;  // every directory above the last component exists
    bool dirOnly = false;      // the path ends in a separator: only a directory fits
    bool notDir = false;       // ... but it names an existing file
};

// What resolution asks of a file system, on native paths ("" is the
// current directory).
struct Listing {
    void* context = nullptr;
    bool (*exists)(void* context, const std::string& path);
    bool (*is_directory)(void* context, const std::string& path);
    // Calls `each` with every name in directory `dir`; false if it can't
    // be listed.
    bool (*list)(void* context, const std::string& dir, void (*each)(void* sink, std::string_view name),
                 void* sink);
    // True when `path` names an entry directly in the directory whose
    // names are exact (see ExactNames): a missing name there is missing.
    bool (*in_exact_dir)(void* context, const std::string& path);
};

// The entry of `dir` whose name equals `name` but for case; false if none.
// Of several such entries the one first in byte order is taken, so the
// choice does not depend on the directory's order.
bool find_case_insensitive(const Listing& fs, const std::string& dir, std::string_view name,
                           std::string& found);

// Turns a path as the user writes it into the native path: the drive
// mapped, each existing component replaced by its name on disk. Components
// from the first missing one on are kept as given, so a new file keeps its
// case.
Resolved resolve(const Listing& fs, std::string_view path);

// Code for a path that could not be resolved to an existing file.
uint32_t missing_code(const Resolved& r);

// ------------------------------------------------------ exact names

// The directory whose names are taken exactly as given (assume_exact_names):
// its native path, empty if none; as it was named when declared (drive
// mapped, "." and ".." folded, names as given), so that paths naming it so
// find it too; and whether its owner could write in it then (a new file
// may be made there without a look at the directory first).
struct ExactNames {
    std::string dir;
    std::string spelled;
    bool takesFiles = false;
};

// True when `exact` names an entry directly inside the directory `dir`.
bool entry_of(const std::string& exact, const std::string& dir);
// The native path of a file named directly inside the directory declared
// exact, found without looking at the disk. With `forNewFile`, only while
// that directory takes new files.
bool exact_entry(const ExactNames& e, std::string_view path, std::string& native, bool forNewFile);
// The same for the directory declared exact itself.
bool exact_directory(const ExactNames& e, std::string_view path, std::string& native);

}  // namespace teilimp::platform::names
