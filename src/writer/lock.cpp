// The access lock of a storage area. The lock file's existence means that a
// run is writing into the area; creating it with create-new semantics is
// the one atomic step that lets exactly one of several runs in. A run that
// holds the lock renews the file's date-time while it lives, so only the
// lock of a dead run grows stale.

#include "writer/lock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "util/datetime.h"
#include "util/fileops.h"
#include "util/filesearch.h"
#include "writer/area_path.h"

namespace teilimp::writer {

namespace {

constexpr int32_t kStaleSeconds = 300;  // older than this: left by a dead run
constexpr int32_t kRenewSeconds = 30;   // a live run renews its lock this often
constexpr int32_t kAttempts = 30;
constexpr uint32_t kPauseBaseMs = 1000;
constexpr uint32_t kPauseStepMs = 10;
constexpr size_t kLockNameLength = 11;  // "teilimp.opn"

// Age of a file in seconds by its local date-time; false if it isn't there.
bool file_age(const std::string& path, int64_t& age) {
    util::Dti fileTime{};
    if (util::filedti(path, fileTime) != 1) return false;
    util::Dti now{};
    util::dtinow(now);
    int32_t days = 0;
    int32_t seconds = 0;
    util::dtidiff(fileTime, now, days, seconds);
    age = static_cast<int64_t>(days) * 86400 + seconds;
    return true;
}

bool older_than_stale_age(int64_t age) {
    return static_cast<double>(age) > kStaleSeconds * platform::test::lock_scale();
}

bool is_stale(const std::string& path) {
    int64_t age = 0;
    return file_age(path, age) && older_than_stale_age(age);
}

// A name beside the lock file that no other run uses.
std::string private_name(const std::string& lockPath) {
    std::random_device rd;
    const uint64_t salt = (static_cast<uint64_t>(rd()) << 32) ^ rd() ^
                          static_cast<uint64_t>(platform::file_time_now());
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(salt));
    return lockPath + suffix;
}

// Removes a stale lock file, but only the stale one: another run may have
// removed it and created a fresh lock since the age was looked at. The file
// is first moved to a private name (atomically, so exactly one run gets
// it); the moved file is deleted only if it is still older than the limit,
// otherwise it is put back. A stale lock that cannot be deleted is put back
// too: it keeps the area locked, so the attempts fail while it remains.
void remove_stale_lock(const std::string& lockPath) {
    const std::string mine = private_name(lockPath);
    if (platform::rename_file(lockPath, mine) != 0) return;  // gone or refused
    if (is_stale(mine) && util::FTNFDE(mine) == 0) return;
    // Fresh (it belongs to a run that holds the lock), or undeletable: give
    // it back; if a third run has created a lock meanwhile, that one stands.
    if (platform::rename_file(mine, lockPath) != 0) util::FTNFDE(mine);
}

// Mark of failed attempt i: " .." and i in two columns and "."; the first
// mark begins the line and goes without its blank.
std::string attempt_mark(int32_t i) {
    char mark[24];
    std::snprintf(mark, sizeof mark, " ..%2d.", static_cast<int>(i));
    return i == 1 ? std::string(mark + 1) : std::string(mark);
}

bool try_create(const std::string& lockPath) {
    platform::File f = platform::open_file(lockPath, platform::OpenMode::CreateNew);
    if (!f.is_open()) return false;
    // As accessible as the area's control file: every importer of a team
    // that shares the area must be able to remove it once it is stale.
    const std::string ctl = lockPath.substr(0, lockPath.size() - kLockNameLength) + "piece.ctl";
    platform::copy_access(ctl, f);  // nothing to take when there is no control file
    // The contents are never read; the file's existence is the lock.
    platform::write_line(f, "OK");
    platform::close_file(f);
    return true;
}

// The lock file could not be created although none exists. Tried once more
// (another run's lock may have gone just between the two steps); then the
// area itself is the reason: its directory is missing, or takes no file.
int32_t without_lock_file(const std::string& lockPath) {
    if (try_create(lockPath)) return kLockTaken;
    if (platform::exists(lockPath)) return kLockBlocked;
    const std::string dir = lockPath.substr(0, lockPath.size() - kLockNameLength);
    const uint32_t attrs = platform::get_attributes(dir);
    if (attrs == platform::kAttrInvalid || (attrs & platform::kAttrDirectory) == 0) return kLockAreaMissing;
    return kLockAreaUnwritable;
}

}  // namespace

