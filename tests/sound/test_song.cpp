#include "test_song.h"

#include "score.h"

namespace soundtest {

std::vector<std::uint8_t> steady_song_bytes() {
  using namespace compose;
  Module m;
  m.name = "steady";
  m.channels = 4;
  m.speed = 6;
  m.bpm = 125;
  Sample saw;
  saw.name = "saw";
  for (int i = 0; i < 100; ++i) saw.frames.push_back(static_cast<std::int16_t>(i * 600 - 30000));
  saw.loop = Loop::forward;
  saw.loopLength = 100;
  Instrument ins;
  ins.name = "saw";
  ins.samples.push_back(saw);
  m.instruments.push_back(ins);
  for (int p = 0; p < 2; ++p) {
    Pattern pattern(64, 4);
    for (int row = 0; row < 64; row += 4) {
      Cell& c = pattern.at(row, (row / 4) % 4);
      c.note = static_cast<std::uint8_t>(37 + (row / 4) % 12 + p * 5);
      c.instrument = 1;
    }
    m.patterns.push_back(pattern);
  }
  m.orders = {0, 1};
  return write_module(m, nullptr);
}

}  // namespace soundtest
