#!/usr/bin/env bash
# Chooses the libx264 settings of the export by measurement, against VP9 with
# the settings the export uses for it:
# - user export: each x264 preset at the VP9 user export's bit rate; a preset
#   qualifies when its PSNR is at least VP9 "good, cpu-used 2"'s and it is faster;
# - working copies: x264 ultrafast and superfast at crf 14 against VP9
#   real-time cpu-used 6 crf 4; a setting qualifies when it is at least 2x
#   faster and the user export made after three working-copy generations is
#   within 0.3 dB of the direct user export.
#
#   bench/x264_settings.sh [clip] [seconds]
#
# WC_CANDIDATES lists working-copy candidates as preset:crf (default
# "ultrafast:14 superfast:14"); PRESETS the user-export presets; VP9_PSNR
# and VP9_SECONDS (the VP9 user export's figures from an earlier run) skip
# that export; SKIP_PRESETS skips the x264 user exports.
# Without a clip, the shared camera clip is looped to the given length
# (default 4 s) at 1080p/30. Run when `uptime` shows little load.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d /tmp/korvelle-x264-XXXXXX)"
trap 'rm -rf "$work"' EXIT
secs="${2:-4}"
w=1920
h=1080
rate=$((w * h * 4))  # the export's default bit rate
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

src="${1:-}"
if [ -z "$src" ]; then
  src="$work/src.mp4"
  ff -stream_loop 5 -i "$here/../tests/fixtures/clip_aac.mp4" -t "$secs" \
    -vf scale=$w:$h:flags=lanczos,fps=30 -c:v libx264 -preset fast -crf 18 \
    -pix_fmt yuv420p -c:a aac -b:a 128k "$src"
fi
ref="$work/ref.mkv"
ff -i "$src" -an -vf "format=yuv420p" -c:v ffv1 "$ref"

psnr() {  # file [reference]; decoded losslessly first (H.264 fed straight
  # into the psnr filter pairs some frames wrongly)
  ff -i "$1" -an -c:v ffv1 "$work/cmp.mkv"
  ffmpeg -hide_banner -nostdin -i "$work/cmp.mkv" -i "${2:-$ref}" \
    -filter_complex "[0:v]setpts=N/30/TB[o];[1:v]setpts=N/30/TB[r];[o][r]psnr" -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\).*/\1/p'
}
# Wall seconds of one encode of $1 (input) to $2 (output) with the rest as options.
timed() {
  local in="$1" out="$2"
  shift 2
  local t0 t1
  t0=$(date +%s.%N)
  ff -i "$in" -vf format=yuv420p -g 60 "$@" "$out"
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

echo "clip $src (${secs} s at ${w}x$h), $rate bit/s; load: $(uptime | sed 's/.*average: //')"
echo "--- user export at the same bit rate"
if [ -n "${VP9_PSNR:-}" ]; then
  vp9_p=$VP9_PSNR  # the VP9 export's figures from an earlier run of this clip
  vp9_s=${VP9_SECONDS:-0}
else
  s=$(timed "$src" "$work/vp9.webm" -c:v libvpx-vp9 -deadline good -cpu-used 2 -row-mt 1 -b:v $rate -c:a libopus -b:a 96k)
  p=$(psnr "$work/vp9.webm")
  printf '%-22s %7.2f s %7.2f dB\n' "vp9 good/2" "$s" "$p"
  vp9_p=$p
  vp9_s=$s
fi
if [ -z "${SKIP_PRESETS:-}" ]; then
  for preset in ${PRESETS:-superfast veryfast faster fast}; do
    s=$(timed "$src" "$work/x-$preset.mp4" -c:v libx264 -preset "$preset" -b:v $rate -c:a aac -b:a 128k -movflags +faststart)
    p=$(psnr "$work/x-$preset.mp4")
    ok=no
    if (( $(echo "$p >= $vp9_p && $s < $vp9_s" | bc -l) )); then ok=yes; fi
    printf '%-22s %7.2f s %7.2f dB  %5.2fx faster  qualifies: %s\n' "x264 $preset" "$s" "$p" \
      "$(echo "$vp9_s / $s" | bc -l)" "$ok"
  done
fi
echo "--- working copies: three generations, then the user export (VP9 good/2) of the last"
# Loss = PSNR of the direct user export minus PSNR of the user export made
# from the third working copy, both against the source.
gen() {  # name, extension, options...
  local name="$1" ext="$2"
  shift 2
  local in="$src" t first=0 total=0
  for g in 1 2 3; do
    t=$(timed "$in" "$work/$name-$g.$ext" "$@")
    [ "$g" = 1 ] && first=$t
    in="$work/$name-$g.$ext"
  done
  ff -i "$in" -vf format=yuv420p -g 60 -c:v libvpx-vp9 -deadline good -cpu-used 2 -row-mt 1 -b:v $rate \
    -c:a libopus -b:a 96k "$work/$name-final.webm"
  echo "$first $(psnr "$work/$name-1.$ext") $(psnr "$work/$name-final.webm")"
}
read -r vs v1 vf < <(gen vp9wc webm -c:v libvpx-vp9 -deadline realtime -cpu-used 6 -row-mt 1 -crf 4 -b:v 0 -c:a libopus -b:a 256k)
printf '%-22s %7.2f s  gen1 %6.2f dB  final %6.2f dB  loss %5.2f dB\n' "vp9 realtime/6 crf4" "$vs" "$v1" "$vf" \
  "$(echo "$vp9_p - $vf" | bc -l)"
for cand in ${WC_CANDIDATES:-ultrafast:14 superfast:14}; do
  preset="${cand%:*}"
  crf="${cand#*:}"
  read -r s g1 gf < <(gen "x-$preset-$crf" mp4 -c:v libx264 -preset "$preset" -crf "$crf" -c:a alac)
  printf '%-22s %7.2f s  gen1 %6.2f dB  final %6.2f dB  loss %5.2f dB  %5.2fx faster than vp9\n' \
    "x264 $preset crf$crf" "$s" "$g1" "$gf" "$(echo "$vp9_p - $gf" | bc -l)" "$(echo "$vs / $s" | bc -l)"
done
echo "load after: $(uptime | sed 's/.*average: //')"
