// teilarea: shows, checks, repairs and draws what is in a storage area,
// and reads EPN files as the importer does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "area_tool/area_model.h"
#include "writer/lock.h"

namespace teilimp::area_tool {

// Exit statuses.
enum : int { kExitOk = 0, kExitProblems = 1, kExitUnreadable = 2 };

// Runs the tool on its arguments (argument 0 is the program name).
int area_main(const std::vector<std::string>& args);

int run_list(const writer::AreaField& area, bool all, bool json);
int run_check(const writer::AreaField& area, bool json);
int run_repair(const writer::AreaField& area);
int run_compact(const writer::AreaField& area);
// Finishes or undoes a compaction that was cut off (under the lock);
// false, after the message, when it could not.
bool settle_compaction(const writer::AreaField& area);
int run_show(const writer::AreaField& area, const std::string& name, const std::string& outPath,
             const std::string& sizeName);
int run_epn(const std::vector<std::string>& files);
// Says that the area's data directory is missing, and where it was looked
// for; returns kExitUnreadable.
int unreadable(const AreaModel& model);

// Takes the area's lock for a command that changes the area; null, after
// the importer's text, when it is blocked, interrupted or the area is
// missing or takes no file.
std::unique_ptr<writer::LockKeeper> lock_for_change(const writer::AreaField& area);
// True while the lock is still this run's; otherwise says that it is lost.
bool lock_still_held(writer::LockKeeper& lock);

// export <Bereich> [<Teilname>...] [--format astm|aama|epn] [--units mm|inch]
// -o <Pfad>: `args` are the arguments after the area. kExportBadArguments
// when they are not such a command (the caller shows the usage).
constexpr int kExportBadArguments = -1;
int run_export(const writer::AreaField& area, const std::vector<std::string>& args);

// One problem of an area: a stable kind, what it concerns (a file, an
// entry) and a German text (code page 850).
struct Problem {
    std::string kind;
    std::string concerns;
    std::string text;
};

struct Findings {
    writer::LockState lock = writer::LockState::None;
    int64_t lockAge = 0;
    std::vector<Problem> problems;
    // Parts of the findings that repair acts on.
    bool ctlNeedsRebuild = false;  // missing, damaged or disagreeing with the piece files
    bool unsorted = false;
    int marksToCarry = 0;          // superseded entries still valid in their piece file
};

// Everything check reports about a loaded area.
Findings find_problems(const AreaModel& model);

// What list and check print of an area already read (and its findings),
// with the status they end with: run_list and run_check after load_area.
int list_report(const AreaModel& model, bool all, bool json);
int check_report(const AreaModel& model, const Findings& findings, bool json);

// The place after the last place an entry names ("aaa"/0 without entries).
void place_after_entries(const AreaModel& model, FileCode& code, uint8_t& slot);

}  // namespace teilimp::area_tool
