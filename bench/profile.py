#!/usr/bin/env python3
"""Profiles the engine on the benchmark game (default: the bunnymark with
20,000 Hash sprites; --mode labels_changing or labels_unchanging for the text
mark) and prints where a frame's time goes, per thread.

    bench/profile                      callgrind: exact instruction counts of
                                       the simulation frame and the render
                                       turn, repeatable from run to run
    bench/profile --tool perf          perf sampling of the whole process at
                                       full speed, by thread and function

Run bench/run once first (or let bench/profile build): it uses build/bench.
Everything it writes goes to build/bench/profile/.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import driver  # noqa: E402


def prepare(args, work, frames, warmup, time_limit, mark=None):
    program = driver.EngineProgram(args.build, args.mode, mark)
    out = os.path.join(work, "result.txt")
    cmd = program.command(work, args.n, warmup, frames, time_limit, out)
    env = driver.base_environment(args)
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    env["HOME"] = home
    env["XDG_DATA_HOME"] = os.path.join(home, "data")
    return cmd, env, out


def run_callgrind(args, work, out_dir):
    # Under valgrind the engine runs some fifty times slower: a few frames
    # after a short warm-up are enough, and no wall-clock limit may cut them.
    driver.WARMUP_TIME = 1e9
    mark = os.path.join(work, "measuring")
    cmd, env, result = prepare(args, work, args.frames, args.warmup, 1e9, mark)
    # llvmpipe's generated code under valgrind is slow enough that the render
    # thread's replays starve the simulation; SDL's own software renderer
    # stands in (the GL rasteriser's share is perf's to show).
    env["SDL_RENDER_DRIVER"] = "software"
    data = os.path.join(out_dir, "callgrind.out")
    for f in os.listdir(out_dir):
        if f.startswith("callgrind.out"):
            os.unlink(os.path.join(out_dir, f))
    # Collect only inside simulation frames and render turns (not in the
    # pacing waits).
    vg = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + data + ".%p",
          "--separate-threads=yes", "--fair-sched=yes",
          "--toggle-collect=*simulation_frame*", "--toggle-collect=*draw_iteration*",
          "--dump-instr=no", "--collect-jumps=no"]
    print("running: %s ... (%d frames under callgrind; this takes a while)" % (" ".join(vg[:2]), args.frames +
                                                                               args.warmup), flush=True)
    # The counters are zeroed when the game opens its measuring window, so
    # start-up, building the sprites and the warm-up frames do not count.
    with open(os.path.join(out_dir, "callgrind.log"), "w") as log:
        proc = subprocess.Popen(vg + cmd, cwd=work, env=env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL)
        deadline = time.time() + args.timeout
        zeroed = False
        try:
            while proc.poll() is None and time.time() < deadline:
                if not zeroed and os.path.exists(mark):
                    subprocess.run(["callgrind_control", "-z", str(proc.pid)], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, check=False)
                    zeroed = True
                time.sleep(0.2)
        finally:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
    if not zeroed:
        print("note: the game never opened its window; the counts include start-up")
    outputs = sorted(os.path.join(out_dir, f) for f in os.listdir(out_dir) if f.startswith("callgrind.out"))
    if not outputs:
        print("callgrind wrote nothing; see %s" % os.path.join(out_dir, "callgrind.log"))
        return 1
    if os.path.exists(result):
        print("game report: " + open(result).read().replace("\n", " "))
    for path in outputs:
        annotated = path + ".txt"
        with open(annotated, "w") as f:
            subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=99", path], stdout=f,
                           stderr=subprocess.DEVNULL, check=False)
        self_file = path + ".self.txt"
        with open(self_file, "w") as f:
            subprocess.run(["callgrind_annotate", "--inclusive=no", "--threshold=100", path], stdout=f,
                           stderr=subprocess.DEVNULL, check=False)
        summary = summarize_callgrind(annotated, self_file, args.top)
        if summary:
            print("\n== %s ==" % os.path.basename(path))
            print(summary)
    print("\nfull listings: %s/callgrind.out.*.txt (inclusive) and *.self.txt (self)" % out_dir)
    return 0


def summarize_callgrind(inclusive_path, self_path, top):
    def entries(path):
        rows, total = [], None
        for line in open(path, errors="replace"):
            line = line.rstrip()
            if total is None and line.endswith("PROGRAM TOTALS"):
                total = int(line.split()[0].replace(",", ""))
            parts = line.split(None, 1)
            if len(parts) == 2 and parts[0].replace(",", "").isdigit() and "PROGRAM TOTALS" not in line:
                rows.append((int(parts[0].replace(",", "")), parts[1].split(" [")[0]))
        return rows, total

    inc, total = entries(inclusive_path)
    own, _ = entries(self_path)
    if not total:
        return ""
    lines = ["total %s instructions collected" % format(total, ",")]
    lines.append("-- inclusive (with callees) --")
    for count, name in inc[:top]:
        lines.append("%6.2f%%  %s" % (100.0 * count / total, name))
    lines.append("-- self --")
    # Frames above the collection toggle show the whole total as their own.
    own = [(count, name) for count, name in own if count < total * 0.995]
    for count, name in own[:top]:
        lines.append("%6.2f%%  %s" % (100.0 * count / total, name))
    return "\n".join(lines)


def run_perf(args, work, out_dir):
    cmd, env, result = prepare(args, work, args.frames, args.warmup, 60.0)
    data = os.path.join(out_dir, "perf.data")
    print("running: perf record (%d frames at full speed)" % (args.frames + args.warmup), flush=True)
    with open(os.path.join(out_dir, "perf.log"), "w") as log:
        subprocess.run(["perf", "record", "-F", "999", "-g", "-o", data, "--"] + cmd, cwd=work, env=env,
                       stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=args.timeout,
                       check=False)
    if os.path.exists(result):
        print("game report: " + open(result).read().replace("\n", " "))
    for sort, name in (("comm", "by thread"), ("comm,dso", "by thread and library"),
                       ("comm,sym", "by thread and function (self)")):
        report = subprocess.run(["perf", "report", "-i", data, "--no-children", "--sort", sort, "--stdio",
                                 "-g", "none", "--percent-limit", "0.5"],
                                capture_output=True, text=True, check=False).stdout
        rows = [l for l in report.splitlines() if l.strip() and not l.startswith("#")]
        print("\n== %s ==" % name)
        print("\n".join(rows[:args.top]))
    print("\nperf data: %s (perf report -i %s)" % (data, data))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", choices=["callgrind", "perf"], default="callgrind")
    parser.add_argument("--build", default=os.path.join(driver.ROOT, "build", "bench"))
    parser.add_argument("--n", type=int, default=20000)
    parser.add_argument("--mode", choices=driver.ENGINE_MODES + driver.TEXT_MODES, default="hashes")
    parser.add_argument("--warmup", type=int, default=None, help="frames before collecting")
    parser.add_argument("--frames", type=int, default=None, help="frames profiled")
    parser.add_argument("--lp-threads", type=int, default=1)
    parser.add_argument("--top", type=int, default=25, help="entries shown per listing")
    parser.add_argument("--timeout", type=float, default=1200)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    if args.warmup is None:
        args.warmup = 3 if args.tool == "callgrind" else 60
    if args.frames is None:
        args.frames = 5 if args.tool == "callgrind" else 600
    out_dir = os.path.join(args.build, "profile")
    os.makedirs(out_dir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="vellum-profile-")
    try:
        if args.tool == "callgrind":
            return run_callgrind(args, work, out_dir)
        return run_perf(args, work, out_dir)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
