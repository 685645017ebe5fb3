// The access lock of a storage area: the file teilimp.opn in its data
// directory, created with create-new semantics by the run that writes.
#pragma once

#include <cstdint>

#include "writer/records.h"

namespace teilimp::writer {

// Takes the lock (removing a stale one, waiting up to 30 attempts for a
// fresh one). verbose != 0 writes the messages and attempt marks on the
// console. waitForever != 0 goes on trying after the 30th attempt for as
// long as it takes, with a mark every 10 attempts, and still removes the
// lock once it has become stale. 1 = this call created the lock, 0 = not
// obtained.
int32_t epn_lock(const AreaField& area, int32_t verbose, int32_t waitForever = 0);
// Deletes the lock file.
void epn_unlock(const AreaField& area);
// Renews the lock file's date-time so that a long run is not taken for stale.
void epn_lock_refresh(const AreaField& area);

// The area's lock as a reader sees it, without touching it: no lock file,
// a fresh one (a run may be writing), or a stale one (left by a dead run).
// `age` receives the lock file's age in seconds when there is one.
enum class LockState { None, Fresh, Stale };
LockState epn_lock_state(const AreaField& area, int64_t& age);

}  // namespace teilimp::writer
