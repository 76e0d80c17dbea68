#!/usr/bin/env python3
"""Throughput benchmarks: this engine against LÖVE and a plain SDL2 program,
on the same headless renderer, in one run.

The bunnymark (sprites): every program moves N sprites of one 32x32 image by
its own script every frame and draws them all.
The text mark (text): every program draws N lines of text in the engine's
default font and size every frame, either changing ("s<i> <tick % 100>") or
unchanging ("s<i> <i % 100>"): this engine as labels, LÖVE with
love.graphics.print, plain SDL2 from one glyph atlas.
The memory soak (soak): this engine alone draws N things made anew every
frame, in each way a game draws them (sprite Hashes with a String or a Symbol
path, static sprites cleared and refilled, attr_sprite objects, primitives,
labels), for minutes; resident memory must level off.
The pacing mark (pacing): this engine alone keeps a big live world of N
small Hashes in its game state while it makes garbage (heap_garbage) or
replaces part of the world every tick (heap_replace), at N = 1M and 3M,
passes a block 1,000 times a tick at N = 1M (heap_blocks), and makes 200
new entities a tick with N live (entities); every interval between
two ticks is recorded, so the report gives the frame-interval percentiles,
the longest frame and the frames over 33 ms beside ticks per second and
resident memory over time.
The network mark (network): this engine alone answers HTTP clients while the
driver loads its server from this machine: six clients posting 500,000-byte
bodies with a Content-Length, one request per connection, 100 MB/s in all
(net_uploads), or 64 clients each sending ten request heads a second of
250,000 two-byte header lines (net_head_flood). The game answers every
request that reaches it. In the third load the game is the client: the
driver's server answers each of the game's requests with 200 and a body
that never ends, the game asking again as soon as one has failed at the
engine's bound of one answer (net_endless_answer). The report gives the
game's ticks per second and resident memory while the load runs, and the
same of another build of the engine (--baseline, say the previous release)
beside them.

All run at a fixed 60 Hz schedule. Each program measures itself over a
window of frames after a warm-up and writes a small key=value report:

    frames        frames in the window
    cpu_seconds   user + system time of the whole process over the window
                  (/proc/self/stat, every thread included)
    wall_seconds  wall-clock length of the window
    fps           frames / wall_seconds
    sim_fps, render_fps   (this engine only) the simulation and render frame
                  rates the engine itself measured, averaged over the window
    samples       (the soak and the pacing mark) every 10 s of the window
                  (5 s in the quick form of the pacing mark)
                  "seconds:rss_kib:sim_fps:render_fps", the rates averaged
                  over the 10 s before
    intervals     (the pacing mark only) every interval between two ticks
                  of the window, in microseconds

The driver adds each program's peak resident memory over its whole run, as
the kernel accounts it for the finished process (getrusage's ru_maxrss).

A program "holds 60 fps" when its rate stays at or above --hold-fps; for this
engine both its own simulation and render rates must.

bench/run builds everything and calls this script; `bench/run --help` lists
the options.
"""

import argparse
import asyncio
import json
import math
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

ENGINE_MODES = ["hashes", "attr_sprite", "static_sprites"]
TEXT_MODES = ["labels_changing", "labels_unchanging"]
SOAK_MODES = ["soak_string_path", "soak_symbol_path", "soak_static_sprites", "soak_attr_sprite",
              "soak_primitives", "soak_labels"]
SOAK_SAMPLE_EVERY = 10.0  # seconds between the soak's memory samples
SOAK_FULL_TIME = 180.0  # a shorter soak only hints at growth
# The pacing mark's runs: game mode and N.
PACING_RUNS = [("heap_garbage", 1000000), ("heap_garbage", 3000000), ("heap_replace", 1000000),
               ("heap_replace", 3000000), ("heap_blocks", 1000000), ("entities", 12000)]
PACING_MODES = ["heap_garbage", "heap_replace", "heap_blocks", "entities"]
# The network mark's runs: game mode and number of clients.
NETWORK_RUNS = [("net_uploads", 6), ("net_head_flood", 64), ("net_endless_answer", 1)]
NETWORK_MODES = [mode for mode, _ in NETWORK_RUNS]
UPLOAD_BYTES = 500000
UPLOAD_RATE = 100e6  # bytes a second over all clients
FLOOD_LINES = 250000  # two-byte header lines in each flood head (500 KB)
FLOOD_HEADS_PER_CLIENT = 10  # a second
FLOOD_ANSWER_WAIT = 0.3  # seconds a flood client waits for an answer
PACING_LONG_FRAME_MS = 33.0  # two frames at 60 Hz
PACING_BUILD_ALLOWANCE = 90.0  # seconds a game may take to build its world before the window
# The default label size's glyph height in pixels at 1280x720.
TEXT_PIXEL_SIZE = 22
STARTUP_ALLOWANCE = 20.0  # seconds a program may take before its first frame
WARMUP_TIME = 2.0  # the warm-up ends after this many seconds even when short of frames


class Program:
    """One benchmarked program; `command` prepares a run folder and answers
    the command line that runs it there. `kind` is sdl, love or engine;
    programs of one mark with the same `variant` do the same work."""

    engine = False
    kind = None

    def __init__(self, name, label, variant=None):
        self.name = name
        self.label = label
        self.variant = variant

    def command(self, run_dir, n, warmup, frames, time_limit, out):
        raise NotImplementedError


def window_options(n, warmup, frames, time_limit, out):
    return ["--n", str(n), "--warmup", str(warmup), "--warmup-time", str(WARMUP_TIME), "--frames", str(frames),
            "--time-limit", str(time_limit), "--out", out]


class SdlProgram(Program):
    """The plain SDL2 bunnymark, or the text mark in the given text mode."""

    kind = "sdl"

    def __init__(self, build, text=None):
        super().__init__("sdl" if text is None else "sdl-text-" + text,
                         "plain SDL2" if text is None else "plain SDL2 " + text, text)
        self.text = text
        self.exe = os.path.join(build, "bench", "sdl_bunnymark" if text is None else "sdl_textmark")
        self.font = os.path.join(build, "dist", "font.ttf")

    def command(self, run_dir, n, warmup, frames, time_limit, out):
        cmd = [self.exe] + window_options(n, warmup, frames, time_limit, out)
        if self.text is None:
            return cmd + ["--image", bunny_image()]
        return cmd + ["--mode", self.text, "--font", self.font, "--size", str(TEXT_PIXEL_SIZE)]


