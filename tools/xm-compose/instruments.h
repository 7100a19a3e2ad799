// The instruments of the intro's music, every sample synthesised here.
#pragma once

#include "xm_write.h"

namespace compose {

// The song is written in the module writer's records.
using xmwrite::Cell;
using xmwrite::Envelope;
using xmwrite::EnvelopePoint;
using xmwrite::Instrument;
using xmwrite::Loop;
using xmwrite::Module;
using xmwrite::pack_pattern;
using xmwrite::Pattern;
using xmwrite::Sample;
using xmwrite::write_module;

// Instrument numbers as the patterns use them (1-based, as in the file).
enum InstrumentId : std::uint8_t {
  kick = 1,
  snare = 2,
  hats = 3,  // closed below C-5, open from C-5 up
  bass = 4,
  pad = 5,
  pluck = 6,
  lead = 7,
  square = 8,
};

std::vector<Instrument> make_instruments();

// Relative note and finetune that make a waveform with one cycle every
// cycleFrames frames sound at its written pitch (A-4 = 440 Hz).
void tune_to_cycle(Sample& sample, double cycleFrames);

// Relative note and finetune that play a sample recorded at `rate` frames per
// second at that rate when it is written at C-4.
void tune_to_rate(Sample& sample, double rate);

}  // namespace compose
