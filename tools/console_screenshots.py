"""Screenshots of the browser console for the documentation.

Starts a demo show (two rows of moving heads, three cues, a change waiting
for its phrase) with its console on 127.0.0.1, and saves what headless
Chromium shows on a phone and on a laptop:

    docs/_static/console-phone.png    360 px wide, the whole page
    docs/_static/console-laptop.png   1280 x 800

Run with: .venv/bin/python tools/console_screenshots.py
"""

import pathlib
import shutil
import sys
import tempfile
import threading
import time

from selenium import webdriver

from movimo_tools.clocks.tempo import tempo_clock
from movimo_tools.rig import parse_patch
from movimo_tools.show.commands import SetPattern, SetSize, SetSpeed, StoreCue
from movimo_tools.show.engine import Show
from movimo_tools.show.loop import run_frames
from movimo_tools.show.stages import RigStage
from movimo_tools.surfaces.web import WebConsole

STATIC = pathlib.Path(__file__).resolve().parents[1] / "docs" / "_static"
RATE = 44.0
SETLIST = ["helix", "circle", "sway", "lfo_flower", "lfo_breathe", "beat_disco_figure8",
           "spiro_inside_4_1", "noise_orbit_8"]
PATCH = {
    "types": {"spot": {"channels": ["pan", "pan_fine", "tilt", "tilt_fine"], "pan_range": 540,
                       "tilt_range": 270, "pan_speed": 360, "tilt_speed": 240,
                       "amplitude": [40, 25]}},
    "fixtures": [{"name": "front", "type": "spot", "universe": 1, "address": 1, "count": 8,
                  "position": [-3.5, 0.0]},
                 {"name": "truss", "type": "spot", "universe": 1, "address": 100, "count": 6,
                  "position": [-2.5, 4.0]}],
    "groups": [{"name": "front", "fixtures": [f"front-{n}" for n in range(1, 9)],
                "spread": "even"},
               {"name": "truss", "fixtures": [f"truss-{n}" for n in range(1, 7)],
                "spread": "wing", "pattern": "lfo_flower"}],
}


def demo_show(show_file: pathlib.Path) -> Show:
    """The demo rig's show with its cues stored."""
    stage = RigStage(parse_patch(PATCH, "demo"), SETLIST[0], RATE)
    show = Show(stage, [], setlist=SETLIST, on_setlist=stage.on_setlist, show_file=show_file)
    for command in (StoreCue("opening"), SetPattern("front", "circle", "now"),
                    SetSpeed("truss", 0.5, "now", 0.0), StoreCue("verse"),
                    SetPattern("front", "beat_disco_figure8", "now"), StoreCue("chorus drop"),
                    SetPattern("front", "helix", "now"), SetSize("truss", 80.0)):
        show.submit(command)
    return show


def browser() -> webdriver.Chrome:
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                     "--disable-dev-shm-usage"):
        options.add_argument(argument)
    service = webdriver.ChromeService(executable_path=shutil.which("chromedriver"))
    return webdriver.Chrome(options=options, service=service)


def photograph(driver: webdriver.Chrome, url: str, width: int, height: int | None,
               path: pathlib.Path) -> None:
    """Opens the console in a `width` x `height` viewport, lets the stage
    move, and saves the page (all of it when `height` is None)."""
    def viewport(rows: int) -> None:
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": rows, "deviceScaleFactor": 1, "mobile": width < 600})

    viewport(height or 800)
    driver.get(url)
    deadline = time.monotonic() + 10
    while not driver.execute_script("return window.movimoConsole.frames > 30"):
        if time.monotonic() > deadline:
            raise SystemExit("the console drew no frames")
        time.sleep(0.1)
    if height is None:
        viewport(driver.execute_script("return document.documentElement.scrollHeight"))
        time.sleep(0.5)
    driver.save_screenshot(str(path))
    print(f"wrote {path}")


def main() -> None:
    with tempfile.TemporaryDirectory() as directory:
        show = demo_show(pathlib.Path(directory) / "show.json")
        console = WebConsole(show, "127.0.0.1", 0)
        stop = threading.Event()
        frames = threading.Thread(target=run_frames, args=(show.send_frame, tempo_clock(126.0)),
                                  kwargs={"rate": RATE, "before_frame": show.before_frame,
                                          "stop": stop.is_set})
        frames.start()
        time.sleep(0.5)  # past pip 0, which is a phrase line itself
        show.submit(SetPattern("front", "circle", "phrase", 4.0))
        driver = browser()
        try:
            photograph(driver, console.url, 360, None, STATIC / "console-phone.png")
            photograph(driver, console.url, 1280, 800, STATIC / "console-laptop.png")
        finally:
            driver.quit()
            console.close()
            stop.set()
            frames.join()


if __name__ == "__main__":
    sys.exit(main())
