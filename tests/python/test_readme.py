"""The README's examples run as pasted: its Python blocks, and its `movimo`
commands in a shell that activated .venv as the README says."""

import pathlib
import re
import subprocess
import sys

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
TEXT = README.read_text()
BLOCKS = re.findall(r"```python\n(.*?)```", TEXT, re.S)
COMMANDS = [" ".join(command.split()) for command in re.findall(r"`(movimo [^`]+)`", TEXT)]


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block{i}" for i in range(len(BLOCKS))])
def test_example_runs(block, tmp_path):
    result = subprocess.run([sys.executable, "-c", block], capture_output=True, text=True,
                            cwd=tmp_path, timeout=60)
    assert result.returncode == 0, result.stderr


def test_the_readme_says_how_to_reach_the_command():
    assert "source .venv/bin/activate" in TEXT
    assert len(COMMANDS) >= 6


@pytest.mark.parametrize("command", COMMANDS)
def test_shell_command_runs_after_activation(command, tmp_path):
    activate = pathlib.Path(sys.executable).parent / "activate"
    if not activate.exists():
        pytest.skip(f"{sys.executable} is not in a virtual environment")
    # A stream runs until told to stop: 'quit' on its standard input.
    result = subprocess.run(["bash", "-c", f"source '{activate}' && {command}"], input="quit\n",
                            capture_output=True, text=True, cwd=tmp_path, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout
