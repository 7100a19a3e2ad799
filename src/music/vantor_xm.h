/* vantor-xm: the XM module player of Vantor Filigree, as a library.
 *
 * Load a module, then render it into your own buffers as interleaved stereo
 * (left, right) frames, 16-bit or float, at the rate you choose:
 *
 *   vxm_error error;
 *   vxm_song* song = vxm_load_file("song.xm", 48000, &error);
 *   if (!song) { fprintf(stderr, "%s\n", error.message); return 1; }
 *   int16_t frames[2 * 1024];
 *   size_t n;
 *   while ((n = vxm_render_s16(song, frames, 1024)) > 0) play(frames, n);
 *   vxm_free(song);
 *
 * Contents: errors; threads and process-wide settings; input (loading,
 * probing, reading through your own code); rendering; what a module holds;
 * lengths; position and control; the row callback; the mixing code.
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

/* VXM_VERSION of the library actually linked. */
VXM_API int vxm_version(void);
/* VXM_VERSION_STRING of the library actually linked. */
VXM_API const char* vxm_version_string(void);

/* === Errors ================================================================
 * No call throws, aborts or exits, whatever the input and however little
 * memory there is. Calls that can fail return a vxm_status (loads return
 * null and fill a vxm_error); calls that only answer a question return the
 * answer, and 0, "" or a stated value for a null song or an index out of
 * range. When memory runs out a call returns VXM_ERROR_MEMORY and leaves
 * the song exactly as it was; a load that runs out leaves nothing behind.
 * After loading, only vxm_set_rate, vxm_set_rules and a seek to a row the
 * song never reaches from its start allocate memory. */

typedef enum vxm_status {
  VXM_OK = 0,
  VXM_ERROR_ARGUMENT = 1, /* a null pointer, a value out of range, a result too large for its type */
  VXM_ERROR_OPEN = 2,     /* the file could not be opened */
  VXM_ERROR_READ = 3,     /* reading failed part way (the system or your read callback said so) */
  VXM_ERROR_FORMAT = 4,   /* not an XM module this player can play safely */
  VXM_ERROR_MEMORY = 5    /* memory ran out */
} vxm_status;

/* What a load says: the status and one English sentence without a final
 * full stop, e.g. "not an XM module (wrong signature)". A load that succeeds
 * sets VXM_OK and the song's warning (see vxm_warning), "" for a whole
 * module. */
typedef struct vxm_error {
  vxm_status status;
  char message[224];
} vxm_error;

/* === Threads and process-wide settings ======================================
 * A song is used by one thread at a time: every call on it, the information
 * and position calls too, must not overlap another call on the same song.
 * Different songs, from the same file too, may be loaded, rendered and freed
 * on different threads at once. The library's one process-wide setting is
 * the choice of mixing code (vxm_use_mixer, at the end), which must not
 * change while any song renders. */

/* === Input ==================================================================
 * Each load returns a new song ready to play from its start, or null with
 * `error` filled in (`error` may be null). `rate` is the output rate in
 * frames per second, VXM_RATE_MIN to VXM_RATE_MAX, or 0 for
 * VXM_RATE_DEFAULT. Each source is read once, to its end. The song copies
 * what it keeps: the caller's data, path, stream and callbacks are not used
 * after the call.
 *
 * Damaged input: what is not an XM module, or not one that can be played
 * safely, is refused with VXM_ERROR_FORMAT and a reason. A module cut short
 * plays what it holds, as a tracker would: missing sample data is silence,
 * missing patterns and instruments are empty, and vxm_warning says what is
 * missing. Other damage real files carry (overlong patterns, loops past the
 * sample's end) is repaired so that it plays. Nothing is ever read outside
 * the module's bytes. */

/* Reading through your own code. `read` copies up to `bytes` bytes into
 * `buffer` and returns how many it copied (fewer is fine; the load asks
 * again), 0 at the end of the data, or VXM_IO_ERROR when reading failed,
 * which fails the load with VXM_ERROR_READ. `rewind` goes back to the first
 * byte and returns non-zero, or 0 when it cannot (VXM_ERROR_READ too). The
 * load rewinds once, then reads to the end; the callbacks are not used
 * afterwards. */
