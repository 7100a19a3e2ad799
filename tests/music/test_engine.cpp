// The playback engine: rows, ticks, effects and their memories, the volume
// column, envelopes, key off, fadeout, auto-vibrato and pitch.
#include <cstdint>
#include <memory>

#include "engine_fixture.h"
#include "music/xm_loader.h"
#include "music/xm_periods.h"
#include "music/xm_rules.h"
#include "music/xm_tracker_rules.h"

using namespace xmtest;

namespace {

uint32_t fraction_for(uint64_t hz) { return static_cast<uint32_t>(((hz % 44100) << 32) / 44100); }

constexpr uint8_t C4 = 49, C5 = 61;

}  // namespace

TEST(XmEngineTempo, TickLengthFollowsBpm) {
  auto player = std::make_unique<XmPlayer>();
  XmPlayer& p = *player;
  p.mix = xm_mix_rate(44100);
  xm_set_bpm(&p, 125);
  EXPECT_EQ(p.samplesPerTick, 882);
  xm_set_bpm(&p, 128);
  EXPECT_EQ(p.samplesPerTick, 861);
  p.tickSamplesLeft = 100;
  xm_set_bpm(&p, 255);
  EXPECT_EQ(p.samplesPerTick, 432);
  EXPECT_EQ(p.tickSamplesLeft, 100) << "the running tick keeps its length";
  xm_set_bpm(&p, 0);
  EXPECT_GT(p.samplesPerTick, 0) << "a zero tempo must not divide by zero";
  EXPECT_EQ(xm_tick_frames(125, 48000), 960);
}

using XmEnginePitch = EngineTest;

TEST_F(XmEnginePitch, LinearAndAmigaPeriods) {
  m.instruments[0].samples[0].finetune = -16;
  at(0, 0, cell(C4, 1));
  at(0, 1, cell(C5, 1));
  play();
  run(1);
  EXPECT_EQ(ch(0).period, 4608 + 8);
  EXPECT_EQ(ch(1).period, 3840 + 8);
  // f = 8363 * 2^((4608 - period) / 768): 8 units below C-4 is 8297 Hz.
  EXPECT_EQ(xm_period_frequency(4608, 0, true), 8363);
  EXPECT_EQ(xm_period_frequency(3840, 0, true), 16726);
  EXPECT_EQ(xm_period_frequency(4616, 0, true), 8302);
  EXPECT_EQ(voice(0).stepWhole, 0);
  EXPECT_EQ(voice(0).stepFraction, fraction_for(8302));

  EXPECT_EQ(xm_amiga_period(48, 0), 1712);
  EXPECT_EQ(xm_amiga_period(48, 64), 1664);
  EXPECT_EQ(xm_amiga_period(48, -64), 1762);
  EXPECT_EQ(xm_amiga_period(60, 0), 856);
  EXPECT_EQ(xm_period_frequency(1712, 0, false), 8362);
  EXPECT_EQ(xm_period_frequency(4608, 768, true), 16726) << "a positive delta raises a linear pitch";
  EXPECT_EQ(xm_period_frequency(1712, 1712, false), 4181) << "and lowers an Amiga pitch";
  EXPECT_EQ(xm_period_frequency(0, 0, false), 0);
}

TEST_F(XmEnginePitch, AmigaTableDrivesTheVoice) {
  m.linear = false;
  at(0, 0, cell(C4, 1, 0, fx('0'), 0x30));
  play();
  run(1);
  EXPECT_EQ(ch().period, 1712);
  EXPECT_EQ(voice().stepFraction, fraction_for(8362));
  run(1);  // arpeggio tick 1: three semitones up, a smaller Amiga period
  EXPECT_EQ(ch().periodDelta, xm_amiga_period(51, 0) - 1712);
  EXPECT_EQ(voice().stepFraction, fraction_for(14317056 / xm_amiga_period(51, 0)));
}

