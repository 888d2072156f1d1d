#!/usr/bin/env bash
# Configures (once) and builds one build tree.
#   scripts/build.sh <dir> [cmake options...]
# KORVELLE_TARGETS (space-separated) limits the build to those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"; shift
opts=(-G Ninja "$@")
if [ -n "${CI:-}" ]; then opts+=(-DKORVELLE_WERROR=ON); fi
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" "${opts[@]}" >/dev/null
fi
targets=()
for t in ${KORVELLE_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" "${targets[@]}" -- -j"$(nproc)"
