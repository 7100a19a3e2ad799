// The library's public calls, used only through their header, against the
// player's own block filler in a context of its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../common/scratch_folder.h"
#include "music/vantor_xm.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_length.h"
#include "xm_writer.h"

using namespace xmtest;

namespace {

// Two channels of a looped ramp with a tempo change and a jump back, so
// playing on needs the song's state and the song comes back to order 1.
// Retuned, effect E5 changes the sample's finetune for every later note,
// and notes on the instrument's empty keymap slot set that of the empty
// sample: what one play changes there must not reach the next.
ModuleDef tune(int note = 49, bool retuned = false) {
  ModuleDef m;
  m.channels = 2;
  m.orders = {0, 1, 0, 1};
  m.restart = 1;
  m.patterns.resize(2);
  m.patterns[0].rows = 16;
  m.patterns[1].rows = 16;
  m.instruments.push_back(one_sample_instrument(ramp_sample()));
  m.set(0, 0, 0, cell(static_cast<uint8_t>(note), 1));
  m.set(0, 4, 1, cell(static_cast<uint8_t>(note + 7), 1, 0, fx('A'), 0x02));
  m.set(0, 8, 0, cell(0, 0, 0, fx('F'), 4));
  m.set(1, 0, 1, cell(static_cast<uint8_t>(note + 12), 1, 0, fx('4'), 0x38));
  m.set(1, 6, 0, cell(255));
  if (retuned) {
    m.instruments[0].keymap[note + 23] = 1;  // a slot the instrument does not fill
    m.set(0, 2, 0, cell(static_cast<uint8_t>(note), 1, 0, fx('E'), 0x5F));
    m.set(0, 10, 0, cell(static_cast<uint8_t>(note + 24), 1, 0, fx('E'), 0x57));
    m.set(0, 12, 0, cell(static_cast<uint8_t>(note + 3), 1));
    m.set(1, 8, 1, cell(static_cast<uint8_t>(note + 24), 1, 0, fx('0'), 0x37));
    m.set(1, 10, 1, cell(static_cast<uint8_t>(note + 5), 1, 0, fx('E'), 0x53));
  }
  return m;
}

using Frames = std::vector<int16_t>;

// What the player's own block filler plays from the start: the reference.
Frames reference_render(const std::vector<uint8_t>& bytes, int64_t frames) {
  SongPtr song = load_bytes(bytes);
  EXPECT_TRUE(song);
  PlayerPtr player = player_for(song.get());
  MixOutput& out = player->output;
  Frames pcm;
  while (static_cast<int64_t>(pcm.size()) < 2 * frames) {
    const int32_t b = out.fillBlock;
    mix_fill_block(player.get());
    const int16_t* p = mix_block_pcm(&out, b);
    pcm.insert(pcm.end(), p, p + 2 * out.blockFrames);
  }
  pcm.resize(static_cast<size_t>(2 * frames));
  return pcm;
}

// Renders in pieces of `piece` frames until the song ends or `limit` frames.
Frames render_all(vxm_song* song, size_t piece, size_t limit = 1u << 24) {
  Frames pcm;
  std::vector<int16_t> buffer(2 * piece);
  while (pcm.size() / 2 < limit) {
    const size_t n = vxm_render_s16(song, buffer.data(), piece);
    if (n == 0) break;
    pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(2 * n));
  }
  return pcm;
}

struct Song {
  vxm_song* s = nullptr;
  explicit Song(vxm_song* song) : s(song) {}
  ~Song() { vxm_free(s); }
  Song(const Song&) = delete;
  Song& operator=(const Song&) = delete;
};

class ApiTest : public ScratchFolderTest {
 protected:
  ApiTest() : ScratchFolderTest("vxm-api-test") {}
};

// A stream that cannot go back: the bytes come through a pipe from another
// thread, once.
struct PipeStream {
  std::FILE* read = nullptr;
  std::thread writer;
  explicit PipeStream(const std::vector<uint8_t>& bytes) {
    int ends[2];
    if (pipe(ends) != 0) return;
    read = fdopen(ends[0], "rb");
    writer = std::thread([&bytes, fd = ends[1]] {
      for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(fd);
    });
  }
  ~PipeStream() {
    if (writer.joinable()) writer.join();
    if (read) std::fclose(read);
  }
};

// Bytes in memory through vxm_load_io, at most `most` at a time; the
// rewind goes back to the first.
struct ByteReader {
  const std::vector<uint8_t>* bytes;
  size_t pos;
  size_t most;
};

const vxm_io byteReaderIo{[](void* user, void* buffer, size_t n) -> size_t {
                            auto* r = static_cast<ByteReader*>(user);
                            n = std::min({n, r->most, r->bytes->size() - r->pos});
                            std::memcpy(buffer, r->bytes->data() + r->pos, n);
                            r->pos += n;
                            return n;
                          },
                          [](void* user) -> int {
                            static_cast<ByteReader*>(user)->pos = 0;
                            return 1;
                          }};

}  // namespace

