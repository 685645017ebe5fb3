#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_util.h"
#include "util/text.h"

using namespace teilimp::util;

namespace {
// A field of `s` followed by a guard character that no routine may touch.
std::string guarded(std::string s) { return s + '#'; }
}  // namespace

TEST(Siglen, BlanksAndNulsAtTheEndDoNotCount) {
    std::string f = "ABC" + std::string(17, ' ');
    EXPECT_EQ(siglen(f.data(), 20), 3);
    std::string g = std::string("ABC\0", 4) + std::string(16, ' ');
    EXPECT_EQ(siglen(g.data(), 20), 3);
    std::string blanks(20, ' ');
    EXPECT_EQ(siglen(blanks.data(), 20), 0);
    EXPECT_EQ(siglen(f.data(), 0), 0);
    EXPECT_EQ(siglen(f.data(), -5), 0);
    EXPECT_EQ(siglen(f.data(), 2), 2);  // never looks beyond n
}

TEST(Leedel, ClosesUpAndBlankFillsWithinN) {
    std::string f = guarded(" A B");
    EXPECT_EQ(leedel(f.data(), 4), 2);
    EXPECT_EQ(f, "AB  #");
    std::string g = guarded(std::string("A \0B  D", 7));
    EXPECT_EQ(leedel(g.data(), 7), 3);
    EXPECT_EQ(g, "ABD    #");
    std::string blanks = guarded("    ");
    EXPECT_EQ(leedel(blanks.data(), 4), 0);
    EXPECT_EQ(blanks, "    #");
    std::string untouched = " X";
    EXPECT_EQ(leedel(untouched.data(), 0), 0);
    fillch(untouched.data(), 0, 'x');
    EXPECT_EQ(untouched, " X");
    fillch(untouched.data(), 1, 'x');
    EXPECT_EQ(untouched, "xX");
}

TEST(CaseConversion, FollowsCodePage1252AndTheNulRule) {
    std::string f = guarded("\xE4" "b1");
    KleGro(f.data(), 3);
    EXPECT_EQ(f, "\xC4" "B1#");
    GroKle(f.data(), 3);
    EXPECT_EQ(f, "\xE4" "b1#");
    std::string sharp = "\xDF" "a";
    KleGro(sharp.data(), 2);
    EXPECT_EQ(sharp, "\xDF" "A");
    // A NUL inside ends the conversion; the last character is converted.
    std::string nul("a\0cd", 4);
    KleGro(nul.data(), 4);
    EXPECT_EQ(nul, std::string("A\0cD", 4));
    std::string same = "abc";
    KleGro(same.data(), 0);
    KleGro(same.data(), -1);
    GroKleGro(same.data(), -3, 1);
    EXPECT_EQ(same, "abc");
}

TEST(Nsuche, FirstAndLastOccurrence) {
    const char* t = "ABCABC";
    EXPECT_EQ(nsuche(t, 6, "BC", 2), 2);
    EXPECT_EQ(nsuche_H(t, 6, "BC", 2), 5);
    EXPECT_EQ(nsuche_H(t, 4, "BC", 2), 2);  // only text(1:n) is searched
    EXPECT_EQ(nsuche(t, 6, "BC", 0), 0);    // empty search text: not found
    EXPECT_EQ(nsuche_H(t, 0, "BC", 2), 0);
    EXPECT_EQ(nsuche(t, 2, "ABC", 3), 0);   // longer than the text
    EXPECT_EQ(nsuche(t, 6, "bc", 2), 0);    // case-sensitive
    EXPECT_EQ(nsuche(t, -1, "BC", 2), 0);
    EXPECT_EQ(nsuche_H(t, 6, "BC", -1), 0);
    EXPECT_EQ(nsuche("A.B ", 4, " ", 1), 4);  // blanks are not trimmed
}

TEST(LibraryOnlyRoutines, QuotesTrimsAndBlankRuns) {
    std::string u = guarded("ab\"cd\"e\xE4");
    upquote(u.data(), 8);
    EXPECT_EQ(u, "AB\"cd\"E\xC4#");
    std::string q = guarded("a b \" c d\" e");
    EXPECT_EQ(leedelqup(q.data(), 12), 9);
    EXPECT_EQ(q, std::string("AB\" c d\"E\0\0\0#", 13));
    EXPECT_EQ(chcount("a\"b\"c\"", 5, '"'), 2);

    std::string l = std::string(" \0AB C", 6);
    EXPECT_EQ(ltrim(l.data(), 6), 4);
    EXPECT_EQ(l, "AB C C");  // the old tail stays
    std::string m = "  AB C  ";
    EXPECT_EQ(trimmid(m.data(), 8), 4);
    EXPECT_EQ(m.substr(0, 4), "AB C");
    std::string blanks = "    ";
    EXPECT_EQ(trimmid(blanks.data(), 4), 0);
    EXPECT_EQ(blanks, "    ");
    std::string b = "A  B   C ";
    EXPECT_EQ(blank1(b.data(), 9), 5);  // "A B C " ends in a blank: one less
    EXPECT_EQ(b.substr(0, 6), "A B C ");
}

// The hook reads its switch once per process, so each case runs in a fresh
// process.
TEST(Liberr, ReportsOnlyWhenSwitchedOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char f[4] = "abc";
    EXPECT_EXIT(
        {
            teilimp::testing::ScopedEnv on("TEILIMP_LIBERR", "1");
            KleGro(f, -1);
            nsuche_H(f, 3, "a", -1);
            liberr("FTNFDE", 32);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^liberr: KleGro 0\nliberr: GroKleGro 0\nliberr: nsuche_H 0\nliberr: FTNFDE 32\n$");
    EXPECT_EXIT(
        {
            teilimp::testing::ScopedEnv off("TEILIMP_LIBERR", nullptr);
            KleGro(f, -1);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^$");
}
