/* vantor-xm: the XM module player of Vantor Filigree, as a library.
 *
 * Load a module, then render it into your own buffers as interleaved stereo
 * (left, right) frames, 16-bit or float, at the rate you chose when loading:
 *
 *   vxm_error error;
 *   vxm_song* song = vxm_load_file("song.xm", 48000, &error);
 *   if (!song) { fprintf(stderr, "%s\n", error.message); return 1; }
 *   int16_t frames[2 * 1024];
 *   size_t n;
 *   while ((n = vxm_render_s16(song, frames, 1024)) > 0) play(frames, n);
 *   vxm_free(song);
 *
 * Threads: the library's only global state is the choice of mixing code
 * (vxm_use_mixer). One song is used by one thread at a time; different
 * songs, from the same file too, may be loaded, rendered and freed on
 * different threads at once. Functions that only read a song (the information and
 * position calls) may not run while another thread renders that same song.
 *
 * Damaged input: a module that cannot be played safely is rejected with a
 * reason; the damage real files carry (cut-off sample data, overlong
 * patterns, loops past the sample's end) is repaired so that it plays.
 * Nothing is ever read outside the module's bytes.
 *
 * Usable from C99 and C++. */
#ifndef VANTOR_XM_H
#define VANTOR_XM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* VXM_VERSION_MAJOR, VXM_VERSION_MINOR, VXM_VERSION_PATCH and
 * VXM_VERSION_STRING (such as "1.0.0"), written by the build. */
#include "vantor_xm_version.h"
/* One number that grows with every release: major * 10000 + minor * 100 + patch. */
#define VXM_VERSION (VXM_VERSION_MAJOR * 10000 + VXM_VERSION_MINOR * 100 + VXM_VERSION_PATCH)

/* Output rates the library renders at, in frames per second, and the one
 * it uses when asked for 0: that of the intro and of xm-render. */
#define VXM_RATE_MIN 8000
#define VXM_RATE_MAX 192000
#define VXM_RATE_DEFAULT 44100

#if defined(_WIN32) && defined(VXM_SHARED_BUILD)
#define VXM_API __declspec(dllexport)
#elif defined(_WIN32) && defined(VXM_SHARED)
#define VXM_API __declspec(dllimport)
#elif defined(_WIN32)
#define VXM_API
#elif defined(__GNUC__)
#define VXM_API __attribute__((visibility("default")))
#else
#define VXM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A loaded song with its own playback state. Opaque; free with vxm_free. */
typedef struct vxm_song vxm_song;

/* Why a call failed. */
typedef enum vxm_status {
  VXM_OK = 0,
  VXM_ERROR_ARGUMENT = 1, /* a null pointer, a rate out of range, an order past the song's end */
  VXM_ERROR_OPEN = 2,     /* the file could not be opened */
  VXM_ERROR_READ = 3,     /* reading failed part way */
  VXM_ERROR_FORMAT = 4,   /* not an XM module this player can play safely */
  VXM_ERROR_MEMORY = 5    /* memory ran out */
} vxm_status;

/* What a failed load says: the status and one English sentence without a
 * final full stop, e.g. "not an XM module (wrong signature)". */
typedef struct vxm_error {
  vxm_status status;
  char message[224];
} vxm_error;

/* Reading through your own code. `read` copies up to `bytes` bytes into
 * `buffer` and returns how many it copied: 0 only at the end of the data
 * (or on an error). `rewind` goes back to the first byte; non-zero on
 * success. The load call rewinds once, then reads the module once to its
 * end; the callbacks are not used afterwards. */
typedef struct vxm_io {
  size_t (*read)(void* user, void* buffer, size_t bytes);
  int (*rewind)(void* user);
} vxm_io;

/* --- Version ------------------------------------------------------------ */

/* VXM_VERSION of the library actually linked. */
VXM_API int vxm_version(void);
/* VXM_VERSION_STRING of the library actually linked. */
VXM_API const char* vxm_version_string(void);

