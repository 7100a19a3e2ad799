# Shared helpers for the end-to-end tests: a private X display, a private
# Wayland compositor, finding windows by caption, answering the start-up
# prompt, reading geometry. Source it from bash; it sets DISPLAY (and, with
# a compositor, XDG_RUNTIME_DIR and E2E_WAYLAND) and cleans up on exit.

E2E_NAME="Vantor Filigree by Kestrel"
E2E_SCREEN_W=1920
E2E_SCREEN_H=1080
# The output of the Wayland compositor that runs on the private X display,
# smaller than the display so that the pointer can leave it.
E2E_OUTPUT_W=1280
E2E_OUTPUT_H=800

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
e2e_cleanup_dirs=()
e2e_cleanup() {
  for pid in "${e2e_cleanup_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${E2E_WINEPREFIX_USED:-}" ] && WINEPREFIX="$E2E_WINEPREFIX_USED" wineserver -k 2>/dev/null
  # A compositor removes its socket as it goes.
  [ ${#e2e_cleanup_dirs[@]} -gt 0 ] && sleep 0.2 && rm -rf "${e2e_cleanup_dirs[@]}"
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

# Starts a private Weston and sets E2E_WAYLAND to its socket's name, in a
# private XDG_RUNTIME_DIR. $1: headless, Weston's headless backend, which
# shows nothing and offers no seat (no keyboard, no pointer: no input can
# reach a client); or x11, its output an E2E_OUTPUT_W x E2E_OUTPUT_H window
# at the top-left corner of the private X display (started here if there is
# none) and its seat fed from that display, so that xdotool's keys and
# clicks reach the Wayland client Weston hands them to. With --debug, Weston
# lists its windows (weston-debug scene-graph) and takes screenshots
# (weston-screenshooter). Skips only when Weston cannot start at all.
e2e_start_weston() {
  local kind="$1" socket="vantor-$1" args pid i
  command -v weston >/dev/null || e2e_skip "weston is not installed"
  if [ -z "${E2E_RUNTIME_DIR:-}" ]; then
    E2E_RUNTIME_DIR=$(mktemp -d)  # 0700, as a runtime folder must be
    e2e_cleanup_dirs+=("$E2E_RUNTIME_DIR")
    # No panel, no screen lock or blanking, and a plain background.
    printf '[core]\nidle-time=0\n[shell]\npanel-position=none\nlocking=false\nbackground-color=0xff102030\n' \
      >"$E2E_RUNTIME_DIR/weston.ini"
  fi
  export XDG_RUNTIME_DIR="$E2E_RUNTIME_DIR"
  args=(--socket="$socket" --config="$E2E_RUNTIME_DIR/weston.ini" --log="$E2E_RUNTIME_DIR/weston-$kind.log" --debug)
  if [ "$kind" = headless ]; then
    args+=(--backend=headless-backend.so)
  else
    [ -n "${DISPLAY:-}" ] || e2e_start_xvfb
    args+=(--backend=x11-backend.so --width="$E2E_OUTPUT_W" --height="$E2E_OUTPUT_H")
  fi
  weston "${args[@]}" >/dev/null 2>&1 &
  pid=$!
  e2e_cleanup_pids+=("$pid")
  # Ready once its shell has put up the background.
  for i in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || break
    WAYLAND_DISPLAY="$socket" weston-debug scene-graph 2>/dev/null | grep -q "background for output" && break
    sleep 0.1
  done
  WAYLAND_DISPLAY="$socket" weston-debug scene-graph 2>/dev/null | grep -q "background for output" ||
    e2e_skip "Weston ($kind backend) cannot start: $(tail -3 "$E2E_RUNTIME_DIR/weston-$kind.log" 2>/dev/null | tr '\n' ' ')"
  E2E_WAYLAND="$socket"
  if [ "$kind" = x11 ]; then
    # Its window keeps the keyboard wherever the pointer goes.
    local info
    info=$(E2E_WAYLAND="" e2e_find_window "^Weston Compositor" 10) || e2e_fail "no window of Weston on $DISPLAY"
    E2E_WESTON_WINDOW=${info%% *}
    xdotool windowfocus --sync "$E2E_WESTON_WINDOW" 2>/dev/null || xdotool windowfocus "$E2E_WESTON_WINDOW"
  fi
  e2e_log "Weston ($kind backend) on $socket"
}

# "ID W H X Y CAPTION" of every top-level window: on the private X display,
# or, with E2E_WAYLAND set, in that compositor (the ID is then the surface's,
# the geometry the surface's own, without the decorations drawn around it).
e2e_windows() {
  if [ -z "${E2E_WAYLAND:-}" ]; then
    xwininfo -root -tree 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": ([^)]*)  \([0-9]*\)x\([0-9]*\)+\(-\{0,1\}[0-9]*\)+\(-\{0,1\}[0-9]*\) .*/\1 \3 \4 \5 \6 \2/p'
    return
  fi
  local line id="" caption x y x2 y2
  WAYLAND_DISPLAY="$E2E_WAYLAND" timeout 10 weston-debug scene-graph 2>/dev/null | while IFS= read -r line; do
    case "$line" in
      *"role xdg_toplevel"*"top-level window '"*)
        id=$(sed 's/.*surface ID \([0-9]*\),.*/\1/' <<<"$line")
        caption=$(sed "s/.* top-level window '\\(.*\\)'\\( of [^,]*\\)\\{0,1\\}, 0x[0-9a-f]*):\$/\\1/" <<<"$line") ;;
      *"position: ("*)
        [ -n "$id" ] || continue
        read -r x y x2 y2 <<<"$(sed 's/.*(\(-*[0-9]*\), \(-*[0-9]*\)) -> (\(-*[0-9]*\), \(-*[0-9]*\)).*/\1 \2 \3 \4/' <<<"$line")"
        echo "$id $((x2 - x)) $((y2 - y)) $x $y $caption"
        id="" ;;
    esac
  done
}

