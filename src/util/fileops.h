// Status-returning wrappers over file copy, delete and rename and the
// read-only attribute. Names are passed with an explicit length and used
// exactly (no trimming); at most 259 characters.
// Status: 0 done, 1 (ftnfre only) a length was 0 or negative, 3 refused.
#pragma once

#include <cstdint>
#include <string_view>

namespace teilimp::util {

// Copies src over dst (an existing writable dst is replaced).
int16_t ftnfco(std::string_view src, std::string_view dst);
// Deletes the file.
int16_t FTNFDE(std::string_view name);
// Renames or moves; fails (3) if `to` exists.
int16_t ftnfre(std::string_view from, std::string_view to);
// 1 read-only, 0 not, -1 attributes unreadable (one line to standard error).
int16_t Get_ro(std::string_view name);
// Sets (flag != 0) or clears the read-only attribute.
void Set_ro(std::string_view name, int16_t flag);

}  // namespace teilimp::util
