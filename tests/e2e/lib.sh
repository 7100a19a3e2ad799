# Shared helpers for the end-to-end tests: a private X display, finding
# windows by caption, answering the start-up prompt, reading geometry.
# Source it from bash; it sets DISPLAY and cleans up on exit.

E2E_NAME="Vantor Filigree by Kestrel"
E2E_SCREEN_W=1920
E2E_SCREEN_H=1080

e2e_fail() {
  echo "FAIL: $*" >&2
  if [ -s "${E2E_INTRO_STDERR:-}" ]; then
    echo "--- the intro's standard error:" >&2
    tail -20 "$E2E_INTRO_STDERR" >&2
  fi
  exit 1
}
e2e_skip() { echo "SKIP: $*"; exit 77; }
e2e_log() { echo "[$(date +%T)] $*"; }

e2e_cleanup_pids=()
e2e_cleanup() {
  for pid in "${e2e_cleanup_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${E2E_WINEPREFIX_USED:-}" ] && WINEPREFIX="$E2E_WINEPREFIX_USED" wineserver -k 2>/dev/null
  return 0
}
trap e2e_cleanup EXIT

# Starts a private Xvfb at 1920x1080x24; Xvfb picks a free display number.
e2e_start_xvfb() {
  command -v Xvfb >/dev/null || e2e_skip "Xvfb is not installed"
  local fifo n
  fifo=$(mktemp -u); mkfifo "$fifo"
  # -noreset: the server must not restart each time its last client (one of
  # the checks here, or the prompt) disconnects, or the next one may fail.
  Xvfb -displayfd 3 -screen 0 "${E2E_SCREEN_W}x${E2E_SCREEN_H}x24" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  e2e_cleanup_pids+=($!)
  read -r -t 20 n <"$fifo" || e2e_fail "Xvfb did not start"
  rm -f "$fifo"
  export DISPLAY=":$n"
  if xwininfo -root -tree | grep -q "$E2E_NAME"; then
    xwininfo -root -tree >&2
    e2e_fail "display $DISPLAY is not fresh"
  fi
  e2e_log "Xvfb on $DISPLAY"
}

# Prints "ID W H X Y CAPTION" of the first top-level window whose caption
# matches the extended regular expression, waiting up to $2 seconds.
e2e_find_window() {
  local pattern="$1" timeout="${2:-20}" line i
  for i in $(seq $((timeout * 10))); do
    line=$(xwininfo -root -tree 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": ([^)]*)  \([0-9]*\)x\([0-9]*\)+\(-\{0,1\}[0-9]*\)+\(-\{0,1\}[0-9]*\) .*/\1 \3 \4 \5 \6 \2/p' |
           awk -v re="$pattern" '{ c=$0; sub(/^[^ ]+ [^ ]+ [^ ]+ [^ ]+ [^ ]+ /, "", c); if (c ~ re) { print; exit } }')
    if [ -n "$line" ]; then echo "$line"; return 0; fi
    sleep 0.1
  done
  return 1
}

# Clicks Yes or No in the "fullscreen?" prompt. $1: sdl or wine, $2: yes/no.
# The prompt is the small window captioned with the intro's name.
e2e_answer_prompt() {
  local kind="$1" answer="$2" info id w h x y fx fy
  local previous="" i
  # Wine lays the box out after mapping it: wait until it stops moving.
  for i in $(seq 60); do
    info=$(e2e_find_window "^${E2E_NAME}\$" 90) || e2e_fail "the fullscreen? prompt did not appear"
    read -r id w h x y _ <<<"$info"
    [ "$w" -lt 600 ] || e2e_fail "expected the prompt, found a ${w}x${h} window"
    [ "$info" = "$previous" ] && break
    previous="$info"
    sleep 0.5
  done
  # Button centres as fractions of the box: SDL draws Yes left of No, and so
  # does the Windows message box.
  if [ "$kind" = sdl ]; then fy=745; [ "$answer" = yes ] && fx=275 || fx=730
  else fy=700; [ "$answer" = yes ] && fx=295 || fx=686; fi
  xdotool mousemove $((x + w * fx / 1000)) $((y + h * fy / 1000)) click 1
  e2e_log "answered $answer in the prompt $id (${w}x${h}+${x}+${y})"
}

