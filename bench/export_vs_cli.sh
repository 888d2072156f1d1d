#!/usr/bin/env bash
# The user export of a 10-second 1080p H.264/AAC clip to 720p VP9/Opus against
# the ffmpeg command line with the same encoder settings and filter chain, in
# alternating order over several pairs, so that a machine whose speed drifts
# (shared cores) hits both alike. Prints each run's wall and CPU seconds and
# the ratios of the sums (ours / command line).
#
#   bench/export_vs_cli.sh [build dir] [pairs]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tool="$(cd "${1:-$here/../build}" && pwd)/korvelle_export_clip"
pairs="${2:-5}"
work="$(mktemp -d /tmp/korvelle-export-XXXXXX)"
trap 'rm -rf "$work"' EXIT
cd "$work"
ffmpeg -hide_banner -loglevel error -nostdin -y -stream_loop 3 \
  -i "$here/../tests/fixtures/clip_aac.mp4" -t 10 \
  -vf scale=1920:1080:flags=lanczos,fps=30 -c:v libx264 -preset fast -crf 18 \
  -pix_fmt yuv420p -c:a aac -b:a 128k src.mp4

timed() {  # label, command...
  local label="$1"
  shift
  /usr/bin/time -o t.txt -f "%e %U %S" "$@" >/dev/null 2>&1
  read -r wall user sys <t.txt
  echo "$label $wall $(echo "$user + $sys" | bc)"
}
cli() {
  timed cli ffmpeg -hide_banner -loglevel error -nostdin -y -i src.mp4 \
    -vf "scale=1280:720:force_original_aspect_ratio=decrease,pad=1280:720:(ow-iw)/2:(oh-ih)/2:color=black,setsar=1,format=yuv420p" \
    -c:v libvpx-vp9 -deadline good -cpu-used 2 -row-mt 1 -b:v 3686400 -g 60 \
    -c:a libopus -b:a 96k -ar 48000 -ac 2 cli.webm
}
ours() { timed ours "$tool" src.mp4 ours.webm 1280x720; }

echo "load: $(uptime | sed 's/.*average: //')"
for i in $(seq 1 "$pairs"); do
  if [ $((i % 2)) = 1 ]; then cli; ours; else ours; cli; fi
done | tee runs.txt
awk '{w[$1]+=$2; c[$1]+=$3} END {
  printf "wall: ours %.1f s, cli %.1f s, ratio %.3f\n", w["ours"], w["cli"], w["ours"]/w["cli"]
  printf "cpu:  ours %.1f s, cli %.1f s, ratio %.3f\n", c["ours"], c["cli"], c["ours"]/c["cli"]
}' runs.txt
