#include "music/xm_loader.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "music/xm_file.h"

namespace {

// Formats a reason into `out`. The reasons hold integers only ("%d",
// "%u"), so a few lines format them: the runtime's formatter would bring its
// floating-point conversions into every executable that loads a module.
void format_into(char* out, size_t capacity, const char* format, va_list args) {
  char* const end = out + capacity - 1;  // the terminator's byte
  for (const char* f = format; *f && out < end; ++f) {
    if (f[0] != '%' || (f[1] != 'd' && f[1] != 'u')) {
      *out++ = *f;
      continue;
    }
    ++f;
    uint32_t magnitude = 0;
    if (*f == 'd') {
      const int value = va_arg(args, int);
      magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
      if (value < 0) *out++ = '-';
    } else {
      magnitude = va_arg(args, unsigned);
    }
    char digits[10];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0 && out < end) *out++ = digits[--count];
  }
  *out = '\0';
}

// Records why loading failed (when there is a record).
bool fail_as(XmLoadError* error, XmLoadFailure kind, const char* format, ...) {
  if (!error) return false;
  error->kind = kind;
  va_list args;
  va_start(args, format);
  format_into(error->message, sizeof error->message, format, args);
  va_end(args);
  return false;
}

// Records where a module that loads ends too early; the first place stays,
// since everything after it is missing too.
void cut_short(XmLoadError* error, XmCutPlace place, int number = 0, int count = 0) {
  if (error && error->cut.place == XmCutPlace::none) error->cut = XmCut{place, number, count};
}

// The reasons of the common kind: the bytes are not a module this player
// can play safely.
template <typename... Values>
bool fail(XmLoadError* error, const char* format, Values... values) {
  return fail_as(error, XmLoadFailure::format, format, values...);
}

bool out_of_memory(XmLoadError* error) { return fail_as(error, XmLoadFailure::memory, "out of memory"); }

// The whole file in memory, read once from where the source stands: every
// size is then checked against the real length, and a short read is a plain
// end of file instead of stale bytes.
struct Bytes {
  uint8_t* data = nullptr;
  size_t size = 0;
  ~Bytes() { xm_deallocate(data); }
};

// Reads with `read` (bytes copied, 0 at the end or on an error) until the
// end or XM_MAX_MODULE_BYTES.
template <typename Read>
bool read_all(Read read, Bytes& bytes, XmLoadError* error) {
  size_t capacity = 0;
  for (;;) {
    constexpr size_t chunk = 64 * 1024;
    if (bytes.size + chunk > capacity) {
      const size_t grown = capacity ? capacity * 2 : 4 * chunk;
      auto* data = static_cast<uint8_t*>(xm_reallocate(bytes.data, grown));
      if (!data) return out_of_memory(error);
      bytes.data = data;
      capacity = grown;
    }
    const size_t got = read(bytes.data + bytes.size, chunk);
    bytes.size += got > chunk ? chunk : got;
    if (bytes.size > XM_MAX_MODULE_BYTES) return fail(error, "file too large to be a module");
    if (got == 0) return true;
  }
}

// Bounds-checked little-endian reads from the file image.
struct Reader {
  const uint8_t* data;
  size_t size;
  XmLoadError* error;
  size_t pos = 0;
  uint64_t sampleBytes = 0;  // sample data claimed so far

  bool has(uint64_t count) const { return pos <= size && size - pos >= count; }
  bool has_at(uint64_t at, uint64_t count) const { return at <= size && size - at >= count; }
  uint8_t u8(size_t at) const { return data[at]; }
  uint16_t u16(size_t at) const { return static_cast<uint16_t>(data[at] | data[at + 1] << 8); }
  uint32_t u32(size_t at) const {
    return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
           static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
  }
  void seek(uint64_t to) { pos = to > size ? size : static_cast<size_t>(to); }
};

constexpr char signature[] = "Extended Module: ";
constexpr size_t headerEnd = 336;  // end of the order table
constexpr uint32_t maxRows = 256;
constexpr uint32_t maxPatterns = 256;

