"""Sphinx directives and checks that draw the site from the library itself.

- `movimo-packs`: a table of the packs, their pattern counts and families.
- `movimo-family-figures` / `movimo-motion-figures`: thumbnails of each
  family's members and of each beat_ motion across genres, drawn from the
  pattern tables at build time (the gallery's drawings, as SVG files).
- `movimo-command-reference`: the help of the `movimo` command and each of
  its subcommands, read from its own parser.
- `movimo-gallery-link`: a link to the gallery, which the build writes
  beside the site.

After reading, the build warns (an error under -W) about every public name
of `movimo` and `movimo_tools`, and every public C++ header, that no
reference page documents.
"""

from __future__ import annotations

import argparse
import html
import importlib
import inspect
import os
import pathlib
import pkgutil

from docutils import nodes
from docutils.parsers.rst import Directive, directives
from sphinx.util import logging

import movimo
import movimo_tools
from movimo_tools.batch import table
from movimo_tools.catalogue import entries, entry
from movimo_tools.cli import build_parser
from movimo_tools.gallery import drawing, write_gallery

logger = logging.getLogger(__name__)
ROOT = pathlib.Path(__file__).resolve().parents[2]
FIGURES = "_movimo"            # folder of the generated pictures in the output
GALLERY = "gallery"            # folder of the gallery in the output
HELP_COLUMNS = "88"            # width of the command's help text on the page
THUMBNAIL_STYLE = ("path{fill:none;stroke:#2f6fdf;stroke-width:2.5;stroke-linejoin:round}"
                   "path.depth{stroke:#d9822b;stroke-width:2}"
                   "path.ticks{stroke:#1d2430;stroke-width:3}line{stroke:#e3e6ec}")


def _thumbnail_svg(name: str) -> str:
    """One pattern's gallery thumbnail as a standalone SVG file."""
    path, depth, ticks = drawing(entry(name), table(name))
    parts = ['<line x1="8" y1="100" x2="192" y2="100"/>',
             '<line x1="100" y1="8" x2="100" y2="192"/>', f'<path d="{path}"/>']
    if depth:
        parts.append(f'<path class="depth" d="{depth}"/>')
    if ticks:
        parts.append(f'<path class="ticks" d="{ticks}"/>')
    return ('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 240" width="100" '
            f'height="120"><style>{THUMBNAIL_STYLE}</style>{"".join(parts)}</svg>\n')


def _relative_root(env) -> str:
    """The path from the page being read back to the site's root."""
    depth = env.docname.count("/")
    return "../" * depth


def _figure_row(env, names: list[str], caption: str) -> nodes.Node:
    """A row of thumbnails with the names beneath, then a caption."""
    out = pathlib.Path(env.app.outdir) / FIGURES
    out.mkdir(parents=True, exist_ok=True)
    cells = []
    for name in names:
        svg = out / f"{name}.svg"
        if not svg.exists():
            svg.write_text(_thumbnail_svg(name), encoding="ascii")
        src = f"{_relative_root(env)}{FIGURES}/{name}.svg"
        label = html.escape(name).replace("_", "_<wbr>")
        cells.append(f'<figure class="movimo-thumb"><img src="{src}" alt="{html.escape(name)}" '
                     f'width="100" height="120"><figcaption>{label}</figcaption></figure>')
    return nodes.raw("", f'<div class="movimo-figure"><div class="movimo-thumbs">{"".join(cells)}'
                         f'</div><p class="movimo-caption">{html.escape(caption)}</p></div>',
                     format="html")


class PackTable(Directive):
    """A table: pack, number of patterns, families."""

    def run(self):
        packs: dict[str, list] = {}
        for pattern in entries():
            packs.setdefault(pattern.pack, []).append(pattern.family)
        rows = "".join(
            f"<tr><td>{pack}</td><td>{len(families)}</td>"
            f"<td>{', '.join(dict.fromkeys(families))}</td></tr>"
            for pack, families in packs.items())
        return [nodes.raw("", '<table class="docutils"><thead><tr><th>pack</th><th>patterns'
                              f'</th><th>families</th></tr></thead><tbody>{rows}</tbody></table>',
                          format="html")]


class FamilyFigures(Directive):
    """A section per family but beat: up to `:members:` thumbnails of it."""

    option_spec = {"members": directives.positive_int}

    def run(self):
        env = self.state.document.settings.env
        shown = self.options.get("members", 8)
        families: dict[str, list] = {}
        for pattern in entries():
            if pattern.family != "beat":
                families.setdefault(pattern.family, []).append(pattern)
        result = []
        for family, members in families.items():
            section = nodes.section(ids=[f"family-{family}"])
            section += nodes.title(text=family)
            packs = ", ".join(dict.fromkeys(p.pack for p in members))
            caption = (f"{family}: {len(members)} patterns ({packs} pack); "
                       f"{'the first ' + str(shown) if len(members) > shown else 'all'} shown. "
                       f"{members[0].name}: {members[0].description}")
            section += _figure_row(env, [p.name for p in members[:shown]], caption)
            result.append(section)
        return result


