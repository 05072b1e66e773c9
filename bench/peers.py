#!/usr/bin/env python3
"""Times zelto beside other terminals under one Xvfb: each runs a probe that prints a workload and
waits for the answer to a DA1 query. Prints the median wall time over RUNS runs, net of the
terminal's own start-up (the same probe without a workload), its start-up time and peak RSS.

usage: peers.py ZELTO WORKLOAD-DIR"""
import os
import shutil
import statistics
import subprocess
import sys
import time

RUNS = 5
COLS, ROWS = 120, 40
HERE = os.path.dirname(os.path.abspath(__file__))
PROBE = ["python3", os.path.join(HERE, "da1_probe.py")]


def commands(zelto):
    geometry = f"{COLS}x{ROWS}"
    return {
        "zelto": [zelto, "-c", "-X", "--columns", str(COLS), "--rows", str(ROWS), "-e"],
        "xterm": ["xterm", "-geometry", geometry, "-e"],
        "alacritty": ["alacritty", "-o", f"window.dimensions.columns={COLS}",
                      "-o", f"window.dimensions.lines={ROWS}", "-e"],
        "kitty": ["kitty", "-o", f"initial_window_width={COLS}c",
                  "-o", f"initial_window_height={ROWS}c", "-e"],
        "st": ["stterm", "-g", geometry, "-e"],
    }


def free_display():
    for number in range(100, 200):
        if not os.path.exists(f"/tmp/.X11-unix/X{number}") and not os.path.exists(f"/tmp/.X{number}-lock"):
            return number
    sys.exit("no free display")


def run_once(command, workload):
    """Wall seconds and peak RSS (KiB) of one run."""
    start = time.monotonic()
    process = subprocess.Popen(command + PROBE + ([workload] if workload else []),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.monotonic() - start
    if status != 0:
        return None, usage.ru_maxrss
    return elapsed, usage.ru_maxrss


def median_run(command, workload):
    times, rss = [], 0
    for _ in range(RUNS):
        elapsed, peak = run_once(command, workload)
        rss = max(rss, peak)
        if elapsed is None:
            return None, rss
        times.append(elapsed)
    return statistics.median(times), rss


def main():
    zelto, workload_dir = sys.argv[1], sys.argv[2]
    workloads = sorted(os.listdir(workload_dir))
    number = free_display()
    xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1920x1080x24", "+extension", "GLX"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = f":{number}"
    os.environ["LIBGL_ALWAYS_SOFTWARE"] = "1"
    os.environ.pop("WAYLAND_DISPLAY", None)
    time.sleep(1)
    try:
        for name, command in commands(zelto).items():
            if not shutil.which(command[0]):
                print(f"# {name}: not installed")
                continue
            startup, rss = median_run(command, None)
            if startup is None:
                print(f"# {name}: did not run")
                continue
            print(f"startup {name} {startup:.3f}", flush=True)
            for workload in workloads:
                total, peak = median_run(command, os.path.join(workload_dir, workload))
                rss = max(rss, peak)
                result = "failed" if total is None else f"{max(0.0, total - startup):.3f}"
                print(f"e2e {name} {workload} {result}", flush=True)
            print(f"rss {name} {rss // 1024} MiB", flush=True)
    finally:
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    main()
