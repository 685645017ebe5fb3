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
        std::fwrite(u.data(), 1, u.size(), detail::console_stream());
    } else {
        std::fwrite(cp850.data(), 1, cp850.size(), detail::console_stream());
    }
}

// Names on disk are bytes the terminal already shows in its own character
// set: they are written as they are, in every locale.
void put_console_name(std::string_view name) {
    std::fwrite(name.data(), 1, name.size(), detail::console_stream());
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

bool input_is_terminal() { return isatty(0) == 1; }

std::string argument_to_cp850(std::string_view argument) {
    return console_uses_utf8() ? utf8_to_cp850(argument) : std::string(argument);
}

// The directory is named as the system names it, from the root: a drive's
// directory or a relative path is taken from the current directory.
void console_path_note(std::string_view path) {
    char letter = 0;
    std::string dir;
    if (names::drive_letter(path, letter) && !names::drive_dir(letter, dir)) {
        const std::string l(1, letter);
        console_line("   (Laufwerk " + l + ": ist nicht zugeordnet: TEILIMP_DRIVE_" + l + " setzen)");
        return;
    }
    std::string native = native_path(path);
    if (native.empty() || native == ".") native.clear();
    else if (native.compare(0, 2, "./") == 0) native.erase(0, 2);
    if (native.empty() || native[0] != '/') {
        std::vector<char> cwd(4096);
        while (getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE) cwd.resize(cwd.size() * 2);
        std::string abs = cwd.data();
        if (!native.empty()) abs = names::join(abs, native);
        native = std::move(abs);
    }
    console_name_line("   (", native + ")");
}

std::vector<std::string> drive_usage_lines() {
    return {
        "   Laufwerke:  Laufwerk L: ist das Verzeichnis in der Umgebungsvariablen",
        "               TEILIMP_DRIVE_L (ein Laufwerk ohne sie gibt es nicht)",
    };
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
