// The parts of the operating-system layer that are the same on every
// system, built on the primitives each implementation defines: the test
// hooks, code page 850, console input and output, moves of files and
// searches, whole-file reads and the random names of new directories.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "platform/internal.h"
#include "platform/platform.h"

namespace teilimp::platform {

using detail::hooks;
using detail::Hooks;

namespace detail {

namespace {

int64_t env_int(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') return 0;
    return std::strtoll(v, nullptr, 10);
}

// A non-negative factor from the environment, or `otherwise`.
double env_scale(const char* name, double otherwise) {
    const char* s = std::getenv(name);
    if (s == nullptr || *s == '\0') return otherwise;
    char* end = nullptr;
    double d = std::strtod(s, &end);
    return end != s && d >= 0 ? d : otherwise;
}

void read_hooks(Hooks& h) {
    h.faultAt = env_int("TEILIMP_FAULT_AT");
    h.crashAt = env_int("TEILIMP_CRASH_AT");
    h.sleepScale = env_scale("TEILIMP_SLEEP_SCALE", 1.0);
    h.lockScale = env_scale("TEILIMP_LOCK_SCALE", 1.0);
}

}  // namespace

Hooks& hooks() {
    static Hooks h;
    static const bool read = (read_hooks(h), true);
    (void)read;
    return h;
}

bool injected_fault() {
    Hooks& h = hooks();
    const int64_t k = ++h.count;
    if (h.crashAt != 0 && k == h.crashAt) {
        kill_self();
    }
    return h.faultAt != 0 && k == h.faultAt;
}

uint32_t make_with_random_name(std::string_view prefix, uint64_t salt,
                               const std::function<uint32_t(const std::string& name)>& make) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd() ^ salt);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name(prefix);
        for (int i = 0; i < 10; ++i) name += kChars[gen() % (sizeof kChars - 1)];
        const uint32_t rc = make(name);
        if (rc != kErrAlreadyExists) return rc;
    }
    return kErrAlreadyExists;
}

}  // namespace detail

namespace {

// ------------------------------------------------------------ code page 850

// Unicode code points of the bytes 0x80..0xFF of code page 850.
const uint16_t kCp850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

}  // namespace

// ================================================================ files

File::File(File&& other) noexcept : native(other.native) { other.native = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (native != -1) detail::close_native(native);
        native = other.native;
        other.native = -1;
    }
    return *this;
}

File::~File() {
    if (native != -1) detail::close_native(native);
}

bool write_line(File& f, std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append(detail::line_end());
    return write_all(f, line.data(), line.size());
}

bool rewind_file(File& f) { return seek_file(f, 0); }


std::string cp850_to_utf8(std::string_view cp850) {
    std::string out;
    out.reserve(cp850.size() + cp850.size() / 4);
    for (char ch : cp850) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
            continue;
        }
        uint16_t u = kCp850[c - 0x80];
        if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::string utf8_to_cp850(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const size_t len = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
        uint32_t cp = len == 4 ? c & 0x07u : len == 3 ? c & 0x0Fu : c & 0x1Fu;
        bool wellFormed = c >= 0x80 && len > 1 && i + len <= utf8.size();
        for (size_t k = 1; wellFormed && k < len; ++k) {
            const auto t = static_cast<unsigned char>(utf8[i + k]);
            wellFormed = (t & 0xC0) == 0x80;
            cp = cp << 6 | (t & 0x3Fu);
        }
        if (!wellFormed) {
            out += utf8[i++];  // ASCII, or a byte of some other character set
            continue;
        }
        i += len;
        const uint16_t* end = kCp850 + 128;
        const uint16_t* at = std::find(kCp850, end, static_cast<uint16_t>(cp));
        out += cp <= 0xFFFF && at != end ? static_cast<char>(0x80 + (at - kCp850)) : '?';
    }
    return out;
}

bool console_read_line(std::string& line, size_t maxLen) {
    console_flush();
    line.clear();
    Hooks& h = hooks();
    bool any = false;
    if (h.consoleFeed != nullptr) {
        const std::string& t = *h.consoleFeed;
        if (h.feedPos >= t.size()) return false;
        size_t end = t.find('\n', h.feedPos);
        size_t stop = end == std::string::npos ? t.size() : end;
        line.assign(t, h.feedPos, stop - h.feedPos);
        h.feedPos = end == std::string::npos ? t.size() : end + 1;
        any = true;
    } else {
        int c;
        while (detail::next_input_byte(c)) {
            any = true;
            if (c == '\n') break;
            line += static_cast<char>(c);
        }
    }
    // An answer cut short by an interrupt is no answer.
    if (!any || interrupted()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > maxLen) line.resize(maxLen);
    return true;
}

