"""Threads: separate effects run in parallel, a shared one refuses the second caller."""

import threading

import numpy as np
import pytest

import quorvel_audioeffects as qa
from conftest import signal


def test_threads_on_separate_effects_compute_what_one_thread_does():
    audio = signal(2, 200000, seed=11)
    makers = [qa.Delay, qa.PingPongDelay, qa.Chorus, qa.Flanger, qa.Vibrato]
    expected = [make().process(audio, 48000, tail=True) for make in makers]
    results = [None] * len(makers)

    def work(index):
        effect = makers[index]()
        for _ in range(3):
            results[index] = effect.process(audio, 48000, tail=True)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(makers))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, want in zip(results, expected):
        assert np.array_equal(got, want)


def test_an_effect_in_use_refuses_a_second_thread():
    long_audio = signal(2, 48000 * 180, seed=1)
    chorus = qa.Chorus()
    expected = qa.Chorus().process(long_audio, 48000)
    result = {}
    started = threading.Event()

    # Either thread may claim the effect first: the worker retries until its
    # long call is the one that runs, so its outcome is never lost.
    def work():
        started.set()
        while "out" not in result:
            try:
                result["out"] = chorus(long_audio, 48000)
            except RuntimeError as error:
                result.setdefault("worker refused", str(error))

    worker = threading.Thread(target=work)
    refused = 0
    worker.start()
    started.wait()
    while worker.is_alive():
        for attempt in (lambda: chorus(long_audio[:, :10], 48000),
                        lambda: qa.Chain([qa.Delay(), chorus])(long_audio[:, :10], 48000),
                        chorus.reset):
            try:
                attempt()
            except RuntimeError as error:
                assert "busy in another thread" in str(error)
                refused += 1
    worker.join()
    assert "busy in another thread" in result.get("worker refused", "busy in another thread")
    assert refused > 0
    assert np.array_equal(result["out"], expected)
    # Free again once the other thread is done; settings may change at any time.
    chorus.frequency = 0.5
    assert chorus(long_audio[:, :10], 48000).shape == (2, 10)
