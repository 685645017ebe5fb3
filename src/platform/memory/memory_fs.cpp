// A file system held in memory, behind the same table as the system's: for
// tests and fuzzing, where every file operation on disk would cost far
// more than the code under test. It follows the POSIX rules of platform.h
// (drives mapped by TEILIMP_DRIVE_<L> to directories, here directories of
// its own tree under "/"; relative paths start at "/") and gives the POSIX
// file system's codes, with names told apart only by their folded form, as
// on Windows: one entry per name whatever its case, which keeps the case it
// was made with. Files keep their contents while open after their last
// name is gone; hard links share one content. What is not a file
// operation (time, console, processes) is the system's.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/internal.h"
#include "platform/names.h"
#include "platform/platform.h"

namespace teilimp::platform::memory {

namespace {

struct Node;
struct Entry {
    std::string name;  // as it was made
    std::shared_ptr<Node> node;
};

uint64_t g_used = 0;  // bytes of every content held (guarded by the lock)

struct Node {
    bool dir = false;
    bool readOnly = false;
    uint64_t index = 0;
    FileTime writeTime = 0;
    std::string data;
    // A directory's, in no order: looked through name by name (same_name),
    // which costs less than a folded key for every lookup in the few
    // entries a test's directory holds.
    std::vector<Entry> entries;
    ~Node() { g_used -= data.size(); }
};

struct OpenFile {
    std::shared_ptr<Node> node;
    uint64_t pos = 0;
    bool write = false;
};

struct State {
    std::recursive_mutex mutex;
    std::shared_ptr<Node> root;
    uint64_t nextIndex = 1;
    uint64_t capacity = uint64_t{1} << 30;
    std::vector<OpenFile> open;  // by File::native; a free slot has no node
    // Counts the directories taken out of the tree (removed, moved, the
    // tree made anew): a directory found for a path stays the one that path
    // leads to while it is unchanged.
    uint64_t treeChanges = 0;
};

State& state() {
    static State s;
    return s;
}

thread_local uint32_t t_lastError = kErrNone;

using Lock = std::lock_guard<std::recursive_mutex>;

FileTime now() { return detail::kSystemOps.file_time_now(); }

std::shared_ptr<Node> new_node(bool dir) {
    auto n = std::make_shared<Node>();
    n->dir = dir;
    n->index = state().nextIndex++;
    n->writeTime = now();
    return n;
}

// Where a path leads: the directory that holds (or is to hold) its last
// name, and what it names when that exists.
struct Where {
    bool mapped = true;
    bool found = false;
    bool parentFound = false;
    bool dirOnly = false;
    bool notDir = false;
    Node* dir = nullptr;    // the last name's directory (null for a root)
    std::string_view name;  // the last name as given
    Node* node = nullptr;   // what the path names, when found
    std::string native;     // with `wantNative`: the names on disk, then the rest as given
};

uint32_t missing(const Where& w) {
    if (!w.mapped || !w.parentFound) return kErrPathNotFound;
    if (w.notDir) return kErrInvalidName;
    return kErrFileNotFound;
}

// Code for a path that is to name a new file.
uint32_t new_file_code(const Where& w) {
    if (!w.mapped || !w.parentFound) return kErrPathNotFound;
    if (w.dirOnly) return kErrInvalidName;
    if (w.dir == nullptr || w.dir->readOnly) return kErrAccessDenied;
    return kErrNone;
}

constexpr size_t kNone = static_cast<size_t>(-1);

// The name as it is on disk first (the usual case), then in another case.
size_t find_entry(const Node* dir, std::string_view name) {
    const std::vector<Entry>& list = dir->entries;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].name == name) return i;
    for (size_t i = 0; i < list.size(); ++i)
        if (names::same_name(list[i].name, name)) return i;
    return kNone;
}

Entry* entry_of(Node* dir, std::string_view name) {
    const size_t i = find_entry(dir, name);
    return i == kNone ? nullptr : &dir->entries[i];
}

void add_entry(Node* dir, std::string_view name, std::shared_ptr<Node> node) {
    dir->entries.push_back({std::string(name), std::move(node)});
}

