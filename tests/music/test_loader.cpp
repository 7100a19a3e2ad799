// Loading modules: the layout rules, and what happens to damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "music/xm_file.h"
#include "music/xm_loader.h"
#include "xm_writer.h"

using namespace xmtest;

namespace {

ModuleDef basic() {
  ModuleDef m;
  m.instruments.push_back(one_sample_instrument(ramp_sample()));
  return m;
}

// Expects a rejection whose reason mentions `words`.
void expect_rejected(const std::vector<uint8_t>& bytes, const char* words) {
  SongPtr song = load_bytes(bytes);
  EXPECT_EQ(song, nullptr);
  EXPECT_NE(std::strstr(load_error(), words), nullptr) << "reason: " << load_error();
}

}  // namespace

TEST(XmLoader, ReadsHeaderPatternsAndSamples) {
  ModuleDef m = basic();
  m.channels = 2;
  m.orders = {0, 0};
  m.restart = 1;
  m.speed = 3;
  m.bpm = 140;
  m.set(0, 1, 1, cell(49, 1, 0x40, fx('A'), 0x12));
  SongPtr song = load_bytes(build(m));
  ASSERT_NE(song, nullptr) << load_error();
  EXPECT_EQ(song->songLength, 2);
  EXPECT_EQ(song->restartPosition, 1);
  EXPECT_EQ(song->channelCount, 2);
  EXPECT_EQ(song->defaultSpeed, 3);
  EXPECT_EQ(song->defaultBpm, 140);
  EXPECT_EQ(song->defaultGlobalVolume, 64);
  EXPECT_EQ(song->flags & 1, 1);
  const XmCell& c = song->patterns[0].cells[1 * 2 + 1];
  EXPECT_EQ(c.note, 49);
  EXPECT_EQ(c.instrument, 1);
  EXPECT_EQ(c.volume, 0x40);
  EXPECT_EQ(c.effect, 10);
  EXPECT_EQ(c.param, 0x12);
  const XmSample* s = song->instruments[0].samples[0];
  ASSERT_EQ(s->length, 1000u);
  EXPECT_EQ(s->bits, 16);
  EXPECT_EQ(s->data[0], -10000);
  EXPECT_EQ(s->data[999], 9900);
  EXPECT_EQ(s->data[1000], s->data[0]) << "forward loop guard frame copies the loop start";
  for (int i = 1; i < 16; ++i) EXPECT_EQ(song->instruments[0].samples[i], &emptySample);
}

TEST(XmLoader, PatternLayoutCases) {
  // The order table names pattern 7 while the file holds 5 patterns.
  ModuleDef m = basic();
  m.orders = {0, 7};
  m.patterns.resize(5);
  m.patterns[3].rows = 16;  // stays without packed data: all empty
  SongPtr song = load_bytes(build(m));
  ASSERT_NE(song, nullptr) << load_error();
  EXPECT_EQ(song->usedPatternCount, 8);
  EXPECT_EQ(song->patternCount, 8);
  for (int p : {5, 6, 7}) EXPECT_EQ(song->patterns[p].rows, 64) << p;
  EXPECT_EQ(song->patterns[3].rows, 16);
  for (int i = 0; i < 16 * 4; ++i) {
    const XmCell& c = song->patterns[3].cells[i];
    EXPECT_EQ(c.note | c.instrument | c.volume | c.effect | c.param, 0);
  }

  // A lone 0x80 is an empty one-byte cell; 97 becomes key off, larger note
  // bytes are dropped, instrument numbers above 128 become 0.
  ModuleDef n = basic();
  n.channels = 4;
  n.patterns[0].rows = 1;
  n.patterns[0].rawPacked = true;
  n.patterns[0].packed = {0x80, 0x83, 97, 1, 0x81, 99, 0x83, 60, 200};
  song = load_bytes(build(n));
  ASSERT_NE(song, nullptr) << load_error();
  const XmCell* cells = song->patterns[0].cells;
  EXPECT_EQ(cells[0].note, 0);
  EXPECT_EQ(cells[1].note, 255);
  EXPECT_EQ(cells[1].instrument, 1);
  EXPECT_EQ(cells[2].note, 0);
  EXPECT_EQ(cells[3].note, 60);
  EXPECT_EQ(cells[3].instrument, 0);

  // A pattern header longer than its nine bytes is skipped whole.
  ModuleDef o = basic();
  o.set(0, 0, 0, cell(49, 1));
  std::vector<uint8_t> bytes = build(o);
  const size_t header = 60 + (bytes[60] | bytes[61] << 8);
  bytes[header] = 13;
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(header + 9), {0xEE, 0xEE, 0xEE, 0xEE});
  song = load_bytes(bytes);
  ASSERT_NE(song, nullptr) << load_error();
  EXPECT_EQ(song->patterns[0].cells[0].note, 49);
  EXPECT_EQ(song->instruments[0].samples[0]->length, 1000u);
}

