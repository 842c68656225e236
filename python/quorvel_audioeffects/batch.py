"""Many files through one chain on a Dask cluster, one task per file.

    from quorvel_audioeffects.batch import process_files

    results = process_files("takes/", "wet/", [("Delay", {"delayMs": 300}), "Chorus"])
    results = process_files(paths, "wet/", "preset.json", scheduler="tcp://10.0.0.5:8786")

With ``scheduler=None`` a LocalCluster is started for the call (worker
processes on this machine) and closed after it; an address (or a running
``distributed.Client`` as ``client=``) sends the same tasks to a real cluster.
There, every worker needs this package installed and must see the input and
output paths (a shared file system).

Each file gives a FileResult; a file that fails is reported in its record
and does not stop the others. Outputs are 32-bit float WAV files named after
the input (``take1.flac`` -> ``wet/take1.wav``), each written to a temporary
beside it and renamed when complete, so a failed or interrupted task leaves
no partial output. The samples are those ``quorvel-fx apply --encoding float``
writes, and those a single process writes with ``io.apply_file``.
"""

from __future__ import annotations

import os
import time
from dataclasses import asdict, dataclass
from pathlib import Path
from typing import Optional

from . import chain_from

__all__ = ["AUDIO_SUFFIXES", "FileResult", "expand_paths", "process_file", "process_files"]

# What a folder given as input contributes: the formats libsndfile reads.
AUDIO_SUFFIXES = (".wav", ".flac", ".aif", ".aiff", ".ogg", ".au", ".caf", ".w64", ".rf64")


@dataclass
class FileResult:
    """What became of one input file."""

    input: str
    output: str
    ok: bool
    error: Optional[str] = None
    sample_rate: Optional[int] = None
    channels: Optional[int] = None
    frames: Optional[int] = None
    peak: Optional[float] = None
    seconds: float = 0.0
    worker: Optional[str] = None

    def to_dict(self):
        return asdict(self)


def expand_paths(paths):
    """Files from a folder (its audio files, sorted), a path or a list of both."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    files = []
    for path in paths:
        path = Path(path)
        if path.is_dir():
            files.extend(sorted(p for p in path.iterdir()
                                if p.is_file() and p.suffix.lower() in AUDIO_SUFFIXES))
        else:
            files.append(path)
    return files


def process_file(input_path, output_path, chain_like, tail=True, tail_seconds=None):
    """One task: the file through a chain built from `chain_like`, as a
    FileResult; never raises for a bad file."""
    from . import io  # soundfile is needed on the workers only

    start = time.perf_counter()
    record = FileResult(input=os.fspath(input_path), output=os.fspath(output_path), ok=False)
    try:
        record.worker = _worker_name()
        facts = io.apply_file(input_path, output_path, chain_from(chain_like), tail=tail,
                              tail_seconds=tail_seconds)
        record.ok = True
        for key in ("sample_rate", "channels", "frames", "peak"):
            setattr(record, key, facts[key])
    except Exception as error:  # reported per file; the batch goes on
        record.error = f"{type(error).__name__}: {error}"
    record.seconds = time.perf_counter() - start
    return record


def _worker_name():
    try:
        from distributed import get_worker

        return get_worker().address
    except (ImportError, ValueError):
        return None


def process_files(paths, out_dir, chain_like, scheduler=None, *, client=None, tail=True,
                  tail_seconds=None, n_workers=2, threads_per_worker=1, processes=True):
    """Runs every file of `paths` through the chain into `out_dir` on Dask.

    paths: a folder, a file, or a list of them.
    out_dir: created if missing; outputs are <input stem>.wav.
    chain_like: anything chain_from() takes -- a Chain, a list of
        (name, parameters), the quorvel-fx chain-file shape or such a file's
        path. It is checked here and sent to the workers as plain data.
    scheduler: None for a LocalCluster of `n_workers` x `threads_per_worker`
        (worker processes unless processes=False), or a scheduler address.
    client: a running distributed.Client to use instead.
    tail, tail_seconds: as io.apply_file.

    Returns one FileResult per input, in input order.
    """
    from distributed import Client, LocalCluster

    described = chain_from(chain_like).to_dict()
    inputs = expand_paths(paths)
    out_dir = Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    outputs = [out_dir / (path.stem + ".wav") for path in inputs]
    seen = {}
    for source, target in zip(inputs, outputs):
        if target in seen:
            raise ValueError(f"{seen[target]} and {source} would both write {target}")
        seen[target] = source
    if not inputs:
        return []

    cluster = None
    own_client = None
    if client is None:
        if scheduler is None:
            cluster = LocalCluster(n_workers=n_workers, threads_per_worker=threads_per_worker,
                                   processes=processes, dashboard_address=None)
            own_client = Client(cluster)
        else:
            own_client = Client(scheduler)
        client = own_client
    try:
        futures = client.map(process_file, [os.fspath(p) for p in inputs],
                             [os.fspath(p) for p in outputs], [described] * len(inputs),
                             tail=tail, tail_seconds=tail_seconds, pure=False)
        results = []
        for source, target, future in zip(inputs, outputs, futures):
            try:
                results.append(future.result())
            except Exception as error:  # the task itself died, e.g. a lost worker
                results.append(FileResult(input=os.fspath(source), output=os.fspath(target),
                                          ok=False, error=f"{type(error).__name__}: {error}"))
        return results
    finally:
        if own_client is not None:
            own_client.close()
        if cluster is not None:
            cluster.close()
