// The access lock: creating the lock file, removing a stale one, waiting
// for a fresh one, and the exact console text of each case.

#include "writer/lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/test_util.h"
#include "writer/area_path.h"

namespace teilimp::writer {
namespace {

using testing::TempDir;

constexpr platform::FileTime kTicksPerSecond = 10'000'000;

// The line end that console_line appends (found out while the console is
// not captured otherwise).
std::string g_eol;
const std::string& eol() { return g_eol; }
void learn_eol() {
    if (!g_eol.empty()) return;
    platform::test::capture_console(&g_eol);
    platform::console_line("");
    platform::test::capture_console(nullptr);
}

// The marks of failed attempts 1..k and the closing " OK".
std::string marks(int k) {
    std::string s;
    for (int i = 1; i <= k; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, " ..%2d.", i);
        s += i == 1 ? std::string(buf + 1) : std::string(buf);
    }
    return s + " OK" + eol();
}

// Area X:TEST on a mapped drive, console captured, pauses off.
class LockTest : public ::testing::Test {
protected:
    TempDir dir;
    testing::DriveMap drive{'X', dir.path};
    AreaField area = make_area("X:TEST");
    std::string lockPath = area_path(area, AreaFile::Lock);
    std::string nativeLock = dir / "userroot/storage/TEST/data/teilimp.opn";
    std::string console;

    void SetUp() override {
        learn_eol();
        testing::make_dirs(dir / "userroot/storage/TEST/data");
        platform::test::set_sleep_scale(0);
        platform::test::capture_console(&console);
    }
    void TearDown() override {
        platform::test::capture_console(nullptr);
        platform::test::set_sleep_scale(1);
    }

    // A lock file of another run, dated `time`.
    void plant_lock(platform::FileTime time) {
        testing::write_file(nativeLock, "OK\n");
        ASSERT_EQ(platform::set_file_time(lockPath, time), 0u);
    }
};

// Waits until a second has just begun, so that times taken now and a few
// milliseconds later fall into the same second.
platform::FileTime start_of_fresh_second() {
    for (;;) {
        const platform::FileTime now = platform::file_time_now();
        const platform::FileTime intoSecond = now % kTicksPerSecond;
        if (intoSecond < kTicksPerSecond / 5) return now - intoSecond;
        std::this_thread::sleep_for(
            std::chrono::microseconds((kTicksPerSecond - intoSecond) / 10 + 1000));
    }
}

TEST_F(LockTest, FreeAreaIsLockedAtOnceWithoutText) {
    EXPECT_EQ(epn_lock(area, 1), 1);
    EXPECT_EQ(console, "");
    EXPECT_EQ(testing::read_file(nativeLock), "OK" + eol());

    epn_unlock(area);
    EXPECT_FALSE(testing::file_exists(nativeLock));
    EXPECT_EQ(testing::list_dir(dir / "userroot/storage/TEST/data").size(), 0u);
}

TEST_F(LockTest, LockOlderThanLimitIsRemovedAndTaken) {
    plant_lock(platform::file_time_now() - 301 * kTicksPerSecond);

    EXPECT_EQ(epn_lock(area, 1), 1);
    EXPECT_EQ(console, "Alte Zugriffsdatei entfernt..." + eol());
    // The new lock is this run's: fresh, and nothing else left beside it.
    EXPECT_EQ(testing::list_dir(dir / "userroot/storage/TEST/data"),
              std::vector<std::string>{"teilimp.opn"});
    console.clear();
    EXPECT_EQ(epn_lock(area, 1), 0);
    EXPECT_EQ(console, "Zugriffsdatei gefunden. Wartezyklus..." + eol() + marks(30));
}

TEST_F(LockTest, StaleLockThatCannotBeDeletedKeepsTheAreaLocked) {
    plant_lock(platform::file_time_now() - 400 * kTicksPerSecond);
    ASSERT_EQ(platform::set_attributes(lockPath, platform::kAttrReadOnly), 0u);

    EXPECT_EQ(epn_lock(area, 1), 0);
    EXPECT_EQ(console, "Alte Zugriffsdatei entfernt..." + eol() + marks(30));
    EXPECT_EQ(testing::list_dir(dir / "userroot/storage/TEST/data"),
              std::vector<std::string>{"teilimp.opn"});
    ASSERT_EQ(platform::set_attributes(lockPath, 0), 0u);
}

TEST_F(LockTest, LockOfExactlyTheLimitOrFromTheFutureIsWaitedFor) {
    const platform::FileTime second = start_of_fresh_second();
    plant_lock(second - 300 * kTicksPerSecond);
    EXPECT_EQ(epn_lock(area, 1), 0);
    EXPECT_EQ(console, "Zugriffsdatei gefunden. Wartezyklus..." + eol() + marks(30));
    EXPECT_TRUE(testing::file_exists(nativeLock));

    console.clear();
    plant_lock(platform::file_time_now() + 3600 * kTicksPerSecond);
    EXPECT_EQ(epn_lock(area, 1), 0);
    EXPECT_EQ(console, "Zugriffsdatei gefunden. Wartezyklus..." + eol() + marks(30));
    EXPECT_TRUE(testing::file_exists(nativeLock));
}

TEST_F(LockTest, QuietLockWritesNothing) {
    plant_lock(platform::file_time_now());
    EXPECT_EQ(epn_lock(area, 0), 0);
    EXPECT_EQ(console, "");
}

TEST_F(LockTest, LockReleasedDuringTheWaitIsTaken) {
    plant_lock(platform::file_time_now());
    // Pauses of about 100 ms; the other run lets go after a few of them.
    platform::test::set_sleep_scale(0.1);
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
        std::remove(nativeLock.c_str());
    });
    const int32_t result = epn_lock(area, 1);
    other.join();
    platform::test::capture_console(nullptr);

    EXPECT_EQ(result, 1);
    const std::string head = "Zugriffsdatei gefunden. Wartezyklus..." + eol();
    ASSERT_EQ(console.compare(0, head.size(), head), 0) << console;
    // The marks run up to the last failed attempt, then " OK".
    int failed = 0;
    for (size_t at = console.find("..", head.size()); at != std::string::npos;
         at = console.find("..", at + 2))
        ++failed;
    ASSERT_GE(failed, 1);
    ASSERT_LT(failed, 30);
    EXPECT_EQ(console, head + marks(failed));
    EXPECT_TRUE(testing::file_exists(nativeLock));
}

