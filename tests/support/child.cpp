#include "support/child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace teilimp::testing {

namespace {

void drain_into(int fd, std::mutex& m, std::string& sink) {
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(m);
            sink.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
}

}  // namespace

Child::Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    const Started started = start_program(TEILIMP_BINARY, args, env);
    pid = started.pid;
    input = started.in;
    outFd = started.out;
    errFd = started.err;
    outReader = std::thread(drain_into, outFd, std::ref(mutex), std::ref(out));
    errReader = std::thread(drain_into, errFd, std::ref(mutex), std::ref(err));
}

Child::~Child() {
    if (!finished) {
        ::kill(pid, SIGKILL);
        ::kill(pid, SIGCONT);
        finish();
    }
}

void Child::send(std::string_view text) {
    size_t done = 0;
    while (input >= 0 && done < text.size()) {
        ssize_t n = ::write(input, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

void Child::close_input() {
    if (input >= 0) close(input);
    input = -1;
}

void Child::signal(int sig) {
    if (!finished) ::kill(pid, sig);
}

std::string Child::output() const {
    std::lock_guard<std::mutex> lock(mutex);
    return out;
}

bool Child::wait_for(std::string_view needle, std::chrono::milliseconds limit) const {
    return eventually([&] { return output().find(needle) != std::string::npos; }, limit);
}

RunResult Child::finish() {
    if (finished) return result;
    close_input();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Grandchildren (a command typed at a pause) may still hold the pipes;
    // the readers end when the last writer is gone.
    outReader.join();
    errReader.join();
    close(outFd);
    close(errFd);
    finished = true;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) {
        result.exitCode = -1000 - WTERMSIG(status);
        result.killed = WTERMSIG(status) == SIGKILL;
    }
    std::lock_guard<std::mutex> lock(mutex);
    result.out = out;
    result.err = err;
    return result;
}

}  // namespace teilimp::testing
