// Modules made by musicians with real trackers (fetched by
// scripts/fetch-xm-corpus.sh): every one loads and renders 30 seconds the
// same with the fastest mixing path and with the plain scalar one, never
// silent and never NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "music/music.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_loader.h"
#include "music/xm_mixer.h"
#include "xm_writer.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> corpus() {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(VANTOR_SOURCE_DIR) / ".cache" / "xm-corpus" / "xm";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() == ".xm") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

struct Rendered {
  uint64_t hash = 1469598103934665603ull;
  int64_t loudFrames = 0;
  bool nan = false;
};

Rendered render(XmSong* song, int seconds) {
  Rendered r;
  MixOutput out{};
  if (!mix_output_init(&out, song)) return r;
  xm_start_song(song);
  const int64_t frames = int64_t{seconds} * mixRate;
  for (int64_t done = 0; done < frames; done += out.blockFrames) {
    const int32_t b = out.fillBlock;
    mix_fill_block(&out);
    const float* mix = out.mixBuffer + int64_t{b} * out.blockFrames * 2;
    const int16_t* pcm = mix_block_pcm(&out, b);
    for (int i = 0; i < 2 * out.blockFrames; ++i) {
      if (std::isnan(mix[i])) r.nan = true;
      if (pcm[i] > 64 || pcm[i] < -64) ++r.loudFrames;
      r.hash = (r.hash ^ static_cast<uint16_t>(pcm[i])) * 1099511628211ull;
    }
  }
  mix_output_release(&out);
  return r;
}

}  // namespace

TEST(XmCorpus, EveryModulePlaysTheSameWithEveryMixer) {
  const std::vector<fs::path> files = corpus();
  if (files.empty()) {
    GTEST_SKIP() << "XM corpus not found in .cache/xm-corpus/xm; run scripts/fetch-xm-corpus.sh to fetch it";
  }
  music_use_stdio_files();
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    xmtest::SongPtr song(xm_load(file.string().c_str(), nullptr));
    ASSERT_NE(song, nullptr) << xm_last_error();
    const Rendered first = render(song.get(), 30);
    ASSERT_TRUE(mix_use_path(MixPath::Scalar));
    const Rendered second = render(song.get(), 30);
    mix_use_path(MixPath::Best);
    EXPECT_EQ(first.hash, second.hash) << "the scalar mixer plays it differently";
    EXPECT_FALSE(first.nan);
    EXPECT_GT(first.loudFrames, 30 * 44100 / 10) << "mostly silent";
  }
}
