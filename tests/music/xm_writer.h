// Builds XM module files in memory so each test states its module in a few
// lines, and loads and starts them in a player context of their own. The
// bytes come from the project's module writer (xm_write.h); these records add
// the damage tests need (counts, sizes and packed data as stored).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "music/xm_player.h"
#include "music/xm_types.h"

struct XmFileCallbacks;

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

// File callbacks over bytes registered by name with put_file.
const XmFileCallbacks* memory_files();
void put_file(const std::string& name, std::vector<uint8_t> bytes);

struct SongDeleter {
  void operator()(XmSong* s) const { xm_release_song(s); }
};
using SongPtr = std::unique_ptr<XmSong, SongDeleter>;
struct PlayerDeleter {
  void operator()(XmPlayer* p) const;
};
using PlayerPtr = std::unique_ptr<XmPlayer, PlayerDeleter>;

// Loads bytes, or a file through the stdio callbacks; null on failure, with
// the reason in load_error().
SongPtr load_bytes(const std::vector<uint8_t>& bytes);
SongPtr load_path(const std::string& path);
// Why the last failed load_bytes on this thread failed.
const char* load_error();
// A context playing `song` from its start at `rate`, ticking with xm_tick;
// null when memory runs out.
PlayerPtr player_for(const XmSong* song, int32_t rate = 44100);
// The module loaded and started in a context of its own; null members when
// it does not load.
struct Started {
  SongPtr song;
  PlayerPtr player;
};
Started start(const ModuleDef& def);
// Runs n ticks of the context's tick handler.
void ticks(XmPlayer* player, int n);

}  // namespace xmtest
