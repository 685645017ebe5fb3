// The compact local date-time record `dti` and the date and time texts.
#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"

namespace teilimp::util {

// Six bytes: year - 1980, month, day, hour, minute, second. Six zero bytes
// mean "no time". Readers take each byte as signed.
using Dti = std::array<int8_t, 6>;

void dtinow(Dti& out);
// Calendar days from the date of a to the date of b, and the difference of
// the times of day in seconds; both may be negative. Elapsed seconds are
// days * 86400 + seconds.
void dtidiff(const Dti& a, const Dti& b, int32_t& days, int32_t& seconds);
// DD-MM-YYYY into date(1:10), HH:MM:SS into time(1:8).
void dtitexts(const Dti& d, char* date10, char* time8);

struct DateRecord { int16_t year, month, day, weekday; };  // weekday 1 = Monday .. 7 = Sunday
struct TimeRecord { int16_t hour, minute, second, millisecond; };
// Today's date; also returns the day.
int16_t today(DateRecord& out);
void nowtime(TimeRecord& out);
void datewd(char* text14);         // "DD.MM.YY (WD) "
void stamp16(char* text16);        // "DD-MM-YYYY HH:MM"
void dateshort(char* text8);       // "DD-MM-YY"
void datetimeshort(char* text14);  // "DD-MM-YY HH:MM"
void timedots(char* text8);        // "HH.MM.SS"

// The same, of a given local time instead of now.
Dti dti_of(const platform::CalendarTime& t);  // year byte: low byte of year + 68
DateRecord today(const platform::CalendarTime& t);
void datewd(const platform::CalendarTime& t, char* text14);
void stamp16(const platform::CalendarTime& t, char* text16);
void dateshort(const platform::CalendarTime& t, char* text8);
void datetimeshort(const platform::CalendarTime& t, char* text14);
void timedots(const platform::CalendarTime& t, char* text8);

}  // namespace teilimp::util