// ====================================================== whole-file reads

bool read_exact(File& f, void* buf, size_t n) {
    char* p = static_cast<char*>(buf);
    while (n > 0) {
        int64_t r = read_bytes(f, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool close_and_delete(File& f, std::string_view path) {
    bool closed = close_file(f);
    return delete_file(path) == kErrNone && closed;
}

uint32_t read_whole_file(std::string_view path, std::vector<uint8_t>& out) {
    out.clear();
    uint32_t err = 0;
    File f = open_file(path, OpenMode::Read, &err);
    if (!f.is_open()) return err;
    // Room for the whole file and one byte more, so that the read that
    // finds the end needs no more; a file that grows meanwhile (or one
    // that says it is empty and is not) gets more. An empty file costs no
    // buffer.
    int64_t size = file_size(f);
    size_t chunk = size >= 0 ? static_cast<size_t>(size) + 1 : 65536;
    size_t used = 0;
    for (;;) {
        if (out.size() == used) out.resize(used + chunk);
        int64_t n = read_bytes(f, out.data() + used, out.size() - used);
        if (n < 0) {
            out.clear();
            return detail::last_io_error();
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
        chunk = 65536;
    }
    out.resize(used);
    return kErrNone;
}

// ============================================================ searches

// An open search has a native value other than -1 (Windows: its handle;
// POSIX: the position in its list of matches). A search handle moves like
// a file: the moved-from handle is closed.
bool FindHandle::is_open() const { return native != -1; }

FindHandle::FindHandle(FindHandle&& other) noexcept : native(other.native), state(other.state) {
    other.native = -1;
    other.state = nullptr;
}

FindHandle& FindHandle::operator=(FindHandle&& other) noexcept {
    if (this != &other) {
        find_close(*this);
        native = other.native;
        state = other.state;
        other.native = -1;
        other.state = nullptr;
    }
    return *this;
}

FindHandle::~FindHandle() { find_close(*this); }

// ============================================================== console

void console_write(std::string_view cp850) { detail::put_console(cp850); }

// Every line goes out at once, also when standard output is a file or a
// pipe: a log then holds everything up to the moment a run dies.
void console_line(std::string_view cp850) {
    detail::put_console(cp850);
    detail::put_console(detail::line_end());
    console_flush();
}

void console_name_line(std::string_view cp850, std::string_view name) {
    detail::put_console(cp850);
    detail::put_console_name(name);
    detail::put_console(detail::line_end());
    console_flush();
}

void console_flush() {
    if (hooks().consoleSink == nullptr) std::fflush(stdout);
}

namespace {
bool g_consoleToStderr = false;

// Standard error stays a text stream, so its line end is the C library's.
void console_error(std::string_view cp850, std::string_view name) {
    console_flush();
    if (hooks().consoleSink != nullptr) {
        detail::put_console(cp850);
        if (!name.empty()) detail::put_console_name(name);
        detail::put_console(detail::line_end());
        return;
    }
    g_consoleToStderr = true;
    detail::put_console(cp850);
    if (!name.empty()) detail::put_console_name(name);
    g_consoleToStderr = false;
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
}  // namespace

std::FILE* detail::console_stream() { return g_consoleToStderr ? stderr : stdout; }

void console_error_line(std::string_view cp850) { console_error(cp850, {}); }

void console_error_name_line(std::string_view cp850, std::string_view name) { console_error(cp850, name); }

void error_line(std::string_view text) {
    console_flush();
    std::string s(text);
    s += '\n';  // standard error is a text stream: CR LF on Windows
    std::fwrite(s.data(), 1, s.size(), stderr);
    std::fflush(stderr);
}

// ============================================================ test hooks

namespace test {
void set_fault_at(int64_t k) { hooks().faultAt = k; }
void set_crash_at(int64_t k) { hooks().crashAt = k; }
int64_t file_ops_counted() { return hooks().count; }
void reset_file_ops() { hooks().count = 0; }
void set_sleep_scale(double scale) { hooks().sleepScale = scale < 0 ? 0 : scale; }
void set_lock_scale(double scale) { hooks().lockScale = scale < 0 ? 0 : scale; }
double lock_scale() { return hooks().lockScale; }
void capture_console(std::string* sink) {
    if (sink == nullptr) std::fflush(stdout);
    hooks().consoleSink = sink;
}
void feed_console(const std::string* text) {
    hooks().consoleFeed = text;
    hooks().feedPos = 0;
}
}  // namespace test


}  // namespace teilimp::platform