TEST_F(ApiTest, EveryWayInPlaysTheSameAsTheBlockFiller) {
  const std::vector<uint8_t> bytes = build(tune());
  const int64_t once = xm_song_length(load_bytes(bytes).get(), 44100).frames;
  const Frames reference = reference_render(bytes, once);
  const std::string path = write("tune.xm", bytes);

  ByteReader reader{&bytes, 0, 1000};  // a reader that hands out little at a time

  vxm_error error;
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    PipeStream stream(bytes);
    Song song(way == 0   ? vxm_load_memory(bytes.data(), bytes.size(), 0, &error)
              : way == 1 ? vxm_load_file(path.c_str(), 44100, &error)
              : way == 2 ? vxm_load_io(&byteReaderIo, &reader, 44100, &error)
                         : vxm_load_stdio(stream.read, 44100, &error));
    ASSERT_TRUE(song.s) << error.message;
    EXPECT_EQ(error.status, VXM_OK);
    // Odd piece sizes cross the player's blocks anywhere.
    EXPECT_EQ(render_all(song.s, way == 0 ? 1000 : 333), reference);
    EXPECT_TRUE(vxm_ended(song.s));
    int16_t more[2];
    EXPECT_EQ(vxm_render_s16(song.s, more, 1), 0u);
  }
}

