#!/usr/bin/python3
"""The effects on NumPy arrays: one call, a chain with its tail, a stream in
chunks, and threads sharing the work."""

from concurrent.futures import ThreadPoolExecutor

import numpy as np

import quorvel_audioeffects as qa

rate = 48000
t = np.arange(2 * rate) / rate
audio = np.stack([np.sin(2 * np.pi * 220 * t), np.sin(2 * np.pi * 330 * t)]).astype(np.float32)

delay = qa.Delay(delay_ms=250, feedback_level=0.5)
print(delay, "->", delay(audio, rate).shape)

chain = qa.Chain([qa.Chorus(frequency=0.5), qa.PingPongDelay(wet_mix=0.5)])
wet = chain.process(audio, rate, tail=True)
print(chain, "->", wet.shape, f"({chain.tail_frames(rate)} frames of tail)")

# Chunks with reset=False give exactly the one-call result.
stream = qa.Chain([qa.Chorus(frequency=0.5), qa.PingPongDelay(wet_mix=0.5)])
chunks = [stream.process(block, rate, reset=False) for block in np.array_split(audio, 7, axis=1)]
chunks.append(stream.process(np.zeros((2, 0), np.float32), rate, reset=False, tail=True))
print("streamed == one call:", np.array_equal(np.concatenate(chunks, axis=1), wet))

# One effect object per thread: the calls run in parallel.
takes = [audio * gain for gain in (0.25, 0.5, 0.75, 1.0)]
with ThreadPoolExecutor(2) as pool:
    outputs = list(pool.map(lambda take: qa.Flanger()(take, rate), takes))
print("threads:", [round(float(np.abs(o).max()), 3) for o in outputs])
