#include <gtest/gtest.h>

#include <string>

#include "util/datetime.h"

using namespace teilimp::util;

namespace {
Dti dti(int y, int mo, int d, int h, int mi, int s) {
    return Dti{static_cast<int8_t>(y - 1980), static_cast<int8_t>(mo), static_cast<int8_t>(d),
               static_cast<int8_t>(h), static_cast<int8_t>(mi), static_cast<int8_t>(s)};
}
teilimp::platform::CalendarTime cal(int y, int mo, int d, int h, int mi, int s, int wd) {
    teilimp::platform::CalendarTime t;
    t.year = y; t.month = mo; t.day = d; t.hour = h; t.minute = mi; t.second = s; t.weekday = wd;
    return t;
}
void expect_diff(const Dti& a, const Dti& b, int32_t days, int32_t seconds) {
    int32_t d = 99, s = 99;
    dtidiff(a, b, d, s);
    EXPECT_EQ(d, days);
    EXPECT_EQ(s, seconds);
    dtidiff(b, a, d, s);
    EXPECT_EQ(d, -days);
    EXPECT_EQ(s, -seconds);
}
}  // namespace

TEST(Dtidiff, CountsCalendarDaysAcrossMonthsYearsAndLeapDays) {
    expect_diff(dti(2000, 2, 28, 12, 0, 0), dti(2000, 3, 1, 11, 0, 0), 2, -3600);
    expect_diff(dti(2001, 2, 28, 0, 0, 0), dti(2001, 3, 1, 0, 0, 0), 1, 0);
    expect_diff(dti(2001, 12, 31, 23, 59, 59), dti(2002, 1, 1, 0, 0, 0), 1, -86399);
    expect_diff(dti(2100, 2, 28, 0, 0, 0), dti(2100, 3, 1, 0, 0, 0), 1, 0);  // 2100 is no leap year
    expect_diff(dti(1980, 1, 1, 0, 0, 0), dti(2024, 1, 1, 0, 0, 0), 16071, 0);
    expect_diff(dti(2024, 2, 29, 10, 0, 0), dti(2025, 2, 28, 10, 0, 1), 365, 1);
    expect_diff(dti(2005, 6, 7, 8, 9, 10), dti(2005, 6, 7, 8, 9, 10), 0, 0);
}

TEST(Dti, YearByteAndTexts) {
    const Dti d = dti_of(cal(2002, 3, 7, 9, 5, 0, 4));
    EXPECT_EQ(d, (Dti{22, 3, 7, 9, 5, 0}));
    EXPECT_EQ(dti_of(cal(2107, 1, 1, 0, 0, 0, 0))[0], 127);
    char date[11] = {}, time[9] = {};
    dtitexts(d, date, time);
    EXPECT_STREQ(date, "07-03-2002");
    EXPECT_STREQ(time, "09:05:00");

    Dti now{};
    dtinow(now);
    EXPECT_GE(now[0], 44);  // 2024 or later
    EXPECT_GE(now[1], 1);
    EXPECT_LE(now[1], 12);
}

TEST(DateTexts, FixedLayouts) {
    const auto sunday = cal(2002, 3, 10, 7, 4, 3, 0);
    std::string f(16, '#');
    datewd(sunday, f.data());
    EXPECT_EQ(f, "10.03.02 (SO) ##");
    datewd(cal(2009, 12, 31, 0, 0, 0, 4), f.data());
    EXPECT_EQ(f.substr(0, 14), "31.12.09 (DO) ");
    stamp16(sunday, f.data());
    EXPECT_EQ(f, "10-03-2002 07:04");
    f.assign(16, '#');
    dateshort(sunday, f.data());
    EXPECT_EQ(f, "10-03-02########");
    datetimeshort(sunday, f.data());
    EXPECT_EQ(f, "10-03-02 07:04##");
    timedots(sunday, f.data());
    EXPECT_EQ(f.substr(0, 8), "07.04.03");

    const DateRecord r = today(sunday);
    EXPECT_EQ(r.weekday, 7);
    EXPECT_EQ(today(cal(2002, 3, 11, 0, 0, 0, 1)).weekday, 1);
}
