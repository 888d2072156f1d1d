#!/usr/bin/env bash
# Mutation run: does the suite notice small faults in the code it covers?
#   scripts/mutants.sh [build-dir]     run every mutant in scripts/mutants.list
#   scripts/mutants.sh --pick SEED     print a fresh list (11 sites per folder)
# Each mutant changes one line of a source file (a flipped comparison, an
# off-by-one constant, a dropped statement, swapped arguments). The script
# applies it, rebuilds the folder's test programs in its own build tree
# (default build-mut; ninja rebuilds only what changed), runs the ctest label
# of that folder, restores the file and prints "killed" (a test failed or
# timed out), "survived", "stillborn" (did not compile) or "skipped" (the line
# is no longer in the source). Not part of ./test; it edits src/ while it
# runs, so run it in a checkout nobody builds from at the same time.
# KORVELLE_MUTANT_JOBS (default 1) sets the build and test parallelism,
# KORVELLE_MUTANT_ONLY a regular expression on the mutant ids to run.
# KORVELLE_MUTANT_PRIOR names the output of an earlier run: the test that
# killed a mutant there runs first (a second run after test changes is then
# quick where nothing changed).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
list="$root/scripts/mutants.list"

if [ "${1:-}" = "--pick" ]; then
  python3 - "${2:?seed}" <<'PY'
import json, random, re, sys, pathlib

seed = int(sys.argv[1])
rng = random.Random(seed)
FOLDERS = ["core", "media", "editor", "platform"]
QUOTA = {"compare": 3, "constant": 3, "drop": 3, "swap": 2}
PAIRS = [("x", "y"), ("w", "h"), ("width", "height"), ("Width", "Height"), ("from", "to"),
         ("lo", "hi"), ("in", "out"), ("In", "Out"), ("start", "end"), ("first", "last"), ("a", "b")]
FLIP = {"<": ">=", ">": "<=", "<=": ">", ">=": "<", "==": "!=", "!=": "=="}

def code_part(line):
    """The line with string and character literals blanked and comments cut."""
    out, q, i = [], None, 0
    while i < len(line):
        c = line[i]
        if q:
            if c == "\\":
                out.append("  "); i += 2; continue
            if c == q:
                q = None
            out.append(" " if c != '"' and c != "'" else c)
        elif c in "\"'":
            q = c; out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)

def sites(path):
    text = path.read_text().split("\n")
    found = {k: [] for k in QUOTA}
    prev = ""
    for n, line in enumerate(text, 1):
        code = code_part(line)
        s = code.strip()
        if not s or s.startswith("#") or s.startswith("static_assert"):
            prev = s; continue
        for m in re.finditer(r"(?<=[\w)\]]) (<=|>=|==|!=|<|>) (?=[\w(!-])", code):
            op = m.group(1)
            found["compare"].append((n, m.start(1), op, FLIP[op], "compare"))
        for m in re.finditer(r"(?<=[-+*/<>=(,] )(\d+)(?![\w.'])", code):
            if code[:m.start()].rstrip().endswith("[") or "0x" in m.group(0):
                continue
            v = int(m.group(1))
            found["constant"].append((n, m.start(1), m.group(1), str(v + 1), "constant"))
        if (re.match(r"^\s+[A-Za-z_][\w.\->\[\]]*(\s*(\+=|-=|\*=|/=|\|=|&=|=)\s*[^=].*|\(.*\)|\+\+|--);\s*$", code)
                and code.count("(") == code.count(")")
                and not s.startswith(("return", "break", "continue", "goto", "case", "default"))
                and (prev.endswith((";", "{", "}", ")")) or prev == "")
                and "=" not in s.split("(")[0].split("=")[0].split()[0][-1:]):
            found["drop"].append((n, code.index(s), s, ";", "drop"))
        # Swaps that still compile: the operands of a minus or a division, or
        # two call arguments that name a matching pair (x and y, width and height).
        for m in re.finditer(r"(?<![\w.>)\]])([A-Za-z_][\w.]*) ([-/]) ([A-Za-z_][\w.]*)(?![\w(\[.])", code):
            a, op, b = m.groups()
            if a != b:
                found["swap"].append((n, m.start(1), f"{a} {op} {b}", f"{b} {op} {a}", "swap"))
        for m in re.finditer(r"\(([A-Za-z_][\w.>-]*), ([A-Za-z_][\w.>-]*)[,)]", code):
            a, b = m.group(1), m.group(2)
            if a != b and any(a.endswith(p) and b.endswith(q) and a[:-len(p)] == b[:-len(q)]
                              for p, q in PAIRS):
                found["swap"].append((n, m.start(1), f"{a}, {b}", f"{b}, {a}", "swap"))
        prev = s
    return text, found

out = []
for folder in FOLDERS:
    files = sorted(pathlib.Path("src", folder).rglob("*.cpp"))
    pool = {k: [] for k in QUOTA}
    lines = {}
    for f in files:
        text, found = sites(f)
        lines[f] = text
        for k, v in found.items():
            pool[k] += [(f, *x) for x in v]
    for kind, count in QUOTA.items():
        for f, n, col, old, new, _ in rng.sample(pool[kind], min(count, len(pool[kind]))):
            line = lines[f][n - 1]
            mutated = line[:col] + new + line[col + len(old):]
            out.append({"label": folder, "file": str(f), "line": n, "kind": kind,
                        "from": line, "to": mutated})
