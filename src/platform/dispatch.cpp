// The functions of platform.h: each calls the active table of operations,
// and around the call does what every file system shares, written once:
// the count of the operations that change the disk, with fault injection
// and the crash of the test hooks, and the console's test sink.
#include <atomic>
#include <cstdlib>

#include "platform/internal.h"
#include "platform/platform.h"

namespace teilimp::platform {

namespace detail {

namespace {
std::atomic<const Ops*> g_active{nullptr};
}  // namespace

const Ops& active() {
    const Ops* ops = g_active.load(std::memory_order_acquire);
    return ops != nullptr ? *ops : kSystemOps;
}

void set_active(const Ops* ops) { g_active.store(ops, std::memory_order_release); }

[[noreturn]] void kill_self() {
    active().kill_self();
    std::_Exit(137);
}

uint32_t last_io_error() { return active().last_io_error(); }

void put_console(std::string_view cp850) {
    if (std::string* sink = hooks().consoleSink; sink != nullptr) {
        sink->append(cp850);
        return;
    }
    active().put_console(cp850);
}

void put_console_name(std::string_view name) {
    if (std::string* sink = hooks().consoleSink; sink != nullptr) {
        sink->append(name);
        return;
    }
    active().put_console_name(name);
}

std::string_view line_end() { return active().line_end(); }
void close_native(intptr_t native) { active().close_native(native); }
bool next_input_byte(int& c) { return active().next_input_byte(c); }

}  // namespace detail

using detail::active;
using detail::injected_fault;

// ================================================================ files
// A failing operation does nothing and reports access denied.

File open_file(std::string_view path, OpenMode mode, uint32_t* error) {
    uint32_t dummy = 0;
    uint32_t& err = error != nullptr ? *error : dummy;
    err = kErrNone;
    if (mode != OpenMode::Read && injected_fault()) {
        err = kErrAccessDenied;
        return File();
    }
    return active().open_file(path, mode, err);
}

int64_t read_bytes(File& f, void* buf, size_t n) { return active().read_bytes(f, buf, n); }

bool write_all(File& f, const void* buf, size_t n) {
    if (!f.is_open() || injected_fault()) return false;
    return active().write_all(f, buf, n);
}

bool seek_file(File& f, int64_t offset) { return active().seek_file(f, offset); }

bool truncate_file(File& f, int64_t length) {
    if (!f.is_open() || length < 0 || injected_fault()) return false;
    return active().truncate_file(f, length);
}

int64_t file_size(File& f) { return active().file_size(f); }

bool flush_file(File& f) {
    if (!f.is_open() || injected_fault()) return false;
    return active().flush_file(f);
}

bool close_file(File& f) { return active().close_file(f); }

// ====================================================== path operations

uint32_t copy_file(std::string_view src, std::string_view dst) {
    return injected_fault() ? kErrAccessDenied : active().copy_file(src, dst);
}

uint32_t delete_file(std::string_view path) {
    return injected_fault() ? kErrAccessDenied : active().delete_file(path);
}

uint32_t rename_file(std::string_view from, std::string_view to) {
    return injected_fault() ? kErrAccessDenied : active().rename_file(from, to);
}

uint32_t replace_file(std::string_view from, std::string_view to) {
    return injected_fault() ? kErrAccessDenied : active().replace_file(from, to);
}

uint32_t link_file(std::string_view existing, std::string_view newName) {
    return injected_fault() ? kErrAccessDenied : active().link_file(existing, newName);
}

uint32_t copy_access(std::string_view model, std::string_view target) { return active().copy_access(model, target); }
uint32_t copy_access(std::string_view model, File& target) { return active().copy_access_open(model, target); }
void assume_exact_names(std::string_view dir) { active().assume_exact_names(dir); }
uint32_t sync_directory(std::string_view dir) { return active().sync_directory(dir); }

uint32_t make_directory(std::string_view path) {
    return injected_fault() ? kErrAccessDenied : active().make_directory(path);
}

uint32_t remove_directory(std::string_view path) {
    return injected_fault() ? kErrAccessDenied : active().remove_directory(path);
}

uint32_t remove_tree(std::string_view path) {
    return injected_fault() ? kErrAccessDenied : active().remove_tree(path);
}

uint32_t make_private_directory(std::string_view parent, std::string_view prefix, std::string& out) {
    out.clear();
    return injected_fault() ? kErrAccessDenied : active().make_private_directory(parent, prefix, out);
}

uint32_t get_attributes(std::string_view path, uint32_t* error) { return active().get_attributes(path, error); }

uint32_t set_attributes(std::string_view path, uint32_t attributes) {
    return injected_fault() ? kErrAccessDenied : active().set_attributes(path, attributes);
}

bool exists(std::string_view path) { return active().exists(path); }
bool refuses_writes(std::string_view path) { return active().refuses_writes(path); }

bool file_stamp(std::string_view path, FileStamp& out, uint32_t* error) {
    return active().file_stamp(path, out, error);
}

std::string short_path_name(std::string_view path) { return active().short_path_name(path); }
bool has_short_names() { return active().has_short_names(); }
std::string native_path(std::string_view path) { return active().native_path(path); }
std::string file_identity(std::string_view path) { return active().file_identity(path); }
bool argument_is_file_name(std::string_view argument) { return active().argument_is_file_name(argument); }

// ================================================================ times

CalendarTime local_now() { return active().local_now(); }
bool file_time_to_local(FileTime t, CalendarTime& out) { return active().file_time_to_local(t, out); }
FileTime file_time_now() { return active().file_time_now(); }

uint32_t set_file_time(std::string_view path, FileTime t) {
    return injected_fault() ? kErrAccessDenied : active().set_file_time(path, t);
}

int64_t mktime_standard(const CalendarTime& t) { return active().mktime_standard(t); }

// ========================================================== directories

uint32_t find_first(std::string_view pattern, FindHandle& h, FindEntry& e) {
    return active().find_first(pattern, h, e);
}
uint32_t find_next(FindHandle& h, FindEntry& e) { return active().find_next(h, e); }
void find_close(FindHandle& h) { active().find_close(h); }
uint32_t find_names(std::string_view pattern, std::vector<FoundName>& out) {
    return active().find_names(pattern, out);
}

// =============================================================== drives

uint32_t drive_type(std::string_view root) { return active().drive_type(root); }

uint32_t disk_free_space(std::string_view root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                         uint32_t& freeClusters, uint32_t& totalClusters) {
    return active().disk_free_space(root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
}

// ============================================================ text, env

unsigned char upper_ansi(unsigned char c) { return active().upper_ansi(c); }
unsigned char lower_ansi(unsigned char c) { return active().lower_ansi(c); }
bool get_env(std::string_view name, std::string& value) { return active().get_env(name, value); }
std::string temp_directory() { return active().temp_directory(); }

// ===================================================== process, console

void sleep_ms(uint32_t ms) { active().sleep_ms(ms); }
int run_command(std::string_view commandLine) { return active().run_command(commandLine); }
bool console_uses_utf8() { return active().console_uses_utf8(); }
void catch_interrupts() { active().catch_interrupts(); }
bool interrupted() { return active().interrupted(); }
void interrupt_handled() { active().interrupt_handled(); }

// ================================================================ the console's system side

bool input_is_terminal() { return detail::hooks().consoleFeed == nullptr && active().input_is_terminal(); }
std::string argument_to_cp850(std::string_view argument) { return active().argument_to_cp850(argument); }
void console_path_note(std::string_view path) { active().console_path_note(path); }
std::vector<std::string> drive_usage_lines() { return active().drive_usage_lines(); }

}  // namespace teilimp::platform
