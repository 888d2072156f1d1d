#!/usr/bin/env python3
"""Build-time font step for the assets folder.

  fonts.py chars <stamp> <out> [catalogue files...]
      Collects every non-ASCII character of the catalogue files into <out>
      (rewritten only when the set changes, so the subsets downstream are not
      rebuilt needlessly) and touches <stamp>.
  fonts.py subset <source> <face index> <chars file> <unicode ranges> <out>
      Writes <out>: the source font cut down to the characters in <chars file>
      plus the ranges (pyftsubset syntax), with all layout features kept so
      that complex scripts still shape.
"""
import os
import sys


def collect_chars(stamp, out, files):
    chars = set()
    for path in files:
        try:
            with open(path, "rb") as f:
                text = f.read().decode("utf-8", errors="ignore")
        except OSError:
            continue
        chars.update(c for c in text if ord(c) > 0x7F and c.isprintable())
    content = "".join(sorted(chars))
    old = None
    if os.path.exists(out):
        with open(out, encoding="utf-8") as f:
            old = f.read()
    if old != content:
        tmp = out + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            f.write(content)
        os.replace(tmp, out)
    with open(stamp, "w", encoding="utf-8") as f:
        f.write("%d characters\n" % len(chars))


def subset(source, face, chars_file, ranges, out):
    from fontTools import subset as ftsubset

    tmp = out + ".tmp"
    args = [
        source,
        "--font-number=%d" % int(face),
        "--text-file=%s" % chars_file,
        "--unicodes=%s" % ranges,
        "--layout-features=*",
        "--notdef-outline",
        "--name-IDs=*",
        "--output-file=%s" % tmp,
    ]
    rc = ftsubset.main(args)
    if rc:
        return rc
    os.replace(tmp, out)
    return 0


def main(argv):
    if len(argv) >= 3 and argv[0] == "chars":
        collect_chars(argv[1], argv[2], argv[3:])
        return 0
    if len(argv) == 6 and argv[0] == "subset":
        return subset(*argv[1:])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