void drop_entry(Node* dir, std::string_view name) {
    const size_t i = find_entry(dir, name);
    if (i == kNone) return;
    if (dir->entries[i].node->dir) ++state().treeChanges;
    if (i + 1 != dir->entries.size()) dir->entries[i] = std::move(dir->entries.back());
    dir->entries.pop_back();
}

// The components of a path (the drive's directory as it is, then the rest
// with "." and ".." folded as names.h does), in storage kept from call to
// call: a walk allocates nothing.
std::vector<std::string_view>& components() {
    thread_local std::vector<std::string_view> parts;
    return parts;
}

void add_components(std::string_view s, std::vector<std::string_view>& parts) {
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && names::is_sep(s[i])) ++i;
        size_t j = i;
        while (j < s.size() && !names::is_sep(s[j])) ++j;
        if (j > i) parts.push_back(s.substr(i, j - i));
        i = j;
    }
}

// The directory of the last path walked, for the next path in it (most
// paths of a run are in one directory): the drive's directory and the rest
// up to its last separator, exactly as given, and what they led to.
struct LastDir {
    std::string base, rest;
    uint64_t treeChanges = 0;
    Node* dir = nullptr;
};

LastDir& last_dir() {
    static LastDir last;
    return last;
}

// The directory part of `rest` (up to its last separator) when the path is
// plain below it and ends in a name: the key of LastDir.
bool split_last(std::string_view rest, std::string_view& dirPart, std::string_view& name) {
    size_t cut = rest.size();
    while (cut > 0 && !names::is_sep(rest[cut - 1])) --cut;
    if (cut == 0 || cut == rest.size()) return false;
    name = rest.substr(cut);
    dirPart = rest.substr(0, cut);
    return name != "." && name != "..";
}

Where walk(std::string_view path, bool wantNative = false) {
    Where w;
    std::string_view base, rest = path;
    char letter = 0;
    const char* mapped = nullptr;
    if (names::drive_letter(path, letter)) {
        char var[] = "TEILIMP_DRIVE_X";
        var[sizeof var - 2] = letter;
        mapped = std::getenv(var);
        if (mapped == nullptr || *mapped == '\0') {
            w.mapped = false;
            return w;
        }
        base = mapped;
        rest = path.substr(2);
    } else if (!path.empty() && names::is_sep(path[0])) {
        base = "/";
    }
    std::string_view dirPart, lastName;
    const bool keyed = !wantNative && split_last(rest, dirPart, lastName);
    LastDir& last = last_dir();
    if (keyed && last.dir != nullptr && last.treeChanges == state().treeChanges && last.rest == dirPart &&
        last.base == base) {
        w.parentFound = true;
        w.dir = last.dir;
        w.name = lastName;
        if (Entry* e = entry_of(last.dir, lastName); e != nullptr) {
            w.node = e->node.get();
            w.found = true;
        }
        return w;
    }
    std::vector<std::string_view>& parts = components();
    parts.clear();
    add_components(base, parts);
    const size_t baseParts = parts.size();
    add_components(rest, parts);
    bool plain = true;
    for (size_t i = baseParts; i < parts.size(); ++i) plain = plain && parts[i] != "." && parts[i] != "..";
    if (!plain) {
        // "." and ".." of the rest, folded without a look at the disk.
        std::vector<std::string_view> tail(parts.begin() + static_cast<std::ptrdiff_t>(baseParts), parts.end());
        names::normalise(tail, !base.empty());
        parts.resize(baseParts);
        parts.insert(parts.end(), tail.begin(), tail.end());
    }
    w.dirOnly = parts.size() > baseParts && !rest.empty() && names::is_sep(rest.back());
    if (wantNative) w.native = base.empty() ? std::string() : "/";
    Node* cur = state().root.get();
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string_view part = parts[i];
        const bool last = i + 1 == parts.size();
        Entry* e = cur->dir && part != ".." ? entry_of(cur, part) : nullptr;
        if (part == "..") e = nullptr;  // only above a relative path's start: stays at "/"
        if (last && i >= baseParts) {
            w.parentFound = cur->dir;
            w.dir = cur->dir ? cur : nullptr;
            w.name = part;
            if (wantNative) names::append_name(w.native, e != nullptr ? std::string_view(e->name) : part);
            if (e != nullptr) {
                w.node = e->node.get();
                w.found = true;
            }
            break;
        }
        if (part == "..") continue;
        if (e == nullptr || !e->node->dir) {
            if (wantNative)
                for (size_t j = i; j < parts.size(); ++j) names::append_name(w.native, parts[j]);
            return w;
        }
        if (wantNative) names::append_name(w.native, e->name);
        cur = e->node.get();
    }
    if (parts.size() == baseParts) {
        // A drive's root or "/": there when its directory is.
        w.node = cur;
        w.found = w.parentFound = true;
        if (wantNative && w.native.empty()) w.native = ".";
        return w;
    }
    if (w.dirOnly && w.found && !w.node->dir) {
        w.found = false;
        w.notDir = true;
        w.node = nullptr;
    }
    if (keyed && plain && w.dir != nullptr) {
        last.base.assign(base);
        last.rest.assign(dirPart);
        last.treeChanges = state().treeChanges;
        last.dir = w.dir;
    }
    return w;
}

