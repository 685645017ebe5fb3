// The Windows side of the test support: programs started with
// CreateProcess and driven through their process handle, real drive
// letters, the environment through both the C library and the system.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "support/child.h"
#include "support/test_util.h"

namespace teilimp::testing {

const std::string_view kLineEnd = "\r\n";

// CR LF to LF; a bare LF is made visible.
std::string in_lines(std::string_view raw) {
    std::string s;
    s.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) s += "<LF>";
        s += raw[i];
    }
    return s;
}

bool short_names() { return true; }

bool posix_system() { return false; }

bool sweep_point(int64_t k) { return k % 3 == 1; }

bool read_only_refused() {
    static const bool refused = [] {
        char dir[MAX_PATH + 1];
        char name[MAX_PATH + 1];
        if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "ro", 0, name) == 0) return true;
        SetFileAttributesA(name, FILE_ATTRIBUTE_READONLY);
        HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const bool opened = h != INVALID_HANDLE_VALUE;
        if (opened) CloseHandle(h);
        SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(name);
        return !opened;
    }();
    return refused;
}


// No limit on file sizes per process.
FileSizeLimit::FileSizeLimit(uint64_t) {}
FileSizeLimit::~FileSizeLimit() {}

namespace {

// Wine's own exports, present only when running under Wine.
using UnixNameFn = char*(CDECL*)(const WCHAR*);
using DosNameFn = WCHAR*(CDECL*)(const char*);

void* kernel32_export(const char* name) {
    HMODULE k = GetModuleHandleA("kernel32.dll");
    return k != nullptr ? reinterpret_cast<void*>(GetProcAddress(k, name)) : nullptr;
}

bool under_wine() { return kernel32_export("wine_get_unix_file_name") != nullptr; }

std::wstring wide(std::string_view s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow(const WCHAR* w) {
    int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string s(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr);
    return s;
}

// The host's path of a directory of this process (Wine: its Unix path).
std::string unix_path(const std::string& dir) {
    auto fn = reinterpret_cast<UnixNameFn>(kernel32_export("wine_get_unix_file_name"));
    char* p = fn(wide(dir).c_str());
    if (p == nullptr) throw std::runtime_error("no Unix name for " + dir);
    std::string s = p;
    HeapFree(GetProcessHeap(), 0, p);
    return s;
}

}  // namespace

std::string build_path(std::string_view hostPath) {
    if (hostPath.empty() || hostPath[0] != '/' || !under_wine()) return std::string(hostPath);
    auto fn = reinterpret_cast<DosNameFn>(kernel32_export("wine_get_dos_file_name"));
    WCHAR* w = fn(std::string(hostPath).c_str());
    if (w == nullptr) return std::string(hostPath);
    std::string s = narrow(w);
    HeapFree(GetProcessHeap(), 0, w);
    return s;
}

// ------------------------------------------------------------ environment

namespace {

void set_variable(const std::string& name, const char* value) {
    // Both copies of the environment: the C library's (getenv) and the
    // system's (GetEnvironmentVariable, inherited by child processes).
    _putenv_s(name.c_str(), value != nullptr ? value : "");
    SetEnvironmentVariableA(name.c_str(), value);
}

}  // namespace

ScopedEnv::ScopedEnv(std::string n, const char* value) : name(std::move(n)) {
    if (const char* o = std::getenv(name.c_str())) {
        had = true;
        old = o;
    }
    set_variable(name, value);
}

ScopedEnv::~ScopedEnv() { set_variable(name, had ? old.c_str() : nullptr); }

// ---------------------------------------------------------- drive letters

namespace {

// Wine's mount manager defines drive letters as links in the prefix's
// dosdevices directory (the interface its configuration tool uses).
struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};
constexpr DWORD kDefineUnixDrive = CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

void wine_define_drive(char letter, const std::string* unixDir) {
    std::string buf(sizeof(UnixDrive) + (unixDir != nullptr ? unixDir->size() + 1 : 0), '\0');
    UnixDrive d{};
    d.size = static_cast<ULONG>(buf.size());
    d.letter = static_cast<WCHAR>(letter - 'A' + 'a');
    if (unixDir != nullptr) {
        d.type = DRIVE_FIXED;
        d.mount_point_offset = sizeof(UnixDrive);
        std::memcpy(buf.data() + sizeof(UnixDrive), unixDir->c_str(), unixDir->size() + 1);
    }
    std::memcpy(buf.data(), &d, sizeof d);
    HANDLE mm = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (mm == INVALID_HANDLE_VALUE) throw std::runtime_error("no mount manager");
    DWORD got = 0;
    BOOL ok = DeviceIoControl(mm, kDefineUnixDrive, buf.data(), static_cast<DWORD>(buf.size()), nullptr, 0,
                              &got, nullptr);
    DWORD e = GetLastError();
    CloseHandle(mm);
    // Removing a letter that names nothing is no failure.
    if (!ok && unixDir != nullptr) throw std::runtime_error("drive " + std::string(1, letter) + ": not defined, " +
                                                            std::to_string(e));
}

// The volume serial number that a handle on `path` reports (0 if none).
DWORD handle_serial(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok ? info.dwVolumeSerialNumber : 0;
}

// Files on a drive Wine has just defined report another drive's volume
// serial number for up to a second (that of the first drive on the same
// Unix file system), then the new drive's own: a file's identity would
// change under a running test. Waits until they report the drive's own.
void wait_for_volume(char letter) {
    const std::string root = std::string(1, letter) + ":\\";
    DWORD serial = 0;
    if (!GetVolumeInformationA(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) return;
    for (int tries = 0; tries < 500 && handle_serial(root) != serial; ++tries) Sleep(10);
}

void define_drive(char letter, const std::string* dir) {
    const char device[3] = {letter, ':', '\0'};
    if (under_wine()) {
        if (dir == nullptr) {
            wine_define_drive(letter, nullptr);
        } else {
            const std::string u = unix_path(*dir);
            wine_define_drive(letter, &u);
            wait_for_volume(letter);
        }
        return;
    }
    if (dir != nullptr) {
        if (!DefineDosDeviceA(0, device, dir->c_str()))
            throw std::runtime_error("drive " + std::string(device) + " not defined");
    } else {
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, device, nullptr);
    }
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// A drive letter is shared by every process: tests running at the same
// time take turns on it.
HANDLE lock_letter(char letter) {
    const std::string name = std::string("Local\\teilimp-test-drive-") + letter;
    HANDLE m = CreateMutexA(nullptr, FALSE, name.c_str());
    if (m == nullptr) throw std::runtime_error("no mutex " + name);
    DWORD w = WaitForSingleObject(m, 900000);
    if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) {
        CloseHandle(m);
        throw std::runtime_error("drive letter " + std::string(1, letter) + " held too long");
    }
    return m;
}

struct Mapping {
    HANDLE mutex;
    bool defined;
};

}  // namespace