/* --- Loading --------------------------------------------------------------
 * Each returns a new song ready to play from its start, or null with
 * `error` filled in (`error` may be null). `rate` is the output rate in
 * frames per second, VXM_RATE_MIN to VXM_RATE_MAX; 0 means
 * VXM_RATE_DEFAULT. Each source is read once. The song copies what it
 * keeps: the caller's data, path, stream and callbacks are not used after
 * the call. */

VXM_API vxm_song* vxm_load_memory(const void* data, size_t size, int rate, vxm_error* error);
VXM_API vxm_song* vxm_load_file(const char* path, int rate, vxm_error* error);
/* Reads `stream` from where it stands to its end (a pipe works too); the
 * stream stays open. */
VXM_API vxm_song* vxm_load_stdio(FILE* stream, int rate, vxm_error* error);
VXM_API vxm_song* vxm_load_io(const vxm_io* io, void* user, int rate, vxm_error* error);

/* Frees the song and everything it holds. Null does nothing. */
VXM_API void vxm_free(vxm_song* song);

/* --- Rendering --------------------------------------------------------------
 * Fills `frames` stereo frames (2 * frames values, left first) and returns
 * how many it filled: fewer than asked only when the song has played the
 * number of times set by vxm_set_play_count, then 0. A null song or buffer
 * renders nothing. At 44100 frames a second with a gain of 1, the 16-bit
 * output is exactly what the intro plays and xm-render writes. Float values
 * are the same mix before rounding to 16 bits, divided by 32768: loud
 * passages may go beyond -1..1, where the 16-bit output is clipped. */

VXM_API size_t vxm_render_s16(vxm_song* song, int16_t* buffer, size_t frames);
VXM_API size_t vxm_render_f32(vxm_song* song, float* buffer, size_t frames);

/* --- Information ------------------------------------------------------------
 * Strings belong to the song and live as long as it does; names are the
 * module's own bytes up to their first NUL, with trailing spaces removed. A
 * null song or an index out of range gives 0 or "". */

VXM_API const char* vxm_title(const vxm_song* song);
VXM_API const char* vxm_tracker(const vxm_song* song);
VXM_API int vxm_channel_count(const vxm_song* song);
VXM_API int vxm_pattern_count(const vxm_song* song);
VXM_API int vxm_instrument_count(const vxm_song* song);
/* Samples over all instruments. */
VXM_API int vxm_sample_count(const vxm_song* song);
/* Instrument i, 0-based. */
VXM_API const char* vxm_instrument_name(const vxm_song* song, int instrument);
/* Samples of instrument i, and the name of its sample s, 0-based. */
VXM_API int vxm_instrument_sample_count(const vxm_song* song, int instrument);
VXM_API const char* vxm_sample_name(const vxm_song* song, int instrument, int sample);
/* 1 for the linear frequency table, 0 for the Amiga one. */
VXM_API int vxm_linear_frequencies(const vxm_song* song);
/* Entries in the order list, and the pattern at position i. */
VXM_API int vxm_order_count(const vxm_song* song);
VXM_API int vxm_order_pattern(const vxm_song* song, int position);
/* Milliseconds of one play through the song: from its start until it first
 * comes back to a row it has already played (at most an hour). */
VXM_API int64_t vxm_length_ms(const vxm_song* song);

/* Where `plays` plays of the song from its start end, worked out from its
 * timing alone (nothing is mixed, the song's position does not move). */
typedef struct vxm_length {
  int64_t frames; /* output frames at the song's rate */
  int order, row; /* the row playback comes back to */
  int ended;      /* 0 when the song did not come back before the cap */
} vxm_length;
/* capFrames < 0 allows an hour a play. */
VXM_API vxm_length vxm_measure(const vxm_song* song, int plays, int64_t capFrames);

/* --- Position and control ---------------------------------------------------- */

/* Where the next frame rendered is: order position, row, tick within the
 * row, and milliseconds since the start; the pattern playing there, the
 * speed (ticks per row) and the tempo (BPM). */
VXM_API int vxm_order(const vxm_song* song);
VXM_API int vxm_row(const vxm_song* song);
VXM_API int vxm_tick(const vxm_song* song);
VXM_API int64_t vxm_time_ms(const vxm_song* song);
VXM_API int vxm_pattern(const vxm_song* song);
VXM_API int vxm_speed(const vxm_song* song);
VXM_API int vxm_tempo(const vxm_song* song);

