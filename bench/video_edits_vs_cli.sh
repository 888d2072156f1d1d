#!/usr/bin/env bash
# Wall time of each working-copy edit (keep-cut, remove-cut, append, resize)
# and of the user export to WebM and to MP4, each against the ffmpeg command
# line doing the same job with the same encoder settings and filter chain, in
# one run (ours and the command line alternate per job).
#
#   bench/video_edits_vs_cli.sh [build dir] [seconds] [jobs]
#
# jobs: an extended regex of the job names to run (default all), e.g.
# 'export' for the two user exports. Each row gives the wall time and the
# CPU time (user + system) of the job and its children: on a busy machine the
# CPU times still compare fairly.
#
# The source is a phone-like 1080p/30 H.264 clip with AAC sound (the shared
# camera clip looped to the given length, default 10 s; the figures asked
# for use 60); the appended clip is a portrait 720 × 1280 one of 5 s.
# Working copies use the working-copy encoder (libx264 ultrafast crf 14 with
# ALAC sound when present); the user exports use VP9 "good, cpu-used 2" with
# Opus and libx264 "veryfast" with AAC at the default bit rate.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tool="$(cd "${1:-$here/../build}" && pwd)/korvelle_export_clip"
secs="${2:-10}"
only="${3:-.}"
work="$(mktemp -d /tmp/korvelle-edits-XXXXXX)"
trap 'rm -rf "$work"' EXIT
cd "$work"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
ff -stream_loop -1 -i "$here/../tests/fixtures/clip_aac.mp4" -t "$secs" \
  -vf scale=1920:1080:flags=lanczos,fps=30 -c:v libx264 -preset fast -crf 18 \
  -pix_fmt yuv420p -c:a aac -b:a 128k -ar 48000 -ac 2 src.mp4
ff -f lavfi -i testsrc2=size=720x1280:rate=30:duration=5 -f lavfi -i sine=frequency=440:duration=5 \
  -c:v libx264 -preset fast -crf 20 -pix_fmt yuv420p -c:a aac -ar 48000 -ac 2 -shortest portrait.mp4

ms=$((secs * 1000))
a=$((ms / 4))
b=$((ms * 3 / 4))
as=$(printf %.3f "$(echo "$a / 1000" | bc -l)")
bs=$(printf %.3f "$(echo "$b / 1000" | bc -l)")
fit() {  # the export's contain chain for W H
  echo "scale=$1:$2:force_original_aspect_ratio=decrease,pad=$1:$2:(ow-iw)/2:(oh-ih)/2:color=black,setsar=1,format=yuv420p"
}
wc_v="-c:v libx264 -preset ultrafast -crf 14 -g 60"
wc_a="-c:a alac"

timed() {  # label, command...
  local label="$1"
  shift
  local times
  times="$(mktemp)"
  /usr/bin/time -f '%e %U %S' -o "$times" "$@" >/dev/null 2>&1 || { echo "$label FAILED"; return; }
  read -r wall user sys <"$times"
  rm -f "$times"
  printf '%-22s %8.2f s wall %8.2f s cpu\n' "$label" "$wall" "$(echo "$user + $sys" | bc -l)"
}
pair() {  # job name, our command, cli command (as strings)
  [[ "$1" =~ $only ]] || return 0
  timed "$1 ours" bash -c "$2"
  timed "$1 cli" bash -c "$3"
}

echo "clip ${secs} s 1920x1080/30 + AAC; load: $(uptime | sed 's/.*average: //')"
pair keep-cut "'$tool' src.mp4 keep.mp4 --intermediate --encoder libx264 --piece $a-$b" \
  "ffmpeg -nostdin -y -ss $as -to $bs -i src.mp4 -vf '$(fit 1920 1080)' $wc_v $wc_a cli_keep.mp4"
pair remove-cut "'$tool' src.mp4 remove.mp4 --intermediate --encoder libx264 --piece 0-$a --piece $b-$ms" \
  "ffmpeg -nostdin -y -i src.mp4 -filter_complex \"[0:v]trim=0:$as,setpts=PTS-STARTPTS,$(fit 1920 1080)[v0];[0:a]atrim=0:$as,asetpts=PTS-STARTPTS[a0];[0:v]trim=$bs,setpts=PTS-STARTPTS,$(fit 1920 1080)[v1];[0:a]atrim=$bs,asetpts=PTS-STARTPTS[a1];[v0][a0][v1][a1]concat=n=2:v=1:a=1[v][a]\" -map '[v]' -map '[a]' $wc_v $wc_a cli_remove.mp4"
pair append "'$tool' src.mp4 append.mp4 --intermediate --encoder libx264 --piece 0-$ms --piece portrait.mp4:0-5000" \
  "ffmpeg -nostdin -y -i src.mp4 -i portrait.mp4 -filter_complex \"[0:v]$(fit 1920 1080)[v0];[1:v]$(fit 1920 1080)[v1];[v0][0:a][v1][1:a]concat=n=2:v=1:a=1[v][a]\" -map '[v]' -map '[a]' $wc_v $wc_a cli_append.mp4"
pair resize "'$tool' src.mp4 resize.mp4 1280x720 --intermediate --encoder libx264" \
  "ffmpeg -nostdin -y -i src.mp4 -vf '$(fit 1280 720)' $wc_v $wc_a cli_resize.mp4"
pair export-webm "'$tool' src.mp4 user.webm --encoder libvpx-vp9" \
  "ffmpeg -nostdin -y -i src.mp4 -vf '$(fit 1920 1080)' -c:v libvpx-vp9 -deadline good -cpu-used 2 -row-mt 1 -b:v 8294400 -g 60 -c:a libopus -b:a 96k cli_user.webm"
pair export-mp4 "'$tool' src.mp4 user.mp4 --encoder libx264" \
  "ffmpeg -nostdin -y -i src.mp4 -vf '$(fit 1920 1080)' -c:v libx264 -preset veryfast -b:v 8294400 -g 60 -c:a aac -b:a 128k -movflags +faststart cli_user.mp4"
echo "load after: $(uptime | sed 's/.*average: //')"
