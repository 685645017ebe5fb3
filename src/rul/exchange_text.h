// Numbers and texts as the exchange formats (DXF and RUL) write them: the
// units, the lengths with as many decimals as a tenth of a millimetre needs,
// and the reversible 7-bit form of the area's texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace teilimp::rul {

enum class Units { Mm, Inch };

// "METRIC" or "ENGLISH".
const char* units_keyword(Units u);

// A length or grade value given in stored tenths of a millimetre: in
// millimetres with one decimal ("-12.3"), in inches with three (0.001 in is
// a quarter of a tenth of a millimetre, so every tenth keeps a value of its
// own; rounded half away from zero). Exact for every int64 value.
std::string format_length(int64_t tenths, Units u);
// The same appended to `out`.
void append_length(std::string& out, int64_t tenths, Units u);

// The 7-bit form of a text of the area (code page 850). Printable ASCII
// stays as it is, except:
//   '%'                    -> "%%%"
//   a byte 0-31 or 127     -> "%%nnn", nnn its code in three decimal digits
//   a byte 128-255         -> "%%nnn", nnn the character's code in
//                             ISO 8859-1, so that other programs show the
//                             right letter (a -> %%228); the 32 characters
//                             of code page 850 that ISO 8859-1 lacks (box
//                             drawing, dotless i, f hook, double low line)
//                             take the codes 128-159 in code-page order
//   a blank first or last  -> "%%032" (readers often strip blanks at the ends)
// "%%nnn" is the DXF's own notation for a character by its number. Every
// '%' of the result starts an escape, so unescape_text gives back the
// bytes exactly.
std::string escape_text(std::string_view cp850);
// The same as one blank-free token (the RUL's size list): every blank as
// "%%032", an empty text as "%%000" (a NUL, which a stored field does not
// tell from its padding).
std::string escape_token(std::string_view cp850);
// The inverse of both: false when the text holds a '%' that begins no
// escape or a code above 255.
bool unescape_text(std::string_view escaped, std::string& cp850);

// The character mapping of the escape, both ways (bytes 128-255).
unsigned char latin1_of_cp850(unsigned char c);
unsigned char cp850_of_latin1(unsigned char c);

// "MM-DD-YYYY" and "HH:MM:SS", as the exchange files write their creation time.
std::string exchange_date(const platform::CalendarTime& t);
std::string exchange_time(const platform::CalendarTime& t);

}  // namespace teilimp::rul
