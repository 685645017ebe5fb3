// The Linux program and the Windows program (under Wine) through the same
// sequence of runs, each into an area of its own: the console texts are
// the same (line ends and the 8.3 names of found files aside) and so is
// every file of the areas, byte for byte, with the date-time stamps
// masked. Runs where the Windows program is given (make test-windows):
//   TEILIMP_WINDOWS_PROGRAM  the .exe, run with $TEILIMP_WINE (wine)
//   WINEPREFIX               the Wine prefix it runs in
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/area_check.h"
#include "support/test_util.h"

namespace teilimp::testing {
namespace {

namespace fs = std::filesystem;

const char* env_or_null(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : nullptr;
}

// A program named without a directory, looked up in PATH.
std::string in_path(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = env_or_null("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(at, end - at) + "/" + name;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) return candidate;
        at = end + 1;
    }
    return name;
}

// CR LF to LF, and the name in a "Konvertiere Datei:" line upper-cased
// (Windows shows a found file under its 8.3 name).
std::string comparable(const std::string& raw) {
    std::string s;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        s += raw[i];
    }
    const std::string head = "Konvertiere Datei:";
    for (size_t at = s.find(head); at != std::string::npos; at = s.find(head, at + 1)) {
        for (size_t k = at + head.size(); k < s.size() && s[k] != '\n'; ++k) {
            if (s[k] >= 'a' && s[k] <= 'z') s[k] = static_cast<char>(s[k] - 32);
        }
    }
    return s;
}

void zero(std::string& bytes, size_t at, size_t n) {
    for (size_t k = at; k < at + n && k < bytes.size(); ++k) bytes[k] = '\0';
}

// The date-time stamps of control entries (bytes 26, 30, 44 of a record
// that is no trailer) and of piece-file directory entries (30, 34, 38).
std::string masked(const std::string& name, std::string bytes) {
    if (name == "piece.ctl" || name == "piece.ct$") {
        for (size_t at = 0; at + 64 <= bytes.size(); at += 64) {
            if (bytes[at + 59] != 0) continue;
            for (size_t f : {26, 30, 44}) zero(bytes, at + f, 4);
        }
    } else if (name.size() == 12 && name.rfind("piece", 0) == 0) {
        for (size_t slot = 0; slot < 8; ++slot) {
            for (size_t f : {30, 34, 38}) zero(bytes, 16 + 64 * slot + f, 4);
        }
    }
    return bytes;
}

// A drive X: holding the area TEST and a copy of the examples in epn\.
struct Side {
    TempDir dir;
    std::string data() const { return dir / "userroot/storage/TEST/data"; }
    std::string epn() const { return dir / "epn"; }
    Side() {
        make_dirs(data());
        make_dirs(dir / "tmp");
        for (const std::string& n : list_dir(std::string(TEILIMP_SOURCE_DIR) + "/examples"))
            if (n.size() > 4 && n.substr(n.size() - 4) == ".epn")
                write_file(epn() + "/" + n, read_file(std::string(TEILIMP_SOURCE_DIR) + "/examples/" + n));
    }
};

struct Parity : ::testing::Test {
    Side linux, windows;
    std::string exe, wine, dosdevice;

    void SetUp() override {
        const char* program = env_or_null("TEILIMP_WINDOWS_PROGRAM");
        const char* prefix = env_or_null("WINEPREFIX");
        if (program == nullptr || prefix == nullptr)
            GTEST_SKIP() << "no Windows program given (make test-windows runs this with one)";
        exe = program;
        wine = in_path(env_or_null("TEILIMP_WINE") != nullptr ? env_or_null("TEILIMP_WINE") : "wine");
        // Drive X: of the Windows program: a link in the prefix's dosdevices.
        dosdevice = std::string(prefix) + "/dosdevices/x:";
        std::error_code ec;
        fs::remove(dosdevice, ec);
        fs::create_directory_symlink(windows.dir.path, dosdevice, ec);
        ASSERT_FALSE(ec) << dosdevice << ": " << ec.message();
    }
    void TearDown() override {
        std::error_code ec;
        if (!dosdevice.empty()) fs::remove(dosdevice, ec);
    }

    RunResult run_linux(const std::vector<std::string>& args, std::string_view input,
                        std::map<std::string, std::string> env) {
        env["TEILIMP_DRIVE_X"] = linux.dir.path;
        env["TMP"] = linux.dir / "tmp";
        env["LC_ALL"] = "C";
        return run_teilimp(args, env, input);
    }
    RunResult run_windows(const std::vector<std::string>& args, std::string_view input,
                          std::map<std::string, std::string> env) {
        std::vector<std::string> all{exe};
        all.insert(all.end(), args.begin(), args.end());
        env["TMP"] = "X:\\tmp";
        env["WINEDEBUG"] = "-all";
        return run_program(wine, all, env, input);
    }

