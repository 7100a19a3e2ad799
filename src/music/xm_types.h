// The player's records: a loaded song with its patterns, instruments and
// samples, and the channel and voice records that the engine drives and the
// mixer plays.
//
// Everything here is a plain record with fixed-width fields. The song owns
// its patterns, instruments and samples and is only read once loaded: all
// that playing it changes lives in a player context (xm_player.h), so one
// song may play in any number of contexts at once. Records are allocated
// zero-filled.
#pragma once

#include <cstddef>
#include <cstdint>

// One pattern cell as the engine reads it (5 bytes).
struct XmCell {
  uint8_t note;        // 0 none, 1..96 notes, 255 key off
  uint8_t instrument;  // 0 none, 1..128
  uint8_t volume;      // volume column byte
  uint8_t effect;      // 0..9 digits, 10..35 letters A..Z
  uint8_t param;
};
static_assert(sizeof(XmCell) == 5, "a cell is 5 bytes");

struct XmPattern {
  int32_t rows;
  XmCell* cells;  // rows x channelCount, row-major, owned
};

struct XmEnvelopePoint {
  uint16_t x;  // tick
  uint16_t y;  // value 0..64
};

struct XmSample {
  // length frames plus 8 frames of zero slack; the frame at
  // loopStart + loopLength is the interpolation guard frame. Allocate and
  // free only with xm_sample_data_alloc / xm_sample_data_free: the buffer
  // also has 8 zero frames in front of data[0].
  int16_t* data;
  uint32_t length;      // frames
  uint32_t loopStart;   // frames
  uint32_t loopLength;  // frames; equals length when the sample does not loop
  uint8_t volume;       // default volume 0..64
  int8_t finetune;
  int32_t panning;      // default panning 0..255
  uint8_t bits;         // 8 or 16 as stored; 16 once the data is loaded
  uint8_t loopMode;     // 1 none, 2 forward, 4 ping-pong (0 only in emptySample)
  int8_t relativeNote;
  uint8_t stereo;  // 1 while a stereo sample loads (its two sides become one)
  // Where a playback keeps this sample's finetune, which effect E5 may
  // change: 1 + instrument x 16 + slot, 0 for the empty sample.
  uint16_t number;
  char name[23];  // as in the file, up to its first NUL, trailing spaces removed
};

// Loop modes of XmSample::loopMode.
constexpr uint8_t XM_LOOP_NONE = 1;
constexpr uint8_t XM_LOOP_FORWARD = 2;
constexpr uint8_t XM_LOOP_PINGPONG = 4;

// Envelope type bits of XmInstrument::volumeType / panningType.
constexpr uint8_t XM_ENV_ON = 1;
constexpr uint8_t XM_ENV_SUSTAIN = 2;
constexpr uint8_t XM_ENV_LOOP = 4;

struct XmInstrument {
  int32_t sampleCount;          // 0..16
  const XmSample* samples[16];  // slots beyond sampleCount point to emptySample
  uint8_t keymap[96];      // sample slot per 0-based note
  XmEnvelopePoint volumeEnvelope[20];   // first 12 come from the file
  XmEnvelopePoint panningEnvelope[20];  // first 12 come from the file
  uint8_t volumePointCount, panningPointCount;
  uint8_t volumeSustain, volumeLoopStart, volumeLoopEnd;
  uint8_t panningSustain, panningLoopStart, panningLoopEnd;
  uint8_t volumeType, panningType;  // XM_ENV_* bits
  uint8_t vibratoType;              // auto-vibrato waveform 0..3
  uint8_t vibratoSweep, vibratoDepth, vibratoRate;
  uint16_t fadeout;  // per-tick fadeout step, twice the file's value
  char name[23];     // as in the file, up to its first NUL, trailing spaces removed
};

// Sample loader: fills buffer (byteCount bytes, zero-filled, with room for
// the guard frame) with the sample's final decoded values: signed bytes for
// 8-bit samples, 16-bit values otherwise. When a song has one, sample data is
// not read from the file and no delta decoding is done.
using XmSampleLoader = void (*)(void* buffer, uint32_t byteCount, int bits,
                                int instrument, int sample);

