import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]


def find_tool():
    """The tool these sources built: $QUORVEL_FX (run-tests.sh sets it), else
    one of the repository's build folders; never an installed quorvel-fx
    found on PATH, which may be another version."""
    if os.environ.get("QUORVEL_FX"):
        candidates = [os.environ["QUORVEL_FX"]]
    else:
        candidates = [REPO / "build/dev/tools/quorvel-fx", REPO / "build/test-gcc/tools/quorvel-fx"]
    for candidate in candidates:
        if candidate and Path(candidate).is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    return None


@pytest.fixture(scope="session")
def quorvel_fx():
    """Runs the command-line tool: quorvel_fx(*args)."""
    tool = find_tool()
    if tool is None:
        pytest.skip("quorvel-fx not built (set QUORVEL_FX)")

    def run(*args):
        done = subprocess.run([tool, *map(str, args)], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        return done

    return run


def signal(channels=2, frames=24000, seed=0):
    """Noise bursts and a click, with silence between: exercises the echoes
    and the decay, and is different on every channel."""
    rng = np.random.default_rng(seed)
    audio = rng.uniform(-0.6, 0.6, (channels, frames)).astype(np.float32)
    audio[:, frames // 3: frames // 2] = 0.0
    audio[:, frames // 2] = 0.9
    return audio
