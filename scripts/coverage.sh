#!/usr/bin/env bash
# Line and branch coverage of src/ per folder, from a gcov build of its own.
#   scripts/coverage.sh [build-dir] [ctest options...]
#   scripts/coverage.sh --report [build-dir]   the report of the last run only
# Default build tree: build-cov. ctest options narrow the run (e.g. -L media);
# without them every test runs. Failing tests are listed but do not stop the
# report. Not part of ./test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
report_only=""
if [ "${1:-}" = "--report" ]; then report_only=1; shift; fi
dir="${1:-build-cov}"
shift || true
jobs="${KORVELLE_COVERAGE_JOBS:-$(nproc)}"

if [ -z "$report_only" ]; then

# -Og keeps line numbers honest without making the pixel loops crawl; the
# coverage build never hits the compiler cache, so it bypasses it.
if [ ! -f "$dir/build.ninja" ]; then
  CCACHE_DISABLE=1 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="--coverage -Og -g0 -fprofile-abs-path" \
    -DCMAKE_CXX_FLAGS="--coverage -Og -g0 -fprofile-abs-path" \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage" >/dev/null
fi
CCACHE_DISABLE=1 cmake --build "$dir" --target korvelle korvelle_tests -- -j"$jobs"

find "$dir" -name '*.gcda' -delete
ctest --test-dir "$dir" -j"$jobs" --timeout 600 "$@" >"$dir/coverage-ctest.log" 2>&1 || true
grep -E "tests passed|\(Failed\)|\(Timeout\)" "$dir/coverage-ctest.log" | tail -40 || true
fi

# gcov's JSON for every object (never-run objects count as zero), merged per
# source line across translation units: a line is covered when any unit ran
# it. Branches on exception paths are left out.
find "$(cd "$dir" && pwd)" -name '*.gcno' -print0 >"$dir/gcno.list"
python3 - "$dir" "$root/src" <<'PY'
import collections, json, os, subprocess, sys

build, src = sys.argv[1], sys.argv[2]
notes = [p for p in open(os.path.join(build, "gcno.list")).read().split("\0") if p]
lines = collections.defaultdict(dict)      # file -> line -> covered
branches = collections.defaultdict(dict)   # file -> line -> [taken...]
for start in range(0, len(notes), 50):
    batch = notes[start:start + 50]
    out = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities"] + batch, cwd=build,
                         capture_output=True, text=True).stdout
    for doc in out.splitlines():
        doc = doc.strip()
        if not doc.startswith("{"):
            continue
        data = json.loads(doc)
        cwd = data.get("current_working_directory", build)
        for f in data.get("files", []):
            path = os.path.normpath(os.path.join(cwd, f["file"]))
            if not path.startswith(src + "/"):
                continue
            for ln in f.get("lines", []):
                n = ln["line_number"]
                lines[path][n] = lines[path].get(n, False) or ln["count"] > 0
                taken = [b["count"] > 0 for b in ln.get("branches", []) if not b.get("throw")]
                old = branches[path].get(n)
                if old is None or len(old) != len(taken):
                    if old is None or len(taken) > len(old):
                        branches[path][n] = taken
                else:
                    branches[path][n] = [a or b for a, b in zip(old, taken)]

folders = collections.defaultdict(lambda: [0, 0, 0, 0])
for path in lines:
    rel = os.path.relpath(path, src)
    folder = rel.split("/")[0] if "/" in rel else "(top)"
    t = folders[folder]
    t[0] += sum(lines[path].values())
    t[1] += len(lines[path])
    for taken in branches[path].values():
        t[2] += sum(taken)
        t[3] += len(taken)

def pct(a, b):
    return f"{100.0 * a / b:6.1f}%" if b else "     -"

print(f"{'folder':<10} {'lines':>16} {'':>7}  {'branches':>16} {'':>7}")
total = [0, 0, 0, 0]
for folder in sorted(folders):
    t = folders[folder]
    total = [a + b for a, b in zip(total, t)]
    print(f"{folder:<10} {t[0]:>7} / {t[1]:<6} {pct(t[0], t[1])}  {t[2]:>7} / {t[3]:<6} {pct(t[2], t[3])}")
t = total
print(f"{'src':<10} {t[0]:>7} / {t[1]:<6} {pct(t[0], t[1])}  {t[2]:>7} / {t[3]:<6} {pct(t[2], t[3])}")
PY