class MotionFigures(Directive):
    """A section per beat_ motion: the motion danced to a few genres."""

    option_spec = {"genres": directives.positive_int}

    def run(self):
        env = self.state.document.settings.env
        shown = self.options.get("genres", 6)
        motions: dict[str, list] = {}
        for pattern in entries():
            if pattern.family == "beat":
                motions.setdefault(pattern.name.rsplit("_", 1)[1], []).append(pattern)
        result = []
        for motion, members in motions.items():
            # Genres spread over the list, not the first few of one pack.
            picked = members[::max(1, len(members) // shown)][:shown]
            section = nodes.section(ids=[f"motion-{motion}"])
            section += nodes.title(text=motion)
            caption = (f"beat_…_{motion}: {len(members)} genres, {len(picked)} shown. "
                       f"{picked[0].name}: {picked[0].description}")
            section += _figure_row(env, [p.name for p in picked], caption)
            result.append(section)
        return result


def _subcommands(parser: argparse.ArgumentParser) -> dict[str, argparse.ArgumentParser]:
    action = next(a for a in parser._actions if isinstance(a, argparse._SubParsersAction))
    return dict(action.choices)


class CommandReference(Directive):
    """The help of `movimo` and of each subcommand, a section each."""

    def run(self):
        saved = os.environ.get("COLUMNS")
        os.environ["COLUMNS"] = HELP_COLUMNS
        try:
            parser = build_parser()
            helps = [("movimo", parser.format_help())]
            helps += [(f"movimo {name}", sub.format_help())
                      for name, sub in _subcommands(parser).items()]
        finally:
            if saved is None:
                os.environ.pop("COLUMNS")
            else:
                os.environ["COLUMNS"] = saved
        result = []
        for title, text in helps:
            section = nodes.section(ids=[title.replace(" ", "-")])
            section += nodes.title(text=title)
            section += nodes.literal_block(text, text, language="text")
            result.append(section)
        return result


class GalleryLink(Directive):
    """A link to the gallery written beside the site."""

    has_content = True

    def run(self):
        env = self.state.document.settings.env
        text = html.escape(" ".join(self.content) or "the gallery")
        href = f"{_relative_root(env)}{GALLERY}/index.html"
        return [nodes.raw("", f'<p><a class="reference external" href="{href}">{text}</a></p>',
                          format="html")]


def public_tools_names() -> set[str]:
    """Every public name of movimo_tools: the package's `__all__`, and the
    functions and classes each of its modules (in its subpackages too) defines, by
    their full names."""
    names = {f"movimo_tools.{name}" for name in movimo_tools.__all__}
    for module_info in pkgutil.walk_packages(movimo_tools.__path__, "movimo_tools."):
        if any(part.startswith("_") for part in module_info.name.split(".")):
            continue
        module = importlib.import_module(module_info.name)
        for name, value in vars(module).items():
            if (not name.startswith("_") and (inspect.isfunction(value) or inspect.isclass(value))
                    and value.__module__ == module.__name__):
                names.add(f"{module.__name__}.{name}")
    return names


def public_movimo_names() -> set[str]:
    """Every public name of movimo, with the public members of its classes."""
    names = set()
    for name in movimo.__all__ if hasattr(movimo, "__all__") else dir(movimo):
        if name.startswith("_"):
            continue
        names.add(f"movimo.{name}")
        value = getattr(movimo, name)
        if inspect.isclass(value):
            names |= {f"movimo.{name}.{member}" for member in vars(value)
                      if not member.startswith("_")}
    return names


def _documented(env) -> set[str]:
    """Full names the Python domain holds; a name documented in the module
    that defines it also counts for the package that exports it."""
    documented = set(env.get_domain("py").objects)
    for name in list(documented):
        module, _, leaf = name.rpartition(".")
        if module.startswith("movimo_tools.") and leaf in movimo_tools.__all__:
            documented.add(f"movimo_tools.{leaf}")
    return documented


def missing_from_reference(documented: set[str], included: set[str]) -> list[str]:
    """What no reference page covers: each public Python name not among the
    `documented` full names, then each public header whose file name is not
    among the `included` files."""
    missing = sorted((public_movimo_names() | public_tools_names()) - documented)
    headers = sorted(path.name for path in (ROOT / "include" / "movimo").glob("*.h"))
    return missing + [f"include/movimo/{name}" for name in headers if name not in included]


def check_reference(app, env) -> None:
    """Warns about each public name and header no reference page documents."""
    included = {pathlib.Path(path).name for paths in env.dependencies.values() for path in paths}
    for name in missing_from_reference(_documented(env), included):
        logger.warning(f"the reference does not document {name}", type="movimo",
                       subtype="reference")


def write_site_gallery(app, exception) -> None:
    if exception is None and app.builder.format == "html":
        write_gallery(pathlib.Path(app.outdir) / GALLERY)


def setup(app):
    app.add_directive("movimo-packs", PackTable)
    app.add_directive("movimo-family-figures", FamilyFigures)
    app.add_directive("movimo-motion-figures", MotionFigures)
    app.add_directive("movimo-command-reference", CommandReference)
    app.add_directive("movimo-gallery-link", GalleryLink)
    app.connect("env-check-consistency", check_reference)
    app.connect("build-finished", write_site_gallery)
    return {"parallel_read_safe": False, "parallel_write_safe": True}
