#!/usr/bin/env python3
"""Reads files with randomly damaged headers with SoX and with quorvel-fx.

Writes COUNT short files per container (WAV, FLAC, AIFF) with sox, overwrites
a few random bytes of each one's first 64 bytes (seeded, so every run damages
the same bytes), and counts which files each program reads. Files that SoX
reads and quorvel-fx refuses are listed with quorvel-fx's message.

  scripts/damaged-headers.py [--fx build/dev/tools/quorvel-fx] [--count 100] [--seed 7]
"""
import argparse
import collections
import os
import random
import subprocess
import tempfile


def reads(command):
    done = subprocess.run(command, capture_output=True, text=True)
    return done.returncode == 0, done.stderr.strip().splitlines()[-1:] or [""]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fx", default="build/dev/tools/quorvel-fx")
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    refused = collections.Counter()
    totals = collections.Counter()
    with tempfile.TemporaryDirectory() as work:
        for container in ("wav", "flac", "aiff"):
            clean = os.path.join(work, "clean." + container)
            subprocess.run(["sox", "-V1", "-n", "-r", "44100", "-c", "2", "-b", "16", clean,
                            "synth", "0.1", "sine", "440"], check=True)
            data = open(clean, "rb").read()
            for i in range(args.count):
                damaged = bytearray(data)
                for _ in range(rng.randint(1, 4)):
                    damaged[rng.randrange(64)] = rng.randrange(256)
                path = os.path.join(work, "%s-%03d.%s" % (container, i, container))
                open(path, "wb").write(damaged)
                sox_ok, _ = reads(["sox", "-V1", path, "-n"])
                fx_ok, fx_error = reads([args.fx, "apply", "-q", "--null", path, "Delay",
                                         "enabled=false"])
                totals["files"] += 1
                totals["sox"] += sox_ok
                totals["quorvel-fx"] += fx_ok
                totals["both"] += sox_ok and fx_ok
                if sox_ok and not fx_ok:
                    message = fx_error[0].replace(path, container.upper())
                    message = message.replace("quorvel-fx: error: ", "")
                    if "channels; the effects take" in message:
                        message = container.upper() + ": more than two channels"
                    refused[message[:90]] += 1
    print("%(files)d files: SoX reads %(sox)d, quorvel-fx %(quorvel-fx)d, both %(both)d" % totals)
    print("read by SoX, refused by quorvel-fx: %d" % (totals["sox"] - totals["both"]))
    for message, count in refused.most_common():
        print("  %3d  %s" % (count, message))


if __name__ == "__main__":
    main()
