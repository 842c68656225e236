#!/usr/bin/python3
"""Runs a folder (or list) of audio files through one effect chain on Dask.

    batch_folder.py takes/ wet/ --chain preset.json
    batch_folder.py a.wav b.flac wet/ --effects '[["Delay", {"delayMs": 300}], "Chorus"]'
    batch_folder.py takes/ wet/ --chain preset.json --scheduler tcp://10.0.0.5:8786

Without --scheduler it starts a LocalCluster on this machine; with one, the
same tasks go to that cluster (whose workers have quorvel_audioeffects
installed and see the same paths). One line per file; exit code 1 when any
file failed.
"""

import argparse
import json
import sys
import time

from quorvel_audioeffects.batch import process_files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("inputs", nargs="+", help="audio files or folders")
    parser.add_argument("out_dir", help="folder for the outputs (float WAV)")
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--chain", help="a quorvel-fx chain file (JSON)")
    group.add_argument("--effects", help='JSON list, e.g. \'[["Delay", {"delayMs": 300}]]\'')
    parser.add_argument("--scheduler", help="Dask scheduler address; default: a LocalCluster")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster workers")
    parser.add_argument("--no-tail", action="store_true", help="stop at the input's end")
    args = parser.parse_args()

    described = args.chain if args.chain else json.loads(args.effects)
    start = time.perf_counter()
    results = process_files(args.inputs, args.out_dir, described, scheduler=args.scheduler,
                            n_workers=args.workers, tail=not args.no_tail)
    wall = time.perf_counter() - start
    audio_seconds = 0.0
    for record in results:
        if record.ok:
            audio_seconds += record.frames / record.sample_rate
            print(f"ok      {record.input} -> {record.output} ({record.frames} frames, "
                  f"peak {record.peak:.3f}, {record.seconds:.2f} s on {record.worker})")
        else:
            print(f"FAILED  {record.input}: {record.error}")
    failed = sum(not r.ok for r in results)
    print(f"{len(results) - failed} of {len(results)} files, {audio_seconds:.1f} s of audio "
          f"in {wall:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