print(f"# Mutants picked by scripts/mutants.sh --pick {seed}; one JSON object a line.")
for i, m in enumerate(out, 1):
    m = {"id": f"{m['label']}-{i:02d}", **m}
    print(json.dumps(m, ensure_ascii=False))
PY
  exit 0
fi

dir="${1:-build-mut}"
jobs="${KORVELLE_MUTANT_JOBS:-1}"
only="${KORVELLE_MUTANT_ONLY:-.}"
unset CI  # a mutant may leave an unused variable; that is not a compile failure here
# The default build type shares the compiler cache with build/; lld keeps
# the many relinks short.
if [ ! -f "$dir/build.ninja" ]; then
  linker=()
  command -v ld.lld >/dev/null && linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld)
  cmake -S . -B "$dir" -G Ninja "${linker[@]}" >/dev/null
fi
log="$dir/mutants.log"
: >"$log"

current=""
restore() { [ -n "$current" ] && git -C "$root" checkout -q -- "$current"; current=""; }
trap restore EXIT INT TERM

# Rewrites one line of a file: the line equal to "from" nearest to the
# recorded line number. Prints the file's path, or nothing when it is gone.
apply() {
  python3 - "$1" <<'PY'
import json, sys
m = json.loads(sys.argv[1])
text = open(m["file"]).read().split("\n")
hits = [i for i, l in enumerate(text) if l == m["from"]]
if not hits:
    sys.exit(0)
i = min(hits, key=lambda i: abs(i + 1 - m["line"]))
text[i] = m["to"]
open(m["file"], "w").write("\n".join(text))
print(m["file"])
PY
}

prior="${KORVELLE_MUTANT_PRIOR:-}"
killed=0; survived=0; stillborn=0; skipped=0
while IFS= read -r entry <&3; do
  case "$entry" in "#"* | "") continue ;; esac
  id="$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["id"])' "$entry")"
  [[ "$id" =~ $only ]] || continue
  label="$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["label"])' "$entry")"
  git -C "$root" diff --quiet -- src || { echo "src/ has uncommitted changes; stopping" >&2; exit 1; }
  file="$(apply "$entry")"
  if [ -z "$file" ]; then
    echo "$id skipped"; skipped=$((skipped + 1)); continue
  fi
  current="$file"
  targets=()
  for t in tests/"$label"/*_test.cpp; do
    t="${t##*/}"; targets+=("${label}_${t%.cpp}")
  done
  # The test program named most like the source file runs first: most
  # mutants fall there, and the rest of the label only runs when it passes.
  stem="${file##*/}"; stem="${stem%.cpp}"; near=""
  for t in "${targets[@]}"; do
    name="${t#"${label}"_}"; name="${name%_test}"
    if [[ "$stem" == "$name"* || "$name" == "$stem"* ]] && [ ${#name} -gt ${#near} ]; then near="$name"; fi
  done
  start=$SECONDS
  by=""
  if ! ninja -C "$dir" -j"$jobs" "${targets[@]}" >>"$log" 2>&1; then
    result=stillborn; stillborn=$((stillborn + 1))
  else
    first=()
    if [ -n "$near" ]; then
      suites="$("$dir/${label}_${near}_test" --gtest_list_tests 2>/dev/null | grep -v '^ ' | sed 's/\..*$//' |
        paste -sd'|')"
      [ -n "$suites" ] && first=(-R "^($suites)\\.")
    fi
    rest=("${first[@]}"); [ ${#first[@]} -gt 0 ] && rest=(-E "${first[1]}")
    killer=""
    [ -n "$prior" ] && killer="$(sed -n "s/^$id killed .*by \([^ ]*\)\$/\1/p" "$prior" | head -1)"
    # Runs part of the label; on a failure, remembers the failing test.
    run() {
      local out
      out="$(ctest --test-dir "$dir" -L "^$label\$" -j"$jobs" --stop-on-failure "$@" 2>&1)" && return 0
      printf '%s\n' "$out" >>"$log"
      by="$(printf '%s\n' "$out" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' | head -1)"
      return 1
    }
    if [ -n "$killer" ] && ! run -R "^${killer//./\\.}\$"; then
      result=killed
    elif { [ ${#first[@]} -eq 0 ] || run "${first[@]}"; } && run "${rest[@]}"; then
      result=survived
    else
      result=killed
    fi
    if [ "$result" = killed ]; then killed=$((killed + 1)); else survived=$((survived + 1)); fi
  fi
  restore
  echo "$id $result ($((SECONDS - start)) s) $file: $(python3 -c \
    'import json,sys; m=json.loads(sys.argv[1]); print(m["kind"], m["line"], m["to"].strip()[:60])' "$entry")${by:+ by $by}"
done 3<"$list"
echo "total: $((killed + survived)) mutants, $killed killed, $survived survived" \
  "($stillborn stillborn, $skipped skipped)"
