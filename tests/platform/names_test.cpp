// The Windows rules for names on their own: folding, the patterns of a
// search, and the resolution of typed paths over a listing held in a table.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/names.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace teilimp::platform::names {
namespace {

TEST(Names, FoldingAndPatterns) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"piece.ctl", "PIECE.CTL", true},
             {"\xE4rmel", "\xC4RMEL", true},            // code page 1252
             {"\xC3\xBC" "ber", "\xC3\x9C" "BER", true},  // UTF-8
             {"\xC3\x9C", "\xC3\x8C", false},           // two letters, not two bytes
             {"\xFF", "\x9F", true},
             {"a", "a.", false},
         }) {
        EXPECT_EQ(same_name(c.a, c.b), c.same) << c.a << " " << c.b;
        EXPECT_EQ(fold_key(c.a) == fold_key(c.b), c.same) << c.a << " " << c.b;
    }
    struct Match {
        const char* pattern;
        const char* name;
        bool match;
    };
    for (const Match& m : std::initializer_list<Match>{
             {"*.*", "x", true},        {"x.*", "X", true},     {"PIECE*.PCE", "pieceaab.pce", true},
             {"piece?.ctl", "piece.ctl", false}, {"*.", "noext", true}, {"*.", "a.b", false},
             {"*", ".hidden", false},   {".*", ".hidden", true}, {"?\xC3\xBC", "a\xC3\x9C", true},
         }) {
        std::string_view dir, name;
        split_pattern(m.pattern, dir, name);
        EXPECT_EQ(listed_match(name, m.name), m.match) << m.pattern << " " << m.name;
    }
}

// A directory tree as a set of native paths ("d/" marks a directory).
struct Tree {
    std::set<std::string> paths;
    bool has(const std::string& p) const { return paths.count(p) || paths.count(p + "/"); }
};

Listing listing_of(Tree& t) {
    Listing l;
    l.context = &t;
    l.exists = [](void* c, const std::string& p) { return static_cast<Tree*>(c)->has(p); };
    l.is_directory = [](void* c, const std::string& p) { return static_cast<Tree*>(c)->paths.count(p + "/") > 0; };
    l.list = [](void* c, const std::string& dir, void (*each)(void*, std::string_view), void* sink) {
        const Tree& t = *static_cast<Tree*>(c);
        if (!t.paths.count(dir + "/")) return false;
        for (const std::string& p : t.paths) {
            if (p.size() <= dir.size() + 1 || p.compare(0, dir.size() + 1, dir + "/") != 0) continue;
            std::string_view rest = std::string_view(p).substr(dir.size() + 1);
            if (rest.back() == '/') rest.remove_suffix(1);
            if (rest.find('/') == std::string_view::npos) each(sink, rest);
        }
        return true;
    };
    l.in_exact_dir = [](void*, const std::string&) { return false; };
    return l;
}

TEST(Names, ResolutionOverAListing) {
    teilimp::testing::ScopedEnv drive("TEILIMP_DRIVE_F", "/r");
    teilimp::testing::ScopedEnv unmapped("TEILIMP_DRIVE_Q", "");
    Tree t{{"/r/", "/r/Userroot/", "/r/Userroot/Data/", "/r/Userroot/Data/Piece.CTL", "/r/Userroot/data2/"}};
    const Listing l = listing_of(t);
    struct Case {
        const char* path;
        const char* native;
        uint32_t missing;  // 0: found
    };
    for (const Case& c : std::initializer_list<Case>{
             {"F:\\USERROOT\\data\\piece.ctl", "/r/Userroot/Data/Piece.CTL", 0},
             {"f:/userroot/./x/../DATA/new.pce", "/r/Userroot/Data/new.pce", kErrFileNotFound},
             {"F:\\userroot\\nix\\new.pce", "/r/Userroot/nix/new.pce", kErrPathNotFound},
             {"F:\\userroot\\data\\piece.ctl\\", "/r/Userroot/Data/Piece.CTL", kErrInvalidName},
             {"F:\\..\\..\\userroot", "/r/Userroot", 0},
             {"Q:\\x", "", kErrPathNotFound},
         }) {
        const Resolved r = resolve(l, c.path);
        EXPECT_EQ(r.native, c.native) << c.path;
        EXPECT_EQ(r.found ? 0 : missing_code(r), c.missing) << c.path;
    }

    ExactNames e{"/r/Userroot/Data", "/r/userroot/data", true};
    std::string native;
    EXPECT_TRUE(exact_entry(e, "F:\\userroot\\data\\pieceaaa.pce", native, true));
    EXPECT_EQ(native, "/r/Userroot/Data/pieceaaa.pce");
    EXPECT_FALSE(exact_entry(e, "F:\\userroot\\data\\sub\\x", native, false));
    EXPECT_FALSE(exact_entry(e, "F:\\userroot\\data\\", native, false));
    EXPECT_TRUE(exact_directory(e, "F:\\userroot\\data\\", native));
    e.takesFiles = false;
    EXPECT_FALSE(exact_entry(e, "F:\\userroot\\data\\new", native, true));
}

}  // namespace
}  // namespace teilimp::platform::names