    // One run with both programs; the outputs and the areas must agree.
    void both(const std::string& what, const std::vector<std::string>& args, std::string_view input = {},
              const std::map<std::string, std::string>& env = {{"TEILIMP_SLEEP_SCALE", "0"}}) {
        const RunResult l = run_linux(args, input, env);
        const RunResult w = run_windows(args, input, env);
        EXPECT_EQ(comparable(w.rawOut), comparable(l.rawOut)) << what;
        EXPECT_EQ(w.exitCode, l.exitCode) << what;
        same_areas(what);
    }

    void same_areas(const std::string& what) {
        const std::vector<std::string> names = list_dir(linux.data());
        EXPECT_EQ(list_dir(windows.data()), names) << what;
        for (const std::string& n : names) {
            EXPECT_TRUE(masked(n, read_file(windows.data() + "/" + n)) == masked(n, read_file(linux.data() + "/" + n)))
                << what << ": " << n << " differs";
        }
    }

    void write_lock(const Side& s, std::chrono::seconds age) {
        const std::string lock = s.data() + "/teilimp.opn";
        write_file(lock, "OK\n");
        fs::last_write_time(lock, fs::file_time_type::clock::now() - age);
    }
};

TEST_F(Parity, SameTextsAndAreaFiles) {
    both("clear", {"X:TEST", "/d"}, "j\n");
    for (const std::string& n : list_dir(linux.epn())) both("one by one: " + n, {"X:TEST", "X:\\epn\\" + n});
    both("by pattern, superseding", {"X:TEST", "X:\\epn\\*.epn"});
    both("again, quiet", {"X:TEST", "X:\\EPN\\*.EPN", "/s1"});
    both("/n", {"X:TEST", "X:\\epn\\*.epn", "/n"});
    both("/f with answers", {"X:TEST", "X:\\epn\\*.epn", "/f"}, "j\nn\n\na\n");
    both("/l", {"X:TEST", "X:\\epn\\k*.epn", "/l"});
    EXPECT_EQ(list_dir(windows.epn()), list_dir(linux.epn()));

    // A lock left by a dead run an hour ago is removed; a fresh one blocks.
    for (const Side* s : {&linux, &windows}) write_lock(*s, std::chrono::hours(1));
    both("stale lock", {"X:TEST", "X:\\epn\\t*.epn"});
    for (const Side* s : {&linux, &windows}) write_lock(*s, std::chrono::seconds(0));
    both("blocked area", {"X:TEST", "X:\\epn\\*.epn"});
    for (const Side* s : {&linux, &windows}) remove_file(s->data() + "/teilimp.opn");
    both("not found", {"X:TEST", "X:\\epn\\gibtsnicht.epn"});
}

// Two runs at once on one area: which one stores first is open, so the
// areas hold the same pieces with the same images, consistent.
TEST_F(Parity, TwoRunsAtOnce) {
    both("clear", {"X:TEST", "/d"}, "j\n");
    for (const Side* s : {&linux, &windows}) {
        make_dirs(s->dir / "epn2");
        for (const std::string& n : list_dir(s->epn())) {
            if (n < "r") continue;  // ruecken, tasche, vorder: also in the first run
            write_file(s->dir / ("epn2/" + n), read_file(s->epn() + "/" + n));
        }
    }
    const std::map<std::string, std::string> env = {{"TEILIMP_SLEEP_SCALE", "0.1"}};
    for (bool onWindows : {false, true}) {
        RunResult first, second;
        std::thread t([&] {
            first = onWindows ? run_windows({"X:TEST", "X:\\epn\\*.epn", "/s1"}, {}, env)
                              : run_linux({"X:TEST", "X:\\epn\\*.epn", "/s1"}, {}, env);
        });
        second = onWindows ? run_windows({"X:TEST", "X:\\epn2\\*.epn", "/s1"}, {}, env)
                           : run_linux({"X:TEST", "X:\\epn2\\*.epn", "/s1"}, {}, env);
        t.join();
        EXPECT_EQ(first.exitCode, 0) << comparable(first.rawOut);
        EXPECT_EQ(second.exitCode, 0) << comparable(second.rawOut);
    }
    AreaExpectation expect;
    expect.marksCarried = true;
    EXPECT_EQ(check_area(windows.data(), expect), std::vector<std::string>{});
    EXPECT_EQ(check_area(linux.data(), expect), std::vector<std::string>{});
    EXPECT_TRUE(valid_images(windows.data()) == valid_images(linux.data()));
    EXPECT_EQ(valid_images(linux.data()).size(), 5u);
}

}  // namespace
}  // namespace teilimp::testing