int32_t epn_lock(const AreaField& area, int32_t verbose, HeldLock& held, int32_t waitForever) {
    const std::string lockPath = area_path(area, AreaFile::Lock);
    held = HeldLock{lockPath, {}};

    int64_t age = 0;
    if (file_age(lockPath, age)) {
        if (older_than_stale_age(age)) {
            if (verbose) platform::console_line("Alte Zugriffsdatei entfernt...");
            remove_stale_lock(lockPath);
        } else {
            if (verbose) platform::console_line("Zugriffsdatei gefunden. Wartezyklus...");
        }
    }

    int32_t result = kLockBlocked;
    int32_t failed = 0;
    for (int32_t i = 1; waitForever != 0 || i <= kAttempts; ++i) {
        if (try_create(lockPath)) {
            result = kLockTaken;
            break;
        }
        if (!platform::exists(lockPath)) {
            // Nothing to wait for: no run holds the area.
            result = without_lock_file(lockPath);
            if (result != kLockBlocked) break;
        }
        ++failed;
        // Past the usual attempts a mark every 10 keeps the line short.
        if (verbose && (i <= kAttempts || i % 10 == 0)) {
            platform::console_write(attempt_mark(i));
            platform::console_flush();
        }
        if (platform::interrupted()) {
            result = kLockInterrupted;
            break;
        }
        // A lock that has become stale while this run waits belonged to a
        // run that died meanwhile.
        if (waitForever != 0 && is_stale(lockPath)) {
            if (verbose) {
                platform::console_line("");
                platform::console_line("Alte Zugriffsdatei entfernt...");
            }
            remove_stale_lock(lockPath);
        }
        const int32_t step = i < kAttempts ? i : kAttempts;
        platform::sleep_ms(kPauseBaseMs + kPauseStepMs * static_cast<uint32_t>(step));
        if (platform::interrupted()) {
            result = kLockInterrupted;
            break;
        }
    }
    if (failed > 0 && verbose) platform::console_line(" OK");
    if (result == kLockTaken) platform::file_stamp(lockPath, held.mine);
    return result;
}

int32_t epn_lock(const AreaField& area, int32_t verbose, int32_t waitForever) {
    HeldLock held;
    return epn_lock(area, verbose, held, waitForever);
}

void epn_unlock(const AreaField& area) { util::FTNFDE(area_path(area, AreaFile::Lock)); }

bool lock_is_ours(const HeldLock& lock) {
    platform::FileStamp now;
    return platform::file_stamp(lock.path, now) && now == lock.mine;
}

bool lock_renew(HeldLock& lock) {
    if (!lock_is_ours(lock)) return false;
    platform::set_file_time(lock.path, platform::file_time_now());
    // Remember the date-time as the file system keeps it.
    platform::FileStamp now;
    if (!platform::file_stamp(lock.path, now) || now.volume != lock.mine.volume ||
        now.index != lock.mine.index)
        return false;
    lock.mine = now;
    return true;
}

bool lock_release(HeldLock& lock) {
    if (!lock_is_ours(lock)) return false;
    util::FTNFDE(lock.path);
    return true;
}

std::string lock_directory(const AreaField& area) {
    const std::string lockPath = area_path(area, AreaFile::Lock);
    return lockPath.substr(0, lockPath.size() - kLockNameLength);
}

// ------------------------------------------------------------ LockKeeper

namespace {

// The keepers whose locks the renewing thread keeps fresh. Made once and
// never destroyed: the thread, once started, waits here until the process
// ends (it touches nothing while no keeper is listed).
struct Renewals {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LockKeeper*> keepers;
    bool started = false;
    // When the waiting thread wakes by itself (max: only when told). It is
    // told only of a keeper due before that: a keeper that stops leaves it
    // waiting, and when it wakes it looks at the list as it is then.
    std::chrono::steady_clock::time_point wakes = std::chrono::steady_clock::time_point::max();
};

Renewals& renewals() {
    static Renewals* r = new Renewals;
    return *r;
}

void renew_loop(Renewals& r) {
    std::unique_lock<std::mutex> guard(r.mutex);
    for (;;) {
        if (r.keepers.empty()) {
            r.wakes = std::chrono::steady_clock::time_point::max();
            r.changed.wait(guard);
            continue;
        }
        auto next = r.keepers.front()->due();
        for (const LockKeeper* k : r.keepers) next = std::min(next, k->due());
        const auto now = std::chrono::steady_clock::now();
        if (now < next) {
            r.wakes = next;
            r.changed.wait_until(guard, next);
            continue;
        }
        std::erase_if(r.keepers, [&](LockKeeper* k) { return !k->renew_if_due(now); });
    }
}

}  // namespace

LockKeeper::LockKeeper(HeldLock lock) : lock_(std::move(lock)) {
    // Never more often than every 50 ms, whatever the tests ask for.
    const double seconds = std::max(0.05, kRenewSeconds * platform::test::lock_scale());
    period_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    due_ = std::chrono::steady_clock::now() + period_;
    Renewals& r = renewals();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (!r.started) {
        std::thread([&r] { renew_loop(r); }).detach();
        r.started = true;
    }
    r.keepers.push_back(this);
    renewing_ = true;
    if (due_ < r.wakes) r.changed.notify_all();
}

LockKeeper::~LockKeeper() { stop(); }

bool LockKeeper::renew_if_due(std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (lost_) return false;
    if (now < due_) return true;
    if (!lock_renew(lock_)) {
        lost_ = true;
        return false;
    }
    due_ = std::chrono::steady_clock::now() + period_;
    return true;
}

void LockKeeper::stop() {
    // Out of the list, and no renewal under way once the list is ours.
    Renewals& r = renewals();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (!renewing_) return;
    std::erase(r.keepers, this);
    renewing_ = false;
}

bool LockKeeper::still_ours() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!lost_ && !lock_is_ours(lock_)) lost_ = true;
    return !lost_;
}

bool LockKeeper::release() {
    stop();
    std::lock_guard<std::mutex> guard(mutex_);
    if (lost_) return false;
    return lock_release(lock_);
}


LockState epn_lock_state(const AreaField& area, int64_t& age) {
    age = 0;
    const std::string path = area_path(area, AreaFile::Lock);
    if (!platform::exists(path)) return LockState::None;
    if (!file_age(path, age)) return LockState::Fresh;
    return age > kStaleSeconds ? LockState::Stale : LockState::Fresh;
}

}  // namespace teilimp::writer