void touch(Node* n) {
    if (n != nullptr) n->writeTime = now();
}

// Room for `more` bytes of content.
bool room_for(uint64_t more) { return g_used + more <= state().capacity; }

OpenFile* open_of(const File& f) {
    State& s = state();
    if (f.native < 0 || static_cast<size_t>(f.native) >= s.open.size()) return nullptr;
    OpenFile& o = s.open[static_cast<size_t>(f.native)];
    return o.node ? &o : nullptr;
}

// ================================================================ files

File open_file(std::string_view path, OpenMode mode, uint32_t& err) {
    Lock lock(state().mutex);
    File f;
    Where w = walk(path);
    if (!w.mapped || !w.parentFound || (!w.found && (mode == OpenMode::Read || mode == OpenMode::ReadWrite))) {
        err = missing(w);
        return f;
    }
    if (!w.found) {
        if (uint32_t c = new_file_code(w); c != kErrNone) {
            err = c;
            return f;
        }
    }
    if (w.found && mode == OpenMode::CreateNew) {
        err = kErrFileExists;
        return f;
    }
    if (w.found && (w.node->dir || (mode != OpenMode::Read && w.node->readOnly))) {
        err = kErrAccessDenied;
        return f;
    }
    std::shared_ptr<Node> node;
    if (w.found) {
        node = entry_of(w.dir, w.name)->node;
    } else {
        node = new_node(false);
        add_entry(w.dir, w.name, node);
        touch(w.dir);
    }
    State& s = state();
    size_t slot = 0;
    while (slot < s.open.size() && s.open[slot].node) ++slot;
    if (slot == s.open.size()) s.open.emplace_back();
    s.open[slot] = {node, 0, mode != OpenMode::Read};
    f.native = static_cast<intptr_t>(slot);
    return f;
}

int64_t read_bytes(File& f, void* buf, size_t n) {
    Lock lock(state().mutex);
    OpenFile* o = open_of(f);
    if (o == nullptr) return -1;
    const std::string& d = o->node->data;
    if (o->pos >= d.size()) return 0;
    const size_t got = std::min<uint64_t>(n, d.size() - o->pos);
    std::copy_n(d.data() + o->pos, got, static_cast<char*>(buf));
    o->pos += got;
    return static_cast<int64_t>(got);
}

// Resizes a content, within the room there is; false (disk full) when it
// does not fit.
bool resize(Node& n, uint64_t size) {
    if (size > n.data.size() && !room_for(size - n.data.size())) return false;
    g_used = g_used - n.data.size() + size;
    n.data.resize(size);
    return true;
}

