#include "instruments.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace compose {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double drumRate = 22050.0;

// A fixed-seed generator of our own, so that the noise is the same with
// every compiler and library.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : state(seed) {}
  double next() {  // -1..1
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
  }

 private:
  std::uint32_t state;
};

// Scales the signal so its largest magnitude becomes `peak` of full scale and
// rounds it to the sample's width.
std::vector<std::int16_t> quantise(const std::vector<double>& x, double peak, bool eightBit) {
  double largest = 0.0;
  for (double v : x) largest = std::max(largest, std::fabs(v));
  const double full = eightBit ? 127.0 : 32767.0;
  const double scale = largest > 0.0 ? peak * full / largest : 0.0;
  std::vector<std::int16_t> out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    out[i] = static_cast<std::int16_t>(std::lround(x[i] * scale));
  }
  return out;
}

// A waveform built from partials that each complete a whole number of cycles
// over the `frames` of the loop, so the loop joins without a seam. Cosine
// partials make it symmetric at both loop ends as well, which is what a
// ping-pong loop needs.
struct Partial {
  double cycles;  // whole cycles over the loop
  double amplitude;
  bool cosine;
};

std::vector<double> additive(int frames, const std::vector<Partial>& partials) {
  std::vector<double> x(static_cast<std::size_t>(frames), 0.0);
  for (const Partial& p : partials) {
    const double w = 2.0 * pi * p.cycles / frames;
    for (int n = 0; n < frames; ++n) {
      x[static_cast<std::size_t>(n)] += p.amplitude * (p.cosine ? std::cos(w * n) : std::sin(w * n));
    }
  }
  return x;
}

Sample looped(std::string name, std::vector<std::int16_t> frames, bool eightBit, Loop loop) {
  Sample s;
  s.name = std::move(name);
  s.loopStart = 0;
  s.loopLength = static_cast<std::uint32_t>(frames.size());
  s.frames = std::move(frames);
  s.eightBit = eightBit;
  s.loop = loop;
  return s;
}

void map_all(Instrument& ins, std::uint8_t sample) { std::fill(std::begin(ins.keymap), std::end(ins.keymap), sample); }

Instrument make_kick() {
  // A sine falling from 160 Hz to 48 Hz, with a short click on top.
  const int n = static_cast<int>(drumRate * 0.38);
  std::vector<double> x(static_cast<std::size_t>(n));
  double phase = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = i / drumRate;
    const double f = 48.0 + 112.0 * std::exp(-t / 0.035);
    phase += 2.0 * pi * f / drumRate;
    const double body = std::sin(phase) * std::exp(-t / 0.16);
    const double click = std::exp(-t / 0.002) * 0.35;
    const double tail = std::min(1.0, (0.38 - t) / 0.03);  // no step at the end
    x[static_cast<std::size_t>(i)] = (body + click) * tail;
  }
  Instrument ins;
  ins.name = "kick";
  Sample s;
  s.name = "sine kick";
  s.frames = quantise(x, 0.95, false);
  tune_to_rate(s, drumRate);
  ins.samples.push_back(std::move(s));
  return ins;
}

Instrument make_snare() {
  // Two tones and a bright noise burst, in eight bits.
  const int n = static_cast<int>(drumRate * 0.24);
  std::vector<double> x(static_cast<std::size_t>(n));
  Noise noise(0x5EED1234u);
  double previous = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = i / drumRate;
    const double tone = (std::sin(2 * pi * 185.0 * t) + 0.5 * std::sin(2 * pi * 330.0 * t)) * std::exp(-t / 0.045);
    const double white = noise.next();
    const double bright = white - 0.6 * previous;  // tilt toward the highs
    previous = white;
    const double tail = std::min(1.0, (0.24 - t) / 0.02);
    x[static_cast<std::size_t>(i)] = (0.55 * tone + 0.6 * bright * std::exp(-t / 0.07)) * tail;
  }
  Instrument ins;
  ins.name = "snare";
  Sample s;
  s.name = "noise snare";
  s.eightBit = true;
  s.frames = quantise(x, 0.95, true);
  tune_to_rate(s, drumRate);
  ins.samples.push_back(std::move(s));
  return ins;
}

