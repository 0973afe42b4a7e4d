"""The README's Python examples and its rig example run as pasted, every
expression whose comment starts with a value gives that value, and its
`movimo` commands run in a shell that activated .venv as the README says."""

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


def leading_value(comment):
    """The Python literal a comment starts with ("(0.5, 0.0): why" gives
    (0.5, 0.0)), or None when the comment is prose."""
    for end in [m.start() for m in re.finditer(":", comment)] + [len(comment)]:
        try:
            return ast.literal_eval(comment[:end].strip())
        except (SyntaxError, ValueError):
            continue
    return None


def with_value_checks(block):
    """(source, checks): the block with each commented expression statement
    replaced by an assertion that it equals its comment's value."""
    comments = {token.start[0]: token.string.lstrip("#").strip()
                for token in tokenize.generate_tokens(io.StringIO(block).readline)
                if token.type == tokenize.COMMENT}
    lines = block.splitlines()
    checks = 0
    for node in reversed(ast.parse(block).body):
        if not isinstance(node, ast.Expr) or node.end_lineno not in comments:
            continue
        value = leading_value(comments[node.end_lineno])
        if value is None:
            continue
        expression = ast.get_source_segment(block, node.value)
        lines[node.lineno - 1:node.end_lineno] = [
            f"assert ({expression}) == {value!r}, ({expression!r}, {expression})"]
        checks += 1
    return "\n".join(lines) + "\n", checks


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block{i}" for i in range(len(BLOCKS))])
def test_example_runs_and_shows_its_values(block, tmp_path):
    source, _ = with_value_checks(block)
    result = subprocess.run([sys.executable, "-c", source], capture_output=True, text=True,
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
    # The repository root after set-up: the patch saved as the README says, and build/.
    (tmp_path / "rig.toml").write_text(RIG_PATCH)
    (tmp_path / "build").mkdir()
    # A stream runs until told to stop: 'quit' on its standard input.
    result = subprocess.run(["bash", "-c", f"source '{activate}' && {command}"], input="quit\n",
                            capture_output=True, text=True, cwd=tmp_path, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout


def test_the_examples_show_values_to_check():
    assert sum(with_value_checks(block)[1] for block in BLOCKS) >= 9


@pytest.mark.parametrize("comment, value", [
    ("(0.243, 0.55, 0.0): kick and clap", (0.243, 0.55, 0.0)),
    ("True: loops both ways", True),
    ("'lfo_breathe'", "lfo_breathe"),
    ("a quarter of the way round a one-beat orbit", None),
    ("one period, (256, 3), same bits as movimo.sample", None),
])
def test_a_comment_value_is_read_from_its_start(comment, value):
    assert leading_value(comment) == value


def test_a_wrong_value_fails_the_example():
    source, checks = with_value_checks("import math\nmath.floor(2.5)   # 3: rounds up\n")
    assert checks == 1
    assert subprocess.run([sys.executable, "-c", source], capture_output=True).returncode == 1


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
