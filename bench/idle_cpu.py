#!/usr/bin/env python3
"""Idle cost and start-up time of the running program under Xvfb.

  bench/idle_cpu.py [build/korvelle] [--seconds 10] [--starts 5] [--open FILE]

Starts Xvfb at 1920x1080 on a free display, then
  * start-up: from spawning korvelle to its first frame (the interface dump
    file appears right before the first present), median of --starts runs;
  * idle: CPU time (user + system) of korvelle, and of the X server, over
    --seconds seconds with the window open at 1920x1080 and nobody touching it.
With --open the idle run opens FILE first (a paused video in the editor:
its filmstrip is left a few seconds to fill before the measurement).
Every run gets its own HOME and XDG folders.
"""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def start_xvfb():
    r, w = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1920x1080x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(w,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(r, 32)
        if not chunk:
            break
        number += chunk
    os.close(r)
    return proc, ":" + number.decode().strip()


def start_app(exe, display, root, extra_args):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("XDG_", "KORVELLE_", "SDL_")) and k not in ("DISPLAY", "WAYLAND_DISPLAY", "HOME")}
    for sub in ("home", "data", "cache", "runtime"):
        os.makedirs(os.path.join(root, sub), exist_ok=True)
    dump = os.path.join(root, "dump.txt")
    env.update(DISPLAY=display, HOME=os.path.join(root, "home"), XDG_DATA_HOME=os.path.join(root, "data"),
               XDG_CACHE_HOME=os.path.join(root, "cache"), XDG_RUNTIME_DIR=os.path.join(root, "runtime"),
               SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy", LANG="C.UTF-8", KORVELLE_UI_DUMP=dump)
    t0 = time.monotonic()
    proc = subprocess.Popen([exe] + extra_args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.exists(dump):
        if proc.poll() is not None:
            raise SystemExit("korvelle ended early with %s" % proc.returncode)
        if time.monotonic() - t0 > 60:
            raise SystemExit("no first frame within 60 s")
        time.sleep(0.001)
    return proc, time.monotonic() - t0


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=30)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("exe", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "build", "korvelle"))
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--starts", type=int, default=5)
    ap.add_argument("--open", default=None, help="file the idle run opens")
    args = ap.parse_args()

    xvfb, display = start_xvfb()
    try:
        starts = []
        for _ in range(args.starts):
            with tempfile.TemporaryDirectory() as root:
                proc, first = start_app(args.exe, display, root, ["--size", "1920x1080"])
                starts.append(first)
                stop(proc)
        with tempfile.TemporaryDirectory() as root:
            proc, _ = start_app(args.exe, display, root, ["--size", "1920x1080"] + ([args.open] if args.open else []))
            # Let the start-up frames and the geometry sample pass (and a
            # video's filmstrip and sound curve fill).
            time.sleep(8.0 if args.open else 2.0)
            app0, x0, t0 = cpu_seconds(proc.pid), cpu_seconds(xvfb.pid), time.monotonic()
            time.sleep(args.seconds)
            app1, x1, t1 = cpu_seconds(proc.pid), cpu_seconds(xvfb.pid), time.monotonic()
            stop(proc)
        wall = t1 - t0
        print("start to first frame: median %.0f ms (min %.0f, max %.0f, %d starts)" % (
            statistics.median(starts) * 1000, min(starts) * 1000, max(starts) * 1000, len(starts)))
        print("idle %.1f s at 1920x1080: korvelle %.2f %% of one core (%.3f s CPU), Xvfb %.2f %%" % (
            wall, 100 * (app1 - app0) / wall, app1 - app0, 100 * (x1 - x0) / wall))
    finally:
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