struct XmSong {
  XmPattern* patterns;        // patternCount records, owned
  XmInstrument* instruments;  // instrumentCount records, owned
  // These three are the file's header run at offset 64, in file order.
  int16_t songLength;
  int16_t restartPosition;
  int16_t channelCount;
  int32_t usedPatternCount;   // 1 + highest pattern number in the orders
  int32_t patternCount;
  // This run, up to and including orders, is the file's run at offset 72.
  int16_t instrumentCount;
  int16_t flags;              // bit 0: linear frequency table, else Amiga
  int16_t defaultSpeed;
  int16_t defaultBpm;
  uint8_t orders[256];
  uint8_t defaultGlobalVolume;  // 64
  XmSampleLoader sampleLoader;  // or null; used while loading
  char title[21];    // as in the file, up to its first NUL, trailing spaces removed
  char tracker[21];  // the name of the program that wrote it, likewise
};

constexpr int16_t XM_FLAG_LINEAR = 1;

struct MixVoice;

// Playback state of one pattern channel.
struct XmChannel {
  uint8_t note;         // last note, 0-based; indexes keymap
  uint8_t updateFlags;  // XM_UPDATE_* work for the voice update
  MixVoice* voice;      // voice that currently sounds for this channel
  int32_t period;
  int32_t volume;       // 0..64 (set volume may exceed it)
  int32_t panning;      // 0..255
  int32_t volumeDelta;  // tremolo / tremor offset of this tick
  int32_t periodDelta;  // vibrato / arpeggio offset of this tick
  int32_t volumeEnvTick, volumeEnvPoint;
  int32_t volumeEnvFixed;  // 16.16
  int32_t volumeEnvValue;  // 0..64; 64 when no envelope runs
  int32_t volumeEnvDelta;  // 16.16 per tick
  uint8_t volumeEnvStopped;
  int32_t panningEnvTick, panningEnvPoint;
  int32_t panningEnvFixed;
  int32_t panningEnvValue;  // 0..64, 32 = centre
  int32_t panningEnvDelta;
  uint8_t panningEnvStopped;
  int32_t fadeoutVolume;        // 65536 down to 0 after key off
  int32_t autoVibratoPosition;  // 0..255
  int32_t autoVibratoSweep;     // ticks since reset, capped at the sweep
  uint8_t keyOff;
  uint8_t instrument;  // last instrument, 0-based
  uint8_t realNote;    // note + relative note, 0-based
  int32_t notePeriod;  // period of the last note; tone portamento target
  uint8_t lastEffect;
  int32_t sampleOffset;
  uint8_t portaDownSpeed, portaUpSpeed;
  uint8_t extraFinePortaDown, extraFinePortaUp;
  uint8_t volumeSlide;   // shared by effects 5, 6 and A
  uint8_t panningSlide;
  uint8_t retrigVolume, retrigInterval;
  int32_t portaTarget;
  uint8_t portaSpeed;
  int8_t vibratoPosition;  // -32..31
  uint8_t vibratoSpeed, vibratoDepth;
  int8_t tremoloPosition;  // -32..31
  uint8_t tremoloSpeed, tremoloDepth;
  uint8_t tremorCounter, tremorOn, tremorOff;
  int32_t loopRow, loopCount;
  uint8_t waveControl;  // low nibble vibrato, high nibble tremolo waveform
  uint8_t fineVolumeSlide;
  uint8_t finePortaUp, finePortaDown;
  // What only the tracker's rules keep (xm_tracker_rules.cpp).
  uint8_t fineVolumeDown;   // memory of EB, apart from EA's
  int8_t portaDirection;    // tone portamento: -1 period falling, 1 rising, 0 none
  uint8_t glissando;        // E3: tone portamento in semitones
  uint8_t retrigCount;      // ticks counted towards the next retrigger
  uint8_t tremorPhaseOn;    // tremor: in its on phase
  uint8_t tremorLeft;       // ticks left in the phase
  uint8_t tremorSilent;     // tremor's silence, heard until the volume is set
  uint8_t panningSustainHeld;  // the panning envelope reached its sustain before a key off
  uint8_t volumeSetAtOnce;  // this tick set the volume: no glide to it
};