bool write_all(File& f, const void* buf, size_t n) {
    Lock lock(state().mutex);
    OpenFile* o = open_of(f);
    if (o == nullptr || !o->write) {
        t_lastError = kErrInvalidHandle;
        return false;
    }
    Node& node = *o->node;
    const uint64_t end = o->pos + n;
    // What fits is written, as a full disk does.
    uint64_t fits = n;
    if (end > node.data.size()) {
        const uint64_t free = state().capacity - std::min(state().capacity, g_used);
        fits = std::min<uint64_t>(n, node.data.size() + free > o->pos ? node.data.size() + free - o->pos : 0);
        if (o->pos + fits > node.data.size()) resize(node, o->pos + fits);
    }
    std::copy_n(static_cast<const char*>(buf), fits, node.data.data() + o->pos);
    o->pos += fits;
    node.writeTime = now();
    if (fits < n) {
        t_lastError = kErrDiskFull;
        return false;
    }
    return true;
}

bool seek_file(File& f, int64_t offset) {
    Lock lock(state().mutex);
    OpenFile* o = open_of(f);
    if (o == nullptr || offset < 0) return false;
    o->pos = static_cast<uint64_t>(offset);
    return true;
}

bool truncate_file(File& f, int64_t length) {
    Lock lock(state().mutex);
    OpenFile* o = open_of(f);
    if (o == nullptr || !o->write || length < 0) return false;
    if (!resize(*o->node, static_cast<uint64_t>(length))) return false;
    o->node->writeTime = now();
    return true;
}

int64_t file_size(File& f) {
    Lock lock(state().mutex);
    OpenFile* o = open_of(f);
    return o == nullptr ? -1 : static_cast<int64_t>(o->node->data.size());
}

bool flush_file(File& f) {
    Lock lock(state().mutex);
    return open_of(f) != nullptr;
}

void close_native(intptr_t native) {
    Lock lock(state().mutex);
    State& s = state();
    if (native >= 0 && static_cast<size_t>(native) < s.open.size()) s.open[static_cast<size_t>(native)] = {};
}

bool close_file(File& f) {
    if (!f.is_open()) return false;
    close_native(f.native);
    f.native = -1;
    return true;
}

uint32_t last_io_error() { return t_lastError; }

// ====================================================== path operations

uint32_t copy_file(std::string_view src, std::string_view dst) {
    Lock lock(state().mutex);
    Where s = walk(src);
    if (!s.found) return missing(s);
    Where d = walk(dst);
    if (!d.found) {
        if (uint32_t c = new_file_code(d); c != kErrNone) return c;
    }
    if (d.found && !d.node->dir && d.node->readOnly) return kErrAccessDenied;
    if (s.node->dir) return kErrAccessDenied;
    if (d.found && d.node == s.node) return kErrSharingViolation;
    if (d.found && d.node->dir) return kErrAccessDenied;
    const std::string bytes = s.node->data;
    Node* target = d.node;
    if (!d.found) {
        auto n = new_node(false);
        add_entry(d.dir, d.name, n);
        touch(d.dir);
        target = n.get();
    }
    if (!resize(*target, 0) || !resize(*target, bytes.size())) {
        // A failed copy leaves no truncated target.
        drop_entry(d.dir, d.name);
        return kErrDiskFull;
    }
    target->data = bytes;
    target->writeTime = now();
    return kErrNone;
}

uint32_t delete_file(std::string_view path) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (!w.found) return missing(w);
    if (w.node->dir || w.node->readOnly || w.dir == nullptr) return kErrAccessDenied;
    drop_entry(w.dir, w.name);
    touch(w.dir);
    return kErrNone;
}

bool inside(const Node* dir, const Node* n) {
    if (dir == n) return true;
    for (const Entry& e : dir->entries)
        if (e.node->dir && inside(e.node.get(), n)) return true;
    return false;
}

// Moves the entry of `f` to the name of `t` (which does not exist, or is
// replaced, keeping the name it has).
uint32_t move(Where& f, Where& t) {
    if (f.dir == nullptr || t.dir == nullptr) return kErrAccessDenied;
    if (f.dir->readOnly || t.dir->readOnly) return kErrAccessDenied;
    Entry moved = *entry_of(f.dir, f.name);
    if (moved.node->dir && inside(moved.node.get(), t.dir)) return kErrInvalidParameter;
    if (Entry* old = entry_of(t.dir, t.name); old != nullptr) moved.name = old->name;
    else moved.name = t.name;
    drop_entry(f.dir, f.name);
    drop_entry(t.dir, t.name);
    t.dir->entries.push_back(std::move(moved));
    touch(f.dir);
    touch(t.dir);
    return kErrNone;
}

