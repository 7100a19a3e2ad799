// The intro's music as the player sees it: the composer's file loads with
// every cell intact, uses what the player can do, lasts long enough before it
// repeats, and never clips.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "instruments.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_loader.h"
#include "music/xm_player.h"
#include "score.h"

namespace {

using namespace compose;

XmSong* load_module(const Module& m) {
  std::string error;
  const auto bytes = write_module(m, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  XmLoadError failure{};
  XmSong* song = xm_load_memory(bytes.data(), bytes.size(), nullptr, &failure);
  EXPECT_NE(song, nullptr) << failure.message;
  return song;
}

// A context playing the song from its start.
std::unique_ptr<XmPlayer> player_for(const XmSong* song) {
  auto player = std::make_unique<XmPlayer>();
  EXPECT_TRUE(xm_player_init(player.get(), song, 44100));
  return player;
}

TEST(ComposedSong, ScoreIsConsistent) {
  std::string error;
  EXPECT_TRUE(check_score(&error)) << error;
}

TEST(ComposedSong, EveryCellSurvivesTheLoader) {
  const Module m = compose_song();
  XmSong* song = load_module(m);
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(song->channelCount, m.channels);
  EXPECT_EQ(song->songLength, static_cast<int>(m.orders.size()));
  EXPECT_EQ(song->restartPosition, m.restartPosition);
  EXPECT_EQ(song->instrumentCount, static_cast<int>(m.instruments.size()));
  ASSERT_EQ(song->patternCount, static_cast<int>(m.patterns.size()));
  for (std::size_t p = 0; p < m.patterns.size(); ++p) {
    const Pattern& written = m.patterns[p];
    ASSERT_EQ(song->patterns[p].rows, written.rows);
    for (int r = 0; r < written.rows; ++r) {
      for (int c = 0; c < written.channels; ++c) {
        const Cell& w = written.at(r, c);
        const XmCell& l = song->patterns[p].cells[r * written.channels + c];
        const int note = w.note == 97 ? 255 : w.note;
        ASSERT_EQ(l.note, note) << "pattern " << p << " row " << r << " channel " << c;
        ASSERT_EQ(l.instrument, w.instrument);
        ASSERT_EQ(l.volume, w.volume);
        ASSERT_EQ(l.effect, w.effect);
        ASSERT_EQ(l.param, w.param);
      }
    }
  }
  // Samples: decoded back to the frames that were synthesised.
  for (std::size_t i = 0; i < m.instruments.size(); ++i) {
    for (std::size_t s = 0; s < m.instruments[i].samples.size(); ++s) {
      const Sample& w = m.instruments[i].samples[s];
      const XmSample* l = song->instruments[i].samples[s];
      ASSERT_EQ(l->length, w.frames.size());
      for (std::size_t f = 0; f < w.frames.size(); ++f) {
        ASSERT_EQ(l->data[f], w.eightBit ? w.frames[f] * 256 : w.frames[f]) << w.name << " frame " << f;
      }
    }
  }
  xm_release_song(song);
}

TEST(ComposedSong, UsesWhatThePlayerCanDo) {
  const Module m = compose_song();
  EXPECT_GE(m.channels, 8);
  bool sustain = false, envLoop = false, panEnv = false, vibrato = false, fadeout = false;
  bool eightBit = false, sixteenBit = false, forward = false, pingPong = false;
  for (const Instrument& ins : m.instruments) {
    sustain |= ins.volume.sustain;
    envLoop |= ins.volume.loop;
    panEnv |= ins.panning.points.size() >= 2;
    vibrato |= ins.vibratoDepth > 0 && ins.vibratoRate > 0;
    fadeout |= ins.fadeout > 0;
    for (const Sample& s : ins.samples) {
      (s.eightBit ? eightBit : sixteenBit) = true;
      forward |= s.loop == Loop::forward;
      pingPong |= s.loop == Loop::pingPong;
    }
  }
  EXPECT_TRUE(sustain && envLoop && panEnv && vibrato && fadeout);
  EXPECT_TRUE(eightBit && sixteenBit && forward && pingPong);

  std::set<int> effects, tempos;
  bool volumeSet = false, volumeSlide = false, keyOff = false;
  for (std::uint8_t o : m.orders) {
    for (const Cell& c : m.patterns[o].cells) {
      if (c.effect != 0 || c.param != 0) effects.insert(c.effect);
      if (c.effect == 0xF && c.param >= 32) tempos.insert(c.param);
      volumeSet |= c.volume >= 0x10 && c.volume <= 0x50;
      volumeSlide |= c.volume >= 0x60 && c.volume <= 0x7F;
      keyOff |= c.note == 97;
    }
  }
  for (int effect : {0x0, 0x1, 0x2, 0x3, 0x4, 0xA}) EXPECT_TRUE(effects.count(effect)) << "effect " << effect;
  EXPECT_TRUE(volumeSet && volumeSlide && keyOff);
  tempos.insert(m.bpm);
  EXPECT_GE(tempos.size(), 2u) << "no tempo change";
}

// Renders through the block filler until the song is back at its restart
// position after its last order.
TEST(ComposedSong, PlaysOverAMinuteBeforeRepeatingAndNeverClips) {
  const Module m = compose_song();
  XmSong* song = load_module(m);
  ASSERT_NE(song, nullptr);
  const auto player = player_for(song);
  const MixOutput& out = player->output;
  bool reachedLast = false;
  int repeatMs = -1;
  int peak = 0;
  double sumSquares = 0.0;
  long long samples = 0;
  for (int k = 0; k < 20000 && repeatMs < 0; ++k) {
    const int b = out.fillBlock;
    mix_fill_block(player.get());
    const BlockStamp stamp = mix_block_stamp(&out, b);
    const std::int16_t* pcm = out.pcmBuffer + 2 * b * out.blockFrames;
    for (int i = 0; i < out.blockFrames * 2; ++i) {
      peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
      sumSquares += static_cast<double>(pcm[i]) * pcm[i];
    }
    samples += out.blockFrames * 2;
    if (stamp.order == song->songLength - 1) reachedLast = true;
    if (reachedLast && stamp.order == song->restartPosition) repeatMs = stamp.timeMs;
  }
  xm_player_release(player.get());
  xm_release_song(song);
  ASSERT_GT(repeatMs, 0) << "never came back to the restart position";
  EXPECT_GE(repeatMs, 60000);
  const double rmsDb = 20.0 * std::log10(std::sqrt(sumSquares / static_cast<double>(samples)) / 32768.0);
  const double peakDb = 20.0 * std::log10(peak / 32768.0);
  std::printf("first pass %.1f s, peak %d (%.1f dBFS), RMS %.1f dBFS\n", repeatMs / 1000.0, peak, peakDb, rmsDb);
  EXPECT_LT(peak, 32767) << "clipped";
  EXPECT_GT(peakDb, -9.0) << "too quiet";
  EXPECT_GT(rmsDb, -26.0);
  EXPECT_LT(rmsDb, -12.0);
}

// The fundamental of a rendered note, by autocorrelation of the left channel
// over lags for 300 to 1000 Hz.
double measured_pitch(const std::vector<float>& x) {
  double best = -1.0;
  int bestLag = 0;
  std::vector<double> r(160, 0.0);
  for (int lag = 40; lag < 158; ++lag) {
    double sum = 0.0, energy = 0.0;
    for (std::size_t i = 0; i + static_cast<std::size_t>(lag) < x.size(); ++i) {
      sum += static_cast<double>(x[i]) * x[i + static_cast<std::size_t>(lag)];
      energy += static_cast<double>(x[i]) * x[i];
    }
    r[static_cast<std::size_t>(lag)] = energy > 0 ? sum / energy : 0.0;
  }
  for (int lag = 44; lag < 148; ++lag) {
    if (r[static_cast<std::size_t>(lag)] > best) {
      best = r[static_cast<std::size_t>(lag)];
      bestLag = lag;
    }
  }
  // Parabolic interpolation around the best lag.
  const double a = r[static_cast<std::size_t>(bestLag - 1)], b = r[static_cast<std::size_t>(bestLag)],
               c = r[static_cast<std::size_t>(bestLag + 1)];
  const double shift = 0.5 * (a - c) / (a - 2 * b + c);
  return 44100.0 / (bestLag + shift);
}

TEST(ComposedSong, PitchedInstrumentsSoundAtTheirWrittenPitch) {
  const std::vector<Instrument> all = compose_song().instruments;
  for (std::uint8_t id : {bass, pad, pluck, lead, square}) {
    Module m;
    m.channels = 1;
    m.instruments = all;
    Pattern p(64, 1);
    p.at(0, 0) = Cell{static_cast<std::uint8_t>(note_number("A4")), id, 0x50, 0, 0};
    m.patterns.push_back(p);
    m.orders = {0};
    XmSong* song = load_module(m);
    ASSERT_NE(song, nullptr);
    const auto player = player_for(song);
    MixOutput& out = player->output;
    std::vector<float> left;
    for (int k = 0; k < 20; ++k) {
      const int b = out.fillBlock;
      mix_fill_block(player.get());
      const std::int16_t* pcm = mix_block_pcm(&out, b);
      if (k >= 10)
        for (int i = 0; i < out.blockFrames; ++i) left.push_back(pcm[2 * i]);
    }
    xm_player_release(player.get());
    xm_release_song(song);
    EXPECT_NEAR(measured_pitch(left), 440.0, 4.0) << m.instruments[id - 1].name;
  }
}

TEST(Melody, NoteNames) {
  EXPECT_EQ(note_number("C0"), 1);
  EXPECT_EQ(note_number("C4"), 49);
  EXPECT_EQ(note_number("A4"), 58);
  EXPECT_EQ(note_number("C#5"), 62);
  EXPECT_EQ(note_number("Bb3"), 47);
  EXPECT_EQ(note_number("B7"), 96);
  EXPECT_EQ(note_number("C8"), 0);
  EXPECT_EQ(note_number("H4"), 0);
  EXPECT_EQ(note_number("A"), 0);
  EXPECT_EQ(note_number("A44"), 0);
}

TEST(Melody, TokensBecomeCells) {
  Pattern p(64, 2);
  EXPECT_EQ(write_melody(p, 1, 7, 0, "A4:4 | C5:8gv -:2 E5:6f", 40), 20);
  EXPECT_EQ(p.at(0, 1).note, 58);
  EXPECT_EQ(p.at(0, 1).instrument, 7);
  EXPECT_EQ(p.at(0, 1).volume, 0x10 + 50);  // 40, lifted with the whole mix
  // A glide keeps the sounding instrument and volume: only the target moves.
  EXPECT_EQ(p.at(4, 1).note, 61);
  EXPECT_EQ(p.at(4, 1).instrument, 0);
  EXPECT_EQ(p.at(4, 1).effect, 0x3);
  EXPECT_EQ(p.at(5, 1).effect, 0);  // vibrato waits two rows
  EXPECT_EQ(p.at(6, 1).effect, 0x4);
  EXPECT_EQ(p.at(11, 1).effect, 0x4);
  EXPECT_EQ(p.at(12, 1).note, 97);
  EXPECT_EQ(p.at(14, 1).note, 65);
  EXPECT_EQ(p.at(15, 1).effect, 0);  // the fade takes the last four rows
  EXPECT_EQ(p.at(16, 1).effect, 0xA);
  EXPECT_EQ(p.at(19, 1).effect, 0xA);
  EXPECT_EQ(p.at(0, 0).note, 0);  // other channels untouched

  // Harmony a diatonic third below in A minor: A -> F, C -> A, E -> C, B -> G.
  Pattern h(64, 1);
  EXPECT_EQ(write_melody(h, 0, 8, 0, "A4:1 C5:1 E5:1 B4:1", 20, 0, true), 4);
  EXPECT_EQ(h.at(0, 0).note, note_number("F4"));
  EXPECT_EQ(h.at(1, 0).note, note_number("A4"));
  EXPECT_EQ(h.at(2, 0).note, note_number("C5"));
  EXPECT_EQ(h.at(3, 0).note, note_number("G4"));

  for (const char* bad : {"A4", "A4:0", "Q4:2", "A4:2x", "A4:-1"}) {
    Pattern scratch(64, 1);
    EXPECT_EQ(write_melody(scratch, 0, 1, 0, bad, 40), -1) << bad;
  }
}

TEST(Writer, RejectsWhatTheFormatCannotHold) {
  Module m = compose_song();
  std::string error;
  Module tooMany = m;
  tooMany.channels = 33;
  EXPECT_TRUE(write_module(tooMany, &error).empty());
  Module badOrder = m;
  badOrder.orders.push_back(200);
  EXPECT_TRUE(write_module(badOrder, &error).empty());
  Module badLoop = m;
  badLoop.instruments[3].samples[0].loopLength += 1;
  EXPECT_TRUE(write_module(badLoop, &error).empty());
  Module badEnvelope = m;
  badEnvelope.instruments[4].volume.loopEnd = 12;
  EXPECT_TRUE(write_module(badEnvelope, &error).empty());
  EXPECT_FALSE(error.empty());
}

TEST(Writer, PacksCellsCompactly) {
  Pattern p(1, 3);
  p.at(0, 1).note = 49;
  p.at(0, 2) = Cell{49, 1, 0x30, 0xA, 0x01};
  const auto packed = pack_pattern(p);
  // Empty: one flag byte. Note only: flag and note. Full: five raw bytes.
  const std::vector<std::uint8_t> expected = {0x80, 0x81, 49, 49, 1, 0x30, 0xA, 0x01};
  EXPECT_EQ(packed, expected);
}

}  // namespace
