// Builds XM module files in memory so each test states its module in a few
// lines, and serves them to the player through the file callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "music/xm_types.h"

namespace xmtest {

inline XmCell cell(uint8_t note, uint8_t instrument = 0, uint8_t volume = 0, uint8_t effect = 0,
                   uint8_t param = 0) {
  return XmCell{note, instrument, volume, effect, param};
}

// Effect numbers by their letter, e.g. fx('A') == 10.
constexpr uint8_t fx(char c) { return c >= 'A' ? static_cast<uint8_t>(c - 'A' + 10) : static_cast<uint8_t>(c - '0'); }

struct SampleDef {
  std::vector<int16_t> frames;   // absolute values; 8-bit samples use the high byte
  std::vector<int16_t> right;    // a stereo sample's right side (type bit 5); empty for mono
  bool sixteenBit = false;
  uint8_t type = 0;              // loop bits as in the file (1 forward, 2 ping-pong)
  uint32_t loopStart = 0;        // frames
  uint32_t loopLength = 0;       // frames
  uint8_t volume = 64;
  int8_t finetune = 0;
  uint8_t panning = 128;
  int8_t relativeNote = 0;
  // Overrides of the header's byte fields, for malformed files.
  int64_t lengthBytes = -1, loopStartBytes = -1, loopLengthBytes = -1;
};

struct EnvelopeDef {
  std::vector<std::pair<uint16_t, uint16_t>> points;
  uint8_t sustain = 0, loopStart = 0, loopEnd = 0;
  uint8_t type = 0;  // bit 0 on, 1 sustain, 2 loop
  int pointCount = -1;  // override of the stored count
};

struct InstrumentDef {
  std::vector<SampleDef> samples;
  uint8_t keymap[96] = {};
  EnvelopeDef volume, panning;
  uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  uint16_t fadeout = 0;
  int64_t headerSize = -1;  // default: 263, or 29 without samples
};

struct PatternDef {
  int rows = 64;
  std::vector<XmCell> cells;     // rows x channels, row-major; missing cells are empty
  std::vector<uint8_t> packed;   // used instead of cells when rawPacked
  bool rawPacked = false;
};

struct ModuleDef {
  int channels = 4;
  std::vector<uint8_t> orders{0};
  int songLength = -1;           // default: orders.size()
  int restart = 0;
  bool linear = true;
  int speed = 6;
  int bpm = 125;
  std::vector<PatternDef> patterns{PatternDef{}};
  std::vector<InstrumentDef> instruments;
  int patternCountOverride = -1, instrumentCountOverride = -1;

  // Sets cell (row, channel) of pattern p, growing the cell list.
  void set(int p, int row, int channel, XmCell c);
};

std::vector<uint8_t> build(const ModuleDef& def);

// A 1000-frame sample, a ramp from -100 to +99 repeated; forward loop
// over all of it unless noLoop.
SampleDef ramp_sample(bool noLoop = false);
InstrumentDef one_sample_instrument(SampleDef sample);

// Registers bytes under a name for the memory file callbacks and installs
// them. Every load in the tests goes through these.
void install_memory_files();
void put_file(const std::string& name, std::vector<uint8_t> bytes);

struct SongDeleter {
  void operator()(XmSong* s) const { xm_release_song(s); }
};
using SongPtr = std::unique_ptr<XmSong, SongDeleter>;

// Loads bytes through the callbacks; null (with xm_last_error) on failure.
SongPtr load_bytes(const std::vector<uint8_t>& bytes);
// Loads and starts the song on the process-wide tables.
SongPtr start(const ModuleDef& def);
// Runs n engine ticks.
void ticks(XmSong* song, int n);

}  // namespace xmtest