// The target of a rename; 0 or the code it fails with.
uint32_t rename_target(const Where& f, std::string_view to, Where& t) {
    t = walk(to);
    if (!t.mapped || !t.parentFound) return kErrPathNotFound;
    if (!t.found && t.dirOnly && !f.node->dir) return kErrInvalidName;
    return kErrNone;
}

// `from` and `to` name one entry: it takes the case given.
bool same_entry(const Where& f, const Where& t) { return f.dir == t.dir && names::same_name(f.name, t.name); }

uint32_t rename_file(std::string_view from, std::string_view to) {
    Lock lock(state().mutex);
    Where f = walk(from);
    if (!f.found) return missing(f);
    Where t;
    if (uint32_t c = rename_target(f, to, t); c != kErrNone) return c;
    if (t.found && same_entry(f, t)) {
        entry_of(t.dir, t.name)->name = t.name;
        return kErrNone;
    }
    if (t.found) return kErrAlreadyExists;
    return move(f, t);
}

uint32_t replace_file(std::string_view from, std::string_view to) {
    Lock lock(state().mutex);
    Where f = walk(from);
    if (!f.found) return missing(f);
    Where t;
    if (uint32_t c = rename_target(f, to, t); c != kErrNone) return c;
    if (t.found && same_entry(f, t)) {
        entry_of(t.dir, t.name)->name = t.name;
        return kErrNone;
    }
    if (t.found && t.node == f.node) return kErrNone;  // two links of one file: both stay
    if (t.found && (t.node->dir || t.node->readOnly)) return kErrAccessDenied;
    if (t.found && f.node->dir) return kErrPathNotFound;
    return move(f, t);
}

uint32_t link_file(std::string_view existing, std::string_view newName) {
    Lock lock(state().mutex);
    Where s = walk(existing);
    if (!s.found) return missing(s);
    if (s.node->dir || s.dir == nullptr) return kErrAccessDenied;
    Where d = walk(newName);
    if (d.found) return kErrFileExists;
    if (uint32_t c = new_file_code(d); c != kErrNone) return c;
    add_entry(d.dir, d.name, entry_of(s.dir, s.name)->node);
    touch(d.dir);
    return kErrNone;
}

uint32_t copy_access(std::string_view model, std::string_view target) {
    Lock lock(state().mutex);
    Where m = walk(model), t = walk(target);
    if (!m.found) return missing(m);
    if (!t.found) return missing(t);
    return kErrNone;
}

uint32_t copy_access_open(std::string_view model, File& target) {
    if (!target.is_open()) return kErrInvalidHandle;
    Lock lock(state().mutex);
    Where m = walk(model);
    return m.found ? kErrNone : missing(m);
}

// Names are matched without regard to case here.
void assume_exact_names(std::string_view) {}

uint32_t sync_directory(std::string_view dir) {
    Lock lock(state().mutex);
    Where w = walk(dir);
    return w.found && w.node->dir ? kErrNone : kErrPathNotFound;
}

uint32_t make_directory(std::string_view path) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (!w.mapped || !w.parentFound) return kErrPathNotFound;
    if (w.found) return kErrAlreadyExists;
    if (w.dir == nullptr || w.dir->readOnly) return kErrAccessDenied;
    add_entry(w.dir, w.name, new_node(true));
    touch(w.dir);
    return kErrNone;
}

uint32_t remove_directory(std::string_view path) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (!w.found) return missing(w);
    if (!w.node->dir) return kErrPathNotFound;
    if (!w.node->entries.empty()) return kErrDirNotEmpty;
    if (w.dir == nullptr) return kErrGenFailure;
    if (w.dir->readOnly) return kErrAccessDenied;
    drop_entry(w.dir, w.name);
    touch(w.dir);
    return kErrNone;
}

uint32_t remove_tree(std::string_view path) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (!w.found) return missing(w);
    if (w.dir == nullptr) return kErrGenFailure;
    if (w.dir->readOnly) return kErrAccessDenied;
    drop_entry(w.dir, w.name);
    touch(w.dir);
    return kErrNone;
}

