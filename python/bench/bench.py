#!/usr/bin/python3
"""Seconds to process 10 minutes of stereo 48 kHz audio with each effect:
from Python, from the DSP core directly (C++, same flags, same work: block by
block, copy the input into the output and run the effect there), and with
quorvel-fx --null (which also decodes the WAV file); then the throughput of
two Python threads on two effect objects against one thread.

"Python" returns a new array each call, so it also pays for a fresh output
(230 MB to fault in at 10 minutes); "Python out=" reuses one, as the C++ loop
does. On a shared machine, run it when the others are idle or with a higher
scheduling priority: the thread figures need both cores.

    /usr/bin/python3 python/bench/bench.py [--minutes 10] [--repeats 3]

Run it from the repository with the module built (python/run-tests.sh does).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from glob import glob
from pathlib import Path

import numpy as np

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))
import quorvel_audioeffects as qa  # noqa: E402

WORK = REPO / "build/python-bench"
RATE = 48000
FLAGS = ["-std=c++17", "-O2", "-ffp-contract=off", "-Wall", "-Wextra",
         f"-I{REPO}/dsp/include", f"-I{REPO}/dsp/src"]


def build_core_bench():
    """Compiles the core and the C++ timing loop with the module's flags."""
    sources = sorted(glob(str(REPO / "dsp/src/*.cpp")) + glob(str(REPO / "dsp/src/vector/*.cpp")))
    sources.append(str(REPO / "python/bench/core_bench.cpp"))
    objects = [WORK / (Path(s).stem + ".o") for s in sources]
    binary = WORK / "core_bench"
    stale = [(s, o) for s, o in zip(sources, objects)
             if not o.exists() or o.stat().st_mtime < Path(s).stat().st_mtime]
    with ThreadPoolExecutor(2) as pool:
        for done in pool.map(lambda so: subprocess.run(["g++", *FLAGS, "-c", so[0], "-o", so[1]]),
                             stale):
            done.check_returncode()
    if stale or not binary.exists():
        subprocess.run(["g++", *map(str, objects), "-lhwy", "-o", str(binary)], check=True)
    return binary


def best_of(repeats, run):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def effect_table(audio, repeats, tool):
    binary = build_core_bench()
    raw = WORK / "audio.raw"
    audio.tofile(raw)
    wav = WORK / "audio.wav"
    if tool:
        import soundfile
        soundfile.write(wav, audio.T, RATE, subtype="FLOAT")
    channels, frames = audio.shape
    out = np.empty_like(audio)
    print(f"{frames / RATE / 60:.0f} min stereo {RATE} Hz, best of {repeats}; seconds")
    print(f"{'effect':14} {'core C++':>9} {'Python':>9} {'overhead':>9} "
          f"{'Python out=':>12} {'overhead':>9} {'quorvel-fx -n':>14}")
    rows = []
    for make in (qa.Delay, qa.PingPongDelay, qa.Chorus, qa.Flanger, qa.Vibrato):
        name = make.__name__
        core = float(subprocess.run([str(binary), name, str(raw), str(channels), str(frames),
                                     str(RATE), str(repeats), str(WORK / "core.raw")],
                                    check=True, capture_output=True, text=True).stdout)
        effect = make()
        result = effect.process(audio, RATE)
        same = np.array_equal(result, np.fromfile(WORK / "core.raw", np.float32).reshape(
            channels, frames))
        del result
        python = best_of(repeats, lambda: effect.process(audio, RATE))
        reused = best_of(repeats, lambda: effect.process(audio, RATE, out=out))
        fx = float("nan")
        if tool:
            done = subprocess.run([tool, "apply", "-n", "--json", "--tail", "0", str(wav), name],
                                  check=True, capture_output=True, text=True)
            fx = json.loads(done.stdout)["files"][0]["wallSeconds"]
        print(f"{name:14} {core:9.3f} {python:9.3f} {python / core - 1:+9.1%} "
              f"{reused:12.3f} {reused / core - 1:+9.1%} {fx:14.3f}"
              f"{'' if same else '   OUTPUT DIFFERS FROM THE CORE'}")
        rows.append((name, core, python, reused, fx, same))
    return rows


def thread_scaling(audio, rounds, calls=8):
    """Throughput of two threads, each with its own Chorus, over one thread."""
    def serial():
        effect = qa.Chorus()
        for _ in range(2 * calls):
            effect.process(audio, RATE)

    def parallel():
        def work():
            effect = qa.Chorus()
            for _ in range(calls):
                effect.process(audio, RATE)
        threads = [threading.Thread(target=work) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    ratios, busy = [], []
    for _ in range(rounds):
        one = best_of(1, serial)
        cpu = time.process_time()
        two = best_of(1, parallel)
        # CPU seconds per wall second of the two-thread run: near 2 when both
        # threads compute at once, near 1 when they take turns.
        busy.append((time.process_time() - cpu) / two)
        ratios.append(one / two)
    print(f"2 threads vs 1 (Chorus, {2 * calls} calls of {audio.shape[1] / RATE:.0f} s): "
          f"speed-up best {max(ratios):.2f}x, median {statistics.median(ratios):.2f}x "
          f"over {rounds} rounds: {' '.join(f'{r:.2f}' for r in ratios)}; "
          f"CPU/wall of the 2-thread runs: {' '.join(f'{b:.2f}' for b in busy)}; "
          f"load average {os.getloadavg()[0]:.1f}")
    return ratios


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=5, help="thread-scaling rounds")
    parser.add_argument("--tool", default=str(REPO / "build/bench/tools/quorvel-fx"))
    parser.add_argument("--threads-only", action="store_true")
    args = parser.parse_args()
    WORK.mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(0)
    if not args.threads_only:
        frames = int(args.minutes * 60 * RATE)
        audio = rng.uniform(-0.5, 0.5, (2, frames)).astype(np.float32)
        effect_table(audio, args.repeats, args.tool if Path(args.tool).exists() else None)
        del audio
    thread_scaling(rng.uniform(-0.5, 0.5, (2, 60 * RATE)).astype(np.float32), args.rounds)


if __name__ == "__main__":
    main()