TEST_F(XmEnginePitch, ExtremePeriodsStayFinite) {
  m.instruments[0].samples[0].relativeNote = 127;
  at(0, 0, cell(96, 1, 0, fx('2'), 0xFF));
  at(0, 1, cell(1, 1, 0, fx('1'), 0xFF));
  play();
  rows(8);
  EXPECT_GE(voice(0).stepWhole, 0);
  EXPECT_EQ(ch(1).period, 56) << "portamento up stops at 56";
}

using XmEngineEffects = EngineTest;

TEST_F(XmEngineEffects, ArpeggioAndPortamentos) {
  at(0, 0, cell(C4, 1, 0, fx('0'), 0x37));
  at(0, 1, cell(C4, 1, 0, fx('1'), 0x10));
  at(1, 1, cell(0, 0, 0, fx('1'), 0x00));
  at(0, 2, cell(C4, 1, 0, fx('2'), 0x04));
  at(0, 3, cell(C4, 1, 0, fx('X'), 0x12));
  at(1, 3, cell(0, 0, 0, fx('X'), 0x10));
  at(2, 3, cell(0, 0, 0, fx('X'), 0x21));
  play();
  run(1);
  EXPECT_EQ(ch(0).periodDelta, 0);
  EXPECT_EQ(ch(3).period, 4606);
  run(1);
  EXPECT_EQ(ch(0).periodDelta, 3 * 64);
  EXPECT_EQ(p->voices[0].stepFraction, fraction_for(9945)) << "three semitones up: 8363 * 2^(1/4)";
  run(1);
  EXPECT_EQ(ch(0).periodDelta, 7 * 64);
  run(1);
  EXPECT_EQ(ch(0).periodDelta, 0);
  run(2);
  EXPECT_EQ(ch(1).period, 4608 - 5 * 64);
  EXPECT_EQ(ch(2).period, 4608 + 5 * 16);
  rows(1);  // memories
  EXPECT_EQ(ch(1).period, 4608 - 10 * 64);
  EXPECT_EQ(ch(3).period, 4604);
  run(1);
  EXPECT_EQ(ch(3).period, 4605);
}

TEST_F(XmEngineEffects, TonePortamentoKeepsTheNoteAndGlides) {
  at(0, 0, cell(C4, 1));
  at(1, 0, cell(C5, 1, 0, fx('3'), 0x20));
  at(2, 0, cell(0, 0, 0, fx('3'), 0x00));
  at(0, 1, cell(C4, 1));
  at(1, 1, cell(C5, 0, 0xF2));  // volume column tone portamento, speed 2 * 16
  play();
  rows(1);
  MixVoice* before = ch(0).voice;
  MixVoice* before1 = ch(1).voice;
  ch(0).volume = 10;
  run(1);
  EXPECT_EQ(ch(0).voice, before) << "no new note";
  EXPECT_EQ(ch(1).voice, before1) << "the column's portamento does not start the note either";
  EXPECT_EQ(ch(1).period, 3840) << "but only effects 3 and 5 keep the old period";
  EXPECT_EQ(ch(0).note, 48);
  EXPECT_EQ(ch(0).period, 4608);
  EXPECT_EQ(ch(0).portaTarget, 3840);
  EXPECT_EQ(ch(0).volume, 64) << "the instrument number still resets the volume";
  run(5);
  EXPECT_EQ(ch(0).period, 4608 - 5 * 128);
  run(2);
  EXPECT_EQ(ch(0).period, 3840) << "stops at the target";
}