TEST_F(ApiTest, DamagedOrMissingInputIsRefusedWithAReason) {
  std::vector<uint8_t> good = build(tune());
  std::vector<uint8_t> wrongSignature = good;
  wrongSignature[0] = 'X';
  std::vector<uint8_t> cutHeader(good.begin(), good.begin() + 60);
  std::vector<uint8_t> noChannels = good;
  noChannels[68] = noChannels[69] = 0;
  const std::string dirPath = (dir / "a-folder").string();
  std::filesystem::create_directory(dirPath);
  const std::string emptyPath = write("empty.xm", {});

  struct Case {
    const char* name;
    const std::vector<uint8_t>* bytes;  // else the path
    std::string path;
    int rate;
    vxm_status status;
    const char* says;
  } cases[] = {
      {"wrong signature", &wrongSignature, "", 0, VXM_ERROR_FORMAT, "wrong signature"},
      {"cut header", &cutHeader, "", 0, VXM_ERROR_FORMAT, "cut short"},
      {"no channels", &noChannels, "", 0, VXM_ERROR_FORMAT, "0 channels"},
      {"rate too low", &good, "", 7999, VXM_ERROR_ARGUMENT, "8000 to 192000"},
      {"rate too high", &good, "", 192001, VXM_ERROR_ARGUMENT, "8000 to 192000"},
      {"missing file", nullptr, (dir / "missing.xm").string(), 0, VXM_ERROR_OPEN, "No such file"},
      {"folder", nullptr, dirPath, 0, VXM_ERROR_READ, "directory"},
      {"empty file", nullptr, emptyPath, 0, VXM_ERROR_FORMAT, "empty file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vxm_error error;
    vxm_song* song = c.bytes ? vxm_load_memory(c.bytes->data(), c.bytes->size(), c.rate, &error)
                             : vxm_load_file(c.path.c_str(), c.rate, &error);
    EXPECT_EQ(song, nullptr);
    vxm_free(song);
    EXPECT_EQ(error.status, c.status);
    EXPECT_NE(std::string(error.message).find(c.says), std::string::npos) << error.message;
  }
  // Readers that fail: the read, or the rewind before it.
  struct Reader {
    int rewound;
    bool fails;
  };
  const vxm_io failingRead{[](void* user, void*, size_t) -> size_t {
                             return static_cast<Reader*>(user)->fails ? VXM_IO_ERROR : 0;
                           },
                           [](void* user) -> int { return static_cast<Reader*>(user)->rewound++ >= 0 ? 1 : 0; }};
  const vxm_io failingRewind{failingRead.read, [](void*) -> int { return 0; }};
  Reader reader{0, true};
  vxm_error error;
  EXPECT_EQ(vxm_load_io(&failingRead, &reader, 0, &error), nullptr);
  EXPECT_EQ(error.status, VXM_ERROR_READ);
  EXPECT_NE(std::string(error.message).find("read callback"), std::string::npos) << error.message;
  EXPECT_EQ(reader.rewound, 1);
  EXPECT_EQ(vxm_load_io(&failingRewind, &reader, 0, &error), nullptr);
  EXPECT_EQ(error.status, VXM_ERROR_READ);
  EXPECT_NE(std::string(error.message).find("rewind"), std::string::npos) << error.message;

  // The probe judges the first bytes alone, as a load would.
  EXPECT_EQ(vxm_probe(good.data(), VXM_PROBE_BYTES, &error), VXM_OK);
  EXPECT_EQ(vxm_probe(good.data(), 17, nullptr), VXM_OK);
  EXPECT_EQ(vxm_probe(good.data(), 16, nullptr), VXM_ERROR_FORMAT);
  EXPECT_EQ(vxm_probe(wrongSignature.data(), wrongSignature.size(), &error), VXM_ERROR_FORMAT);
  EXPECT_NE(std::string(error.message).find("wrong signature"), std::string::npos);
  EXPECT_EQ(vxm_probe(noChannels.data(), VXM_PROBE_BYTES, &error), VXM_ERROR_FORMAT);
  EXPECT_NE(std::string(error.message).find("0 channels"), std::string::npos);
  EXPECT_EQ(vxm_probe(nullptr, 10, nullptr), VXM_ERROR_ARGUMENT);

  EXPECT_EQ(vxm_load_memory(nullptr, 10, 0, &error), nullptr);
  EXPECT_EQ(error.status, VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_load_file(nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(vxm_load_io(nullptr, nullptr, 0, &error), nullptr);
  EXPECT_EQ(error.status, VXM_ERROR_ARGUMENT);
  // Null songs are harmless everywhere.
  EXPECT_EQ(vxm_render_s16(nullptr, nullptr, 10), 0u);
  EXPECT_STREQ(vxm_title(nullptr), "");
  EXPECT_EQ(vxm_seek_ms(nullptr, 0), VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_set_play_count(nullptr, 1), VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_measure(nullptr, 1, -1).frames, -1);
  EXPECT_STREQ(vxm_warning(nullptr), "");
}

TEST_F(ApiTest, TellsWhatTheModuleHolds) {
  const std::vector<uint8_t> bytes = build(tune());
  Song song(vxm_load_memory(bytes.data(), bytes.size(), 0, nullptr));
  ASSERT_TRUE(song.s);
  EXPECT_STREQ(vxm_title(song.s), "test module");
  EXPECT_STREQ(vxm_tracker(song.s), "vantor tests");
  EXPECT_EQ(vxm_channel_count(song.s), 2);
  EXPECT_EQ(vxm_pattern_count(song.s), 2);
  EXPECT_EQ(vxm_instrument_count(song.s), 1);
  EXPECT_EQ(vxm_sample_count(song.s), 1);
  EXPECT_EQ(vxm_instrument_sample_count(song.s, 0), 1);
  EXPECT_EQ(vxm_linear_frequencies(song.s), 1);
  EXPECT_EQ(vxm_order_count(song.s), 4);
  EXPECT_EQ(vxm_order_pattern(song.s, 1), 1);
  EXPECT_EQ(vxm_order_pattern(song.s, 4), 0);
  EXPECT_STREQ(vxm_sample_name(song.s, 0, 1), "");
  const int64_t frames = xm_song_length(load_bytes(bytes).get(), 44100).frames;
  EXPECT_EQ(vxm_length_ms(song.s), frames * 1000 / 44100);
  EXPECT_STREQ(vxm_warning(song.s), "");
  EXPECT_EQ(vxm_rate(song.s), 44100);
  EXPECT_EQ(vxm_version(), VXM_VERSION);

  // Names are the bytes read as code page 437, in UTF-8; the bytes
  // themselves are there too.
  std::vector<uint8_t> named = bytes;
  const char title[] = "Beno\xEEt \x8C\x01\xB0 ";
  std::copy(title, title + sizeof title, named.begin() + 17);
  Song cp437(vxm_load_memory(named.data(), named.size(), 0, nullptr));
  ASSERT_TRUE(cp437.s);
  EXPECT_STREQ(vxm_title(cp437.s), "Beno\u03B5t \u00EE\u263A\u2591");
  EXPECT_STREQ(vxm_name_bytes(cp437.s, VXM_NAME_TITLE, 0, 0), "Beno\xEEt \x8C\x01\xB0");
  EXPECT_STREQ(vxm_name_bytes(cp437.s, VXM_NAME_TRACKER, 5, 5), "vantor tests");
  EXPECT_STREQ(vxm_name_bytes(cp437.s, VXM_NAME_SAMPLE, 0, 1), "");
  EXPECT_STREQ(vxm_version_string(), VXM_VERSION_STRING);

#ifdef VANTOR_COMPOSED_MODULE
  // The intro's own module names its instruments and samples, space-padded.
  Song composed(vxm_load_file(VANTOR_COMPOSED_MODULE, 0, nullptr));
  ASSERT_TRUE(composed.s);
  EXPECT_STREQ(vxm_tracker(composed.s), "xm-compose");
  EXPECT_STREQ(vxm_instrument_name(composed.s, 0), "kick");
  EXPECT_STREQ(vxm_sample_name(composed.s, 0, 0), "sine kick");
#endif
}

TEST_F(ApiTest, RatesSeeksPlayCountsMutesAndGain) {
  const std::vector<uint8_t> bytes = build(tune());
  auto load = [&](int rate) { return vxm_load_memory(bytes.data(), bytes.size(), rate, nullptr); };

  // A tick lasts as long at every rate: the song's length is the same to
  // within a frame, as it renders and as it is measured; and a song moved to
  // another rate plays on as one loaded at that rate.
  const int64_t length44 = vxm_length_ms(Song(load(44100)).s);
  for (int rate : {8000, 22050, 44100, 48000, 96000, 192000}) {
    SCOPED_TRACE(rate);
    Song song(load(rate));
    ASSERT_TRUE(song.s);
    const double seconds = static_cast<double>(render_all(song.s, 4096).size() / 2) / rate;
    EXPECT_NEAR(static_cast<double>(vxm_length_ms(song.s)), static_cast<double>(length44), 1.0);
    EXPECT_NEAR(seconds * 1000.0, static_cast<double>(length44), 1.0);
    EXPECT_NEAR(seconds, static_cast<double>(vxm_time_ms(song.s)) / 1000.0, 0.001);
    Song moved(load(44100));
    ASSERT_EQ(vxm_seek_ms(moved.s, 1000), VXM_OK);
    ASSERT_EQ(vxm_set_rate(moved.s, rate), VXM_OK);
    EXPECT_EQ(vxm_rate(moved.s), rate);
    EXPECT_EQ(vxm_time_ms(moved.s), 1000);
    Song loaded(load(rate));
    ASSERT_EQ(vxm_seek_ms(loaded.s, 1000), VXM_OK);
    EXPECT_EQ(render_all(moved.s, 1000), render_all(loaded.s, 1000));
  }
  EXPECT_EQ(vxm_set_rate(Song(load(44100)).s, 7999), VXM_ERROR_ARGUMENT);

  Song whole(load(44100));
  vxm_set_play_count(whole.s, 3);
  const Frames full = render_all(whole.s, 4096);
  SongPtr reference = load_bytes(bytes);
  EXPECT_EQ(static_cast<int64_t>(full.size() / 2), xm_song_length(reference.get(), 44100, 3).frames);

  // A seek in time plays on exactly as the render from the start did.
  for (int64_t ms : {0, 1, 777, 2500}) {
    SCOPED_TRACE(ms);
    Song song(load(44100));
    vxm_set_play_count(song.s, 3);
    ASSERT_EQ(vxm_seek_ms(song.s, ms), VXM_OK);
    EXPECT_EQ(vxm_time_ms(song.s), ms);
    const Frames rest = render_all(song.s, 1500);
    const size_t skip = static_cast<size_t>(2 * ((ms * 44100 + 999) / 1000));
    ASSERT_EQ(rest.size(), full.size() - skip);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), full.begin() + static_cast<std::ptrdiff_t>(skip)));
  }

  // A seek to an order lands where the song first gets there, as it plays
  // from its start: order 0 has 8 rows at speed 6 and 8 at speed 4. The
  // channels tell what they play.
  Song ordered(load(44100));
  ASSERT_EQ(vxm_seek_order(ordered.s, 1), VXM_OK);
  EXPECT_EQ(vxm_seek_order(ordered.s, 4), VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_seek_row(ordered.s, 1, 16), VXM_ERROR_ARGUMENT);
  const int64_t orderOne = (8 * 6 + 8 * 4) * 882;
  EXPECT_EQ(vxm_time_ms(ordered.s), orderOne * 1000 / 44100);
  const Frames fromOrderOne = render_all(ordered.s, 1111);
  EXPECT_TRUE(std::equal(fromOrderOne.begin(), fromOrderOne.end(), full.begin() + 2 * orderOne));
  ASSERT_EQ(vxm_seek_order(ordered.s, 1), VXM_OK);
  int16_t some[2 * 100];
  vxm_render_s16(ordered.s, some, 100);
  EXPECT_EQ(vxm_order(ordered.s), 1);
  EXPECT_EQ(vxm_pattern(ordered.s), 1);
  EXPECT_EQ(vxm_speed(ordered.s), 4);
  EXPECT_EQ(vxm_tempo(ordered.s), 125);
  vxm_channel_state state;
  ASSERT_TRUE(vxm_channel(ordered.s, 0, &state));
  EXPECT_EQ(state.note, 49) << "order 0's note rings on";
  EXPECT_EQ(state.level, 127);
  ASSERT_TRUE(vxm_channel(ordered.s, 1, &state));
  EXPECT_EQ(state.note, 61);
  EXPECT_EQ(state.instrument, 1);
  EXPECT_EQ(state.volume, 64);
  EXPECT_EQ(state.level, 127);
  EXPECT_FALSE(vxm_channel(ordered.s, 2, &state)) << "two channels only";
  // Speed 4 from pattern 0's row 8 on.
  Song timed(load(44100));
  render_all(timed.s, 4096, 44100 * 3 / 2);
  EXPECT_EQ(vxm_order(timed.s), 0);
  EXPECT_GE(vxm_row(timed.s), 8);
  EXPECT_EQ(vxm_speed(timed.s), 4);

  // For ever means no end.
  Song forever(load(44100));
  vxm_set_play_count(forever.s, 0);
  EXPECT_GE(render_all(forever.s, 4096, full.size()).size(), 2 * full.size());
  EXPECT_FALSE(vxm_ended(forever.s));

  // All channels muted: silence, though the song goes on; unmuted, sound.
  Song muted(load(44100));
  for (int c = 0; c < 2; ++c) vxm_mute_channel(muted.s, c, 1);
  const Frames quiet = render_all(muted.s, 4096, 44100);
  EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](int16_t v) { return v == 0; }));
  ASSERT_TRUE(vxm_channel(muted.s, 0, &state));
  EXPECT_EQ(state.note, 49) << "a muted channel still plays its notes";
  EXPECT_EQ(state.level, 0) << "unheard";
  for (int c = 0; c < 2; ++c) vxm_mute_channel(muted.s, c, 0);
  const Frames loud = render_all(muted.s, 4096, 4410);
  EXPECT_TRUE(std::any_of(loud.begin(), loud.end(), [](int16_t v) { return v != 0; }));

  // The tracker's rules, chosen before rendering, play the song from its
  // start their way: its centred notes keep their power on each side (the
  // square-root pan law), where the player's own rules halve it. Chosen
  // back, the player's own play exactly as before.
  Song byRules(load(44100));
  EXPECT_EQ(vxm_get_rules(byRules.s), VXM_RULES_PLAYER);
  EXPECT_EQ(vxm_set_rules(nullptr, VXM_RULES_TRACKER), VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_set_rules(byRules.s, static_cast<vxm_rules>(2)), VXM_ERROR_ARGUMENT);
  ASSERT_EQ(vxm_set_rules(byRules.s, VXM_RULES_TRACKER), VXM_OK);
  EXPECT_EQ(vxm_get_rules(byRules.s), VXM_RULES_TRACKER);
  const Frames tracker = render_all(byRules.s, 4096, 4410);
  double trackerPower = 0, playerPower = 0;
  for (size_t i = 0; i < tracker.size(); ++i) {
    const double t = tracker[i], f = full[i];
    trackerPower += t * t;
    playerPower += f * f;
  }
  EXPECT_NEAR(10 * std::log10(trackerPower / playerPower), 3.0, 0.3);
  ASSERT_EQ(vxm_set_rules(byRules.s, VXM_RULES_PLAYER), VXM_OK);
  const Frames again = render_all(byRules.s, 4096, 4410);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), full.begin()));

  // The gain scales the mix; 1 is the plain output.
  Song halved(load(44100));
  vxm_set_gain(halved.s, 0.5f);
  Song floats(load(44100));
  std::vector<float> f(2 * 4096);
  const Frames half = render_all(halved.s, 4096, 4096);
  ASSERT_EQ(vxm_render_f32(floats.s, f.data(), 4096), 4096u);
  for (size_t i = 0; i < half.size(); ++i) {
    EXPECT_NEAR(half[i], std::nearbyint(full[i] * 0.5), 1.0) << i;
    EXPECT_NEAR(f[i] * 32768.0f, full[i], 0.5f) << i;
  }
}

