#include "xm_writer.h"

#include <algorithm>
#include <iterator>

#include "xm_write.h"

namespace compose {
namespace {

std::uint8_t envelope_type(const Envelope& e) {
  if (e.points.size() < 2) return 0;
  return static_cast<std::uint8_t>(1 | (e.sustain ? 2 : 0) | (e.loop ? 4 : 0));
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
  xmwrite::Bytes b;
  for (const Cell& c : pattern.cells) xmwrite::put_packed_cell(b, c.note, c.instrument, c.volume, c.effect, c.param);
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

  xmwrite::Bytes b;
  xmwrite::Header moduleHeader;
  moduleHeader.name = m.name;
  moduleHeader.tracker = "xm-compose";
  moduleHeader.textPad = ' ';
  moduleHeader.songLength = static_cast<unsigned>(m.orders.size());
  moduleHeader.restart = static_cast<unsigned>(m.restartPosition);
  moduleHeader.channels = static_cast<unsigned>(m.channels);
  moduleHeader.patterns = static_cast<unsigned>(m.patterns.size());
  moduleHeader.instruments = static_cast<unsigned>(m.instruments.size());
  moduleHeader.linear = m.linearFrequencies;
  moduleHeader.speed = static_cast<unsigned>(m.speed);
  moduleHeader.bpm = static_cast<unsigned>(m.bpm);
  moduleHeader.orders = m.orders;
  xmwrite::put_header(b, moduleHeader);

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
    xmwrite::put_pattern(b, static_cast<unsigned>(p.rows), packed);
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
    xmwrite::Instrument instrumentHeader;
    instrumentHeader.headerSize = ins.samples.empty() ? 29 : 263;
    instrumentHeader.name = ins.name;
    instrumentHeader.sampleCount = static_cast<unsigned>(ins.samples.size());
    std::copy(std::begin(ins.keymap), std::end(ins.keymap), instrumentHeader.keymap);
    const std::pair<const Envelope*, xmwrite::Envelope*> envelopes[] = {{&ins.volume, &instrumentHeader.volume},
                                                                       {&ins.panning, &instrumentHeader.panning}};
    for (const auto& [from, to] : envelopes) {
      for (const EnvelopePoint& point : from->points) to->points.emplace_back(point.tick, point.value);
      to->pointCount = static_cast<unsigned>(from->points.size());
      to->sustain = from->sustainPoint;
      to->loopStart = from->loopStart;
      to->loopEnd = from->loopEnd;
      to->type = envelope_type(*from);
    }
    instrumentHeader.vibratoType = ins.vibratoType;
    instrumentHeader.vibratoSweep = ins.vibratoSweep;
    instrumentHeader.vibratoDepth = ins.vibratoDepth;
    instrumentHeader.vibratoRate = ins.vibratoRate;
    instrumentHeader.fadeout = ins.fadeout;
    xmwrite::put_instrument_header(b, instrumentHeader);

    for (const Sample& s : ins.samples) {
      const std::uint32_t frames = static_cast<std::uint32_t>(s.frames.size());
      if (s.loop != Loop::none && (s.loopLength == 0 || s.loopStart + s.loopLength > frames)) {
        *error = where + ": sample loop outside the sample";
        return {};
      }
      const std::uint32_t unit = s.eightBit ? 1 : 2;
      xmwrite::SampleHeader sampleHeader;
      sampleHeader.lengthBytes = frames * unit;
      sampleHeader.loopStartBytes = s.loop == Loop::none ? 0 : s.loopStart * unit;
      sampleHeader.loopLengthBytes = s.loop == Loop::none ? 0 : s.loopLength * unit;
      sampleHeader.volume = s.volume;
      sampleHeader.finetune = s.finetune;
      sampleHeader.type = static_cast<std::uint8_t>(static_cast<unsigned>(s.loop) | (s.eightBit ? 0 : 0x10));
      sampleHeader.panning = s.panning;
      sampleHeader.relativeNote = s.relativeNote;
      sampleHeader.name = s.name;
      xmwrite::put_sample_header(b, sampleHeader);
    }
    // Sample data, delta coded in the sample's own width.
    for (const Sample& s : ins.samples) xmwrite::put_sample_data(b, s.frames, s.eightBit);
  }
  return b.out;
}

}  // namespace compose
