"""The pack generator is deterministic: two runs write identical files."""

import filecmp
import subprocess

import content_report

GENERATOR = content_report.BUILD_DIR / "src" / "packs" / "movimo_pack_generator"


def test_two_runs_write_the_same_files(tmp_path):
    first, second = tmp_path / "first", tmp_path / "second"
    for out in (first, second):
        subprocess.run([GENERATOR, out], check=True)
    files = sorted(p.relative_to(first) for p in first.rglob("*") if p.is_file())
    assert files == sorted(p.relative_to(second) for p in second.rglob("*") if p.is_file())
    assert len(files) == 10  # six blobs, the samplers, the registry, the header, the manifest
    _, mismatch, errors = filecmp.cmpfiles(first, second, [str(f) for f in files], shallow=False)
    assert (mismatch, errors) == ([], [])


def test_usage_error_without_an_output_directory():
    result = subprocess.run([GENERATOR], capture_output=True, text=True)
    assert result.returncode == 2 and "usage" in result.stderr