# Waits up to $2 seconds for a child process to end and sets E2E_RC to its
# exit code; returns 1 when it does not end in time, and then (unless $3 is
# no-kill) shows where it hangs and kills it.
e2e_wait_exit() {
  local pid="$1" timeout="${2:-20}" keep="${3:-}" i
  for i in $(seq $((timeout * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"; E2E_RC=$?; return 0
    fi
    sleep 0.1
  done
  [ "$keep" = no-kill ] && return 1
  # Say where a hung process stands before ending it.
  if command -v gdb >/dev/null; then
    local target
    target=$(pgrep -P "$pid" | head -1); target=${target:-$pid}
    timeout 60 gdb -batch -p "$target" -ex "thread apply all bt 12" 2>/dev/null | grep -E '^(Thread|#)' >&2
  fi
  kill "$pid" 2>/dev/null
  return 1
}

# Gives a window the keyboard focus and presses Escape.
e2e_press_escape() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.2
  xdotool key --window "$1" Escape 2>/dev/null || xdotool key Escape
}

# Prepares a Wine prefix once per build folder ($1), quietly.
e2e_wine_prefix() {
  command -v wine >/dev/null || e2e_skip "wine is not installed"
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  E2E_WINEPREFIX_USED="$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    e2e_log "creating the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || e2e_fail "wineboot failed"
    wineserver -w
  fi
}

# Takes a screenshot of the client area (W H X Y) into $5 and checks what a
# viewer should see once the scroll text has entered: rainbow-coloured cubes
# across the middle of the window and black above and below them.
# Retries for a while, since the letters enter after a number of frames, not
# of seconds, and a loaded machine draws slowly.
e2e_check_scroller_shot() {
  local i reason
  for i in $(seq 20); do
    reason=$(e2e_scroller_shot_problem "$@") && return 0
    sleep 1
  done
  e2e_fail "$reason"
}

e2e_scroller_shot_problem() {
  local w="$1" h="$2" x="$3" y="$4" png="$5"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$png" || { echo "screenshot failed"; return 1; }
  e2e_png_scroller_problem "$png" "$w" "$h"
}

# The checks of e2e_scroller_shot_problem on a picture already taken (PNG W H).
e2e_png_scroller_problem() {
  local png="$1" w="$2" h="$3" band top bottom stats hues lit
  band=$((h / 5))
  top=$(convert "$png" -crop "${w}x${band}+0+0" +repage -format '%[fx:maxima]' info:)
  bottom=$(convert "$png" -crop "${w}x${band}+0+$((h - band))" +repage -format '%[fx:maxima]' info:)
  [ "$top" = 0 ] && [ "$bottom" = 0 ] || { echo "the top or bottom fifth of $png is not black"; return 1; }
  # Hues of the lit pixels in the middle third, in twelve 30-degree bins.
  stats=$(convert "$png" -crop "${w}x$((h / 3))+0+$((h / 3))" +repage -sample 50% -depth 8 txt:- |
    sed -n 's/^[^(]*(\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3/p' |
    awk '{
        r = $1; g = $2; b = $3; mx = r; if (g > mx) mx = g; if (b > mx) mx = b
        mn = r; if (g < mn) mn = g; if (b < mn) mn = b
        total++
        if (mx < 40) next
        lit++
        if (mx - mn < 0.3 * mx || mx == mn) next
        if (mx == r) hue = 60 * (g - b) / (mx - mn); else if (mx == g) hue = 120 + 60 * (b - r) / (mx - mn); else hue = 240 + 60 * (r - g) / (mx - mn)
        if (hue < 0) hue += 360
        bins[int(hue / 30) % 12]++
      }
      END { n = 0; for (k in bins) if (bins[k] > 0.005 * lit) n++; printf "%d %.4f\n", n, lit / total }')
  read -r hues lit <<<"$stats"
  e2e_log "screenshot $png: $hues hue bins, lit fraction $lit in the middle" >&2
  awk -v l="$lit" 'BEGIN { exit !(l > 0.03) }' || { echo "too few lit pixels in the middle of $png"; return 1; }
  [ "$hues" -ge 3 ] || { echo "the cubes in $png are not rainbow-coloured ($hues hues)"; return 1; }
}
