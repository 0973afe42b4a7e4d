"""The `movimo` command, also run as `python -m movimo_tools`."""

import sys


def main() -> int:
    """Runs the command; Ctrl-C while its libraries load ends it quietly."""
    try:
        from movimo_tools.surfaces.console import hold_standard_files
        hold_standard_files()
        from movimo_tools.cli import main as run
    except KeyboardInterrupt:
        return 130
    return run()


if __name__ == "__main__":
    sys.exit(main())