TEST_F(XmEngineEffects, VibratoWaveforms) {
  at(0, 0, cell(C4, 1, 0, fx('4'), 0x48));
  at(0, 1, cell(C4, 1, 0, fx('E'), 0x41));
  at(1, 1, cell(0, 0, 0, fx('4'), 0x48));
  at(0, 2, cell(C4, 1, 0, fx('E'), 0x42));
  at(1, 2, cell(0, 0, 0xB8, fx('4'), 0x40));  // depth from the volume column
  at(0, 3, cell(C4, 1, 0, fx('6'), 0x01));
  at(1, 3, cell(0, 0, 0, fx('4'), 0xE8));
  play();
  run(3);
  EXPECT_EQ(ch(0).periodDelta, -24);  // sine at 4: 97 * 8 >> 5 = 24
  run(1);
  EXPECT_EQ(ch(0).periodDelta, -44);
  run(2);
  run(3);
  EXPECT_EQ(ch(1).periodDelta, -8);   // ramp at 4: 32 * 8 >> 5
  EXPECT_EQ(ch(2).periodDelta, -60);  // square: 255 * 8 >> 5 = 63, low bits cleared
  EXPECT_EQ(ch(3).periodDelta, -60) << "speed 14, position 14";
  run(2);
  EXPECT_EQ(ch(3).periodDelta, 52) << "position 42 wrapped to -22";
}

TEST_F(XmEngineEffects, TremoloTremorAndTheLastTremoloOffset) {
  at(0, 0, cell(C4, 1, 0x30, fx('7'), 0x48));
  at(1, 0, cell(0, 0, 0, 0, 0));
  at(0, 1, cell(C4, 1, 0, fx('T'), 0x12));
  play();
  run(1);
  EXPECT_EQ(ch(1).volumeDelta, 0);
  run(1);
  EXPECT_EQ(ch(0).volumeDelta, 0);
  EXPECT_EQ(ch(1).volumeDelta, 0);
  run(1);
  EXPECT_EQ(ch(0).volumeDelta, 12);
  EXPECT_EQ(ch(1).volumeDelta, -64);
  run(2);
  EXPECT_EQ(ch(1).volumeDelta, -64);
  run(1);
  EXPECT_EQ(ch(0).volumeDelta, 31);
  EXPECT_EQ(ch(1).volumeDelta, 0);
  run(1);
  EXPECT_EQ(ch(0).volume, 63) << "the last tremolo offset stays when the effect ends";
}

TEST_F(XmEngineEffects, VolumeSlidesAndColumn) {
  at(0, 0, cell(C4, 1, 0x30, fx('A'), 0x20));
  at(1, 0, cell(0, 0, 0, fx('A'), 0x00));
  at(2, 0, cell(0, 0, 0, fx('6'), 0x00));
  at(3, 0, cell(0, 0, 0, fx('A'), 0x03));
  at(0, 1, cell(C4, 1, 0x65));
  at(1, 1, cell(0, 0, 0x73));
  at(2, 1, cell(0, 0, 0x84));
  at(3, 1, cell(0, 0, 0x92));
  at(0, 2, cell(C4, 1, 0xC4, fx('E'), 0xA5));
  at(1, 2, cell(0, 0, 0xD2, fx('E'), 0xB0));
  at(2, 2, cell(0, 0, 0xE1, fx('C'), 0x80));
  at(0, 3, cell(C4, 1, 0x20, fx('P'), 0x20));
  at(1, 3, cell(0, 0, 0, fx('P'), 0x00));
  at(2, 3, cell(0, 0, 0, fx('8'), 0x40));
  at(3, 3, cell(0, 0, 0, fx('E'), 0x83));
  play();
  rows(1);
  EXPECT_EQ(ch(0).volume, 42);
  EXPECT_EQ(ch(1).volume, 34) << "0x65 at speed 6 lowers by 30";
  EXPECT_EQ(ch(2).volume, 64);
  EXPECT_EQ(ch(2).panning, 64);
  EXPECT_EQ(ch(3).volume, 16);
  EXPECT_EQ(ch(3).panning, 128 + 5 * 2);
  rows(1);
  EXPECT_EQ(ch(0).volume, 52);
  EXPECT_EQ(ch(1).volume, 34 + 18);
  EXPECT_EQ(ch(2).volume, 59) << "fine down with memory 5";
  EXPECT_EQ(ch(2).panning, 64 - 12);
  EXPECT_EQ(ch(3).panning, 138 + 10);
  rows(1);
  EXPECT_EQ(ch(0).volume, 62) << "6 uses the slide memory of A";
  EXPECT_EQ(ch(1).volume, 48);
  EXPECT_EQ(ch(2).volume, 128) << "set volume is not limited to 64";
  EXPECT_EQ(voice(2).volume, 255);
  EXPECT_EQ(ch(2).panning, 52 + 6);
  EXPECT_EQ(ch(3).panning, 0x40);
  rows(1);
  EXPECT_EQ(ch(0).volume, 62 - 15);
  EXPECT_EQ(ch(1).volume, 50);
  EXPECT_EQ(ch(3).panning, 0x30);
}

