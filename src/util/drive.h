// Free space and type tests of drives given by number.
#pragma once

#include <cstdint>

namespace teilimp::util {

// Free bytes on drive `drive` (1 = A), at most 2100000000; 0 if the number
// is 0 or less, the drive does not exist or its space can't be read; -1 if
// drive A or B is removable without a readable medium.
int32_t dskfrei(int16_t drive);
// Drive 0 = A, 1 = B: 0 usable, 128 removable without medium, -1 otherwise.
int16_t drvtst(int16_t drive);
// Raw figures of drive `drive` (1 = A): 0 ok, -1 unreadable, 1 bad number.
int16_t dskgeo(int16_t drive, int32_t& sectorsPerCluster, int32_t& bytesPerSector,
               int32_t& freeClusters, int32_t& totalClusters);

}  // namespace teilimp::util
