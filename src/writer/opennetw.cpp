#include "writer/opennetw.h"

#include <cctype>

namespace teilimp::writer {

namespace {

// The directory that holds this run's private copies: created on first use
// with mode 0700 below the temporary directory, so no other user can plant
// a file or link in it, and two runs never share a copy.
std::string& private_dir() {
    static std::string dir;
    return dir;
}

bool ensure_private_dir() {
    std::string& dir = private_dir();
    if (!dir.empty() && platform::exists(dir)) return true;
    std::string parent = platform::temp_directory();
    if (parent.empty()) return false;
    std::string made;
    if (platform::make_private_directory(parent, "teilimp-", made) != platform::kErrNone) return false;
    dir = made;
    return true;
}

// The status text blank-padded to 3 characters, lower-cased.
std::string status_word(std::string_view status) {
    std::string s(status.substr(0, 3));
    s.resize(3, ' ');
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The file name's part after its last separator.
std::string_view base_name(std::string_view name) {
    size_t p = name.find_last_of("\\/");
    return p == std::string_view::npos ? name : name.substr(p + 1);
}

}  // namespace

int32_t opennetw(platform::File& channel, std::string_view fileName, std::string_view status,
                 int32_t /*binary*/, std::string* copyPath) {
    if (fileName.empty()) return -1;
    const std::string word = status_word(status);
    const bool present = platform::exists(fileName);
    if (word == "new" && present) return -1;
    if (word == "old" && !present) return -1;

    if (!ensure_private_dir()) return 1;
    std::string copy = private_dir() + "/" + std::string(base_name(fileName));
    if (copyPath != nullptr) *copyPath = copy;
    if (platform::copy_file(fileName, copy) != platform::kErrNone) return 2;

    platform::OpenMode mode = platform::OpenMode::Create;
    if (word == "old") mode = platform::OpenMode::Read;
    if (word == "new") mode = platform::OpenMode::CreateNew;
    channel = platform::open_file(copy, mode);
    return channel.is_open() ? 0 : 3;
}

void opennetw_cleanup() {
    std::string& dir = private_dir();
    if (dir.empty()) return;
    platform::remove_tree(dir);
    dir.clear();
}

}  // namespace teilimp::writer