TEST(XmLoader, SampleFormatCases) {
  ModuleDef m;
  InstrumentDef ins;
  // 16-bit, 1000 bytes: 500 frames, loop halved too.
  SampleDef a;
  a.sixteenBit = true;
  a.frames.assign(500, 1000);
  a.type = 1;
  a.loopStart = 100;
  a.loopLength = 200;
  // Forward-loop bit with loop length 0: not looping.
  SampleDef b;
  b.frames.assign(64, 256);
  b.type = 1;
  b.loopStart = 10;
  b.loopLength = 0;
  // Both loop bits: ping-pong; guard repeats the frame before the loop end.
  SampleDef c;
  for (int i = 0; i < 50; ++i) c.frames.push_back(static_cast<int16_t>(i * 256));
  c.type = 3;
  c.loopStart = 10;
  c.loopLength = 20;
  // 8-bit delta decoding wraps in 8 bits: 127 then +1 gives -128.
  SampleDef d;
  d.frames = {127 * 256, -128 * 256, 0};
  // Stereo (type bit 5), 16-bit, each side 300 frames and delta coded on
  // its own: one mono sample of 300 frames, the mean of the two sides, its
  // loop counted in frames of one side.
  SampleDef e;
  e.sixteenBit = true;
  for (int i = 0; i < 300; ++i) {
    e.frames.push_back(static_cast<int16_t>(i * 100));
    e.right.push_back(static_cast<int16_t>(-i * 50 - 7));
  }
  e.type = 1;
  e.loopStart = 100;
  e.loopLength = 150;
  // 8-bit stereo without a loop.
  SampleDef f;
  f.frames.assign(40, 64 * 256);
  f.right.assign(40, -32 * 256);
  ins.samples = {a, b, c, d, e, f};
  ins.fadeout = 0x8001;
  m.instruments.push_back(ins);
  SongPtr song = load_bytes(build(m));
  ASSERT_NE(song, nullptr) << load_error();
  const XmInstrument& i0 = song->instruments[0];
  EXPECT_EQ(i0.fadeout, 0x0002) << "fadeout doubles in 16 bits";
  EXPECT_EQ(i0.samples[0]->length, 500u);
  EXPECT_EQ(i0.samples[0]->loopStart, 100u);
  EXPECT_EQ(i0.samples[0]->loopLength, 200u);
  EXPECT_EQ(i0.samples[0]->loopMode, XM_LOOP_FORWARD);
  EXPECT_EQ(i0.samples[1]->loopMode, XM_LOOP_NONE);
  EXPECT_EQ(i0.samples[1]->loopStart, 0u);
  EXPECT_EQ(i0.samples[1]->loopLength, 64u);
  EXPECT_EQ(i0.samples[1]->data[64], 0) << "no guard frame without a loop";
  EXPECT_EQ(i0.samples[2]->loopMode, XM_LOOP_PINGPONG);
  EXPECT_EQ(i0.samples[2]->data[30], i0.samples[2]->data[29]);
  EXPECT_EQ(i0.samples[3]->data[0], 127 * 256);
  EXPECT_EQ(i0.samples[3]->data[1], -128 * 256);
  EXPECT_EQ(i0.samples[3]->data[2], 0);
  const XmSample& st = *i0.samples[4];
  ASSERT_EQ(st.length, 300u);
  EXPECT_EQ(st.loopStart, 100u);
  EXPECT_EQ(st.loopLength, 150u);
  for (int i : {0, 1, 123, 299}) EXPECT_EQ(st.data[i], (i * 100 + (-i * 50 - 7)) >> 1) << i;
  EXPECT_EQ(st.data[250], st.data[100]) << "guard frame from the mixed-down loop start";
  const XmSample& st8 = *i0.samples[5];
  ASSERT_EQ(st8.length, 40u);
  EXPECT_EQ(st8.loopMode, XM_LOOP_NONE);
  EXPECT_EQ(st8.data[0], 16 * 256);
  EXPECT_EQ(st8.data[39], 16 * 256);
  EXPECT_EQ(st8.data[40], 0);
}

