// Opening an area file for reading through a private copy, so that a file
// on a shared drive is never held open while the caller works.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace teilimp::writer {

// Copies `fileName` into a directory private to this run (below the
// temporary directory) and opens the copy on `channel`. `status` is "OLD",
// "NEW" or anything else (compared case-blind). Outcome: 0 opened, -1 empty
// name / existence test failed, 1 no temporary directory, 2 copy failed,
// 3 copy can't be opened. `copyPath` receives the copy's path.
int32_t opennetw(platform::File& channel, std::string_view fileName, std::string_view status,
                 int32_t binary, std::string* copyPath = nullptr);

// Removes the private directory and every copy in it.
void opennetw_cleanup();

}  // namespace teilimp::writer
