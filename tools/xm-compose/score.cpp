#include "score.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "instruments.h"

namespace compose {
namespace {

constexpr int rowsPerBar = 16;
constexpr int patternRows = 64;
constexpr std::uint8_t keyOff = 97;

// Effect numbers as stored in the file.
constexpr std::uint8_t fxArpeggio = 0x0, fxPortaUp = 0x1, fxPortaDown = 0x2, fxTonePorta = 0x3,
                       fxVibrato = 0x4, fxVibratoSlide = 0x6, fxVolumeSlide = 0xA, fxSpeed = 0xF;

// The parts are balanced against each other in the numbers below; this lifts
// the whole mix by about 2 dB to a comfortable loudness that still peaks a
// few dB below full scale.
constexpr int mixLift = 5;  // in quarters

// A volume column byte that sets the volume.
std::uint8_t vol(int v) {
  v = v * mixLift / 4;
  return static_cast<std::uint8_t>(0x10 + (v < 0 ? 0 : v > 64 ? 64 : v));
}

struct Chord {
  const char* bass;    // root, low
  const char* pad[3];  // voiced close to the chord before and after
  const char* arp;     // root of the arpeggio
  std::uint8_t arpParam;
};

constexpr std::uint8_t minor = 0x37, major = 0x47;
const Chord Am{"A1", {"A3", "C4", "E4"}, "A4", minor};
const Chord F{"F1", {"A3", "C4", "F4"}, "F4", major};
const Chord C{"C2", {"G3", "C4", "E4"}, "C5", major};
const Chord G{"G1", {"G3", "B3", "D4"}, "G4", major};
const Chord Dm{"D2", {"A3", "D4", "F4"}, "D5", minor};
const Chord Em{"E2", {"G3", "B3", "E4"}, "E4", minor};

struct Progression {
  const Chord* bars[4];
};
const Progression verse{{&Am, &F, &C, &G}};
const Progression bridge{{&Dm, &Em, &F, &G}};
const Progression chorus{{&F, &G, &Em, &Am}};

Cell& cell(Pattern& p, int row, int channel) { return p.at(row, channel); }

void put_note(Pattern& p, int row, int channel, int n, std::uint8_t instrument, int volume) {
  Cell& c = cell(p, row, channel);
  c.note = static_cast<std::uint8_t>(n);
  c.instrument = instrument;
  c.volume = vol(volume);
}

void set_effect(Pattern& p, int row, int channel, std::uint8_t effect, std::uint8_t param) {
  Cell& c = cell(p, row, channel);
  c.effect = effect;
  c.param = param;
}

// One bar of drums from three 16-step strings. Kick and snare: x hit,
// X accent, g ghost. Hats: x closed, X accented closed, o open.
void drums(Pattern& p, int bar, const char* kickSteps, const char* snareSteps, const char* hatSteps,
           int level = 0) {
  for (int s = 0; s < rowsPerBar; ++s) {
    const int row = bar * rowsPerBar + s;
    const char k = kickSteps[s], n = snareSteps[s], h = hatSteps[s];
    if (k == 'x' || k == 'X') put_note(p, row, chKick, note_number("C4"), kick, (k == 'X' ? 51 : 46) + level);
    if (n == 'x' || n == 'X') put_note(p, row, chSnare, note_number("C4"), snare, (n == 'X' ? 48 : 42) + level);
    if (n == 'g') put_note(p, row, chSnare, note_number("C4"), snare, 16 + level);
    if (h == 'x') put_note(p, row, chHats, note_number("C4"), hats, 20 + level);
    if (h == 'X') put_note(p, row, chHats, note_number("C4"), hats, 28 + level);
    if (h == 'o') put_note(p, row, chHats, note_number("C5"), hats, 24 + level);
  }
}

void drums_all(Pattern& p, const char* k, const char* s, const char* h, int level = 0) {
  for (int bar = 0; bar < 4; ++bar) drums(p, bar, k, s, h, level);
}

// Bass steps: r root, o octave up, f fifth up, '-' key off.
void bassline(Pattern& p, const Progression& prog, const char* steps, int volume) {
  for (int bar = 0; bar < 4; ++bar) {
    const int root = note_number(prog.bars[bar]->bass);
    for (int s = 0; s < rowsPerBar; ++s) {
      const int row = bar * rowsPerBar + s;
      switch (steps[s]) {
        case 'r': put_note(p, row, chBass, root, bass, volume); break;
        case 'o': put_note(p, row, chBass, root + 12, bass, volume - 6); break;
        case 'f': put_note(p, row, chBass, root + 7, bass, volume - 4); break;
        case '-': cell(p, row, chBass).note = keyOff; break;
        default: break;
      }
    }
  }
}

// Pad chords, one per bar. A voice that keeps its note from the previous bar
// is not struck again, so only the moving voices swell in. `previous` is the
// chord sounding before the pattern (null to strike every voice on row 0).
void pads(Pattern& p, const Progression& prog, const Chord* previous, int volume) {
  for (int bar = 0; bar < 4; ++bar) {
    const Chord& chord = *prog.bars[bar];
    for (int v = 0; v < 3; ++v) {
      const int n = note_number(chord.pad[v]);
      if (previous && note_number(previous->pad[v]) == n) continue;
      put_note(p, bar * rowsPerBar, chPad1 + v, n, pad, volume);
    }
    previous = &chord;
  }
}

// The arpeggio: the chord's root struck every `every` rows, the arpeggio
// effect on every row so the chord sparkles in between.
void arpeggio(Pattern& p, const Progression& prog, int every, int volume, bool pluckSlide) {
  for (int bar = 0; bar < 4; ++bar) {
    const Chord& chord = *prog.bars[bar];
    for (int s = 0; s < rowsPerBar; ++s) {
      const int row = bar * rowsPerBar + s;
      if (s % every == 0) {
        put_note(p, row, chArp, note_number(chord.arp), pluck, s % 4 == 0 ? volume : volume - 4);
      } else if (pluckSlide && s % every == 1) {
        cell(p, row, chArp).volume = 0x62;  // a quicker decay on the off-steps
      }
      set_effect(p, row, chArp, fxArpeggio, chord.arpParam);
    }
  }
}

// Diatonic third below in A minor (A B C D E F G): two scale steps down.
int third_below(int n) {
  static const int scale[7] = {9, 11, 0, 2, 4, 5, 7};
  const int semitone = (n - 1) % 12;
  for (int i = 0; i < 7; ++i) {
    if (scale[i] == semitone) {
      const int target = scale[(i + 5) % 7];
      int down = semitone - target;
      if (down <= 0) down += 12;
      return n - down;
    }
  }
  return n - 3;
}

Pattern blank() { return Pattern(patternRows, channelCount); }

// --- The sections --------------------------------------------------------------

const char* verseMelody1 =
    "A4:4 C5:2 E5:6 D5:2 C5:2 | C5:4 A4:4 F5:6 E5:2 | E5:6 D5:2 C5:4 G4:4 | B4:6 C5:2 D5:6v -:2";
const char* verseMelody2 =
    "E5:4 A5:4g G5:2 E5:2 C5:4 | F5:6 E5:2 C5:4 A4:4 | G4:4 C5:4 E5:4 G5:4 | D5:2 E5:2g D5:10v -:2";
const char* bridgeMelody1 =
    "F5:8v E5:4 D5:4 | E5:8v G5:4 B4:4 | C5:6 A4:2 C5:4 F5:4 | E5:4 D5:4 B4:4 G4:4";
const char* bridgeMelody2 =
    "A5:8v G5:4 F5:4 | G5:8v B5:4 E5:4 | A5:6 G5:2 F5:4 A5:4 | G5:4 A5:4 B5:8v";
const char* bridgeCounter = "D4:16v | E4:16v | F4:8 A4:8 | G4:8 B4:6 -:2";
const char* chorusMelody1 =
    "A5:6 G5:2 F5:4 C5:4 | D5:4 G5:6 F5:2 E5:2 D5:2 | E5:6 G5:2 B5:4 G5:4 | A5:12v -:4";
const char* chorusMelody2 =
    "C6:4 A5:4 F5:4 A5:4 | B5:4 G5:4 D5:4 G5:4 | B5:6 A5:2 G5:4 E5:4 | E5:2 A5:14gvf";
const char* breakMelody =
    "E5:4 -:4 A5:2 G5:2 E5:4 | F5:4 -:4 C5:4 A4:4 | G4:4 -:4 E5:2 D5:2 C5:4 | B4:8v D5:4 -:4";
const char* turnMelody =
    "A4:4 C5:2 E5:6 D5:2 C5:2 | C5:4 A4:4 F5:6 E5:2 | E5:6 G5:2 A5:4 B5:4 | C6:8v -:8";

const char* kVerse = "x.....x...x.....";
const char* sVerse = "....x.......x..g";
const char* hVerse = "x.X.x.X.x.X.x.Xx";
const char* kChorus = "x...x...x...x...";
const char* sChorus = "....X.......X...";
const char* hChorus = "x.o.x.o.x.o.x.ox";
const char* none = "................";

Pattern intro_calm() {
  Pattern p = blank();
  pads(p, verse, nullptr, 26);
  // The chord fades in from silence over the first rows.
  for (int v = 0; v < 3; ++v) {
    cell(p, 0, chPad1 + v).volume = vol(0);
    for (int row = 0; row < 6; ++row) set_effect(p, row, chPad1 + v, fxVolumeSlide, 0x10);
  }
  arpeggio(p, verse, 4, 18, false);
  return p;
}

Pattern intro_build() {
  Pattern p = blank();
  pads(p, verse, &G, 26);
  for (int v = 0; v < 3; ++v) put_note(p, 0, chPad1 + v, note_number(Am.pad[v]), pad, 26);
  arpeggio(p, verse, 2, 20, false);
  bassline(p, verse, "r.......r.....o.", 40);
  for (int bar = 0; bar < 3; ++bar) drums(p, bar, "x.......x.......", none, "..x...x...x...x.");
  drums(p, 3, "x.......x.......", "........x.g.x.xx", "..x...x...x...x.");
  return p;
}

Pattern verse_part(const char* melody, bool first) {
  Pattern p = blank();
  if (first) set_effect(p, 0, chKick, fxSpeed, 125);  // back to the main tempo after the break
  pads(p, verse, nullptr, 24);
  arpeggio(p, verse, 2, 16, true);
  bassline(p, verse, "r..r..o.r.r.o.r.", 42);
  drums_all(p, kVerse, sVerse, hVerse);
  write_melody(p, chLead, lead, 0, melody, 40);
  return p;
}

Pattern bridge_part(bool second) {
  Pattern p = blank();
  pads(p, bridge, nullptr, 24);
  bassline(p, bridge, "r.....r.r...o...", 42);
  drums_all(p, "x.........x.....", "....x.......x...", "x.x.x.x.x.x.x.x.");
  if (!second) {
    write_melody(p, chLead, lead, 0, bridgeMelody1, 38);
    arpeggio(p, bridge, 4, 16, false);
    // The last bass note falls away into the second half: nothing struck
    // after it, so the slide runs to the end of the pattern.
    cell(p, 56, chBass).note = static_cast<std::uint8_t>(note_number(G.bass) + 12);
    for (int row = 57; row < 64; ++row) cell(p, row, chBass) = Cell{};
    for (int row = 58; row < 64; ++row) set_effect(p, row, chBass, fxPortaDown, 0x04);
  } else {
    write_melody(p, chLead, lead, 0, bridgeMelody2, 40);
    write_melody(p, chSquare, square, 0, bridgeCounter, 26);
    arpeggio(p, bridge, 2, 16, true);
    // A snare roll rising into the chorus.
    for (int row = 56; row < 64; ++row) put_note(p, row, chSnare, note_number("C4"), snare, 20 + (row - 56) * 4);
  }
  return p;
}

Pattern chorus_part(bool second) {
  Pattern p = blank();
  if (!second) set_effect(p, 0, chKick, fxSpeed, 130);  // the chorus pushes a little faster
  pads(p, chorus, &G, 26);
  for (int v = 0; v < 3; ++v) put_note(p, 0, chPad1 + v, note_number(F.pad[v]), pad, 26);
  arpeggio(p, chorus, 2, 18, false);
  bassline(p, chorus, "r.r.o.r.r.r.o.r.", 44);
  drums_all(p, kChorus, sChorus, hChorus);
  const char* melody = second ? chorusMelody2 : chorusMelody1;
  write_melody(p, chLead, lead, 0, melody, 42);
  write_melody(p, chSquare, square, 0, melody, 24, 0, true);
  if (second) {
    // Release the chord before the break, letting it fade out.
    for (int v = 0; v < 3; ++v) cell(p, 60, chPad1 + v).note = keyOff;
  }
  return p;
}

Pattern breakdown() {
  Pattern p = blank();
  set_effect(p, 0, chKick, fxSpeed, 125);
  pads(p, verse, nullptr, 28);
  arpeggio(p, verse, 2, 20, true);
  bassline(p, verse, "r...............", 38);
  drums_all(p, none, none, "....x.......x..x", -6);
  write_melody(p, chLead, lead, 0, breakMelody, 38);
  // An echo: the same line three rows later, softer and on the other side.
  write_melody(p, chSquare, square, 3, breakMelody, 18);
  return p;
}

Pattern turnaround() {
  Pattern p = blank();
  pads(p, verse, nullptr, 24);
  arpeggio(p, verse, 2, 16, true);
  bassline(p, verse, "r..r..o.r.r.o.r.", 42);
  for (int bar = 0; bar < 3; ++bar) drums(p, bar, kVerse, sVerse, hVerse);
  drums(p, 3, "x.......x.......", none, "x.x.x.x.x.x.x.x.");
  for (int row = 48; row < 64; ++row) put_note(p, row, chSnare, note_number("C4"), snare, 14 + (row - 48) * 2);
  write_melody(p, chLead, lead, 0, turnMelody, 40);
  // A rising sweep back to the top of the song.
  put_note(p, 48, chSquare, note_number("A4"), square, 8);
  for (int row = 49; row < 63; ++row) {
    cell(p, row, chSquare).volume = 0x71;
    set_effect(p, row, chSquare, fxPortaUp, 0x03);
  }
  cell(p, 63, chSquare).note = keyOff;
  return p;
}

}  // namespace

int note_number(const char* name) {
  static const int semitones[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G
  if (!name || name[0] < 'A' || name[0] > 'G') return 0;
  int semitone = semitones[name[0] - 'A'];
  const char* rest = name + 1;
  if (*rest == '#') {
    ++semitone;
    ++rest;
  } else if (*rest == 'b') {
    --semitone;
    ++rest;
  }
  if (!std::isdigit(static_cast<unsigned char>(*rest)) || rest[1] != '\0') return 0;
  const int n = (*rest - '0') * 12 + semitone + 1;
  return n >= 1 && n <= 96 ? n : 0;
}

int write_melody(Pattern& p, int channel, std::uint8_t instrument, int startRow, const char* text, int volume,
                 int transpose, bool diatonicThirdBelow) {
  int row = startRow;
  const char* s = text;
  while (*s) {
    while (*s == ' ' || *s == '|') ++s;
    if (!*s) break;
    std::string name;
    while (*s && *s != ':') name += *s++;
    if (*s != ':') return -1;
    ++s;
    char* end = nullptr;
    const long rows = std::strtol(s, &end, 10);
    if (end == s || rows < 1) return -1;
    s = end;
    bool glide = false, vibrato = false, fade = false;
    while (*s && *s != ' ' && *s != '|') {
      switch (*s++) {
        case 'g': glide = true; break;
        case 'v': vibrato = true; break;
        case 'f': fade = true; break;
        default: return -1;
      }
    }
    const int length = static_cast<int>(rows);
    if (row < p.rows) {
      Cell& c = p.at(row, channel);
      if (name == "-") {
        c.note = keyOff;
      } else {
        int n = note_number(name.c_str());
        if (n == 0) return -1;
        if (diatonicThirdBelow) n = third_below(n);
        n += transpose;
        c.note = static_cast<std::uint8_t>(n);
        if (glide) {
          c.effect = fxTonePorta;
          c.param = 0x08;
        } else {
          c.instrument = instrument;
          c.volume = vol(volume);
        }
      }
    }
    // Vibrato sets in after the note has been heard plain for a moment.
    for (int r = row + 2; vibrato && r < row + length && r < p.rows; ++r) {
      p.at(r, channel).effect = fxVibrato;
      p.at(r, channel).param = 0x62;
    }
    for (int r = row + length - 4; fade && r < row + length && r < p.rows; ++r) {
      if (r <= row) continue;
      Cell& c = p.at(r, channel);
      c.effect = vibrato ? fxVibratoSlide : fxVolumeSlide;
      c.param = 0x02;
    }
    row += length;
  }
  return row;
}

bool check_score(std::string* error) {
  const char* melodies[] = {verseMelody1, verseMelody2, bridgeMelody1, bridgeMelody2, bridgeCounter,
                            chorusMelody1, chorusMelody2, breakMelody, turnMelody};
  for (const char* melody : melodies) {
    Pattern scratch = blank();
    if (write_melody(scratch, chLead, lead, 0, melody, 40) != patternRows) {
      if (error) *error = std::string("melody does not fill its bars: ") + melody;
      return false;
    }
  }
  return true;
}

Module compose_song() {
  Module m;
  m.name = "Vantor Filigree";
  m.channels = channelCount;
  m.linearFrequencies = true;
  m.speed = 6;
  m.bpm = 125;
  m.instruments = make_instruments();
  m.patterns.push_back(intro_calm());                 // 0
  m.patterns.push_back(intro_build());                // 1
  m.patterns.push_back(verse_part(verseMelody1, true));   // 2
  m.patterns.push_back(verse_part(verseMelody2, false));  // 3
  m.patterns.push_back(bridge_part(false));           // 4
  m.patterns.push_back(bridge_part(true));            // 5
  m.patterns.push_back(chorus_part(false));           // 6
  m.patterns.push_back(chorus_part(true));            // 7
  m.patterns.push_back(breakdown());                  // 8
  m.patterns.push_back(turnaround());                 // 9
  m.orders = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  m.restartPosition = 2;  // the intro plays once; the song then cycles from the first verse
  return m;
}

}  // namespace compose