class LoveProgram(Program):
    """LÖVE on the bunnymark, or on the text mark in the given text mode."""

    kind = "love"

    def __init__(self, build, text=None):
        super().__init__("love" if text is None else "love-text-" + text,
                         "LÖVE 11.4" if text is None else "LÖVE 11.4 " + text, text)
        self.text = text
        self.font = os.path.join(build, "dist", "font.ttf")

    def command(self, run_dir, n, warmup, frames, time_limit, out):
        cmd = ["love", os.path.join(HERE, "love")] + window_options(n, warmup, frames, time_limit, out)
        cmd += ["--clock-ticks", str(os.sysconf("SC_CLK_TCK"))]
        if self.text is None:
            return cmd + ["--mode", "sprites", "--image", bunny_image()]
        return cmd + ["--mode", self.text, "--font", self.font, "--size", str(TEXT_PIXEL_SIZE)]


class EngineProgram(Program):
    engine = True
    kind = "engine"

    def __init__(self, build, mode, mark=None, baseline=False):
        variant = mode[len("labels_"):] if mode in TEXT_MODES else None
        super().__init__(("baseline-" if baseline else "vellum-") + mode,
                         "vellumcore " + mode + (" (baseline)" if baseline else ""), variant)
        # Which engine runs the game: this build, or the one given as the
        # baseline to compare with (another checkout's build folder).
        self.build_label = "baseline (%s)" % build if baseline else "this build"
        self.dist = os.path.join(build, "dist")
        self.mode = mode
        self.mark = mark  # a file the game creates when its window opens
        self.sample_every = SOAK_SAMPLE_EVERY if mode in SOAK_MODES + PACING_MODES + NETWORK_MODES else None
        self.intervals = mode in PACING_MODES
        # The network modes: the server's port, and a file the driver makes
        # once its load runs (the game's window opens only then).
        self.port = None
        self.loaded_file = None

    def command(self, run_dir, n, warmup, frames, time_limit, out):
        # Its own copy of the executable and its distribution files, so the
        # engine's base directory (where it writes its logs) is the run folder.
        base = os.path.join(run_dir, "base")
        shutil.copytree(self.dist, base)
        game = os.path.join(run_dir, "game")
        os.makedirs(os.path.join(game, "app"))
        os.makedirs(os.path.join(game, "sprites"))
        shutil.copy(bunny_image(), os.path.join(game, "sprites", "bunny.png"))
        if self.mode in NETWORK_MODES:
            self.port = free_port()
            self.loaded_file = os.path.join(run_dir, "loaded")
        config = ("BENCH = { n: %d, mode: %s, warmup: %d, warmup_time: %s, frames: %d, time_limit: %s, "
                  "clock_ticks: %d, out: %s, mark: %s, sample_every: %s, intervals: %s, port: %s, "
                  "loaded: %s }\n" %
                  (n, json.dumps(self.mode), warmup, WARMUP_TIME, frames, float(time_limit),
                   os.sysconf("SC_CLK_TCK"), ruby_string(out), ruby_string(self.mark),
                   "nil" if self.sample_every is None else self.sample_every,
                   "true" if self.intervals else "false", "nil" if self.port is None else self.port,
                   ruby_string(self.loaded_file)))
        with open(os.path.join(HERE, "game", "app", "main.rb")) as f:
            body = f.read()
        with open(os.path.join(game, "app", "main.rb"), "w") as f:
            f.write(config + body)
        return [os.path.join(base, "vellumcore"), game]


def free_port():
    """A loopback port nobody listens on just now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def ruby_string(value):
    """A Ruby literal for a path, or nil."""
    return "nil" if value is None else json.dumps(value)


def bunny_image():
    return os.path.join(HERE, "assets", "bunny.png")


def parse_report(path):
    values = {}
    with open(path) as f:
        for line in f:
            if "=" in line:
                key, value = line.strip().split("=", 1)
                try:
                    values[key] = float(value)
                except ValueError:
                    values[key] = value
    return values


def base_environment(args):
    env = dict(os.environ)
    env.update({
        "SDL_VIDEODRIVER": "offscreen",
        "LP_NUM_THREADS": str(args.lp_threads),
        "ALSOFT_DRIVERS": "null",
        "SDL_AUDIODRIVER": "dummy",
    })
    for key in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_RENDER_DRIVER"):
        env.pop(key, None)
    return env


def run_once(program, n, args, warmup, frames, time_limit, log, allowance=0.0, load=None):
    """One run; answers the report as a dict, or None when the program did not
    finish its window. `allowance` adds seconds the program may take before
    its window. `load(program, n, stop, stats)`, when given, runs on a
    thread of its own beside the program until the program has ended; what
    it puts in `stats` joins the report."""
    run_dir = tempfile.mkdtemp(prefix="run-", dir=args.work_dir)
    out = os.path.join(run_dir, "result.txt")
    env = base_environment(args)
    home = os.path.join(run_dir, "home")
    os.makedirs(home)
    env["HOME"] = home
    env["XDG_DATA_HOME"] = os.path.join(home, "data")
    cmd = program.command(run_dir, n, warmup, frames, time_limit, out)
    deadline = STARTUP_ALLOWANCE + allowance + WARMUP_TIME + time_limit + 10
    with open(os.path.join(run_dir, "output.txt"), "w") as output:
        proc = subprocess.Popen(cmd, cwd=run_dir, env=env, stdout=output, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        usage = None
        stop = threading.Event()
        stats = {}
        loader = threading.Thread(target=run_load, args=(load, program, n, stop, stats), daemon=True) if load else None
        if loader:
            loader.start()
        try:
            usage = wait_with_usage(proc, deadline)
        finally:
            # Also when the driver itself is stopped: no program outlives it.
            if proc.returncode is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
            stop.set()
            if loader:
                loader.join()
    result = parse_report(out) if os.path.exists(out) else None
    if result is None or not result.get("frames"):
        args.failed_runs += 1
        log("    %s n=%d: no report (exit %s); output kept in %s" % (program.name, n, proc.returncode, run_dir))
        return None
    result["cpu_ms_per_frame"] = 1000.0 * result["cpu_seconds"] / result["frames"]
    result.update(stats)
    if usage is not None:
        # Linux counts ru_maxrss in KiB.
        result["peak_rss_mb"] = usage.ru_maxrss / 1024.0
    if not args.keep_runs:
        shutil.rmtree(run_dir, ignore_errors=True)
    return result


def run_load(load, program, n, stop, stats):
    """Runs a load; an error it meets is kept in `stats` for the log."""
    try:
        load(program, n, stop, stats)
    except Exception as error:  # noqa: BLE001 - any error ends the load and is reported
        stats["load_error"] = repr(error)


def wait_with_usage(proc, timeout):
    """Waits for the program to end, at most `timeout` seconds; answers the
    kernel's resource usage of the finished process (its peak resident memory
    among it), or None when it did not end in time."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            proc.returncode = os.waitstatus_to_exitcode(status)
            return usage
        time.sleep(0.05)
    return None


