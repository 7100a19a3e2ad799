// A small writer for the XM module format: the composer describes its song in
// these plain records and gets back the bytes of a complete module file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compose {

enum class Loop : std::uint8_t { none = 0, forward = 1, pingPong = 2 };

struct Sample {
  std::string name;
  // Frame values: -128..127 when eightBit, else the full 16-bit range.
  std::vector<std::int16_t> frames;
  bool eightBit = false;
  Loop loop = Loop::none;
  std::uint32_t loopStart = 0;   // frames
  std::uint32_t loopLength = 0;  // frames
  std::uint8_t volume = 64;
  std::int8_t finetune = 0;
  std::uint8_t panning = 128;
  std::int8_t relativeNote = 0;
};

struct EnvelopePoint {
  std::uint16_t tick;
  std::uint16_t value;  // 0..64
};

struct Envelope {
  std::vector<EnvelopePoint> points;  // at most 12
  bool sustain = false;
  bool loop = false;
  std::uint8_t sustainPoint = 0;
  std::uint8_t loopStart = 0;
  std::uint8_t loopEnd = 0;
};

struct Instrument {
  std::string name;
  std::vector<Sample> samples;  // at most 16
  std::uint8_t keymap[96] = {};  // sample index per note
  Envelope volume;
  Envelope panning;
  std::uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  std::uint16_t fadeout = 0;
};

struct Cell {
  std::uint8_t note = 0;        // 1..96, 97 = key off
  std::uint8_t instrument = 0;  // 1..128
  std::uint8_t volume = 0;      // volume column byte
  std::uint8_t effect = 0;
  std::uint8_t param = 0;

  bool empty() const { return note == 0 && instrument == 0 && volume == 0 && effect == 0 && param == 0; }
};

struct Pattern {
  Pattern(int rowCount, int channelCount)
      : rows(rowCount), channels(channelCount),
        cells(static_cast<std::size_t>(rowCount) * static_cast<std::size_t>(channelCount)) {}
  Cell& at(int row, int channel) { return cells.at(static_cast<std::size_t>(row * channels + channel)); }
  const Cell& at(int row, int channel) const {
    return cells.at(static_cast<std::size_t>(row * channels + channel));
  }

  int rows;
  int channels;
  std::vector<Cell> cells;
};

struct Module {
  std::string name;
  int channels = 8;
  bool linearFrequencies = true;
  int speed = 6;
  int bpm = 125;
  int restartPosition = 0;
  std::vector<std::uint8_t> orders;
  std::vector<Pattern> patterns;
  std::vector<Instrument> instruments;
};

// Packs one pattern's cells the compact way: a note-only cell costs one byte,
// an empty cell one byte, and only the present fields follow a flag byte.
std::vector<std::uint8_t> pack_pattern(const Pattern& pattern);

// The complete file. Fails (empty result, reason in *error) on records the
// format cannot hold: too many channels, orders, samples or points, an order
// naming a pattern that does not exist, or a loop outside its sample.
std::vector<std::uint8_t> write_module(const Module& module, std::string* error);

}  // namespace compose
