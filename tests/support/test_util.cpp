#include "support/test_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace teilimp::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/teilimp-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again so that read-only test files go too.
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path, ec);
}

std::string TempDir::operator/(std::string_view rel) const { return path + "/" + std::string(rel); }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void make_dirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
}

void write_file(const std::string& path, std::string_view bytes) {
    auto parent = fs::path(path).parent_path();
    if (!parent.empty()) make_dirs(parent.string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

static void drain(int fd, std::string* out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) { out->append(buf, static_cast<size_t>(n)); continue; }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
}

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

RunResult run_teilimp(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                      std::string_view input, const std::string& cwd) {
    std::vector<std::string> envStrings = child_environment(env);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{TEILIMP_BINARY};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    RunResult r;
    std::thread outReader(drain, outPipe[0], &r.out);
    std::thread errReader(drain, errPipe[0], &r.err);
    // Feed the input, then close so that the child sees the end of input.
    signal(SIGPIPE, SIG_IGN);
    size_t done = 0;
    while (done < input.size()) {
        ssize_t n = ::write(inPipe[1], input.data() + done, input.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(inPipe[1]);
    outReader.join();
    errReader.join();
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) r.exitCode = -1000 - WTERMSIG(status);
    return r;
}

ScopedEnv::ScopedEnv(std::string n, const char* value) : name(std::move(n)) {
    if (const char* o = std::getenv(name.c_str())) { had = true; old = o; }
    if (value) setenv(name.c_str(), value, 1); else unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (had) setenv(name.c_str(), old.c_str(), 1); else unsetenv(name.c_str());
}

}  // namespace teilimp::testing