def held_rate(program, result):
    """The frame rate that decides whether the program held 60 fps: for this
    engine the lower of its own simulation and render rates."""
    if program.engine and "sim_fps" in result and "render_fps" in result:
        return min(result["sim_fps"], result["render_fps"])
    return result["fps"]


def holds(program, result, args):
    return result is not None and held_rate(program, result) >= args.hold_fps


def median_result(results):
    results = [r for r in results if r]
    if not results:
        return None
    merged = {"runs": len(results)}
    for key in ("cpu_ms_per_frame", "fps", "sim_fps", "render_fps", "frames"):
        values = [r[key] for r in results if key in r]
        if values:
            merged[key] = statistics.median(values)
    # Memory is reported as the worst of the runs: a program that grows only
    # now and then must still show it.
    peaks = [r["peak_rss_mb"] for r in results if "peak_rss_mb" in r]
    if peaks:
        merged["peak_rss_mb"] = max(peaks)
    for key in ("renderer", "output"):
        if key in results[0]:
            merged[key] = results[0][key]
    return merged


def measure_fixed(programs, sizes, args, log):
    table = {}
    for n in sizes:
        for program in programs:
            runs = []
            for _ in range(args.runs):
                runs.append(run_once(program, n, args, args.warmup, args.frames, args.time_limit, log))
            merged = median_result(runs)
            table[(program.name, n)] = merged
            if merged:
                extra = ""
                if "sim_fps" in merged:
                    extra = "  sim %.1f render %.1f" % (merged["sim_fps"], merged["render_fps"])
                if "peak_rss_mb" in merged:
                    extra += "  peak %.0f MB" % merged["peak_rss_mb"]
                log("  %-32s n=%-6d cpu %8.2f ms/frame  fps %6.1f%s" %
                    (program.label, n, merged["cpu_ms_per_frame"], merged["fps"], extra))
            else:
                log("  %-32s n=%-6d failed" % (program.label, n))
    return table


def probe(program, n, args, log):
    """Does the program hold 60 fps with n sprites or labels? A miss is tried
    once more, since other load on the machine only ever makes a run slower."""
    for attempt in range(2):
        result = run_once(program, n, args, args.search_warmup, args.search_frames,
                          args.search_frames / 60.0 * 3, log)
        ok = holds(program, result, args)
        rate = held_rate(program, result) if result else 0.0
        log("    %-32s n=%-6d %5.1f fps %s" % (program.label, n, rate, "holds" if ok else "misses"))
        if ok:
            return True
    return False


def round_n(n):
    """Rounds to two significant figures so probes read well."""
    if n < 100:
        return max(1, int(n))
    digits = len(str(int(n))) - 2
    return int(round(n / 10 ** digits) * 10 ** digits)


