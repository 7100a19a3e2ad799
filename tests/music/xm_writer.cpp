#include "xm_writer.h"

#include <cstring>
#include <map>

#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_loader.h"

namespace xmtest {

namespace {

struct Out {
  std::vector<uint8_t> b;
  void u8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) { u8(v); u8(v >> 8); }
  void u32(uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
  void text(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) u8(i < std::strlen(s) ? static_cast<uint8_t>(s[i]) : 0);
  }
  void zeros(size_t n) { b.insert(b.end(), n, 0); }
};

std::vector<uint8_t> pack(const PatternDef& p, int channels) {
  std::vector<uint8_t> out;
  const size_t count = static_cast<size_t>(p.rows) * channels;
  for (size_t i = 0; i < count; ++i) {
    const XmCell c = i < p.cells.size() ? p.cells[i] : XmCell{};
    const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
    uint8_t mask = 0;
    for (int f = 0; f < 5; ++f) {
      if (fields[f]) mask |= static_cast<uint8_t>(1 << f);
    }
    if (mask == 0x1F) {
      out.insert(out.end(), fields, fields + 5);
    } else {
      out.push_back(static_cast<uint8_t>(0x80 | mask));
      for (int f = 0; f < 5; ++f) {
        if (fields[f]) out.push_back(fields[f]);
      }
    }
  }
  return out;
}

struct MemFile {
  const std::vector<uint8_t>* bytes;
  size_t pos;
};

std::map<std::string, std::vector<uint8_t>>& files() {
  static std::map<std::string, std::vector<uint8_t>> f;
  return f;
}

void* mem_open(const char* name) {
  auto it = files().find(name);
  if (it == files().end()) return nullptr;
  return new MemFile{&it->second, 0};
}
void mem_close(void* h) { delete static_cast<MemFile*>(h); }
uint32_t mem_read(void* dst, uint32_t size, void* h) {
  auto* f = static_cast<MemFile*>(h);
  const size_t left = f->pos < f->bytes->size() ? f->bytes->size() - f->pos : 0;
  const size_t n = size < left ? size : left;
  if (n) std::memcpy(dst, f->bytes->data() + f->pos, n);
  f->pos += n;
  return static_cast<uint32_t>(n);
}
void mem_seek(void* h, int32_t offset, int32_t origin) {
  auto* f = static_cast<MemFile*>(h);
  f->pos = static_cast<size_t>((origin == 1 ? static_cast<int64_t>(f->pos) : 0) + offset);
}
int32_t mem_tell(void* h) { return static_cast<int32_t>(static_cast<MemFile*>(h)->pos); }

}  // namespace

void ModuleDef::set(int p, int row, int channel, XmCell c) {
  PatternDef& pat = patterns[static_cast<size_t>(p)];
  const size_t at = static_cast<size_t>(row) * channels + channel;
  if (pat.cells.size() <= at) pat.cells.resize(at + 1);
  pat.cells[at] = c;
}

