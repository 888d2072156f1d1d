#!/usr/bin/env bash
# Chooses the VP9 setting for working copies: encodes one clip with the
# best-quality setting and with faster candidates at the same bit rate and
# prints each candidate's speed-up and PSNR loss against the best one.
# A working-copy setting must be at least 4x faster and lose at most 0.5 dB.
#
#   bench/vp9_working_copy_settings.sh [clip] [WxH]
#
# Without a clip, the shared camera clip is looped to 10 s at 1080p/30.
# Run when `uptime` shows little load; the machine is shared.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d /tmp/korvelle-vp9-XXXXXX)"
trap 'rm -rf "$work"' EXIT
size="${2:-1280x720}"
w="${size%x*}"
h="${size#*x}"
rate=$((w * h * 4))  # the export's default bit rate

src="${1:-}"
if [ -z "$src" ]; then
  src="$work/src.mp4"
  ffmpeg -hide_banner -loglevel error -nostdin -y -stream_loop 3 \
    -i "$here/../tests/fixtures/clip_aac.mp4" -t 10 \
    -vf scale=1920:1080:flags=lanczos,fps=30 -c:v libx264 -preset fast -crf 18 \
    -pix_fmt yuv420p -an "$src"
fi

# The reference pictures: the source scaled as the export scales, stored
# losslessly, compared frame by frame in order.
ref="$work/ref.mkv"
ffmpeg -hide_banner -loglevel error -nostdin -y -i "$src" -an -vf "scale=$w:$h,format=yuv420p" \
  -c:v ffv1 "$ref"

# Prints wall seconds, CPU seconds (user + system) and PSNR of one encode.
encode() {  # name, deadline, cpu-used
  local times psnr
  times=$( { /usr/bin/time -f "%e %U %S" ffmpeg -hide_banner -loglevel error -nostdin -y \
    -i "$src" -an -vf "scale=$w:$h,format=yuv420p" -c:v libvpx-vp9 -deadline "$2" \
    -cpu-used "$3" -row-mt 1 -b:v "$rate" -g 60 "$work/$1.webm"; } 2>&1 | tail -1)
  psnr=$(ffmpeg -hide_banner -nostdin -i "$work/$1.webm" -i "$ref" \
    -filter_complex "[0:v]setpts=N/30/TB[o];[1:v]setpts=N/30/TB[r];[o][r]psnr" -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\).*/\1/p')
  set -- $times
  echo "$1 $(echo "$2 + $3" | bc) $psnr"
}

echo "clip $src at ${w}x$h, $rate bit/s; load: $(uptime | sed 's/.*average: //')"
read -r best_s best_cpu best_psnr < <(encode best good 2)
printf '%-12s %7.2f s wall %7.2f s cpu  %6.2f dB\n' "good/2" "$best_s" "$best_cpu" "$best_psnr"
for cand in ${CANDIDATES:-"good:5" "realtime:6" "realtime:7" "realtime:8"}; do
  mode="${cand%:*}"
  cpu="${cand#*:}"
  read -r s c p < <(encode "$mode-$cpu" "$mode" "$cpu")
  printf '%-12s %7.2f s wall %7.2f s cpu  %6.2f dB   speed-up %5.2fx wall %5.2fx cpu  loss %5.2f dB\n' \
    "$mode/$cpu" "$s" "$c" "$p" "$(echo "$best_s / $s" | bc -l)" "$(echo "$best_cpu / $c" | bc -l)" \
    "$(echo "$best_psnr - $p" | bc -l)"
done
echo "load after: $(uptime | sed 's/.*average: //')"
