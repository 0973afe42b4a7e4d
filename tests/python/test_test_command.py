"""The test command's last line, read from the JUnit reports of its stages."""

import test_summary

PYTEST_REPORT = """<?xml version="1.0" encoding="utf-8"?><testsuites><testsuite name="pytest">
<testcase classname="t" name="a"/>
<testcase classname="t" name="b"><skipped type="pytest.skip" message="no MIDI port">x</skipped></testcase>
<testcase classname="t" name="c"><skipped type="pytest.skip" message="no MIDI port">x</skipped></testcase>
<testcase classname="t" name="d"><failure message="boom"/></testcase>
</testsuite></testsuites>"""

CTEST_REPORT = """<?xml version="1.0" encoding="UTF-8"?><testsuite name="(empty)" tests="2">
<testcase name="A.b" classname="A.b" time="0.1" status="run"><properties/></testcase>
<testcase name="A.c" classname="A.c" time="0" status="notrun"><skipped message="Skipped: no network namespace"/></testcase>
</testsuite>"""


def test_counts_tests_and_groups_skips_by_reason(tmp_path):
    (tmp_path / "pytest.xml").write_text(PYTEST_REPORT)
    (tmp_path / "ctest.xml").write_text(CTEST_REPORT)
    run, skips = test_summary.count_tests(tmp_path)
    assert run == 3
    assert skips == {"no MIDI port": 2, "no network namespace": 1}
    line = test_summary.summary_line([("build", 61), ("native", 4)], "", [], run, skips, 125)
    assert line == ("test.sh: 2 of 2 stages passed (build 1m01s, native 0m04s) · 3 tests run · "
                    "3 skipped: no MIDI port (2); no network namespace · 2m05s")


def test_a_failed_stage_is_named_and_counted_with_the_stages_after_it():
    line = test_summary.summary_line([("build", 59)], "native", ["python", "clang"], 0, {}, 59)
    assert line == ("test.sh: FAILED at native · 1 of 4 stages passed (build 0m59s) · 0 tests run · "
                    "0 skipped · 0m59s")
