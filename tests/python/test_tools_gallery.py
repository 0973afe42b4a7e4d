"""movimo gallery: the written site, its data, and the page in headless Chromium."""

import base64
import json
import pathlib
import re
import time

import numpy as np
import pytest

import movimo
import movimo_tools
from movimo_tools import entries, table
from movimo_tools.cli import main
from movimo_tools.gallery import PATTERNS_PER_FILE, ROW_SCALE, write_gallery
from movimo_tools.vocabulary import search
from browsers import chromium, wait_until

ROOT = pathlib.Path(__file__).resolve().parents[2]
ARTEFACTS = ROOT / "build" / "test-artefacts"


@pytest.fixture(scope="module")
def gallery(tmp_path_factory):
    directory = tmp_path_factory.mktemp("gallery")
    started = time.perf_counter()
    index = write_gallery(directory)
    return index, time.perf_counter() - started


def script_value(path: pathlib.Path, pattern: str):
    """The JSON value a generated script hands over, found by `pattern`."""
    return json.loads(re.search(pattern, path.read_text(), re.DOTALL).group(1))


def catalogue_rows(index):
    return script_value(index.with_name("catalogue.js"), r"MOVIMO_CATALOGUE = (.*?);\n")


def test_the_whole_gallery_is_small_and_quick_to_write(gallery):
    index, seconds = gallery
    files = [path for path in index.parent.rglob("*") if path.is_file()]
    on_disk = sum(path.stat().st_blocks * 512 for path in files)
    print(f"gallery: {seconds:.2f} s, {on_disk / 1e6:.1f} MB on disk in {len(files)} files")
    assert seconds <= 20.0
    assert on_disk <= 15e6


def test_the_catalogue_lists_every_pattern_in_order(gallery):
    index, _ = gallery
    rows = catalogue_rows(index)
    assert [row[:6] for row in rows] == [
        [e.name, e.pack, e.family, e.period_pips, e.dimensions, e.description]
        for e in entries()]


@pytest.mark.parametrize("name", ["bounce", "helix", "rhythm_group_223", "env_inhale_exhale",
                                  "beat_dembow_push_ricochet"])
def test_display_rows_are_the_table_rounded(gallery, name):
    index, _ = gallery
    position = [e.name for e in entries()].index(name)
    chunk = index.parent / "rows" / f"{position // PATTERNS_PER_FILE}.js"
    encoded = script_value(chunk, r"movimoGallery\.receive\((.*)\);")[name]
    dimensions = movimo_tools.entry(name).dimensions
    shown = np.frombuffer(base64.b64decode(encoded), "<i2").reshape(-1, dimensions) / ROW_SCALE
    assert np.abs(shown - table(name)[:, :dimensions]).max() <= 0.5 / ROW_SCALE


def path_points(d: str) -> np.ndarray:
    """The absolute points of an 'M x y l dx dy ...' path."""
    numbers = np.array([int(n) for n in re.findall(r"-?\d+", d)]).reshape(-1, 2)
    return np.cumsum(numbers, axis=0)


@pytest.mark.parametrize("name, closed, depth", [
    ("circle", True, False),            # a plane path, closed
    ("helix", True, True),              # with a depth wave below
    ("lfo_breathe", False, False),      # one axis: its wave
    ("env_lift_hold_drop", False, False),  # only y moves: its wave, not a vertical line
])
def test_thumbnails_draw_paths_or_waves(gallery, name, closed, depth):
    index, _ = gallery
    row = next(row for row in catalogue_rows(index) if row[0] == name)
    assert row[6].endswith("z") == closed
    assert bool(row[7]) == depth
    if not closed:
        points = path_points(row[6])
        assert points[0, 0] < 20 and points[-1, 0] > 180   # drawn across the box


def test_every_thumbnail_stays_in_its_box(gallery):
    index, _ = gallery
    for name, *_, path, depth, _ in catalogue_rows(index):
        points = path_points(path)
        assert (points >= 0).all() and (points <= 200).all(), name
        if depth:
            assert (np.abs(path_points(depth)[:, 1] - 220) <= 18).all(), name


