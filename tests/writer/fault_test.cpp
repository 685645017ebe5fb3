// Failures and crashes at every file operation of an import into an area
// that already holds pieces: nothing stored before is lost, and the area
// stays consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "area_fixture.h"
#include "platform/platform.h"
#include "writer/sort.h"

namespace teilimp::writer::test {
namespace {

using teilimp::testing::describe;
using teilimp::testing::list_dir;
using teilimp::testing::read_file;
using teilimp::testing::remove_file;
using teilimp::testing::write_file;

using Images = std::map<std::string, std::string>;

struct Import {
    std::string name;
    std::string image;
};

// Replacements of pieces in both piece files, new pieces filling "aab"
// and starting "aac".
std::vector<Import> the_sequence() {
    std::vector<Import> seq;
    seq.push_back({"N1", image_bytes(900, 101)});
    seq.push_back({"S3", image_bytes(250, 103)});
    seq.push_back({"N2", image_bytes(40, 102)});
    seq.push_back({"S9", image_bytes(3000, 109)});
    seq.push_back({"N3", image_bytes(77, 104)});
    seq.push_back({"S3", image_bytes(12, 113)});
    seq.push_back({"N4", image_bytes(500, 105)});
    seq.push_back({"N5", image_bytes(64, 106)});
    return seq;
}

// Set for the child process of CrashAnywhereThenRecover: the operation at
// which it crashes. The area is the parent's, on the drive it mapped.
constexpr const char* kChildCrashAt = "TEILIMP_TEST_CRASH_CHILD_AT";

// The import sequence into the area F:TEST; returns the images the area
// must hold afterwards.
Images run_sequence(const AreaField& area, Images expect) {
    for (const Import& i : the_sequence()) {
        if (epn_store_piece(area, make_piece_name(i.name), bytes_of(i.image)).ok()) expect[i.name] = i.image;
    }
    epn_mark_superseded(area);
    return expect;
}

// The sequence once more with a last piece that supersedes one (N1).
std::vector<Import> the_sequence(bool lastReplaces) {
    std::vector<Import> seq = the_sequence();
    if (lastReplaces) seq.push_back({"N1", image_bytes(333, 111)});
    return seq;
}
constexpr const char* kChildLastReplaces = "TEILIMP_TEST_LAST_REPLACES";

// The import sequence as a run does it: one AreaRun, the last store told
// that it is the last, then the end of the run (marks, sort).
Images run_as_a_run(const AreaField& area, Images expect, bool lastReplaces, AreaRun&& run = AreaRun{},
                    int* failed = nullptr) {
    const std::vector<Import> seq = the_sequence(lastReplaces);
    for (size_t k = 0; k < seq.size(); ++k) {
        if (epn_store_piece(area, make_piece_name(seq[k].name), bytes_of(seq[k].image), &run, k + 1 == seq.size())
                .ok())
            expect[seq[k].name] = seq[k].image;
        else if (failed != nullptr)
            ++*failed;
    }
    epn_mark_superseded(area, run);
    epn_ctl_sort(area, run);
    return expect;
}

TEST(FaultChild, RunAsARunUntilCrash) {
    const char* at = std::getenv(kChildCrashAt);
    if (at == nullptr) GTEST_SKIP() << "only the child process of FaultArea.CrashAnywhereInARunThenRecover runs this";
    platform::test::reset_file_ops();
    platform::test::set_crash_at(std::strtoll(at, nullptr, 10));
    run_as_a_run(make_area("F:TEST"), {}, std::getenv(kChildLastReplaces) != nullptr);
}

TEST(FaultChild, RunSequenceUntilCrash) {
    const char* at = std::getenv(kChildCrashAt);
    if (at == nullptr) GTEST_SKIP() << "only the child process of FaultArea.CrashAnywhereThenRecover runs this";
    platform::test::reset_file_ops();
    platform::test::set_crash_at(std::strtoll(at, nullptr, 10));
    run_sequence(make_area("F:TEST"), {});
}

struct FaultArea : AreaFixture {
    Images initial;
    std::map<std::string, std::string> files;  // the area before the sequence

    void SetUp() override {
        ASSERT_EQ(epn_area_clear(area), 1);
        for (int i = 0; i < 10; ++i) {
            const std::string name = "S" + std::to_string(i);
            initial[name] = image_bytes(100 + 50 * static_cast<size_t>(i), i);
            ASSERT_TRUE(store(name, initial[name]).ok());
        }
        for (const std::string& n : list_dir(data)) files[n] = bytes(n);
    }

    void reset_area() {
        for (const std::string& n : list_dir(data)) remove_file(file(n));
        for (const auto& [n, b] : files) write_file(file(n), b);
    }

    // Runs the sequence; returns the images the area must hold afterwards.
    Images run_sequence() { return test::run_sequence(area, initial); }

