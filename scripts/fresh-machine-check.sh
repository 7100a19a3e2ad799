#!/usr/bin/env bash
# Runs the README's two commands on a really fresh Debian 12: a minimal root
# made with debootstrap (from the mirror this machine's apt uses), a clean
# clone of the committed HEAD, nothing else. A machine that has been used
# for a while has packages by accident; this one has none.
#
#   sudo scripts/fresh-machine-check.sh [WORK_DIR]
#
# 1. scripts/run.sh, on a private Xvfb standing in for the desktop: it must
#    install, build and show the intro's prompt; the check answers No, waits
#    for the running caption and presses Escape; the intro must end with 0.
# 2. scripts/test.sh: must end with 0.
# Takes a quarter of an hour or more. Run it by hand before resolving a
# change to the packages, the scripts or the build; it is not part of CI.
# Everything it mounts is unmounted again, also when it is interrupted; the
# root is removed at the end unless KEEP_ROOT=1.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
release=bookworm

[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, mount): sudo $0" >&2; exit 2; }
work="${1:-$(mktemp -d /var/tmp/vantor-fresh.XXXXXX)}"
mkdir -p "$work"
work=$(realpath "$work")
root="$work/root"
log() { echo "[$(date +%T)] $*"; }
began=$(date +%s)
elapsed() { local s=$(( $(date +%s) - $1 )); printf '%d min %02d s' $((s / 60)) $((s % 60)); }

# --- Undoing everything ---------------------------------------------------

# Mount points at or below the root, deepest first (mountinfo escapes
# spaces as \040; the root's own path has none).
mounts_below_root() {
  awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}

