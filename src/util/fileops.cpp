// Status-returning wrappers over file copy, delete and rename and the
// read-only attribute.
#include "util/fileops.h"

#include <string>

#include "platform/platform.h"
#include "util/text.h"

namespace teilimp::util {

namespace {

// Names hold at most 259 characters (a 260-character field with its NUL).
constexpr size_t kMaxName = 259;

// The name as the system receives it: up to its first NUL, if any.
std::string_view c_name(std::string_view name) {
    const size_t nul = name.find('\0');
    return nul == std::string_view::npos ? name : name.substr(0, nul);
}

// The status of a failed operation: the caller sees 3. Codes other than
// the expected refusals (not found, access denied, write-protected, disk
// full) are reported to the error hook first.
int16_t refused(uint32_t code, std::string_view tag) {
    switch (code) {
        case platform::kErrFileNotFound:
        case platform::kErrPathNotFound:
        case platform::kErrAccessDenied:
        case platform::kErrWriteProtect:
        case platform::kErrDiskFull:
            break;
        default:
            liberr(tag, static_cast<int32_t>(code));
            break;
    }
    return 3;
}

}  // namespace

int16_t ftnfco(std::string_view src, std::string_view dst) {
    if (src.empty() || dst.empty()) liberr("ftnfco");
    if (src.size() > kMaxName || dst.size() > kMaxName) return 3;
    const uint32_t code = platform::copy_file(c_name(src), c_name(dst));
    return code == 0 ? int16_t{0} : refused(code, "FTNFCO");
}

int16_t FTNFDE(std::string_view name) {
    if (name.size() > kMaxName) return 3;
    const uint32_t code = platform::delete_file(c_name(name));
    return code == 0 ? int16_t{0} : refused(code, "FTNFDE");
}

int16_t ftnfre(std::string_view from, std::string_view to) {
    if (from.empty() || to.empty()) {
        liberr("ftnfre-1");
        return 1;
    }
    if (from.size() > kMaxName || to.size() > kMaxName) return 3;
    const uint32_t code = platform::rename_file(c_name(from), c_name(to));
    return code == 0 ? int16_t{0} : refused(code, "ftnfre-2");
}

int16_t Get_ro(std::string_view name) {
    const std::string_view n = c_name(name);
    std::string shortName;
    if (n.size() <= kMaxName) {
        uint32_t attrs = platform::get_attributes(n);
        if (attrs == platform::kAttrInvalid) {
            // The long form may be unknown where its short form still works.
            shortName = platform::short_path_name(n);
            if (!shortName.empty()) attrs = platform::get_attributes(shortName);
        }
        if (attrs != platform::kAttrInvalid) return (attrs & platform::kAttrReadOnly) ? 1 : 0;
    }
    if (!shortName.empty()) {
        platform::error_line("Get_ro:SDatei=" + shortName);
    } else {
        platform::error_line("Get_ro: Datei=" + std::string(n));
    }
    return -1;
}

void Set_ro(std::string_view name, int16_t flag) {
    const std::string_view n = c_name(name);
    const uint32_t attrs = n.size() <= kMaxName ? platform::get_attributes(n) : platform::kAttrInvalid;
    if (attrs == platform::kAttrInvalid) {
        platform::error_line("Set_ro: Datei=" + std::string(n.substr(0, 60)));
        return;
    }
    const uint32_t wanted = flag != 0 ? (attrs | platform::kAttrReadOnly) : (attrs & ~platform::kAttrReadOnly);
    const uint32_t code = platform::set_attributes(n, wanted);
    if (code != 0) liberr("", static_cast<int32_t>(code));
}

}  // namespace teilimp::util
