"""Sphinx configuration of the movimo site: `sphinx-build -W docs build/docs`."""

import pathlib
import sys
import importlib.metadata

sys.path.insert(0, str(pathlib.Path(__file__).parent / "_ext"))

project = "movimo"
author = "the movimo developers"
copyright = "the movimo developers"
release = version = importlib.metadata.version("movimo")

extensions = ["myst_parser", "sphinx.ext.autodoc", "movimo_docs"]
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["_build", "_ext"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

autodoc_member_order = "bysource"
# Docstrings write names and expressions in single backquotes: show them as code.
default_role = "code"
autodoc_default_options = {"members": True, "show-inheritance": True}
# Defaults as written (`now=time.perf_counter`), not as their values print:
# a value such as <built-in function perf_counter> leaves the signature
# unparsable, and the parameters after it unreadable.
autodoc_preserve_defaults = True

# Every cross-reference must resolve. The site builds offline, so types of
# NumPy, matplotlib and the standard library are named but not linked.
nitpicky = True
# Type variables of the annotations are no documented names either.
nitpick_ignore_regex = [
    ("py:class", r"(numpy|queue|pathlib|argparse|os|collections|typing|socket|pythonosc|"
                 r"matplotlib)\..*"),
    ("py:obj", r"(typing|collections)\..*"),
    ("py:class", r"movimo_tools\.(commands\.options\.Number|rig\.mvr\.Parsed)"),
]

html_theme = "furo"
html_title = f"movimo {release}"
html_static_path = ["_static"]
html_css_files = ["movimo.css"]
