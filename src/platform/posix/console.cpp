// The POSIX console (code page 850, as UTF-8 under a UTF-8 locale), the
// ANSI code page's letters and the environment.
#include "platform/posix/posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace teilimp::platform::posix {

std::string_view line_end() { return "\n"; }

void put_console(std::string_view cp850) {
    if (console_uses_utf8()) {
        std::string u = cp850_to_utf8(cp850);
        std::fwrite(u.data(), 1, u.size(), stdout);
    } else {
        std::fwrite(cp850.data(), 1, cp850.size(), stdout);
    }
}

// Names on disk are bytes the terminal already shows in its own character
// set: they are written as they are, in every locale.
void put_console_name(std::string_view name) {
    std::fwrite(name.data(), 1, name.size(), stdout);
}


bool console_uses_utf8() {
    const char* v = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        v = std::getenv(name);
        if (v != nullptr && *v != '\0') break;
        v = nullptr;
    }
    if (v == nullptr) return false;
    std::string s = v;
    for (char& c : s) c = static_cast<char>(names::lower1252(static_cast<unsigned char>(c)));
    return s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
}


unsigned char upper_ansi(unsigned char c) { return names::upper1252(c); }
unsigned char lower_ansi(unsigned char c) { return names::lower1252(c); }

bool get_env(std::string_view name, std::string& value) {
    const char* v = std::getenv(std::string(name).c_str());
    if (v == nullptr) return false;
    value = v;
    return true;
}

std::string temp_directory() {
    for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0' && *v != ' ') return v;
    }
    return "/tmp";
}

}  // namespace teilimp::platform::posix
