// The two lines with which both programs report a failed step: the status
// line with the step's number, and the line with its reason. The reasons
// themselves are the modules' own (reader, writer).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace teilimp::util {

// "text" followed by the number right-aligned in six columns
// ("Achtung: Fehler in epn_ctl_put()     9").
std::string status_line(std::string_view text, int32_t number);
// Three blanks and the reason in parentheses, in code page 850;
// "unbekannter Fehler" when the reason is empty.
std::string reason_line(std::string_view reason);

}  // namespace teilimp::util
