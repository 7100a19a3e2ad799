#include "xm_writer.h"

#include <algorithm>

namespace compose {
namespace {

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
  // Fixed-width text, cut or padded with zero bytes.
  void text(const std::string& s, std::size_t width, char pad = '\0') {
    for (std::size_t i = 0; i < width; ++i) u8(i < s.size() ? static_cast<unsigned char>(s[i]) : pad);
  }
  void append(const std::vector<std::uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }

  std::vector<std::uint8_t> out;
};

// Size of an instrument header with samples, as trackers write it: the fields
// the format defines plus 22 reserved bytes.
constexpr std::uint32_t instrumentHeaderSize = 263;
constexpr std::uint32_t sampleHeaderSize = 40;

std::uint8_t envelope_type(const Envelope& e) {
  if (e.points.size() < 2) return 0;
  return static_cast<std::uint8_t>(1 | (e.sustain ? 2 : 0) | (e.loop ? 4 : 0));
}

void write_envelope_points(Bytes& b, const Envelope& e) {
  for (std::size_t i = 0; i < 12; ++i) {
    if (i < e.points.size()) {
      b.u16(e.points[i].tick);
      b.u16(e.points[i].value);
    } else {
      b.u32(0);
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

}  // namespace

std::vector<std::uint8_t> pack_pattern(const Pattern& pattern) {
  Bytes b;
  for (const Cell& c : pattern.cells) {
    const bool full = c.note != 0 && c.instrument != 0 && c.volume != 0 && c.effect != 0 && c.param != 0;
    if (full) {
      b.u8(c.note);
      b.u8(c.instrument);
      b.u8(c.volume);
      b.u8(c.effect);
      b.u8(c.param);
      continue;
    }
    unsigned flags = 0x80;
    if (c.note) flags |= 1;
    if (c.instrument) flags |= 2;
    if (c.volume) flags |= 4;
    if (c.effect) flags |= 8;
    if (c.param) flags |= 16;
    b.u8(flags);
    if (c.note) b.u8(c.note);
    if (c.instrument) b.u8(c.instrument);
    if (c.volume) b.u8(c.volume);
    if (c.effect) b.u8(c.effect);
    if (c.param) b.u8(c.param);
  }
  return b.out;
}

std::vector<std::uint8_t> write_module(const Module& m, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (m.channels < 1 || m.channels > 32) {
    *error = "channel count must be 1..32";
    return {};
  }
  if (m.orders.empty() || m.orders.size() > 256) {
    *error = "song length must be 1..256";
    return {};
  }
  if (m.restartPosition < 0 || m.restartPosition >= static_cast<int>(m.orders.size())) {
    *error = "restart position outside the song";
    return {};
  }
  if (m.patterns.empty() || m.patterns.size() > 256 || m.instruments.size() > 128) {
    *error = "pattern or instrument count out of range";
    return {};
  }
  for (std::uint8_t o : m.orders) {
    if (o >= m.patterns.size()) {
      *error = "order table names a missing pattern";
      return {};
    }
  }

  Bytes b;
  b.text("Extended Module: ", 17);
  b.text(m.name, 20, ' ');
  b.u8(0x1A);
  b.text("xm-compose", 20, ' ');
  b.u16(0x0104);
  b.u32(20 + 256);  // header size, counted from this field
  b.u16(static_cast<unsigned>(m.orders.size()));
  b.u16(static_cast<unsigned>(m.restartPosition));
  b.u16(static_cast<unsigned>(m.channels));
  b.u16(static_cast<unsigned>(m.patterns.size()));
  b.u16(static_cast<unsigned>(m.instruments.size()));
  b.u16(m.linearFrequencies ? 1 : 0);
  b.u16(static_cast<unsigned>(m.speed));
  b.u16(static_cast<unsigned>(m.bpm));
  for (std::size_t i = 0; i < 256; ++i) b.u8(i < m.orders.size() ? m.orders[i] : 0);

  for (const Pattern& p : m.patterns) {
    if (p.channels != m.channels || p.rows < 1 || p.rows > 256) {
      *error = "pattern shape does not match the module";
      return {};
    }
    const auto packed = pack_pattern(p);
    if (packed.size() > 0xFFFF) {
      *error = "packed pattern too large";
      return {};
    }
    b.u32(9);
    b.u8(0);
    b.u16(static_cast<unsigned>(p.rows));
    b.u16(static_cast<unsigned>(packed.size()));
    b.append(packed);
  }

  for (const Instrument& ins : m.instruments) {
    const std::string where = "instrument '" + ins.name + "'";
    if (ins.samples.size() > 16) {
      *error = where + ": more than 16 samples";
      return {};
    }
    if (!check_envelope(ins.volume, where, error) || !check_envelope(ins.panning, where, error)) return {};
    for (unsigned char k : ins.keymap) {
      if (k >= ins.samples.size() && !ins.samples.empty()) {
        *error = where + ": keymap names a missing sample";
        return {};
      }
    }
    if (ins.samples.empty()) {
      b.u32(29);
      b.text(ins.name, 22);
      b.u8(0);
      b.u16(0);
      continue;
    }
    b.u32(instrumentHeaderSize);
    b.text(ins.name, 22);
    b.u8(0);
    b.u16(static_cast<unsigned>(ins.samples.size()));
    b.u32(sampleHeaderSize);
    for (unsigned char k : ins.keymap) b.u8(k);
    write_envelope_points(b, ins.volume);
    write_envelope_points(b, ins.panning);
    b.u8(static_cast<unsigned>(ins.volume.points.size()));
    b.u8(static_cast<unsigned>(ins.panning.points.size()));
    b.u8(ins.volume.sustainPoint);
    b.u8(ins.volume.loopStart);
    b.u8(ins.volume.loopEnd);
    b.u8(ins.panning.sustainPoint);
    b.u8(ins.panning.loopStart);
    b.u8(ins.panning.loopEnd);
    b.u8(envelope_type(ins.volume));
    b.u8(envelope_type(ins.panning));
    b.u8(ins.vibratoType);
    b.u8(ins.vibratoSweep);
    b.u8(ins.vibratoDepth);
    b.u8(ins.vibratoRate);
    b.u16(ins.fadeout);
    b.text("", 22);

    for (const Sample& s : ins.samples) {
      const std::uint32_t frames = static_cast<std::uint32_t>(s.frames.size());
      if (s.loop != Loop::none && (s.loopLength == 0 || s.loopStart + s.loopLength > frames)) {
        *error = where + ": sample loop outside the sample";
        return {};
      }
      const std::uint32_t unit = s.eightBit ? 1 : 2;
      unsigned type = static_cast<unsigned>(s.loop) | (s.eightBit ? 0 : 0x10);
      b.u32(frames * unit);
      b.u32(s.loop == Loop::none ? 0 : s.loopStart * unit);
      b.u32(s.loop == Loop::none ? 0 : s.loopLength * unit);
      b.u8(s.volume);
      b.u8(static_cast<std::uint8_t>(s.finetune));
      b.u8(type);
      b.u8(s.panning);
      b.u8(static_cast<std::uint8_t>(s.relativeNote));
      b.u8(0);
      b.text(s.name, 22);
    }
    // Sample data, delta coded in the sample's own width.
    for (const Sample& s : ins.samples) {
      int previous = 0;
      for (std::int16_t v : s.frames) {
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
  return b.out;
}

}  // namespace compose