// What a song changes as it plays (effect E5's finetunes too) belongs to
// its playback: a seek to the start plays as the first time did, and songs
// rendered at once on eight threads, the same module on two of them, play
// exactly as each does alone.
TEST_F(ApiTest, SongsPlayAlikeAfterASeekAndInParallel) {
  const std::vector<uint8_t> retuned = build(tune(49, true));
  for (int play = 0; play < 2; ++play) {
    Song song(vxm_load_memory(retuned.data(), retuned.size(), 0, nullptr));
    ASSERT_TRUE(song.s);
    vxm_set_play_count(song.s, 2);
    const Frames first = render_all(song.s, 1000);
    ASSERT_EQ(play == 0 ? vxm_seek_ms(song.s, 0) : vxm_seek_order(song.s, 0), VXM_OK);
    EXPECT_EQ(render_all(song.s, 777), first) << (play == 0 ? "after a seek to 0 ms" : "after a seek to order 0");
  }

  std::vector<std::vector<uint8_t>> modules;
  for (int i = 0; i < 8; ++i) modules.push_back(build(tune(i == 1 ? 37 : 37 + 3 * i, i % 2 == 0 || i == 1)));
  auto render = [&](int i) {
    Song song(vxm_load_memory(modules[static_cast<size_t>(i)].data(), modules[static_cast<size_t>(i)].size(),
                              i == 1 ? 22050 : 22050 + 1000 * i, nullptr));
    vxm_set_play_count(song.s, 2);
    return render_all(song.s, 777);
  };
  std::vector<Frames> alone(8), together(8);
  for (int i = 0; i < 8; ++i) alone[static_cast<size_t>(i)] = render(i);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { together[static_cast<size_t>(i)] = render(i); });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 8; ++i) {
    EXPECT_FALSE(alone[static_cast<size_t>(i)].empty());
    EXPECT_EQ(together[static_cast<size_t>(i)], alone[static_cast<size_t>(i)]) << "song " << i;
  }
  EXPECT_EQ(together[0], together[1]) << "one module, two songs";
}

