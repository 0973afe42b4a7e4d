"""Sphinx directives and checks that draw the site from the library itself.

- `movimo-pattern-index`: the visual index of the pattern chooser, a
  thumbnail per family of each pack (per motion in the beat_ packs), each
  leading to its section on the pack's page.
- `movimo-family-figures` / `movimo-motion-figures`: on a pack's page,
  thumbnails of each family's members and of each beat_ motion across
  genres.
  The thumbnails are drawn from the pattern tables at build time (the
  gallery's drawings, as SVG files).
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
import dataclasses
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
from movimo_tools.catalogue import PatternEntry, entries, entry
from movimo_tools.cli import build_parser
from movimo_tools.gallery import drawing, write_gallery

logger = logging.getLogger(__name__)
ROOT = pathlib.Path(__file__).resolve().parents[2]
FIGURES = "_movimo"            # folder of the generated pictures in the output
GALLERY = "gallery"            # folder of the gallery in the output
PACK_PAGES = "guide/choosing"  # folder of the chooser's page per pack
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


@dataclasses.dataclass(frozen=True)
class Thumbnail:
    pattern: str       # the pattern drawn
    label: str         # the text beneath
    href: str = ""     # where a click leads, if anywhere
    anchor: str = ""   # an id of its own, if any


def _figure_row(env, thumbnails: list[Thumbnail], caption: str = "") -> nodes.Node:
    """A row of thumbnails with their labels beneath, then a caption."""
    out = pathlib.Path(env.app.outdir) / FIGURES
    out.mkdir(parents=True, exist_ok=True)
    cells = []
    for thumb in thumbnails:
        svg = out / f"{thumb.pattern}.svg"
        if not svg.exists():
            svg.write_text(_thumbnail_svg(thumb.pattern), encoding="ascii")
        src = f"{_relative_root(env)}{FIGURES}/{thumb.pattern}.svg"
        label = html.escape(thumb.label).replace("_", "_<wbr>")
        cell = (f'<img src="{src}" alt="{html.escape(thumb.pattern)}" width="100" height="120">'
                f'<figcaption>{label}</figcaption>')
        if thumb.href:
            cell = f'<a href="{html.escape(thumb.href)}">{cell}</a>'
        anchor = f' id="{thumb.anchor}"' if thumb.anchor else ""
        cells.append(f'<figure class="movimo-thumb"{anchor}>{cell}</figure>')
    text = f'<p class="movimo-caption">{html.escape(caption)}</p>' if caption else ""
    return nodes.raw("", f'<div class="movimo-figure"><div class="movimo-thumbs">{"".join(cells)}'
                         f'</div>{text}</div>', format="html")


def motion_of(pattern: PatternEntry) -> str:
    """The motion a beat_ pattern dances: the last word of its name."""
    return pattern.name.rsplit("_", 1)[1]


def section_id(pattern: PatternEntry) -> str:
    """The id of the section of a pack's page that shows `pattern`: its
    family's, or for the beat_ patterns its motion's."""
    if pattern.family == "beat":
        return f"motion-{motion_of(pattern)}"
    return f"family-{pattern.family}"


def _by_section(pack: str) -> dict[str, list[PatternEntry]]:
    """The patterns of `pack` by the section of its page, in catalogue order."""
    sections: dict[str, list[PatternEntry]] = {}
    for pattern in entries():
        if pattern.pack == pack:
            sections.setdefault(section_id(pattern), []).append(pattern)
    return sections


class PatternIndex(Directive):
    """A section per pack: a thumbnail of each of its families (of each
    motion in the beat_ packs), leading to its section on the pack's page.
    The first thumbnail of a family also takes that section's id, so that a
    link to the family on this page lands beside the way to it."""

    def run(self):
        env = self.state.document.settings.env
        packs = list(dict.fromkeys(pattern.pack for pattern in entries()))
        anchored: set[str] = set()
        result = []
        for pack in packs:
            page = env.app.builder.get_relative_uri(env.docname, f"{PACK_PAGES}/{pack}")
            sections = _by_section(pack)
            thumbnails = []
            for anchor, members in sections.items():
                label = anchor.partition("-")[2]
                thumbnails.append(Thumbnail(members[0].name, label, f"{page}#{anchor}",
                                            "" if anchor in anchored else anchor))
                anchored.add(anchor)
            count = sum(len(members) for members in sections.values())
            section = nodes.section(ids=[f"pack-{pack}"])
            section += nodes.title(text=f"{pack} ({count} patterns)")
            section += _figure_row(env, thumbnails)
            result.append(section)
        return result


class FamilyFigures(Directive):
    """A section per family of a pack but beat: up to `:members:` thumbnails of it."""

    required_arguments = 1    # the pack
    option_spec = {"members": directives.positive_int}

    def run(self):
        env = self.state.document.settings.env
        shown = self.options.get("members", 8)
        result = []
        for anchor, members in _by_section(self.arguments[0]).items():
            if members[0].family == "beat":
                continue
            family = members[0].family
            section = nodes.section(ids=[anchor])
            section += nodes.title(text=family)
            caption = (f"{family}: {len(members)} patterns; "
                       f"{'the first ' + str(shown) if len(members) > shown else 'all'} shown. "
                       f"{members[0].name}: {members[0].description}")
            section += _figure_row(env, [Thumbnail(p.name, p.name) for p in members[:shown]],
                                   caption)
            result.append(section)
        return result


class MotionFigures(Directive):
    """A section per beat_ motion of a pack: the motion danced to a few genres."""

    required_arguments = 1    # the pack
    option_spec = {"genres": directives.positive_int}

    def run(self):
        env = self.state.document.settings.env
        shown = self.options.get("genres", 6)
        result = []
        for anchor, members in _by_section(self.arguments[0]).items():
            if members[0].family != "beat":
                continue
            motion = motion_of(members[0])
            # Genres spread over the list, not the first few.
            picked = members[::max(1, len(members) // shown)][:shown]
            section = nodes.section(ids=[anchor])
            section += nodes.title(text=motion)
            caption = (f"beat_…_{motion}: {len(members)} genres, {len(picked)} shown. "
                       f"{picked[0].name}: {picked[0].description}")
            section += _figure_row(env, [Thumbnail(p.name, p.name) for p in picked], caption)
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
        write_gallery(pathlib.Path(app.outdir) / GALLERY, docs="../index.html")


def setup(app):
    app.add_directive("movimo-pattern-index", PatternIndex)
    app.add_directive("movimo-family-figures", FamilyFigures)
    app.add_directive("movimo-motion-figures", MotionFigures)
    app.add_directive("movimo-command-reference", CommandReference)
    app.add_directive("movimo-gallery-link", GalleryLink)
    app.connect("env-check-consistency", check_reference)
    app.connect("build-finished", write_site_gallery)
    return {"parallel_read_safe": False, "parallel_write_safe": True}
