from os import PathLike
from typing import Any, Iterator, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

Audio = npt.ArrayLike
# A setting: a number, a switch, or text of the value grammar ("350ms", "5 Hz";
# see "Setting values" in the project README).
Value = Union[bool, int, float, str]
ChainLike = Union["Chain", "Effect", str, PathLike, Mapping[str, Any], Sequence[Any]]

def effect_types() -> list[dict[str, Any]]: ...
def chain_from(described: ChainLike) -> Chain: ...

class Effect:
    def __init__(self, type_name: str) -> None: ...
    @property
    def type_name(self) -> str: ...
    @property
    def is_bypassed(self) -> bool: ...
    def process(self, audio: Audio, sample_rate: int, reset: bool = ..., tail: bool = ...,
                tail_seconds: Optional[float] = ...,
                out: Optional[npt.NDArray[np.float32]] = ...) -> npt.NDArray[np.float32]: ...
    def __call__(self, audio: Audio, sample_rate: int, *, reset: bool = ..., tail: bool = ...,
                 tail_seconds: Optional[float] = ...,
                 out: Optional[npt.NDArray[np.float32]] = ...) -> npt.NDArray[np.float32]: ...
    def reset(self) -> None: ...
    def latency_samples(self, sample_rate: int) -> float: ...
    def tail_samples(self, sample_rate: int, level: float = ...) -> float: ...
    def tail_frames(self, sample_rate: int) -> int: ...
    def maximum_at(self, key: str, sample_rate: int) -> Optional[float]: ...
    def parameters(self) -> dict[str, Union[bool, int, float]]: ...
    def to_dict(self) -> dict[str, Any]: ...

class Delay(Effect):
    """Feedback echo: delay_ms (ms), dry_mix, wet_mix, feedback_level (linear), enabled."""
    enabled: bool
    delay_ms: int
    dry_mix: float
    wet_mix: float
    feedback_level: float
    def __init__(self, *, enabled: Value = ..., delay_ms: Value = ..., dry_mix: Value = ...,
                 wet_mix: Value = ..., feedback_level: Value = ...) -> None: ...

class PingPongDelay(Effect):
    """Stereo echo bouncing between the channels; the same parameters as Delay."""
    enabled: bool
    delay_ms: int
    dry_mix: float
    wet_mix: float
    feedback_level: float
    def __init__(self, *, enabled: Value = ..., delay_ms: Value = ..., dry_mix: Value = ...,
                 wet_mix: Value = ..., feedback_level: Value = ...) -> None: ...

class Chorus(Effect):
    """sweep_width (s), frequency (Hz), enabled."""
    enabled: bool
    sweep_width: float
    frequency: float
    def __init__(self, *, enabled: Value = ..., sweep_width: Value = ...,
                 frequency: Value = ...) -> None: ...

class Flanger(Effect):
    """sweep_width (s), frequency (Hz), enabled."""
    enabled: bool
    sweep_width: float
    frequency: float
    def __init__(self, *, enabled: Value = ..., sweep_width: Value = ...,
                 frequency: Value = ...) -> None: ...

class Vibrato(Effect):
    """sweep_width (s), frequency (Hz), enabled."""
    enabled: bool
    sweep_width: float
    frequency: float
    def __init__(self, *, enabled: Value = ..., sweep_width: Value = ...,
                 frequency: Value = ...) -> None: ...

class Chain:
    def __init__(self, effects: Sequence[Effect] = ...) -> None: ...
    @property
    def effects(self) -> Tuple[Effect, ...]: ...
    def process(self, audio: Audio, sample_rate: int, reset: bool = ..., tail: bool = ...,
                tail_seconds: Optional[float] = ...,
                out: Optional[npt.NDArray[np.float32]] = ...) -> npt.NDArray[np.float32]: ...
    def __call__(self, audio: Audio, sample_rate: int, reset: bool = ..., tail: bool = ...,
                 tail_seconds: Optional[float] = ...,
                 out: Optional[npt.NDArray[np.float32]] = ...) -> npt.NDArray[np.float32]: ...
    def reset(self) -> None: ...
    def tail_frames(self, sample_rate: int) -> int: ...
    def to_dict(self) -> dict[str, Any]: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Effect]: ...
    def __getitem__(self, index: int) -> Effect: ...