TEST(XmLoader, EmptyInstrumentConsumesItsHeaderSize) {
  ModuleDef m;
  InstrumentDef empty;
  empty.headerSize = 40;  // 11 bytes beyond the fields that are read
  m.instruments.push_back(empty);
  m.instruments.push_back(one_sample_instrument(ramp_sample()));
  SongPtr song = load_bytes(build(m));
  ASSERT_NE(song, nullptr) << load_error();
  EXPECT_EQ(song->instruments[0].sampleCount, 0);
  EXPECT_EQ(song->instruments[0].samples[0], &emptySample);
  EXPECT_EQ(song->instruments[1].samples[0]->length, 1000u);
}

TEST(XmLoader, SampleLoaderFillsDecodedData) {
  ModuleDef m;
  SampleDef s;
  s.frames.assign(8, 0);
  m.instruments.push_back(one_sample_instrument(s));
  put_file("loader.xm", build(m));
  static int calls;
  calls = 0;
  XmLoadError error{};
  XmSong* song = xm_load(
      "loader.xm", memory_files(),
      [](void* buffer, uint32_t bytes, int bits, int ins, int smp) {
        ++calls;
        EXPECT_EQ(bytes, 8u);
        EXPECT_EQ(bits, 8);
        EXPECT_EQ(ins, 0);
        EXPECT_EQ(smp, 0);
        static_cast<int8_t*>(buffer)[3] = -2;
      },
      &error);
  ASSERT_NE(song, nullptr) << error.message;
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(song->instruments[0].samples[0]->data[3], -512) << "no delta decoding of loader data";
  EXPECT_EQ(song->instruments[0].samples[0]->data[4], 0);
  xm_release_song(song);
}

// Each load names its source; none is kept for the process.
TEST(XmLoader, FileLayer) {
  put_file("module.xm", build(basic()));
  XmLoadError error{};
  const XmFileCallbacks incomplete{nullptr, nullptr, nullptr, nullptr, nullptr};
  EXPECT_FALSE(xm_file_callbacks_complete(&incomplete));
  EXPECT_EQ(xm_load("module.xm", &incomplete, nullptr, &error), nullptr);
  EXPECT_NE(std::strstr(error.message, "no file callbacks"), nullptr) << error.message;
  EXPECT_EQ(xm_file_read(nullptr, 4, nullptr), 0u);
  EXPECT_EQ(xm_file_tell(nullptr), 0);
  EXPECT_EQ(xm_load("no such file", memory_files(), nullptr, &error), nullptr);
  EXPECT_EQ(error.kind, XmLoadFailure::open);
  SongPtr song(xm_load("module.xm", memory_files(), nullptr, &error));
  EXPECT_NE(song, nullptr) << error.message;
}

