"""The effects against quorvel-fx, sample for sample, and the binding's rules."""

import json
import pickle

import numpy as np
import pytest
import soundfile

import quorvel_audioeffects as qa
from conftest import signal

# (effect, parameters as quorvel-fx takes them, channels, sample rate)
CASES = [
    ("Delay", {}, 2, 48000),
    ("Delay", {"delayMs": 300, "feedbackLevel": 0.6, "dryMix": 0.5, "wetMix": 0.8}, 1, 44100),
    ("Delay", {"delayMs": 0}, 2, 48000),
    ("PingPongDelay", {}, 2, 48000),
    ("PingPongDelay", {"delayMs": 120, "feedbackLevel": 0.9, "wetMix": 1}, 2, 96000),
    ("Chorus", {}, 2, 48000),
    ("Chorus", {"sweepWidth": 0.04, "frequency": 1.5}, 1, 22050),
    ("Flanger", {}, 2, 48000),
    ("Flanger", {"sweepWidth": 0.002, "frequency": 3, "enabled": False}, 2, 44100),
    ("Vibrato", {}, 2, 48000),
    ("Vibrato", {"sweepWidth": 0.003, "frequency": 7}, 1, 96000),
]


def words(parameters):
    return [f"{k}={str(v).lower() if isinstance(v, bool) else v}" for k, v in parameters.items()]


@pytest.mark.parametrize("tail", [True, False, 0.37], ids=["tail", "no-tail", "tail-0.37s"])
@pytest.mark.parametrize("name,parameters,channels,rate", CASES)
def test_matches_quorvel_fx(tmp_path, quorvel_fx, name, parameters, channels, rate, tail):
    audio = signal(channels, 20000, seed=len(name))
    soundfile.write(tmp_path / "in.wav", audio.T, rate, subtype="FLOAT")
    seconds = {True: [], False: ["--tail", "0"]}.get(tail, ["--tail", str(tail)])
    quorvel_fx("apply", "--encoding", "float", *seconds, tmp_path / "in.wav",
               tmp_path / "out.wav", name, *words(parameters))
    expected, _ = soundfile.read(tmp_path / "out.wav", dtype="float32", always_2d=True)

    effect = qa.chain_from([(name, parameters)])[0]
    audio = audio if channels > 1 else audio[0]
    if tail in (True, False):
        got = effect.process(audio, rate, tail=tail)
    else:
        got = effect.process(audio, rate, tail_seconds=tail)
    assert np.array_equal(got.reshape(channels, -1), expected.T)
    if tail is True:
        assert got.shape[-1] == 20000 + effect.tail_frames(rate)


def test_chain_file_matches_quorvel_fx(tmp_path, quorvel_fx):
    described = {"effects": [{"name": "Flanger", "parameters": {"frequency": 0.9}},
                        {"name": "AudioEffects.Delay", "parameters": {"delayMs": "250ms"}},
                        {"name": "vibrato", "parameters": {}},
                        {"name": "PingPongDelay", "parameters": {"enabled": True}}]}
    (tmp_path / "chain.json").write_text(json.dumps(described))
    audio = signal(2, 30000, seed=7)
    soundfile.write(tmp_path / "in.wav", audio.T, 48000, subtype="FLOAT")
    quorvel_fx("apply", "--encoding", "float", "--chain", tmp_path / "chain.json",
               tmp_path / "in.wav", tmp_path / "out.wav")
    expected, _ = soundfile.read(tmp_path / "out.wav", dtype="float32", always_2d=True)

    chain = qa.chain_from(tmp_path / "chain.json")
    got = chain.process(audio, 48000, tail=True)
    assert np.array_equal(got, expected.T)
    assert chain.tail_frames(48000) == sum(e.tail_frames(48000) for e in chain)


@pytest.mark.parametrize("make", [qa.Delay, qa.PingPongDelay, qa.Chorus, qa.Flanger, qa.Vibrato,
                                  lambda: qa.Chain([qa.Chorus(), qa.Delay(delay_ms=7)])])
def test_chunks_continue_the_stream(make):
    audio = signal(2, 50000, seed=3)
    whole = make().process(audio, 48000, tail=True)

    streamed = make()
    pieces, start = [], 0
    for size in [0, 1, 4095, 8192, 8193, 3, 10000, 19516]:
        pieces.append(streamed.process(audio[:, start:start + size], 48000, reset=False))
        start += size
    pieces.append(streamed.process(audio[:, start:], 48000, reset=False, tail=True))
    assert np.array_equal(np.concatenate(pieces, axis=1), whole)
    # reset=True (the default) starts again from silence.
    assert np.array_equal(streamed.process(audio, 48000, tail=True), whole)


def test_layouts_give_the_same_samples():
    audio = signal(2, 9000, seed=5)
    reference = qa.Flanger().process(audio, 44100)
    before = audio.copy()

    frames_first = np.asfortranarray(audio)  # e.g. soundfile's array, transposed
    assert np.array_equal(qa.Flanger().process(frames_first, 44100), reference)
    assert np.array_equal(qa.Flanger().process(audio.astype(np.float64), 44100), reference)
    assert np.array_equal(qa.Flanger().process(audio.tolist(), 44100), reference)
    strided = np.zeros((2, 18000), np.float32)
    strided[:, ::2] = audio
    assert np.array_equal(qa.Flanger().process(strided[:, ::2], 44100), reference)
    assert np.array_equal(audio, before)

    # Each channel keeps its own line, however many there are.
    six = qa.Delay(delay_ms=3).process(np.concatenate([audio] * 3), 44100)
    assert np.array_equal(six, np.concatenate([qa.Delay(delay_ms=3).process(audio, 44100)] * 3))

    mono = qa.Vibrato().process(audio[0], 44100)
    assert mono.shape == (9000,) and mono.dtype == np.float32
    assert np.array_equal(mono, qa.Vibrato().process(audio[:1], 44100)[0])

    in_place = audio.copy()
    assert qa.Flanger().process(in_place, 44100, out=in_place) is in_place
    assert np.array_equal(in_place, reference)
    with pytest.raises(ValueError, match="shape"):
        qa.Flanger().process(audio, 44100, tail=True, out=np.empty_like(audio))
    with pytest.raises(ValueError, match="overlaps"):
        qa.Flanger().process(in_place[:, 1:], 44100, out=in_place[:, :-1])


