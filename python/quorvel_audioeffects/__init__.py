"""The Quorvel audio effects on NumPy arrays.

Five effects -- Delay, PingPongDelay, Chorus, Flanger, Vibrato -- computed by
the project's DSP core, sample for sample as ``quorvel-fx`` computes them::

    import numpy as np
    import quorvel_audioeffects as qa

    delay = qa.Delay(delay_ms=300, feedback_level=0.4)
    wet = delay(audio, 48000)                # audio: (channels, frames) or (frames,)
    wet = qa.Chain([delay, qa.Chorus()]).process(audio, 48000, tail=True)

Settings are numbers or strings of the value grammar every front end
shares ("350ms", "0.35s", "5 Hz", "on"; see "Setting values" in the project
README): the same input gives the same value, or the same message, as
``quorvel-fx`` and the plugins.

Audio is float32 (float64 is converted) shaped (channels, frames), or
(frames,) for mono; every call returns a new float32 array of the same
layout. Processing releases the GIL, so threads working on different effect
objects run in parallel; one object used by two threads at once raises
RuntimeError.
"""

from __future__ import annotations

import inspect
import json
import math
import os

import numpy as np

from . import _core

__all__ = [
    "Chain",
    "Chorus",
    "Delay",
    "Effect",
    "Flanger",
    "PingPongDelay",
    "Vibrato",
    "chain_from",
    "effect_types",
]

__version__ = "1.0.0"

Effect = _core.Effect
_TYPES = _core.effect_types()


def effect_types():
    """The effect types with their parameter tables (list of dicts)."""
    return _core.effect_types()


def _float32_text(value):
    # The shortest decimal that reads back to the same float32: 0.7, not
    # 0.699999988079071, and setting it again stores the same bits.
    return str(np.float32(value))


class _Parameter:
    """One row of an effect's parameter table, with the checks a value passes."""

    def __init__(self, info):
        self.key = info["key"]
        self.name = info["name"]
        self.unit = info["unit"]
        self.type = info["type"]
        self.minimum = info["minimum"]
        self.maximum = info["maximum"]
        self.default = self.present(info["default"])
        self.rate_bound = info["rate_bound"]
        self.description = info["description"]

    def range_text(self):
        unit = f" {self.unit}" if self.unit else ""
        low, high = (self.present(self.minimum), self.present(self.maximum))
        return f"{low} to {high}{unit}"

    def doc(self):
        unit = f" Unit: {self.unit}." if self.unit else ""
        if self.type == "bool":
            return f"{self.description} (bool, default {self.default})"
        limit = " The delay line may allow less at high sample rates." if self.rate_bound else ""
        return (f"{self.description}{unit} Range {self.range_text()}, "
                f"default {self.default} ({self.type}).{limit}")

    def present(self, stored):
        """The stored value as Python shows it."""
        if self.type == "bool":
            return bool(stored)
        if self.type == "int":
            return int(stored)
        return float(_float32_text(stored))


def _make_property(parameter):
    def getter(self):
        return parameter.present(self._get(parameter.key))

    def setter(self, value):
        # The library checks it, as every front end does.
        self._set(parameter.key, value)

    return property(getter, setter, doc=parameter.doc())


class _EffectType(Effect):
    """What every generated effect class shares; see the concrete classes."""

    _info = None
    _parameters = ()

    def __init__(self, **parameters):
        super().__init__(self._info["name"])
        for name, value in parameters.items():
            # Names and values as every front end reads them: key or Python
            # name in any case, numbers or text such as "350ms".
            self._set(name, value)

    def __call__(self, audio, sample_rate, **options):
        """Same as process(audio, sample_rate, **options)."""
        return self.process(audio, sample_rate, **options)

    def parameters(self):
        """The current settings as {python_name: value}."""
        return {p.name: getattr(self, p.name) for p in self._parameters}

    def tail_frames(self, sample_rate):
        """Frames that tail=True appends at `sample_rate`: latency plus the
        decay to -60 dB, at most ten seconds."""
        return _core.tail_frames([self], sample_rate)

    def to_dict(self):
        """This effect as plain data: {"name": ..., "parameters": {key: value}}
        in the shape of quorvel-fx chain files."""
        return {"name": self._info["name"],
                "parameters": {p.key: getattr(self, p.name) for p in self._parameters}}

    def __repr__(self):
        def text(parameter):
            value = getattr(self, parameter.name)
            if parameter.type == "float":
                return _float32_text(value)
            return repr(value)

        settings = ", ".join(f"{p.name}={text(p)}" for p in self._parameters)
        return f"{type(self).__name__}({settings})"

    def __reduce__(self):
        # Settings travel; the stream's state does not (a copy starts fresh).
        return (_rebuild, (self._info["name"], self.parameters()))


def _rebuild(type_name, parameters):
    return _CLASSES[type_name](**parameters)


