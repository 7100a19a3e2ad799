#include "xm_write.h"

#include <algorithm>

namespace xmwrite {
namespace {

// Little-endian fields, in file order.
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
  void text(const std::string& s, std::size_t width, char pad = '\0') {
    for (std::size_t i = 0; i < width; ++i) {
      u8(i < s.size() ? static_cast<unsigned char>(s[i]) : static_cast<unsigned char>(pad));
    }
  }
  void zeros(std::size_t n) { out.insert(out.end(), n, 0); }
  void append(const std::vector<std::uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }

  std::vector<std::uint8_t> out;
};

// A field as stored when one is given, else its derived value.
template <typename T>
std::uint32_t stored_or(T stored, std::uint64_t derived) {
  return static_cast<std::uint32_t>(stored >= 0 ? static_cast<std::uint64_t>(stored) : derived);
}

void put_header(Bytes& b, const Module& m) {
  b.text("Extended Module: ", 17);
  b.text(m.name, 20, m.textPad);
  b.u8(0x1A);
  b.text(m.tracker, 20, m.textPad);
  b.u16(0x0104);
  b.u32(20 + 256);  // header size, counted from this field
  b.u16(stored_or(m.songLength, m.orders.size()));
  b.u16(static_cast<unsigned>(m.restartPosition));
  b.u16(static_cast<unsigned>(m.channels));
  b.u16(stored_or(m.patternCount, m.patterns.size()));
  b.u16(stored_or(m.instrumentCount, m.instruments.size()));
  b.u16(m.linearFrequencies ? 1 : 0);
  b.u16(static_cast<unsigned>(m.speed));
  b.u16(static_cast<unsigned>(m.bpm));
  for (std::size_t i = 0; i < 256; ++i) b.u8(i < m.orders.size() ? m.orders[i] : 0);
}

void put_packed_cell(Bytes& b, const Cell& c) {
  const std::uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
  unsigned mask = 0;
  for (int f = 0; f < 5; ++f) {
    if (fields[f]) mask |= 1u << f;
  }
  if (mask != 0x1F) b.u8(0x80 | mask);
  for (std::uint8_t v : fields) {
    if (v) b.u8(v);
  }
}

void put_pattern(Bytes& b, const Pattern& p) {
  const std::vector<std::uint8_t> packed = p.packed ? *p.packed : pack_pattern(p);
  b.u32(9);
  b.u8(0);
  b.u16(static_cast<unsigned>(p.rows));
  b.u16(static_cast<unsigned>(packed.size()));
  b.append(packed);
}

std::uint8_t envelope_type(const Envelope& e) {
  if (e.type >= 0) return static_cast<std::uint8_t>(e.type);
  if (e.points.size() < 2) return 0;
  return static_cast<std::uint8_t>(1 | (e.sustain ? 2 : 0) | (e.loop ? 4 : 0));
}

void put_points(Bytes& b, const Envelope& e) {
  for (std::size_t i = 0; i < 12; ++i) {
    const EnvelopePoint p = i < e.points.size() ? e.points[i] : EnvelopePoint{0, 0};
    b.u16(p.tick);
    b.u16(p.value);
  }
}

void put_instrument_header(Bytes& b, const Instrument& ins) {
  const std::size_t start = b.out.size();
  const std::size_t size = stored_or(ins.headerSize, ins.samples.empty() ? 29 : 263);
  b.u32(static_cast<std::uint32_t>(size));
  b.text(ins.name, 22);
  b.u8(0);
  b.u16(static_cast<unsigned>(ins.samples.size()));
  if (!ins.samples.empty()) {
    b.u32(40);  // sample header size
    for (std::uint8_t k : ins.keymap) b.u8(k);
    put_points(b, ins.volume);
    put_points(b, ins.panning);
    b.u8(stored_or(ins.volume.pointCount, ins.volume.points.size()));
    b.u8(stored_or(ins.panning.pointCount, ins.panning.points.size()));
    for (const Envelope* e : {&ins.volume, &ins.panning}) {
      b.u8(e->sustainPoint);
      b.u8(e->loopStart);
      b.u8(e->loopEnd);
    }
    b.u8(envelope_type(ins.volume));
    b.u8(envelope_type(ins.panning));
    b.u8(ins.vibratoType);
    b.u8(ins.vibratoSweep);
    b.u8(ins.vibratoDepth);
    b.u8(ins.vibratoRate);
    b.u16(ins.fadeout);
    b.zeros(22);  // reserved
  }
  // Samples follow at exactly the header's size; a header without samples
  // keeps all its fields even when it claims fewer bytes.
  if (b.out.size() - start < size || !ins.samples.empty()) b.out.resize(start + size, 0);
}

void put_sample_header(Bytes& b, const Sample& s) {
  // The byte counts of a stereo sample cover both sides.
  const std::uint64_t unit = (s.eightBit ? 1 : 2) * (s.right.empty() ? 1 : 2);
  b.u32(stored_or(s.lengthBytes, s.frames.size() * unit));
  b.u32(stored_or(s.loopStartBytes, s.loopStart * unit));
  b.u32(stored_or(s.loopLengthBytes, s.loopLength * unit));
  b.u8(s.volume);
  b.u8(static_cast<std::uint8_t>(s.finetune));
  b.u8(static_cast<unsigned>(s.loop) | (s.eightBit ? 0 : 0x10) | (s.right.empty() ? 0 : 0x20));
  b.u8(s.panning);
  b.u8(static_cast<std::uint8_t>(s.relativeNote));
  b.u8(0);
  b.text(s.name, 22);
}

// Delta coded in the sample's own width; each side of a stereo sample on
// its own.
void put_sample_data(Bytes& b, const Sample& s) {
  for (const std::vector<std::int16_t>* side : {&s.frames, &s.right}) {
    int previous = 0;
    for (std::int16_t v : *side) {
      const int delta = v - previous;
      previous = v;
      if (s.eightBit) {
        b.u8(static_cast<unsigned>(delta) & 0xFF);
      } else {
        b.u16(static_cast<unsigned>(delta) & 0xFFFF);
      }
    }
  }
}

bool check_envelope(const Envelope& e, const std::string& where, std::string* error) {
  const std::size_t n = e.points.size();
  if (n > 12) {
    *error = where + ": more than 12 envelope points";
    return false;
  }
  for (std::size_t i = 1; i < n; ++i) {
    if (e.points[i].tick <= e.points[i - 1].tick) {
      *error = where + ": envelope ticks must rise";
      return false;
    }
  }
  for (const auto& p : e.points) {
    if (p.value > 64) {
      *error = where + ": envelope value above 64";
      return false;
    }
  }
  if ((e.sustain && e.sustainPoint >= n) || (e.loop && (e.loopStart > e.loopEnd || e.loopEnd >= n))) {
    *error = where + ": sustain or loop point outside the envelope";
    return false;
  }
  return true;
}

bool check_instrument(const Instrument& ins, std::string* error) {
  const std::string where = "instrument '" + ins.name + "'";
  if (ins.samples.size() > 16) {
    *error = where + ": more than 16 samples";
    return false;
  }
  if (!check_envelope(ins.volume, where, error) || !check_envelope(ins.panning, where, error)) return false;
  for (unsigned char k : ins.keymap) {
    if (k >= ins.samples.size() && !ins.samples.empty()) {
      *error = where + ": keymap names a missing sample";
      return false;
    }
  }
  for (const Sample& s : ins.samples) {
    const std::uint64_t frames = s.frames.size();
    if (s.loop != Loop::none && (s.loopLength == 0 || std::uint64_t{s.loopStart} + s.loopLength > frames)) {
      *error = where + ": sample loop outside the sample";
      return false;
    }
  }
  return true;
}

bool check_module(const Module& m, std::string* error) {
  if (m.channels < 1 || m.channels > 32) {
    *error = "channel count must be 1..32";
    return false;
  }
  if (m.orders.empty() || m.orders.size() > 256) {
    *error = "song length must be 1..256";
    return false;
  }
  if (m.restartPosition < 0 || m.restartPosition >= static_cast<int>(m.orders.size())) {
    *error = "restart position outside the song";
    return false;
  }
  if (m.patterns.empty() || m.patterns.size() > 256 || m.instruments.size() > 128) {
    *error = "pattern or instrument count out of range";
    return false;
  }
  for (std::uint8_t o : m.orders) {
    if (o >= m.patterns.size()) {
      *error = "order table names a missing pattern";
      return false;
    }
  }
  for (const Pattern& p : m.patterns) {
    if (p.channels != m.channels || p.rows < 1 || p.rows > 256) {
      *error = "pattern shape does not match the module";
      return false;
    }
    if (pack_pattern(p).size() > 0xFFFF) {
      *error = "packed pattern too large";
      return false;
    }
  }
  return std::all_of(m.instruments.begin(), m.instruments.end(),
                     [error](const Instrument& ins) { return check_instrument(ins, error); });
}

}  // namespace

std::vector<std::uint8_t> pack_pattern(const Pattern& pattern) {
  Bytes b;
  if (pattern.cells.empty()) return b.out;
  const std::size_t count = static_cast<std::size_t>(std::max(pattern.rows, 0)) *
                            static_cast<std::size_t>(std::max(pattern.channels, 0));
  for (std::size_t i = 0; i < count; ++i) put_packed_cell(b, i < pattern.cells.size() ? pattern.cells[i] : Cell{});
  return b.out;
}

std::vector<std::uint8_t> write_module(const Module& module, std::string* error) {
  std::string ignored;
  if (!check_module(module, error ? error : &ignored)) return {};
  return write_unchecked(module);
}

std::vector<std::uint8_t> write_unchecked(const Module& m) {
  Bytes b;
  put_header(b, m);
  for (const Pattern& p : m.patterns) put_pattern(b, p);
  for (const Instrument& ins : m.instruments) {
    put_instrument_header(b, ins);
    for (const Sample& s : ins.samples) put_sample_header(b, s);
    for (const Sample& s : ins.samples) put_sample_data(b, s);
  }
  return b.out;
}

}  // namespace xmwrite
