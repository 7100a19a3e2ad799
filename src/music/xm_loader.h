// Reads an XM module through the file callbacks into a song.
//
// Every size and count is checked against the file: a module that cannot be
// played safely is rejected with a reason (xm_last_error), and the damage
// real files carry (truncated sample data, overlong packed patterns, loops
// past the sample end, stray note bytes) is repaired so the song still plays.
#pragma once

#include "music/xm_types.h"

struct XmFile;

// Loads into `song`, which is zero-filled by the caller and has its
// sampleLoader set (or null). Returns false on failure; then the song may
// hold partly built data, which xm_release_song frees.
bool xm_load_module(XmSong* song, XmFile* file);

// Allocates a song, opens `name` through the callbacks and loads it.
// Returns null on any failure (xm_last_error says why). Free the song with
// xm_release_song, or with the output's xm_free once it may be playing.
XmSong* xm_load(const char* name, XmSampleLoader sampleLoader);

// A short English reason for the last failed load on this thread, e.g.
// "not an XM module (wrong signature)"; "" after a successful load.
const char* xm_last_error();