def search_max_n(program, fixed, sizes, args, log):
    """The largest N (within --search-precision) at which the program holds
    60 fps, starting from what the fixed sizes already showed."""
    lo, hi = None, None
    for n in sorted(sizes):
        result = fixed.get((program.name, n))
        if result is None:
            continue
        if holds(program, result, args):
            lo = n if lo is None or n > lo else lo
        elif hi is None or n < hi:
            hi = n
    if lo is not None and hi is not None and lo > hi:
        lo = None
    if lo is None:
        n = args.search_start if hi is None else max(1, hi // 2)
        while True:
            if probe(program, n, args, log):
                lo = n
                break
            hi = n
            if n <= 100:
                return ("<", n)
            n = round_n(n / 2)
    while hi is None:
        n = lo * 2
        if n > args.search_cap:
            return (">", lo)
        if probe(program, n, args, log):
            lo = n
        else:
            hi = n
    while hi / lo > 1.0 + args.search_precision:
        mid = round_n((lo * hi) ** 0.5)
        if mid <= lo or mid >= hi:
            break
        if probe(program, mid, args, log):
            lo = mid
        else:
            hi = mid
    return ("=", lo)


def soak_samples(result):
    """A soak run's samples as (seconds, rss_mb, sim_fps, render_fps)."""
    samples = []
    for sample in str(result.get("samples", "")).split():
        seconds, rss_kib, sim, render = sample.split(":")
        samples.append((float(seconds), int(rss_kib) / 1024.0, float(sim), float(render)))
    return samples


def settled_sample(samples, settle):
    """The first memory sample at or after `settle` seconds, where growth is
    counted from; None when there is none."""
    return next((s for s in samples if s[0] >= settle), None)


def soak_growth(samples, args):
    """The sample the growth is counted from (the first at or after
    --soak-settle seconds) and the growth from it to the last sample in
    percent; the growth is None when no sample follows it."""
    base = settled_sample(samples, args.soak_settle)
    if base is None or base is samples[-1]:
        return base, None
    return base, 100.0 * (samples[-1][1] - base[1]) / base[1]


def soak_verdict(growth, args):
    if growth is None:
        return "n/a"
    verdict = "pass" if growth < args.soak_growth else "FAIL"
    return verdict if args.soak_time >= SOAK_FULL_TIME else verdict + " (indicative)"


def measure_soak(programs, sizes, args, log):
    """One long run per program and size; answers the samples of each, None
    for a run that did not finish."""
    table = {}
    for program in programs:
        for n in sizes:
            result = run_once(program, n, args, args.warmup, 10 ** 9, args.soak_time, log)
            samples = soak_samples(result) if result else []
            table[(program.name, n)] = samples or None
            if not samples:
                log("  %-32s n=%-6d failed" % (program.label, n))
                continue
            _, growth = soak_growth(samples, args)
            log("  %-32s n=%-6d RSS MB %s; growth %s: %s; lowest fps sim %.1f render %.1f" %
                (program.label, n, " ".join("%.0f" % s[1] for s in samples),
                 "n/a" if growth is None else "%+.1f %%" % growth, soak_verdict(growth, args),
                 min(s[2] for s in samples), min(s[3] for s in samples)))
    return table


def percentile(sorted_values, fraction):
    """The nearest-rank percentile of an ascending list."""
    rank = max(1, math.ceil(fraction * len(sorted_values)))
    return sorted_values[min(rank, len(sorted_values)) - 1]


def pacing_stats(result):
    """One pacing run's figures: frame-interval percentiles and maximum in ms,
    frames over PACING_LONG_FRAME_MS (all, and per minute), ticks per second
    and the memory samples."""
    intervals = sorted(int(v) / 1000.0 for v in str(result.get("intervals", "")).split())
    if not intervals:
        return None
    minutes = result["wall_seconds"] / 60.0
    long_frames = sum(1 for v in intervals if v > PACING_LONG_FRAME_MS)
    return {"p50": percentile(intervals, 0.50), "p99": percentile(intervals, 0.99),
            "p999": percentile(intervals, 0.999), "max": intervals[-1], "long": long_frames,
            "long_per_minute": long_frames / minutes if minutes > 0 else 0.0,
            "tps": result["fps"], "seconds": result["wall_seconds"], "samples": soak_samples(result)}


def pacing_memory_rate(stats, args):
    """Resident memory growth in MB per minute from the first sample at or
    after --pacing-settle seconds to the last; None when no sample follows."""
    samples = stats["samples"]
    base = settled_sample(samples, args.pacing_settle)
    if base is None or base is samples[-1]:
        return None
    return 60.0 * (samples[-1][1] - base[1]) / (samples[-1][0] - base[0])


def measure_pacing(programs, runs, args, log):
    """Every mode and N of the pacing mark, --pacing-runs times each; answers
    the figures of each run (None for a run that did not finish)."""
    table = {}
    for mode, n in runs:
        program = next((p for p in programs if p.mode == mode), None)
        if program is None:
            continue
        results = []
        for _ in range(args.pacing_runs):
            result = run_once(program, n, args, args.pacing_warmup, 10 ** 9, args.pacing_time, log,
                              PACING_BUILD_ALLOWANCE)
            stats = pacing_stats(result) if result else None
            results.append(stats)
            if not stats:
                log("  %-32s n=%-8d failed" % (program.label, n))
                continue
            rate = pacing_memory_rate(stats, args)
            log("  %-32s n=%-8d p50 %.1f p99 %.1f p99.9 %.1f max %.1f ms; %d frames > %g ms; %.1f ticks/s; "
                "RSS MB %s (%s MB/min)" %
                (program.label, n, stats["p50"], stats["p99"], stats["p999"], stats["max"], stats["long"],
                 PACING_LONG_FRAME_MS, stats["tps"], " ".join("%.0f" % s[1] for s in stats["samples"]),
                 "n/a" if rate is None else "%+.1f" % rate))
        table[(mode, n)] = results
    return table


def fmt_range(values, form):
    """"a" or "a–b" over the runs' values."""
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    low, high = form % min(values), form % max(values)
    return low if low == high else low + "–" + high


def report_pacing(mark, args, add):
    add("## %s" % mark.title)
    add("")
    add("Each game runs %g s after its world is built and %d warm-up frames, %d time(s). An interval is the "
        "time between the ends of two ticks as the game sees them; p50, p99 and p99.9 are nearest-rank "
        "percentiles. A range gives the lowest and the highest of the runs. Memory is resident memory "
        "(VmRSS) every %g s; its growth is counted from the sample at %g s to the last." %
        (args.pacing_time, args.pacing_warmup, args.pacing_runs, args.pacing_sample, args.pacing_settle))
    add("")
    add("| game | N | p50 | p99 | p99.9 | max | frames > %g ms (a minute) | ticks/s | RSS at %g s | RSS at "
        "the end | growth MB/min |" % (PACING_LONG_FRAME_MS, args.pacing_settle))
    add("|---|---|---|---|---|---|---|---|---|---|---|")
    for (mode, n), results in mark.fixed.items():
        ok = [r for r in results if r]
        if not ok:
            add("| %s | %d | failed | | | | | | | | |" % (mode, n))
            continue
        bases = [settled_sample(r["samples"], args.pacing_settle) for r in ok]
        add("| %s | %s | %s ms | %s ms | %s ms | %s ms | %s (%s) | %s | %s MB | %s MB | %s |" %
            (mode, "{:,}".format(n), fmt_range([r["p50"] for r in ok], "%.1f"),
             fmt_range([r["p99"] for r in ok], "%.1f"), fmt_range([r["p999"] for r in ok], "%.1f"),
             fmt_range([r["max"] for r in ok], "%.0f"), fmt_range([r["long"] for r in ok], "%d"),
             fmt_range([r["long_per_minute"] for r in ok], "%.1f"), fmt_range([r["tps"] for r in ok], "%.1f"),
             fmt_range([b[1] if b else None for b in bases], "%.0f"),
             fmt_range([r["samples"][-1][1] if r["samples"] else None for r in ok], "%.0f"),
             fmt_range([pacing_memory_rate(r, args) for r in ok], "%+.1f")))
    add("")
    add("Resident memory over time (MB), each run:")
    add("")
    for (mode, n), results in mark.fixed.items():
        for i, r in enumerate(results):
            if r and r["samples"]:
                add("- %s, N = %s, run %d: %s" % (mode, "{:,}".format(n), i + 1,
                                                   ", ".join("%.0f s %.0f" % (s[0], s[1]) for s in r["samples"])))
    add("")


def wait_for_port(port, stop, seconds):
    """Whether the program's server takes connections within `seconds`."""
    end = time.monotonic() + seconds
    while not stop.is_set() and time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.1)
    return False


def load_started(program, stats, started):
    """Tells the game that the load runs, so that its window opens."""
    stats["load_started"] = started
    with open(program.loaded_file, "w"):
        pass


