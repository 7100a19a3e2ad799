// xm-conformance: plays every module of a folder of XM playback tests and
// says, module by module, whether it sounds as the tracker that defined the
// format plays it.
//
//   xm-conformance FOLDER [--rules tracker|player] [--expect N]
//
// Most such test modules play the rule under test on the left and the
// tracker's own recorded result on the right, so a faithful player sounds
// the same on both sides: a module agrees when at least 95% of its 10 ms
// blocks have left and right levels within 3 dB of each other. Levels below
// -60 dBFS count as that floor, so two near-silent sides agree, and a side
// left silent agrees only with a side barely above it. Modules whose own
// texts describe another check get that check as well (the table below).
// A module with such a check agrees when it passes it.
// Exit status: 0 when at least N modules agree, 1 when
// fewer do, 2 for a usage error, 77 when the folder is not there.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vantor_xm.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = kRate / 100;             // 10 ms
constexpr double kFloor = 32768.0 / 1000.0;     // -60 dBFS, as an RMS level
constexpr double kAgreeShare = 0.95;
// What a module that should stay silent may leave: the test modules cancel
// a sample with its inverted copy, and an 8-bit inversion leaves a small
// constant (about -54 dBFS).
constexpr double kSilence = 32768.0 / 100.0;  // -40 dBFS
constexpr int64_t kMaxFrames = int64_t{180} * kRate;

struct Level {
  double left, right;
};

double db(double a, double b) { return 20.0 * std::log10(std::max(a, kFloor) / std::max(b, kFloor)); }
bool quiet(double level) { return level < kFloor; }
bool silent(const Level& l) { return l.left < kSilence && l.right < kSilence; }

// RMS levels of every 10 ms block of one play of the module (or `plays`);
// the instruments of the notes on each row played go to `rowInstruments`.
std::vector<Level> render_levels(const std::vector<uint8_t>& bytes, vxm_rules rules, std::string* error,
                                 std::vector<int>* rowInstruments = nullptr, int plays = 1);

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// --- The module's bytes: where each sample's data lies -------------------

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return at + 4 <= b.size() ? b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24 : 0;
}
uint16_t u16(const std::vector<uint8_t>& b, size_t at) {
  return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}

struct SampleData {
  int instrument;  // 1-based, as in the patterns
  std::string name;
  size_t offset, bytes;
  bool sixteenBit;
};

struct Cells {
  int channels = 0;
  std::vector<std::vector<uint8_t>> patterns;  // 5 bytes per cell: note, instrument, volume, effect, param
  std::vector<int> rows;
};

// Walks the file as the format lays it out, honouring every stated header
// length; stops quietly where the file ends.
std::vector<SampleData> sample_data(const std::vector<uint8_t>& b, Cells* cells = nullptr) {
  std::vector<SampleData> out;
  if (b.size() < 80) return out;
  size_t p = 60 + u32(b, 60);
  const int channels = u16(b, 68), patterns = u16(b, 70), instruments = u16(b, 72);
  if (cells) cells->channels = channels;
  for (int i = 0; i < patterns && p + 9 <= b.size(); ++i) {
    const int rows = u16(b, p + 5);
    const size_t packed = u16(b, p + 7);
    const size_t start = p + u32(b, p);
    if (cells) {
      std::vector<uint8_t> unpacked(static_cast<size_t>(rows) * channels * 5, 0);
      size_t q = start;
      for (size_t c = 0; packed && c < static_cast<size_t>(rows) * channels && q < start + packed && q < b.size(); ++c) {
        const uint8_t first = b[q++];
        for (int f = 0; f < 5; ++f) {
          const bool present = (first & 0x80) ? (first >> f & 1) : true;
          if (!(first & 0x80) && f == 0) {
            unpacked[c * 5] = first;
            continue;
          }
          if (present && q < b.size()) unpacked[c * 5 + f] = b[q++];
        }
      }
      cells->patterns.push_back(std::move(unpacked));
      cells->rows.push_back(rows);
    }
    p = start + packed;
  }
  for (int i = 0; i < instruments && p + 29 <= b.size(); ++i) {
    const size_t headerSize = u32(b, p);
    const int samples = u16(b, p + 27);
    size_t h = p + headerSize;
    std::vector<SampleData> these;
    for (int s = 0; s < samples && h + 40 <= b.size(); ++s, h += 40) {
      std::string name(reinterpret_cast<const char*>(&b[h + 18]), 22);
      name = name.substr(0, name.find('\0'));
      these.push_back({i + 1, name, 0, u32(b, h), (b[h + 14] & 0x10) != 0});
    }
    for (SampleData& s : these) {
      s.offset = h;
      h += s.bytes;
      out.push_back(s);
    }
    p = h;
  }
  return out;
}

