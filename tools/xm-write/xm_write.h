// The project's one writer of XM module files: the composer describes the
// intro's song in these plain records, and the tests, benchmarks and fuzzer
// seeds describe theirs (well-formed or deliberately damaged) in the same
// records.
//
// write_module checks the records and refuses what the format cannot hold;
// write_unchecked writes whatever they say, so a test can state a broken
// file. The fields under "as stored" exist for such files: left at -1 (or
// empty), each is derived from the records, as write_module needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xmwrite {

// The sample type's loop bits (3 is not a loop kind; only damaged files
// carry it).
enum class Loop : std::uint8_t { none = 0, forward = 1, pingPong = 2 };

struct Sample {
  std::string name;
  // Frame values: -128..127 when eightBit, else the full 16-bit range.
  std::vector<std::int16_t> frames;
  // A stereo sample's right side, as long as `frames` (then the left side);
  // empty for mono.
  std::vector<std::int16_t> right;
  bool eightBit = false;
  Loop loop = Loop::none;
  std::uint32_t loopStart = 0;   // frames
  std::uint32_t loopLength = 0;  // frames
  std::uint8_t volume = 64;
  std::int8_t finetune = 0;
  std::uint8_t panning = 128;
  std::int8_t relativeNote = 0;
  // As stored: the header's byte counts.
  std::int64_t lengthBytes = -1, loopStartBytes = -1, loopLengthBytes = -1;
};

struct EnvelopePoint {
  std::uint16_t tick;
  std::uint16_t value;  // 0..64
};

struct Envelope {
  std::vector<EnvelopePoint> points;  // at most 12 are written
  bool sustain = false;
  bool loop = false;
  std::uint8_t sustainPoint = 0;
  std::uint8_t loopStart = 0;
  std::uint8_t loopEnd = 0;
  // As stored: the point count, and the type byte (bit 0 on, 1 sustain,
  // 2 loop; derived: on with two points or more).
  int pointCount = -1;
  int type = -1;
};

struct Instrument {
  std::string name;
  std::vector<Sample> samples;  // at most 16
  std::uint8_t keymap[96] = {};  // sample index per note
  Envelope volume;
  Envelope panning;
  std::uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  std::uint16_t fadeout = 0;
  // As stored: the header's size (derived: 263, or 29 without samples).
  // The samples' headers follow at exactly this many bytes.
  std::int64_t headerSize = -1;
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
  Pattern() = default;
  Pattern(int rowCount, int channelCount)
      : rows(rowCount), channels(channelCount),
        cells(static_cast<std::size_t>(rowCount) * static_cast<std::size_t>(channelCount)) {}
  Cell& at(int row, int channel) { return cells.at(static_cast<std::size_t>(row * channels + channel)); }
  const Cell& at(int row, int channel) const {
    return cells.at(static_cast<std::size_t>(row * channels + channel));
  }

  int rows = 64;
  int channels = 0;
  // Row by row. Cells missing at the end are empty; with no cells at all the
  // pattern is stored without data, which the format reads as all empty.
  std::vector<Cell> cells;
  // As stored: these bytes in place of the packed cells.
  std::optional<std::vector<std::uint8_t>> packed;
};

struct Module {
  std::string name;
  std::string tracker = "xm-compose";
  char textPad = ' ';  // pads the name and the tracker's name
  int channels = 8;
  bool linearFrequencies = true;
  int speed = 6;
  int bpm = 125;
  int restartPosition = 0;
  std::vector<std::uint8_t> orders;
  std::vector<Pattern> patterns;
  std::vector<Instrument> instruments;
  // As stored: the header's song length and counts.
  int songLength = -1, patternCount = -1, instrumentCount = -1;
};

// Packs one pattern's cells the compact way: a note-only cell costs two
// bytes, an empty cell one, and only the present fields follow a flag byte;
// a cell with every field set is written as its five bytes.
std::vector<std::uint8_t> pack_pattern(const Pattern& pattern);

// The complete file. Fails (empty result, reason in *error) on records the
// format cannot hold: too many channels, orders, samples or points, an order
// naming a pattern that does not exist, or a loop outside its sample.
std::vector<std::uint8_t> write_module(const Module& module, std::string* error);

// The complete file, exactly as the records say, checked for nothing.
std::vector<std::uint8_t> write_unchecked(const Module& module);

}  // namespace xmwrite