// Unpacks one pattern's packed bytes into its cells. Stops at whichever comes
// first, the end of the packed bytes or the last cell: short data leaves
// empty cells, surplus bytes are skipped by the caller.
void unpack_pattern(const uint8_t* packed, size_t size, XmCell* cells, size_t cellCount) {
  size_t at = 0;
  for (size_t c = 0; c < cellCount && at < size; ++c) {
    uint8_t fields[5] = {0, 0, 0, 0, 0};
    const uint8_t first = packed[at++];
    if (first & 0x80) {
      for (int f = 0; f < 5; ++f) {
        if (first & (1 << f)) fields[f] = at < size ? packed[at++] : 0;
      }
    } else {
      fields[0] = first;
      for (int f = 1; f < 5; ++f) fields[f] = at < size ? packed[at++] : 0;
    }
    XmCell& cell = cells[c];
    cell.note = fields[0];
    cell.instrument = fields[1];
    cell.volume = fields[2];
    cell.effect = fields[3];
    cell.param = fields[4];
    // 97 is key off; larger note bytes are not notes and would index past
    // the keymap, so they are dropped.
    if (cell.note == 97) {
      cell.note = 255;
    } else if (cell.note > 97) {
      cell.note = 0;
    }
    if (cell.instrument > 128) cell.instrument = 0;
  }
}

void repair_envelope(XmEnvelopePoint* points, uint8_t& count, uint8_t& type, uint8_t sustain,
                     uint8_t loopStart, uint8_t loopEnd) {
  if (count > 12) count = 12;
  if (count < 2) type = 0;
  if (sustain >= count) type &= static_cast<uint8_t>(~XM_ENV_SUSTAIN);
  if (loopStart >= count || loopEnd >= count) type &= static_cast<uint8_t>(~XM_ENV_LOOP);
  // Values beyond 64 would overflow the 16.16 interpolation.
  for (int p = 0; p < 12; ++p) {
    if (points[p].y > 64) points[p].y = 64;
  }
}

void read_envelope(const Reader& r, size_t at, XmEnvelopePoint* points) {
  for (int p = 0; p < 12; ++p) {
    points[p].x = r.u16(at + p * 4);
    points[p].y = r.u16(at + p * 4 + 2);
  }
}

bool empty_pattern(XmPattern& pattern, uint32_t channelCount, XmLoadError* error) {
  pattern.rows = 64;
  pattern.cells = static_cast<XmCell*>(xm_allocate(size_t{64} * channelCount, sizeof(XmCell)));
  return pattern.cells ? true : out_of_memory(error);
}

bool load_patterns(XmSong* song, Reader& r, uint32_t filePatterns) {
  const uint32_t channelCount = static_cast<uint32_t>(song->channelCount);
  uint32_t p = 0;
  for (; p < filePatterns; ++p) {
    // Packed data the file cuts off leaves the rest of the pattern empty; a
    // header it cuts off, this pattern and the ones after it. The header
    // states its own length: a longer one carries fields this player does
    // not know, and the packed data starts after it.
    const bool headed = r.has(9);
    const uint32_t headerSize = headed ? r.u32(r.pos) : 0;
    const uint32_t skip = headerSize > 9 ? headerSize : 9;
    const uint32_t rows = headed ? r.u16(r.pos + 5) : 0;
    const uint32_t packedSize = headed ? r.u16(r.pos + 7) : 0;
    if (!r.has(uint64_t{skip} + packedSize)) {
      cut_short(r.error, r.pos < r.size ? XmCutPlace::inPattern : XmCutPlace::beforePattern, static_cast<int>(p + 1),
                static_cast<int>(filePatterns));
    }
    if (!headed || !r.has(skip)) break;
    r.pos += skip;
    if (rows > maxRows) return fail(r.error, "pattern %u has %u rows (at most %u)", p, rows, maxRows);
    XmPattern& pattern = song->patterns[p];
    pattern.rows = static_cast<int32_t>(rows);
    const size_t cellCount = size_t{rows} * channelCount;
    const size_t present = r.has(packedSize) ? packedSize : r.size - r.pos;
    if (cellCount > 0) {
      pattern.cells = static_cast<XmCell*>(xm_allocate(cellCount, sizeof(XmCell)));
      if (!pattern.cells) return out_of_memory(r.error);
      if (present != 0) unpack_pattern(r.data + r.pos, present, pattern.cells, cellCount);
    }
    r.pos += present;
  }
  // Patterns the file lacks, cut off or only named by the order table: 64
  // empty rows.
  for (; p < static_cast<uint32_t>(song->patternCount); ++p) {
    if (p >= filePatterns && static_cast<int32_t>(p) >= song->usedPatternCount) break;
    if (!empty_pattern(song->patterns[p], channelCount, r.error)) return false;
  }
  return true;
}