// Bits of XmChannel::updateFlags.
constexpr uint8_t XM_UPDATE_FREQUENCY = 1;
constexpr uint8_t XM_UPDATE_VOLUME = 2;
constexpr uint8_t XM_UPDATE_PANNING = 4;
constexpr uint8_t XM_UPDATE_TRIGGER = 8;
constexpr uint8_t XM_UPDATE_REWIND = 0x20;
constexpr uint8_t XM_UPDATE_STOP = 0x40;

// One mixer voice.
struct MixVoice {
  int32_t index;        // own position in voices
  int32_t volume;       // 0..127
  int32_t panning;      // 0..255
  uint32_t startOffset; // frame to start from at the next trigger
  const XmSample* sample;  // null = silent, not mixed
  int32_t leftLevel, rightLevel;  // target levels 0..127
  int32_t position;     // integer frame position
  uint32_t fraction;    // units of 2^-32
  uint32_t stepFraction;
  int32_t stepWhole;    // advance per output frame, 32.32
  int32_t direction;    // 1 forward, 2 backward
  int32_t lastLeftTarget, lastRightTarget;
  int32_t rampLeft, rampRight;  // current levels x 256
  float rampLeftDelta, rampRightDelta;
  int32_t rampFramesLeft;
  // A glide: when the voice's levels next change, it moves to them over
  // this many frames, in steps of constant level, rather than by the
  // mixer's short ramp (0).
  int32_t glideFrames;
  uint8_t gliding;  // the running ramp is such a glide
  // The channel has gone on in the partner voice: this one only ramps out,
  // and stops once it is silent, since nothing can make it heard again.
  uint8_t released;
};

// Stamp of one output block: the song position it was mixed at (6 bytes).
#pragma pack(push, 1)
struct BlockStamp {
  uint8_t order;
  uint8_t row;
  int32_t timeMs;
};
#pragma pack(pop)
static_assert(sizeof(BlockStamp) == 6, "a block stamp is 6 bytes");

constexpr int XM_CHANNELS = 32;
constexpr int XM_VOICES = 256;
constexpr int XM_MIXED_VOICES = 64;
// A channel sounds through voice i or its partner i +- 32: a new note starts
// in the partner while the old sound ramps out where it was.
constexpr int XM_PARTNER_DISTANCE = 32;
inline int xm_partner_voice(int index) {
  return index < XM_PARTNER_DISTANCE ? index + XM_PARTNER_DISTANCE : index - XM_PARTNER_DISTANCE;
}
// Sample numbers (XmSample::number): the empty sample and 16 per instrument.
constexpr int XM_MAX_INSTRUMENTS = 128;
constexpr int XM_SAMPLE_NUMBERS = 1 + XM_MAX_INSTRUMENTS * 16;

// A voice's target level on each side (0..127) from its volume and panning.
inline void xm_voice_levels(MixVoice& v) {
  v.leftLevel = v.volume * (255 - v.panning) / 255;
  v.rightLevel = v.volume * v.panning / 255;
}

// Shared empty records, constant: the engine substitutes them for
// instrument numbers and sample slots that hold nothing. A note on the
// empty sample ends at once, since it has no data.
extern const XmSample emptySample;
extern const XmInstrument emptyInstrument;

// Every allocation of the player goes through these, so that running out of
// memory can be tried at each one in turn. xm_allocate gives zero-filled
// memory, null when count x size overflows or memory runs out;
// xm_reallocate keeps the old block when it fails. Neither is asked for 0
// bytes (which may give null).
void* xm_allocate(size_t count, size_t size);
void* xm_reallocate(void* memory, size_t size);
void xm_deallocate(void* memory);
// For tests: the next `count` allocations succeed and every later one fails
// until this is called again; a negative count (the default) fails none.
void xm_fail_allocations_after(long count);

// Sample buffers: `frames` frames plus 8 frames of slack behind and 8 zero
// frames in front of the returned pointer, all zero. Null for 0 frames or
// when memory runs out.
int16_t* xm_sample_data_alloc(uint32_t frames);
void xm_sample_data_free(int16_t* data);

// Frees everything a song owns and the song itself (which must have come
// from the loader). Walks only what was allocated; null does nothing. The
// caller makes sure no context plays the song any more.
void xm_release_song(XmSong* song);
