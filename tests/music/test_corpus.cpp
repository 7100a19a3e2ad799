// Modules made by musicians with real trackers (fetched by
// scripts/fetch-xm-corpus.sh), and the intro's own 2.xm: every one loads and
// renders its first 30 seconds exactly as the release did, with the fastest
// mixing path and with the plain scalar one, never silent and never NaN; on
// the way every sounding voice stays inside its sample and every block's
// stamp moves on by 1 to 20 ms.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "music/xm_block.h"
#include "music/xm_loader.h"
#include "music/xm_mixer.h"
#include "xm_writer.h"

namespace fs = std::filesystem;
using namespace xmtest;

namespace {

std::vector<fs::path> corpus() {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(VANTOR_SOURCE_DIR) / ".cache" / "xm-corpus" / "xm";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() == ".xm") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
#ifdef VANTOR_COMPOSED_MODULE
  if (!files.empty()) files.push_back(VANTOR_COMPOSED_MODULE);
#endif
  return files;
}

// FNV-1a over the 16-bit values of the first 30 seconds at 44100 Hz, as the
// release before the player contexts rendered them (xm-render --seconds 30).
// (2.xm is left out: it changes whenever the intro's music is composed anew.)
const std::map<std::string, uint64_t> released = {
    {"bomberclone-data--cerror-bobmberclone.xm", 0xb20facfef8a1cab3u},
    {"bomberclone-data--cerror-bomberclone_numero_2.xm", 0x9f253911d76eb417u},
    {"bomberclone-data--mario_is_a_weenie.xm", 0x13339350b3f5e34eu},
    {"bomberclone-data--slice_me_nice.xm", 0xac0393630f4d3051u},
    {"bomberclone-data--zb-tnt.xm", 0x8ee70dc6a8369f2bu},
    {"dodgindiamond2--bgm1.xm", 0xe8ddcce38b235238u},
    {"dodgindiamond2--bgm2.xm", 0xa65b721aea0a669fu},
    {"flobopuyo--flobopuyo_game1.xm", 0xaca8728a816ee5a5u},
    {"flobopuyo--flobopuyo_game2.xm", 0x8bf3006967f8c3d3u},
    {"flobopuyo--flobopuyo_gameover.xm", 0x1171c5688771e1e5u},
    {"flobopuyo--flobopuyo_menu.xm", 0x3269eca4c675e304u},
    {"flobopuyo--strange_fear.xm", 0x916258392946de6au},
    {"flobopuyo--strange_fear2.xm", 0x7988539f07704681u},
    {"flobopuyo--strange_gameover.xm", 0x94d206327a1920cau},
    {"gemdropx--2force.xm", 0x6e4078a10376bc12u},
    {"gemdropx--hr_suds.xm", 0x1cc01e50e57bafc7u},
    {"pekka-kana-2-data--bigboss.xm", 0x959d0e1393d6fad3u},
    {"pekka-kana-2-data--hiscore.xm", 0x292c2195b73d6ecbu},
    {"pekka-kana-2-data--intro.xm", 0xdbac090de44282feu},
    {"pekka-kana-2-data--map.xm", 0xfed26ab200ae8383u},
    {"pekka-kana-2-data--song01.xm", 0x02fa4b3191e2bfbdu},
    {"pekka-kana-2-data--song02.xm", 0xf9131272a0bafe7cu},
    {"pekka-kana-2-data--song03.xm", 0x96510d43b41f2a64u},
    {"pekka-kana-2-data--song05.xm", 0x98d39fffe24dc79bu},
    {"pekka-kana-2-data--song06.xm", 0xd7f63c4a21994505u},
    {"pekka-kana-2-data--song07.xm", 0xeae99961cf3c84a9u},
    {"pekka-kana-2-data--song08.xm", 0x1e67674e553188f0u},
    {"pekka-kana-2-data--song09.xm", 0x6dc1c1d45616b2cdu},
    {"pekka-kana-2-data--song10.xm", 0xcb80cc4f544b6f91u},
    {"pekka-kana-2-data--song12.xm", 0xc15c0ed5992a8239u},
    {"pekka-kana-2-data--song13.xm", 0x06284b7115be0845u},
    {"vodovod--flow.xm", 0xdcb34d1f516dd6c3u},
    {"vodovod--vodovod.xm", 0xfcee189c60fac9a5u},
    {"vodovod--walk.xm", 0x08f3a698cc2a2993u},
    {"vor--mph.xm", 0x6c2a28836b086a12u},
};

