#!/usr/bin/env bash
# End-to-end checks of the intro's window, run as a person would use it.
# Usage: window_cases.sh sdl|wine|wayland EXECUTABLE CASE SCRATCH_DIR
#   sdl: the Linux build on a private X display; wine: the Windows build
#   there under Wine; wayland: the Linux build in a private Weston with
#   only WAYLAND_DISPLAY set, as in a Wayland session without X, where it
#   asks in a window of its own
#   CASE: windowed   answer No, check size, centring, caption, Escape, log
#                    (under Wayland the compositor places the window, and a
#                    screenshot of the cubes is checked)
#         fullscreen answer Yes, check the whole screen is covered, Escape
#                    (under Wayland: the output, and the cubes on it)
#         close      answer No, then ask the window to close politely
#                    (under Wayland: the close button of its title bar)
#         readonly   start in a folder that cannot be written: no window, a
#                    non-zero status
#         promptclose  close the prompt unanswered (under Wayland: Escape):
#                    a window at once, not a second prompt (the Linux build:
#                    a Windows Yes/No box has no close button)
#         noframebuffer  a driver without framebuffer objects: the start-up
#                    failure message, no intro window, a non-zero status
#                    (the Linux build, whose software driver can hide an
#                    extension; under Wayland the message is answered with
#                    Return)
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

kind="$1" exe="$2" case_name="$3" scratch="$4"
[ -x "$exe" ] || [ -f "$exe" ] || e2e_skip "$exe has not been built"

work="$scratch/$kind-$case_name"
rm -rf "$work"; mkdir -p "$work"

launch=("$exe")
screen_w=$E2E_SCREEN_W screen_h=$E2E_SCREEN_H
if [ "$kind" = wayland ]; then
  e2e_start_weston x11
  launch=(env -u DISPLAY WAYLAND_DISPLAY="$E2E_WAYLAND" "$exe")
  screen_w=$E2E_OUTPUT_W screen_h=$E2E_OUTPUT_H
else
  e2e_start_xvfb
fi
if [ "$kind" = wine ]; then
  e2e_wine_prefix "$scratch/wineprefix"
  launch=(wine "$exe")
fi

# Asks the window (ID W H X Y) to close as its close button does.
request_close() {
  if [ "$kind" = wayland ]; then
    # The rightmost button of the 24-pixel title bar drawn above the window.
    e2e_wayland_click $(($4 + $2 - 16)) $(($5 - 12))
  else
    /usr/bin/python3 "$here/send_close.py" "$1"
  fi
}

E2E_INTRO_STDERR="$work/stderr.txt"
start_intro() {
  (cd "$1" && exec "${launch[@]}" >"$work/stdout.txt" 2>"$work/stderr.txt") &
  intro_pid=$!
  e2e_cleanup_pids+=("$intro_pid")
}

check_log() {
  local log="$work/debug.txt" expected
  [ -f "$log" ] || e2e_fail "debug.txt was not written"
  expected=$(printf 'debug file\n-------------------------\n-------------------------')
  [ "$(tr -d '\r' <"$log")" = "$expected" ] || { cat -A "$log" >&2; e2e_fail "debug.txt holds something else"; }
}

expect_exit_zero() {
  e2e_wait_exit "$intro_pid" "${1:-20}" || e2e_fail "the intro did not end"
  [ "$E2E_RC" = 0 ] || e2e_fail "exit code $E2E_RC, expected 0"
}

expect_failed_start() {
  e2e_wait_exit "$intro_pid" "${1:-20}" || e2e_fail "the intro did not end"
  [ "$E2E_RC" != 0 ] || e2e_fail "exit code 0 after a failed start"
}

title_re="^${E2E_NAME} - [0-9][0-9]+:[0-9][0-9]:[0-9][0-9]  \\[[0-9]+ fps\\]\$"