std::vector<double> hat(double seconds, double decay, std::uint32_t seed) {
  const int n = static_cast<int>(drumRate * seconds);
  std::vector<double> x(static_cast<std::size_t>(n));
  Noise noise(seed);
  double a = 0.0, b = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = i / drumRate;
    const double white = noise.next();
    const double high = white - 2.0 * a + b;  // second difference: only the top octaves remain
    b = a;
    a = white;
    const double tail = std::min(1.0, (seconds - t) / 0.01);
    x[static_cast<std::size_t>(i)] = high * std::exp(-t / decay) * tail;
  }
  return x;
}

Instrument make_hats() {
  Instrument ins;
  ins.name = "hats";
  Sample closed;
  closed.name = "closed hat";
  closed.eightBit = true;
  closed.frames = quantise(hat(0.07, 0.018, 0xC105EDu), 0.9, true);
  closed.panning = 168;
  tune_to_rate(closed, drumRate);
  Sample open;
  open.name = "open hat";
  open.eightBit = true;
  open.frames = quantise(hat(0.32, 0.11, 0x0FE11u), 0.9, true);
  open.panning = 168;
  // Written an octave higher (C-5) to pick it, so it sounds an octave lower
  // than written to play at its own rate.
  tune_to_rate(open, drumRate);
  open.relativeNote = static_cast<std::int8_t>(open.relativeNote - 12);
  ins.samples.push_back(std::move(closed));
  ins.samples.push_back(std::move(open));
  for (int k = 0; k < 96; ++k) ins.keymap[k] = k < 60 ? 0 : 1;
  return ins;
}

Instrument make_bass() {
  // A saw with its upper partials rolled off, over a sine an octave below
  // the saw's second partial: round in the low end, still audible on small
  // speakers. 16-bit, forward loop of four cycles of 128 frames.
  const int cycle = 128, cycles = 4;
  std::vector<Partial> partials;
  for (int k = 1; k <= 20; ++k) {
    const double rolloff = 1.0 / (1.0 + std::pow(k / 6.0, 2.0));
    partials.push_back({static_cast<double>(k * cycles), rolloff / k, false});
  }
  partials[0].amplitude += 0.6;
  Sample s = looped("filtered saw", quantise(additive(cycle * cycles, partials), 0.9, false), false, Loop::forward);
  tune_to_cycle(s, cycle);
  Instrument ins;
  ins.name = "bass";
  ins.samples.push_back(std::move(s));
  ins.volume.points = {{0, 64}, {4, 56}, {24, 44}, {40, 0}};
  ins.volume.sustain = true;
  ins.volume.sustainPoint = 2;
  ins.fadeout = 2048;
  return ins;
}

Instrument make_pad() {
  // Three slightly detuned copies of a soft even waveform: each partial runs
  // a whole number of cycles, one cycle more or less over the 256-cycle loop,
  // so the copies beat slowly against each other. Cosines only, so the loop
  // can play forward and back. 16-bit.
  const int cycle = 84, cycles = 256;
  std::vector<Partial> partials;
  for (int k = 1; k <= 9; ++k) {
    const double a = 1.0 / std::pow(static_cast<double>(k), 1.4);
    partials.push_back({static_cast<double>(k * cycles), a, true});
    partials.push_back({static_cast<double>(k * (cycles - 1)), 0.7 * a, true});
    partials.push_back({static_cast<double>(k * (cycles + 1)), 0.7 * a, true});
  }
  Sample s = looped("chorus pad", quantise(additive(cycle * cycles, partials), 0.9, false), false, Loop::pingPong);
  tune_to_cycle(s, cycle);
  Instrument ins;
  ins.name = "pad";
  ins.samples.push_back(std::move(s));
  // Slow swell, then a gentle swell and ebb for as long as the note lasts.
  ins.volume.points = {{0, 0}, {16, 56}, {48, 44}, {80, 56}};
  ins.volume.loop = true;
  ins.volume.loopStart = 1;
  ins.volume.loopEnd = 3;
  // The chord drifts slowly from one side to the other and back.
  ins.panning.points = {{0, 32}, {60, 44}, {180, 20}, {240, 32}};
  ins.panning.loop = true;
  ins.panning.loopStart = 0;
  ins.panning.loopEnd = 3;
  ins.vibratoType = 0;
  ins.vibratoSweep = 40;
  ins.vibratoDepth = 3;
  ins.vibratoRate = 12;
  ins.fadeout = 600;
  return ins;
}

