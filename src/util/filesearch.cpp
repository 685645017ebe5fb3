// Wildcard file search kept open between calls, and one-file lookups.
#include "util/filesearch.h"

#include <algorithm>
#include <cstring>

#include "util/memvec.h"
#include "util/text.h"

namespace teilimp::util {

namespace {

// Patterns hold at most 259 characters (a 260-character field with its NUL).
constexpr size_t kMaxPattern = 259;
// Code reported with a time stamp that can't be converted.
constexpr int32_t kErrBadTime = static_cast<int32_t>(platform::kErrInvalidParameter);

// The pattern as the system receives it: at most 259 characters, up to its
// first NUL.
std::string work_pattern(std::string_view pattern) {
    pattern = pattern.substr(0, kMaxPattern);
    const size_t nul = pattern.find('\0');
    if (nul != std::string_view::npos) pattern = pattern.substr(0, nul);
    return std::string(pattern);
}

// find_first, tried once more through the short form of the pattern when
// the system reports "no more files".
uint32_t find_first_retry(const std::string& pattern, platform::FindHandle& h, platform::FindEntry& e) {
    uint32_t code = platform::find_first(pattern, h, e);
    if (code == platform::kErrNoMoreFiles) {
        const std::string shortForm = platform::short_path_name(pattern);
        if (!shortForm.empty()) code = platform::find_first(shortForm, h, e);
    }
    return code;
}

// A directory is dated by its creation time when it has one, everything
// else by its last write.
platform::FileTime stamp_of(const platform::FindEntry& e) {
    if ((e.attributes & platform::kAttrDirectory) && e.creation_time != 0) return e.creation_time;
    return e.write_time;
}

int32_t low32(uint64_t size) { return static_cast<int32_t>(static_cast<uint32_t>(size)); }

void close_search(platform::FindHandle& h, bool& open) {
    if (open || h.is_open()) platform::find_close(h);
    open = false;
}

// The result fields of FTNFNS for a found entry.
void fill_fns(const platform::FindEntry& e, std::string& name, int16_t& attributes, FnsInfo& info) {
    const std::string& found = e.short_name.empty() ? e.long_name : e.short_name;
    name = found.substr(0, std::min(found.find('\0'), size_t{260}));
    attributes = static_cast<int16_t>(static_cast<uint16_t>(e.attributes & 0xFFFF));
    info.size = low32(e.size);
    platform::CalendarTime t;
    if (platform::file_time_to_local(stamp_of(e), t)) {
        info.year = static_cast<int16_t>(t.year);
        info.month = static_cast<int16_t>(t.month);
        info.day = static_cast<int16_t>(t.day);
        info.hour = static_cast<int16_t>(t.hour);
        info.minute = static_cast<int16_t>(t.minute);
        info.second = static_cast<int16_t>(t.second);
    } else {
        info.year = info.month = info.day = info.hour = info.minute = info.second = 0;
        liberr("FTNFNS-1", kErrBadTime);
    }
}

// The 12-character display form of an entry's short name: name in 1-8,
// dot in 9, extension in 10-12.
void display_short_name(const platform::FindEntry& e, char (&out)[12]) {
    std::memset(out, ' ', sizeof out);
    if (!e.short_name.empty()) {
        const size_t len = std::min({e.short_name.find('\0'), e.short_name.size(), size_t{12}});
        std::memcpy(out, e.short_name.data(), len);
    } else if (!e.long_name.empty() && e.long_name.size() <= 12) {
        std::memcpy(out, e.long_name.data(), e.long_name.size());
        KleGro(out, 12);
    }
    const bool dotDir = (e.attributes & platform::kAttrDirectory) && (e.long_name == "." || e.long_name == "..");
    const int d = nsuche(out, 12, ".", 1);
    if (d >= 1 && d <= 8 && !dotDir) {
        umsp(4, out + d - 1, out + 8);
        std::memset(out + d - 1, ' ', static_cast<size_t>(9 - d));
    }
}

void fill_fns4(const platform::FindEntry& e, Fns4Entry& out) {
    out.longName = e.long_name.substr(0, std::min(e.long_name.find('\0'), kMaxPattern));
    display_short_name(e, out.shortName);
    out.hasAlternateName = !e.short_name.empty() && e.short_name.front() != '\0';
    out.attributes = static_cast<int32_t>(e.attributes);
    ftnfns4_filetime2dti(stamp_of(e), out.dti);
    out.size = low32(e.size);
}

}  // namespace

int16_t FTNFNS(FnsSearch& s, int16_t mode, std::string& name, int16_t& attributes, FnsInfo& info) {
    platform::FindEntry e;
    uint32_t code = 0;
    switch (mode) {
        case 1: {
            close_search(s.handle, s.open);
            if (name.empty()) return 2;
            code = find_first_retry(work_pattern(name), s.handle, e);
            if (code != 0) {
                close_search(s.handle, s.open);
                return code == platform::kErrNoMoreFiles ? 1 : 2;
            }
            s.open = true;
            s.mask = static_cast<uint16_t>(attributes);
            break;
        }
        case 2:
            code = platform::find_next(s.handle, e);
            if (code != 0) {
                close_search(s.handle, s.open);
                if (code == platform::kErrNoMoreFiles) return 1;
                return code == platform::kErrInvalidHandle ? 4 : 3;
            }
            break;
        case 3:
            close_search(s.handle, s.open);
            return 0;
        default:
            return 3;
    }
    // Skip entries that have none of the filter's bits.
    while (s.mask != 0 && (e.attributes & static_cast<uint32_t>(s.mask)) == 0) {
        code = platform::find_next(s.handle, e);
        if (code != 0) {
            close_search(s.handle, s.open);
            return code == platform::kErrNoMoreFiles ? 1 : 3;
        }
    }
    fill_fns(e, name, attributes, info);
    return 0;
}

int32_t fileinfo(std::string_view name, Dti& dti, int32_t& size) {
    FnsSearch s;
    std::string work = work_pattern(name);
    int16_t attributes = 0;
    FnsInfo info;
    const int16_t status = FTNFNS(s, 1, work, attributes, info);
    dti = Dti{};
    size = 0;
    if (status == 0) {
        size = info.size;
        // A time stamp that could not be converted stays "no time".
        if (info.year != 0) {
            platform::CalendarTime t;
            t.year = info.year;
            t.month = info.month;
            t.day = info.day;
            t.hour = info.hour;
            t.minute = info.minute;
            t.second = info.second;
            dti = dti_of(t);
        }
    }
    FTNFNS(s, 3, work, attributes, info);
    return status == 0 ? 1 : 0;
}

int32_t filedti(std::string_view name, Dti& dti) {
    int32_t size = 0;
    return fileinfo(name, dti, size);
}

int32_t filesize(std::string_view name) {
    Dti dti;
    int32_t size = 0;
    return fileinfo(name, dti, size) ? size : -1;
}

int32_t ftnfns4(Fns4Search& s, int32_t mode, std::string_view pattern, Fns4Entry& out) {
    platform::FindEntry e;
    switch (mode) {
        case 1: {
            close_search(s.handle, s.open);
            if (pattern.empty()) return 2;
            if (pattern.size() > kMaxPattern) liberr("ftnfns4-1");
            const uint32_t code = find_first_retry(work_pattern(pattern), s.handle, e);
            if (code != 0) {
                close_search(s.handle, s.open);
                return code == platform::kErrNoMoreFiles ? 1 : 2;
            }
            s.open = true;
            break;
        }
        case 2: {
            const uint32_t code = platform::find_next(s.handle, e);
            if (code != 0) {
                close_search(s.handle, s.open);
                return code == platform::kErrNoMoreFiles ? 1 : 3;
            }
            break;
        }
        case 3:
            close_search(s.handle, s.open);
            return 0;
        default:
            return 3;
    }
    fill_fns4(e, out);
    return 0;
}

void ftnfns4_filetime2dti(platform::FileTime t, Dti& out) {
    platform::CalendarTime c;
    if (!platform::file_time_to_local(t, c)) {
        out = Dti{};
        liberr("ftnfns4_filetime2dti-1", kErrBadTime);
        return;
    }
    out = dti_of(c);
}

}  // namespace teilimp::util
