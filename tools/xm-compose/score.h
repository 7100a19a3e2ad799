// The intro's music: "2.xm", written note by note.
#pragma once

#include <string>

#include "instruments.h"

namespace compose {

// Channel roles of the song.
enum Channel : int {
  chKick, chSnare, chHats, chBass, chPad1, chPad2, chPad3, chArp, chLead, chSquare,
  channelCount
};

// XM note number (1 = C-0) of a name such as "A4", "C#5" or "Bb3"; 0 for an
// unreadable name.
int note_number(const char* name);

// Lays a melody into one channel from `startRow`. The text is a list of
// NOTE:ROWS tokens ('|' between bars is ignored), where NOTE is a note name
// or '-' for a key off, and letters after ROWS shape the note: g glides into
// it from the previous one, v adds vibrato once it has sounded a while, f
// fades it out over its last rows. Returns the row after the last token, or
// -1 for text it cannot read.
int write_melody(Pattern& p, int channel, std::uint8_t instrument, int startRow, const char* text,
                 int volume, int transpose = 0, bool diatonicThirdBelow = false);

Module compose_song();

// Every melody of the song fills its four bars exactly; false, naming the
// first that does not, otherwise.
bool check_score(std::string* error);

}  // namespace compose