def upload_load(program, clients, stop, stats):
    """`clients` clients each starting a POST of UPLOAD_BYTES with a
    Content-Length on a connection of its own at a fixed pace, UPLOAD_RATE
    bytes a second over all of them, whether or not earlier ones have been
    answered; counts the 200 answers."""
    if not wait_for_port(program.port, stop, STARTUP_ALLOWANCE):
        return
    request = b"POST /upload HTTP/1.0\r\nContent-Length: %d\r\n\r\n" % UPLOAD_BYTES + b"u" * UPLOAD_BYTES
    interval = clients * len(request) / UPLOAD_RATE
    answered = [0]

    async def post():
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", program.port)
            writer.write(request)
            await writer.drain()
            answer = await asyncio.wait_for(reader.read(), 30)
            writer.close()
            if answer.startswith(b"HTTP/1.0 200"):
                answered[0] += 1
        except (OSError, asyncio.TimeoutError):
            pass

    async def client():
        pending = set()
        due = time.monotonic()
        while not stop.is_set():
            task = asyncio.ensure_future(post())
            pending.add(task)
            task.add_done_callback(pending.discard)
            due += interval
            await asyncio.sleep(max(0.0, due - time.monotonic()))
        for task in list(pending):
            task.cancel()
        await asyncio.gather(*pending, return_exceptions=True)

    async def run():
        started = time.monotonic()
        runs = [asyncio.ensure_future(client()) for _ in range(clients)]
        await asyncio.sleep(1.0)
        load_started(program, stats, started)
        await asyncio.gather(*runs)
        seconds = time.monotonic() - started
        stats["answered"] = answered[0]
        stats["load_mb_s"] = answered[0] * len(request) / seconds / 1e6

    asyncio.run(run())


def flood_load(program, clients, stop, stats):
    """`clients` clients each sending FLOOD_HEADS_PER_CLIENT request heads a
    second of FLOOD_LINES two-byte header lines, each on a connection of its
    own, waiting FLOOD_ANSWER_WAIT seconds at most for its answer; counts
    the heads sent and the 431 answers."""
    if not wait_for_port(program.port, stop, STARTUP_ALLOWANCE):
        return
    head = b"GET /flood HTTP/1.0\r\n" + b"a\n" * FLOOD_LINES + b"\r\n"
    counts = {"sent": 0, "too_large": 0}
    lock = threading.Lock()

    def client():
        due = time.monotonic()
        while not stop.is_set():
            answer = b""
            try:
                with socket.create_connection(("127.0.0.1", program.port), timeout=FLOOD_ANSWER_WAIT) as s:
                    s.sendall(head)
                    while len(answer) < 12:
                        chunk = s.recv(4096)
                        if not chunk:
                            break
                        answer += chunk
            except OSError:
                pass
            with lock:
                counts["sent"] += 1
                counts["too_large"] += answer.startswith(b"HTTP/1.0 431")
            due += 1.0 / FLOOD_HEADS_PER_CLIENT
            time.sleep(max(0.0, due - time.monotonic()))

    started = time.monotonic()
    threads = [threading.Thread(target=client, daemon=True) for _ in range(clients)]
    for thread in threads:
        thread.start()
    time.sleep(1.0)
    load_started(program, stats, started)
    for thread in threads:
        thread.join()
    seconds = time.monotonic() - started
    stats["answered"] = counts["too_large"]
    stats["load_mb_s"] = counts["sent"] * len(head) / seconds / 1e6


def endless_load(program, clients, stop, stats):
    """A server on the program's port that answers every request with 200
    and a body without end, until the client hangs up; counts the answers
    the client cut off and the bytes sent."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", program.port))
    listener.listen(8)
    listener.settimeout(0.2)
    counts = {"cut": 0, "bytes": 0}
    lock = threading.Lock()
    chunk = b"e" * 65536

    def answer(connection):
        sent = 0
        with connection:
            try:
                connection.settimeout(1.0)
                head = b""
                while b"\r\n\r\n" not in head and not stop.is_set():
                    try:
                        piece = connection.recv(4096)
                    except socket.timeout:
                        continue
                    if not piece:
                        return
                    head += piece
                connection.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n")
                while not stop.is_set():
                    try:
                        sent += connection.send(chunk)
                    except socket.timeout:
                        continue
            except OSError:
                with lock:
                    counts["cut"] += 1
            finally:
                with lock:
                    counts["bytes"] += sent

    started = time.monotonic()
    load_started(program, stats, started)
    workers = []
    with listener:
        while not stop.is_set():
            try:
                connection, _ = listener.accept()
            except socket.timeout:
                continue
            worker = threading.Thread(target=answer, args=(connection,), daemon=True)
            worker.start()
            workers.append(worker)
    for worker in workers:
        worker.join()
    seconds = time.monotonic() - started
    stats["answered"] = counts["cut"]
    stats["load_mb_s"] = counts["bytes"] / seconds / 1e6


NETWORK_LOADS = {"net_uploads": upload_load, "net_head_flood": flood_load, "net_endless_answer": endless_load}


def measure_network(programs, runs, args, log):
    """Each network run on this build and, with --baseline, on that build
    too; answers the reports of each (None for a run that did not finish)."""
    table = {}
    for mode, clients in runs:
        for program in programs:
            if program.mode != mode:
                continue
            result = run_once(program, clients, args, args.warmup, 10 ** 9, args.network_time, log,
                              load=NETWORK_LOADS[mode])
            if result and not result.get("answered"):
                # No answer at all: the load never reached this game (its
                # port taken by another program, say).
                log("  %-40s failed: no request was answered (%s)" %
                    (program.label, result.get("load_error", "no error")))
                args.failed_runs += 1
                result = None
            table[(program.name, mode)] = result
            if not result:
                log("  %-40s failed" % program.label)
                continue
            samples = soak_samples(result)
            log("  %-40s %.1f ticks/s (sim %.1f) at %.0f MB/s offered as %s; %d answered; RSS MB %s" %
                (program.label, result["fps"], result.get("sim_fps", 0), result.get("load_mb_s", 0),
                 mode, result.get("answered", 0), " ".join("%.0f" % s[1] for s in samples)))
    return table


def report_network(mark, args, add):
    add("## %s" % mark.title)
    add("")
    add("Each load runs %g s after a second of warming up; the game answers every request that reaches it. "
        "net_uploads: %d clients post %s-byte bodies with a Content-Length, one request per connection, "
        "%.0f MB/s offered in all. net_head_flood: 64 clients each send %d heads a second of %s two-byte "
        "header lines. ticks/s is the game's own count over the window; memory is resident memory "
        "(VmRSS) every %g s." %
        (args.network_time, NETWORK_RUNS[0][1], "{:,}".format(UPLOAD_BYTES), UPLOAD_RATE / 1e6,
         FLOOD_HEADS_PER_CLIENT, "{:,}".format(FLOOD_LINES), SOAK_SAMPLE_EVERY))
    add("")
    add("net_endless_answer: the game keeps one request to the driver's server running, which answers 200 and "
        "sends without end; the engine ends each answer at its bound of one answer (256 MiB by default) and the "
        "game asks again.")
    add("")
    add("MB/s counts the bodies answered (uploads), the heads sent (flood) or the endless answers' bytes sent "
        "(endless answer); for the endless answer, requests answered counts the answers the engine cut off.")
    add("")
    add("| load | build | MB/s | requests answered | ticks/s | sim fps | RSS over the window (MB) |")
    add("|---|---|---|---|---|---|---|")
    for mode, _ in mark.sizes:
        for program in mark.programs:
            if program.mode != mode:
                continue
            r = mark.fixed.get((program.name, mode))
            if not r:
                add("| %s | %s | failed | | | | |" % (mode, program.build_label))
                continue
            add("| %s | %s | %.0f | %d | %.1f | %.1f | %s |" %
                (mode, program.build_label, r.get("load_mb_s", 0), r.get("answered", 0), r["fps"],
                 r.get("sim_fps", 0), " ".join("%.0f" % s[1] for s in soak_samples(r))))
    add("")


def fmt_ratio(a, b):
    if a is None or b is None or b == 0:
        return "n/a"
    return "%.2f" % (a / b)


class Mark:
    """One benchmark: its programs, the sizes of its fixed table, and what
    each run's measurements came to."""

    def __init__(self, name, title, work, programs, sizes):
        self.name = name
        self.title = title
        self.work = work  # what N counts, for the table headings
        self.programs = programs
        self.sizes = sizes
        self.fixed = {}
        self.maxima = {}

    def reference(self, engine, kind):
        for program in self.programs:
            if program.kind == kind and program.variant == engine.variant:
                return program
        return None


