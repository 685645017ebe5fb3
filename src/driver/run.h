// The run driver: command line, banner, usage, the clear request and the
// conversion run over the EPN files.
#pragma once

#include <string>
#include <vector>

namespace teilimp::driver {

// Runs the program on its arguments (argument 0 is the program name).
// Returns the process's exit status: 0 every file found was stored or
// passed over by choice, 1 at least one was not imported because of an
// error, 2 nothing could be done (usage, no file, area blocked or refused,
// clear failed).
int run_main(const std::vector<std::string>& args);

}  // namespace teilimp::driver