TEST_F(XmEngineEffects, GlobalVolumeRetriggerCutAndDelay) {
  at(0, 0, cell(C4, 1, 0, fx('G'), 0x20));
  at(1, 0, cell(0, 0, 0, fx('H'), 0x02));
  at(2, 0, cell(0, 0, 0, fx('H'), 0x00));
  at(3, 0, cell(0, 0, 0, fx('G'), 0x50));
  at(0, 1, cell(C4, 1, 0x30, fx('R'), 0x53));
  at(0, 2, cell(C4, 1, 0, fx('E'), 0xC2));
  at(1, 2, cell(C5, 1, 0, fx('E'), 0xD0));
  at(0, 3, cell(C4, 1));
  at(1, 3, cell(C5, 1, 0x20, fx('E'), 0xD2));
  play();
  run(1);
  EXPECT_EQ(p->globalVolume, 32);
  EXPECT_EQ(voice(0).volume, 63);
  MixVoice* r = ch(1).voice;
  run(2);
  EXPECT_EQ(ch(2).volume, 0);
  EXPECT_EQ(ch(1).voice, r);
  run(1);
  EXPECT_EQ(ch(1).volume, 32 - 16) << "retrigger on tick 3 with volume change 5";
  EXPECT_NE(ch(1).voice, r);
  run(2);
  run(1);  // row 1: H02 slides down on ticks only
  EXPECT_EQ(ch(2).period, 3840) << "ED0 delays nothing: the note plays at once";
  EXPECT_EQ(voice(2).volume, 63);
  EXPECT_EQ(ch(3).period, 4608);
  EXPECT_EQ(ch(3).volume, 64) << "note delay keeps the old volume";
  run(1);
  EXPECT_EQ(ch(3).period, 4608);
  run(1);
  EXPECT_EQ(ch(3).period, 3840) << "the delayed note starts on tick 2";
  EXPECT_EQ(ch(3).volume, 16);
  run(3);
  EXPECT_EQ(p->globalVolume, 32 - 10);
  rows(1);
  EXPECT_EQ(p->globalVolume, 12) << "song-wide memory";
  rows(1);
  EXPECT_EQ(p->globalVolume, 64);
}

TEST_F(XmEngineEffects, FinetuneSticksToTheSample) {
  at(0, 0, cell(C4, 1, 0, fx('E'), 0x56));
  at(1, 0, cell(C4, 1));
  at(0, 1, cell(C4, 1));
  play();
  rows(1);
  EXPECT_EQ(ch(0).period, 4608) << "the row's own note used the old finetune";
  EXPECT_EQ(ch(1).period, 4605) << "a later channel in the same row sees finetune 6";
  rows(1);
  EXPECT_EQ(ch(0).period, 4605) << "later notes use finetune 6";
  EXPECT_EQ(started.song->instruments[0].samples[0]->finetune, 0) << "in this playback, not in the song";
  xm_start_song(p);
  rows(1);
  EXPECT_EQ(ch(0).period, 4608) << "a restart plays as the first time";
}