struct Rendered {
  uint64_t hash = 1469598103934665603ull;
  int64_t loudFrames = 0;
  bool nan = false;
  std::string stray;  // the first voice found outside its sample, or stamp out of step
};

// A pass may overrun a loop or sample end by a few frames (its frame count
// is worked out in 24.8 fixed point), staying inside the 8 frames of slack
// around the data; the next pass turns, wraps or stops the voice. Anything
// further out is a voice that escaped.
bool inside_sample(const MixVoice& v, const XmSong* song) {
  const XmSample* s = v.sample;
  bool ours = s == &emptySample;
  for (int i = 0; i < song->instrumentCount && !ours; ++i) {
    for (const XmSample* own : song->instruments[i].samples) ours = ours || own == s;
  }
  const int64_t slack = 8;
  const bool looping = s->loopMode == XM_LOOP_FORWARD || s->loopMode == XM_LOOP_PINGPONG;
  const int64_t end = looping ? int64_t{s->loopStart} + s->loopLength : int64_t{s->length};
  // Only a voice already turned back by a ping-pong loop is bounded by the
  // loop start; before it reaches the loop it plays from frame 0.
  const int64_t start = s->loopMode == XM_LOOP_PINGPONG && v.direction == 2 ? int64_t{s->loopStart} : 0;
  return ours && (v.direction == 1 || v.direction == 2) && v.position >= start - slack &&
         v.position <= std::max<int64_t>(end, s->length) + slack;
}

Rendered render(const XmSong* song, int seconds) {
  Rendered r;
  PlayerPtr player = player_for(song);
  if (!player) return r;
  const MixOutput& out = player->output;
  const int64_t frames = int64_t{seconds} * 44100;
  int32_t previousMs = 0;
  for (int64_t done = 0; done < frames; done += out.blockFrames) {
    const int32_t b = out.fillBlock;
    mix_fill_block(player.get());
    const float* mix = mix_block_mix(&out, b);
    const int16_t* pcm = mix_block_pcm(const_cast<MixOutput*>(&out), b);
    const int64_t values = 2 * std::min<int64_t>(out.blockFrames, frames - done);
    for (int64_t i = 0; i < values; ++i) {
      if (std::isnan(mix[i])) r.nan = true;
      if (pcm[i] > 64 || pcm[i] < -64) ++r.loudFrames;
      r.hash = (r.hash ^ static_cast<uint16_t>(pcm[i])) * 1099511628211ull;
    }
    const int32_t ms = mix_block_stamp(&out, b).timeMs;
    if ((ms - previousMs < 1 || ms - previousMs > 20) && r.stray.empty()) {
      r.stray = "block " + std::to_string(done / out.blockFrames) + ": the stamp moved by " +
                std::to_string(ms - previousMs) + " ms";
    }
    previousMs = ms;
    for (int v = 0; v < XM_MIXED_VOICES && r.stray.empty(); ++v) {
      const MixVoice& voice = player->voices[v];
      if (voice.sample && !inside_sample(voice, song)) {
        r.stray = "block " + std::to_string(done / out.blockFrames) + ": voice " + std::to_string(v) +
                  " at frame " + std::to_string(voice.position) + " of a sample of " +
                  std::to_string(voice.sample->length) + " frames";
      }
    }
  }
  return r;
}

}  // namespace

TEST(XmCorpus, EveryModulePlaysAsReleasedWithEveryMixer) {
  const std::vector<fs::path> files = corpus();
  if (files.empty()) {
    GTEST_SKIP() << "XM corpus not found in .cache/xm-corpus/xm; run scripts/fetch-xm-corpus.sh to fetch it";
  }
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    SongPtr song = load_path(file.string());
    ASSERT_NE(song, nullptr) << load_error();
    const Rendered first = render(song.get(), 30);
    ASSERT_TRUE(mix_use_path(MixPath::Scalar));
    const Rendered second = render(song.get(), 30);
    mix_use_path(MixPath::Best);
    const auto known = released.find(file.filename().string());
    if (known != released.end()) {
      EXPECT_EQ(first.hash, known->second) << "plays otherwise than the release";
    }
    EXPECT_EQ(first.hash, second.hash) << "the scalar mixer plays it differently";
    EXPECT_FALSE(first.nan);
    EXPECT_EQ(first.stray, "");
    EXPECT_GT(first.loudFrames, 30 * 44100 / 10) << "mostly silent";
  }
}
