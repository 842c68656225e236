from os import PathLike
from typing import Any, Iterable, Optional, Sequence, Union

from . import ChainLike

Path = Union[str, PathLike]
AUDIO_SUFFIXES: tuple[str, ...]

class FileResult:
    input: str
    output: str
    ok: bool
    error: Optional[str]
    sample_rate: Optional[int]
    channels: Optional[int]
    frames: Optional[int]
    peak: Optional[float]
    seconds: float
    worker: Optional[str]
    def to_dict(self) -> dict[str, Any]: ...

def expand_paths(paths: Union[Path, Iterable[Path]]) -> list[PathLike]: ...
def process_file(input_path: Path, output_path: Path, chain_like: ChainLike, tail: bool = ...,
                 tail_seconds: Optional[float] = ...) -> FileResult: ...
def process_files(paths: Union[Path, Iterable[Path]], out_dir: Path, chain_like: ChainLike,
                  scheduler: Optional[str] = ..., *, client: Any = ..., tail: bool = ...,
                  tail_seconds: Optional[float] = ..., n_workers: int = ...,
                  threads_per_worker: int = ..., processes: bool = ...) -> list[FileResult]: ...
