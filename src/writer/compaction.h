// The safe steps of a compaction of an area (teilarea compact): the new
// piece files and control file are written into a directory of their own
// beside the area's files, "compact.new", and then put in place.
//
//   building   the directory exists, without "piece.old": the area's own
//              files are untouched; undone by removing the directory;
//   committed  the area's control file has been moved into the directory
//              as "piece.old" (one rename, the commit point): from now on
//              the area has no control file, so no importer (also one that
//              does not know compaction) stores anything; finished by
//              moving the new piece files and then the new control file in
//              place, removing piece files the new control file does not
//              name, and removing the directory.
//
// Every step of the finish can be repeated, so a finish that is cut off
// is finished by the next one.
#pragma once

#include <string>

#include "writer/records.h"

namespace teilimp::writer {

enum class CompactionState { None, Building, Committed };

// The directory of an unfinished compaction ("<data>\compact.new"), and a
// file in it.
std::string compaction_dir(const AreaField& area);
std::string compaction_file(const AreaField& area, const std::string& name);
CompactionState compaction_state(const AreaField& area);

// The commit point: the new files are complete (and flushed) in the
// directory; the area's control file is moved into it. False when it
// could not be moved (nothing has changed).
bool compaction_commit(const AreaField& area);
// Finishes a committed compaction or undoes one that was being built.
// True when none is left; `finished` tells which of the two it was.
bool compaction_settle(const AreaField& area, bool* finished = nullptr);

}  // namespace teilimp::writer