// Seeks count from the song's start and land in the state playing from
// there reaches; the row callback gets the same frames either way, and may
// call anything on its song, a seek back looping a section seamlessly.
TEST_F(ApiTest, SeeksAndTheRowCallbackKeepTheSongsTimeline) {
  const std::vector<uint8_t> bytes = build(tune());
  auto load = [&] { return vxm_load_memory(bytes.data(), bytes.size(), 0, nullptr); };
  // Orders 0 1 2 3, then 1 2 3 again: order 2 (pattern 0 at speed 4) starts
  // after order 0's 80 ticks and order 1's 64, order 3 64 ticks later.
  const int64_t orderTwo = (80 + 64) * 882, orderThree = orderTwo + 64 * 882;
  Song straight(load());
  vxm_set_play_count(straight.s, 0);
  const Frames reference = render_all(straight.s, 4096, orderThree + 3 * (orderThree - orderTwo));

  struct Log {
    std::vector<std::vector<int64_t>> rows;  // order, row, frame
    vxm_song* song = nullptr;
    int loops = 0;
  };
  auto log_row = [](void* user, int order, int row, int64_t frame) {
    static_cast<Log*>(user)->rows.push_back({order, row, frame});
  };
  Log fromStart, afterSeek;
  Song a(load()), b(load());
  vxm_set_row_callback(a.s, log_row, &fromStart);
  vxm_set_row_callback(b.s, log_row, &afterSeek);
  render_all(a.s, orderTwo + 5000, orderTwo + 5000);
  ASSERT_EQ(vxm_seek_row(b.s, 2, 0), VXM_OK);
  EXPECT_EQ(vxm_time_ms(b.s), orderTwo * 1000 / 44100);
  EXPECT_EQ(vxm_order(b.s), 2);
  EXPECT_EQ(vxm_row(b.s), 0);
  render_all(b.s, 5000, 5000);
  ASSERT_EQ(afterSeek.rows.size(), 2u);
  EXPECT_EQ(afterSeek.rows[0], (std::vector<int64_t>{2, 0, orderTwo}));
  EXPECT_TRUE(std::equal(afterSeek.rows.begin(), afterSeek.rows.end(), fromStart.rows.end() - 2));
  EXPECT_EQ(fromStart.rows[8], (std::vector<int64_t>{0, 8, 8 * 6 * 882}));
  EXPECT_EQ(fromStart.rows[16], (std::vector<int64_t>{1, 0, 80 * 882}));

  // Order 2 to order 3, looped three times from inside the callback, plays
  // what the section plays straight; odd pieces cross the blocks anywhere.
  Log looper;
  Song looped(load());
  looper.song = looped.s;
  vxm_set_play_count(looped.s, 0);
  vxm_set_row_callback(
      looped.s,
      [](void* user, int order, int row, int64_t) {
        auto* l = static_cast<Log*>(user);
        if (order == 3 && row == 0 && l->loops++ < 3) vxm_seek_row(l->song, 2, 0);
      },
      &looper);
  Frames loops = render_all(looped.s, 333, orderThree + 3 * (orderThree - orderTwo));
  Frames expected(reference.begin(), reference.begin() + 2 * orderThree);
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(), reference.begin() + 2 * orderTwo, reference.begin() + 2 * orderThree);
  }
  ASSERT_GE(loops.size(), expected.size());
  loops.resize(expected.size());
  EXPECT_TRUE(loops == expected) << "a loop differs from the section played straight";

  // Anything else from the callback: gain, rate, mute, play count and free.
  struct Calls {
    vxm_song* song;
    int rows = 0;
  } calls{nullptr};
  auto busy = [](void* user, int, int, int64_t) {
    auto* c = static_cast<Calls*>(user);
    switch (++c->rows) {
      case 2: vxm_set_gain(c->song, 0.5f); break;
      case 3: vxm_mute_channel(c->song, 0, 1); break;
      case 4: vxm_set_rate(c->song, 22050); break;
      case 6: vxm_set_play_count(c->song, 2); break;
      case 7: vxm_seek_ms(c->song, 100); break;
      case 10: vxm_free(c->song); break;
      default: break;
    }
  };
  vxm_song* busySong = load();
  calls.song = busySong;
  vxm_set_row_callback(busySong, busy, &calls);
  std::vector<int16_t> pcm(2 * 88200);
  const size_t got = vxm_render_s16(busySong, pcm.data(), 88200);
  EXPECT_LT(got, 88200u) << "freed from the callback: the rendering ends there";
  EXPECT_EQ(calls.rows, 10);
}

