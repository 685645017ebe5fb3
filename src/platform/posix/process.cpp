// POSIX processes and signals: the clock and the calendar, pauses and
// interrupts, the command interpreter, standard input and the crash.
#include "platform/posix/posix.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace teilimp::platform::posix {


[[noreturn]] void kill_self() {
    std::fflush(stdout);  // console text up to the crash is kept
    raise(SIGKILL);
    _exit(137);
}


namespace {

void fill_calendar(const struct tm& tm, int ms, CalendarTime& out) {
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.millisecond = ms;
    out.weekday = tm.tm_wday;
}

}  // namespace

CalendarTime local_now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t secs = ts.tv_sec;
    struct tm tm;
    CalendarTime out;
    if (localtime_r(&secs, &tm) != nullptr)
        fill_calendar(tm, static_cast<int>(ts.tv_nsec / 1000000), out);
    return out;
}

bool file_time_to_local(FileTime t, CalendarTime& out) {
    if (t < 0) return false;
    time_t secs = static_cast<time_t>(t / 10000000 - 11644473600LL);
    int ms = static_cast<int>((t % 10000000) / 10000);
    struct tm tm;
    if (localtime_r(&secs, &tm) == nullptr) return false;
    fill_calendar(tm, ms, out);
    return true;
}

FileTime file_time_now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return to_file_time(ts);
}

int64_t mktime_standard(const CalendarTime& t) {
    struct tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = 0;
    return static_cast<int64_t>(mktime(&tm));
}

// ----------------------------------------------------------- interrupts

namespace {

// Set by the first interrupt. One exchange both tests and sets it: two
// signals that two threads handle at the same moment must not both take
// themselves for the first, or the second would not end the run.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");
// Written to by the handler, so that a wait for input or a pause (a poll
// that includes this pipe) ends when an interrupt comes, also one that
// comes just before the wait begins.
int g_wakePipe[2] = {-1, -1};

void on_interrupt(int sig) {
    if (g_interrupts.exchange(1) != 0) {
        // The second one: end at once, as the signal itself would.
        signal(sig, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        raise(sig);
        _exit(128 + sig);
    }
    const int saved = errno;
    if (g_wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(g_wakePipe[1], &byte, 1);
    }
    errno = saved;
}

// Waits until `fd` (if not -1) is readable, an interrupt comes, or the time
// (milliseconds, -1: none) is up. True when `fd` is readable.
bool wait_readable(int fd, int64_t timeoutMs) {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (g_interrupts != 0) return false;
        struct pollfd fds[2];
        nfds_t n = 0;
        if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
        if (g_wakePipe[0] >= 0) fds[n++] = {g_wakePipe[0], POLLIN, 0};
        int wait = -1;
        if (timeoutMs >= 0) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const int64_t spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
            if (spent >= timeoutMs) return false;
            wait = static_cast<int>(std::min<int64_t>(timeoutMs - spent, 1 << 30));
        }
        const int rc = poll(fds, n, wait);
        if (rc < 0 && errno != EINTR) return fd >= 0;  // let the read report it
        if (rc > 0 && fd >= 0 && fds[0].revents != 0) return true;
    }
}

}  // namespace

void catch_interrupts() {
    if (g_wakePipe[0] < 0 && pipe(g_wakePipe) == 0) {
        for (int fd : g_wakePipe) {
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    // Other system calls go on as before; the waits watch the pipe.
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool interrupted() { return g_interrupts != 0; }

void interrupt_handled() {}


bool next_input_byte(int& c) {
    for (;;) {
        if (!wait_readable(0, -1)) return false;
        unsigned char byte = 0;
        const ssize_t n = ::read(0, &byte, 1);
        if (n == 1) {
            c = byte;
            return true;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return false;
    }
}


void sleep_ms(uint32_t ms) {
    double scaled = std::min(static_cast<double>(ms) * detail::hooks().sleepScale, 1e12);
    if (scaled <= 0) return;
    wait_readable(-1, static_cast<int64_t>(scaled + 0.5));
}

int run_command(std::string_view commandLine) {
    console_flush();
    std::fflush(stderr);
    std::string cmd(commandLine);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace teilimp::platform::posix
