// Writes crafted modules into a folder, as seeds for the fuzzer: every
// effect and volume column command, envelopes, both loop kinds and both
// frequency tables.
#include <cstdio>
#include <string>

#include "xm_writer.h"

using namespace xmtest;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: xm-fuzz-seeds DIR\n", stderr);
    return 2;
  }
  const std::string dir = argv[1];
  int written = 0;
  for (int variant = 0; variant < 8; ++variant) {
    ModuleDef m;
    m.channels = 4 + variant;
    m.linear = variant % 2 == 0;
    m.orders = {0, 1, 0};
    m.patterns.resize(2);
    InstrumentDef ins = one_sample_instrument(ramp_sample(variant == 3));
    SampleDef pingpong = ramp_sample();
    pingpong.type = 2;
    pingpong.loopStart = 200;
    pingpong.loopLength = 300;
    ins.samples.push_back(pingpong);
    for (int k = 48; k < 96; ++k) ins.keymap[k] = 1;
    ins.volume.points = {{0, 64}, {8, 20}, {16, 48}, {40, 0}};
    ins.volume.type = static_cast<uint8_t>(1 | (variant & 2) | (variant & 4));
    ins.volume.sustain = 1;
    ins.volume.loopStart = 1;
    ins.volume.loopEnd = 2;
    ins.panning.points = {{0, 0}, {10, 64}};
    ins.panning.type = 1;
    ins.fadeout = 300;
    ins.vibratoType = static_cast<uint8_t>(variant & 3);
    ins.vibratoDepth = 8;
    ins.vibratoRate = 20;
    ins.vibratoSweep = static_cast<uint8_t>(variant * 3);
    m.instruments.push_back(ins);
    for (int row = 0; row < 64; ++row) {
      for (int ch = 0; ch < m.channels; ++ch) {
        const int n = row * m.channels + ch + variant * 37;
        const uint8_t effect = static_cast<uint8_t>(n % 34);
        const uint8_t param = static_cast<uint8_t>((n * 29) & 0xFF);
        const uint8_t volume = static_cast<uint8_t>(n % 5 == 0 ? 0x10 + (n * 7) % 0xF0 : 0);
        const uint8_t note = static_cast<uint8_t>(n % 3 == 0 ? 1 + (n * 11) % 97 : 0);
        m.set(row % 2, row, ch, cell(note, static_cast<uint8_t>(n % 4 == 0 ? 1 : 0), volume,
                                     effect == 11 || effect == 13 ? 0 : effect, param));
      }
    }
    const std::vector<uint8_t> bytes = build(m);
    const std::string path = dir + "/crafted-" + std::to_string(variant) + ".xm";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 1;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    ++written;
  }
  std::printf("%d seeds in %s\n", written, dir.c_str());
  return 0;
}
