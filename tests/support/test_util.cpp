#include "support/test_util.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace teilimp::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    const fs::path base = fs::temp_directory_path();
    std::random_device rd;
    std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd());
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "teilimp-test-";
        for (int i = 0; i < 8; ++i) name += kChars[gen() % (sizeof kChars - 1)];
        std::error_code ec;
        if (fs::create_directory(base / name, ec)) {
            path = (base / name).string();
            return;
        }
    }
    throw std::runtime_error("no scratch directory below " + base.string());
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again so that read-only test files go too.
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path, ec);
}

std::string TempDir::operator/(std::string_view rel) const { return path + "/" + std::string(rel); }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void make_dirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
}

void remove_file(const std::string& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove(path, ec);
}

void write_file(const std::string& path, std::string_view bytes) {
    auto parent = fs::path(path).parent_path();
    if (!parent.empty()) make_dirs(parent.string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool make_link(const std::string& target, const std::string& link) {
    std::error_code ec;
    if (fs::is_directory(target, ec))
        fs::create_directory_symlink(target, link, ec);
    else
        fs::create_symlink(target, link, ec);
    return !ec && fs::is_symlink(fs::symlink_status(link, ec));
}

bool writable_by_this_user(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    return static_cast<bool>(out);
}

bool is_real_directory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(path, ec));
}

int permission_bits(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec) return -1;
    return static_cast<int>(st.permissions() & fs::perms::all);
}

std::string found_name(std::string_view name) {
    std::string s(name);
    if (short_names()) {
        for (char& c : s) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        }
    }
    return s;
}

RunResult run_teilimp(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                      std::string_view input, const std::string& cwd) {
    return run_program(build_path(TEILIMP_BINARY), args, env, input, cwd);
}

}  // namespace teilimp::testing
