#!/usr/bin/env bash
# Sanitizer runs, each in its own build tree:
#  - every fuzz/<name>_fuzz.cpp target for a bounded time under ASan + UBSan,
#    starting from its seed corpus in fuzz/corpus/<name>/ when there is one;
#  - the tests labelled "threads" under ThreadSanitizer;
#  - the tests labelled "asan" (the end of a run with its workers busy,
#    driving the real program) under AddressSanitizer + UBSan.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
fuzz_seconds="${KORVELLE_FUZZ_SECONDS:-20}"
# A single input may legitimately take seconds (the image loader decodes up to
# its pixel cap under ASan) and use a few GiB; only crashes, sanitizer
# reports and real hangs fail the run.

CC=clang CXX=clang++ KORVELLE_TARGETS=korvelle_fuzzers scripts/build.sh build-fuzz \
  -DKORVELLE_TESTS=OFF -DKORVELLE_FUZZ=ON -DKORVELLE_SANITIZE=address
for fuzzer in build-fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name="${fuzzer##*/fuzz_}"
  work="build-fuzz/corpus-$name"
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  echo "fuzz: $name for ${fuzz_seconds}s"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=60 -rss_limit_mb=6144 \
    -print_final_stats=0 "$work" "${seeds[@]}" 2>"build-fuzz/$name.log" \
    || { tail -60 "build-fuzz/$name.log"; exit 1; }
done

# ThreadSanitizer needs address-space randomisation within what its shadow
# map expects; newer kernels randomise more, so run without it.
CC=clang CXX=clang++ KORVELLE_TARGETS=korvelle_tests scripts/build.sh build-tsan \
  -DKORVELLE_TESTS=ON -DKORVELLE_SANITIZE=thread -DKORVELLE_TEST_LABEL=threads
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  setarch "$(uname -m)" -R ctest --test-dir build-tsan -L threads --output-on-failure -j"$(nproc)" \
  --no-tests=ignore

# The shutdown path of the real program under ASan + UBSan. Leak reports are
# off: the desktop libraries (fontconfig, pango, the GL driver) keep caches
# until exit by design; use-after-free, double close and reports from static
# destruction still fail the run.
CC=clang CXX=clang++ KORVELLE_TARGETS=korvelle_tests scripts/build.sh build-asan \
  -DKORVELLE_TESTS=ON -DKORVELLE_SANITIZE=address -DKORVELLE_TEST_LABEL=asan
ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  ctest --test-dir build-asan -L asan --output-on-failure -j1 --no-tests=ignore