def report_mark(mark, args, add):
    add("## %s" % mark.title)
    add("")
    add("### CPU per frame, frame rate held and peak resident memory (N = %s)" % mark.work)
    add("")
    add("| program | " + " | ".join("N=%d" % n for n in mark.sizes) + " |")
    add("|---|" + "---|" * len(mark.sizes))
    for program in mark.programs:
        cells = []
        for n in mark.sizes:
            r = mark.fixed.get((program.name, n))
            if not r:
                cells.append("failed")
                continue
            cell = "%.2f ms @ %.0f fps" % (r["cpu_ms_per_frame"], r["fps"])
            if "sim_fps" in r:
                cell += " (sim %.0f / render %.0f)" % (r["sim_fps"], r["render_fps"])
            if "peak_rss_mb" in r:
                cell += ", peak %.0f MB" % r["peak_rss_mb"]
            cells.append(cell)
        add("| %s | %s |" % (program.label, " | ".join(cells)))
    add("")
    if mark.maxima:
        add("### Largest N that holds %g fps" % args.hold_fps)
        add("")
        add("| program | N |")
        add("|---|---|")
        for program in mark.programs:
            if program.name in mark.maxima:
                sign, n = mark.maxima[program.name]
                add("| %s | %s%d |" % (program.label, "" if sign == "=" else sign, n))
        add("")
    engines = [p for p in mark.programs if p.engine]
    if not engines or not any(p.kind in ("love", "sdl") for p in mark.programs):
        return
    add("### Ratios (engine / reference)")
    add("")
    header = ["engine mode"]
    for n in mark.sizes:
        header += ["CPU/LÖVE N=%d" % n, "CPU/SDL N=%d" % n, "peak/SDL N=%d" % n]
    if mark.maxima:
        header += ["max N / LÖVE", "max N / SDL"]
    add("| " + " | ".join(header) + " |")
    add("|" + "---|" * len(header))
    for engine in engines:
        refs = [mark.reference(engine, kind) for kind in ("love", "sdl")]
        row = [engine.mode]
        for n in mark.sizes:
            e = mark.fixed.get((engine.name, n))
            ecpu = e["cpu_ms_per_frame"] if e else None
            for ref in refs:
                r = mark.fixed.get((ref.name, n)) if ref else None
                row.append(fmt_ratio(ecpu, r["cpu_ms_per_frame"] if r else None))
            r = mark.fixed.get((refs[1].name, n)) if refs[1] else None
            row.append(fmt_ratio(e.get("peak_rss_mb") if e else None, r.get("peak_rss_mb") if r else None))
        if mark.maxima:
            for ref in refs:
                e = mark.maxima.get(engine.name)
                r = mark.maxima.get(ref.name) if ref else None
                row.append(fmt_ratio(e[1] if e else None, r[1] if r else None))
        add("| " + " | ".join(row) + " |")
    add("")


