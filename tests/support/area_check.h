// Consistency check of a storage area's files, read directly from the
// area's data directory: the control file's structure and counts, the
// piece files' directories and images, the agreement between the two, and
// leftover backups or temporary files.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace teilimp::testing {

struct AreaExpectation {
    // Superseded control entries must be marked (512) in their piece files;
    // otherwise such a directory entry may still hold 0.
    bool marksCarried = false;
    // piece.ct$, piece<code>.pc$ and *.tmp files may be present.
    bool leftoversAllowed = false;
    // When set: exactly these names (without their NUL padding) have a
    // valid entry, and each one's image holds exactly these bytes.
    const std::map<std::string, std::string>* images = nullptr;
};

// The problems found (empty when the area is consistent). `dataDir` is the
// native path of the area's data directory.
std::vector<std::string> check_area(const std::string& dataDir, const AreaExpectation& expect = {});

// The images of the valid entries, by name without its NUL padding (read
// through the control file and the piece files' directories).
std::map<std::string, std::string> valid_images(const std::string& dataDir);

// The problems joined into one text for a test's failure message.
std::string describe(const std::vector<std::string>& problems);

}  // namespace teilimp::testing
