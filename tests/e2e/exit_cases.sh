#!/usr/bin/env bash
# How the Linux intro ends when it cannot start, or is told to stop at the
# "fullscreen?" question: the status, what it says, and that it leaves
# nothing behind (no process of its own, no window).
# Usage: exit_cases.sh EXECUTABLE SCRATCH_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

exe="$1" scratch="$2"
[ -x "$exe" ] || e2e_skip "$exe has not been built"
exe="$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")"  # it runs in other folders
command -v setsid >/dev/null || e2e_skip "setsid (util-linux) is not installed"

# name | environment | folder | when | action | status | standard error
#   environment: VAR=value sets a variable, -VAR unsets it (without
#     XDG_RUNTIME_DIR, Wayland's default socket cannot be found either);
#     WAYLAND_DISPLAY=@headless names a private Weston without a seat (no
#     keyboard, no pointer), @x11 one with a seat on the private X display
#   folder: scratch (a fresh writable folder), link (one whose debug.txt is a
#     symbolic link to a file beside it), fifo (one whose debug.txt is a
#     named pipe) or a path; a link or pipe must be left as it was
#   when: start, or question (once the question is shown)
#   action: wait, or the signal sent to the intro
#   status: the exit status (a signal's as the shell reports it), or nonzero
#   standard error: an extended regular expression one of its lines matches,
#     or "empty"
no_server=":$(for n in $(seq 900 999); do [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; break; }; done)"
cases=(
  "nodisplay | -DISPLAY -WAYLAND_DISPLAY -XDG_RUNTIME_DIR | scratch | start | wait | nonzero | ^vantor: no display to show the intro on \(DISPLAY is not set, WAYLAND_DISPLAY is not set\)$"
  "noserver  | SDL_VIDEODRIVER=x11 DISPLAY=$no_server | scratch | start | wait | nonzero | no sjades"
  "nolog     |                         | /proc   | start    | wait | 1       | ^vantor: cannot create debug.txt: .+$"
  "loglink   |                         | link    | start    | wait | 1       | ^vantor: cannot create debug.txt: it is a symbolic link, which is not followed$"
  "logfifo   |                         | fifo    | start    | wait | 1       | ^vantor: cannot create debug.txt: it is not a regular file$"
  "sigint    |                         | scratch | question | INT  | 130     | empty"
  "sigterm   |                         | scratch | question | TERM | 143     | empty"
  "wlnoseat  | -DISPLAY WAYLAND_DISPLAY=@headless | scratch | start | wait | 1 | ^vantor: no display to show the intro on \(DISPLAY is not set, the Wayland compositor at vantor-headless offers no seat for keyboard and pointer\)$"
  "wlsigint  | -DISPLAY WAYLAND_DISPLAY=@x11 | scratch | question | INT  | 130     | empty"
)

e2e_start_xvfb
e2e_start_weston headless
e2e_start_weston x11
E2E_WAYLAND=""