def test_strokes_on_a_grid_are_told_apart_by_their_ticks(gallery):
    index, _ = gallery
    rows = [row for row in catalogue_rows(index) if row[2] in ("rudiment", "euclid")]
    assert len(rows) == 20
    for name, *_, ticks in rows:
        if name.startswith("euclid_"):   # euclid_K_N: K strokes
            assert ticks.count("M") == int(name.split("_")[1]), name
    assert len({(row[6], row[8]) for row in rows}) == len(rows)
    assert all(not row[8] for row in catalogue_rows(index) if row[2] in ("lfo", "beat"))


def test_command_prints_the_url(capsys, tmp_path):
    docs = "https://example.org/movimo/"
    assert main(["gallery", "-o", str(tmp_path / "site"), "--docs", docs]) == 0
    url = capsys.readouterr().out.strip()
    assert url == (tmp_path / "site" / "index.html").as_uri()
    assert script_value(tmp_path / "site" / "catalogue.js", r"MOVIMO_DOCS = (.*?);\n") == docs
    (tmp_path / "file").write_text("not a directory")
    assert main(["gallery", "-o", str(tmp_path / "file")]) == 1
    assert "is not a directory" in capsys.readouterr().err


def test_a_gallery_is_written_again_in_place(gallery):
    site = gallery[0].parent
    first = {path: path.read_bytes() for path in site.rglob("*") if path.is_file()}
    assert (site / ".movimo-gallery").is_file()
    write_gallery(site)
    assert {path: path.read_bytes() for path in site.rglob("*") if path.is_file()} == first


def foreign_file(site):
    site.mkdir()
    (site / "notes.txt").write_text("mine")


def link_to_elsewhere(site):
    (site.parent / "elsewhere").mkdir()
    site.symlink_to(site.parent / "elsewhere")


def rows_link_to_elsewhere(site):
    site.mkdir()
    (site / ".movimo-gallery").write_text("")
    (site.parent / "elsewhere").mkdir()
    (site / "rows").symlink_to(site.parent / "elsewhere")


@pytest.mark.parametrize("prepare, message, forced", [
    (foreign_file, "holds files that are not a movimo gallery", True),
    (link_to_elsewhere, "is a symbolic link", False),
    (rows_link_to_elsewhere, "rows is a symbolic link", False),
])
def test_directories_it_did_not_make_are_refused(capsys, tmp_path, prepare, message, forced):
    site = tmp_path / "site"
    prepare(site)
    before = {path: path.read_bytes() for path in tmp_path.rglob("*") if path.is_file()}
    assert main(["gallery", "-o", str(site)]) == 1
    err = capsys.readouterr().err
    assert err.startswith("movimo: error: ") and message in err and err.count("\n") == 1
    assert {path: path.read_bytes() for path in tmp_path.rglob("*") if path.is_file()} == before
    assert not (tmp_path / "elsewhere" / "0.js").exists()
    assert main(["gallery", "-o", str(site), "--force"]) == (0 if forced else 1)
    assert (site / "notes.txt").exists() == forced


def test_missing_parents_are_not_made(capsys, tmp_path):
    assert main(["gallery", "-o", str(tmp_path / "no" / "site")]) == 1
    assert capsys.readouterr().err == (
        f"movimo: error: {tmp_path / 'no' / 'site'}: No such file or directory\n")
    assert not (tmp_path / "no").exists()


def test_an_interrupted_run_leaves_no_page_and_no_temporary_files(monkeypatch, tmp_path):
    import movimo_tools.gallery as gallery
    renamed = []

    def interrupt_the_fourth(source, target):
        if len(renamed) == 3:
            raise KeyboardInterrupt
        renamed.append(target)
        replace(source, target)

    replace = gallery.os.replace
    monkeypatch.setattr(gallery.os, "replace", interrupt_the_fourth)
    with pytest.raises(KeyboardInterrupt):
        write_gallery(tmp_path / "site")
    assert sorted(p.name for p in (tmp_path / "site").rglob("*")) == [
        ".movimo-gallery", "0.js", "1.js", "rows"]