typedef struct vxm_io {
  size_t (*read)(void* user, void* buffer, size_t bytes);
  int (*rewind)(void* user);
} vxm_io;
/* What `read` returns for an error. (A reader that returns 0 for an error
 * ends the data there: the load then plays what it read, as a cut file.) */
#define VXM_IO_ERROR ((size_t)-1)

/* `size` bytes at `data`, a module in memory. */
VXM_API vxm_song* vxm_load_memory(const void* data, size_t size, int rate, vxm_error* error);
/* The file at `path` (VXM_ERROR_OPEN when it cannot be opened). */
VXM_API vxm_song* vxm_load_file(const char* path, int rate, vxm_error* error);
/* `stream` from where it stands to its end (a pipe works too); the stream
 * stays open. */
VXM_API vxm_song* vxm_load_stdio(FILE* stream, int rate, vxm_error* error);
/* Through your callbacks, with `user` passed to each. */
VXM_API vxm_song* vxm_load_io(const vxm_io* io, void* user, int rate, vxm_error* error);

/* Whether the `size` bytes at `data` begin an XM module this library plays,
 * without loading it: VXM_OK, or VXM_ERROR_FORMAT with the reason in
 * `error` (may be null). The signature (the first 17 bytes) is judged, and
 * when `size` covers the first VXM_PROBE_BYTES bytes, the counts of
 * channels, orders, patterns and instruments too. VXM_ERROR_ARGUMENT for
 * null data with a size. A module that passes can still be refused by a
 * load when its later parts cannot be played. */
#define VXM_PROBE_BYTES 80
VXM_API vxm_status vxm_probe(const void* data, size_t size, vxm_error* error);

/* What the loaded module lacks, one English sentence without a final full
 * stop, e.g. "the file is cut short: it ends in the sample data of
 * instrument 3 of 12; what is missing is silent"; "" when the module is
 * whole or the song null. Lives as long as the song. */
VXM_API const char* vxm_warning(const vxm_song* song);

/* Frees the song and everything it holds. Null does nothing. From inside
 * the song's own row callback the song is freed when the rendering call that
 * made the callback returns; that call returns at once. */
VXM_API void vxm_free(vxm_song* song);

/* === Rendering ==============================================================
 * Fills `frames` stereo frames (2 * frames values, left first) and returns
 * how many it filled: fewer than asked only when the song has played the
 * number of times set by vxm_set_play_count (then 0), or when the song was
 * freed from its row callback. A null song or buffer renders nothing.
 * Output at 44100 frames a second with a gain of 1 is, sample for sample,
 * what the intro plays and xm-render writes; at every rate a tick lasts as
 * long as at 44100 (to within a frame), so the song keeps its timeline.
 * Float values are the same mix before rounding to 16 bits, divided by
 * 32768: loud passages may go beyond -1..1, where the 16-bit output is
 * clipped. The row callback is made from inside these calls. */

VXM_API size_t vxm_render_s16(vxm_song* song, int16_t* buffer, size_t frames);
VXM_API size_t vxm_render_f32(vxm_song* song, float* buffer, size_t frames);

/* === What a module holds ======================================================
 * Strings belong to the song and live as long as it does. Names are UTF-8:
 * the module's bytes up to their first NUL, trailing spaces removed, read
 * as code page 437 as the DOS trackers showed them (control bytes as their
 * pictures, such as U+263A for 0x01). vxm_name_bytes gives the bytes
 * themselves. A null song or an index out of range gives 0 or "". */

VXM_API const char* vxm_title(const vxm_song* song);
/* The program that wrote the module. */
VXM_API const char* vxm_tracker(const vxm_song* song);
VXM_API int vxm_channel_count(const vxm_song* song);
VXM_API int vxm_pattern_count(const vxm_song* song);
VXM_API int vxm_instrument_count(const vxm_song* song);
/* Samples over all instruments. */
VXM_API int vxm_sample_count(const vxm_song* song);
/* Instrument `instrument`, 0-based. */
VXM_API const char* vxm_instrument_name(const vxm_song* song, int instrument);
/* Samples of an instrument, and the name of its sample `sample`, 0-based. */
VXM_API int vxm_instrument_sample_count(const vxm_song* song, int instrument);
VXM_API const char* vxm_sample_name(const vxm_song* song, int instrument, int sample);