uint32_t make_private_directory(std::string_view parent, std::string_view prefix, std::string& out) {
    Lock lock(state().mutex);
    Where p = walk(parent);
    if (!p.found) return kErrPathNotFound;
    return detail::make_with_random_name(prefix, state().nextIndex, [&](const std::string& name) {
        std::string candidate(parent);
        if (candidate.empty() || !names::is_sep(candidate.back())) candidate += '/';
        candidate += name;
        if (uint32_t c = make_directory(candidate); c != kErrNone) return c;
        out = candidate;
        return uint32_t{kErrNone};
    });
}

uint32_t attributes_of(const Node& n) {
    uint32_t a = n.dir ? kAttrDirectory : kAttrArchive;
    return n.readOnly ? a | kAttrReadOnly : a;
}

uint32_t get_attributes(std::string_view path, uint32_t* error) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (error != nullptr) *error = w.found ? kErrNone : missing(w);
    return w.found ? attributes_of(*w.node) : kAttrInvalid;
}

uint32_t set_attributes(std::string_view path, uint32_t attributes) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (!w.found) return missing(w);
    w.node->readOnly = (attributes & kAttrReadOnly) != 0;
    return kErrNone;
}

bool exists(std::string_view path) {
    Lock lock(state().mutex);
    return walk(path).found;
}

bool refuses_writes(std::string_view path) {
    Lock lock(state().mutex);
    Where w = walk(path);
    return w.found && w.node->readOnly;
}

bool file_stamp(std::string_view path, FileStamp& out, uint32_t* error) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (error != nullptr) *error = w.found ? kErrNone : missing(w);
    if (!w.found) return false;
    out.volume = 0x4D454D;
    out.index = w.node->index;
    out.writeTime = w.node->writeTime;
    return true;
}

std::string short_path_name(std::string_view) { return std::string(); }
bool has_short_names() { return false; }

std::string native_path(std::string_view path) {
    Lock lock(state().mutex);
    Where w = walk(path, true);
    return w.mapped ? w.native : std::string();
}

std::string file_identity(std::string_view path) {
    Lock lock(state().mutex);
    Where w = walk(path);
    return w.found ? "memory:" + std::to_string(w.node->index) : std::string();
}

bool argument_is_file_name(std::string_view argument) {
    if (argument.find('/', 1) != std::string_view::npos) return true;
    return exists(argument);
}

uint32_t set_file_time(std::string_view path, FileTime t) {
    Lock lock(state().mutex);
    Where w = walk(path);
    if (!w.found) return missing(w);
    w.node->writeTime = t;
    return kErrNone;
}

// ========================================================== directories

using FindState = detail::ListedFind;

FindEntry entry_for(const std::string& name, const Node& n) {
    FindEntry e;
    e.long_name = name;
    e.attributes = attributes_of(n);
    e.size = n.dir ? 0 : n.data.size();
    e.write_time = n.writeTime;
    return e;
}

uint32_t find_next(FindHandle& h, FindEntry& e) { return detail::listed_find_next(h, e); }

void find_close(FindHandle& h) { detail::listed_find_close(h); }

// The entries a search finds, in its order; 0, 2 or 3.
uint32_t search(std::string_view pattern, std::vector<FindEntry>& out) {
    std::string_view dirPart, namePart;
    names::split_pattern(pattern, dirPart, namePart);
    Where d = walk(dirPart);
    if (!d.found || !d.node->dir) return kErrPathNotFound;
    if (names::plain_name(namePart)) {
        // A name that exists as given is the one match.
        Entry* e = entry_of(d.node, namePart);
        if (e != nullptr && e->name == namePart) {
            out.push_back(entry_for(e->name, *e->node));
            return kErrNone;
        }
    }
    out.reserve(out.size() + d.node->entries.size());
    for (const Entry& e : d.node->entries)
        if (names::listed_match(namePart, e.name)) out.push_back(entry_for(e.name, *e.node));
    names::sort_as_search(out, [](const FindEntry& x) -> const std::string& { return x.long_name; });
    return out.empty() ? kErrFileNotFound : kErrNone;
}

