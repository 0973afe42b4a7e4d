"""The documentation site: it builds with warnings as errors, its reference
leaves no public name out, and every example in its guide prints what the
page shows."""

import doctest
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tomllib

import pytest

import movimo_tools

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
PAGES = sorted(path for path in DOCS.rglob("*.md") if "_build" not in path.parts)
PYCON = re.compile(r"^```pycon\n(.*?)^```", re.M | re.S)
CONSOLE = re.compile(r"^```console\n(.*?)^```", re.M | re.S)


def run_examples(page: pathlib.Path, root: pathlib.Path = ROOT) -> tuple[int, str]:
    """Runs a page's pycon blocks in order in one namespace; returns how
    many examples ran and doctest's report of the failures, which names the
    page and the line of each."""
    text = page.read_text(encoding="utf-8")
    name = str(page.relative_to(root))
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    parser = doctest.DocTestParser()
    namespace: dict = {"__name__": "__docs__"}
    report: list[str] = []
    count = 0
    for block in PYCON.finditer(text):
        first_line = text.count("\n", 0, block.start(1))
        test = parser.get_doctest(block.group(1), namespace, name, name, first_line)
        runner.run(test, out=report.append, clear_globs=False)
        namespace = test.globs
        count += len(test.examples)
    return count, "".join(report)


@pytest.mark.parametrize("page", [p for p in PAGES if PYCON.search(p.read_text())],
                         ids=lambda p: str(p.relative_to(DOCS)))
def test_guide_examples_print_what_the_page_shows(page, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    count, failures = run_examples(page)
    assert count > 0
    assert failures == "", failures


def shell_sessions(page: pathlib.Path):
    """(line, command, shown output) of every `$ movimo ...` line in the
    page's console blocks."""
    text = page.read_text(encoding="utf-8")
    for block in CONSOLE.finditer(text):
        first_line = text.count("\n", 0, block.start(1)) + 1
        for part in re.finditer(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", block.group(1), re.M):
            line = first_line + block.group(1).count("\n", 0, part.start())
            yield line, part.group(1), part.group(2)


SESSIONS = [(page, *session) for page in PAGES for session in shell_sessions(page)]


@pytest.mark.parametrize("page, line, command, shown", SESSIONS,
                         ids=[f"{p.relative_to(DOCS)}:{line}" for p, line, *_ in SESSIONS])
def test_shell_sessions_print_what_the_page_shows(page, line, command, shown):
    words = shlex.split(command)
    assert words[0] == "movimo"
    done = subprocess.run([sys.executable, "-P", "-m", "movimo_tools", *words[1:]], cwd=ROOT,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stdout) == (0, shown), (
        f"{page.relative_to(ROOT)}, line {line}: {command}\n{done.stdout}{done.stderr}")


def test_a_changed_output_is_reported_with_its_page_and_line(tmp_path):
    page = tmp_path / "page.md"
    page.write_text("# Page\n\n```pycon\n>>> 1 + 1\n2\n>>> 2 + 2\n5\n```\n")
    count, failures = run_examples(page, root=tmp_path)
    assert count == 2
    assert 'File "page.md", line 6' in failures and "Expected:\n    5\nGot:\n    4" in failures


def test_the_packages_the_pages_install_are_those_an_extra_lists():
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    listed = {requirement for requirements in project["optional-dependencies"].values()
              for requirement in requirements}
    # By name, as they must be installed outside a clone ('.[plot]' is the clone's form).
    named = {word for page in PAGES
             for command in re.findall(r"pip install ([^`\n]+)", page.read_text(encoding="utf-8"))
             for word in shlex.split(command, comments=True) if not word.startswith(".")}
    assert "aalink>=0.2" in named and named <= listed, named - listed


def test_the_cpp_example_prints_what_its_page_shows():
    # Built with the native tests by tools/bootstrap.sh.
    example = ROOT / "build" / "py" / "tests" / "native" / "movimo_docs_example"
    assert example.exists(), f"{example} is missing: run tools/bootstrap.sh"
    shown = re.search(r"It prints:\n\n```text\n(.*?)```", (DOCS / "guide" / "cpp.md").read_text(),
                      re.S).group(1)
    done = subprocess.run([example], capture_output=True, text=True, timeout=60, check=True)
    assert done.stdout == shown


def test_the_site_builds_without_warnings(tmp_path):
    out = tmp_path / "html"
    done = subprocess.run([sys.executable, "-P", "-m", "sphinx", "-W", "--keep-going", "-q", "-b",
                           "html", str(DOCS), str(out)], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    assert (out / "index.html").exists() and (out / "gallery" / "index.html").exists()
    # The gallery written with the site links back to it.
    assert 'MOVIMO_DOCS = "../index.html"' in (out / "gallery" / "catalogue.js").read_text()
    # The chooser's index: a thumbnail per family of each pack (per motion in
    # the beat_ packs), each leading to a section of its pack's page.
    chooser = out / "guide" / "choosing.html"
    links = re.findall(r'<figure class="movimo-thumb"[^>]*><a href="([^"#]+)#([^"]+)"',
                       chooser.read_text())
    assert sorted((pathlib.Path(page).stem, anchor) for page, anchor in links) == sorted({
        (e.pack, f"motion-{e.name.rsplit('_', 1)[1]}" if e.family == "beat"
         else f"family-{e.family}") for e in movimo_tools.entries()})
    for page, anchor in links:
        assert f'<section id="{anchor}">' in (chooser.parent / page).read_text(), (page, anchor)
    assert "movimo stream" in (out / "guide" / "command.html").read_text()


def test_a_broken_reference_or_a_missing_entry_fails_the_build_with_its_name(tmp_path):
    shutil.copytree(DOCS, tmp_path / "docs")
    for folder in ("include", "examples"):
        (tmp_path / folder).symlink_to(ROOT / folder)
    with open(tmp_path / "docs" / "guide" / "concepts.md", "a", encoding="utf-8") as page:
        page.write("\nSee [nowhere](nowhere.md), [a heading](arrays.md#no-such-heading) and "
                   "{py:func}`movimo_tools.no_such_function`.\n")
    reference = tmp_path / "docs" / "reference" / "movimo.md"
    text = reference.read_text(encoding="utf-8")
    reference.write_text(re.sub(r"```\{py:function\} helix\(.*?```\n", "", text, flags=re.S),
                         encoding="utf-8")
    done = subprocess.run([sys.executable, "-P", "-m", "sphinx", "-W", "--keep-going", "-q", "-b",
                           "html", str(tmp_path / "docs"), str(tmp_path / "html")],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode != 0
    for name in ("nowhere", "no-such-heading", "movimo_tools.no_such_function",
                 "does not document movimo.helix"):
        assert name in done.stderr


def test_the_reference_check_names_what_is_missing():
    sys.path.insert(0, str(DOCS / "_ext"))
    try:
        import movimo_docs
    finally:
        sys.path.remove(str(DOCS / "_ext"))
    everything = movimo_docs.public_movimo_names() | movimo_docs.public_tools_names()
    headers = {path.name for path in (ROOT / "include" / "movimo").glob("*.h")}
    assert movimo_docs.missing_from_reference(everything, headers) == []
    assert movimo_docs.missing_from_reference(
        everything - {"movimo.helix", "movimo_tools.commands.stream.run_stream"},
        headers - {"patterns.h"}) == [
        "movimo.helix", "movimo_tools.commands.stream.run_stream", "include/movimo/patterns.h"]
    assert {"movimo.Offset3.x", "movimo_tools.table", "movimo_tools.clocks.tempo.TempoClock"} <= everything
