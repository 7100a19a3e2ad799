#!/bin/sh
# The video output of vantor-capture, checked with FFmpeg's own programs.
#   video_cases.sh CASE CAPTURE XM_RENDER MODULE SCRATCH [WxH]
# CASE:
#   exact   lossless .mkv: every frame equals the PNG --png writes for it, the
#           sound equals xm-render's output sample for sample, and a second
#           capture gives the same bytes
#   mp4     H.264/AAC .mp4 with the loading screen in front: streams, codecs,
#           frame count and durations as ffprobe reads them
#   errors  unknown type, unwritable folder, a full disk and SIGTERM
# Exit 77 (skipped) without ffmpeg/ffprobe.
set -eu
case_name=$1 capture=$2 render=$3 module=$4 scratch=$5 size=${6:-840x525}
width=${size%x*} height=${size#*x}

command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || { echo "no ffmpeg/ffprobe"; exit 77; }
dir="$scratch/video-$case_name"
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"

fail() { echo "FAIL: $*"; exit 1; }

# One value per line of a stream's entries, e.g. probe v:0 stream=codec_name.
probe() {
  ffprobe -v error -select_streams "$1" -show_entries "$2" -of default=noprint_wrappers=1:nokey=1 "$3"
}

# Approximately: |a - b| <= tolerance.
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }

case $case_name in
exact)
  # Frames 110-133 at 60 fps: the text coming in, and the music from 1.83 s on.
  first=110 last=133
  "$capture" --video a.mkv --size $size --frames $first-$last --music "$module"
  "$capture" --video b.mkv --size $size --frames $first-$last --music "$module" 2>/dev/null
  cmp a.mkv b.mkv || fail "two captures differ"
  [ "$(probe v:0 stream=codec_name a.mkv)" = ffv1 ] || fail "picture is not FFV1"
  [ "$(probe a:0 stream=codec_name a.mkv)" = flac ] || fail "sound is not FLAC"

  "$capture" --png png --size $size --frames $first-$last
  hashes() { ffmpeg -v error "$@" -map 0:v -pix_fmt rgb24 -f framemd5 - | grep -v '^#' | awk -F', *' '{ print $NF }'; }
  hashes -i a.mkv >video.md5
  hashes -start_number $first -i png/frame-%05d.png >png.md5
  [ "$(wc -l <png.md5)" -eq $((last - first + 1)) ] || fail "expected $((last - first + 1)) PNG frames"
  cmp video.md5 png.md5 || fail "decoded frames differ from the PNG frames"

  # 735 sound frames (4 bytes each) per picture at 60 fps.
  "$render" "$module" -o music.wav --seconds "$(awk -v n=$((last + 1)) 'BEGIN { printf "%.6f", n / 60 }')" 2>/dev/null
  tail -c +$((44 + first * 735 * 4 + 1)) music.wav >expected.pcm
  ffmpeg -v error -i a.mkv -map 0:a -f s16le -acodec pcm_s16le - >sound.pcm
  [ "$(wc -c <expected.pcm)" -eq $(((last - first + 1) * 735 * 4)) ] || fail "xm-render gave a different length"
  cmp sound.pcm expected.pcm || fail "sound differs from xm-render's output"
  ;;

mp4)
  # 30 fps, one second of loading screen and one of scroller: 60 frames, 2 s.
  # 840x525, the window, is odd in height: H.264 gets one black row more.
  coded=$((width + width % 2))x$((height + height % 2))x
  "$capture" --video a.mp4 --size $size --fps 30 --seconds 1 --loading --music "$module"
  [ "$(probe v:0 stream=codec_name a.mp4)" = h264 ] || fail "picture is not H.264"
  [ "$(probe v:0 stream=pix_fmt a.mp4)" = yuv420p ] || fail "picture is not yuv420p"
  [ "$(probe v:0 stream=width,height a.mp4 | tr '\n' x)" = "$coded" ] || fail "wrong size"
  [ "$(probe a:0 stream=codec_name a.mp4)" = aac ] || fail "sound is not AAC"
  [ "$(probe a:0 stream=sample_rate,channels a.mp4 | tr '\n' ' ')" = "44100 2 " ] || fail "sound is not 44100 Hz stereo"
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 a.mp4)
  [ "$frames" -eq 60 ] || fail "$frames frames, expected 60"
  video=$(probe v:0 stream=duration a.mp4)
  audio=$(probe a:0 stream=duration a.mp4)
  near "$video" 2 0.0334 || fail "picture lasts $video s, expected 2 s"
  near "$audio" "$video" 0.02 || fail "sound lasts $audio s, picture $video s"
  # The first second is the loading screen: silent, then the music starts.
  ffmpeg -v info -i a.mp4 -map 0:a -t 0.9 -af volumedetect -f null - 2>&1 | grep -q 'max_volume: -91' ||
    fail "the loading screen is not silent"
  ;;

errors)
  # Error lines, apart from the progress lines.
  errors() { grep -c '^vantor-capture:' err.txt; }
  status=0
  "$capture" --video a.avi --frames 0-1 2>err.txt || status=$?
  [ $status -eq 2 ] && grep -q '\.mkv' err.txt || fail "unknown type: status $status, $(cat err.txt)"

  status=0
  "$capture" --video missing/a.mkv --size $size --frames 0-1 --music "$module" 2>err.txt || status=$?
  [ $status -eq 1 ] && [ "$(errors)" -eq 1 ] || fail "unwritable folder: status $status, $(cat err.txt)"

  # A file size limit fails the writes as a full disk does.
  mkdir full
  status=0
  (ulimit -f 16 && exec "$capture" --video full/a.mkv --size $size --frames 300-315 --music "$module") \
    2>err.txt || status=$?
  [ $status -eq 1 ] && [ "$(errors)" -eq 1 ] || fail "full disk: status $status, $(cat err.txt)"
  [ -z "$(ls -A full)" ] || fail "full disk left $(ls -A full)"

  # SIGTERM ends the file cleanly: it plays, and no temporary file is left.
  mkdir term
  "$capture" --video term/a.mkv --size $size --music "$module" 2>err.txt &
  pid=$!
  for _ in $(seq 200); do
    if ls -A term | grep -q part; then break; fi
    sleep 0.1
  done
  sleep 1
  kill -TERM $pid
  status=0
  wait $pid || status=$?
  [ $status -eq 143 ] || fail "SIGTERM: status $status, $(cat err.txt)"
  [ "$(ls -A term)" = a.mkv ] || fail "SIGTERM left $(ls -A term)"
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=noprint_wrappers=1:nokey=1 term/a.mkv)
  [ "$frames" -gt 0 ] || fail "the interrupted file holds no frames"
  ;;

*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac
echo "ok: $case_name"
