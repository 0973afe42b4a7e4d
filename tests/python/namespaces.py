"""Network tests that need a network of their own."""

import subprocess
import sys
import textwrap

import pytest


def in_network_namespace(script):
    """Runs a Python script in a network namespace of its own, as root; skips
    where no namespace with a veth pair can be made."""
    done = subprocess.run(["unshare", "-n", "sh", "-c",
                           "ip link add v0 type veth peer name v1 || exit 77; "
                           'exec "$0" -c "$1"', sys.executable, textwrap.dedent(script)],
                          capture_output=True, text=True, timeout=60)
    if done.returncode == 77 or "unshare failed" in done.stderr:
        pytest.skip(f"no network namespace with a veth pair here: {done.stderr.strip()}")
    assert done.returncode == 0, done.stderr
    return done.stdout