TEST_F(XmEngineEffects, FinePortamento) {
  at(0, 0, cell(C4, 1, 0, fx('E'), 0x12));
  at(1, 0, cell(0, 0, 0, fx('E'), 0x10));
  at(2, 0, cell(0, 0, 0, fx('E'), 0x23));
  at(3, 0, cell(0, 0, 0, fx('E'), 0x20));
  play();
  rows(1);
  EXPECT_EQ(ch().period, 4600) << "once per row, not per tick";
  rows(1);
  EXPECT_EQ(ch().period, 4592);
  rows(1);
  EXPECT_EQ(ch().period, 4604);
  rows(1);
  EXPECT_EQ(ch().period, 4616);
}

TEST_F(XmEngineEffects, SampleOffsetAndRewind) {
  at(0, 0, cell(C4, 1, 0, fx('9'), 0x02));
  at(1, 0, cell(C5, 1, 0, fx('9'), 0x04));
  at(2, 0, cell(C4, 1, 0, fx('9'), 0x00));
  play();
  run(1);
  EXPECT_EQ(voice().position, 512);
  run(5);
  MixVoice* v = ch().voice;
  v->position = 300;
  v->fraction = 77;
  run(1);
  EXPECT_EQ(ch().voice, v) << "an offset beyond the loop end does not start the note";
  EXPECT_EQ(v->position, 0);
  EXPECT_EQ(v->fraction, 0u);
  EXPECT_EQ(v->stepFraction, fraction_for(16726)) << "the new pitch still applies";
  v->position = 300;
  rows(1);
  EXPECT_EQ(ch().voice, v) << "memory 4 again";
  EXPECT_EQ(v->position, 0);
}

TEST_F(XmEngineEffects, KeyOffEnvelopePositionAndSpeed) {
  InstrumentDef env = one_sample_instrument(ramp_sample());
  env.volume.points = {{0, 64}, {4, 32}, {8, 0}};
  env.volume.type = XM_ENV_ON;
  m.instruments.push_back(env);
  at(0, 0, cell(C4, 1));
  at(1, 0, cell(97, 0));
  at(0, 1, cell(C4, 2, 0, fx('L'), 6));
  at(0, 2, cell(C4, 1, 0, fx('F'), 0x03));
  at(1, 2, cell(0, 0, 0, fx('K'), 0));
  at(2, 2, cell(0, 0, 0, fx('F'), 0x80));
  play();
  run(1);
  EXPECT_EQ(ch(1).volumeEnvValue, 16);
  EXPECT_EQ(p->speed, 3);
  run(3);
  EXPECT_EQ(ch(0).volumeEnvValue, 0) << "key off cuts an instrument without envelope";
  EXPECT_EQ(voice(0).volume, 0);
  EXPECT_EQ(ch(2).keyOff, 1);
  run(3);
  EXPECT_EQ(p->bpm, 128);
  EXPECT_EQ(p->samplesPerTick, 861);
  ch(1).volumeEnvStopped = 0;
  p->row = 0;
}

TEST_F(XmEngineEffects, ZeroSpeedMakesEveryTickARowTick) {
  at(0, 0, cell(0, 0, 0, fx('F'), 0x00));
  play();
  run(1);
  EXPECT_EQ(p->speed, 0);
  for (int r = 1; r <= 3; ++r) {
    run(1);
    EXPECT_EQ(p->row, r);
  }
}

using XmEngineSequencing = EngineTest;

TEST_F(XmEngineSequencing, BreakAndJumpInOneRow) {
  m.channels = 2;
  m.orders = {0, 1, 1, 1, 1, 1};
  m.patterns.resize(2);
  m.set(0, 0, 0, cell(0, 0, 0, fx('D'), 0x00));
  m.set(0, 0, 1, cell(0, 0, 0, fx('B'), 0x05));
  play();
  rows(1);
  run(1);
  EXPECT_EQ(p->order, 5);
  EXPECT_EQ(p->row, 0);

  m.patterns[0].cells.clear();
  m.set(0, 0, 0, cell(0, 0, 0, fx('B'), 0x05));
  m.set(0, 0, 1, cell(0, 0, 0, fx('D'), 0x10));
  play();
  rows(1);
  run(1);
  EXPECT_EQ(p->order, 5);
  EXPECT_EQ(p->row, 10);
}

