// The one byte buffer of the program: a piece image, the whole contents of
// a file as read or to be written, a record being built. Read-only views of
// such bytes are std::span<const uint8_t>.
#pragma once

#include <cstdint>
#include <vector>

namespace teilimp::util {

using Bytes = std::vector<uint8_t>;

}  // namespace teilimp::util