def test_parameters_are_checked_properties():
    delay = qa.Delay(delay_ms=350, feedback_level=0.45)
    assert repr(delay) == ("Delay(enabled=True, delay_ms=350, dry_mix=0.7, wet_mix=0.3, "
                           "feedback_level=0.45)")
    assert delay.parameters() == {"enabled": True, "delay_ms": 350, "dry_mix": 0.7,
                                  "wet_mix": 0.3, "feedback_level": 0.45}
    delay.enabled, delay.delay_ms, delay.wet_mix = False, 12.0, np.float32(0.1)
    assert (delay.enabled, delay.delay_ms, delay.wet_mix) == (False, 12, 0.1)
    assert "Unit: ms" in qa.Delay.delay_ms.__doc__
    assert repr(qa.Chorus()) == "Chorus(enabled=True, sweep_width=0.025, frequency=0.2)"

    for bad, error in [({"delay_ms": -1}, ValueError), ({"delay_ms": 2.5}, ValueError),
                       ({"delay_ms": 1001}, ValueError), ({"dry_mix": float("nan")}, ValueError),
                       ({"feedback_level": float("inf")}, ValueError),
                       ({"feedback_level": 1.0}, ValueError), ({"enabled": 2}, ValueError),
                       ({"wet_mix": [0.5]}, TypeError), ({"delay_ms": True}, ValueError),
                       ({"delay_ms": "3kg"}, ValueError), ({"sweep_width": 0.01}, TypeError)]:
        with pytest.raises(error):
            qa.Delay(**bad)
    # Text of the value grammar, as on the tool's command line.
    assert qa.Delay(delay_ms="0.35s", wet_mix="0.5").parameters()["delay_ms"] == 350
    with pytest.raises(ValueError, match="does not fit the delay line at 96000 Hz"):
        qa.Delay(delay_ms=800).process(signal(2, 100), 96000)
    qa.Delay(delay_ms=800, enabled=False).process(signal(2, 100), 96000)  # bypassed: no line


def test_effects_and_chains_travel_as_plain_data():
    chain = qa.Chain([qa.Vibrato(frequency=5.5), qa.PingPongDelay(delay_ms=90, dry_mix=0.25)])
    copy = pickle.loads(pickle.dumps(chain))
    assert repr(copy) == repr(chain)
    assert qa.chain_from(json.loads(json.dumps(chain.to_dict()))).to_dict() == chain.to_dict()
    assert repr(pickle.loads(pickle.dumps(chain[1]))) == repr(chain[1])
    same = qa.chain_from([("delay", {"delay_ms": 90}), "Chorus"])
    assert [type(e).__name__ for e in same] == ["Delay", "Chorus"]
    for bad in [[("Reverb", {})], [("Delay", {"colour": 1})], [("Delay", {"delayMs": "2s"})],
                {"effects": [{"name": "Delay", "extra": 1}]}]:
        with pytest.raises(ValueError):
            qa.chain_from(bad)


def test_bad_calls_raise_clear_errors():
    stereo = signal(2, 1000)
    delay = qa.Delay()
    for audio, rate, error, text in [
        (stereo, 0, ValueError, "sample rate"), (stereo, -48000, ValueError, "sample rate"),
        (stereo, 44100.5, ValueError, "sample rate"), (stereo, "48000", TypeError, "int"),
        (stereo, True, TypeError, "int"), (stereo.astype(np.int16), 48000, TypeError, "PCM"),
        (stereo.astype(np.complex64), 48000, TypeError, "float32"),
        (np.zeros((2, 2, 10), np.float32), 48000, ValueError, "dimensions"),
        (np.zeros((0, 10), np.float32), 48000, ValueError, "no channels"),
        (np.zeros((300, 10), np.float32), 48000, ValueError, "transpose"),
    ]:
        with pytest.raises(error, match=text):
            delay.process(audio, rate)
    with pytest.raises(ValueError, match="stereo"):
        qa.PingPongDelay().process(stereo[0], 48000)
    with pytest.raises(ValueError, match="the input has 3"):
        qa.PingPongDelay().process(signal(3, 100), 48000)
    with pytest.raises(ValueError, match="mono or stereo"):
        qa.Chorus().process(signal(3, 100), 48000)
    with pytest.raises(ValueError, match="tail_seconds"):
        delay.process(stereo, 48000, tail_seconds=-1)

    assert delay.process(np.zeros((2, 0), np.float32), 48000).shape == (2, 0)
    assert delay.process(np.zeros(0, np.float32), 48000, tail_seconds=0.5).shape == (24000,)
    assert qa.Delay().process(signal(6, 500), 48000).shape == (6, 500)
    delay.process(stereo, 48000)
    with pytest.raises(ValueError, match="reset=False"):
        delay.process(stereo, 44100, reset=False)

    chorus = qa.Chorus()
    with pytest.raises(ValueError, match="twice"):
        qa.Chain([chorus, chorus])
    with pytest.raises(TypeError, match="effects"):
        qa.Chain([chorus, "Delay"])