// Lengths and seeks cost the same whatever the count or the target: the
// plays' ends are arithmetic, a seek past the end lands there at once, and
// an overflowing value is refused.
TEST_F(ApiTest, CountsAndSeeksOfAnySize) {
  const std::vector<uint8_t> bytes = build(tune());
  Song song(vxm_load_memory(bytes.data(), bytes.size(), 0, nullptr));
  const vxm_length one = vxm_measure(song.s, 1, -1), two = vxm_measure(song.s, 2, -1),
                   three = vxm_measure(song.s, 3, -1), most = vxm_measure(song.s, INT_MAX, -1);
  EXPECT_EQ(one.frames, (80 + 64 * 3) * 882);
  EXPECT_EQ(three.frames - two.frames, two.frames - one.frames);
  EXPECT_EQ(most.frames, one.frames + int64_t{INT_MAX - 1} * (two.frames - one.frames));
  EXPECT_EQ(most.order, 1);
  EXPECT_EQ(most.ended, 1);
  const vxm_length capped = vxm_measure(song.s, INT_MAX, 44100 * 3600);
  EXPECT_EQ(capped.frames, 44100 * 3600);
  EXPECT_EQ(capped.ended, 0);

  const int64_t day = int64_t{24} * 3600 * 1000;
  ASSERT_EQ(vxm_seek_ms(song.s, day), VXM_OK);
  EXPECT_EQ(vxm_time_ms(song.s), one.frames * 1000 / 44100) << "at the end of the one play";
  EXPECT_TRUE(vxm_ended(song.s));
  int16_t pcm[2 * 64];
  EXPECT_EQ(vxm_render_s16(song.s, pcm, 64), 0u);
  // More plays: from the end of the first on.
  ASSERT_EQ(vxm_set_play_count(song.s, INT_MAX), VXM_OK);
  EXPECT_FALSE(vxm_ended(song.s));
  EXPECT_EQ(vxm_render_s16(song.s, pcm, 64), 64u);
  Song reference(vxm_load_memory(bytes.data(), bytes.size(), 0, nullptr));
  vxm_set_play_count(reference.s, 0);
  ASSERT_EQ(vxm_seek_ms(reference.s, one.frames * 1000 / 44100 + 1), VXM_OK);
  EXPECT_EQ(vxm_order(reference.s), 1);

  // A day into a song played for ever: the time says so, and it plays the
  // same point of its second play (plays after the first last 3840 ms).
  ASSERT_EQ(vxm_seek_ms(song.s, day), VXM_OK);
  EXPECT_EQ(vxm_time_ms(song.s), day);
  const int64_t firstMs = one.frames * 1000 / 44100, playMs = (two.frames - one.frames) * 1000 / 44100;
  ASSERT_EQ(playMs, 3840);
  ASSERT_EQ(vxm_seek_ms(reference.s, firstMs + (day - firstMs) % playMs), VXM_OK);
  EXPECT_EQ(vxm_order(song.s), vxm_order(reference.s));
  EXPECT_EQ(vxm_row(song.s), vxm_row(reference.s));
  EXPECT_EQ(render_all(song.s, 3000, 3000), render_all(reference.s, 3000, 3000));
  EXPECT_EQ(vxm_time_ms(song.s), day + 68);

  EXPECT_EQ(vxm_seek_ms(song.s, INT64_MAX), VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_seek_ms(song.s, -1), VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_time_ms(song.s), day + 68) << "a refused seek changes nothing";
  EXPECT_EQ(vxm_set_gain(song.s, NAN), VXM_ERROR_ARGUMENT);
  EXPECT_EQ(vxm_mute_channel(song.s, 2, 1), VXM_ERROR_ARGUMENT) << "two channels";
}

