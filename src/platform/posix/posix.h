// The POSIX file system's parts, shared by its files (files.cpp,
// directories.cpp, console.cpp, process.cpp) and its table (system.cpp):
// Windows-style paths resolved to native ones by the rules of names.h, and
// errno values turned into the Windows codes.
#pragma once

#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <time.h>

#include "platform/internal.h"
#include "platform/names.h"
#include "platform/platform.h"

namespace teilimp::platform::posix {

using names::missing_code;
using names::Resolved;

// ------------------------------------------------------------ paths.cpp

// The Windows code of an errno value.
uint32_t code_of(int e, bool parentMissing = false);

bool name_exists(const std::string& p);
bool is_directory(const std::string& p);
// A path as the user writes it, resolved on disk (names.h's rules).
Resolved resolve(std::string_view path);

// The directory declared to hold exact names (assume_exact_names), guarded:
// another thread (the lock's renewal) may resolve paths meanwhile.
names::ExactNames exact_names();
void set_exact_names(names::ExactNames e);
bool exact_entry(std::string_view path, std::string& native, bool forNewFile = false);
bool exact_directory(std::string_view path, std::string& native);

bool owner_writable(const struct stat& st);
// Code for a path that is to name a new or existing file (never a
// directory): 0 if it may, else the code Windows gives.
uint32_t file_target_code(const Resolved& r);
// Windows refuses to write to a read-only file even for administrators;
// root on POSIX would not be refused, so the test is made explicitly.
bool read_only_file(const std::string& native);
FileTime to_file_time(const struct timespec& ts);

// ------------------------------------------------ the table's functions

// files.cpp
File open_file(std::string_view path, OpenMode mode, uint32_t& err);
int64_t read_bytes(File& f, void* buf, size_t n);
bool write_all(File& f, const void* buf, size_t n);
bool seek_file(File& f, int64_t offset);
bool truncate_file(File& f, int64_t length);
int64_t file_size(File& f);
bool flush_file(File& f);
bool close_file(File& f);
void close_native(intptr_t native);
uint32_t last_io_error();
uint32_t copy_file(std::string_view src, std::string_view dst);
uint32_t delete_file(std::string_view path);
uint32_t rename_file(std::string_view from, std::string_view to);
uint32_t replace_file(std::string_view from, std::string_view to);
uint32_t link_file(std::string_view existing, std::string_view newName);
uint32_t copy_access(std::string_view model, std::string_view target);
uint32_t copy_access_open(std::string_view model, File& target);
void assume_exact_names(std::string_view dir);
uint32_t sync_directory(std::string_view dir);
uint32_t get_attributes(std::string_view path, uint32_t* error);
uint32_t set_attributes(std::string_view path, uint32_t attributes);
bool exists(std::string_view path);
bool refuses_writes(std::string_view path);
bool file_stamp(std::string_view path, FileStamp& out, uint32_t* error);
std::string short_path_name(std::string_view path);
bool has_short_names();
std::string native_path(std::string_view path);
std::string file_identity(std::string_view path);
bool argument_is_file_name(std::string_view argument);
uint32_t set_file_time(std::string_view path, FileTime t);

// directories.cpp
uint32_t make_directory(std::string_view path);
uint32_t remove_directory(std::string_view path);
uint32_t remove_tree(std::string_view path);
uint32_t make_private_directory(std::string_view parent, std::string_view prefix, std::string& out);
uint32_t find_first(std::string_view pattern, FindHandle& h, FindEntry& e);
uint32_t find_next(FindHandle& h, FindEntry& e);
void find_close(FindHandle& h);
uint32_t find_names(std::string_view pattern, std::vector<FoundName>& out);
uint32_t drive_type(std::string_view root);
uint32_t disk_free_space(std::string_view root, uint32_t& sectorsPerCluster, uint32_t& bytesPerSector,
                         uint32_t& freeClusters, uint32_t& totalClusters);

// console.cpp
void put_console(std::string_view cp850);
void put_console_name(std::string_view name);
bool console_uses_utf8();
bool input_is_terminal();
std::string argument_to_cp850(std::string_view argument);
void console_path_note(std::string_view path);
std::vector<std::string> drive_usage_lines();
std::string_view line_end();
unsigned char upper_ansi(unsigned char c);
unsigned char lower_ansi(unsigned char c);
bool get_env(std::string_view name, std::string& value);
std::string temp_directory();

// process.cpp
CalendarTime local_now();
bool file_time_to_local(FileTime t, CalendarTime& out);
FileTime file_time_now();
int64_t mktime_standard(const CalendarTime& t);
void sleep_ms(uint32_t ms);
int run_command(std::string_view commandLine);
bool next_input_byte(int& c);
void catch_interrupts();
bool interrupted();
void interrupt_handled();
[[noreturn]] void kill_self();

}  // namespace teilimp::platform::posix
