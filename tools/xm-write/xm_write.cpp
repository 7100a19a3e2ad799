#include "xm_write.h"

namespace xmwrite {

void Bytes::text(const std::string& s, std::size_t width, char pad) {
  for (std::size_t i = 0; i < width; ++i) u8(i < s.size() ? static_cast<unsigned char>(s[i]) : static_cast<unsigned char>(pad));
}

void put_header(Bytes& b, const Header& h) {
  b.text("Extended Module: ", 17);
  b.text(h.name, 20, h.textPad);
  b.u8(0x1A);
  b.text(h.tracker, 20, h.textPad);
  b.u16(0x0104);
  b.u32(20 + 256);  // header size, counted from this field
  b.u16(h.songLength);
  b.u16(h.restart);
  b.u16(h.channels);
  b.u16(h.patterns);
  b.u16(h.instruments);
  b.u16(h.linear ? 1 : 0);
  b.u16(h.speed);
  b.u16(h.bpm);
  for (std::size_t i = 0; i < 256; ++i) b.u8(i < h.orders.size() ? h.orders[i] : 0);
}

void put_packed_cell(Bytes& b, std::uint8_t note, std::uint8_t instrument, std::uint8_t volume, std::uint8_t effect,
                     std::uint8_t param) {
  const std::uint8_t fields[5] = {note, instrument, volume, effect, param};
  unsigned mask = 0;
  for (int f = 0; f < 5; ++f) {
    if (fields[f]) mask |= 1u << f;
  }
  if (mask != 0x1F) b.u8(0x80 | mask);
  for (std::uint8_t v : fields) {
    if (v) b.u8(v);
  }
}

void put_pattern(Bytes& b, unsigned rows, const std::vector<std::uint8_t>& packed) {
  b.u32(9);
  b.u8(0);
  b.u16(rows);
  b.u16(static_cast<unsigned>(packed.size()));
  b.append(packed);
}

namespace {

void put_points(Bytes& b, const Envelope& e) {
  for (std::size_t i = 0; i < 12; ++i) {
    const auto p = i < e.points.size() ? e.points[i] : std::pair<std::uint16_t, std::uint16_t>{0, 0};
    b.u16(p.first);
    b.u16(p.second);
  }
}

}  // namespace

void put_instrument_header(Bytes& b, const Instrument& ins) {
  const std::size_t start = b.out.size();
  b.u32(ins.headerSize);
  b.text(ins.name, 22);
  b.u8(0);
  b.u16(ins.sampleCount);
  if (ins.sampleCount > 0) {
    b.u32(40);  // sample header size
    for (std::uint8_t k : ins.keymap) b.u8(k);
    put_points(b, ins.volume);
    put_points(b, ins.panning);
    b.u8(ins.volume.pointCount);
    b.u8(ins.panning.pointCount);
    b.u8(ins.volume.sustain);
    b.u8(ins.volume.loopStart);
    b.u8(ins.volume.loopEnd);
    b.u8(ins.panning.sustain);
    b.u8(ins.panning.loopStart);
    b.u8(ins.panning.loopEnd);
    b.u8(ins.volume.type);
    b.u8(ins.panning.type);
    b.u8(ins.vibratoType);
    b.u8(ins.vibratoSweep);
    b.u8(ins.vibratoDepth);
    b.u8(ins.vibratoRate);
    b.u16(ins.fadeout);
    b.zeros(22);  // reserved
  }
  // Samples follow at exactly headerSize; a header without samples keeps
  // all its fields even when it claims fewer bytes.
  if (b.out.size() - start < ins.headerSize || ins.sampleCount > 0) b.out.resize(start + ins.headerSize, 0);
}

void put_sample_header(Bytes& b, const SampleHeader& s) {
  b.u32(s.lengthBytes);
  b.u32(s.loopStartBytes);
  b.u32(s.loopLengthBytes);
  b.u8(s.volume);
  b.u8(static_cast<std::uint8_t>(s.finetune));
  b.u8(s.type);
  b.u8(s.panning);
  b.u8(static_cast<std::uint8_t>(s.relativeNote));
  b.u8(0);
  b.text(s.name, 22);
}

void put_sample_data(Bytes& b, const std::vector<std::int16_t>& values, bool eightBit) {
  int previous = 0;
  for (std::int16_t v : values) {
    const int delta = v - previous;
    previous = v;
    if (eightBit) {
      b.u8(static_cast<unsigned>(delta) & 0xFF);
    } else {
      b.u16(static_cast<unsigned>(delta) & 0xFFFF);
    }
  }
}

}  // namespace xmwrite
