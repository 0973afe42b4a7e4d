"""The README's Python examples and its rig example run as pasted."""

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


def test_the_rig_example_runs_as_pasted(tmp_path):
    section = README.read_text().split("## Drive a rig", 1)[1].split("\n## ", 1)[0]
    (patch,) = re.findall(r"```toml\n(.*?)```", section, re.S)
    (command,) = re.findall(r"```sh\n(movimo dmx .*? --dry-run)\n```", section)
    (tmp_path / "rig.toml").write_text(patch)
    result = subprocess.run([sys.executable, "-m", "movimo_tools", *command.split()[1:]],
                            capture_output=True, text=True, cwd=tmp_path, timeout=60)
    assert result.returncode == 0, result.stderr
    assert "fastest safe tempo" in result.stdout
    assert "  left " in result.stdout and "  right " in result.stdout
