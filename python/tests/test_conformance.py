"""The shared conformance corpus (tests/conformance) held against the package:
every value as a keyword and in a chain file, every chain file, every input."""

import json
import os
from pathlib import Path

import numpy as np
import pytest

import quorvel_audioeffects as qa

CORPUS = Path(__file__).resolve().parent.parent.parent / "tests" / "conformance"


def cases(name):
    return json.loads((CORPUS / name).read_text(encoding="utf-8"))["cases"]


def effect_class(name):
    # The class the library's name rules choose, or the rules' message.
    return type(qa.chain_from([name])[0])


def same_stored(expected, stored, is_float):
    if is_float:
        return np.float32(expected) == np.float32(stored)
    return float(expected) == float(stored)


def stored_of(effect, key):
    return effect._get(key)


def is_float(effect, key):
    types = {p["key"]: p["type"] for t in qa.effect_types() if t["name"] == effect.type_name
             for p in t["parameters"]}
    return types.get(key) == "float"


def check_stored(effect, key, expected):
    assert same_stored(expected, stored_of(effect, key), is_float(effect, key))


@pytest.fixture
def in_tmp(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


@pytest.mark.parametrize("case", cases("values.json"), ids=lambda c: json.dumps(c)[:80])
def test_values(case, in_tmp):
    effect, parameter, value = case["effect"], case["parameter"], case["value"]
    # As a keyword argument.
    try:
        cls = effect_class(effect)
    except ValueError as refused:
        assert "refused" in case and str(refused) == "[0]: " + case["refused"]
    else:
        if "refused" in case:
            unknown = "unknown parameter" in case["refused"]
            with pytest.raises(TypeError if unknown else ValueError) as refused:
                cls(**{parameter: value})
            assert str(refused.value) == case["refused"]
        else:
            made = cls(**{parameter: value})
            key = made._parameters[[p.key for p in made._parameters].index(
                next(p.key for p in made._parameters
                     if p.key.lower() == parameter.replace("_", "").lower()))].key
            check_stored(made, key, case["stores"])
    # As a chain file.
    Path("chain.json").write_text(
        json.dumps([{"name": effect, "parameters": {parameter: value}}], ensure_ascii=False),
        encoding="utf-8")
    if "refused" in case:
        with pytest.raises(ValueError) as refused:
            qa.chain_from("chain.json")
        assert str(refused.value) == "chain.json: [0]: " + case["refused"]
    else:
        made = qa.chain_from("chain.json")[0]
        key = next(p.key for p in made._parameters
                   if p.key.lower() == parameter.replace("_", "").lower())
        check_stored(made, key, case["stores"])


@pytest.mark.parametrize("case", cases("chains.json"), ids=lambda c: c["text"][:60])
def test_chain_files(case, in_tmp):
    Path("chain.json").write_bytes(case["text"].encode("utf-8"))
    if "refused" in case:
        with pytest.raises(ValueError) as refused:
            qa.chain_from("chain.json")
        assert str(refused.value) == case["refused"]
        return
    chain = qa.chain_from("chain.json")
    assert [e.type_name for e in chain] == [e["name"] for e in case["accepted"]]
    for effect, expected in zip(chain, case["accepted"]):
        for key, stores in expected["stores"].items():
            check_stored(effect, key, stores)


@pytest.mark.parametrize("case", [c for c in cases("inputs.json")
                                  if "python" in c.get("only", ["python"])],
                         ids=lambda c: json.dumps(c)[:80])
def test_inputs(case):
    # Checked as every front end checks: rate, channels, settings, fit.
    try:
        effect = effect_class(case["effect"])(**case.get("settings", {}))
        audio = np.zeros((case["channels"], max(64, case["channels"] + 1)), np.float32)
        effect.process(audio, case["rate"])
    except ValueError as refused:
        assert "refused" in case, str(refused)
        if case["channels"] == 0:
            return  # an empty array is refused before the rules see it
        assert str(refused) == case["refused"]
    else:
        assert "accepted" in case