// A name field: its bytes up to the first NUL, without trailing spaces.
template <size_t N>
void copy_name(char (&name)[N], const Reader& r, size_t at) {
  size_t n = 0;
  while (n < N - 1 && r.data[at + n] != 0) ++n;
  while (n > 0 && r.data[at + n - 1] == ' ') --n;
  std::memcpy(name, r.data + at, n);
  name[n] = '\0';
}

bool load_sample_header(XmSample* sample, const Reader& r, size_t at) {
  copy_name(sample->name, r, at + 18);
  sample->length = r.u32(at);
  sample->loopStart = r.u32(at + 4);
  sample->loopLength = r.u32(at + 8);
  sample->volume = r.u8(at + 12);
  sample->finetune = static_cast<int8_t>(r.u8(at + 13));
  const uint8_t type = r.u8(at + 14);
  sample->panning = r.u8(at + 15);
  sample->relativeNote = static_cast<int8_t>(r.u8(at + 16));

  sample->loopMode = XM_LOOP_NONE;
  sample->bits = 8;
  if (type & 1) sample->loopMode = XM_LOOP_FORWARD;
  if (type & 2) sample->loopMode = XM_LOOP_PINGPONG;
  if (type & 16) sample->bits = 16;
  // Later trackers store a stereo sample (type bit 5) as its left side
  // followed by its right, the lengths counting both.
  sample->stereo = (type & 32) != 0;
  if (sample->loopMode == XM_LOOP_NONE) {
    sample->loopStart = 0;
    sample->loopLength = sample->length;
  }
  const uint32_t bytesPerFrame = (sample->bits == 16 ? 2 : 1) * (sample->stereo ? 2 : 1);
  sample->length /= bytesPerFrame;
  sample->loopStart /= bytesPerFrame;
  sample->loopLength /= bytesPerFrame;
  // A loop reaching past the sample end is cut at the end; the guard frame
  // and the mixer's boundaries rely on loopStart + loopLength <= length.
  if (sample->loopStart > sample->length) sample->loopStart = sample->length;
  if (sample->loopLength > sample->length - sample->loopStart) {
    sample->loopLength = sample->length - sample->loopStart;
  }
  if (sample->loopLength == 0) {
    sample->loopStart = 0;
    sample->loopLength = sample->length;
    sample->loopMode = XM_LOOP_NONE;
  }
  return true;
}