// The module with every sample's data that `keep` refuses set to silence.
template <typename Keep>
std::vector<uint8_t> only_samples(std::vector<uint8_t> b, Keep keep) {
  for (const SampleData& s : sample_data(b)) {
    if (keep(s)) continue;
    for (size_t i = s.offset; i < s.offset + s.bytes && i < b.size(); ++i) b[i] = 0;
  }
  return b;
}

// The decoded values of a sample (delta coded in the file).
std::vector<int> decode(const std::vector<uint8_t>& b, const SampleData& s) {
  std::vector<int> v;
  int sum = 0;
  const size_t step = s.sixteenBit ? 2 : 1;
  for (size_t i = s.offset; i + step <= s.offset + s.bytes && i + step <= b.size(); i += step) {
    if (s.sixteenBit) {
      sum = static_cast<int16_t>(sum + static_cast<int16_t>(u16(b, i)));
      v.push_back(sum);
    } else {
      sum = static_cast<int8_t>(sum + static_cast<int8_t>(b[i]));
      v.push_back(sum * 256);
    }
  }
  return v;
}

// --- Rendering ------------------------------------------------------------

struct RowLog {
  const Cells* cells;
  const std::vector<uint8_t>* orders;
  std::vector<int>* instruments;
};

void on_row(void* user, int order, int row, int64_t) {
  auto* log = static_cast<RowLog*>(user);
  if (order < 0 || order >= static_cast<int>(log->orders->size())) return;
  const size_t pattern = (*log->orders)[order];
  if (pattern >= log->cells->patterns.size() || row >= log->cells->rows[pattern]) return;
  for (int c = 0; c < log->cells->channels; ++c) {
    const uint8_t* cell = &log->cells->patterns[pattern][(static_cast<size_t>(row) * log->cells->channels + c) * 5];
    if (cell[0] >= 1 && cell[0] <= 96 && cell[1] != 0) log->instruments->push_back(cell[1]);
  }
}

std::vector<Level> render_levels(const std::vector<uint8_t>& bytes, vxm_rules rules, std::string* error,
                                 std::vector<int>* rowInstruments, int plays) {
  std::vector<Level> levels;
  vxm_error e;
  vxm_song* song = vxm_load_memory(bytes.data(), bytes.size(), kRate, &e);
  if (!song) {
    *error = e.message;
    return levels;
  }
  vxm_set_rules(song, rules);
  Cells cells;
  std::vector<uint8_t> orders;
  RowLog log{&cells, &orders, rowInstruments};
  if (rowInstruments) {
    sample_data(bytes, &cells);
    for (int i = 0; i < vxm_order_count(song); ++i) orders.push_back(static_cast<uint8_t>(vxm_order_pattern(song, i)));
    vxm_set_row_callback(song, on_row, &log);
  }
  const int64_t frames = std::min(vxm_measure(song, plays, kMaxFrames).frames, kMaxFrames);
  vxm_set_play_count(song, 0);
  std::vector<int16_t> pcm(2 * kBlock);
  for (int64_t done = 0; done + kBlock <= frames; done += kBlock) {
    vxm_render_s16(song, pcm.data(), kBlock);
    double l = 0, r = 0;
    for (int i = 0; i < kBlock; ++i) {
      const double a = pcm[2 * i], b = pcm[2 * i + 1];
      l += a * a;
      r += b * b;
    }
    levels.push_back({std::sqrt(l / kBlock), std::sqrt(r / kBlock)});
  }
  vxm_free(song);
  return levels;
}

// --- The checks -------------------------------------------------------------

template <typename Pass>
double share(const std::vector<Level>& levels, Pass pass) {
  if (levels.empty()) return 1.0;
  size_t n = 0;
  for (const Level& l : levels) n += pass(l) ? 1 : 0;
  return static_cast<double>(n) / static_cast<double>(levels.size());
}

double left_right_share(const std::vector<Level>& levels) {
  return share(levels, [](const Level& l) { return std::fabs(db(l.left, l.right)) <= 3.0; });
}

enum class Kind {
  Silent,     // the module's text: it stays silent when played right
  RightOnly,  // every note panned hard right: the left side at least 12 dB below
  Recorded,   // samples named "... Left" and "... Right" hold the tracker's two sides:
              // the balance of left and right follows them within 3 dB
  Steady,     // "a static buzz": the level stays within 3 dB of its median
  Voices,     // a spoken result: `unheard` instruments never sound, and the
              // notes on the rows played say `sequence`
};

