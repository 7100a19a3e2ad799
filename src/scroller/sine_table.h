// One period of a sine wave in 512 steps, amplitude 128. Entry n is the
// value at step n + 1, so entry 0 is 2 and entry 511 is 0. Readers reduce
// their phases modulo 511 and therefore use entries 0 to 510.
#pragma once

#include <cstdint>

extern const std::int32_t sineTable[512];
