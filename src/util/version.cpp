#include "util/version.h"

#ifndef TEILIMP_VERSION
#error "TEILIMP_VERSION is set by the build"
#endif

namespace teilimp::util {

std::string_view version() { return TEILIMP_VERSION; }

}  // namespace teilimp::util
