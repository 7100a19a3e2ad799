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

class RenderTest : public ::testing::Test {
 protected:
  fs::path dir;

  void SetUp() override {
    dir = scratch_path("xm-render-test");
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path p = dir / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
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
  MixOutput mix{};
  ASSERT_TRUE(mix_output_init(&mix, song.get()));
  xm_start_song(song.get());
  std::string expected;
  for (int written = 0; written < 22050; written += mix.blockFrames) {
    const int32_t b = mix.fillBlock;
    mix_fill_block(&mix);
    const int n = std::min(mix.blockFrames, 22050 - written);
    for (int i = 0; i < 2 * n; ++i) {
      const uint16_t v = static_cast<uint16_t>(mix_block_pcm(&mix, b)[i]);
      expected.push_back(static_cast<char>(v & 0xFF));
      expected.push_back(static_cast<char>(v >> 8));
    }
  }
  mix_output_release(&mix);
  EXPECT_TRUE(file.substr(44) == expected);
}

TEST_F(RenderTest, DefaultOutputNameAndLength) {
  const std::string in = write("song.xm", build(tune()));
  ASSERT_EQ(run(in), 0);
  EXPECT_EQ(fs::file_size(dir / "song.wav"), 44u + 60u * 44100u * 4u);
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

TEST_F(RenderTest, BadArgumentsPrintUsage) {
  const std::string in = write("a.xm", build(tune()));
  std::string err;
  for (const std::string& args : {std::string(""), in + " --seconds", in + " --seconds abc", in + " --seconds -1",
                                 in + " --bogus", in + " " + in, in + " -o"}) {
    EXPECT_EQ(run(args, nullptr, &err), 2) << args;
    EXPECT_NE(err.find("usage: xm-render"), std::string::npos) << args;
  }
  EXPECT_FALSE(fs::exists(dir / "a.wav"));
}
