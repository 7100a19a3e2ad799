// Small modules built in code for the output tests.
#pragma once

#include <cstdint>
#include <vector>

namespace soundtest {

// Four channels at 125 BPM and speed 6: a looping saw struck on every fourth
// row of a 64-row pattern, in two orders that repeat for ever. Loud enough
// that every block of its output differs from silence and from its
// neighbours.
std::vector<std::uint8_t> steady_song_bytes();

}  // namespace soundtest
