"""The Quorvel audio effects on NumPy arrays.

Five effects -- Delay, PingPongDelay, Chorus, Flanger, Vibrato -- computed by
the project's DSP core, sample for sample as ``quorvel-fx`` computes them::

    import numpy as np
    import quorvel_audioeffects as qa

    delay = qa.Delay(delay_ms=300, feedback_level=0.4)
    wet = delay(audio, 48000)                # audio: (channels, frames) or (frames,)
    wet = qa.Chain([delay, qa.Chorus()]).process(audio, 48000, tail=True)

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
import numbers
import os
import re

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

    def check(self, owner, value):
        """`value` as the double the core stores, or TypeError/ValueError."""
        where = f"{owner}.{self.name}"
        if self.type == "bool":
            if isinstance(value, (bool, np.bool_)):
                return 1.0 if value else 0.0
            if isinstance(value, numbers.Integral) and value in (0, 1):
                return float(value)
            raise TypeError(f"{where} must be True or False; got {value!r}")
        if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
            raise TypeError(f"{where} must be a number ({self.type}); got {type(value).__name__}")
        number = float(value)
        if math.isnan(number):
            raise ValueError(f"{where} must be a number, not NaN")
        if self.type == "int":
            if not number.is_integer():
                raise ValueError(f"{where} must be a whole number of {self.unit or 'units'}; "
                                 f"got {value!r}")
            inside = self.minimum <= number <= self.maximum
        else:
            # Compared as the core stores it: a float32.
            with np.errstate(over="ignore"):  # beyond float32: infinite, out of range
                stored = np.float32(number)
            inside = np.float32(self.minimum) <= stored <= np.float32(self.maximum)
        if not inside:
            raise ValueError(f"{where} must be from {self.range_text()}; got {value!r}")
        return number


def _make_property(parameter):
    def getter(self):
        return parameter.present(self._get(parameter.key))

    def setter(self, value):
        self._set(parameter.key, parameter.check(type(self).__name__, value))

    return property(getter, setter, doc=parameter.doc())


class _EffectType(Effect):
    """What every generated effect class shares; see the concrete classes."""

    _info = None
    _parameters = ()
    _by_name = {}

    def __init__(self, **parameters):
        super().__init__(self._info["name"])
        for name, value in parameters.items():
            parameter = self._lookup(name)
            if parameter is None:
                known = ", ".join(p.name for p in self._parameters)
                raise TypeError(f"{type(self).__name__}() has no parameter {name!r} "
                                f"(parameters: {known})")
            setattr(self, parameter.name, value)

    @classmethod
    def _lookup(cls, name):
        # Python names, and the core's keys as chain files spell them.
        return cls._by_name.get(name)

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
    by_name = {}
    for parameter in parameters:
        by_name[parameter.name] = parameter
        by_name[parameter.key] = parameter
    lines = [f"{info['display_name']}: {info['description']}", "", "Keyword arguments "
             "(also properties; values are checked):", ""]
    for parameter in parameters:
        lines.append(f"    {parameter.name}: {parameter.doc()}")
    namespace = {
        "__doc__": "\n".join(lines),
        "__module__": __name__,
        "__qualname__": info["name"],
        "_info": info,
        "_parameters": parameters,
        "_by_name": by_name,
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


_UNIT_SCALE = {("ms", "ms"): 1.0, ("ms", "s"): 0.001, ("s", "s"): 1.0, ("s", "ms"): 1000.0,
               ("Hz", "Hz"): 1.0}


def _setting_value(parameter, value, where):
    # Chain files may hold text such as "350ms" or "true", as quorvel-fx reads them.
    if not isinstance(value, str):
        return value
    text = value.strip()
    if parameter.type == "bool":
        lowered = text.lower()
        if lowered in ("true", "on", "yes", "1"):
            return True
        if lowered in ("false", "off", "no", "0"):
            return False
        raise ValueError(f"{where}: {value!r} is not a boolean")
    match = re.fullmatch(r"([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*([A-Za-z]*)", text)
    if match is None:
        raise ValueError(f"{where}: {value!r} is not a number")
    number, unit = float(match.group(1)), match.group(2)
    if unit:
        scale = _UNIT_SCALE.get((unit, parameter.unit))
        if scale is None:
            raise ValueError(f"{where}: unit {unit!r} does not fit {parameter.name} "
                             f"({parameter.unit or 'no unit'})")
        number *= scale
    if parameter.type == "int":
        rounded = round(number)
        if abs(number - rounded) > 1e-9:
            raise ValueError(f"{where}: {value!r} is not a whole number of {parameter.unit}")
        return int(rounded)
    return number


def _effect_class(name, where):
    lowered = str(name).lower()
    if lowered.startswith("audioeffects."):
        lowered = lowered[len("audioeffects."):]
    for type_name, cls in _CLASSES.items():
        if type_name.lower() == lowered:
            return cls
    raise ValueError(f"{where}: unknown effect {name!r} (known: {', '.join(_CLASSES)})")


def _effect_from(entry, where):
    if isinstance(entry, _EffectType):
        return _rebuild(entry.type_name, entry.parameters())
    if isinstance(entry, str):
        return _effect_class(entry, where)()
    if isinstance(entry, dict):
        unknown = set(entry) - {"name", "parameters"}
        if unknown or "name" not in entry:
            raise ValueError(f'{where}: an effect is {{"name": ..., "parameters": {{...}}}}')
        name, parameters = entry["name"], entry.get("parameters") or {}
    elif isinstance(entry, (tuple, list)) and len(entry) == 2:
        name, parameters = entry
    else:
        raise TypeError(f"{where}: an effect is a name, (name, parameters) or "
                        f'{{"name": ..., "parameters": ...}}; got {entry!r}')
    cls = _effect_class(name, where)
    if not isinstance(parameters, dict):
        raise TypeError(f"{where}: parameters must be a dict; got {type(parameters).__name__}")
    settings = {}
    for key, value in parameters.items():
        parameter = cls._lookup(key)
        if parameter is None:
            known = ", ".join(p.key for p in cls._parameters)
            raise ValueError(f"{where}: {cls.__name__} has no parameter {key!r} (known: {known})")
        settings[parameter.name] = _setting_value(parameter, value, f"{where}.{key}")
    return cls(**settings)


def chain_from(described):
    """A new Chain from plain data (or a copy of a Chain or effect).

    `described` may be a Chain, an effect, a path to a quorvel-fx chain file, the
    chain-file shape ``{"effects": [{"name": "Delay", "parameters":
    {"delayMs": 300}}]}``, or a list whose items are effect names, (name,
    parameters) pairs or such dicts. Parameter names may be the core's keys
    (delayMs) or Python's (delay_ms); names of types ignore case.
    """
    if isinstance(described, Chain):
        described = described.to_dict()
    elif isinstance(described, Effect):
        described = [described]
    elif isinstance(described, (str, os.PathLike)):
        with open(described, encoding="utf-8") as file:
            described = json.load(file)
    if isinstance(described, dict):
        if set(described) != {"effects"}:
            raise ValueError('a chain is {"effects": [...]}')
        described = described["effects"]
    if not isinstance(described, (list, tuple)):
        raise TypeError(f"a chain is a list of effects; got {type(described).__name__}")
    return Chain([_effect_from(entry, f"effects[{i}]") for i, entry in enumerate(described)])
