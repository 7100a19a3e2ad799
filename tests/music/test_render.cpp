// xm-render from the outside: arguments, exit codes, the WAV it writes, its
// row log, and that it plays exactly what the block filler plays.
#include <gtest/gtest.h>
#include "../common/scratch_folder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "xm_writer.h"

using namespace xmtest;
namespace fs = std::filesystem;

namespace {

class RenderTest : public ScratchFolderTest {
 protected:
  RenderTest() : ScratchFolderTest("xm-render-test") {}
  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Runs xm-render with arguments; returns the exit code.
  int run(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
    const std::string command = std::string(XM_RENDER_PATH) + " " + args + " > " + (dir / "stdout").string() +
                                " 2> " + (dir / "stderr").string();
    const int status = std::system(command.c_str());
    if (out) *out = slurp(dir / "stdout");
    if (err) *err = slurp(dir / "stderr");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

ModuleDef tune() {
  ModuleDef m;
  m.instruments.push_back(one_sample_instrument(ramp_sample()));
  m.set(0, 0, 0, cell(49, 1));
  m.set(0, 3, 1, cell(0, 0, 0, fx('F'), 3));
  m.set(0, 4, 1, cell(61, 1));
  return m;
}

}  // namespace

TEST_F(RenderTest, WritesTheBlockFillersOutputAndRowLog) {
  const std::vector<uint8_t> bytes = build(tune());
  const std::string in = write("tune.xm", bytes);
  const fs::path wav = dir / "out.wav";
  std::string out;
  ASSERT_EQ(run(in + " -o " + wav.string() + " --seconds 0.5 --rows", &out), 0);
  const std::string file = slurp(wav);
  ASSERT_EQ(file.size(), 44u + 22050u * 4u);
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");

  std::istringstream lines(out);
  long frame;
  int order, row;
  std::vector<long> frames;
  while (lines >> frame >> order >> row) frames.push_back(frame);
  ASSERT_GE(frames.size(), 6u);
  EXPECT_EQ(frames[0], 0);
  EXPECT_EQ(frames[1], 6 * 882);
  EXPECT_EQ(frames[4], 6 * 882 * 3 + 3 * 882) << "speed 3 from row 3's end";
  EXPECT_LT(frames.back(), 22050);

  // Same samples as the block filler gives in this process.
  SongPtr song = load_bytes(bytes);
  ASSERT_NE(song, nullptr);
  PlayerPtr player = player_for(song.get());
  ASSERT_NE(player, nullptr);
  MixOutput& mix = player->output;
  std::string expected;
  for (int written = 0; written < 22050; written += mix.blockFrames) {
    const int32_t b = mix.fillBlock;
    mix_fill_block(player.get());
    const int n = std::min(mix.blockFrames, 22050 - written);
    for (int i = 0; i < 2 * n; ++i) {
      const uint16_t v = static_cast<uint16_t>(mix_block_pcm(&mix, b)[i]);
      expected.push_back(static_cast<char>(v & 0xFF));
      expected.push_back(static_cast<char>(v >> 8));
    }
  }
  EXPECT_TRUE(file.substr(44) == expected);
}

// tune() plays rows 0..2 at speed 6 and the rest at speed 3, which it keeps
// when it starts over: 201 ticks the first time, 192 every time after.
constexpr uint32_t tuneFrames = 201 * 882, againFrames = 192 * 882;

TEST_F(RenderTest, DefaultOutputNameAndLength) {
  const std::string in = write("song.xm", build(tune()));
  ASSERT_EQ(run(in), 0);
  EXPECT_EQ(fs::file_size(dir / "song.wav"), 44u + tuneFrames * 4u);
}

TEST_F(RenderTest, SongLengthLoopsSecondsFadeStdoutInfoAndHelp) {
  const std::string in = write("song.xm", build(tune()));
  std::string out, err;
  EXPECT_EQ(run("--help", &out, &err), 0);
  EXPECT_EQ(out.rfind("usage: xm-render", 0), 0u);
  EXPECT_EQ(err, "");
  EXPECT_EQ(run("--version", &out), 0);
  EXPECT_EQ(out.rfind("xm-render ", 0), 0u);

  // One summary line before rendering; one pass, then one more with --loops.
  const fs::path once = dir / "once.wav", twice = dir / "twice.wav";
  ASSERT_EQ(run(in + " -o " + once.string(), &out, &err), 0);
  EXPECT_EQ(err, in + ": \"test module\", 4 channels, 1 pattern, 1 instrument, 0:04, linear\n");
  ASSERT_EQ(run(in + " --loops 1 -o " + twice.string()), 0);
  const std::string first = slurp(once), both = slurp(twice);
  ASSERT_EQ(first.size(), 44u + tuneFrames * 4u);
  ASSERT_EQ(both.size(), 44u + (tuneFrames + againFrames) * 4u);
  EXPECT_TRUE(both.compare(44, first.size() - 44, first, 44) == 0);
  auto u32 = [](const std::string& wav, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(wav[at]) | static_cast<uint8_t>(wav[at + 1]) << 8 |
                                 static_cast<uint8_t>(wav[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(wav[at + 3])) << 24);
  };
  EXPECT_EQ(u32(both, 4), 36 + (tuneFrames + againFrames) * 4u);

  // --seconds cuts or extends; the same WAV comes out of standard output.
  ASSERT_EQ(run(in + " --seconds 0.5 -o -", &out), 0);
  ASSERT_EQ(out.size(), 44u + 22050u * 4u);
  EXPECT_EQ(out.compare(44, out.size() - 44, both, 44, out.size() - 44), 0) << "not the file's samples";
  EXPECT_EQ(u32(out, 40), 22050u * 4u);
  ASSERT_EQ(run(in + " --seconds 10 -o " + (dir / "long.wav").string()), 0);
  EXPECT_EQ(fs::file_size(dir / "long.wav"), 44u + 441000u * 4u);

  // --fade scales the last second down to silence, frame by frame.
  ASSERT_EQ(run(in + " --fade 1 -o " + (dir / "faded.wav").string()), 0);
  const std::string faded = slurp(dir / "faded.wav");
  ASSERT_EQ(faded.size(), first.size());
  auto value = [](const std::string& wav, uint32_t i) {
    return static_cast<int16_t>(static_cast<uint8_t>(wav[44 + 2 * i]) | static_cast<uint8_t>(wav[45 + 2 * i]) << 8);
  };
  const uint32_t fadeStart = tuneFrames - 44100;
  for (uint32_t frame = 0; frame < tuneFrames; ++frame) {
    const int64_t left = frame < fadeStart ? 44100 : tuneFrames - frame;
    for (uint32_t c = 0; c < 2; ++c) {
      ASSERT_EQ(value(faded, 2 * frame + c), value(first, 2 * frame + c) * left / 44100) << frame;
    }
  }

  // --info lists every file, the unreadable ones on standard error, and
  // fails when any could not be read; --rows cannot share standard output.
  std::vector<uint8_t> bad = build(tune());
  bad[0] = 'X';
  const std::string broken = write("broken.xm", bad);
  EXPECT_EQ(run("--info " + in + " " + broken + " " + in, &out, &err), 1);
  const std::string line = in + ": \"test module\", 4 channels, 1 pattern, 1 instrument, 0:04, linear\n";
  EXPECT_EQ(out, line + line);
  EXPECT_EQ(err, "xm-render: " + broken + ": not an XM module (wrong signature)\n");
  EXPECT_EQ(run("--info " + in, &out), 0);
  EXPECT_EQ(run(in + " --rows -o -", &out, &err), 2);
  EXPECT_FALSE(fs::exists(dir / "song.wav"));
}

TEST_F(RenderTest, BadModulesFailWithReasonAndLeaveNothing) {
  std::vector<uint8_t> bytes = build(tune());
  bytes[3] = 'x';
  const std::string bad = write("bad.xm", bytes);
  std::string err;
  EXPECT_EQ(run(bad + " -o " + (dir / "bad.wav").string(), nullptr, &err), 1);
  EXPECT_EQ(err, "xm-render: " + bad + ": not an XM module (wrong signature)\n");
  EXPECT_FALSE(fs::exists(dir / "bad.wav"));

  const std::string missing = (dir / "missing.xm").string();
  EXPECT_EQ(run(missing, nullptr, &err), 1);
  EXPECT_EQ(err.rfind("xm-render: " + missing + ": ", 0), 0u) << err;
  EXPECT_FALSE(fs::exists(dir / "missing.wav"));

  const std::string good = write("good.xm", build(tune()));
  EXPECT_EQ(run(good + " -o " + (dir / "no-such-dir" / "x.wav").string(), nullptr, &err), 1);
  EXPECT_NE(err.find("cannot create"), std::string::npos);
}

TEST_F(RenderTest, BadArgumentsNameTheProblem) {
  const std::string in = write("a.xm", build(tune()));
  std::string err;
  EXPECT_EQ(run("", nullptr, &err), 2);
  EXPECT_EQ(err.rfind("usage: xm-render", 0), 0u) << err;
  for (const std::string& args : {in + " --seconds", in + " --seconds abc", in + " --seconds -1",
                                 in + " --seconds 30000", in + " --loops x", in + " --fade -1", std::string("--info"),
                                 in + " --bogus", in + " " + in, in + " -o"}) {
    EXPECT_EQ(run(args, nullptr, &err), 2) << args;
    EXPECT_EQ(err.rfind("xm-render: ", 0), 0u) << args << ": " << err;
    EXPECT_NE(err.find("\ntry 'xm-render --help'\n"), std::string::npos) << args << ": " << err;
  }
  EXPECT_FALSE(fs::exists(dir / "a.wav"));
}
