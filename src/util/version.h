// The program's version, one string for both programs (from the build).
#pragma once

#include <string_view>

namespace teilimp::util {

// "1.18.0" and the like: what --version prints after the program's name.
std::string_view version();

}  // namespace teilimp::util