/* Which name vxm_name_bytes gives; `instrument` and `sample` count for the
 * kinds that need them and are ignored otherwise. */
typedef enum vxm_name {
  VXM_NAME_TITLE = 0,
  VXM_NAME_TRACKER = 1,
  VXM_NAME_INSTRUMENT = 2,
  VXM_NAME_SAMPLE = 3
} vxm_name;
/* The name's bytes as the module holds them (up to the first NUL, trailing
 * spaces removed), for names written in another code page. */
VXM_API const char* vxm_name_bytes(const vxm_song* song, vxm_name which, int instrument, int sample);

/* 1 for the linear frequency table, 0 for the Amiga one. */
VXM_API int vxm_linear_frequencies(const vxm_song* song);
/* Entries in the order list, and the pattern at position `position`. */
VXM_API int vxm_order_count(const vxm_song* song);
VXM_API int vxm_order_pattern(const vxm_song* song, int position);

/* === Lengths ==================================================================
 * A play of the song lasts from its start until it first comes back to a
 * row it has already played in the same state, which is where a listener
 * hears it end and start over. The song's course is followed once when it
 * loads, so every length below costs the same whatever the count. A song
 * that never comes back (within about a million rows) counts an hour a
 * play. */

/* Milliseconds of one play at the song's rate; 0 for a null song. */
VXM_API int64_t vxm_length_ms(const vxm_song* song);

/* Where `plays` plays from the song's start end. */
typedef struct vxm_length {
  int64_t frames; /* output frames at the song's rate; -1 for an error */
  int order, row; /* the row playback comes back to (at a cap: the row playing there) */
  int ended;      /* 1 when the plays end before the cap and the song comes back */
} vxm_length;
/* `plays` below 1 counts as 1. With `capFrames` >= 0 a result beyond it is
 * cut to it (ended 0); below 0 there is no cap. `frames` is -1 for a null
 * song or, without a cap, for an end beyond int64. Nothing is mixed and the
 * song's position does not move. */
VXM_API vxm_length vxm_measure(const vxm_song* song, int plays, int64_t capFrames);

/* === Position and control =====================================================
 * Frames and milliseconds count from the song's start: after any seek,
 * vxm_time_ms and the callback's frames say where in the song playback is.
 * Every call here takes effect before the next frame rendered, except
 * vxm_mute_channel (see there). Each may be called from the row callback. */

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
  int level;      /* a level meter, 0 to 127: the volume after envelopes,
                     fadeout and global volume; 0 while silent or muted */
} vxm_channel_state;
/* Fills `state` for channel `channel` (0-based) and returns 1; for a null
 * song or state, or a channel the song does not have, returns 0 and fills
 * in zeros where it can. After the last play the channels read silent. */
VXM_API int vxm_channel(const vxm_song* song, int channel, vxm_channel_state* state);

/* Seeks. Each puts playback where rendering from the start would be, in
 * exactly the state it would have there, and plays on from there: the song
 * is played unheard up to that point (from where it is, when that lies
 * before it). A point past the end of the last play (see
 * vxm_set_play_count) lands at that end at once: rendering gives 0 frames
 * until the play count grows. A point beyond the song's second play, when
 * it plays on for ever or for many plays, lands in the same rows of its
 * second play (of an earlier one, for the rare songs whose plays differ in
 * length), with the time still counted to the point asked for; what rings
 * on from earlier plays may differ there. So no seek plays more than about
 * two plays unheard. VXM_ERROR_ARGUMENT for a null song or a point out of
 * range, with nothing changed. */

/* To where playback first reaches order position `order` (0-based). An
 * order the song never reaches from its start is played from its first row
 * as a song starts (voices and effects fresh, speed and tempo the song's
 * first), with frames, time and plays counted from there: this may allocate
 * and so give VXM_ERROR_MEMORY. */