# Prints "ID W H X Y CAPTION" of the first top-level window whose caption
# matches the extended regular expression, waiting up to $2 seconds.
e2e_find_window() {
  local pattern="$1" timeout="${2:-20}" line i
  for i in $(seq $((timeout * 10))); do
    line=$(e2e_windows | awk -v re="$pattern" '{ c=$0; sub(/^[^ ]+ [^ ]+ [^ ]+ [^ ]+ [^ ]+ /, "", c); if (c ~ re) { print; exit } }')
    if [ -n "$line" ]; then echo "$line"; return 0; fi
    sleep 0.1
  done
  return 1
}

# Clicks at (X, Y) of the compositor's output. Weston follows the X pointer
# by its moves, so the pointer first leaves the output and comes back in,
# which tells Weston where it is.
e2e_wayland_click() {
  xdotool mousemove $((E2E_SCREEN_W - 1)) $((E2E_SCREEN_H - 1))
  sleep 0.1
  xdotool mousemove "$1" "$2"
  sleep 0.1
  xdotool click 1
}

# Clicks Yes or No in the "fullscreen?" prompt. $1: sdl, wine or wayland,
# $2: yes/no. The prompt is the small window captioned with the intro's name.
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
  # do the Windows message box and the intro's own under Wayland.
  case "$kind" in
    sdl) fy=745; [ "$answer" = yes ] && fx=275 || fx=730 ;;
    wayland) fy=673; [ "$answer" = yes ] && fx=380 || fx=620 ;;
    *) fy=700; [ "$answer" = yes ] && fx=295 || fx=686 ;;
  esac
  if [ "$kind" = wayland ]; then
    e2e_wayland_click $((x + w * fx / 1000)) $((y + h * fy / 1000))
  else
    xdotool mousemove $((x + w * fx / 1000)) $((y + h * fy / 1000)) click 1
  fi
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

# Gives a window the keyboard focus and presses Escape. In the compositor
# the window it has just shown has the keyboard.
e2e_press_escape() {
  if [ -n "${E2E_WAYLAND:-}" ]; then xdotool key Escape; return; fi
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
  local w="$1" h="$2" x="$3" y="$4" png="$5" shots
  if [ -n "${E2E_WAYLAND:-}" ]; then
    # The compositor's own screenshot of its output, into the current folder.
    shots=$(mktemp -d)
    (cd "$shots" && WAYLAND_DISPLAY="$E2E_WAYLAND" timeout 20 weston-screenshooter) &&
      convert "$shots"/wayland-screenshot-*.png -crop "${w}x${h}+${x}+${y}" +repage "$png"
    local taken=$?
    rm -rf "$shots"
    [ $taken = 0 ] || { echo "weston-screenshooter failed"; return 1; }
  else
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$png" || { echo "screenshot failed"; return 1; }
  fi
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