struct Check {
  const char* module;
  Kind kind;
  const char* unheard = "";   // instrument numbers, e.g. "1"
  const char* sequence = "";  // instrument numbers of the first notes played, in order
  const char* voices = "";    // the instruments that count for `sequence`
  const char* later = "";     // and what they say some time after
};

// What the modules' own texts (titles, instrument and sample names, the
// suite's page) ask for beyond agreeing left and right.
const Check checks[] = {
    {"DelayCombination.xm", Kind::Silent},
    {"DelayVolume.xm", Kind::Silent},
    {"E90.xm", Kind::Silent},
    {"FineVol-LinkMem.xm", Kind::Silent},
    {"NoteOffFade.xm", Kind::Silent},
    {"PanMemory2.xm", Kind::Silent},
    {"PanSlideMem.xm", Kind::Silent},
    // Built like the silent ones: each note against its inverted copy.
    {"PanSustainRelease.xm", Kind::Silent},
    {"SetEnvPos.xm", Kind::Silent},
    {"PortaResetDirection.xm", Kind::Silent},
    {"SamplePortaInInstrument.xm", Kind::Silent},
    {"PanMemory.xm", Kind::RightOnly},
    {"FT2PanLaw.xm", Kind::Recorded},
    {"BidiPrecision.xm", Kind::Steady},
    // "fail" never said; "success" said.
    {"PatLoop-Overflow.xm", Kind::Voices, "2", "1", "1"},
    {"PatLoop-Various.xm", Kind::Voices, "1", "23", "23"},
    // "Say 123-123-123-23!": instruments 2, 3 and 4 say one, two and three;
    // the first instrument ("fail") is never heard.
    {"PatLoop-Break.xm", Kind::Voices, "1", "23423423434", "234"},
    // "1 4 2", then "3 4 2" for ever.
    {"PatLoop-Weird.xm", Kind::Voices, "", "142", "1234", "342"},
};

const Check* check_of(const std::string& module) {
  for (const Check& c : checks) {
    if (lower(c.module) == lower(module)) return &c;
  }
  return nullptr;
}

struct Outcome {
  bool pass;
  std::string words;
};

Outcome run_check(const Check& c, const std::vector<uint8_t>& bytes, const std::vector<Level>& levels, vxm_rules rules) {
  char text[160];
  switch (c.kind) {
    case Kind::Silent: {
      const double s = share(levels, silent);
      std::snprintf(text, sizeof text, "silent %.1f%%", 100 * s);
      return {s >= kAgreeShare, text};
    }
    case Kind::RightOnly: {
      const double s = share(levels, [](const Level& l) {
        return (quiet(l.left) && quiet(l.right)) || db(l.right, l.left) >= 12.0;
      });
      std::snprintf(text, sizeof text, "right %.1f%%", 100 * s);
      return {s >= kAgreeShare, text};
    }
    case Kind::Recorded: {
      std::vector<int> left, right;
      for (const SampleData& s : sample_data(bytes)) {
        const std::string n = lower(s.name);
        if (n.find("left") != std::string::npos) left = decode(bytes, s);
        if (n.find("right") != std::string::npos) right = decode(bytes, s);
      }
      const size_t blocks = std::min({levels.size(), left.size() / kBlock, right.size() / kBlock});
      if (blocks == 0) return {false, "no recording"};
      size_t agree = 0;
      for (size_t b = 0; b < blocks; ++b) {
        double l = 0, r = 0;
        for (int i = 0; i < kBlock; ++i) {
          const double a = left[b * kBlock + i], c = right[b * kBlock + i];
          l += a * a;
          r += c * c;
        }
        // The recording's loudness is the tracker's; its balance is what
        // counts, and beyond 30 dB a side is as good as silent.
        const auto balance = [](double left, double right) {
          const double d = 20.0 * std::log10((left + 1e-3) / (right + 1e-3));
          return d < -30.0 ? -30.0 : (d > 30.0 ? 30.0 : d);
        };
        const double want = balance(std::sqrt(l / kBlock), std::sqrt(r / kBlock));
        agree += std::fabs(balance(levels[b].left, levels[b].right) - want) <= 3.0 ? 1 : 0;
      }
      const double s = static_cast<double>(agree) / static_cast<double>(blocks);
      std::snprintf(text, sizeof text, "recording %.1f%%", 100 * s);
      return {s >= kAgreeShare, text};
    }
    case Kind::Steady: {
      std::vector<double> sum;
      for (const Level& l : levels) sum.push_back(std::sqrt(l.left * l.left + l.right * l.right));
      std::vector<double> sorted = sum;
      std::sort(sorted.begin(), sorted.end());
      const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
      const double s = share(levels, [median](const Level& l) {
        return std::fabs(db(std::sqrt(l.left * l.left + l.right * l.right), median)) <= 3.0;
      });
      std::snprintf(text, sizeof text, "steady %.1f%%", 100 * s);
      return {s >= kAgreeShare, text};
    }
    case Kind::Voices: {
      std::string words, error;
      bool pass = true;
      for (const char* u = c.unheard; *u; ++u) {
        const int instrument = *u - '0';
        const auto alone = only_samples(bytes, [instrument](const SampleData& s) { return s.instrument == instrument; });
        const std::vector<Level> heard = render_levels(alone, rules, &error);
        const double s = share(heard, silent);
        if (s < 1.0) {
          pass = false;
          words += std::string("instrument ") + *u + " heard; ";
        }
      }
      std::vector<int> played;
      // Twice through: a song that plays for ever shows what it repeats.
      render_levels(bytes, rules, &error, &played, 2);
      std::string said;
      for (int i : played) {
        if (i < 10 && std::strchr(c.voices, '0' + i)) said += static_cast<char>('0' + i);
      }
      // A song that plays for ever says its sequence at least once.
      if (said.compare(0, std::strlen(c.sequence), c.sequence) != 0) pass = false;
      if (said.find(c.later, std::strlen(c.sequence)) == std::string::npos) pass = false;
      words += "says " + said.substr(0, 16);
      return {pass, words};
    }
  }
  return {false, ""};
}