bool load_sample_data(XmSong* song, Reader& r, XmSample* sample, int instrument, int index) {
  const uint32_t frames = sample->length;
  // A stereo sample's two sides are read one after the other into one
  // buffer, then the first half becomes their mean.
  const uint32_t values = sample->stereo ? 2 * frames : frames;
  const uint64_t byteCount = uint64_t{sample->bits} * values / 8;
  int16_t* data = xm_sample_data_alloc(values);
  if (!data) return out_of_memory(r.error);
  sample->data = data;

  if (song->sampleLoader) {
    if (sample->bits == 16) {
      song->sampleLoader(data, static_cast<uint32_t>(byteCount), 16, instrument, index);
    } else {
      auto* buffer = static_cast<int8_t*>(xm_allocate(size_t{values} * 2 + 16, 1));
      if (!buffer) return out_of_memory(r.error);
      song->sampleLoader(buffer, static_cast<uint32_t>(byteCount), 8, instrument, index);
      for (uint32_t j = 0; j < values; ++j) data[j] = static_cast<int16_t>(buffer[j] * 256);
      xm_deallocate(buffer);
    }
    r.seek(r.pos + byteCount);
  } else {
    // Real files are sometimes cut short inside the last sample: keep what
    // is there and leave the rest silent.
    const uint64_t available = r.has(byteCount) ? byteCount : r.size - r.pos;
    if (available < byteCount) {
      cut_short(r.error, XmCutPlace::inSampleData, instrument + 1, song->instrumentCount);
    }
    const uint8_t* bytes = r.data + r.pos;
    uint32_t framesRead;
    if (sample->bits == 16) {
      framesRead = static_cast<uint32_t>(available / 2);
      for (uint32_t j = 0; j < framesRead; ++j) {
        data[j] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * j] | bytes[2 * j + 1] << 8));
      }
    } else {
      framesRead = static_cast<uint32_t>(available);
      for (uint32_t j = 0; j < framesRead; ++j) {
        data[j] = static_cast<int16_t>(static_cast<int8_t>(bytes[j]) * 256);
      }
    }
    r.pos += static_cast<size_t>(available);
    // Delta decoding in 16-bit wrap-around; for 8-bit data this equals
    // decoding in 8 bits and widening afterwards. Each side starts from 0.
    uint16_t sum = 0;
    for (uint32_t j = 0; j < framesRead; ++j) {
      if (j == frames) sum = 0;
      sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(data[j]));
      data[j] = static_cast<int16_t>(sum);
    }
  }
  if (sample->stereo) {
    for (uint32_t j = 0; j < frames; ++j) data[j] = static_cast<int16_t>((data[j] + data[frames + j]) >> 1);
    std::memset(data + frames, 0, sizeof(int16_t) * frames);
    sample->stereo = 0;
  }
  sample->bits = 16;

  // Guard frame for interpolation at the loop end.
  const uint32_t end = sample->loopStart + sample->loopLength;
  if (sample->loopMode == XM_LOOP_PINGPONG) {
    data[end] = data[end - 1];
  } else if (sample->loopMode == XM_LOOP_FORWARD) {
    data[end] = data[sample->loopStart];
  }
  return true;
}

// An instrument the file has no room for plays nothing.
void leave_empty(XmInstrument& ins) {
  ins.sampleCount = 0;
  for (auto& slot : ins.samples) slot = &emptySample;
}

// Sample data may be cut off by the end of the file, and the missing part
// is silence; but claims far beyond the file are not a module, they would
// only allocate memory.
constexpr uint64_t sampleSlack = uint64_t{16} << 20;

// The keymap, envelopes, auto-vibrato and fadeout of an instrument whose
// header starts at `start` (present when it has samples).
void load_instrument_settings(XmInstrument& ins, const Reader& r, size_t start) {
  std::memcpy(ins.keymap, r.data + start + 33, 96);
  read_envelope(r, start + 129, ins.volumeEnvelope);
  read_envelope(r, start + 177, ins.panningEnvelope);
  const size_t s = start + 225;
  ins.volumePointCount = r.u8(s + 0);
  ins.panningPointCount = r.u8(s + 1);
  ins.volumeSustain = r.u8(s + 2);
  ins.volumeLoopStart = r.u8(s + 3);
  ins.volumeLoopEnd = r.u8(s + 4);
  ins.panningSustain = r.u8(s + 5);
  ins.panningLoopStart = r.u8(s + 6);
  ins.panningLoopEnd = r.u8(s + 7);
  ins.volumeType = r.u8(s + 8);
  ins.panningType = r.u8(s + 9);
  ins.vibratoType = r.u8(s + 10);
  ins.vibratoSweep = r.u8(s + 11);
  ins.vibratoDepth = r.u8(s + 12);
  ins.vibratoRate = r.u8(s + 13);
  ins.fadeout = static_cast<uint16_t>(r.u16(s + 14) * 2);
  repair_envelope(ins.volumeEnvelope, ins.volumePointCount, ins.volumeType, ins.volumeSustain, ins.volumeLoopStart,
                  ins.volumeLoopEnd);
  repair_envelope(ins.panningEnvelope, ins.panningPointCount, ins.panningType, ins.panningSustain,
                  ins.panningLoopStart, ins.panningLoopEnd);
}

