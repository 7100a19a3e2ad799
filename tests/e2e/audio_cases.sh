#!/usr/bin/env bash
# End-to-end checks of the intro's sound, heard through a capturing device.
# Usage: audio_cases.sh sdl|wine|wayland EXECUTABLE CASE SCRATCH_DIR XM_RENDER
#   CASE: capture  play beside its 2.xm; the captured sound must equal
#                  xm-render's output of that 2.xm over the first 20 s
#         missing  no 2.xm beside the executable: silent, scroller, exit 0
#         damaged  a cut-off 2.xm: the same
# The Linux build plays into SDL's disk driver (wayland: in a private
# Weston, with only WAYLAND_DISPLAY set); the Windows build under Wine plays
# into an ALSA file plugin over the null device.
# Needs Xvfb, xdotool, ImageMagick, python3; wine for the Windows build,
# weston for wayland.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

kind="$1" exe="$2" case_name="$3" scratch="$4" render="$5"
seconds=20
[ -f "$exe" ] || e2e_skip "$exe has not been built"
[ -x "$render" ] || e2e_skip "$render has not been built"
exe=$(realpath "$exe") render=$(realpath "$render") scratch=$(realpath -m "$scratch")
module="$(dirname "$exe")/2.xm"
[ -f "$module" ] || e2e_fail "$module was not built beside $exe"

if [ "$kind" = wayland ]; then e2e_start_weston x11; else e2e_start_xvfb; fi
work="$scratch/audio-$kind-$case_name"
rm -rf "$work"; mkdir -p "$work"
capture="$work/capture.raw"

# The missing and damaged cases run a copy of the executable in a folder of
# their own, so its neighbour is whatever the case puts there.
folder=$(dirname "$exe")
if [ "$case_name" != capture ]; then
  folder="$work/bin"
  mkdir -p "$folder"
  cp "$exe" "$folder/"
  exe="$folder/$(basename "$exe")"
  [ "$case_name" = damaged ] && head -c 1500 "$module" >"$folder/2.xm"
fi

if [ "$kind" = wine ]; then
  e2e_wine_prefix "$scratch/wineprefix"
  # ALSA reads the default device from $HOME/.asoundrc.
  mkdir -p "$work/home"
  cat >"$work/home/.asoundrc" <<ASOUND
pcm.!default {
  type file
  slave.pcm "null"
  file "$capture"
  format "raw"
}
ASOUND
  launch=(env HOME="$work/home" wine "$exe")
else
  launch=(env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$capture" "$exe")
  [ "$kind" = wayland ] && launch=(env -u DISPLAY WAYLAND_DISPLAY="$E2E_WAYLAND" "${launch[@]:1}")
fi

(cd "$work" && exec "${launch[@]}" >"$work/stdout.txt" 2>"$work/stderr.txt") &
intro_pid=$!
e2e_cleanup_pids+=("$intro_pid")
e2e_answer_prompt "$kind" no
title_re="^${E2E_NAME} - [0-9][0-9]+:[0-9][0-9]:[0-9][0-9]  \\[[0-9]+ fps\\]\$"
info=$(e2e_find_window "$title_re" 60) || e2e_fail "no running window"
read -r id w h x y _ <<<"$info"

case "$case_name" in
  capture)
    # Enough sound for the comparison, with room for silence before it.
    want=$(( (seconds + 3) * 44100 * 4 ))
    for i in $(seq 900); do
      size=$(stat -c %s "$capture" 2>/dev/null || echo 0)
      [ "$size" -ge "$want" ] && break
      sleep 0.1
    done
    [ "$size" -ge "$want" ] || e2e_fail "only $size bytes captured after 90 s"
    ;;
  missing|damaged)
    sleep 4
    e2e_check_scroller_shot "$w" "$h" "$x" "$y" "$work/scroller.png"
    ;;
  *)
    echo "unknown case $case_name" >&2; exit 2 ;;
esac

e2e_press_escape "$id"
e2e_wait_exit "$intro_pid" 30 || e2e_fail "the intro did not end"
[ "$E2E_RC" = 0 ] || e2e_fail "exit code $E2E_RC, expected 0"

if [ "$case_name" = capture ]; then
  "$render" "$module" -o "$work/reference.wav" --seconds $((seconds + 10)) >/dev/null ||
    e2e_fail "xm-render failed"
  # Wine's audio thread pads with silence when the loaded machine starves it;
  # those whole-frame gaps are reported, every sample of music must match.
  gaps=()
  [ "$kind" = wine ] && gaps=(--allow-gaps)
  /usr/bin/python3 "$here/audio_compare.py" "${gaps[@]}" "$capture" "$work/reference.wav" "$seconds" ||
    e2e_fail "the captured sound is not what xm-render renders"
else
  # No music: either no device was opened at all, or it played only silence.
  if [ -f "$capture" ]; then
    /usr/bin/python3 "$here/audio_compare.py" --silent "$capture" || e2e_fail "the intro was not silent"
  fi
fi
e2e_log "PASS audio $kind $case_name"
exit 0
