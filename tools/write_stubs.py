"""Writes the movimo-stubs type stubs of a built movimo module beside it.

    python tools/write_stubs.py MODULE_DIR

The module's folder is put first on the path here rather than through
PYTHONPATH, which an isolated build environment uses to provide
pybind11-stubgen itself.

pybind11 describes an int parameter as `typing.SupportsInt |
typing.SupportsIndex`, yet its conversion refuses a float, which has
`__int__`. The stubs say `typing.SupportsIndex` instead, which a Python or
NumPy integer satisfies and a float does not, so that a type checker flags
`movimo.circle(1.5)` as the module does at run time.
"""

import pathlib
import sys

import pybind11_stubgen

PYBIND11_INT = "typing.SupportsInt | typing.SupportsIndex"
INTEGER = "typing.SupportsIndex"


def main(module_dir: str) -> None:
    sys.path.insert(0, module_dir)
    pybind11_stubgen.main(["movimo", "--root-suffix=-stubs", "--exit-code", "-o", module_dir])
    stub = pathlib.Path(module_dir, "movimo-stubs", "__init__.pyi")
    stub.write_text(stub.read_text().replace(PYBIND11_INT, INTEGER))


if __name__ == "__main__":
    main(sys.argv[1])