bool load_instruments(XmSong* song, Reader& r) {
  const int count = song->instrumentCount;
  if (count == 0) return true;
  song->instruments = static_cast<XmInstrument*>(xm_allocate(static_cast<size_t>(count), sizeof(XmInstrument)));
  if (!song->instruments) return out_of_memory(r.error);
  for (int i = 0; i < count; ++i) leave_empty(song->instruments[i]);

  for (int i = 0; i < count; ++i) {
    XmInstrument& ins = song->instruments[i];
    const size_t start = r.pos;
    const bool counted = r.has(29);
    const uint32_t headerSize = counted ? r.u32(start) : 0;
    const uint32_t sampleCount = counted ? r.u16(start + 27) : 0;
    if (sampleCount > 16) return fail(r.error, "instrument %d has %u samples (at most 16)", i + 1, sampleCount);
    // Every byte the header declares, and with samples the fields read and
    // the sample headers after it. Where the file ends before that, this
    // instrument and the ones after it stay empty.
    const uint64_t headers = uint64_t{start} + headerSize;
    const bool whole = counted && (sampleCount == 0 ? r.has_at(start, headerSize)
                                                    : r.has(243) && r.has_at(headers, uint64_t{sampleCount} * 40));
    if (!whole) {
      cut_short(r.error, start < r.size ? XmCutPlace::inInstrument : XmCutPlace::beforeInstrument, i + 1, count);
      return true;
    }
    copy_name(ins.name, r, start + 4);
    r.seek(headers);
    if (sampleCount == 0) continue;

    load_instrument_settings(ins, r, start);

    ins.sampleCount = static_cast<int32_t>(sampleCount);
    XmSample* loaded[16] = {};
    for (uint32_t n = 0; n < sampleCount; ++n) {
      auto* sample = static_cast<XmSample*>(xm_allocate(1, sizeof(XmSample)));
      if (!sample) {
        ins.sampleCount = static_cast<int32_t>(n);  // what xm_release_song frees
        return out_of_memory(r.error);
      }
      ins.samples[n] = loaded[n] = sample;
      sample->number = static_cast<uint16_t>(1 + i * 16 + static_cast<int>(n));
      load_sample_header(sample, r, r.pos);
      r.pos += 40;
      r.sampleBytes += uint64_t{sample->bits} * sample->length / 8 * (sample->stereo ? 2 : 1);
      if (r.sampleBytes > 2 * uint64_t{r.size} + sampleSlack) {
        return fail(r.error, "instrument %d sample %u: sample sizes far beyond the file size", i + 1, n + 1);
      }
    }

    for (uint32_t n = 0; n < sampleCount; ++n) {
      XmSample* sample = loaded[n];
      if (sample->length == 0) continue;
      if (!load_sample_data(song, r, sample, i, static_cast<int>(n))) return false;
    }
  }
  return true;
}

}  // namespace