Instrument make_pluck() {
  // A band-limited pulse of duty 0.3, centred on the start of the cycle so
  // that it is even and ping-pongs without a seam. 8-bit.
  const int cycle = 64, cycles = 4;
  std::vector<Partial> partials;
  const double duty = 0.3;
  for (int k = 1; k <= 18; ++k) {
    const double a = std::sin(pi * k * duty) / k;
    partials.push_back({static_cast<double>(k * cycles), a, true});
  }
  Sample s = looped("pulse", quantise(additive(cycle * cycles, partials), 0.9, true), true, Loop::pingPong);
  tune_to_cycle(s, cycle);
  Instrument ins;
  ins.name = "pluck";
  ins.samples.push_back(std::move(s));
  ins.volume.points = {{0, 64}, {5, 38}, {18, 16}, {40, 0}};
  ins.fadeout = 4096;
  return ins;
}

Instrument make_lead() {
  // Three saws a few cents apart: 16-bit, forward loop.
  const int cycle = 64, cycles = 256;
  std::vector<Partial> partials;
  for (int k = 1; k <= 16; ++k) {
    const double a = 1.0 / k * (k > 10 ? 0.6 : 1.0);
    partials.push_back({static_cast<double>(k * cycles), a, false});
    partials.push_back({static_cast<double>(k * (cycles - 1)), 0.6 * a, false});
    partials.push_back({static_cast<double>(k * (cycles + 1)), 0.6 * a, false});
  }
  Sample s = looped("supersaw", quantise(additive(cycle * cycles, partials), 0.9, false), false, Loop::forward);
  tune_to_cycle(s, cycle);
  Instrument ins;
  ins.name = "lead";
  ins.samples.push_back(std::move(s));
  ins.volume.points = {{0, 0}, {2, 64}, {12, 46}, {60, 0}};
  ins.volume.sustain = true;
  ins.volume.sustainPoint = 2;
  ins.vibratoType = 0;
  ins.vibratoSweep = 30;
  ins.vibratoDepth = 5;
  ins.vibratoRate = 22;
  ins.fadeout = 1200;
  return ins;
}

Instrument make_square() {
  // A mellow square: odd partials only, the upper ones tamed. 8-bit,
  // forward loop.
  const int cycle = 64, cycles = 4;
  std::vector<Partial> partials;
  for (int k = 1; k <= 15; k += 2) {
    partials.push_back({static_cast<double>(k * cycles), 1.0 / (k * (1.0 + k / 8.0)), false});
  }
  Sample s = looped("square", quantise(additive(cycle * cycles, partials), 0.9, true), true, Loop::forward);
  tune_to_cycle(s, cycle);
  s.panning = 96;
  Instrument ins;
  ins.name = "square";
  ins.samples.push_back(std::move(s));
  ins.volume.points = {{0, 0}, {3, 60}, {10, 48}, {50, 0}};
  ins.volume.sustain = true;
  ins.volume.sustainPoint = 2;
  ins.fadeout = 1600;
  return ins;
}

void set_tuning(Sample& sample, double semitones) {
  int relative = static_cast<int>(std::lround(semitones));
  int fine = static_cast<int>(std::lround((semitones - relative) * 64.0)) * 2;
  if (fine > 126) {
    fine -= 128;
    ++relative;
  } else if (fine < -128) {
    fine += 128;
    --relative;
  }
  sample.relativeNote = static_cast<std::int8_t>(relative);
  sample.finetune = static_cast<std::int8_t>(fine);
}

}  // namespace

void tune_to_cycle(Sample& sample, double cycleFrames) {
  set_tuning(sample, 12.0 * std::log2(440.0 * cycleFrames / 8363.0) - 9.0);
}

void tune_to_rate(Sample& sample, double rate) { set_tuning(sample, 12.0 * std::log2(rate / 8363.0)); }

std::vector<Instrument> make_instruments() {
  std::vector<Instrument> all;
  all.push_back(make_kick());
  all.push_back(make_snare());
  all.push_back(make_hats());
  all.push_back(make_bass());
  all.push_back(make_pad());
  all.push_back(make_pluck());
  all.push_back(make_lead());
  all.push_back(make_square());
  for (Instrument& ins : all) {
    if (ins.samples.size() == 1) map_all(ins, 0);
  }
  return all;
}

}  // namespace compose
