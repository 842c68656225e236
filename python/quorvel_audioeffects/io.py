"""Audio files through the effects, with soundfile (libsndfile).

``apply_file("in.wav", "out.wav", [("Delay", {"delayMs": 300})])`` writes the
samples ``quorvel-fx apply --encoding float in.wav out.wav Delay delayMs=300``
writes: the same effects, the same default tail, 32-bit float output.
"""

from __future__ import annotations

import os
import tempfile
import time
from pathlib import Path

import numpy as np
import soundfile

from . import Chain, chain_from

__all__ = ["apply_file", "read", "write"]


def read(path):
    """(audio, sample_rate): float32 samples shaped (channels, frames)."""
    data, rate = soundfile.read(os.fspath(path), dtype="float32", always_2d=True)
    # One copy into planar rows, the layout the effects run on without another.
    return np.ascontiguousarray(data.T), rate


def write(path, audio, sample_rate, subtype="FLOAT", format=None):
    """Writes `audio` ((channels, frames) or (frames,)) to `path` whole or not
    at all: into a temporary file beside it, renamed over it on success.

    subtype is soundfile's ("FLOAT" by default; PCM subtypes are rounded by
    libsndfile without the dither quorvel-fx applies)."""
    path = Path(path)
    audio = np.asarray(audio)
    frames_first = audio.T if audio.ndim == 2 else audio
    if format is None:
        format = path.suffix.lstrip(".").upper() or "WAV"
    handle, temporary = tempfile.mkstemp(dir=path.parent or ".", prefix=f".{path.name}.",
                                         suffix=".part")
    os.close(handle)
    try:
        soundfile.write(temporary, frames_first, int(sample_rate), subtype=subtype, format=format)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except FileNotFoundError:
            pass
        raise


def apply_file(input_path, output_path, chain, *, tail=True, tail_seconds=None,
               subtype="FLOAT", format=None):
    """Runs the file at `input_path` through `chain` into `output_path`.

    chain: a Chain, an effect, or plain data chain_from() takes (e.g.
        [("Delay", {"delayMs": 300})] or a quorvel-fx chain file's content).
        A Chain or effect given here is reset first and keeps its settings.
    tail: append the chain's tail, as quorvel-fx does by default (False is
        quorvel-fx --tail 0); tail_seconds appends that many seconds instead.

    Returns a dict: input, output, sample_rate, channels, frames (written),
    peak, seconds (processing). The output appears only when complete.
    """
    if not isinstance(chain, Chain):
        chain = chain_from(chain) if not hasattr(chain, "process") else Chain([chain])
    audio, rate = read(input_path)
    start = time.perf_counter()
    result = chain.process(audio, rate, reset=True, tail=tail, tail_seconds=tail_seconds)
    seconds = time.perf_counter() - start
    write(output_path, result, rate, subtype=subtype, format=format)
    return {
        "input": os.fspath(input_path),
        "output": os.fspath(output_path),
        "sample_rate": rate,
        "channels": result.shape[0],
        "frames": result.shape[1],
        "peak": float(np.max(np.abs(result))) if result.size else 0.0,
        "seconds": seconds,
    }