case "$case_name" in
  windowed)
    start_intro "$work"
    e2e_answer_prompt "$kind" no
    info=$(e2e_find_window "$title_re" 60) || { xwininfo -root -tree >&2; e2e_fail "no running caption"; }
    read -r id w h x y caption <<<"$info"
    e2e_log "window $id ${w}x${h}+${x}+${y}: $caption"
    [ "$w" = 840 ] && [ "$h" = 525 ] || e2e_fail "client area ${w}x${h}, expected 840x525"
    if [ "$kind" != wayland ]; then
      # The outer frame is centred; the client area sits inside it.
      dx=$(( x + w / 2 - E2E_SCREEN_W / 2 )); dy=$(( y + h / 2 - E2E_SCREEN_H / 2 ))
      [ "${dx#-}" -le 20 ] && [ "${dy#-}" -le 20 ] || e2e_fail "window not centred (off by $dx,$dy)"
    fi
    sleep 1
    e2e_check_scroller_shot "$w" "$h" "$x" "$y" "$work/scroller.png"
    e2e_press_escape "$id"
    expect_exit_zero
    check_log
    ;;
  fullscreen)
    start_intro "$work"
    e2e_answer_prompt "$kind" yes
    info=$(e2e_find_window "^${E2E_NAME}\$" 60) || e2e_fail "no window"
    # Until it has taken the whole screen (a compositor may show it first as
    # a window).
    for i in $(seq 100); do
      read -r id w h x y caption <<<"$info"
      [ "$w" = "$screen_w" ] && [ "$h" = "$screen_h" ] && [ "$x" = 0 ] && [ "$y" = 0 ] && break
      sleep 0.1; info=$(e2e_find_window "^${E2E_NAME}\$" 5)
    done
    e2e_log "window $id ${w}x${h}+${x}+${y}: $caption"
    [ "$w" = "$screen_w" ] && [ "$h" = "$screen_h" ] && [ "$x" = 0 ] && [ "$y" = 0 ] ||
      e2e_fail "full screen window is ${w}x${h}+${x}+${y}"
    [ "$kind" = wayland ] && e2e_check_scroller_shot "$w" "$h" "$x" "$y" "$work/scroller.png"
    sleep 2
    e2e_press_escape "$id"
    expect_exit_zero
    check_log
    ;;
  close)
    start_intro "$work"
    e2e_answer_prompt "$kind" no
    info=$(e2e_find_window "$title_re" 60) || e2e_fail "no running caption"
    read -r id w h x y _ <<<"$info"
    sleep 1
    request_close "$id" "$w" "$h" "$x" "$y" || e2e_fail "could not send the close request"
    if ! e2e_wait_exit "$intro_pid" 15 no-kill; then
      # As a person would, ask once more; but say so, it should not be needed.
      echo "WARNING: no answer to the first close request; asking again" >&2
      request_close "$id" "$w" "$h" "$x" "$y" || e2e_fail "could not send the close request"
      expect_exit_zero
    fi
    [ "$E2E_RC" = 0 ] || e2e_fail "exit code $E2E_RC, expected 0"
    check_log
    ;;
  promptclose)
    start_intro "$work"
    info=$(e2e_find_window "^${E2E_NAME}\$" 90) || e2e_fail "the fullscreen? prompt did not appear"
    read -r id w h _ <<<"$info"
    [ "$w" -lt 600 ] || e2e_fail "expected the prompt, found a ${w}x${h} window"
    sleep 0.5
    if [ "$kind" = wayland ]; then
      xdotool key Escape
    else
      /usr/bin/python3 "$here/send_close.py" "$id" || e2e_fail "could not send the close request"
    fi
    e2e_log "closed the prompt $id unanswered"
    # Windowed at once: the running window comes, and no second prompt.
    info=""
    for i in $(seq 40); do
      info=$(e2e_find_window "$title_re" 1) && break
      # A second prompt may well reuse the first one's window id.
      [ "$i" -gt 2 ] && again=$(e2e_find_window "^${E2E_NAME}\$" 1) && read -r _ w _ <<<"$again" &&
        [ "$w" -lt 600 ] && e2e_fail "the prompt is showing again"
      kill -0 "$intro_pid" 2>/dev/null || e2e_fail "the intro ended"
    done
    [ -n "$info" ] || { xwininfo -root -tree >&2; e2e_fail "no running caption"; }
    read -r id w h _ <<<"$info"
    e2e_log "window $id ${w}x${h}"
    [ "$w" = 840 ] && [ "$h" = 525 ] || e2e_fail "client area ${w}x${h}, expected 840x525"
    grep -q "fullscreen" "$work/stderr.txt" && e2e_fail "the intro complained about the prompt"
    e2e_press_escape "$id"
    expect_exit_zero
    check_log
    ;;
  noframebuffer)
    launch=(env MESA_EXTENSION_OVERRIDE=-GL_EXT_framebuffer_object "${launch[@]}")
    start_intro "$work"
    e2e_answer_prompt "$kind" no
    info=$(e2e_find_window "^Error\$" 60) || { xwininfo -root -tree >&2; e2e_fail "no failure message"; }
    read -r id _ <<<"$info"
    grep -q "no sjades" "$work/stderr.txt" || e2e_fail "the failure text is not on standard error"
    if e2e_find_window "^${E2E_NAME}( - .*)?\$" 1 >/dev/null; then e2e_fail "the intro's window is still open"; fi
    if [ "$kind" = wayland ]; then
      xdotool key Return
    else
      /usr/bin/python3 "$here/send_close.py" "$id" || e2e_fail "could not close the failure message"
    fi
    expect_failed_start
    [ "$(tr -d '\r' <"$work/debug.txt")" = "$(printf 'debug file\n-------------------------')" ] ||
      e2e_fail "debug.txt should keep only its header after a failed start"
    ;;
  readonly)
    ro="$work/readonly"
    mkdir -p "$ro"
    if [ "$(id -u)" = 0 ]; then
      # Root writes through permission bits; a read-only mount stops it.
      mount --bind "$ro" "$ro" 2>/dev/null && mount -o remount,bind,ro "$ro" 2>/dev/null ||
        e2e_skip "cannot make a read-only folder as root here"
      trap 'umount "$ro" 2>/dev/null; e2e_cleanup' EXIT
    else
      chmod 555 "$ro"
    fi
    touch "$ro/probe" 2>/dev/null && e2e_fail "the folder is still writable"
    start_intro "$ro"
    expect_failed_start 30
    if e2e_find_window "$E2E_NAME" 1 >/dev/null; then e2e_fail "a window appeared"; fi
    [ -e "$ro/debug.txt" ] && e2e_fail "debug.txt was written"
    ;;
  *)
    echo "unknown case $case_name" >&2; exit 2 ;;
esac
e2e_log "PASS $kind $case_name"
exit 0