DriveMap::DriveMap(char l, const std::string& dir) : letter(upper(l)) {
    HANDLE m = lock_letter(letter);
    try {
        define_drive(letter, &dir);
    } catch (...) {
        ReleaseMutex(m);
        CloseHandle(m);
        throw;
    }
    state_ = new Mapping{m, true};
}

DriveMap::DriveMap(char l) : letter(upper(l)) {
    HANDLE m = lock_letter(letter);
    define_drive(letter, nullptr);
    state_ = new Mapping{m, false};
}

DriveMap::~DriveMap() {
    auto* s = static_cast<Mapping*>(state_);
    if (s->defined) define_drive(letter, nullptr);
    ReleaseMutex(s->mutex);
    CloseHandle(s->mutex);
    delete s;
}

// --------------------------------------------------------------- programs

namespace {

// One argument as the C runtime of the child splits its command line.
std::string quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') q.append(slashes * 2 + 1, '\\');
        else q.append(slashes, '\\');
        slashes = 0;
        q += c;
    }
    q.append(slashes * 2, '\\');
    q += '"';
    return q;
}

struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const { return _stricmp(a.c_str(), b.c_str()) < 0; }
};

std::string environment_block(const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string, NoCase> merged;
    char* block = GetEnvironmentStringsA();
    for (const char* p = block; *p != '\0'; p += std::strlen(p) + 1) {
        std::string kv = p;
        size_t eq = kv.find('=', 1);  // "=C:=C:\x" names start with '='
        if (eq != std::string::npos) merged[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    FreeEnvironmentStringsA(block);
    for (auto& [k, v] : env) {
        if (v == "\x01") merged.erase(k); else merged[k] = v;
    }
    std::string out;
    for (auto& [k, v] : merged) {
        out += k + "=" + v;
        out += '\0';
    }
    out += '\0';
    return out;
}

void drain(HANDLE h, std::string* out) {
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out->append(buf, n);
}

// Handles made inheritable for one child must not leak into another one
// started at the same time: children are created one at a time.
std::mutex& start_lock() {
    static std::mutex m;
    return m;
}

// A started program: its process and the test's ends of its pipes.
struct Started {
    HANDLE process = nullptr;
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    HANDLE err = nullptr;
};

Started start_program(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd = {}) {
    std::string cmd = quote(program);
    for (const auto& a : args) cmd += " " + quote(a);
    std::string envBlock = environment_block(env);

    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
    PROCESS_INFORMATION pi{};
    std::lock_guard<std::mutex> guard(start_lock());
    if (!CreatePipe(&inRead, &inWrite, &sa, 0) || !CreatePipe(&outRead, &outWrite, &sa, 0) ||
        !CreatePipe(&errRead, &errWrite, &sa, 0))
        throw std::runtime_error("pipe failed");
    for (HANDLE h : {inWrite, outRead, errRead}) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    BOOL ok = FALSE;
    // Wine now and then refuses a start with ERROR_INTERNAL_ERROR (1359)
    // while its server is busy; the same start a moment later goes through.
    for (int attempt = 0; attempt < 5; ++attempt) {
        ok = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, envBlock.data(),
                            cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
        if (ok || GetLastError() != ERROR_INTERNAL_ERROR) break;
        Sleep(200);
    }
    for (HANDLE h : {inRead, outWrite, errWrite}) CloseHandle(h);
    if (!ok) {
        for (HANDLE h : {inWrite, outRead, errRead}) CloseHandle(h);
        throw std::runtime_error("cannot start " + program + ": " + std::to_string(GetLastError()));
    }
    CloseHandle(pi.hThread);
    return {pi.hProcess, inWrite, outRead, errRead};
}

void write_all(HANDLE h, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD n = 0;
        if (!WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0) break;
        done += n;
    }
}

// Waits for the end of `process` and sets r's exit code and killed.
void wait_for_exit(HANDLE process, RunResult& r) {
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) r.exitCode = static_cast<int>(code);
    // The crash hook, and Child::kill, end the program as a shell reports
    // a SIGKILL.
    r.killed = r.exitCode == 137;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, std::string_view input,
                      const std::string& cwd) {
    const Started child = start_program(program, args, env, cwd);
    RunResult r;
    std::thread outReader(drain, child.out, &r.rawOut);
    std::thread errReader(drain, child.err, &r.err);
    write_all(child.in, input);
    CloseHandle(child.in);
    outReader.join();
    errReader.join();
    CloseHandle(child.out);
    CloseHandle(child.err);
    wait_for_exit(child.process, r);
    CloseHandle(child.process);
    r.out = in_lines(r.rawOut);
    r.err = in_lines(r.err);
    return r;
}

