// Free space and type tests of drives given by number.
#include "util/drive.h"

#include <string>

#include "platform/platform.h"

namespace teilimp::util {

namespace {

constexpr int32_t kMaxFree = 2100000000;

// "L:\" for the drive letter L.
std::string root_of(char letter) { return std::string(1, letter) + ":\\"; }

}  // namespace

int16_t dskgeo(int16_t drive, int32_t& sectorsPerCluster, int32_t& bytesPerSector,
               int32_t& freeClusters, int32_t& totalClusters) {
    if (drive < 0 || drive > 26) return 1;
    // Drive 0 names the character before A, which no system accepts.
    uint32_t spc = 0, bps = 0, freeCl = 0, totalCl = 0;
    if (platform::disk_free_space(root_of(static_cast<char>(64 + drive)), spc, bps, freeCl, totalCl) != 0) {
        return -1;
    }
    sectorsPerCluster = static_cast<int32_t>(spc);
    bytesPerSector = static_cast<int32_t>(bps);
    freeClusters = static_cast<int32_t>(freeCl);
    totalClusters = static_cast<int32_t>(totalCl);
    return 0;
}

int16_t drvtst(int16_t drive) {
    if (drive < 0 || drive > 1) return -1;
    const uint32_t type = platform::drive_type(root_of(static_cast<char>('A' + drive)));
    if (type == 2) {  // removable: usable only with a readable medium
        int32_t spc = 0, bps = 0, freeCl = 0, totalCl = 0;
        return dskgeo(static_cast<int16_t>(drive + 1), spc, bps, freeCl, totalCl) == -1 ? 128 : 0;
    }
    if (type >= 3 && type <= 6) return 0;  // fixed, remote, CD-ROM, RAM disk
    return -1;
}

int32_t dskfrei(int16_t drive) {
    if (drive <= 0) return 0;
    if (drive <= 2) {
        // Floppy drives are tested first, so that an empty drive gives -1
        // instead of a system error.
        const int16_t t = drvtst(static_cast<int16_t>(drive - 1));
        if (t == 128) return -1;
        if (t == -1) return 0;
    }
    int32_t spc = 0, bps = 0, freeCl = 0, totalCl = 0;
    if (dskgeo(drive, spc, bps, freeCl, totalCl) != 0) return 0;
    const double product = static_cast<double>(freeCl) * static_cast<double>(bps) * static_cast<double>(spc);
    if (product > 2.1e9 || product < 0) return kMaxFree;
    return static_cast<int32_t>(static_cast<int64_t>(freeCl) * bps * spc);
}

}  // namespace teilimp::util
