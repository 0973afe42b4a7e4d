"""The README's examples run as pasted: its Python blocks, showing the values
their comments show, its rig example, and its `movimo` commands in a shell
that activated .venv as the README says."""

import ast
import io
import pathlib
import re
import subprocess
import sys
import tokenize

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
TEXT = README.read_text()
BLOCKS = re.findall(r"```python\n(.*?)```", TEXT, re.S)
# Commands written out with their arguments (a bare `movimo stream` names one).
COMMANDS = [command for command in (" ".join(span.split())
                                    for span in re.findall(r"`(movimo [^`]+)`", TEXT))
            if len(command.split()) > 2]
RIG_PATCH = re.search(r"Save this as `rig.toml`:\n\n```toml\n(.*?)```", TEXT, re.S).group(1)


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block{i}" for i in range(len(BLOCKS))])
def test_example_runs(block, tmp_path):
    result = subprocess.run([sys.executable, "-c", block], capture_output=True, text=True,
                            cwd=tmp_path, timeout=60)
    assert result.returncode == 0, result.stderr


def shown_values(block: str) -> dict[int, object]:
    """The value a line's comment shows, by line number: a comment that reads
    as a Python literal, before any ': note' (`x.as_tuple()  # (1.0, 0.0, 0.0)`);
    comments in prose show none."""
    shown = {}
    for token in tokenize.generate_tokens(io.StringIO(block).readline):
        if token.type == tokenize.COMMENT:
            text = token.string.lstrip("#").strip().split(": ")[0]
            try:
                shown[token.start[0]] = ast.literal_eval(text)
            except (ValueError, SyntaxError):
                pass
    return shown


def test_examples_show_the_values_they_get():
    checked = 0
    for number, block in enumerate(BLOCKS):
        shown = shown_values(block)
        namespace: dict = {}
        for statement in ast.parse(block).body:
            code = ast.unparse(statement)
            if isinstance(statement, ast.Expr) and statement.end_lineno in shown:
                got = eval(code, namespace)
                assert got == shown[statement.end_lineno], (
                    f"README block {number}, line {statement.end_lineno}: {code} gives {got!r}")
                checked += 1
            else:
                exec(code, namespace)
    assert checked >= 8


def test_the_readme_says_how_to_reach_the_command():
    assert "source .venv/bin/activate" in TEXT
    assert len(COMMANDS) >= 6


@pytest.mark.parametrize("command", COMMANDS)
def test_shell_command_runs_after_activation(command, tmp_path):
    activate = pathlib.Path(sys.executable).parent / "activate"
    if not activate.exists():
        pytest.skip(f"{sys.executable} is not in a virtual environment")
    # The repository root after set-up: the patch saved as the README says, and build/.
    (tmp_path / "rig.toml").write_text(RIG_PATCH)
    (tmp_path / "build").mkdir()
    # A stream runs until told to stop: 'quit' on its standard input.
    result = subprocess.run(["bash", "-c", f"source '{activate}' && {command}"], input="quit\n",
                            capture_output=True, text=True, cwd=tmp_path, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout


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
