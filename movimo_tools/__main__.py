"""`python -m movimo_tools` runs the `movimo` command."""

import sys

from movimo_tools.cli import main

sys.exit(main())