TEST_F(LockTest, MissingOrUnwritableAreaFailsAtOnce) {
    // No data directory, an unmapped drive: nothing to wait for.
    EXPECT_EQ(epn_lock(make_area("X:NOAREA"), 1), kLockAreaMissing);
    EXPECT_EQ(epn_lock(make_area("Q:TEST"), 1), kLockAreaMissing);
    EXPECT_EQ(lock_directory(make_area("X:NOAREA")), "X:\\userroot\\storage\\NOAREA\\data\\");
    // A directory that takes no new file (the read-only attribute does not
    // keep files out of a directory on Windows).
    SKIP_UNLESS_POSIX("a directory made unwritable by its permissions");
#ifndef _WIN32
    const std::string data = dir / "userroot/storage/TEST/data";
    ASSERT_EQ(::chmod(data.c_str(), 0555), 0);
    EXPECT_EQ(epn_lock(area, 1), kLockAreaUnwritable);
    ASSERT_EQ(::chmod(data.c_str(), 0755), 0);
#endif
    EXPECT_EQ(console, "");
}

TEST_F(LockTest, DirectoryFormPutsTheLockAtTheFirstTenCharacters) {
    testing::make_dirs(dir / "TEST");
    const AreaField withSlash = make_area("X:\\TEST\\");
    EXPECT_EQ(epn_lock(withSlash, 1), 1);
    EXPECT_TRUE(testing::file_exists(dir / "TEST/teilimp.opn"));
    epn_unlock(withSlash);
    EXPECT_FALSE(testing::file_exists(dir / "TEST/teilimp.opn"));

    const AreaField withoutSlash = make_area("X:\\TEST");
    EXPECT_EQ(epn_lock(withoutSlash, 1), 1);
    EXPECT_TRUE(testing::file_exists(dir / "TESTteilimp.opn"));
    epn_unlock(withoutSlash);
    EXPECT_FALSE(testing::file_exists(dir / "TESTteilimp.opn"));
    EXPECT_EQ(console, "");
}

TEST_F(LockTest, ARunKnowsItsOwnLock) {
    HeldLock held;
    ASSERT_EQ(epn_lock(area, 1, held), kLockTaken);
    EXPECT_TRUE(lock_is_ours(held));
    // Renewing moves the date-time on and the lock stays this run's.
    ASSERT_EQ(platform::set_file_time(lockPath, platform::file_time_now() - 600 * kTicksPerSecond), 0u);
    EXPECT_FALSE(lock_is_ours(held));  // a date-time this run did not set
    HeldLock renewed = held;
    platform::file_stamp(lockPath, renewed.mine);
    ASSERT_TRUE(lock_renew(renewed));
    EXPECT_TRUE(lock_is_ours(renewed));
    EXPECT_EQ(epn_lock(area, 1), kLockBlocked);

    // Taken over by another run: neither renewed nor released.
    testing::write_file(nativeLock + ".new", "OK\n");
    std::error_code ec;
    std::filesystem::rename(nativeLock + ".new", nativeLock, ec);  // replaces, on every system
    ASSERT_FALSE(ec) << ec.message();
    platform::FileStamp theirs;
    ASSERT_TRUE(platform::file_stamp(lockPath, theirs));
    EXPECT_FALSE(lock_renew(renewed));
    EXPECT_FALSE(lock_release(renewed));
    platform::FileStamp after;
    ASSERT_TRUE(platform::file_stamp(lockPath, after));
    EXPECT_EQ(after, theirs);

    // Deleted: not this run's either.
    std::remove(nativeLock.c_str());
    EXPECT_FALSE(lock_is_ours(renewed));
}