def report_soak(mark, args, add):
    add("## %s" % mark.title)
    add("")
    add("Each form draws N %s made anew every frame for %g s after the warm-up. Resident memory (VmRSS) is "
        "sampled every %g s, beside the engine's own simulation / render rates averaged over the %g s before. "
        "Growth is counted from the sample at %g s to the last; under %g %% passes." %
        (mark.work, args.soak_time, SOAK_SAMPLE_EVERY, SOAK_SAMPLE_EVERY, args.soak_settle, args.soak_growth))
    if args.soak_time < SOAK_FULL_TIME:
        add("These runs are short: the verdicts are indicative only (`make bench` soaks each for %g s)." %
            SOAK_FULL_TIME)
    add("")
    add("| form | N | RSS at %g s | RSS at %g s | RSS at the end | growth | lowest sim / render fps | verdict |" %
        (SOAK_SAMPLE_EVERY, args.soak_settle))
    add("|---|---|---|---|---|---|---|---|")
    runs = [(program, n, mark.fixed.get((program.name, n))) for program in mark.programs for n in mark.sizes]
    for program, n, samples in runs:
        if not samples:
            add("| %s | %d | failed | | | | | |" % (program.mode, n))
            continue
        base, growth = soak_growth(samples, args)
        add("| %s | %d | %.0f MB | %s | %.0f MB (%.0f s) | %s | %.0f / %.0f | %s |" %
            (program.mode, n, samples[0][1], "%.0f MB" % base[1] if base else "n/a", samples[-1][1],
             samples[-1][0], "n/a" if growth is None else "%+.1f %%" % growth,
             min(s[2] for s in samples), min(s[3] for s in samples), soak_verdict(growth, args)))
    add("")
    for program, n, samples in runs:
        if not samples:
            continue
        base, growth = soak_growth(samples, args)
        add("### %s, N = %d" % (program.mode, n))
        add("")
        add("| seconds | " + " | ".join("%.0f" % s[0] for s in samples) + " |")
        add("|---|" + "---|" * len(samples))
        add("| RSS (MB) | " + " | ".join("%.0f" % s[1] for s in samples) + " |")
        add("| sim fps | " + " | ".join("%.1f" % s[2] for s in samples) + " |")
        add("| render fps | " + " | ".join("%.1f" % s[3] for s in samples) + " |")
        add("")
        if growth is not None:
            add("Growth from %.0f s to %.0f s: %+.1f %%, %s." % (base[0], samples[-1][0], growth,
                                                                soak_verdict(growth, args)))
            add("")


def report(marks, args, notes):
    lines = []
    add = lines.append
    add("# Benchmark results")
    add("")
    add("Renderer: SDL_VIDEODRIVER=offscreen (OpenGL on software GL), LP_NUM_THREADS=%d, audio off." %
        args.lp_threads)
    if any(mark.name not in ("soak", "pacing", "network") for mark in marks):
        add("CPU is user + system seconds of the whole process per frame, median of %d runs of %d frames "
            "after %d warm-up frames." % (args.runs, args.frames, args.warmup))
        add("fps is frames per wall-clock second over the same window; for this engine also its own "
            "simulation / render rates.")
        add("peak is the process's largest resident memory over its whole run (start-up and warm-up "
            "included), the worst of the runs.")
    add("")
    for note in notes:
        add("> " + note)
    if notes:
        add("")
    for mark in marks:
        {"soak": report_soak, "pacing": report_pacing, "network": report_network}.get(
            mark.name, report_mark)(mark, args, add)
    return "\n".join(lines)


def machine_notes(args):
    notes = []
    load1, _, _ = os.getloadavg()
    cores = os.cpu_count() or 1
    notes.append("Machine: %d cores, load average %.1f at the start." % (cores, load1))
    if load1 > cores / 4:
        notes.append("Other work is running on this machine: expect noisy numbers.")
    return notes