def _make_class(info):
    parameters = tuple(_Parameter(entry) for entry in info["parameters"])
    lines = [f"{info['display_name']}: {info['description']}", "", "Keyword arguments "
             "(also properties), each a number or a string such as \"350ms\" or \"5 Hz\" "
             "(see \"Setting values\" in the project README):", ""]
    for parameter in parameters:
        lines.append(f"    {parameter.name}: {parameter.doc()}")
    namespace = {
        "__doc__": "\n".join(lines),
        "__module__": __name__,
        "__qualname__": info["name"],
        "_info": info,
        "_parameters": parameters,
    }
    for parameter in parameters:
        namespace[parameter.name] = _make_property(parameter)
    cls = type(info["name"], (_EffectType,), namespace)
    # help() and editors show the real keywords.
    signature = inspect.Signature(
        [inspect.Parameter("self", inspect.Parameter.POSITIONAL_ONLY)]
        + [inspect.Parameter(p.name, inspect.Parameter.KEYWORD_ONLY, default=p.default)
           for p in parameters])
    cls.__signature__ = signature.replace(parameters=list(signature.parameters.values())[1:])
    return cls


_CLASSES = {info["name"]: _make_class(info) for info in _TYPES}
Delay = _CLASSES["Delay"]
PingPongDelay = _CLASSES["PingPongDelay"]
Chorus = _CLASSES["Chorus"]
Flanger = _CLASSES["Flanger"]
Vibrato = _CLASSES["Vibrato"]


class Chain:
    """Effects run one after another on the same audio.

    ``Chain([Delay(), Chorus()]).process(audio, 48000, tail=True)`` equals
    running quorvel-fx with the two effects: the tail is the sum of every
    effect's latency and decay to -60 dB, at most ten seconds. The chain
    shares its effect objects (their settings and stream state) with the
    caller; an object may appear once.
    """

    def __init__(self, effects=()):
        self._effects = list(effects)
        _core.check_chain(self._effects)

    @property
    def effects(self):
        """The effects, in order (a tuple)."""
        return tuple(self._effects)

    def process(self, audio, sample_rate, reset=True, tail=False, tail_seconds=None, out=None):
        """Runs every effect in order over one copy of `audio`, the GIL
        released; the arguments are those of Effect.process."""
        return _core.run_chain(self._effects, audio, sample_rate, reset, tail, tail_seconds, out)

    __call__ = process

    def reset(self):
        """Forgets the stream in every effect."""
        for effect in self._effects:
            effect.reset()

    def tail_frames(self, sample_rate):
        """Frames that tail=True appends at `sample_rate`."""
        return _core.tail_frames(self._effects, sample_rate)

    def to_dict(self):
        """The chain as plain data, the shape quorvel-fx --chain reads."""
        return {"effects": [effect.to_dict() for effect in self._effects]}

    def __len__(self):
        return len(self._effects)

    def __iter__(self):
        return iter(self._effects)

    def __getitem__(self, index):
        return self._effects[index]

    def __repr__(self):
        return f"Chain([{', '.join(repr(e) for e in self._effects)}])"

    def __reduce__(self):
        return (chain_from, (self.to_dict(),))


def _plain(value):
    # JSON of what a Python description holds: NumPy scalars as numbers,
    # non-finite floats as text, which the rules refuse as "not a number".
    if isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, float) and not math.isfinite(value):
        return repr(value)
    if isinstance(value, dict):
        return {key: _plain(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [_plain(item) for item in value]
    return value


def _entry(entry):
    # One effect of a Python description in the chain-file shape.
    if isinstance(entry, _EffectType):
        return entry.to_dict()
    if isinstance(entry, str):
        return {"name": entry}
    if isinstance(entry, (tuple, list)) and len(entry) == 2 and isinstance(entry[0], str):
        return {"name": entry[0], "parameters": entry[1]}
    return entry


def _built(chain):
    # Effects from the library's reading of a chain: [(type, [(key, value)])].
    effects = []
    for type_name, values in chain:
        effect = _CLASSES[type_name]()
        for key, value in values:
            effect._set(key, value)
        effects.append(effect)
    return Chain(effects)


def chain_from(described):
    """A new Chain from plain data (or a copy of a Chain or effect).

    `described` may be a Chain, an effect, a path to a quorvel-fx chain file, the
    chain-file shape ``{"effects": [{"name": "Delay", "parameters":
    {"delayMs": 300}}]}``, or a list whose items are effect names, (name,
    parameters) pairs or such dicts. Names and values are read by the rules
    every front end shares (see "Setting values" in the project README), so a
    file or description gives what quorvel-fx gives, or the same message.
    """
    if isinstance(described, Chain):
        described = described.to_dict()
    elif isinstance(described, Effect):
        described = [described]
    elif isinstance(described, (str, os.PathLike)):
        # The bytes as they are: the library judges the text as the tool does.
        with open(described, "rb") as file:
            return _built(_core.read_chain(file.read(), str(described)))
    if isinstance(described, (list, tuple)):
        described = [_entry(entry) for entry in described]
    elif isinstance(described, dict) and isinstance(described.get("effects"), (list, tuple)):
        described = dict(described, effects=[_entry(e) for e in described["effects"]])
    elif not isinstance(described, dict):
        raise TypeError(f"a chain is a list of effects; got {type(described).__name__}")
    try:
        text = json.dumps(_plain(described))
    except TypeError as bad:
        raise TypeError(f"a chain holds names, numbers, booleans and strings: {bad}") from None
    return _built(_core.read_chain(text, ""))
