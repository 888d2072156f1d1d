#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those missing.
#   scripts/deps.sh run    what building and running the editor needs
#   scripts/deps.sh test   the above plus what the tests and sanitizer runs need
#   scripts/deps.sh bench  the above plus the benchmarks' peers
#   scripts/deps.sh package  the run set plus what scripts/package.sh checks with
set -euo pipefail

run_pkgs=(
  build-essential cmake ninja-build pkg-config ccache git
  libsdl2-dev libcairo2-dev libpango1.0-dev libfontconfig-dev libglib2.0-dev
  libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev libswscale-dev libswresample-dev
  libraw-dev libsodium-dev libheif-dev libjpeg62-turbo-dev
  fonts-dejavu-core fonts-noto-core fonts-noto-cjk fonttools
)
test_pkgs=(
  libgtest-dev libgmock-dev clang libclang-rt-14-dev
  ffmpeg imagemagick libimage-exiftool-perl libavif-bin
  xvfb xdotool x11-utils libx11-dev dbus python3-gi gir1.2-glib-2.0
  desktop-file-utils appstream shared-mime-info dpkg-dev file
  xdg-desktop-portal xdg-desktop-portal-gtk
)
bench_pkgs=(libbenchmark-dev libvips-dev hyperfine time bc)
package_pkgs=(dpkg-dev file lintian)

want=("${run_pkgs[@]}")
case "${1:-run}" in
  run) ;;
  test) want+=("${test_pkgs[@]}") ;;
  bench) want+=("${test_pkgs[@]}" "${bench_pkgs[@]}") ;;
  package) want+=("${package_pkgs[@]}") ;;
  *) echo "usage: $0 run|test|bench|package" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