namespace {

constexpr size_t fixedHeaderEnd = 80;  // the fields before the order table

// Some trackers append chunks after the module (a four-letter name and a
// 32-bit length, such as the song's message as "text"); one that runs past
// the end of the file is a file cut short too. Other trailing bytes are
// left alone.
void check_trailing_chunks(Reader& r) {
  while (r.has(8)) {
    for (size_t i = 0; i < 4; ++i) {
      if (r.data[r.pos + i] < 0x20 || r.data[r.pos + i] > 0x7E) return;
    }
    const uint32_t length = r.u32(r.pos + 4);
    r.pos += 8;
    if (!r.has(length)) {
      cut_short(r.error, XmCutPlace::afterModule);
      return;
    }
    r.pos += length;
  }
}

// The checks that tell a module this loader plays from anything else, on
// the first bytes of a file (as many of the 80 as there are).
bool check_header(const uint8_t* data, size_t size, XmLoadError* error) {
  if (size < 17 || std::memcmp(data, signature, 17) != 0) return fail(error, "not an XM module (wrong signature)");
  if (size < fixedHeaderEnd) return true;
  auto u16 = [data](size_t at) { return static_cast<uint32_t>(data[at] | data[at + 1] << 8); };
  const uint32_t songLength = u16(64), channelCount = u16(68), patterns = u16(70), instruments = u16(72);
  if (channelCount == 0 || channelCount > XM_CHANNELS) {
    return fail(error, "%u channels (1 to %d are playable)", channelCount, XM_CHANNELS);
  }
  if (songLength == 0 || songLength > 256) return fail(error, "song length %u (1 to 256 are playable)", songLength);
  if (instruments > XM_MAX_INSTRUMENTS) return fail(error, "%u instruments (at most %d)", instruments, XM_MAX_INSTRUMENTS);
  if (patterns > maxPatterns) return fail(error, "%u patterns (at most %u)", patterns, maxPatterns);
  return true;
}

}  // namespace

bool xm_probe_module(const uint8_t* data, size_t size, XmLoadError* error) {
  if (error) {
    error->kind = XmLoadFailure::none;
    error->message[0] = '\0';
    error->cut = XmCut{};
  }
  if (!data && size) return fail(error, "no data");
  return check_header(data, size, error);
}

bool xm_load_module(XmSong* song, const uint8_t* data, size_t size, XmLoadError* error) {
  if (error) {
    error->kind = XmLoadFailure::none;
    error->message[0] = '\0';
    error->cut = XmCut{};
  }
  if (!song || (!data && size)) return fail(error, "no data");
  Reader r{data, size, error};

  if (!check_header(data, size, error)) return false;
  song->defaultGlobalVolume = 64;
  // Without its counts, speed and tempo there is nothing to play.
  if (r.size < fixedHeaderEnd) return fail(error, "module header cut short");
  copy_name(song->title, r, 17);
  copy_name(song->tracker, r, 38);
  const uint32_t headerSize = r.u32(60);
  const uint32_t songLength = r.u16(64);
  const uint32_t restart = r.u16(66);
  const uint32_t channelCount = r.u16(68);
  const uint32_t filePatterns = r.u16(70);
  const uint32_t instrumentCount = r.u16(72);

  song->songLength = static_cast<int16_t>(songLength);
  // A restart position outside the song would index past the order table.
  song->restartPosition = static_cast<int16_t>(restart < songLength ? restart : 0);
  song->channelCount = static_cast<int16_t>(channelCount);
  song->instrumentCount = static_cast<int16_t>(instrumentCount);
  song->flags = static_cast<int16_t>(r.u16(74));
  song->defaultSpeed = static_cast<int16_t>(r.u16(76));
  song->defaultBpm = static_cast<int16_t>(r.u16(78));
  // An order table cut off by the end of the file plays pattern 0 where it
  // lacks entries.
  const size_t orderBytes = r.size < headerEnd ? r.size - fixedHeaderEnd : headerEnd - fixedHeaderEnd;
  std::memcpy(song->orders, r.data + fixedHeaderEnd, orderBytes);
  if (r.size < headerEnd || !r.has_at(uint64_t{60} + headerSize, 0)) {
    cut_short(error, XmCutPlace::header);
  }
  r.seek(uint64_t{60} + headerSize);

  int32_t highest = -1;
  for (uint32_t o = 0; o < songLength; ++o) {
    if (song->orders[o] > highest) highest = song->orders[o];
  }
  song->usedPatternCount = highest + 1;
  song->patternCount = song->usedPatternCount > static_cast<int32_t>(filePatterns)
                           ? song->usedPatternCount
                           : static_cast<int32_t>(filePatterns);
  song->patterns = static_cast<XmPattern*>(xm_allocate(static_cast<size_t>(song->patternCount), sizeof(XmPattern)));
  if (!song->patterns) return out_of_memory(error);

  if (!load_patterns(song, r, filePatterns)) return false;
  if (!load_instruments(song, r)) return false;
  check_trailing_chunks(r);
  return true;
}

