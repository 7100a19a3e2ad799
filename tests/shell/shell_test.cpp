#include <gtest/gtest.h>
#include "../common/scratch_folder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fake_platform.h"
#include "platform/window_layout.h"
#include "shell/debug_log.h"
#include "shell/gl_entry_points.h"
#include "shell/intro.h"
#include "shell/loading_screen.h"
#include "shell/main_loop.h"

namespace fs = std::filesystem;

namespace {

// Runs each test in a fresh scratch folder, since the log lives in the
// working folder.
class InScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    folder_ = scratch_path("vantor-shell");
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::current_path(folder_);
    FakePlatform::get().reset();
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(folder_);
  }
  static std::string read_log() {
    std::ifstream in("debug.txt", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  fs::path previous_, folder_;
};

const std::string kHeader = "debug file\n-------------------------\n";

static_assert(kStartFailed != 0, "a failed start must not exit as a success does");

TEST_F(InScratchFolder, DebugLogHoldsHeaderAndClosingLine) {
  ASSERT_EQ(open_debug_log(), 1);
  EXPECT_EQ(read_log(), kHeader);  // flushed at once
  close_debug_log();
  EXPECT_EQ(read_log(), kHeader + "-------------------------\n");
}

TEST_F(InScratchFolder, LogThatCannotBeCreatedEndsBeforeAnythingShows) {
  fs::create_directory("debug.txt");  // even root cannot open a folder as a file
  EXPECT_EQ(vantor_main(), kStartFailed);
  EXPECT_TRUE(FakePlatform::get().calls.empty());
}

TEST_F(InScratchFolder, FailedWindowShowsTheMessageAfterClosingIt) {
  FakePlatform::get().openWindowResult = false;
  EXPECT_EQ(vantor_main(), kStartFailed);
  const auto& calls = FakePlatform::get().calls;
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], "ask_fullscreen");
  EXPECT_EQ(calls[1], "open_window windowed");
  EXPECT_EQ(calls[2], "close_window");
  EXPECT_EQ(calls[3], "show_failure_message");
  EXPECT_EQ(FakePlatform::get().failureText,
            "intro_init()!\n\n  no memory?\n  no music?\n  no sjades?");
  EXPECT_EQ(read_log(), kHeader);  // no closing line after a failed start
}

TEST_F(InScratchFolder, MissingEntryPointFailsStartUp) {
  FakePlatform::get().answerYes = true;
  FakePlatform::get().missingGlNames = {"glCreateShader"};
  EXPECT_EQ(vantor_main(), kStartFailed);
  const auto& calls = FakePlatform::get().calls;
  EXPECT_EQ(calls[1], "open_window fullscreen");
  EXPECT_EQ(calls.back(), "show_failure_message");
  EXPECT_EQ(calls[calls.size() - 3], "gl glCreateShader");
}

TEST_F(InScratchFolder, RunDrawsFramesUntilQuitThenShutsDownInOrder) {
  auto& fake = FakePlatform::get();
  fake.framesBeforeQuit = 3;
  fake.messages = {true, false};
  EXPECT_EQ(vantor_main(), 0);
  const auto& calls = fake.calls;
  // Loading screen painted at 0 and 200 during the build.
  EXPECT_EQ(fake.loadingBarRights, (std::vector<int>{91, 748}));
  int swaps = 0;
  for (const auto& c : calls) swaps += c == "swap_buffers";
  EXPECT_EQ(swaps, 3);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[calls.size() - 3], "pump message");
  EXPECT_EQ(calls[calls.size() - 2], "pump quit");
  EXPECT_EQ(calls.back(), "close_window");
  EXPECT_EQ(read_log(), kHeader + "-------------------------\n");
}

TEST(GlEntryPoints, StopAtTheFirstNameThatDoesNotResolve) {
  FakePlatform::get().reset();
  FakePlatform::get().missingGlNames = {"glTexImage3D"};  // the ninth name
  EXPECT_EQ(load_gl_entry_points(), 0);
  EXPECT_EQ(FakePlatform::get().calls.size(), 9u);  // later names are not looked up
  EXPECT_EQ(FakePlatform::get().calls.back(), "gl glTexImage3D");

  FakePlatform::get().reset();
  EXPECT_EQ(load_gl_entry_points(), 1);
  const auto& calls = FakePlatform::get().calls;
  ASSERT_EQ(calls.size(), 37u);
  EXPECT_EQ(calls.front(), "gl glActiveTextureARB");
  EXPECT_EQ(calls[25], "gl glLoadTransposeMatrixf");
  EXPECT_EQ(calls.back(), "gl glGenerateMipmapEXT");
}

TEST(Projection, AspectFactorFollowsTheDesktopSize) {
  for (auto [w, h] : {std::pair{1920, 1080}, {1680, 1050}, {1280, 1024}, {1024, 768},
                      {1366, 768}, {1280, 720}, {1440, 900}, {1280, 800}, {2560, 1440}}) {
    EXPECT_EQ(aspect_factor(w, h), 1.6f) << w << "x" << h;
  }
  for (auto [w, h] : {std::pair{1600, 1200}, {1280, 960}, {800, 600}, {1680, 1051}}) {
    EXPECT_EQ(aspect_factor(w, h), 1.1f) << w << "x" << h;
  }
  EXPECT_EQ(static_cast<double>(aspect_factor(1920, 1080)), 1.60000002384185791015625);
}

TEST(LoadingScreen, BarGrowsFromEmptyToTheFullTrough) {
  EXPECT_EQ(loading_bar_right(0), 91);
  EXPECT_EQ(loading_bar_right(200), 748);
  const auto empty = loading_screen_layout(0);
  EXPECT_EQ(empty.bar.right, empty.bar.left);
  const auto full = loading_screen_layout(200);
  EXPECT_EQ(full.bar.right, full.trough.right);
  EXPECT_STREQ(full.text, "wait while loading...");
  EXPECT_EQ(full.textX, 261);
  EXPECT_EQ(full.textY, 243);
}

TEST(WindowLayout, CentringHalvesTowardMinusInfinity) {
  // 840 x 525 client with a 3-pixel frame and a 23-pixel caption.
  EXPECT_EQ(centre_offset(1920, -3, 843), 537);
  EXPECT_EQ(centre_offset(1080, -26, 528), 263);
  // An outer window larger than the screen: -221 / 2 rounds down to -111.
  EXPECT_EQ(centre_offset(640, -3, 858), -111);
  EXPECT_EQ(centre_offset(480, 0, 481), -1);
}

}  // namespace
