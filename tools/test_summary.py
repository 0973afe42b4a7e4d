#!/usr/bin/env python3
"""The last lines of tools/test.sh: stages passed, tests run, skips with their
reasons and the time taken, then the tests passed, failed and skipped, from
the JUnit reports the stages wrote.

    test_summary.py REPORT_DIR SECONDS NAME=SECONDS... [--failed STAGE] [--pending STAGE...]

Each passed stage comes with the seconds it took.
"""

import argparse
import collections
import pathlib
import sys
import xml.etree.ElementTree as ElementTree


def count_tests(report_dir):
    """(tests run, Counter of skip reasons) over every *.xml report."""
    run, skips, _ = count_outcomes(report_dir)
    return run, skips


def count_outcomes(report_dir):
    """(tests run, Counter of skip reasons, tests failed) over every *.xml report."""
    run, failed = 0, 0
    skips = collections.Counter()
    for report in sorted(pathlib.Path(report_dir).glob("*.xml")):
        for case in ElementTree.parse(report).getroot().iter("testcase"):
            skipped = case.find("skipped")
            if skipped is None:
                run += 1
                failed += case.find("failure") is not None or case.find("error") is not None
            else:
                reason = skipped.get("message") or (skipped.text or "").strip() or "no reason given"
                skips[reason.removeprefix("Skipped: ")] += 1
    return run, skips, failed


def duration(seconds):
    minutes, rest = divmod(int(seconds), 60)
    return f"{minutes}m{rest:02d}s"


def summary_line(passed, failed, pending, run, skips, seconds):
    """`passed` is a list of (stage, seconds)."""
    total = len(passed) + bool(failed) + len(pending)
    timed = ", ".join(f"{stage} {duration(took)}" for stage, took in passed) or "none"
    stages = f"{len(passed)} of {total} stages passed ({timed})"
    verdict = f"FAILED at {failed} · {stages}" if failed else stages
    if skips:
        reasons = "; ".join(f"{reason} ({count})" if count > 1 else reason
                            for reason, count in sorted(skips.items()))
        skipped = f"{sum(skips.values())} skipped: {reasons}"
    else:
        skipped = "0 skipped"
    return f"test.sh: {verdict} · {run} tests run · {skipped} · {duration(seconds)}"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("report_dir")
    parser.add_argument("seconds", type=int)
    parser.add_argument("passed", nargs="*")
    parser.add_argument("--failed", default="")
    parser.add_argument("--pending", nargs="*", default=[])
    args = parser.parse_args(argv)
    run, skips, failed = count_outcomes(args.report_dir)
    passed = [(stage, int(took)) for stage, took in (item.split("=") for item in args.passed)]
    print(summary_line(passed, args.failed, args.pending, run, skips, args.seconds))
    # The plain closing line a CI reads, whatever ran.
    print(f"tests: {run - failed} passed, {failed} failed, {sum(skips.values())} skipped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
