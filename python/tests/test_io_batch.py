"""Files: apply_file against quorvel-fx, whole outputs only, and the Dask batch."""

import os

import numpy as np
import pytest
import soundfile

import quorvel_audioeffects as qa
from quorvel_audioeffects import batch, io
from conftest import signal

CHAIN = [("Chorus", {"frequency": 0.7}), ("Delay", {"delayMs": 40, "feedbackLevel": 0.5})]


@pytest.mark.parametrize("subtype", ["FLOAT", "PCM_16"])
def test_apply_file_matches_quorvel_fx(tmp_path, quorvel_fx, subtype):
    soundfile.write(tmp_path / "in.wav", signal(2, 30000, seed=2).T, 44100, subtype=subtype)
    quorvel_fx("apply", "--encoding", "float", tmp_path / "in.wav", tmp_path / "fx.wav",
               "Chorus", "frequency=0.7", "Delay", "delayMs=40", "feedbackLevel=0.5")
    facts = io.apply_file(tmp_path / "in.wav", tmp_path / "py.wav", CHAIN)

    expected, rate = soundfile.read(tmp_path / "fx.wav", dtype="float32")
    got, _ = soundfile.read(tmp_path / "py.wav", dtype="float32")
    assert soundfile.info(tmp_path / "py.wav").subtype == "FLOAT"
    assert np.array_equal(got, expected)
    assert (facts["frames"], facts["sample_rate"]) == (len(expected), rate)


def test_a_failed_file_leaves_no_output(tmp_path):
    soundfile.write(tmp_path / "mono.wav", signal(1, 1000)[0], 48000, subtype="FLOAT")
    (tmp_path / "out.wav").write_bytes(b"previous")
    with pytest.raises(ValueError, match="stereo"):
        io.apply_file(tmp_path / "mono.wav", tmp_path / "out.wav", ["PingPongDelay"])
    assert (tmp_path / "out.wav").read_bytes() == b"previous"
    assert sorted(os.listdir(tmp_path)) == ["mono.wav", "out.wav"]


def test_dask_batch_matches_one_process(tmp_path):
    inputs = tmp_path / "in"
    inputs.mkdir()
    for i in range(30):
        channels = 1 + i % 2
        rate = (44100, 48000)[i % 3 == 0]
        soundfile.write(inputs / f"take{i:02d}.wav", signal(channels, 4000 + 97 * i, seed=i).T,
                        rate, subtype="FLOAT")
    (inputs / "broken.wav").write_bytes(b"not audio")
    described = {"effects": [{"name": "Flanger", "parameters": {}},
                        {"name": "Delay", "parameters": {"delayMs": 30}}]}

    results = batch.process_files(inputs, tmp_path / "out", described, n_workers=2)

    assert [os.path.basename(r.input) for r in results] == sorted(os.listdir(inputs))
    failed = [r for r in results if not r.ok]
    assert [os.path.basename(r.input) for r in failed] == ["broken.wav"]
    assert "broken.wav" in failed[0].error or "Error" in failed[0].error
    # Which worker takes which file is the scheduler's choice; each record
    # names the one that did it.
    assert all(isinstance(r.worker, str) and r.worker for r in results if r.ok)
    for record in results:
        if not record.ok:
            assert not os.path.exists(record.output)
            continue
        one = io.apply_file(record.input, tmp_path / "one.wav", described)
        got, _ = soundfile.read(record.output, dtype="float32")
        want, _ = soundfile.read(tmp_path / "one.wav", dtype="float32")
        assert np.array_equal(got, want) and record.frames == one["frames"]
    assert not [name for name in os.listdir(tmp_path / "out") if name.startswith(".")]