trim() { local s="$1"; s="${s#"${s%%[![:space:]]*}"}"; echo "${s%"${s##*[![:space:]]}"}"; }

run_case() {
  local name="$1" environment="$2" folder="$3" when="$4" action="$5" status="$6" stderr_re="$7"
  local work="$scratch/exit-$name" envargs=() word pid box started left E2E_WAYLAND="" prepared="$folder"
  rm -rf "$work"; mkdir -p "$work"
  case "$folder" in
    scratch) folder="$work" ;;
    link) folder="$work"; echo keep >"$work/kept"; ln -s kept "$work/debug.txt" ;;
    fifo) folder="$work"; mkfifo "$work/debug.txt" ;;
  esac
  for word in $environment; do
    case "$word" in
      -*) envargs+=(-u "${word#-}") ;;
      # The intro's windows are then looked for in that compositor.
      WAYLAND_DISPLAY=@*) E2E_WAYLAND="vantor-${word#*@}"; envargs+=("WAYLAND_DISPLAY=$E2E_WAYLAND") ;;
      *) envargs+=("$word") ;;
    esac
  done
  # Its own process group, so that whatever it started can be found; the
  # signals at their default action, as from a terminal (a script's
  # background job would have SIGINT ignored).
  (cd "$folder" && exec setsid env --default-signal=INT,TERM "${envargs[@]}" "$exe" \
     >"$work/stdout.txt" 2>"$work/stderr.txt") &
  pid=$!
  e2e_cleanup_pids+=("$pid")
  E2E_INTRO_STDERR="$work/stderr.txt"
  if [ "$when" = question ]; then
    e2e_find_window "^${E2E_NAME}\$" 60 >/dev/null || e2e_fail "$name: the question did not appear"
    box=$(pgrep -g "$pid" | grep -vx "$pid" | tr '\n' ' ')
    e2e_log "$name: the question is up (the intro $pid, its box ${box:-in the same process})"
  fi
  started=$(date +%s%N)
  if [ "$action" = wait ]; then
    e2e_wait_exit "$pid" 10 || e2e_fail "$name: the intro did not end within 10 s"
  else
    kill -s "$action" "$pid"
    e2e_wait_exit "$pid" 2 || e2e_fail "$name: SIG$action did not end the intro within 2 s"
  fi
  e2e_log "$name: ended with $E2E_RC after $(( ($(date +%s%N) - started) / 1000000 )) ms"
  if [ "$E2E_RC" -ge 128 ] && [ "$action" = wait ]; then
    e2e_fail "$name: the intro died of signal $((E2E_RC - 128))"
  fi
  if [ "$status" = nonzero ]; then
    [ "$E2E_RC" != 0 ] || e2e_fail "$name: exit status 0 after a failed start"
  else
    [ "$E2E_RC" = "$status" ] || e2e_fail "$name: exit status $E2E_RC, expected $status"
  fi
  if [ "$stderr_re" = empty ]; then
    [ ! -s "$work/stderr.txt" ] || e2e_fail "$name: expected nothing on standard error"
  else
    grep -Eq "$stderr_re" "$work/stderr.txt" || e2e_fail "$name: standard error does not match: $stderr_re"
  fi
  # Nothing of it stays: its helper processes end with it (a zombie waiting
  # for its new parent to reap it has ended), and so does its window.
  for _ in $(seq 20); do
    left=$(pgrep -g "$pid" | while read -r p; do
      [ "$(ps -o stat= -p "$p" 2>/dev/null | cut -c1)" = Z ] || echo "$p"; done)
    [ -z "$left" ] && break
    sleep 0.1
  done
  [ -z "$left" ] || { ps -o pid,stat,cmd -p "$left" >&2; e2e_fail "$name: processes left behind"; }
  if e2e_find_window "$E2E_NAME" 1 >/dev/null; then e2e_fail "$name: a window of the intro is still there"; fi
  case "$prepared" in
    scratch)
      [ "$(tr -d '\r' <"$work/debug.txt")" = "$(printf 'debug file\n-------------------------')" ] ||
        e2e_fail "$name: debug.txt should hold only its header" ;;
    link)
      [ -L "$work/debug.txt" ] && [ "$(cat "$work/kept")" = keep ] ||
        e2e_fail "$name: the link or the file it points to was changed" ;;
    fifo)
      [ -p "$work/debug.txt" ] || e2e_fail "$name: the pipe was replaced" ;;
  esac
}

for row in "${cases[@]}"; do
  IFS='|' read -r name environment folder when action status stderr_re <<<"$row"
  run_case "$(trim "$name")" "$(trim "$environment")" "$(trim "$folder")" "$(trim "$when")" \
           "$(trim "$action")" "$(trim "$status")" "$(trim "$stderr_re")"
  e2e_log "PASS $(trim "$name")"
done
exit 0