TEST_F(XmEngineSequencing, BreaksOutsideThePatternAndTheSong) {
  m.orders = {0, 1, 2};
  m.patterns.resize(3);
  m.patterns[1].rows = 16;
  m.set(0, 0, 0, cell(0, 0, 0, fx('D'), 0x20));  // row 20 of a 16-row pattern
  m.set(1, 0, 0, cell(0, 0, 0, fx('B'), 0x09));  // beyond the song
  m.set(2, 0, 0, cell(0, 0, 0, fx('D'), 0x70));  // 70 counts as 0
  play();
  rows(1);
  run(1);
  EXPECT_EQ(p->order, 1);
  EXPECT_EQ(p->row, 0) << "a row the pattern lacks starts it from the top";
  rows(1);
  EXPECT_EQ(p->order, 0);
  EXPECT_EQ(p->row, 0);
}

TEST_F(XmEngineSequencing, PatternDelayAndLoop) {
  at(0, 0, cell(0, 0, 0, fx('E'), 0xE2));
  at(0, 1, cell(C4, 1, 0, fx('A'), 0x01));
  at(1, 0, cell(0, 0, 0, fx('E'), 0x60));
  at(2, 0, cell(0, 0, 0, fx('E'), 0x62));
  play();
  int rowTicks = 0;
  do {
    run(1);
    ++rowTicks;
  } while (p->tick != 0);
  EXPECT_EQ(rowTicks, 18) << "EE2 at speed 6";
  EXPECT_EQ(ch(1).volume, 64 - 17) << "tick effects run through the delay";
  std::vector<int> seen;
  for (int i = 0; i < 6; ++i) {
    rows(1);
    seen.push_back(p->row);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 1, 2, 1, 2}));
  rows(1);
  EXPECT_EQ(p->row, 3);
}

TEST_F(XmEngineSequencing, RestartPositionAfterTheLastOrder) {
  m.orders = {0, 1, 2};
  m.restart = 1;
  m.patterns.resize(3);
  for (auto& p : m.patterns) p.rows = 2;
  play();
  std::vector<int> orders;
  for (int i = 0; i < 8; ++i) {
    rows(1);
    orders.push_back(p->order);
  }
  EXPECT_EQ(orders, (std::vector<int>{0, 0, 1, 1, 2, 2, 1, 1}));
}

using XmEngineVoices = EngineTest;

TEST_F(XmEngineVoices, PartnerVoiceTakesOverEachNote) {
  at(0, 0, cell(C4, 1));
  at(1, 0, cell(C5, 1));
  at(2, 0, cell(C4, 1));
  at(0, 1, cell(C4, 1));
  play();
  run(1);
  EXPECT_EQ(ch(0).voice, &p->voices[0]);
  EXPECT_EQ(ch(1).voice, &p->voices[1]);
  p->voices[0].position = 123;
  rows(1);
  EXPECT_EQ(ch(0).voice, &p->voices[32]);
  EXPECT_EQ(p->voices[0].sample, p->voices[32].sample) << "the old sound keeps playing";
  EXPECT_EQ(p->voices[0].position, 123);
  EXPECT_EQ(p->voices[0].volume, 0);
  EXPECT_EQ(p->voices[0].leftLevel, 0);
  EXPECT_EQ(p->voices[32].index, 32);
  EXPECT_EQ(p->voices[32].position, 0);
  EXPECT_EQ(p->voices[32].rampLeft, 0);
  rows(1);
  EXPECT_EQ(ch(0).voice, &p->voices[0]);
  EXPECT_EQ(p->voices[0].index, 0);
  EXPECT_EQ(p->voices[32].volume, 0);
}