// A lock of ours written ten minutes ago: renewed, it is fresh again.
void make_old(HeldLock& held) {
    ASSERT_EQ(platform::set_file_time(held.path, platform::file_time_now() - 600 * kTicksPerSecond), 0u);
    platform::file_stamp(held.path, held.mine);
}

// Waits for the lock file to be renewed (written in the last 10 s).
bool becomes_fresh(const std::string& path) {
    return testing::eventually([&] {
        platform::FileStamp now;
        return platform::file_stamp(path, now) && now.writeTime > platform::file_time_now() - 10 * kTicksPerSecond;
    });
}

TEST_F(LockTest, KeeperRenewsUntilReleased) {
    platform::test::set_lock_scale(0.005);  // renewal every 150 ms
    HeldLock held;
    ASSERT_EQ(epn_lock(area, 1, held), kLockTaken);
    make_old(held);
    {
        LockKeeper keeper(held);
        EXPECT_TRUE(becomes_fresh(lockPath));
        EXPECT_TRUE(keeper.still_ours());
        EXPECT_TRUE(keeper.release());
    }
    EXPECT_FALSE(testing::file_exists(nativeLock));

    // A keeper whose lock was taken over leaves the other run's file alone.
    ASSERT_EQ(epn_lock(area, 1, held), kLockTaken);
    {
        LockKeeper keeper(held);
        std::remove(nativeLock.c_str());
        testing::write_file(nativeLock, "OK\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_FALSE(keeper.still_ours());
        EXPECT_FALSE(keeper.release());
    }
    EXPECT_TRUE(testing::file_exists(nativeLock));
    platform::test::set_lock_scale(1);
}

// One thread renews every keeper: two at once are both kept fresh, and
// one released early leaves the other renewed.
TEST_F(LockTest, KeepersOfTwoAreasRenewedTogether) {
    platform::test::set_lock_scale(0.005);
    testing::make_dirs(dir / "userroot/storage/OTHER/data");
    const AreaField other = make_area("X:OTHER");
    const std::string otherLock = area_path(other, AreaFile::Lock);
    HeldLock first, second;
    ASSERT_EQ(epn_lock(area, 1, first), kLockTaken);
    ASSERT_EQ(epn_lock(other, 1, second), kLockTaken);
    make_old(first);
    make_old(second);
    auto keepFirst = std::make_unique<LockKeeper>(first);
    LockKeeper keepSecond(second);
    EXPECT_TRUE(becomes_fresh(lockPath));
    EXPECT_TRUE(becomes_fresh(otherLock));
    EXPECT_TRUE(keepFirst->release());
    keepFirst.reset();
    platform::FileStamp before;
    ASSERT_TRUE(platform::file_stamp(otherLock, before));
    EXPECT_TRUE(testing::eventually([&] {
        platform::FileStamp now;
        return platform::file_stamp(otherLock, now) && now.writeTime > before.writeTime;
    }));
    EXPECT_TRUE(keepSecond.still_ours());
    EXPECT_TRUE(keepSecond.release());
    EXPECT_FALSE(testing::file_exists(nativeLock));
    EXPECT_FALSE(platform::exists(otherLock));
    platform::test::set_lock_scale(1);
}

// A keeper due sooner than the one the renewing thread waits for is
// renewed on its own period, also after others came and went.
TEST_F(LockTest, KeeperDueSoonerThanTheOthersIsRenewedInTime) {
    testing::make_dirs(dir / "userroot/storage/OTHER/data");
    HeldLock slow, quick;
    ASSERT_EQ(epn_lock(make_area("X:OTHER"), 1, slow), kLockTaken);
    LockKeeper slowKeeper(slow);  // renewed every 30 s
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the thread waits for it
    platform::test::set_lock_scale(0.005);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(epn_lock(area, 1, quick), kLockTaken);
        ASSERT_TRUE(LockKeeper(quick).release());
    }
    ASSERT_EQ(epn_lock(area, 1, quick), kLockTaken);
    make_old(quick);
    LockKeeper quickKeeper(quick);
    EXPECT_TRUE(becomes_fresh(lockPath));
    EXPECT_TRUE(quickKeeper.release());
    EXPECT_TRUE(slowKeeper.release());
    platform::test::set_lock_scale(1);
}

}  // namespace
}  // namespace teilimp::writer
