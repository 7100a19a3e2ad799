#include "scroller/scroll_text.h"

// Prose, then sixteen spaces so the last words clear the band before the
// text ends. '>' and '%' are the signature and community logos, '$' a
// heart and '[' a smiling face.
const char scrollText[] =
    "Hi, and welcome to Vantor Filigree, a little intro coded by > and "
    "shown with $love$ to all the friends of % who still stay up far too "
    "late... What you see is a long line of letters built from little "
    "cubes, each with a dim body and bright, lit edges, each walking "
    "slowly through a rainbow of some three and a half million colours, "
    "while two sine lines push the rows of each letter back and forth in "
    "depth... Nothing is loaded from disk but the tune... and even that is "
    "optional. The font, the wave table and this text live inside the "
    "program, and the palette is built once at start-up, one tiny step of "
    "hue at a time... The music comes from our own little module player, "
    "which reads the patterns, runs the effects tick by tick and mixes up "
    "to 64 voices into a looping buffer at 44100 samples per second, all "
    "on its own thread, so the picture never waits for the sound... No "
    "timer drives the motion, so a fast machine simply scrolls faster - if "
    "this text flies by too fast... blame your shiny new card and enjoy "
    "the ride... [ Big thanks to all who still typed a scroller at four in "
    "the morning, to those who keep old formats alive, and to you for "
    "reading this far... Fill a glass, turn it up and let the cubes roll "
    "by... % forever! $[[[$ see you all at the next one >..."
    "                ";
