"""The README's Python examples run as pasted."""

import pathlib
import re
import subprocess
import sys

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block{i}" for i in range(len(BLOCKS))])
def test_example_runs(block, tmp_path):
    result = subprocess.run([sys.executable, "-c", block], capture_output=True, text=True,
                            cwd=tmp_path, timeout=60)
    assert result.returncode == 0, result.stderr
