// The playback engine: advances a song tick by tick and leaves the result in
// the voice table (which sample, where, at what step and level).
#pragma once

#include "music/xm_types.h"

// Output frames per second of the songs that name no rate of their own.
extern int32_t mixRate;

// The rate `song` plays at: its own, else mixRate.
inline int32_t xm_song_rate(const XmSong* song) { return song->rate > 0 ? song->rate : mixRate; }

// The song's tick handler: advances the song by one tick.
void xm_tick(XmSong* song);

// Sets bpm and recomputes samplesPerTick; frames already counted in
// tickSamplesLeft keep their length. Tempos below 1 count as 1.
void xm_set_bpm(XmSong* song, int32_t bpm);

// Starts `song` from its beginning on its tables: sets the process-wide
// rate constants for a song at mixRate, zeroes all voices (each gets its index and a step
// of 1), resets the song position, speed, tempo, global volume and time, and
// zeroes channels 0..channelCount-1 pointing channel i at voice i.
// Run it before the first block is mixed; nothing may be mixing meanwhile.
void xm_start_song(XmSong* song);

// Amiga period of 0-based note n with finetune f.
int32_t xm_amiga_period(int32_t note, int32_t finetune);
// Output frequency in Hz of a channel's period and period delta. The delta
// raises the pitch with the linear table and lowers it with the Amiga table.
int32_t xm_period_frequency(int32_t period, int32_t periodDelta, bool linear);