/* What a channel plays at the next frame rendered, for pictures in step
 * with the music. */
typedef struct vxm_channel_state {
  int note;       /* its last note, 1 (C-0) to 96 (B-7); 0 while it is silent */
  int instrument; /* that note's instrument, 1 to 128; 0 while it is silent */
  int volume;     /* the channel's volume, 0 to 64 */
  int level;      /* how loud it sounds, 0 to 127: the volume after envelopes,
                     fadeout and global volume; 0 while silent or muted */
} vxm_channel_state;
/* Fills `state` for channel `channel` (0-based) and returns 1; for a null
 * song or state, or a channel the song does not have, returns 0 and fills
 * in zeros where it can. */
VXM_API int vxm_channel(const vxm_song* song, int channel, vxm_channel_state* state);

/* Plays on from the start of order position `order`, with the voices and
 * effects reset as at the song's start. VXM_ERROR_ARGUMENT when past the
 * order list. Resets the play count's progress. */
VXM_API vxm_status vxm_seek_order(vxm_song* song, int order);
/* Plays on from `ms` milliseconds after the start, in exactly the state
 * rendering from the start would have reached there (it plays the song up
 * to that point without output, far faster than real time). */
VXM_API vxm_status vxm_seek_ms(vxm_song* song, int64_t ms);

/* How many times the song plays before rendering stops: 1 (the default)
 * plays it once, 0 for ever. Counted from the song's start. */
VXM_API void vxm_set_play_count(vxm_song* song, int count);
/* 1 once rendering has stopped at the end of the last play, else 0. */
VXM_API int vxm_ended(const vxm_song* song);

/* Silences channel `channel` (0-based) or lets it sound again; its notes go
 * on playing unheard, so it comes back in step. */
VXM_API void vxm_mute_channel(vxm_song* song, int channel, int muted);
/* A factor applied to the mix before it is rounded: 1 (the default) leaves
 * the output untouched, 0.5 halves it. Negative values count as 0. */
VXM_API void vxm_set_gain(vxm_song* song, float gain);

/* Whose rules a song plays by. VXM_RULES_PLAYER (the default) are this
 * player's own: exactly what the intro plays. VXM_RULES_TRACKER follow the
 * tracker that defined the XM format wherever the two differ (key-off and
 * fade-out, note delay, retrigger, tremor, the note range and more), so that
 * songs sound as their composers heard them. */
typedef enum vxm_rules {
  VXM_RULES_PLAYER = 0,
  VXM_RULES_TRACKER = 1
} vxm_rules;
/* Plays the song by `rules` from its start, as vxm_seek_order(song, 0) does;
 * choose them before rendering. VXM_ERROR_ARGUMENT for a null song or rules
 * that are neither of these. */
VXM_API vxm_status vxm_set_rules(vxm_song* song, vxm_rules rules);
/* The rules the song plays by; VXM_RULES_PLAYER for a null song. */
VXM_API vxm_rules vxm_get_rules(const vxm_song* song);

/* Called while rendering, once for every row the song starts, with the
 * output frame (counted from the start or the last seek) at which the row's
 * first tick begins: for pictures in step with the music. Rows are reported
 * when they are mixed, which may be up to 20 ms ahead of the frames handed
 * out. Null stops the calls. */
typedef void (*vxm_row_callback)(void* user, int order, int row, int64_t frame);
VXM_API void vxm_set_row_callback(vxm_song* song, vxm_row_callback callback, void* user);

/* --- The mixing code ------------------------------------------------------------
 * Every processor path gives the same bits; the fastest one this processor
 * runs is the default. For comparisons: "best", "scalar", "portable",
 * "sse2", "avx2" or "avx512". Affects every song; not to be called while any
 * song renders. 1 when taken, 0 when this processor or build lacks it, -1
 * for a name that is none of these. */
VXM_API int vxm_use_mixer(const char* name);
/* The name of the path in use (never "best"). */
VXM_API const char* vxm_mixer(void);

#ifdef __cplusplus
}
#endif

#endif /* VANTOR_XM_H */
