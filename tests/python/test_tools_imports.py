"""The modules of movimo_tools import one another in one direction only: in
an import circle, even through an import inside a function, one of the two
modules can find the other half loaded."""

import ast
import graphlib
import pathlib

import movimo_tools

PACKAGE = pathlib.Path(movimo_tools.__file__).parent


def modules() -> dict[str, pathlib.Path]:
    """Each module of the installed package by its dotted name."""
    found = {}
    for path in PACKAGE.rglob("*.py"):
        parts = ("movimo_tools", *path.relative_to(PACKAGE).with_suffix("").parts)
        found[".".join(parts[:-1] if parts[-1] == "__init__" else parts)] = path
    return found


def imported(tree: ast.AST, known: set[str]) -> set[str]:
    """The modules of `known` that the code imports, at any depth, with the
    packages above them; imports for type checkers count too: data flows one
    way, whatever is only named for a type checker."""
    names = []
    if isinstance(tree, ast.Import):
        names = [alias.name for alias in tree.names]
    elif isinstance(tree, ast.ImportFrom) and tree.module:
        names = [f"{tree.module}.{alias.name}" for alias in tree.names] + [tree.module]
    found = {".".join(name.split(".")[:end]) for name in names
             for end in range(1, name.count(".") + 2)} & known
    return found.union(*(imported(node, known) for node in ast.iter_child_nodes(tree)))


def import_graph() -> dict[str, set[str]]:
    """Each module and the modules it imports, leaving out the packages that
    hold it (those are loaded before it is)."""
    files = modules()
    graph = {}
    for name, path in files.items():
        holders = {name.rsplit(".", depth)[0] for depth in range(1, name.count(".") + 1)}
        graph[name] = imported(ast.parse(path.read_text()), set(files)) - holders - {name}
    return graph


def test_no_module_imports_a_module_that_imports_it():
    graph = import_graph()
    # The graph sees imports inside functions, and those for type checkers.
    assert "movimo_tools.cli" in graph["movimo_tools.__main__"]
    assert "movimo_tools.clocks.inputs" not in graph["movimo_tools.clocks.follow"]
    try:
        graphlib.TopologicalSorter(graph).prepare()
    except graphlib.CycleError as error:
        raise AssertionError(f"import circle: {' -> '.join(error.args[1])}") from None
