// The POSIX side of the test support: programs started with fork and exec
// and driven by signals, drive letters as the platform layer's drive
// variables.
#include "support/child.h"
#include "support/test_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace teilimp::testing {

const std::string_view kLineEnd = "\n";

std::string in_lines(std::string_view raw) { return std::string(raw); }

bool short_names() { return false; }

bool posix_system() { return true; }

bool sweep_point(int64_t) { return true; }

// The platform layer refuses itself, also for root.
bool read_only_refused() { return true; }


FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    struct rlimit old;
    if (getrlimit(RLIMIT_FSIZE, &old) != 0) return;
    old_ = old.rlim_cur;
    // Writing past the limit fails with EFBIG instead of a signal.
    oldHandler_ = reinterpret_cast<void*>(signal(SIGXFSZ, SIG_IGN));
    struct rlimit small = old;
    small.rlim_cur = bytes;
    active = setrlimit(RLIMIT_FSIZE, &small) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    struct rlimit old;
    if (getrlimit(RLIMIT_FSIZE, &old) == 0) {
        old.rlim_cur = old_;
        setrlimit(RLIMIT_FSIZE, &old);
    }
    signal(SIGXFSZ, reinterpret_cast<void (*)(int)>(oldHandler_));
}

std::string build_path(std::string_view hostPath) { return std::string(hostPath); }

ScopedEnv::ScopedEnv(std::string n, const char* value) : name(std::move(n)) {
    if (const char* o = std::getenv(name.c_str())) {
        had = true;
        old = o;
    }
    if (value) setenv(name.c_str(), value, 1); else unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (had) setenv(name.c_str(), old.c_str(), 1); else unsetenv(name.c_str());
}

namespace {

std::string drive_variable(char letter) { return std::string("TEILIMP_DRIVE_") + letter; }

}  // namespace

DriveMap::DriveMap(char l, const std::string& dir)
    : letter(l), state_(new ScopedEnv(drive_variable(l), dir.c_str())) {}

DriveMap::DriveMap(char l) : letter(l), state_(new ScopedEnv(drive_variable(l), nullptr)) {}

DriveMap::~DriveMap() { delete static_cast<ScopedEnv*>(state_); }

namespace {

// Waits for the end of `pid` and sets r's exit code and killed.
void wait_for_exit(pid_t pid, RunResult& r) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        r.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.exitCode = -1000 - WTERMSIG(status);
        r.killed = WTERMSIG(status) == SIGKILL;
    }
}

void drain(int fd, std::string* out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out->append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
}

// The environment of a child: the current one with `env` added or
// overridden (a value of "\x01" removes the variable), as "NAME=value".
std::vector<std::string> child_environment(const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) merged[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (auto& [k, v] : env) {
        if (v == "\x01") merged.erase(k); else merged[k] = v;
    }
    std::vector<std::string> out;
    for (auto& [k, v] : merged) out.push_back(k + "=" + v);
    return out;
}

// A program started with pipes for its standard input, output and error:
// its process id and the test's ends of the pipes.
struct Started {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int err = -1;
};

// Starts `program` with `args`, the environment of child_environment(env)
// and `cwd` as its working directory (when not empty); the signals a test
// may have changed go back to their defaults in the program.
Started start_program(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd = {}) {
    std::vector<std::string> envStrings = child_environment(env);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        // The test may have blocked or ignored signals; the program gets
        // the defaults.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // A program that ends early must not end the test with it.
    signal(SIGPIPE, SIG_IGN);
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    return {pid, inPipe[1], outPipe[0], errPipe[0]};
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, std::string_view input,
                      const std::string& cwd) {
    const Started child = start_program(program, args, env, cwd);
    RunResult r;
    std::thread outReader(drain, child.out, &r.rawOut);
    std::thread errReader(drain, child.err, &r.err);
    // Feed the input, then close so that the child sees the end of input.
    size_t done = 0;
    while (done < input.size()) {
        ssize_t n = ::write(child.in, input.data() + done, input.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(child.in);
    outReader.join();
    errReader.join();
    close(child.out);
    close(child.err);
    r.out = in_lines(r.rawOut);
    wait_for_exit(child.pid, r);
    return r;
}

RunResult run_self(const std::string& filter, const std::map<std::string, std::string>& env) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) throw std::runtime_error("cannot name this program");
    return run_program(std::string(buf, static_cast<size_t>(n)), {"--gtest_filter=" + filter}, env);
}

// ------------------------------------------------------- a driven run

struct Child::Process {
    Started started;
    ~Process() {
        for (int fd : {started.in, started.out, started.err}) {
            if (fd >= 0) close(fd);
        }
    }
};

Child::Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
    : process_(new Process{start_program(TEILIMP_BINARY, args, env)}) {
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
    size_t done = 0;
    while (process_->started.in >= 0 && done < text.size()) {
        ssize_t n = ::write(process_->started.in, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

void Child::close_input() {
    if (process_->started.in >= 0) close(process_->started.in);
    process_->started.in = -1;
}

void Child::ask_to_stop(StopRequest request) {
    const int sig = request == StopRequest::interrupt ? SIGINT : request == StopRequest::terminate ? SIGTERM : SIGHUP;
    if (!finished_) ::kill(process_->started.pid, sig);
}

void Child::suspend() {
    if (!finished_) ::kill(process_->started.pid, SIGSTOP);
}

void Child::resume() {
    if (!finished_) ::kill(process_->started.pid, SIGCONT);
}

void Child::kill() {
    if (!finished_) ::kill(process_->started.pid, SIGKILL);
}

bool Child::read_stream(bool error, std::string& chunk) {
    char buf[4096];
    const int fd = error ? process_->started.err : process_->started.out;
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            chunk.append(buf, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

void Child::wait_for_end() { wait_for_exit(process_->started.pid, result_); }

}  // namespace teilimp::testing
