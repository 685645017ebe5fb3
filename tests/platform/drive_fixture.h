// Drive F: mapped to a scratch directory (and Q: surely unmapped) for the
// platform tests, with the test helpers they use.
#pragma once

#include "support/test_util.h"

namespace teilimp::platform {

using teilimp::testing::ScopedEnv;
using teilimp::testing::TempDir;
using teilimp::testing::file_exists;
using teilimp::testing::list_dir;
using teilimp::testing::make_dirs;
using teilimp::testing::read_file;
using teilimp::testing::write_file;

struct DriveF {
    TempDir root;
    teilimp::testing::DriveMap f{'F', root.path};
    teilimp::testing::DriveMap unmapped{'Q'};
};

}  // namespace teilimp::platform
