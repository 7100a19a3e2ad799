/* Plays an XM module through SDL2's audio callback with vantor-xm.
 *
 *   vxm-play-example SONG.xm
 *
 * The callback runs on SDL's audio thread and is the only code that renders.
 * The main thread reads the position and the end flag under SDL's audio
 * lock, since one song is used by one thread at a time. */
#include <SDL.h>
#include <signal.h>
#include <stdio.h>

#include "vantor_xm.h"

enum { RATE = 48000 };

static volatile sig_atomic_t interrupted = 0;

static void on_signal(int signal_number) {
  (void)signal_number;
  interrupted = 1;
}

/* SDL asks for `bytes` bytes of 16-bit stereo; after the song's end, silence. */
static void fill(void* user, Uint8* stream, int bytes) {
  vxm_song* song = (vxm_song*)user;
  size_t frames = (size_t)bytes / 4;
  size_t got = vxm_render_s16(song, (int16_t*)stream, frames);
  SDL_memset(stream + got * 4, 0, (frames - got) * 4);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s SONG.xm\n", argv[0]);
    return 2;
  }

  vxm_error error;
  vxm_song* song = vxm_load_file(argv[1], RATE, &error);
  if (!song) {
    fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], error.message);
    return 1;
  }
  int64_t length = vxm_length_ms(song);
  printf("%s: \"%s\" (%s), %d channels, %d instruments, %d:%02d\n", argv[1], vxm_title(song),
         vxm_tracker(song), vxm_channel_count(song), vxm_instrument_count(song), (int)(length / 60000),
         (int)(length / 1000 % 60));

  if (SDL_Init(SDL_INIT_AUDIO) != 0) {
    fprintf(stderr, "%s: no audio: %s\n", argv[0], SDL_GetError());
    vxm_free(song);
    return 1;
  }
  /* SDL converts if the device wants another rate or format. */
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = RATE;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 2048;
  want.callback = fill;
  want.userdata = song;
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(NULL, 0, &want, NULL, 0);
  if (device == 0) {
    fprintf(stderr, "%s: cannot open the audio device: %s\n", argv[0], SDL_GetError());
    vxm_free(song);
    SDL_Quit();
    return 1;
  }
  signal(SIGINT, on_signal);
  SDL_PauseAudioDevice(device, 0);

  int ended = 0;
  while (!ended && !interrupted) {
    SDL_Delay(100);
    SDL_LockAudioDevice(device);
    ended = vxm_ended(song);
    int64_t ms = vxm_time_ms(song);
    int order = vxm_order(song), row = vxm_row(song);
    SDL_UnlockAudioDevice(device);
    printf("\rorder %3d  row %2d  %d:%02d ", order, row, (int)(ms / 60000), (int)(ms / 1000 % 60));
    fflush(stdout);
  }
  printf("\n");

  SDL_CloseAudioDevice(device); /* waits for the callback to finish */
  SDL_Quit();
  vxm_free(song);
  return interrupted ? 130 : 0;
}
