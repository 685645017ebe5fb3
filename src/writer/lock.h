// The access lock of a storage area: the file teilimp.opn in its data
// directory, created with create-new semantics by the run that writes.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "writer/records.h"

namespace teilimp::writer {

// Results of epn_lock.
enum : int32_t {
    kLockBlocked = 0,         // another run holds the lock
    kLockTaken = 1,           // this call created the lock file
    kLockAreaMissing = 2,     // the data directory (or its drive) does not exist
    kLockAreaUnwritable = 3,  // the data directory takes no new file
    kLockInterrupted = 4,     // the user interrupted the wait
};

// A lock as the run that took it knows it: the lock file's identity on
// disk and the date-time this run last gave it. A lock file that differs in
// either is not this run's any more (another run took it over after this
// one was suspended, or it was deleted or replaced).
struct HeldLock {
    std::string path;
    platform::FileStamp mine{};
};

// Takes the lock (removing a stale one, waiting up to 30 attempts for a
// fresh one). verbose != 0 writes the messages and attempt marks on the
// console. waitForever != 0 goes on trying after the 30th attempt for as
// long as it takes, with a mark every 10 attempts, and still removes the
// lock once it has become stale. A lock file that cannot be created and
// does not exist means a missing or unusable area: no waiting then. `held`
// receives the lock.
int32_t epn_lock(const AreaField& area, int32_t verbose, HeldLock& held, int32_t waitForever = 0);
int32_t epn_lock(const AreaField& area, int32_t verbose, int32_t waitForever = 0);
// Deletes the lock file, whoever's it is.
void epn_unlock(const AreaField& area);

// True while the lock file is the one this run created and last stamped.
bool lock_is_ours(const HeldLock& lock);
// Sets the lock file's date-time to now, if it is still this run's; false
// (the file untouched) when it is not.
bool lock_renew(HeldLock& lock);
// Deletes the lock file if it is still this run's; false (the file left to
// whoever has it) when it is not.
bool lock_release(HeldLock& lock);

// The data directory that holds the area's lock file, as the program names
// it ("F:\userroot\storage\TEST\data\").
std::string lock_directory(const AreaField& area);

// Keeps a held lock fresh while the run waits for an answer or works on a
// long step: a thread renews the lock file's date-time every 30 seconds,
// so that no other run takes this live run for a dead one. Once the lock
// is found not to be this run's, it is never touched again. One thread
// serves every keeper of the process: started with the first, it waits
// for the next renewal due and stays for later keepers (a test or fuzz run
// makes thousands of keepers, and a thread for each took longer than the
// work each one guards).
struct LockKeeper {
    explicit LockKeeper(HeldLock lock);
    ~LockKeeper();  // stops renewing; the lock file stays
    LockKeeper(const LockKeeper&) = delete;
    LockKeeper& operator=(const LockKeeper&) = delete;

    // True while the lock is still this run's (looked at now).
    bool still_ours();
    // Stops renewing and deletes the lock file if it is this run's; false
    // when it was not (it is then left alone).
    bool release();

    // For the renewing thread, with the keepers' list locked: renews the
    // lock if its time has come; false once it is lost (no renewal again).
    bool renew_if_due(std::chrono::steady_clock::time_point now);
    std::chrono::steady_clock::time_point due() const { return due_; }

private:
    void stop();

    std::mutex mutex_;
    HeldLock lock_;
    bool renewing_ = false;  // in the renewing thread's list
    bool lost_ = false;
    std::chrono::steady_clock::duration period_;
    std::chrono::steady_clock::time_point due_;
};

// The area's lock as a reader sees it, without touching it: no lock file,
// a fresh one (a run may be writing), or a stale one (left by a dead run).
// `age` receives the lock file's age in seconds when there is one.
enum class LockState { None, Fresh, Stale };
LockState epn_lock_state(const AreaField& area, int64_t& age);

}  // namespace teilimp::writer