// Out of memory at every allocation in turn: each load fails with
// VXM_ERROR_MEMORY and leaves nothing behind, until it succeeds; after it,
// no call but a change of rules or rate and a seek to an order the song
// never reaches allocates, and those fail leaving the song as it was.
TEST_F(ApiTest, EveryCallSurvivesEachFailedAllocation) {
  ModuleDef m = tune();
  m.orders = {0, 1, 0, 1, 0};  // order 4 is never played: order 3 ends
  m.set(1, 15, 1, cell(0, 0, 0, fx('B'), 1));
  const std::vector<uint8_t> bytes = build(m);
  const std::string path = write("tune.xm", bytes);
  ByteReader reader{&bytes, 0, SIZE_MAX};
  auto load = [&](int way, vxm_error* error) {
    PipeStream stream(bytes);
    return way == 0   ? vxm_load_memory(bytes.data(), bytes.size(), 0, error)
           : way == 1 ? vxm_load_file(path.c_str(), 0, error)
           : way == 2 ? vxm_load_io(&byteReaderIo, &reader, 0, error)
                      : vxm_load_stdio(stream.read, 0, error);
  };
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    long failing = 0;
    vxm_song* song = nullptr;
    for (; !song; ++failing) {
      vxm_error error;
      xm_fail_allocations_after(failing);
      song = load(way, &error);
      xm_fail_allocations_after(-1);
      if (!song) {
        ASSERT_EQ(error.status, VXM_ERROR_MEMORY) << failing << ": " << error.message;
      }
    }
    EXPECT_GT(failing, 5);
    vxm_free(song);
  }

  // Loaded, nothing more to allocate for playing, seeking and asking.
  Song song(load(0, nullptr));
  Song twin(load(0, nullptr));
  xm_fail_allocations_after(0);
  vxm_set_row_callback(song.s, [](void*, int, int, int64_t) {}, nullptr);
  EXPECT_EQ(vxm_set_play_count(song.s, 3), VXM_OK);
  EXPECT_EQ(vxm_seek_ms(song.s, 5000), VXM_OK);
  EXPECT_EQ(vxm_seek_order(song.s, 1), VXM_OK);
  EXPECT_EQ(vxm_seek_row(song.s, 0, 3), VXM_OK);
  EXPECT_GT(vxm_measure(song.s, INT_MAX, -1).frames, 0);
  EXPECT_GT(vxm_length_ms(song.s), 0);
  EXPECT_EQ(vxm_mute_channel(song.s, 1, 1), VXM_OK);
  EXPECT_EQ(vxm_mute_channel(song.s, 1, 0), VXM_OK);
  EXPECT_EQ(vxm_set_gain(song.s, 0.5f), VXM_OK);
  EXPECT_GE(render_all(song.s, 999, 20000).size(), 2u * 20000);
  EXPECT_EQ(vxm_set_gain(song.s, 1.0f), VXM_OK);
  EXPECT_EQ(vxm_probe(bytes.data(), bytes.size(), nullptr), VXM_OK);
  xm_fail_allocations_after(-1);

  // The calls that allocate, failing at each allocation in turn.
  vxm_set_play_count(twin.s, 3);
  vxm_seek_row(twin.s, 0, 3);
  vxm_set_gain(twin.s, 0.5f);
  render_all(twin.s, 999, 20000);
  vxm_set_gain(twin.s, 1.0f);
  auto allocating = [](vxm_song* s, int call) {
    return call == 0 ? vxm_set_rules(s, VXM_RULES_TRACKER)
                     : (call == 1 ? vxm_set_rate(s, 22050) : vxm_seek_order(s, 4));
  };
  for (int call = 0; call < 3; ++call) {
    SCOPED_TRACE(call);
    vxm_status status = VXM_ERROR_MEMORY;
    for (long failing = 0; status == VXM_ERROR_MEMORY; ++failing) {
      const int64_t before = vxm_time_ms(song.s);
      xm_fail_allocations_after(failing);
      status = allocating(song.s, call);
      xm_fail_allocations_after(-1);
      if (status != VXM_ERROR_MEMORY) break;
      EXPECT_EQ(vxm_time_ms(song.s), before);
      EXPECT_EQ(render_all(song.s, 1000, 1000), render_all(twin.s, 1000, 1000)) << failing;
    }
    ASSERT_EQ(status, VXM_OK);
    ASSERT_EQ(allocating(twin.s, call), VXM_OK);
  }
  EXPECT_EQ(vxm_get_rules(song.s), VXM_RULES_TRACKER);
  EXPECT_EQ(vxm_rate(song.s), 22050);
  EXPECT_EQ(vxm_order(song.s), 4);
  EXPECT_EQ(vxm_time_ms(song.s), 0) << "a fresh start counts from there";
  EXPECT_EQ(render_all(song.s, 3000, 3000), render_all(twin.s, 3000, 3000));
}