TEST(XmLoaderDamage, RejectsModulesThatCannotPlay) {
  std::vector<uint8_t> good = build(basic());

  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> b = good;
    size_t i = at;
    for (uint8_t v : bytes) b[i++] = v;
    return b;
  };
  expect_rejected(patched(0, {'e'}), "signature");
  expect_rejected(std::vector<uint8_t>(good.begin(), good.begin() + 10), "signature");
  expect_rejected(patched(68, {0, 0}), "channels");
  expect_rejected(patched(68, {33, 0}), "33 channels (1 to 32 are playable)");
  expect_rejected(patched(64, {0, 0}), "song length");
  expect_rejected(patched(64, {1, 1}), "song length");
  expect_rejected(patched(72, {129, 0}), "129 instruments (at most 128)");
  expect_rejected(patched(70, {1, 1}), "patterns");
  // Without its counts, speed and tempo a header holds nothing to play.
  expect_rejected(std::vector<uint8_t>(good.begin(), good.begin() + 79), "header cut short");
  expect_rejected(patched(336 + 5, {0x01, 0x02}), "pattern 0 has 513 rows (at most 256)");

  // Instruments: more than 16 samples, a sample far larger than the file.
  const size_t ins = 336 + 9;  // the pattern has no packed data
  ASSERT_EQ(good[ins + 27], 1) << "sample count of instrument 1";
  std::vector<uint8_t> d = good;
  d[ins + 27] = 17;
  expect_rejected(d, "17 samples");
  d = good;
  d[ins + 263 + 3] = 0x40;  // length 1 GiB
  expect_rejected(d, "beyond the file size");
}

// A file cut short anywhere after its first 80 bytes loads what it holds,
// the rest empty or silent, and says where it ends (the library's warning
// puts that in words).
TEST(XmLoaderDamage, FilesCutShortPlayWhatTheyHold) {
  ModuleDef two = basic();
  two.instruments.push_back(one_sample_instrument(ramp_sample()));
  two.set(0, 0, 0, cell(49, 1));
  const std::vector<uint8_t> good = build(two);
  const size_t patternEnd = 336 + 9 + (good[336 + 7] | good[336 + 8] << 8);
  const size_t ins = patternEnd, ins2 = ins + 263 + 40 + 2000;
  ASSERT_EQ(good.size(), ins2 + 263 + 40 + 2000);
  std::vector<uint8_t> bigHeader = good;
  bigHeader[60] = bigHeader[61] = 0xFF;  // the patterns would start beyond the end
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    XmCut cut;
    int instrumentsWithSamples;
    bool hasNote;
  } cases[] = {
      {"order table", {good.begin(), good.begin() + 200}, {XmCutPlace::header, 0, 0}, 0, false},
      {"header size", bigHeader, {XmCutPlace::header, 0, 0}, 0, false},
      {"pattern header", {good.begin(), good.begin() + 340}, {XmCutPlace::inPattern, 1, 1}, 0, false},
      {"packed data", {good.begin(), good.begin() + patternEnd - 2}, {XmCutPlace::inPattern, 1, 1}, 0, true},
      {"no instruments", {good.begin(), good.begin() + ins}, {XmCutPlace::beforeInstrument, 1, 2}, 0, true},
      {"instrument header", {good.begin(), good.begin() + ins + 20}, {XmCutPlace::inInstrument, 1, 2}, 0, true},
      {"envelopes", {good.begin(), good.begin() + ins + 100}, {XmCutPlace::inInstrument, 1, 2}, 0, true},
      {"sample headers", {good.begin(), good.begin() + ins + 263 + 20}, {XmCutPlace::inInstrument, 1, 2}, 0, true},
      {"sample data", {good.begin(), good.begin() + ins + 263 + 40 + 1000}, {XmCutPlace::inSampleData, 1, 2}, 1, true},
      {"second instrument", {good.begin(), good.begin() + ins2}, {XmCutPlace::beforeInstrument, 2, 2}, 1, true},
      {"whole", good, {XmCutPlace::none, 0, 0}, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmLoadError error{};
    SongPtr song(xm_load_memory(c.bytes.data(), c.bytes.size(), nullptr, &error));
    ASSERT_NE(song, nullptr) << error.message;
    EXPECT_EQ(error.cut.place, c.cut.place);
    EXPECT_EQ(error.cut.number, c.cut.number);
    EXPECT_EQ(error.cut.count, c.cut.count);
    ASSERT_EQ(song->instrumentCount, 2) << "as the header declares";
    int withSamples = 0;
    for (int i = 0; i < 2; ++i) {
      const XmInstrument& ins = song->instruments[i];
      withSamples += ins.sampleCount > 0;
      for (const XmSample* slot : ins.samples) EXPECT_NE(slot, nullptr);
    }
    EXPECT_EQ(withSamples, c.instrumentsWithSamples);
    EXPECT_EQ(song->patterns[0].cells[0].note, c.hasNote ? 49 : 0);
  }
}