TEST_F(XmEngineVoices, MissingInstrumentSilencesTheChannel) {
  at(0, 0, cell(C4, 9));
  play();
  run(1);
  EXPECT_EQ(voice().sample, &emptySample);
  EXPECT_EQ(emptySample.data, nullptr);
}

TEST_F(XmEngineVoices, VolumeAndPanningReachTheLevels) {
  at(0, 0, cell(C4, 1, 0x50, fx('8'), 0));
  at(0, 1, cell(C4, 1, 0x30, fx('8'), 255));
  play();
  run(1);
  EXPECT_EQ(voice(0).volume, 127) << "full scale is 127";
  EXPECT_EQ(voice(0).leftLevel, 127);
  EXPECT_EQ(voice(0).rightLevel, 0);
  EXPECT_EQ(voice(1).volume, 63);
  EXPECT_EQ(voice(1).leftLevel, 0);
  EXPECT_EQ(voice(1).rightLevel, 63);
}

using XmEngineEnvelopes = EngineTest;

TEST_F(XmEngineEnvelopes, SustainLoopEndAndFadeout) {
  for (int kind = 0; kind < 3; ++kind) {
    InstrumentDef ins = one_sample_instrument(ramp_sample());
    ins.volume.points = {{0, 64}, {4, 32}, {8, 0}};
    ins.volume.type = static_cast<uint8_t>(XM_ENV_ON | (kind == 1 ? XM_ENV_SUSTAIN : 0) | (kind == 2 ? XM_ENV_LOOP : 0));
    ins.volume.sustain = 1;
    ins.volume.loopStart = 0;
    ins.volume.loopEnd = 1;
    ins.fadeout = 0x400;
    m.instruments.push_back(ins);
    at(0, kind, cell(C4, static_cast<uint8_t>(2 + kind)));
  }
  at(2, 1, cell(97, 0));
  play();
  std::vector<int> plain, sustain, loop;
  for (int t = 0; t < 10; ++t) {
    run(1);
    plain.push_back(ch(0).volumeEnvValue);
    sustain.push_back(ch(1).volumeEnvValue);
    loop.push_back(ch(2).volumeEnvValue);
  }
  EXPECT_EQ(plain, (std::vector<int>{64, 56, 48, 40, 32, 24, 16, 8, 0, 0}));
  EXPECT_EQ(ch(0).volumeEnvStopped, 1);
  EXPECT_EQ(sustain, (std::vector<int>{64, 56, 48, 40, 32, 32, 32, 32, 32, 32}));
  EXPECT_EQ(loop, (std::vector<int>{64, 56, 48, 40, 64, 56, 48, 40, 64, 56}));
  run(2);  // row 2: key off releases the sustain and starts the fadeout
  run(1);
  EXPECT_EQ(ch(1).volumeEnvValue, 32);
  EXPECT_EQ(ch(1).fadeoutVolume, 65536 - 0x800);
  run(1);
  EXPECT_EQ(ch(1).volumeEnvValue, 24);
  EXPECT_EQ(ch(1).fadeoutVolume, 65536 - 2 * 0x800);
  run(40);
  EXPECT_EQ(ch(1).fadeoutVolume, 0);
  EXPECT_EQ(voice(1).volume, 0);
}

TEST_F(XmEngineEnvelopes, EnvelopePositionAndPanningEnvelope) {
  InstrumentDef ins = one_sample_instrument(ramp_sample());
  ins.volume.points = {{0, 64}, {4, 32}, {8, 0}};
  ins.volume.type = XM_ENV_ON;
  ins.panning.points = {{0, 0}, {2, 64}};
  ins.panning.type = XM_ENV_ON;
  m.instruments.push_back(ins);
  at(0, 0, cell(C4, 2, 0, fx('L'), 6));
  at(0, 1, cell(C4, 2, 0, fx('L'), 9));
  at(0, 2, cell(C4, 2));
  play();
  run(1);
  EXPECT_EQ(ch(0).volumeEnvValue, 16);
  EXPECT_EQ(ch(0).volumeEnvPoint, 2);
  EXPECT_EQ(ch(1).volumeEnvValue, 0);
  EXPECT_EQ(ch(1).volumeEnvStopped, 1);
  EXPECT_EQ(ch(2).panningEnvValue, 0);
  EXPECT_EQ(voice(2).panning, 128 - 4 * 32);
  run(2);
  EXPECT_EQ(ch(2).panningEnvValue, 64);
  EXPECT_EQ(voice(2).panning, 255) << "128 + 4 * 32, limited";
}