int usage(const char* why) {
  std::fprintf(stderr, "xm-conformance: %s\nusage: xm-conformance FOLDER [--rules tracker|player] [--expect N]\n", why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  vxm_rules rules = VXM_RULES_TRACKER;
  long expect = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rules" && i + 1 < argc) {
      const std::string r = argv[++i];
      if (r != "tracker" && r != "player") return usage("--rules takes tracker or player");
      rules = r == "tracker" ? VXM_RULES_TRACKER : VXM_RULES_PLAYER;
    } else if (a == "--expect" && i + 1 < argc) {
      char* end = nullptr;
      expect = std::strtol(argv[++i], &end, 10);
      if (!end || *end || expect < 0) return usage("--expect takes a count");
    } else if (!a.empty() && a[0] != '-' && folder.empty()) {
      folder = a;
    } else {
      return usage(("unexpected '" + a + "'").c_str());
    }
  }
  if (folder.empty()) return usage("no folder given");
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    std::printf("%s: no such folder; nothing to check\n", folder.c_str());
    return 77;
  }
  std::vector<fs::path> modules;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (lower(entry.path().extension().string()) == ".xm") modules.push_back(entry.path());
  }
  std::sort(modules.begin(), modules.end(), [](const fs::path& a, const fs::path& b) {
    return lower(a.filename().string()) < lower(b.filename().string());
  });

  int leftRight = 0, passed = 0;
  std::printf("%-30s %-6s %7s  %s\n", "module", "agrees", "L=R", "described check");
  for (const fs::path& path : modules) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string name = path.filename().string();
    std::string error;
    const std::vector<Level> levels = render_levels(bytes, rules, &error);
    if (!error.empty()) {
      std::printf("%-30s %-6s %7s  refused: %s\n", name.c_str(), "no", "-", error.c_str());
      continue;
    }
    const double s = left_right_share(levels);
    const bool lr = s >= kAgreeShare;
    Outcome extra{true, "-"};
    if (const Check* c = check_of(name)) extra = run_check(*c, bytes, levels, rules);
    // A module built around another check is judged by that check: the
    // residue its cancelling samples leave need not fall alike on both sides.
    const bool agrees = check_of(name) ? extra.pass : lr;
    leftRight += lr ? 1 : 0;
    passed += agrees ? 1 : 0;
    std::printf("%-30s %-6s %6.1f%%  %s%s\n", name.c_str(), agrees ? "yes" : "no", 100 * s, extra.words.c_str(),
                extra.pass ? "" : " (fails)");
  }
  std::printf("%d of %zu modules agree left and right; %d of %zu agree by their own check (%s rules)\n",
              leftRight, modules.size(), passed, modules.size(), rules == VXM_RULES_TRACKER ? "the tracker's" : "the player's");
  if (passed < expect) {
    std::printf("fewer than the %ld expected\n", expect);
    return 1;
  }
  return 0;
}