VXM_API vxm_status vxm_seek_order(vxm_song* song, int order);
/* The same for row `row` (0-based) of order position `order`. */
VXM_API vxm_status vxm_seek_row(vxm_song* song, int order, int row);
/* To `ms` milliseconds after the song's start: the first frame at or after
 * it, so vxm_time_ms reads `ms` back. VXM_ERROR_ARGUMENT for negative or
 * overflowing values (such as INT64_MAX). */
VXM_API vxm_status vxm_seek_ms(vxm_song* song, int64_t ms);

/* How many times the song plays before rendering stops: 1 (the default)
 * plays it once, 0 (or below) for ever. Counted from the song's start.
 * VXM_ERROR_ARGUMENT, the count unchanged, when the end lies beyond int64
 * frames. */
VXM_API vxm_status vxm_set_play_count(vxm_song* song, int count);
/* 1 once rendering has reached the end of the last play, else 0. */
VXM_API int vxm_ended(const vxm_song* song);

/* Renders at `rate` frames a second from now on (0: VXM_RATE_DEFAULT), at
 * the same point of the song, reached in the state rendering from the start
 * would have there. VXM_ERROR_ARGUMENT for a rate out of range;
 * VXM_ERROR_MEMORY leaves the song at its old rate. */
VXM_API vxm_status vxm_set_rate(vxm_song* song, int rate);
/* The rate the song renders at. */
VXM_API int vxm_rate(const vxm_song* song);

/* Silences channel `channel` (0-based) or lets it sound again; its notes go
 * on playing unheard, so it comes back in step. The player mixes about 20
 * ms ahead of the frames handed out: this takes effect from the next tick it
 * mixes, up to that much after the next frame. VXM_ERROR_ARGUMENT for a
 * channel the song does not have. */
VXM_API vxm_status vxm_mute_channel(vxm_song* song, int channel, int muted);
/* A factor applied to the mix before it is rounded: 1 (the default) leaves
 * the output untouched, 0.5 halves it. Negative values count as 0;
 * VXM_ERROR_ARGUMENT for a NaN or an infinity. */
VXM_API vxm_status vxm_set_gain(vxm_song* song, float gain);

/* Whose rules a song plays by. VXM_RULES_PLAYER (the default) are this
 * player's own: exactly what the intro plays. VXM_RULES_TRACKER follow the
 * tracker that defined the XM format wherever the two differ (key-off and
 * fade-out, note delay, retrigger, tremor, the note range and more), so that
 * songs sound as their composers heard them. */
typedef enum vxm_rules {
  VXM_RULES_PLAYER = 0,
  VXM_RULES_TRACKER = 1
} vxm_rules;
/* Plays the song by `rules` from its start, as vxm_seek_order(song, 0) does,
 * its lengths and play counts worked out anew; choose them before
 * rendering. VXM_ERROR_ARGUMENT for a null song or rules that are neither
 * of these; VXM_ERROR_MEMORY leaves the song as it was (working the course
 * out anew allocates). */
VXM_API vxm_status vxm_set_rules(vxm_song* song, vxm_rules rules);
/* The rules the song plays by; VXM_RULES_PLAYER for a null song. */
VXM_API vxm_rules vxm_get_rules(const vxm_song* song);

/* === The row callback =========================================================
 * Called from inside vxm_render_s16 and vxm_render_f32, once for every row
 * the song starts, just before the row's first frame is handed out, with
 * the row's order position and row and that frame's number counted from
 * the song's start. It runs outside the mixer and may call anything on its
 * own song, each call taking effect as the section above says: a seek, for
 * one, makes the next frame handed out the first of the point sought, so
 * seeking back from the row after a section loops the section seamlessly.
 * vxm_free from the callback frees the song when the rendering returns. A
 * callback that seeks to its own row each time never lets rendering move
 * on. Null stops the calls; VXM_ERROR_ARGUMENT for a null song. */
typedef void (*vxm_row_callback)(void* user, int order, int row, int64_t frame);
VXM_API vxm_status vxm_set_row_callback(vxm_song* song, vxm_row_callback callback, void* user);

/* === The mixing code ==========================================================
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
