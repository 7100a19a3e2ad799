// xm-play from the outside, on a pseudo-terminal, playing into SDL's disk
// audio driver: what it plays equals xm-render's output, the status line
// shows the title and a running clock, a song ends by itself at its end,
// the next file follows, space pauses and q quits with 0.
#include <gtest/gtest.h>
#include "../common/scratch_folder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "xm_writer.h"

using namespace xmtest;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> titled(ModuleDef m, const std::string& title) {
  std::vector<uint8_t> bytes = build(m);
  for (size_t i = 0; i < 20; ++i) bytes[17 + i] = i < title.size() ? static_cast<uint8_t>(title[i]) : 0;
  return bytes;
}

// A tune of `rows` rows at speed 3 with a note every four rows.
ModuleDef tune(int rows) {
  ModuleDef m;
  m.speed = 3;
  m.instruments.push_back(one_sample_instrument(ramp_sample()));
  m.patterns[0].rows = rows;
  for (int r = 0; r < rows; r += 4) m.set(0, r, r % 8 == 0 ? 0 : 1, cell(static_cast<uint8_t>(40 + r % 24), 1));
  return m;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// From the first to the last frame that is not silent: the device plays
// silence before the music starts and while it is paused.
std::string sound(const std::string& pcm) {
  const std::string silence(4, '\0');
  size_t at = 0, end = pcm.size() / 4 * 4;
  while (at < end && pcm.compare(at, 4, silence) == 0) at += 4;
  while (end > at && pcm.compare(end - 4, 4, silence) == 0) end -= 4;
  return pcm.substr(at, end - at);
}

struct Player {
  pid_t pid = -1;
  int master = -1;
  std::string screen;

  // Starts xm-play on a new pseudo-terminal, playing into `disk`.
  bool start(const std::vector<std::string>& files, const fs::path& disk) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const std::string slave = ptsname(master);
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      setsid();
      const int fd = open(slave.c_str(), O_RDWR);
      ioctl(fd, TIOCSCTTY, 0);
      dup2(fd, 0);
      dup2(fd, 1);
      dup2(fd, 2);
      setenv("SDL_AUDIODRIVER", "disk", 1);
      setenv("SDL_DISKAUDIOFILE", disk.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(XM_PLAY_PATH)};
      for (const std::string& f : files) argv.push_back(const_cast<char*>(f.c_str()));
      argv.push_back(nullptr);
      execv(XM_PLAY_PATH, argv.data());
      _exit(127);
    }
    return true;
  }
  // Reads the terminal until `done` holds or `seconds` pass.
  bool read_until(const std::function<bool(const std::string&)>& done, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done(screen)) {
      if (std::chrono::steady_clock::now() > until) return false;
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) return done(screen);  // the player has gone
      screen.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  void type(const char* keys) { ASSERT_GT(write(master, keys, std::strlen(keys)), 0); }
  // Exit code, or -1 when it does not end within `seconds` (then killed).
  int wait(int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
      char buffer[4096];
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 0) > 0 && read(master, buffer, sizeof buffer) > 0) continue;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(50000);
    }
    return -1;
  }
  ~Player() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (master >= 0) close(master);
  }
};

class PlayTest : public ScratchFolderTest {
 protected:
  PlayTest() : ScratchFolderTest("xm-play-test") {}
  // xm-render's samples of one pass through `in`.
  std::string rendered(const std::string& in) {
    const fs::path wav = dir / "render.wav";
    const std::string command = std::string(XM_RENDER_PATH) + " " + in + " -o " + wav.string() + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "";
    return slurp(wav).substr(44);
  }
};

}  // namespace

TEST_F(PlayTest, PlaysWhatRenderWritesShowsStatusAndTakesKeys) {
  const std::string first = write("first.xm", titled(tune(16), "First tune"));    // about 1 s
  const std::string second = write("second.xm", titled(tune(256), "Second tune"));  // about 15 s
  const fs::path disk = dir / "disk.raw";

  {
    // Alone, a song plays once through and the player ends by itself.
    Player player;
    ASSERT_TRUE(player.start({first}, disk));
    EXPECT_EQ(player.wait(20), 0) << player.screen;
    const std::string played = sound(slurp(disk)), expected = sound(rendered(first));
    ASSERT_FALSE(expected.empty());
    ASSERT_GE(played.size(), expected.size()) << "stopped before the song's end";
    EXPECT_TRUE(played.compare(0, expected.size(), expected) == 0) << "plays other samples than xm-render";
  }

  // A file that cannot be played is reported and skipped; then the first
  // song ends, the second one follows, its status line runs, space pauses
  // it and q quits.
  Player player;
  ASSERT_TRUE(player.start({(dir / "missing.xm").string(), first, second}, disk));
  EXPECT_TRUE(player.read_until(
      [](const std::string& s) {
        const size_t at = s.find("Second tune  ");
        return at != std::string::npos && s.find(" 0:01 / 0:1", at) != std::string::npos;
      },
      20))
      << player.screen;
  EXPECT_NE(player.screen.find("missing.xm: "), std::string::npos);
  EXPECT_NE(player.screen.find("\"First tune\", 4 channels, 1 pattern, 1 instrument, 0:01, linear"), std::string::npos)
      << player.screen;
  player.type(" ");
  EXPECT_TRUE(player.read_until([](const std::string& s) { return s.find("]  paused") != std::string::npos; }, 5))
      << player.screen;
  player.type("q");
  EXPECT_EQ(player.wait(10), 0) << player.screen;
  const std::string played = sound(slurp(disk)), expected = sound(rendered(second));
  ASSERT_GT(played.size(), 44100u * 4u) << "at least a second of the second song";
  ASSERT_LT(played.size(), expected.size());
  EXPECT_TRUE(expected.compare(0, played.size(), played) == 0) << "plays other samples than xm-render";
}
