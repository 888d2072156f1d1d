#!/usr/bin/env bash
# Generation loss of working copies through the program's own export: three
# working-copy edits (cut 4-5 s out, append the first 2 s of the source,
# resize to 720p) and then the user's export (VP9, 720p), against the same
# timeline exported directly; both compared with the source pieces scaled,
# decoded losslessly. Once with each working-copy encoder, with the wall
# time of the three edits.
#
#   bench/working_copy_loss.sh [build dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tool="$(cd "${1:-$here/../build}" && pwd)/korvelle_export_clip"
work="$(mktemp -d /tmp/korvelle-loss-XXXXXX)"
trap 'rm -rf "$work"' EXIT
cd "$work"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
ff -stream_loop 3 -i "$here/../tests/fixtures/clip_aac.mp4" -t 10 \
  -vf scale=1920:1080:flags=lanczos,fps=30 -c:v libx264 -preset fast -crf 18 \
  -pix_fmt yuv420p -c:a aac -b:a 128k src.mp4
ff -i src.mp4 -filter_complex "[0:v]split=3[p0][p1][p2];[p0]trim=0:4,setpts=PTS-STARTPTS[q0];\
[p1]trim=5:10,setpts=PTS-STARTPTS[q1];[p2]trim=0:2,setpts=PTS-STARTPTS[q2];\
[q0][q1][q2]concat=n=3:v=1:a=0,scale=1280:720,format=yuv420p[v]" -map "[v]" -c:v ffv1 ref.mkv
psnr() {
  ff -i "$1" -an -c:v ffv1 cmp.mkv
  ffmpeg -hide_banner -nostdin -i cmp.mkv -i ref.mkv \
    -filter_complex "[0:v]setpts=N/30/TB[o];[1:v]setpts=N/30/TB[r];[o][r]psnr" -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\).*/\1/p'
}
"$tool" src.mp4 direct.webm 1280x720 --encoder libvpx-vp9 --piece 0-4000 --piece 5000-10000 --piece 0-2000 2>/dev/null
direct=$(psnr direct.webm)
echo "load: $(uptime | sed 's/.*average: //'); direct export $direct dB"
for enc in ${ENCODERS:-libvpx-vp9 libx264}; do
  ext=mp4
  [ "$enc" = libvpx-vp9 ] && ext=webm
  t0=$(date +%s.%N)
  "$tool" src.mp4 g1.$ext --intermediate --encoder $enc --piece 0-4000 --piece 5000-10000 2>/dev/null
  "$tool" g1.$ext g2.$ext --intermediate --encoder $enc --piece 0-9000 --piece "$work/src.mp4:0-2000" 2>/dev/null
  "$tool" g2.$ext g3.$ext 1280x720 --intermediate --encoder $enc 2>/dev/null
  t1=$(date +%s.%N)
  "$tool" g3.$ext chain.webm --encoder libvpx-vp9 2>/dev/null
  p=$(psnr chain.webm)
  printf '%-12s edits %7.2f s  after three edits %6.2f dB  loss %5.2f dB\n' "$enc" \
    "$(echo "$t1 - $t0" | bc -l)" "$p" "$(echo "$direct - $p" | bc -l)"
done
echo "load after: $(uptime | sed 's/.*average: //')"
