// The compact date-time record `dti`, its difference, and fixed-layout date
// and time texts.
#include "util/datetime.h"

#include <cstring>

namespace teilimp::util {

namespace {

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int month_length(int month, int year) {
    switch (month) {
        case 2: return is_leap(year) ? 29 : 28;
        case 4: case 6: case 9: case 11: return 30;
        default: return 31;
    }
}

// Day number of a dti's date, counted from 1 January 1980 (which is day 1).
// Months beyond 12 count as December; negative year bytes add no years.
int32_t day_number(const Dti& d) {
    const int year = 1980 + d[0];
    int32_t days = d[2];
    for (int m = 1; m <= 11; ++m) {
        if (m < d[1]) days += month_length(m, year);
    }
    for (int y = 0; y < d[0]; ++y) days += is_leap(1980 + y) ? 366 : 365;
    return days;
}

// Writes v with exactly `width` digits (leading zeros), keeping its last
// digits when it is wider.
void put_digits(char* out, int v, int width) {
    if (v < 0) v = -v;
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
}

constexpr char kWeekdays[] = "MODIMIDOFRSASO";

// 1 = Monday .. 7 = Sunday from the system's 0 = Sunday .. 6 = Saturday.
int16_t weekday_of(const platform::CalendarTime& t) {
    return static_cast<int16_t>(t.weekday == 0 ? 7 : t.weekday);
}

}  // namespace

Dti dti_of(const platform::CalendarTime& t) {
    Dti d{};
    d[0] = static_cast<int8_t>(static_cast<uint8_t>((t.year + 68) & 0xFF));
    d[1] = static_cast<int8_t>(t.month);
    d[2] = static_cast<int8_t>(t.day);
    d[3] = static_cast<int8_t>(t.hour);
    d[4] = static_cast<int8_t>(t.minute);
    d[5] = static_cast<int8_t>(t.second);
    return d;
}

void dtinow(Dti& out) { out = dti_of(platform::local_now()); }

void dtidiff(const Dti& a, const Dti& b, int32_t& days, int32_t& seconds) {
    seconds = ((b[3] - a[3]) * 60 + (b[4] - a[4])) * 60 + (b[5] - a[5]);
    days = day_number(b) - day_number(a);
}

void dtitexts(const Dti& d, char* date10, char* time8) {
    put_digits(date10, d[2], 2);
    date10[2] = '-';
    put_digits(date10 + 3, d[1], 2);
    date10[5] = '-';
    put_digits(date10 + 6, 1980 + d[0], 4);
    put_digits(time8, d[3], 2);
    time8[2] = ':';
    put_digits(time8 + 3, d[4], 2);
    time8[5] = ':';
    put_digits(time8 + 6, d[5], 2);
}

DateRecord today(const platform::CalendarTime& t) {
    return DateRecord{static_cast<int16_t>(t.year), static_cast<int16_t>(t.month),
                      static_cast<int16_t>(t.day), weekday_of(t)};
}

int16_t today(DateRecord& out) {
    out = today(platform::local_now());
    return out.day;
}

void nowtime(TimeRecord& out) {
    const platform::CalendarTime t = platform::local_now();
    out = TimeRecord{static_cast<int16_t>(t.hour), static_cast<int16_t>(t.minute),
                     static_cast<int16_t>(t.second), static_cast<int16_t>(t.millisecond)};
}

void datewd(const platform::CalendarTime& t, char* text14) {
    put_digits(text14, t.day, 2);
    text14[2] = '.';
    put_digits(text14 + 3, t.month, 2);
    text14[5] = '.';
    put_digits(text14 + 6, t.year % 100, 2);
    text14[8] = ' ';
    text14[9] = '(';
    const int w = weekday_of(t);
    text14[10] = kWeekdays[2 * w - 2];
    text14[11] = kWeekdays[2 * w - 1];
    text14[12] = ')';
    text14[13] = ' ';
}

void stamp16(const platform::CalendarTime& t, char* text16) {
    put_digits(text16, t.day, 2);
    text16[2] = '-';
    put_digits(text16 + 3, t.month, 2);
    text16[5] = '-';
    put_digits(text16 + 6, t.year, 4);
    text16[10] = ' ';
    put_digits(text16 + 11, t.hour, 2);
    text16[13] = ':';
    put_digits(text16 + 14, t.minute, 2);
}

void dateshort(const platform::CalendarTime& t, char* text8) {
    char s[16];
    stamp16(t, s);
    std::memcpy(text8, s, 6);
    std::memcpy(text8 + 6, s + 8, 2);
}

void datetimeshort(const platform::CalendarTime& t, char* text14) {
    char s[16];
    stamp16(t, s);
    std::memcpy(text14, s, 6);
    std::memcpy(text14 + 6, s + 8, 8);
}

void timedots(const platform::CalendarTime& t, char* text8) {
    put_digits(text8, t.hour, 2);
    text8[2] = '.';
    put_digits(text8 + 3, t.minute, 2);
    text8[5] = '.';
    put_digits(text8 + 6, t.second, 2);
}

void datewd(char* text14) { datewd(platform::local_now(), text14); }
void stamp16(char* text16) { stamp16(platform::local_now(), text16); }
void dateshort(char* text8) { dateshort(platform::local_now(), text8); }
void datetimeshort(char* text14) { datetimeshort(platform::local_now(), text14); }
void timedots(char* text8) { timedots(platform::local_now(), text8); }

}  // namespace teilimp::util