std::vector<uint8_t> build(const ModuleDef& def) {
  Out o;
  o.text("Extended Module: ", 17);
  o.text("test module", 20);
  o.u8(0x1A);
  o.text("vantor tests", 20);
  o.u16(0x0104);
  o.u32(276);
  o.u16(static_cast<uint32_t>(def.songLength >= 0 ? def.songLength : static_cast<int>(def.orders.size())));
  o.u16(static_cast<uint32_t>(def.restart));
  o.u16(static_cast<uint32_t>(def.channels));
  o.u16(static_cast<uint32_t>(def.patternCountOverride >= 0 ? def.patternCountOverride
                                                             : static_cast<int>(def.patterns.size())));
  o.u16(static_cast<uint32_t>(def.instrumentCountOverride >= 0 ? def.instrumentCountOverride
                                                                : static_cast<int>(def.instruments.size())));
  o.u16(def.linear ? 1 : 0);
  o.u16(static_cast<uint32_t>(def.speed));
  o.u16(static_cast<uint32_t>(def.bpm));
  for (int i = 0; i < 256; ++i) o.u8(i < static_cast<int>(def.orders.size()) ? def.orders[static_cast<size_t>(i)] : 0);

  for (const PatternDef& p : def.patterns) {
    const std::vector<uint8_t> data = p.rawPacked ? p.packed : pack(p, def.channels);
    const bool empty = !p.rawPacked && p.cells.empty();
    o.u32(9);
    o.u8(0);
    o.u16(static_cast<uint32_t>(p.rows));
    o.u16(empty ? 0 : static_cast<uint32_t>(data.size()));
    if (!empty) o.b.insert(o.b.end(), data.begin(), data.end());
  }

  for (const InstrumentDef& ins : def.instruments) {
    const size_t start = o.b.size();
    const bool any = !ins.samples.empty();
    o.u32(static_cast<uint32_t>(ins.headerSize >= 0 ? ins.headerSize : (any ? 263 : 29)));
    o.text("instrument", 22);
    o.u8(0);
    o.u16(static_cast<uint32_t>(ins.samples.size()));
    if (any) {
      o.u32(40);
      for (uint8_t k : ins.keymap) o.u8(k);
      for (const EnvelopeDef* env : {&ins.volume, &ins.panning}) {
        for (size_t i = 0; i < 12; ++i) {
          const auto pt = i < env->points.size() ? env->points[i] : std::pair<uint16_t, uint16_t>{0, 0};
          o.u16(pt.first);
          o.u16(pt.second);
        }
      }
      o.u8(static_cast<uint32_t>(ins.volume.pointCount >= 0 ? ins.volume.pointCount
                                                            : static_cast<int>(ins.volume.points.size())));
      o.u8(static_cast<uint32_t>(ins.panning.pointCount >= 0 ? ins.panning.pointCount
                                                             : static_cast<int>(ins.panning.points.size())));
      o.u8(ins.volume.sustain);
      o.u8(ins.volume.loopStart);
      o.u8(ins.volume.loopEnd);
      o.u8(ins.panning.sustain);
      o.u8(ins.panning.loopStart);
      o.u8(ins.panning.loopEnd);
      o.u8(ins.volume.type);
      o.u8(ins.panning.type);
      o.u8(ins.vibratoType);
      o.u8(ins.vibratoSweep);
      o.u8(ins.vibratoDepth);
      o.u8(ins.vibratoRate);
      o.u16(ins.fadeout);
      o.zeros(22);
    }
    // Pad or cut the header to its stated size.
    const size_t headerSize = static_cast<size_t>(ins.headerSize >= 0 ? ins.headerSize : (any ? 263 : 29));
    if (o.b.size() - start < headerSize) o.zeros(headerSize - (o.b.size() - start));
    if (!any) continue;
    o.b.resize(start + headerSize);
    for (const SampleDef& s : ins.samples) {
      const uint32_t unit = s.sixteenBit ? 2 : 1;
      o.u32(static_cast<uint32_t>(s.lengthBytes >= 0 ? s.lengthBytes : static_cast<int64_t>(s.frames.size() * unit)));
      o.u32(static_cast<uint32_t>(s.loopStartBytes >= 0 ? s.loopStartBytes : s.loopStart * unit));
      o.u32(static_cast<uint32_t>(s.loopLengthBytes >= 0 ? s.loopLengthBytes : s.loopLength * unit));
      o.u8(s.volume);
      o.u8(static_cast<uint8_t>(s.finetune));
      o.u8(static_cast<uint32_t>(s.type | (s.sixteenBit ? 16 : 0)));
      o.u8(s.panning);
      o.u8(static_cast<uint8_t>(s.relativeNote));
      o.u8(0);
      o.text("sample", 22);
    }
    for (const SampleDef& s : ins.samples) {
      int32_t previous = 0;
      for (int16_t v : s.frames) {
        if (s.sixteenBit) {
          o.u16(static_cast<uint16_t>(v - previous));
          previous = v;
        } else {
          const int8_t b = static_cast<int8_t>(v >> 8);
          o.u8(static_cast<uint8_t>(b - previous));
          previous = b;
        }
      }
    }
  }
  return o.b;
}

SampleDef ramp_sample(bool noLoop) {
  SampleDef s;
  s.sixteenBit = true;
  for (int i = 0; i < 1000; ++i) s.frames.push_back(static_cast<int16_t>((i % 200 - 100) * 100));
  if (!noLoop) {
    s.type = 1;
    s.loopStart = 0;
    s.loopLength = 1000;
  }
  return s;
}

InstrumentDef one_sample_instrument(SampleDef sample) {
  InstrumentDef ins;
  ins.samples.push_back(std::move(sample));
  return ins;
}

void install_memory_files() { xm_set_file_callbacks(mem_open, mem_close, mem_read, mem_seek, mem_tell); }

void put_file(const std::string& name, std::vector<uint8_t> bytes) { files()[name] = std::move(bytes); }

SongPtr load_bytes(const std::vector<uint8_t>& bytes) {
  install_memory_files();
  put_file("module.xm", bytes);
  return SongPtr(xm_load("module.xm", nullptr));
}

SongPtr start(const ModuleDef& def) {
  SongPtr song = load_bytes(build(def));
  if (song) xm_start_song(song.get());
  return song;
}

void ticks(XmSong* song, int n) {
  for (int i = 0; i < n; ++i) song->tickHandler(song);
}

}  // namespace xmtest
