// Writes the parts of an XM module file, field by field and in file order.
// It checks nothing: what the records say is written, so callers can write
// well-formed modules and deliberately damaged ones alike.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace xmwrite {

class Bytes {
 public:
  void u8(unsigned v) { out.push_back(static_cast<std::uint8_t>(v)); }
  void u16(unsigned v) {
    u8(v & 0xFF);
    u8((v >> 8) & 0xFF);
  }
  void u32(std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  // Fixed-width text, cut or padded with `pad`.
  void text(const std::string& s, std::size_t width, char pad = '\0');
  void zeros(std::size_t n) { out.insert(out.end(), n, 0); }
  void append(const std::vector<std::uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }

  std::vector<std::uint8_t> out;
};

struct Header {
  std::string name, tracker;
  char textPad = '\0';  // pads the name and the tracker name
  unsigned songLength = 1, restart = 0, channels = 4, patterns = 1, instruments = 0;
  bool linear = true;
  unsigned speed = 6, bpm = 125;
  std::vector<std::uint8_t> orders;  // the first 256 are written, the rest zero
};

// Everything up to and including the order table (336 bytes).
void put_header(Bytes& b, const Header& h);

// One cell the compact way: all five bytes when every field is set, else a
// flag byte followed by the fields that are set.
void put_packed_cell(Bytes& b, std::uint8_t note, std::uint8_t instrument, std::uint8_t volume, std::uint8_t effect,
                     std::uint8_t param);

// A pattern header and its packed cells (none: an empty pattern).
void put_pattern(Bytes& b, unsigned rows, const std::vector<std::uint8_t>& packed);

struct Envelope {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> points;  // (tick, value), 12 are written
  unsigned pointCount = 0;  // as stored, whatever `points` holds
  std::uint8_t sustain = 0, loopStart = 0, loopEnd = 0, type = 0;
};

struct Instrument {
  std::uint32_t headerSize = 263;  // padded to it; cut to it when samples follow
  std::string name;
  unsigned sampleCount = 0;        // the fields after it only when above 0
  std::uint8_t keymap[96] = {};
  Envelope volume, panning;
  std::uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
  std::uint16_t fadeout = 0;
};

void put_instrument_header(Bytes& b, const Instrument& ins);

struct SampleHeader {
  std::uint32_t lengthBytes = 0, loopStartBytes = 0, loopLengthBytes = 0;
  std::uint8_t volume = 64;
  std::int8_t finetune = 0;
  std::uint8_t type = 0;  // loop bits and bit 4 for 16-bit data
  std::uint8_t panning = 128;
  std::int8_t relativeNote = 0;
  std::string name;
};

void put_sample_header(Bytes& b, const SampleHeader& s);

// Sample values, delta coded in 8 or 16 bits (8-bit values -128..127).
void put_sample_data(Bytes& b, const std::vector<std::int16_t>& values, bool eightBit);

}  // namespace xmwrite
