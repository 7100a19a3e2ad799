// The program's own pseudo-random generator. It is deliberately not the
// platform's rand: the look of the intro depends on this exact sequence
// (values 0..32767, seed 1 gives 41, 18467, 6334, ...), and other C
// libraries use other ranges and constants.
#pragma once

#include <cstdint>

void seedRandom(std::uint32_t seed);

// Advances the state and returns a value from 0 to 32767.
int nextRandom();