# The page itself, in headless Chromium driven through its WebDriver.

@pytest.fixture(scope="module")
def page(gallery):
    driver = chromium()
    try:
        driver.get(gallery[0].as_uri())
        yield driver
    finally:
        driver.quit()


def by_id(page, element_id):
    from selenium.webdriver.common.by import By
    return page.find_element(By.ID, element_id)


def set_filter(page, element_id, value):
    page.execute_script(
        "const e = document.getElementById(arguments[0]); e.value = arguments[1];"
        "e.dispatchEvent(new Event('input', {bubbles: true}));", element_id, value)
    return by_id(page, "count").text


def test_page_loads_quickly_without_console_errors(page):
    ready_ms = float(page.execute_script("return document.documentElement.dataset.readyMs"))
    print(f"gallery page interactive after {ready_ms:.0f} ms")
    assert ready_ms <= 2000
    assert by_id(page, "count").text == "1731 of 1731 patterns"
    assert page.get_log("browser") == []


@pytest.mark.parametrize("filters, shown", [
    ({"search": "paradiddle"}, 3),
    ({"search": "HELIX double"}, 1),
    ({"pack": "club"}, 144),
    ({"family": "orbit", "axes": "2"}, 16),
    ({"axes": "1"}, 31),
    ({"period": "160"}, 3),
    ({"search": "no pattern says this"}, 0),
    # A word of the trade and a plain word, by the same rules as `movimo list --text`.
    ({"search": "Ballyhoo house"}, len(search("ballyhoo house"))),
])
def test_search_and_filters_narrow_the_cards(page, filters, shown):
    for element_id in ("search", "pack", "family", "axes", "period"):
        set_filter(page, element_id, filters.get(element_id, ""))
    assert by_id(page, "count").text == f"{shown} of 1731 patterns"
    visible = page.execute_script("return document.querySelectorAll('.card:not([hidden])')"
                                  ".length")
    assert visible == shown


def test_a_search_without_matches_says_so(page):
    set_filter(page, "search", "no pattern says this")
    assert by_id(page, "no-match").is_displayed()
    assert not by_id(page, "did-you-mean").is_displayed()
    set_filter(page, "search", "helix")
    assert not by_id(page, "no-match").is_displayed()
    # A misspelt word of the trade: the nearest terms, each a search of its own.
    set_filter(page, "search", "balyhoo")
    assert by_id(page, "did-you-mean").text == "Did you mean ballyhoo?"
    by_id(page, "suggestions").find_element("css selector", "button").click()
    assert by_id(page, "count").text == f"{len(search('ballyhoo'))} of 1731 patterns"
    set_filter(page, "search", "")


def test_names_wrap_only_at_underscores(page):
    # Each part of a name between underscores lies on one line of its card.
    broken = page.execute_script("""
        const broken = [];
        for (const label of document.querySelectorAll('.card span')) {
          for (const node of label.childNodes) {
            if (node.nodeType !== Node.TEXT_NODE || node.data === '_') continue;
            const range = document.createRange();
            range.selectNodeContents(node);
            const lines = new Set([...range.getClientRects()].map((r) => Math.round(r.top)));
            if (lines.size > 1) broken.push(label.textContent);
          }
        }
        return broken;""")
    assert broken == []


def detail_reading(page):
    pip = int(by_id(page, "beat-counter").text.rsplit(" ", 1)[1])
    return pip, by_id(page, "value-x").text, time.perf_counter()


def test_detail_view_animates_against_the_beat(page):
    set_filter(page, "search", "helix")
    page.execute_script("document.querySelector('.card:not([hidden])').click()")
    assert by_id(page, "detail-name").text == "helix"
    assert wait_until(lambda: by_id(page, "beat-counter").text)
    first = detail_reading(page)
    time.sleep(0.5)
    second = detail_reading(page)
    assert second[1] != first[1]
    # 120 bpm: 128 pips a second.
    rate = (second[0] - first[0]) / (second[2] - first[2])
    assert 64 < rate < 256
    set_filter(page, "bpm", "240")
    third = detail_reading(page)
    time.sleep(0.5)
    fourth = detail_reading(page)
    assert (fourth[0] - third[0]) / (fourth[2] - third[2]) / rate > 1.5
    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    page.save_screenshot(str(ARTEFACTS / "gallery.png"))
    assert page.get_log("browser") == []