cleanup() {
  local rc=$? pid m
  trap - EXIT INT TERM
  # The check's own background steps (debootstrap, the two commands).
  for pid in $(jobs -p); do kill "$pid" 2>/dev/null; done
  if [ -d "$root" ]; then
    # Whatever still runs inside the root (the intro, Xvfb, a build).
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
      [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -9 "$pid" 2>/dev/null
    done
    sleep 1
    for m in $(mounts_below_root); do
      umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || echo "warning: could not unmount $m" >&2
    done
    if [ -n "$(mounts_below_root)" ]; then
      echo "warning: still mounted below $root; not removing it" >&2
    elif [ "${KEEP_ROOT:-0}" != 1 ]; then
      rm -rf --one-file-system "$root"
    fi
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'echo "interrupted" >&2; exit 130' INT TERM

# --- The fresh root ---------------------------------------------------------

command -v debootstrap >/dev/null || {
  log "installing debootstrap on this machine (the check's own tool)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
}
# The mirror the host's apt already uses for the release, else Debian's own.
mirror=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 2>/dev/null |
         awk -v r="$release" '$1 == r { print $2; exit }')
mirror="${mirror:-http://deb.debian.org/debian/}"

log "debootstrap $release (minbase) from $mirror into $root"
t=$(date +%s)
# In the background, and waited for, so that an interruption is handled at once.
debootstrap --variant=minbase "$release" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 &
wait $! || { tail -20 "$work/debootstrap.log" >&2; exit 1; }
log "root ready after $(elapsed "$t")"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
cp /etc/resolv.conf "$root/etc/resolv.conf"

# A clean clone of the committed HEAD: nothing ignored or uncommitted.
commit=$(git -C "$repo" rev-parse HEAD)
git clone -q --no-checkout "$(git -C "$repo" rev-parse --path-format=absolute --git-common-dir)" "$root/root/vantor"
git -C "$root/root/vantor" checkout -q --detach "$commit"
[ -z "$(git -C "$repo" status --porcelain)" ] || log "note: uncommitted changes are not part of the check"
log "clone of $commit in /root/vantor"

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# --- 1. The run command, up to the built intro -----------------------------

# The stand-in desktop: an X server and a hand to answer the prompt. Their
# recommendations (fonts among them) stay out, so they hide nothing that
# the run command itself must install.
log "installing the stand-in desktop (Xvfb, xdotool, xwininfo)"
in_root bash -c 'export DEBIAN_FRONTEND=noninteractive; apt-get update -qq &&
  apt-get install -y -qq --no-install-recommends xvfb xdotool x11-utils' >"$work/desktop.log" 2>&1 ||
  { tail -20 "$work/desktop.log" >&2; exit 1; }

cat >"$root/root/drive-run.sh" <<'DRIVE'
#!/bin/bash
# Starts the run command on a private display and uses the intro as a person
# would: No in the prompt, wait for the running caption, Escape.
set -u
name="Vantor Filigree by Kestrel"
# An X server reads its font path when it starts: like a desktop on a
# machine that has the packages, the stand-in starts once the run command
# has installed them (its build has begun), on the display number the host
# found free (the root shares the host's abstract sockets).
export DISPLAY=":$1"
cd /root/vantor
scripts/run.sh >/root/run.log 2>&1 &
run=$!
until grep -qE '^(\[1/|ninja: no work to do)' /root/run.log 2>/dev/null; do
  kill -0 "$run" 2>/dev/null || { echo "run command: ended before building"; tail -15 /root/run.log; exit 1; }
  sleep 1
done
Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
find_window() {  # caption regex, seconds -> "ID W H X Y"
  local i line
  for i in $(seq $(($2 * 2))); do
    line=$(xwininfo -root -tree 2>/dev/null |
           sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": ([^)]*)  \([0-9]*\)x\([0-9]*\)+\(-\{0,1\}[0-9]*\)+\(-\{0,1\}[0-9]*\) .*/\1 \3 \4 \5 \6 \2/p' |
           awk -v re="$1" '{ c=$0; sub(/^[^ ]+ [^ ]+ [^ ]+ [^ ]+ [^ ]+ /, "", c); if (c ~ re) { print; exit } }')
    [ -n "$line" ] && { echo "$line"; return 0; }
    kill -0 "$run" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}
fail() { echo "run command: $*"; tail -15 /root/run.log; kill "$run" "$xvfb" 2>/dev/null; exit 1; }
# Installing and building come first: allow them the better part of an hour.
info=$(find_window "^${name}\$" 3000) || fail "no \"fullscreen?\" prompt"
read -r id w h x y _ <<<"$info"
[ "$w" -lt 600 ] || fail "a ${w}x${h} window instead of the prompt"
sleep 1
xdotool mousemove $((x + w * 730 / 1000)) $((y + h * 745 / 1000)) click 1
info=$(find_window "^${name} - [0-9]+:[0-9][0-9]:[0-9][0-9]  \\[[0-9]+ fps\\]\$" 120) ||
  fail "the intro did not start running in a window"
read -r id _ <<<"$info"
sleep 3
xdotool windowfocus --sync "$id" 2>/dev/null; sleep 0.3
xdotool key --window "$id" Escape 2>/dev/null || xdotool key Escape
for i in $(seq 60); do kill -0 "$run" 2>/dev/null || break; sleep 0.5; done
kill -0 "$run" 2>/dev/null && fail "the intro did not end on Escape"
wait "$run"; rc=$?
kill "$xvfb" 2>/dev/null
[ "$rc" = 0 ] || fail "exit status $rc"
echo "run command: the intro asked, ran in a window and ended on Escape with 0"
DRIVE
chmod +x "$root/root/drive-run.sh"

# A display number free on the host, for the stand-in desktop.
display=70
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] ||
      grep -q "@/tmp/.X11-unix/X$display\$" /proc/net/unix; do
  display=$((display + 1))
done
log "1. scripts/run.sh (log: $root/root/run.log)"
t=$(date +%s)
run_status=0
in_root /root/drive-run.sh "$display" &
wait $! || run_status=$?
run_time=$(elapsed "$t")
cp "$root/root/run.log" "$work/run.log" 2>/dev/null || true
log "run command: status $run_status after $run_time"

# --- 2. The test command ------------------------------------------------------

log "2. scripts/test.sh (log: $work/test.log)"
t=$(date +%s)
test_status=0
in_root bash -c 'cd /root/vantor && scripts/test.sh' >"$work/test.log" 2>&1 &
wait $! || test_status=$?
test_time=$(elapsed "$t")
grep -E '^(=== |missing prerequisite|[0-9]+% tests passed|The following tests FAILED|.*\(Failed\)|.*\*\*\*)' \
  "$work/test.log" | tail -40 || true
log "test command: status $test_status after $test_time"

echo
echo "fresh Debian 12 ($release, minbase, $mirror), commit $commit:"
echo "  scripts/run.sh   status $run_status ($run_time)"
echo "  scripts/test.sh  status $test_status ($test_time)"
echo "  total $(elapsed "$began"); logs in $work"
[ "$run_status" = 0 ] && [ "$test_status" = 0 ]