    int64_t count_operations() {
        reset_area();
        platform::test::reset_file_ops();
        Images all = run_sequence();
        int64_t n = platform::test::file_ops_counted();
        auto p = problems(&all, true);
        EXPECT_TRUE(p.empty()) << describe(p);
        return n;
    }
};

TEST_F(FaultArea, EveryOperationMayFail) {
    const int64_t ops = count_operations();
    ASSERT_GT(ops, 50);
    for (int64_t k = 1; k <= ops + 1; ++k) {
        reset_area();
        platform::test::reset_file_ops();
        platform::test::set_fault_at(k);
        Images expect = run_sequence();
        platform::test::set_fault_at(0);
        auto p = problems(&expect);
        EXPECT_TRUE(p.empty()) << "fault at operation " << k << " of " << ops << ":\n" << describe(p);
    }
}

TEST_F(FaultArea, CrashAnywhereThenRecover) {
    const int64_t ops = count_operations();
    std::map<std::string, std::vector<std::string>> allowed;  // images a name may hold
    for (const auto& [name, img] : initial) allowed[name].push_back(img);
    for (const Import& i : the_sequence()) allowed[i.name].push_back(i.image);
    for (int64_t k = 1; k <= ops; ++k) {
        if (!teilimp::testing::sweep_point(k) && k + 3 <= ops) continue;
        reset_area();
        // The sequence in a program of its own that the crash ends: this
        // test program again, running only the child's part.
        const teilimp::testing::RunResult child =
            teilimp::testing::run_self("FaultChild.RunSequenceUntilCrash", {{kChildCrashAt, std::to_string(k)}});
        // The count can end a little earlier in the child (its private
        // directory for copies may exist already).
        ASSERT_TRUE(child.killed || (child.exitCode == 0 && k + 3 > ops))
            << "operation " << k << ": exit " << child.exitCode << "\n" << child.rawOut;

        ASSERT_GE(epn_recover(area), 0) << "operation " << k;
        auto p = problems();
        ASSERT_TRUE(p.empty()) << "crash at operation " << k << " of " << ops << ":\n" << describe(p);
        // Every piece holds its old or its new image, none is lost.
        Images now = teilimp::testing::valid_images(data);
        for (const auto& [name, images] : allowed) {
            auto it = now.find(name);
            if (it == now.end()) {
                EXPECT_EQ(initial.count(name), 0u) << name << " lost after a crash at " << k;
                continue;
            }
            EXPECT_NE(std::find(images.begin(), images.end(), it->second), images.end()) << name << " at " << k;
        }
        // The area goes on working: the whole sequence again.
        Images expect = now;
        for (const Import& i : the_sequence()) {
            ASSERT_TRUE(store(i.name, i.image).ok()) << i.name << " after a crash at " << k;
            expect[i.name] = i.image;
        }
        epn_mark_superseded(area);
        p = problems(&expect, true);
        ASSERT_TRUE(p.empty()) << "after a crash at " << k << ":\n" << describe(p);
    }
}

// The same as a run does it, its last store writing the control file in
// order: wherever a fault or a crash stops it, nothing is lost; after a
// crash the next run, which carries only the marks it must, leaves every
// mark carried (a control file that looks finished while a mark is
// missing would show here).
TEST_F(FaultArea, FaultOrCrashAnywhereInARun) {
    for (const bool lastReplaces : {false, true}) {
        const std::string which = lastReplaces ? "last piece superseding one, " : "last piece new, ";
        reset_area();
        platform::test::reset_file_ops();
        Images all = run_as_a_run(area, initial, lastReplaces);
        const int64_t ops = platform::test::file_ops_counted();
        ASSERT_TRUE(problems(&all, true).empty()) << which << describe(problems(&all, true));
        for (int64_t k = 1; k <= ops + 1; ++k) {
            reset_area();
            platform::test::reset_file_ops();
            platform::test::set_fault_at(k);
            Images expect = run_as_a_run(area, initial, lastReplaces);
            platform::test::set_fault_at(0);
            auto p = problems(&expect);
            ASSERT_TRUE(p.empty()) << which << "fault at operation " << k << " of " << ops << ":\n" << describe(p);
            // A mark that failed at the end of a run is carried by the walk
            // over every superseded entry, not by a run that finds the
            // control file sorted (it carries only its own).
            expect = run_as_a_run(area, expect, lastReplaces);
            epn_mark_superseded(area);
            p = problems(&expect, true);
            ASSERT_TRUE(p.empty()) << which << "the run after a fault at " << k << ":\n" << describe(p);
        }
        for (int64_t k = 1; k <= ops; ++k) {
            if (!teilimp::testing::sweep_point(k) && k + 3 <= ops) continue;
            reset_area();
            std::map<std::string, std::string> env = {{kChildCrashAt, std::to_string(k)}};
            if (lastReplaces) env[kChildLastReplaces] = "1";
            const teilimp::testing::RunResult child = teilimp::testing::run_self("FaultChild.RunAsARunUntilCrash", env);
            ASSERT_TRUE(child.killed || (child.exitCode == 0 && k + 3 > ops))
                << which << "operation " << k << ": exit " << child.exitCode << "\n" << child.rawOut;
            // The next run puts the area back (as a run does, under the
            // lock before its first piece) and imports nothing; the one
            // after it must still find every mark it does not carry itself.
            ASSERT_GE(epn_recover(area), 0) << which << "operation " << k;
            auto p = problems();
            ASSERT_TRUE(p.empty()) << which << "crash at operation " << k << " of " << ops << ":\n" << describe(p);
            int failed = 0;
            Images expect = run_as_a_run(area, teilimp::testing::valid_images(data), lastReplaces, AreaRun{}, &failed);
            EXPECT_EQ(failed, 0) << which << "pieces the run after a crash at " << k << " could not store";
            p = problems(&expect, true);
            ASSERT_TRUE(p.empty()) << which << "the run after a crash at " << k << ":\n" << describe(p);
        }
    }
}

}  // namespace
}  // namespace teilimp::writer::test
