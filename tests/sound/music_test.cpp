// The intro's music glue: the module path beside the executable, and what
// music_start gives back for a good, a missing and a damaged "2.xm".
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fake_platform.h"
#include "fake_wave_device.h"
#include "music/music.h"
#include "music/xm_output.h"
#include "score.h"
#include "shell/intro_music.h"

namespace {

namespace fs = std::filesystem;

TEST(ModulePath, IsTheFolderFollowedByTheModuleName) {
  char path[64];
  ASSERT_TRUE(music_module_path("/opt/demo/", path, sizeof path));
  EXPECT_STREQ(path, "/opt/demo/2.xm");
  ASSERT_TRUE(music_module_path("D:\\demo\\", path, sizeof path));
  EXPECT_STREQ(path, "D:\\demo\\2.xm");
}

TEST(ModulePath, TooLongForTheBufferMeansNoPath) {
  char path[16];
  // 11 characters of folder + "2.xm" + terminator = 16: just fits.
  ASSERT_TRUE(music_module_path("/abcdefghi/", path, sizeof path));
  EXPECT_STREQ(path, "/abcdefghi/2.xm");
  EXPECT_FALSE(music_module_path("/abcdefghij/", path, sizeof path));
  EXPECT_STREQ(path, "");
  EXPECT_FALSE(music_module_path("", path, sizeof path)) << "an unknown folder is not the working folder";
  EXPECT_FALSE(music_module_path(std::string(5000, 'a') + "/", path, sizeof path));
}

class MusicStart : public ::testing::Test {
 protected:
  void SetUp() override {
    soundtest::reset_fake_wave();
    folder = fs::temp_directory_path() /
             ("vantor-music-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    // The platform as music_start sees it: the executable's folder is
    // this one, and the wave device is the fake.
    FakePlatform::get().reset();
    FakePlatform::get().executableFolder = folder.string() + "/";
    FakePlatform::get().wave = soundtest::fake_wave_device();
  }
  void TearDown() override {
    fs::remove_all(folder);
    FakePlatform::get().reset();
  }

  void write_module(const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(folder / "2.xm", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  fs::path folder;
};

std::vector<std::uint8_t> composed() { return compose::write_module(compose::compose_song(), nullptr); }

TEST_F(MusicStart, PlaysTheModuleBesideTheExecutable) {
  write_module(composed());
  IntroMusic music = music_start();
  ASSERT_NE(music.song, nullptr);
  ASSERT_NE(music.output, nullptr);
  EXPECT_EQ(soundtest::fake_wave().opens.load(), 1);
  EXPECT_EQ(soundtest::fake_wave().starts.load(), 1);
  EXPECT_EQ(xm_get_time(music.output), 19);
  music_stop(music);
  EXPECT_EQ(music.output, nullptr);
  EXPECT_EQ(soundtest::fake_wave().closes.load(), 1);
}

TEST_F(MusicStart, MissingModuleMeansSilence) {
  IntroMusic music = music_start();
  EXPECT_EQ(music.song, nullptr);
  EXPECT_EQ(music.output, nullptr);
  EXPECT_EQ(soundtest::fake_wave().opens.load(), 0);
  music_stop(music);
}

TEST_F(MusicStart, DamagedModuleMeansSilence) {
  auto bytes = composed();
  auto wrongSignature = bytes;
  wrongSignature[9] = 'm';
  write_module(wrongSignature);
  EXPECT_EQ(music_start().song, nullptr);
  for (std::size_t keep : {std::size_t{0}, std::size_t{40}, std::size_t{200}}) {
    write_module(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep)));
    EXPECT_EQ(music_start().song, nullptr) << "cut to " << keep << " bytes";
  }
  EXPECT_EQ(soundtest::fake_wave().opens.load(), 0);
}

TEST_F(MusicStart, UnknownOrOverlongFolderMeansSilence) {
  write_module(composed());
  FakePlatform::get().executableFolder.clear();
  EXPECT_EQ(music_start().song, nullptr);
  FakePlatform::get().executableFolder = folder.string() + "/" + std::string(musicPathCapacity, 'x') + "/";
  EXPECT_EQ(music_start().song, nullptr);
}

TEST(MusicFiles, StdioCallbacksReadSeekAndTell) {
  const fs::path file = fs::temp_directory_path() / "vantor-music-callbacks.bin";
  {
    std::ofstream out(file, std::ios::binary);
    out << "0123456789";
  }
  EXPECT_EQ(music_file_open((file.string() + ".missing").c_str()), nullptr);
  void* stream = music_file_open(file.string().c_str());
  ASSERT_NE(stream, nullptr);
  char buffer[8] = {};
  EXPECT_EQ(music_file_read(buffer, 3, stream), 3u);
  EXPECT_EQ(std::string(buffer, 3), "012");
  music_file_seek(stream, 2, 1);
  EXPECT_EQ(music_file_tell(stream), 5);
  music_file_seek(stream, 1, 0);
  EXPECT_EQ(music_file_read(buffer, 8, stream), 8u);
  EXPECT_EQ(std::string(buffer, 8), "12345678");
  // The origin is taken as a signed byte: 0x100 is "from the start".
  music_file_seek(stream, 4, 0x100);
  EXPECT_EQ(music_file_tell(stream), 4);
  music_file_close(stream);
  fs::remove(file);
}

}  // namespace