uint32_t find_first(std::string_view pattern, FindHandle& h, FindEntry& e) {
    memory::find_close(h);
    Lock lock(state().mutex);
    auto* st = new FindState;
    if (uint32_t c = search(pattern, st->entries); c != kErrNone) {
        delete st;
        return c;
    }
    h.state = st;
    h.native = 0;
    return memory::find_next(h, e);
}

uint32_t find_names(std::string_view pattern, std::vector<FoundName>& out) {
    out.clear();
    Lock lock(state().mutex);
    std::vector<FindEntry> found;
    if (uint32_t c = search(pattern, found); c != kErrNone) return c;
    out.reserve(found.size());
    for (FindEntry& e : found) out.push_back({std::move(e.long_name), (e.attributes & kAttrDirectory) != 0});
    return kErrNone;
}

// =============================================================== drives

uint32_t drive_type(std::string_view root) {
    Lock lock(state().mutex);
    Where w = walk(root);
    return w.mapped && w.found && w.node->dir ? 3 : 1;
}

uint32_t disk_free_space(std::string_view root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                         uint32_t& freeClusters, uint32_t& totalClusters) {
    Lock lock(state().mutex);
    Where w = walk(root);
    if (!w.mapped || !w.found) return kErrPathNotFound;
    auto clusters = [](uint64_t bytes) {
        return static_cast<uint32_t>(std::min<uint64_t>(bytes / 4096, 0x7FFFFFFF));
    };
    const uint64_t capacity = state().capacity;
    sectorsPerCluster = 8;
    bytesPerSector = 512;
    freeClusters = clusters(capacity - std::min(capacity, g_used));
    totalClusters = clusters(capacity);
    return kErrNone;
}

detail::Ops make_ops() {
    detail::Ops ops = detail::kSystemOps;
    ops.open_file = open_file;
    ops.read_bytes = read_bytes;
    ops.write_all = write_all;
    ops.seek_file = seek_file;
    ops.truncate_file = truncate_file;
    ops.file_size = file_size;
    ops.flush_file = flush_file;
    ops.close_file = close_file;
    ops.close_native = close_native;
    ops.last_io_error = last_io_error;
    ops.copy_file = copy_file;
    ops.delete_file = delete_file;
    ops.rename_file = rename_file;
    ops.replace_file = replace_file;
    ops.link_file = link_file;
    ops.copy_access = copy_access;
    ops.copy_access_open = copy_access_open;
    ops.assume_exact_names = assume_exact_names;
    ops.sync_directory = sync_directory;
    ops.make_directory = make_directory;
    ops.remove_directory = remove_directory;
    ops.remove_tree = remove_tree;
    ops.make_private_directory = make_private_directory;
    ops.get_attributes = get_attributes;
    ops.set_attributes = set_attributes;
    ops.exists = exists;
    ops.refuses_writes = refuses_writes;
    ops.file_stamp = file_stamp;
    ops.short_path_name = short_path_name;
    ops.has_short_names = has_short_names;
    ops.native_path = native_path;
    ops.file_identity = file_identity;
    ops.argument_is_file_name = argument_is_file_name;
    ops.set_file_time = set_file_time;
    ops.find_first = find_first;
    ops.find_next = find_next;
    ops.find_close = find_close;
    ops.find_names = find_names;
    ops.drive_type = drive_type;
    ops.disk_free_space = disk_free_space;
    return ops;
}

}  // namespace

}  // namespace teilimp::platform::memory

namespace teilimp::platform::test {

void use_memory_files(bool on) {
    using namespace memory;
    static const detail::Ops ops = make_ops();
    State& s = state();
    {
        Lock lock(s.mutex);
        s.open.clear();
        s.root = on ? new_node(true) : nullptr;
        ++s.treeChanges;
    }
    detail::set_active(on ? &ops : nullptr);
}

void set_memory_capacity(uint64_t bytes) {
    using namespace memory;
    Lock lock(state().mutex);
    state().capacity = bytes;
}

}  // namespace teilimp::platform::test