def run_micro(args, log):
    exe = os.path.join(args.build, "bench", "micro_bench")
    if not os.path.exists(exe):
        return
    log("\nMicro-benchmarks (%s):" % exe)
    subprocess.run([exe, "--benchmark_min_time=0.2"], check=False)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "bench"),
                        help="the CMake build folder with VELLUM_BENCH on")
    parser.add_argument("--marks", default="sprites,text,soak,pacing,network",
                        help="comma-separated: sprites, text, soak, pacing, network")
    parser.add_argument("--programs", default=None,
                        help="comma-separated program names to run (default: all of each mark): sdl, love, "
                             "vellum-hashes, vellum-attr_sprite, vellum-static_sprites; sdl-text-changing, "
                             "sdl-text-unchanging, love-text-changing, love-text-unchanging, "
                             "vellum-labels_changing, vellum-labels_unchanging; " +
                             ", ".join("vellum-" + mode for mode in SOAK_MODES + PACING_MODES + NETWORK_MODES))
    parser.add_argument("--sizes", default="1000,5000,20000,50000",
                        help="sprite counts for the bunnymark's fixed-size table")
    parser.add_argument("--text-sizes", default="2000,6000,12000",
                        help="label counts for the text mark's fixed-size table")
    parser.add_argument("--soak-sizes", default="500,5000", help="things drawn per frame in the memory soak")
    parser.add_argument("--soak-time", type=float, default=None,
                        help="seconds each soak runs (default %g, with --quick 40)" % SOAK_FULL_TIME)
    parser.add_argument("--soak-settle", type=float, default=None,
                        help="the soak's growth is counted from its sample at this many seconds "
                             "(default 60, with --quick 10)")
    parser.add_argument("--soak-growth", type=float, default=5.0,
                        help="the soak's largest growth in percent that passes")
    parser.add_argument("--pacing-time", type=float, default=None,
                        help="seconds each pacing run measures (default 60, with --quick 15)")
    parser.add_argument("--pacing-runs", type=int, default=None,
                        help="runs of each pacing game (default 2, with --quick 1)")
    parser.add_argument("--pacing-warmup", type=int, default=120,
                        help="frames after the pacing game's world is built before its window")
    parser.add_argument("--pacing-settle", type=float, default=None,
                        help="the pacing mark's memory growth is counted from its sample at this many "
                             "seconds (default 20, with --quick 5)")
    parser.add_argument("--pacing-sizes", default=None,
                        help="comma-separated mode:N pairs instead of the pacing mark's own, "
                             "e.g. heap_replace:1000000")
    parser.add_argument("--network-time", type=float, default=None,
                        help="seconds each network load is measured (default 30, with --quick 10)")
    parser.add_argument("--baseline", default=None,
                        help="the build folder (holding dist/vellumcore) of another version of the engine, "
                             "the previous release say, whose network figures the report gives beside "
                             "this build's")
    parser.add_argument("--runs", type=int, default=3, help="runs per program and size (median)")
    parser.add_argument("--warmup", type=int, default=60, help="frames before the window")
    parser.add_argument("--frames", type=int, default=150, help="frames in the window")
    parser.add_argument("--time-limit", type=float, default=4.0,
                        help="a window ends after this many seconds even when short of frames")
    parser.add_argument("--lp-threads", type=int, default=int(os.environ.get("BENCH_LP_THREADS", "1")),
                        help="llvmpipe's rasteriser threads (LP_NUM_THREADS), the same for all")
    parser.add_argument("--hold-fps", type=float, default=58.0,
                        help="the rate at or above which a program counts as holding 60 fps")
    parser.add_argument("--no-search", action="store_true", help="skip the search for the largest N")
    parser.add_argument("--search-start", type=int, default=1000)
    parser.add_argument("--search-cap", type=int, default=400000)
    parser.add_argument("--search-precision", type=float, default=0.10,
                        help="stop when the bounds are within this fraction")
    parser.add_argument("--search-warmup", type=int, default=60)
    parser.add_argument("--search-frames", type=int, default=120)
    parser.add_argument("--no-micro", action="store_true", help="skip the native micro-benchmarks")
    parser.add_argument("--quick", action="store_true",
                        help="one run per size, shorter windows, coarser search")
    parser.add_argument("--keep-runs", action="store_true", help="keep every run's folder")
    parser.add_argument("--work-dir", default=None, help="where run folders go (default: <build>/runs)")
    parser.add_argument("--out", default=None, help="write the Markdown report here too "
                        "(default: <build>/bunnymark.md)")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    sizes = [int(s) for s in args.sizes.split(",") if s]
    text_sizes = [int(s) for s in args.text_sizes.split(",") if s]
    soak_sizes = [int(s) for s in args.soak_sizes.split(",") if s]
    if args.soak_time is None:
        args.soak_time = 40.0 if args.quick else SOAK_FULL_TIME
    if args.soak_settle is None:
        args.soak_settle = 10.0 if args.quick else 60.0
    if args.pacing_time is None:
        args.pacing_time = 15.0 if args.quick else 60.0
    if args.pacing_runs is None:
        args.pacing_runs = 1 if args.quick else 2
    args.pacing_sample = 5.0 if args.quick else SOAK_SAMPLE_EVERY
    if args.network_time is None:
        args.network_time = 10.0 if args.quick else 30.0
    if args.pacing_settle is None:
        args.pacing_settle = 5.0 if args.quick else 20.0
    pacing_runs = PACING_RUNS
    if args.pacing_sizes:
        pacing_runs = [(pair.split(":")[0], int(pair.split(":")[1])) for pair in args.pacing_sizes.split(",")]
    if args.quick:
        args.runs = 1
        args.frames = 120
        args.search_frames = 120
        args.search_precision = 0.2
    args.failed_runs = 0
    if args.work_dir is None:
        # Inside the build folder: a shared /tmp may be swept while a long
        # run is still using it.
        args.work_dir = os.path.join(args.build, "runs")
        shutil.rmtree(args.work_dir, ignore_errors=True)
    os.makedirs(args.work_dir, exist_ok=True)

    all_marks = {
        "sprites": Mark("sprites", "Sprites (bunnymark)", "sprites",
                        [SdlProgram(args.build), LoveProgram(args.build)] +
                        [EngineProgram(args.build, mode) for mode in ENGINE_MODES], sizes),
        "text": Mark("text", "Text", "labels",
                     [program for variant in ("changing", "unchanging")
                      for program in (SdlProgram(args.build, variant), LoveProgram(args.build, variant),
                                      EngineProgram(args.build, "labels_" + variant))], text_sizes),
        "soak": Mark("soak", "Memory soak: what is drawn made anew every frame", "sprites or labels",
                     [EngineProgram(args.build, mode) for mode in SOAK_MODES], soak_sizes),
        "pacing": Mark("pacing", "Frame pacing with a big live world", "live objects",
                       [EngineProgram(args.build, mode) for mode in PACING_MODES], pacing_runs),
        "network": Mark("network", "HTTP clients loading the game's server", "clients",
                        [EngineProgram(args.build, mode) for mode in NETWORK_MODES] +
                        [EngineProgram(os.path.abspath(args.baseline), mode, baseline=True)
                         for mode in NETWORK_MODES if args.baseline], NETWORK_RUNS),
    }
    for program in all_marks["pacing"].programs:
        program.sample_every = args.pacing_sample
    marks = []
    for name in args.marks.split(","):
        if name not in all_marks:
            parser.error("unknown mark %s" % name)
        marks.append(all_marks[name])
    if args.programs is not None:
        wanted = args.programs.split(",")
        known = {p.name for mark in marks for p in mark.programs}
        for name in wanted:
            if name not in known:
                parser.error("unknown program %s" % name)
        for mark in marks:
            mark.programs = [p for p in mark.programs if p.name in wanted]
        marks = [mark for mark in marks if mark.programs]

    def log(text):
        print(text, flush=True)

    # A TERM (from timeout, or a closed terminal) unwinds like Ctrl-C, so the
    # program being measured is stopped with the driver.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    notes = machine_notes(args)
    for note in notes:
        log(note)
    started = time.time()
    for mark in marks:
        if mark.name == "soak":
            log("\n%s, %g s per form and size:" % (mark.title, args.soak_time))
            mark.fixed = measure_soak(mark.programs, mark.sizes, args, log)
            continue
        if mark.name == "pacing":
            log("\n%s, %g s per game and N, %d run(s) each:" % (mark.title, args.pacing_time, args.pacing_runs))
            mark.fixed = measure_pacing(mark.programs, mark.sizes, args, log)
            continue
        if mark.name == "network":
            log("\n%s, %g s per load and build:" % (mark.title, args.network_time))
            mark.fixed = measure_network(mark.programs, mark.sizes, args, log)
            continue
        log("\n%s, fixed sizes (%d run(s) each):" % (mark.title, args.runs))
        mark.fixed = measure_fixed(mark.programs, mark.sizes, args, log)
        if not args.no_search:
            log("\n%s, searching the largest N that holds %g fps:" % (mark.title, args.hold_fps))
            for program in mark.programs:
                mark.maxima[program.name] = search_max_n(program, mark.fixed, mark.sizes, args, log)
                sign, n = mark.maxima[program.name]
                log("  %-32s %s%d" % (program.label, "" if sign == "=" else sign, n))
    if not args.no_micro:
        run_micro(args, log)
    load1, _, _ = os.getloadavg()
    notes.append("The whole run took %.0f s; load average %.1f at the end." % (time.time() - started, load1))
    text = report(marks, args, notes)
    out = args.out or os.path.join(args.build, "bunnymark.md")
    with open(out, "w") as f:
        f.write(text + "\n")
    log("\n" + text)
    log("\n(report written to %s)" % out)
    if not args.keep_runs and args.failed_runs == 0:
        shutil.rmtree(args.work_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
