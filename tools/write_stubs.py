"""Writes the type stubs of a built extension module into its folder.

    python tools/write_stubs.py MODULE_DIR MODULE [pybind11-stubgen options]

The module's folder and the one above it (where a package's native part finds
movimo) are put first on the path here rather than through PYTHONPATH, which
an isolated build environment uses to provide pybind11-stubgen itself.

pybind11 describes an int parameter as `typing.SupportsInt |
typing.SupportsIndex`, yet its conversion refuses a float, which has
`__int__`. The stubs say `typing.SupportsIndex` instead, which a Python or
NumPy integer satisfies and a float does not, so that a type checker flags
`movimo.circle(1.5)` as the module does at run time.
"""

import importlib
import pathlib
import sys

import pybind11_stubgen

PYBIND11_INT = "typing.SupportsInt | typing.SupportsIndex"
INTEGER = "typing.SupportsIndex"


def main(module_dir: str, module: str, *options: str) -> None:
    folder = pathlib.Path(module_dir).resolve()
    sys.path[:0] = [str(folder), str(folder.parent)]
    # A native part that takes movimo's classes names them in its signatures
    # only if movimo registered them before the part was loaded.
    importlib.import_module("movimo")
    before = {stub: stub.stat().st_mtime_ns for stub in folder.rglob("*.pyi")}
    pybind11_stubgen.main([module, "--exit-code", "-o", str(folder), *options])
    for stub in folder.rglob("*.pyi"):
        if before.get(stub) != stub.stat().st_mtime_ns:
            stub.write_text(stub.read_text().replace(PYBIND11_INT, INTEGER))


if __name__ == "__main__":
    main(*sys.argv[1:])