TEST(XmLoaderDamage, RepairsWhatRealFilesGetWrong) {
  ModuleDef m = basic();
  m.orders = {0, 0};
  m.restart = 2;  // at the song length
  InstrumentDef& ins = m.instruments[0];
  ins.volume.points.assign(14, {10, 80});
  ins.volume.points[0] = {0, 64};
  ins.volume.pointCount = 14;
  ins.volume.type = 7;
  ins.volume.sustain = 13;
  ins.volume.loopStart = 2;
  ins.volume.loopEnd = 12;
  ins.panning.points = {{0, 32}, {10, 40}};
  ins.panning.type = 5;
  ins.panning.loopStart = 0;
  ins.panning.loopEnd = 1;
  ins.samples[0].loopStart = 900;
  ins.samples[0].loopLength = 500;  // past the end
  SampleDef late = ramp_sample();
  late.loopStart = 1200;            // starts past the end
  late.loopLength = 10;
  ins.samples.push_back(late);
  SongPtr song = load_bytes(build(m));
  ASSERT_NE(song, nullptr) << load_error();
  EXPECT_EQ(song->restartPosition, 0);
  const XmInstrument& i0 = song->instruments[0];
  EXPECT_EQ(i0.volumePointCount, 12);
  EXPECT_EQ(i0.volumeType, XM_ENV_ON) << "sustain 13 and loop end 12 lie beyond the last point";
  EXPECT_EQ(i0.volumeEnvelope[1].y, 64) << "values are capped at 64";
  EXPECT_EQ(i0.panningType, XM_ENV_ON | XM_ENV_LOOP);
  EXPECT_EQ(i0.samples[0]->loopStart, 900u);
  EXPECT_EQ(i0.samples[0]->loopLength, 100u);
  EXPECT_EQ(i0.samples[0]->data[1000], i0.samples[0]->data[900]);
  EXPECT_EQ(i0.samples[1]->loopMode, XM_LOOP_NONE);
  EXPECT_EQ(i0.samples[1]->loopLength, 1000u);
}

TEST(XmLoaderDamage, KeepsTruncatedSampleDataAndShortPatterns) {
  ModuleDef m = basic();
  m.instruments[0].samples[0].frames.assign(1000, 3000);
  // Packed data that ends inside a cell, and data longer than the cells.
  m.patterns.resize(2);
  m.orders = {0, 1};
  m.patterns[0].rows = 2;
  m.patterns[0].rawPacked = true;
  m.patterns[0].packed = {0x9F, 49, 1, 0x40};  // note, instrument, volume; effect and param cut off
  m.patterns[1].rows = 1;
  m.patterns[1].rawPacked = true;
  m.patterns[1].packed = {49, 1, 0, 0, 0, 0x80, 0x80, 0x80, 61, 1, 0, 0, 0, 0x80, 0x80};
  std::vector<uint8_t> bytes = build(m);
  bytes.resize(bytes.size() - 1000);  // half of the 2000 data bytes
  SongPtr song = load_bytes(bytes);
  ASSERT_NE(song, nullptr) << load_error();
  EXPECT_EQ(song->patterns[0].cells[0].note, 49);
  EXPECT_EQ(song->patterns[0].cells[0].volume, 0x40);
  EXPECT_EQ(song->patterns[0].cells[1].note, 0);
  EXPECT_EQ(song->patterns[1].cells[0].note, 49);
  EXPECT_EQ(song->patterns[1].cells[3].note, 0) << "only 4 cells per row: surplus ignored";
  const XmSample* s = song->instruments[0].samples[0];
  EXPECT_EQ(s->data[0], 3000);
  EXPECT_EQ(s->data[499], 3000);
  EXPECT_EQ(s->data[500], 0) << "missing data is silence";
  EXPECT_EQ(s->data[999], 0);
}
