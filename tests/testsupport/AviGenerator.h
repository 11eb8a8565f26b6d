#pragma once

#include <cstdint>
#include <string>

namespace vemlis::testing {

// A small, valid, uncompressed AVI file (24-bit frames, 10 fps) that a media player opens.
// Different seeds give different pictures.
std::string makeAvi(int width, int height, int frames, std::uint32_t seed);

}  // namespace vemlis::testing