TEST_F(XmEngineEnvelopes, AutoVibratoWaveforms) {
  const int expectedRow[4] = {0, 16, 0, 0};
  const int expectedTick[4] = {15, 16, -8, 8};
  for (int type = 0; type < 4; ++type) {
    InstrumentDef ins = one_sample_instrument(ramp_sample());
    ins.vibratoType = static_cast<uint8_t>(type);
    ins.vibratoDepth = 16;
    ins.vibratoRate = 64;
    m.instruments.push_back(ins);
    at(0, type, cell(C4, static_cast<uint8_t>(2 + type)));
  }
  play();
  run(1);
  for (int type = 0; type < 4; ++type) EXPECT_EQ(ch(type).periodDelta, expectedRow[type]) << type;
  run(1);
  for (int type = 0; type < 4; ++type) EXPECT_EQ(ch(type).periodDelta, expectedTick[type]) << type;
}

TEST_F(XmEngineEnvelopes, AutoVibratoSweep) {
  InstrumentDef ins = one_sample_instrument(ramp_sample());
  ins.vibratoType = 1;
  ins.vibratoDepth = 16;
  ins.vibratoSweep = 4;
  m.instruments.push_back(ins);
  at(0, 0, cell(C4, 2));
  play();
  std::vector<int> deltas;
  for (int t = 0; t < 6; ++t) {
    run(1);
    deltas.push_back(ch().periodDelta);
  }
  EXPECT_EQ(deltas, (std::vector<int>{0, 4, 8, 12, 16, 16}));
}

// The tracker's rules where they differ from the player's own, each against
// what the other rule set does with the same cells.
TEST_F(XmEngineEffects, TrackerRulesWhereTheyDiffer) {
  at(0, 0, cell(C4, 1));
  at(1, 0, cell(97));          // key off: no volume envelope
  at(2, 0, cell(0, 0, 0x40));  // a volume brings it back
  at(0, 1, cell(C4, 1, 0, fx('K'), 1));
  at(0, 2, cell(C4, 1, 0x30));
  at(1, 2, cell(C5, 0, 0, fx('E'), 0xD2));  // delayed, no instrument
  at(0, 3, cell(C4, 1));
  for (const XmRules* rules : {&xmPlayerRules, &xmTrackerRules}) {
    const bool tracker = rules == &xmTrackerRules;
    SCOPED_TRACE(tracker ? "tracker" : "player");
    play();
    p->rules = rules;
    xm_start_song(p);
    run(1);
    EXPECT_EQ(ch(1).keyOff, tracker ? 0 : 1) << "K01 releases on tick 1";
    run(1);
    EXPECT_EQ(ch(1).keyOff, 1);
    // A centred note: the square-root law gives each side the same power
    // as the whole volume; the player's own halves it.
    const MixVoice& v = voice(3);
    const double left = v.leftLevel, right = v.rightLevel, volume = v.volume;
    EXPECT_NEAR((left * left + right * right) / (volume * volume), tracker ? 1.0 : 0.5, 0.03);
    rows(1);
    run(2);  // row 1, tick 2: the delayed note
    EXPECT_EQ(ch(2).period, 3840);
    EXPECT_EQ(ch(2).volume, tracker ? 32 : 64) << "a delayed note without instrument keeps the volume";
    EXPECT_EQ(voice(0).volume, 0) << "key off";
    run(4);
    EXPECT_EQ(voice(0).volume > 0, tracker) << "the volume column sounds the released note again";
  }
}
