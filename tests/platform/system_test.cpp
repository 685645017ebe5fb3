// Console, case tables, environment, pauses and times of the POSIX
// platform layer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "support/test_util.h"

namespace teilimp::platform {
namespace {

using teilimp::testing::ScopedEnv;

TEST(PlatformConsole, Cp850ToUtf8) {
    EXPECT_EQ(cp850_to_utf8("Gr\x81\xE1" "e \x84\x94\x9A"), "Gr\xC3\xBC\xC3\x9F" "e \xC3\xA4\xC3\xB6\xC3\x9C");
    EXPECT_EQ(cp850_to_utf8("\xC4\xFF"), "\xE2\x94\x80\xC2\xA0");  // box line, no-break space
    EXPECT_EQ(cp850_to_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    // Every byte has a character: 128 non-ASCII bytes give 2 or 3 bytes each.
    std::string all;
    for (int c = 128; c < 256; ++c) all += static_cast<char>(c);
    std::string u = cp850_to_utf8(all);
    EXPECT_GE(u.size(), 256u);
    EXPECT_EQ(u.find('?'), std::string::npos);
    // And back: every character of the code page; one it lacks (the euro
    // sign) as '?', bytes that are no UTF-8 as they are.
    EXPECT_EQ(utf8_to_cp850(u), all);
    EXPECT_EQ(utf8_to_cp850("\xE2\x82\xAC \xC3 \xF8\x80\x80 \xC3\x84"), "? \xC3 \xF8\x80\x80 \x8E");
}

TEST(PlatformConsole, LocaleDecidesConversion) {
    SKIP_UNLESS_POSIX("the console shows code page 850 itself on Windows");
    ScopedEnv lcAll("LC_ALL", nullptr), ctype("LC_CTYPE", nullptr);
    {
        ScopedEnv lang("LANG", "de_DE.UTF-8");
        EXPECT_TRUE(console_uses_utf8());
        ScopedEnv c("LC_ALL", "C");
        EXPECT_FALSE(console_uses_utf8());
    }
    {
        ScopedEnv lang("LANG", "C");
        ScopedEnv ct("LC_CTYPE", "en_US.utf8");
        EXPECT_TRUE(console_uses_utf8());
    }
    ScopedEnv lang("LANG", nullptr);
    EXPECT_FALSE(console_uses_utf8());
}

TEST(PlatformConsole, CaptureAndFeed) {
    std::string out;
    test::capture_console(&out);
    console_write("Konvertiere Datei:");
    console_line("x\x81");
    console_flush();
    test::capture_console(nullptr);
    EXPECT_EQ(out, "Konvertiere Datei:x\x81" + std::string(testing::kLineEnd));

    const std::string in = "Ja\r\nlonger line\n\nlast";
    test::feed_console(&in);
    std::string line;
    ASSERT_TRUE(console_read_line(line, 80));
    EXPECT_EQ(line, "Ja");
    ASSERT_TRUE(console_read_line(line, 6));
    EXPECT_EQ(line, "longer");
    ASSERT_TRUE(console_read_line(line, 80));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(console_read_line(line, 80));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(console_read_line(line, 80));
    test::feed_console(nullptr);
}

// Runs `write` with standard output sent to a file; returns what arrived.
template <class F>
std::string stdout_of(F write) {
    testing::TempDir t;
    std::string file = t / "stdout";
    std::fflush(stdout);
    int saved = dup(1);
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    close(fd);
    write();
    console_flush();
    dup2(saved, 1);
    close(saved);
    return testing::read_file(file);
}

TEST(PlatformConsole, StandardOutputConvertedOrPassedThrough) {
    SKIP_UNLESS_POSIX("conversion by locale and /bin/sh commands");
    {
        ScopedEnv lc("LC_ALL", "de_DE.UTF-8");
        EXPECT_EQ(stdout_of([] { console_line("\x84\x94\x81"); }), "\xC3\xA4\xC3\xB6\xC3\xBC\n");
    }
    ScopedEnv lc("LC_ALL", "C");
    EXPECT_EQ(stdout_of([] { console_write("\x84"); console_line("x"); }), "\x84x\n");
    // Buffered text comes before what a command prints.
    EXPECT_EQ(stdout_of([] {
                  console_write("first ");
                  EXPECT_EQ(run_command("printf second; exit 3"), 3);
              }),
              "first second");
}

// A pipe is no terminal; a pseudo-terminal is one.
TEST(PlatformConsole, TerminalInputIsTold) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a pseudo-terminal as standard input";
#else
    const int saved = dup(0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    dup2(fds[0], 0);
    EXPECT_FALSE(input_is_terminal());
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    const int slave = grantpt(master) == 0 && unlockpt(master) == 0 ? open(ptsname(master), O_RDWR | O_NOCTTY) : -1;
    EXPECT_EQ(dup2(slave, 0), 0);
    EXPECT_TRUE(input_is_terminal());
    dup2(saved, 0);
    for (int fd : {saved, fds[0], fds[1], master, slave}) close(fd);
#endif
}

TEST(PlatformText, Cp1252CaseTables) {
    EXPECT_EQ(upper_ansi('a'), 'A');
    EXPECT_EQ(upper_ansi('z'), 'Z');
    EXPECT_EQ(upper_ansi('1'), '1');
    EXPECT_EQ(upper_ansi(0xE4), 0xC4);  // a-umlaut
    EXPECT_EQ(upper_ansi(0xFE), 0xDE);  // thorn
    EXPECT_EQ(upper_ansi(0xFF), 0x9F);  // y-diaeresis
    EXPECT_EQ(upper_ansi(0x9A), 0x8A);  // s-caron
    EXPECT_EQ(upper_ansi(0x9C), 0x8C);
    EXPECT_EQ(upper_ansi(0x9E), 0x8E);
    EXPECT_EQ(upper_ansi(0xDF), 0xDF);  // sharp s has no capital
    EXPECT_EQ(upper_ansi(0xB5), 0xB5);  // micro sign
    EXPECT_EQ(upper_ansi(0xF7), 0xF7);  // division sign
    EXPECT_EQ(lower_ansi(0xD7), 0xD7);  // multiplication sign
    EXPECT_EQ(lower_ansi(0x9F), 0xFF);
    EXPECT_EQ(lower_ansi(0xC4), 0xE4);
    EXPECT_EQ(lower_ansi('Q'), 'q');
    EXPECT_EQ(lower_ansi(0xDF), 0xDF);
    for (int c = 0; c < 256; ++c) {
        auto u = upper_ansi(static_cast<unsigned char>(c));
        if (u != c) {
            EXPECT_EQ(lower_ansi(u), c) << c;
        }
    }
}

TEST(PlatformEnv, TempDirectoryOrder) {
    SKIP_UNLESS_POSIX("TMPDIR and /tmp");
    ScopedEnv tmp("TMP", "/t1"), temp("TEMP", "/t2"), tmpdir("TMPDIR", "/t3");
    EXPECT_EQ(temp_directory(), "/t1");
    {
        ScopedEnv blank("TMP", " x");
        EXPECT_EQ(temp_directory(), "/t2");
    }
    ScopedEnv noTmp("TMP", nullptr);
    EXPECT_EQ(temp_directory(), "/t2");
    ScopedEnv noTemp("TEMP", nullptr);
    EXPECT_EQ(temp_directory(), "/t3");
    ScopedEnv noDir("TMPDIR", nullptr);
    EXPECT_EQ(temp_directory(), "/tmp");

    std::string v;
    EXPECT_FALSE(get_env("TEILIMP_SURELY_UNSET", v));
    ScopedEnv set("TEILIMP_X", "");
    EXPECT_TRUE(get_env("TEILIMP_X", v));
    EXPECT_EQ(v, "");
}

TEST(PlatformTime, SleepScale) {
    using Clock = std::chrono::steady_clock;
    test::set_sleep_scale(0);
    auto t0 = Clock::now();
    sleep_ms(5000);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(100));
    test::set_sleep_scale(0.01);
    t0 = Clock::now();
    sleep_ms(3000);  // 30 ms
    auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(29));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    test::set_sleep_scale(1);
}

// Stamps come from the system's zone on every system: POSIX takes it from
// TZ, Windows from its own zone data whatever TZ says (shells set TZ to
// zone names the C library does not know). Either way a file time turned
// into local fields and read back as standard time is the same instant in
// winter, and the local clock agrees with the file-time clock.
TEST(PlatformTime, StampsFollowTheSystemZoneWhateverTz) {
    for (const char* zone : {"Europe/Berlin", "America/New_York", "UTC", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
        {
            ScopedEnv tz("TZ", zone);
            tzset();
            const int64_t unixSecs = 1011092400;  // 2002-01-15 11:00:00 UTC
            CalendarTime c;
            ASSERT_TRUE(file_time_to_local((unixSecs + 11644473600LL) * 10000000LL, c));
            EXPECT_EQ(mktime_standard(c), unixSecs) << zone;
            const CalendarTime local = local_now();
            CalendarTime viaFile;
            ASSERT_TRUE(file_time_to_local(file_time_now(), viaFile));
            const int a = local.hour * 60 + local.minute, b = viaFile.hour * 60 + viaFile.minute;
            EXPECT_LE((b - a + 1440) % 1440, 1) << zone;
        }
        tzset();
    }
}

TEST(PlatformTime, Conversions) {
    SKIP_UNLESS_POSIX("the zone from TZ; Windows takes the system's zone");
    {
    ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    // 2002-07-01 10:00:00 UTC is 12:00 CEST.
    const int64_t unixSecs = 1025517600;
    FileTime ft = (unixSecs + 11644473600LL) * 10000000LL + 1234567;
    CalendarTime c;
    ASSERT_TRUE(file_time_to_local(ft, c));
    EXPECT_EQ(c.year, 2002);
    EXPECT_EQ(c.month, 7);
    EXPECT_EQ(c.day, 1);
    EXPECT_EQ(c.hour, 12);
    EXPECT_EQ(c.minute, 0);
    EXPECT_EQ(c.millisecond, 123);
    EXPECT_EQ(c.weekday, 1);
    // Read as standard time the summer clock is an hour ahead.
    EXPECT_EQ(mktime_standard(c), unixSecs + 3600);
    CalendarTime winter{2002, 1, 15, 12, 0, 0, 0, 0};
    EXPECT_EQ(mktime_standard(winter), 1011092400);
    EXPECT_FALSE(file_time_to_local(-1, c));

    FileTime now = file_time_now();
    CalendarTime a = local_now(), b;
    ASSERT_TRUE(file_time_to_local(now, b));
    EXPECT_EQ(a.year, b.year);
    EXPECT_EQ(a.day, b.day);
    EXPECT_GE(a.year, 2024);
    }
    tzset();
}

}  // namespace
}  // namespace teilimp::platform
