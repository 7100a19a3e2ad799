// The diagnostic log "debug.txt": a fixed header at start, a closing line at
// the end of an orderly run. Nothing else is ever written to it.
#pragma once

// Creates or empties "debug.txt" in the working folder and writes the header.
// Returns 1 when the log is open, 0 when the file cannot be created or is not
// a regular file (a link, a pipe, a device).
int open_debug_log();

// Writes the closing line; nothing more is written to the log.
void close_debug_log();
