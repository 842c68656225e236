from os import PathLike
from typing import Any, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import ChainLike

Path = Union[str, PathLike]

def read(path: Path) -> Tuple[npt.NDArray[np.float32], int]: ...
def write(path: Path, audio: npt.ArrayLike, sample_rate: int, subtype: str = ...,
          format: Optional[str] = ...) -> None: ...
def apply_file(input_path: Path, output_path: Path, chain: ChainLike, *, tail: bool = ...,
               tail_seconds: Optional[float] = ..., subtype: str = ...,
               format: Optional[str] = ...) -> dict[str, Any]: ...
