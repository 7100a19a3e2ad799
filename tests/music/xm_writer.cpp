#include "xm_writer.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_loader.h"
#include "xm_write.h"

namespace xmtest {

namespace {

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
  xmwrite::Bytes o;
  xmwrite::Header h;
  h.name = "test module";
  h.tracker = "vantor tests";
  h.songLength = static_cast<unsigned>(def.songLength >= 0 ? def.songLength : static_cast<int>(def.orders.size()));
  h.restart = static_cast<unsigned>(def.restart);
  h.channels = static_cast<unsigned>(def.channels);
  h.patterns = static_cast<unsigned>(def.patternCountOverride >= 0 ? def.patternCountOverride
                                                                    : static_cast<int>(def.patterns.size()));
  h.instruments = static_cast<unsigned>(def.instrumentCountOverride >= 0 ? def.instrumentCountOverride
                                                                          : static_cast<int>(def.instruments.size()));
  h.linear = def.linear;
  h.speed = static_cast<unsigned>(def.speed);
  h.bpm = static_cast<unsigned>(def.bpm);
  h.orders = def.orders;
  xmwrite::put_header(o, h);

  for (const PatternDef& p : def.patterns) {
    xmwrite::Bytes packed;
    if (p.rawPacked) {
      packed.out = p.packed;
    } else if (!p.cells.empty()) {
      const size_t count = static_cast<size_t>(p.rows) * static_cast<size_t>(def.channels);
      for (size_t i = 0; i < count; ++i) {
        const XmCell c = i < p.cells.size() ? p.cells[i] : XmCell{};
        xmwrite::put_packed_cell(packed, c.note, c.instrument, c.volume, c.effect, c.param);
      }
    }
    xmwrite::put_pattern(o, static_cast<unsigned>(p.rows), packed.out);
  }

  for (const InstrumentDef& ins : def.instruments) {
    const bool any = !ins.samples.empty();
    xmwrite::Instrument header;
    header.headerSize = static_cast<uint32_t>(ins.headerSize >= 0 ? ins.headerSize : (any ? 263 : 29));
    header.name = "instrument";
    header.sampleCount = static_cast<unsigned>(ins.samples.size());
    std::copy(std::begin(ins.keymap), std::end(ins.keymap), header.keymap);
    const std::pair<const EnvelopeDef*, xmwrite::Envelope*> envelopes[] = {{&ins.volume, &header.volume},
                                                                           {&ins.panning, &header.panning}};
    for (const auto& [from, to] : envelopes) {
      to->points = from->points;
      to->pointCount = static_cast<unsigned>(from->pointCount >= 0 ? from->pointCount
                                                                    : static_cast<int>(from->points.size()));
      to->sustain = from->sustain;
      to->loopStart = from->loopStart;
      to->loopEnd = from->loopEnd;
      to->type = from->type;
    }
    header.vibratoType = ins.vibratoType;
    header.vibratoSweep = ins.vibratoSweep;
    header.vibratoDepth = ins.vibratoDepth;
    header.vibratoRate = ins.vibratoRate;
    header.fadeout = ins.fadeout;
    xmwrite::put_instrument_header(o, header);
    for (const SampleDef& s : ins.samples) {
      const uint32_t unit = (s.sixteenBit ? 2 : 1) * (s.right.empty() ? 1 : 2);
      xmwrite::SampleHeader sh;
      sh.lengthBytes =
          static_cast<uint32_t>(s.lengthBytes >= 0 ? s.lengthBytes : static_cast<int64_t>(s.frames.size() * unit));
      sh.loopStartBytes = static_cast<uint32_t>(s.loopStartBytes >= 0 ? s.loopStartBytes : s.loopStart * unit);
      sh.loopLengthBytes = static_cast<uint32_t>(s.loopLengthBytes >= 0 ? s.loopLengthBytes : s.loopLength * unit);
      sh.volume = s.volume;
      sh.finetune = s.finetune;
      sh.type = static_cast<uint8_t>(s.type | (s.sixteenBit ? 16 : 0) | (s.right.empty() ? 0 : 32));
      sh.panning = s.panning;
      sh.relativeNote = s.relativeNote;
      sh.name = "sample";
      xmwrite::put_sample_header(o, sh);
    }
    for (const SampleDef& s : ins.samples) {
      // Each side of a stereo sample is delta coded on its own.
      for (const std::vector<int16_t>* side : {&s.frames, &s.right}) {
        if (side->empty()) continue;
        if (s.sixteenBit) {
          xmwrite::put_sample_data(o, *side, false);
        } else {
          std::vector<int16_t> bytes;
          for (int16_t v : *side) bytes.push_back(static_cast<int8_t>(v >> 8));
          xmwrite::put_sample_data(o, bytes, true);
        }
      }
    }
  }
  return o.out;
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