def test_paused_detail_shows_the_pattern_at_its_pip(page):
    # The last pattern: its rows come from the last rows file.
    name = "beat_dembow_push_ricochet"
    set_filter(page, "search", name)
    page.execute_script("document.querySelector('.card:not([hidden])').click()")
    assert wait_until(lambda: by_id(page, "value-z").text)
    if by_id(page, "play").text == "Pause":
        by_id(page, "play").click()
    time.sleep(0.1)
    pip, _, _ = detail_reading(page)
    shown = [float(by_id(page, f"value-{axis}").text) for axis in "xyz"]
    rows = table(name)
    here, after = rows[pip % len(rows)], rows[(pip + 1) % len(rows)]
    # Between the rows of its pip and the next, to the three decimals shown.
    assert (np.minimum(here, after) - 6e-4 <= shown).all()
    assert (shown <= np.maximum(here, after) + 6e-4).all()
    assert page.get_log("browser") == []


def test_an_address_naming_a_pattern_opens_it(page, gallery):
    page.get("about:blank")
    page.get(gallery[0].as_uri() + "#lfo_flower")
    assert by_id(page, "detail-name").text == "lfo_flower"
    page.execute_script("location.hash = '#helix'")
    assert wait_until(lambda: by_id(page, "detail-name").text == "helix")
    page.find_element("css selector", "#close").click()
    assert page.execute_script("return location.hash") == ""
    assert page.get_log("browser") == []


def test_the_detail_says_how_to_use_the_pattern_and_the_header_links_to_the_docs(
        page, gallery, capsys):
    page.get(gallery[0].as_uri() + "#lfo_flower")
    assert wait_until(lambda: by_id(page, "use-python").text)
    python = by_id(page, "use-python").text.splitlines()
    assert python == ['movimo_tools.pattern("lfo_flower").at(pip)',
                      'movimo.sample("lfo_flower", pip)']
    # What it shows runs, and gives the pattern's values.
    at_pips = [eval(line, {"movimo": movimo, "movimo_tools": movimo_tools, "pip": 96})
               for line in python]
    assert [tuple(at_pips[0]), at_pips[1].as_tuple()] == [tuple(table("lfo_flower")[96])] * 2
    set_filter(page, "bpm", "128")
    show, stream = by_id(page, "use-command").text.splitlines()
    assert stream == "movimo stream lfo_flower --bpm 128 --osc 127.0.0.1:9000"
    assert main(show.split()[1:]) == 0 and "lfo_flower" in capsys.readouterr().out
    # tools/demo.sh writes the site into build/docs/html, beside build/gallery.
    docs = gallery[0].parent.parent / "docs" / "html" / "index.html"
    assert by_id(page, "docs-link").get_attribute("href") == docs.as_uri()
    assert page.get_log("browser") == []


def test_detail_view_fits_a_phone(page, gallery):
    page.set_window_size(360, 740)
    try:
        page.get(gallery[0].as_uri() + "#rudiment_paradiddle_diddle")
        assert wait_until(lambda: by_id(page, "beat-counter").text)
        width = page.execute_script("return document.documentElement.clientWidth")
        for element_id in ("detail", "detail-view", "controls", "values"):
            box = page.execute_script(
                "return document.getElementById(arguments[0]).getBoundingClientRect()",
                element_id)
            assert box["left"] >= 0 and box["right"] <= width + 0.5, element_id
        assert page.execute_script("const d = document.getElementById('detail');"
                                   "return d.scrollWidth <= d.clientWidth")
        ARTEFACTS.mkdir(parents=True, exist_ok=True)
        page.save_screenshot(str(ARTEFACTS / "gallery-phone.png"))
    finally:
        page.set_window_size(1400, 1000)