XmSong* xm_load_memory(const uint8_t* data, size_t size, XmSampleLoader sampleLoader, XmLoadError* error) {
  auto* song = static_cast<XmSong*>(xm_allocate(1, sizeof(XmSong)));
  if (!song) {
    out_of_memory(error);
    return nullptr;
  }
  song->sampleLoader = sampleLoader;
  if (!xm_load_module(song, data, size, error)) {
    xm_release_song(song);
    return nullptr;
  }
  return song;
}

XmSong* xm_load_stream(std::FILE* stream, XmSampleLoader sampleLoader, XmLoadError* error) {
  Bytes bytes;
  int readError = 0;
  const bool read = read_all(
      [stream, &readError](uint8_t* to, size_t n) -> size_t {
        errno = 0;
        const size_t got = std::fread(to, 1, n, stream);
        if (got == 0 && std::ferror(stream)) readError = errno ? errno : EIO;
        return got;
      },
      bytes, error);
  if (!read) return nullptr;
  if (readError) {
    fail_as(error, XmLoadFailure::read, "cannot read the file");
    if (error) error->systemError = readError;
    return nullptr;
  }
  if (bytes.size == 0) {
    fail(error, "empty file");
    return nullptr;
  }
  return xm_load_memory(bytes.data, bytes.size, sampleLoader, error);
}

XmSong* xm_load_reader(XmReadFunction read, void* user, XmSampleLoader sampleLoader, XmLoadError* error) {
  Bytes bytes;
  bool readFailed = false;
  const bool whole = read_all(
      [read, user, &readFailed](uint8_t* to, size_t n) -> size_t {
        const size_t got = read(user, to, n);
        if (got == XM_READ_ERROR) {
          readFailed = true;
          return 0;
        }
        return got < n ? got : n;
      },
      bytes, error);
  if (!whole) return nullptr;
  if (readFailed) {
    fail_as(error, XmLoadFailure::read, "cannot read the file");
    return nullptr;
  }
  return xm_load_memory(bytes.data, bytes.size, sampleLoader, error);
}

XmSong* xm_load_file(XmFile* file, XmSampleLoader sampleLoader, XmLoadError* error) {
  if (!file) {
    fail(error, "no file");
    return nullptr;
  }
  Bytes bytes;
  xm_file_seek(file, 0, 0);
  const bool read = read_all(
      [file](uint8_t* to, size_t n) -> size_t { return xm_file_read(to, static_cast<uint32_t>(n), file); }, bytes,
      error);
  if (!read) return nullptr;
  return xm_load_memory(bytes.data, bytes.size, sampleLoader, error);
}

XmSong* xm_load(const char* name, const XmFileCallbacks* callbacks, XmSampleLoader sampleLoader,
                XmLoadError* error) {
  if (!xm_file_callbacks_complete(callbacks)) {
    fail(error, "no file callbacks");
    return nullptr;
  }
  XmFile* file = xm_file_open(name, callbacks);
  if (!file) {
    fail_as(error, XmLoadFailure::open, "cannot open the file");
    return nullptr;
  }
  XmSong* song = xm_load_file(file, sampleLoader, error);
  xm_file_close(file);
  return song;
}
