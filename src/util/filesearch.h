// Wildcard file search kept open between calls, and one-file lookups.
// The search state lives in a record that the caller keeps, so several
// searches can run side by side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "util/datetime.h"

namespace teilimp::util {

// ---- FTNFNS: short names, attribute filter, 2-byte date fields.
struct FnsInfo {
    int32_t size = 0;
    int16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
struct FnsSearch {
    platform::FindHandle handle;
    bool open = false;
    int32_t mask = 0;
};
// mode 1 first (name = pattern), 2 next, 3 close. Status: 0 found, 1 no
// (more) entries, 2 mode 1 failed otherwise, 3 mode 2 failed otherwise or a
// bad mode, 4 mode 2 without an open search. On success `name` receives the
// found name (the short alternate name if there is one) and `attributes` the
// entry's bits; in mode 1 `attributes` is the filter mask (0 = every entry).
int16_t FTNFNS(FnsSearch& s, int16_t mode, std::string& name, int16_t& attributes,
               FnsInfo& info);

// 1 if a file matching `name` exists, else 0 (dti zero, size 0).
int32_t fileinfo(std::string_view name, Dti& dti, int32_t& size);
int32_t filedti(std::string_view name, Dti& dti);
// Size of the first match, -1 if none.
int32_t filesize(std::string_view name);

// ---- ftnfns4: long name, 12-character display short name, dti.
struct Fns4Search {
    platform::FindHandle handle;
    bool open = false;
};
struct Fns4Entry {
    int32_t attributes = 0;
    int32_t size = 0;  // low 32 bits
    Dti dti{};
    std::string longName;      // without terminator
    char shortName[12] = {};   // display layout: name in 1-8, dot in 9, ext 10-12
    bool hasAlternateName = false;  // the system reported an 8.3 alias
};
// mode 1 first (pattern), 2 next, 3 close. Result: 0 found (also for mode
// 3), 1 no (more) entries, 2 mode 1 failed otherwise, 3 mode 2 failed
// otherwise or a bad mode.
int32_t ftnfns4(Fns4Search& s, int32_t mode, std::string_view pattern, Fns4Entry& out);
// The dti of a file time (local); six zero bytes if it can't be converted.
void ftnfns4_filetime2dti(platform::FileTime t, Dti& out);

}  // namespace teilimp::util