RunResult run_self(const std::string& filter, const std::map<std::string, std::string>& env) {
    char buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) throw std::runtime_error("cannot name this program");
    return run_program(std::string(buf, n), {"--gtest_filter=" + filter}, env);
}

// ------------------------------------------------------- a driven run

namespace {

// A routine of the system's own (kernelbase.dll) at the same address in
// every process of a session: `name` from there.
void* system_routine(const char* module, const char* name) {
    HMODULE m = GetModuleHandleA(module);
    void* f = m != nullptr ? reinterpret_cast<void*>(GetProcAddress(m, name)) : nullptr;
    if (f == nullptr) throw std::runtime_error(std::string("no ") + name + " in " + module);
    return f;
}

using ProcessFn = LONG(NTAPI*)(HANDLE);

}  // namespace

struct Child::Process {
    Started started;
    ~Process() {
        for (HANDLE h : {started.in, started.out, started.err, started.process}) {
            if (h != nullptr) CloseHandle(h);
        }
    }
};

Child::Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
    : process_(new Process{start_program(build_path(TEILIMP_BINARY), args, env)}) {
    outReader_ = std::thread(&Child::drain_into, this, false, std::ref(out_));
    errReader_ = std::thread(&Child::drain_into, this, true, std::ref(err_));
}

Child::~Child() {
    if (!finished_) {
        kill();
        finish();
    }
}

void Child::send(std::string_view text) {
    if (process_->started.in != nullptr) write_all(process_->started.in, text);
}

void Child::close_input() {
    if (process_->started.in != nullptr) CloseHandle(process_->started.in);
    process_->started.in = nullptr;
}

// The system delivers a console event by starting the console's control
// routine on a new thread in the program; the same is done here, so that
// no console is needed.
void Child::ask_to_stop(StopRequest request) {
    if (finished_) return;
    const DWORD event = request == StopRequest::interrupt   ? CTRL_C_EVENT
                        : request == StopRequest::terminate ? CTRL_BREAK_EVENT
                                                            : CTRL_CLOSE_EVENT;
    auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(system_routine("kernelbase.dll", "CtrlRoutine"));
    HANDLE t = CreateRemoteThread(process_->started.process, nullptr, 0, routine,
                                  reinterpret_cast<void*>(static_cast<uintptr_t>(event)), 0, nullptr);
    if (t == nullptr) throw std::runtime_error("no console event: " + std::to_string(GetLastError()));
    CloseHandle(t);
}

void Child::suspend() {
    if (!finished_) reinterpret_cast<ProcessFn>(system_routine("ntdll.dll", "NtSuspendProcess"))(process_->started.process);
}

void Child::resume() {
    if (!finished_) reinterpret_cast<ProcessFn>(system_routine("ntdll.dll", "NtResumeProcess"))(process_->started.process);
}

void Child::kill() {
    if (!finished_) TerminateProcess(process_->started.process, 137);
}

bool Child::read_stream(bool error, std::string& chunk) {
    char buf[4096];
    DWORD n = 0;
    if (!ReadFile(error ? process_->started.err : process_->started.out, buf, sizeof buf, &n, nullptr) || n == 0)
        return false;
    chunk.append(buf, n);
    return true;
}

void Child::wait_for_end() { wait_for_exit(process_->started.process, result_); }

}  // namespace teilimp::testing
