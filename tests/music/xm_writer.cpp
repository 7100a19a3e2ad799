#include "xm_writer.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "music/music.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_loader.h"
#include "music/xm_player.h"
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

thread_local XmLoadError lastLoad{};

}  // namespace

void ModuleDef::set(int p, int row, int channel, XmCell c) {
  PatternDef& pat = patterns[static_cast<size_t>(p)];
  const size_t at = static_cast<size_t>(row) * channels + channel;
  if (pat.cells.size() <= at) pat.cells.resize(at + 1);
  pat.cells[at] = c;
}

std::vector<uint8_t> build(const ModuleDef& def) {
  xmwrite::Module m;
  m.name = "test module";
  m.tracker = "vantor tests";
  m.textPad = '\0';
  m.channels = def.channels;
  m.linearFrequencies = def.linear;
  m.speed = def.speed;
  m.bpm = def.bpm;
  m.restartPosition = def.restart;
  m.orders = def.orders;
  m.songLength = def.songLength;
  m.patternCount = def.patternCountOverride;
  m.instrumentCount = def.instrumentCountOverride;
  for (const PatternDef& p : def.patterns) {
    xmwrite::Pattern& to = m.patterns.emplace_back();
    to.rows = p.rows;
    to.channels = def.channels;
    for (const XmCell& c : p.cells) to.cells.push_back({c.note, c.instrument, c.volume, c.effect, c.param});
    if (p.rawPacked) to.packed = p.packed;
  }
  for (const InstrumentDef& ins : def.instruments) {
    xmwrite::Instrument& to = m.instruments.emplace_back();
    to.name = "instrument";
    to.headerSize = ins.headerSize;
    std::copy(std::begin(ins.keymap), std::end(ins.keymap), to.keymap);
    const std::pair<const EnvelopeDef*, xmwrite::Envelope*> envelopes[] = {{&ins.volume, &to.volume},
                                                                           {&ins.panning, &to.panning}};
    for (const auto& [from, env] : envelopes) {
      for (const auto& [tick, value] : from->points) env->points.push_back({tick, value});
      env->pointCount = from->pointCount;
      env->type = from->type;
      env->sustainPoint = from->sustain;
      env->loopStart = from->loopStart;
      env->loopEnd = from->loopEnd;
    }
    to.vibratoType = ins.vibratoType;
    to.vibratoSweep = ins.vibratoSweep;
    to.vibratoDepth = ins.vibratoDepth;
    to.vibratoRate = ins.vibratoRate;
    to.fadeout = ins.fadeout;
    for (const SampleDef& s : ins.samples) {
      xmwrite::Sample& sample = to.samples.emplace_back();
      sample.name = "sample";
      sample.eightBit = !s.sixteenBit;
      for (int16_t v : s.frames) sample.frames.push_back(s.sixteenBit ? v : static_cast<int8_t>(v >> 8));
      for (int16_t v : s.right) sample.right.push_back(s.sixteenBit ? v : static_cast<int8_t>(v >> 8));
      sample.loop = static_cast<xmwrite::Loop>(s.type);
      sample.loopStart = s.loopStart;
      sample.loopLength = s.loopLength;
      sample.volume = s.volume;
      sample.finetune = s.finetune;
      sample.panning = s.panning;
      sample.relativeNote = s.relativeNote;
      sample.lengthBytes = s.lengthBytes;
      sample.loopStartBytes = s.loopStartBytes;
      sample.loopLengthBytes = s.loopLengthBytes;
    }
  }
  return xmwrite::write_unchecked(m);
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

const XmFileCallbacks* memory_files() {
  static const XmFileCallbacks callbacks{mem_open, mem_close, mem_read, mem_seek, mem_tell};
  return &callbacks;
}

void put_file(const std::string& name, std::vector<uint8_t> bytes) { files()[name] = std::move(bytes); }

void PlayerDeleter::operator()(XmPlayer* p) const {
  xm_player_release(p);
  delete p;
}

SongPtr load_bytes(const std::vector<uint8_t>& bytes) {
  return SongPtr(xm_load_memory(bytes.data(), bytes.size(), nullptr, &lastLoad));
}

SongPtr load_path(const std::string& path) {
  return SongPtr(xm_load(path.c_str(), music_stdio_files(), nullptr, &lastLoad));
}

const char* load_error() { return lastLoad.message; }

PlayerPtr player_for(const XmSong* song, int32_t rate) {
  PlayerPtr player(new XmPlayer{});
  if (!xm_player_init(player.get(), song, rate)) return nullptr;
  return player;
}

Started start(const ModuleDef& def) {
  Started s;
  s.song = load_bytes(build(def));
  if (s.song) s.player = player_for(s.song.get());
  return s;
}

void ticks(XmPlayer* player, int n) {
  for (int i = 0; i < n; ++i) player->tickHandler(player);
}

}  // namespace xmtest
