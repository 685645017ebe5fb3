// The run driver: command line, banner, usage, the clear request and the
// conversion run over the EPN files.
#pragma once

#include <string>
#include <vector>

namespace teilimp::driver {

// Runs the program on its arguments (argument 0 is the program name).
// Always returns 0, the process's exit status.
int run_main(const std::vector<std::string>& args);

}  // namespace teilimp::driver
