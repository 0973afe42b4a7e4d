"""The browser console: a show streaming OSC to a receiver on loopback, its
frames run in a thread, played from headless Chromium and from Python
WebSocket clients."""

import asyncio
import json
import socket
import threading
import time
import urllib.error
import urllib.request

import pytest
import websockets

from movimo_tools.clocks.tempo import tempo_clock
from movimo_tools.commands.stream import stream_show
from movimo_tools.outputs.osc import OscOutput, OscSender, make_targets
from movimo_tools.show.commands import SetTempo
from movimo_tools.show.loop import run_frames
from movimo_tools.surfaces.web import CLOSE_SECONDS, MAX_MESSAGE_BYTES, WebConsole
from browsers import chromium, wait_until
from namespaces import in_network_namespace
from test_tools_stream import Receiver, expected_row

RATE = 50.0


class RunningShow:
    """`helix` and `bounce` streamed at 60 bpm to an OSC receiver (or
    nowhere, with `spread` targets each), with a console on 127.0.0.1."""

    def __init__(self, show_file=None, spread=1, to_receiver=True):
        self.receiver = Receiver() if to_receiver else None
        outputs = []
        if to_receiver:
            self.sender = OscSender("127.0.0.1", self.receiver.port, double=True)
            outputs = [OscOutput(self.sender.send_frame)]
        self.show, _ = stream_show(make_targets(["helix", "bounce"], spread), outputs,
                                   prefix="/movimo", interpolation="step", show_file=show_file)
        self.console = WebConsole(self.show, port=0)
        self.stopping = threading.Event()
        self.frames = threading.Thread(target=run_frames,
                                       args=(self.show.send_frame, tempo_clock(60.0)),
                                       kwargs={"rate": RATE, "before_frame": self.show.before_frame,
                                               "stop": self.stopping.is_set})
        self.frames.start()

    def group(self, name):
        return next(group for group in self.show.state()["groups"] if group["name"] == name)

    def beat(self):
        """The beat of the last frame the receiver has."""
        return next(args[1] for _, address, args in reversed(self.receiver.messages)
                    if address == "/movimo/clock")

    def close(self):
        self.console.close()
        self.stopping.set()
        self.frames.join()
        if self.receiver:
            self.sender.close()
            self.receiver.close()


@pytest.fixture
def running(tmp_path):
    show = RunningShow(show_file=tmp_path / "show.json")
    yield show
    show.close()


@pytest.fixture(scope="module")
def chromiums():
    started = []
    yield started
    for driver in started:
        driver.quit()


@pytest.fixture
def browsers(chromiums):
    """`browsers(n)`: n headless Chromiums, left on a blank page after the test."""
    def take(count):
        while len(chromiums) < count:
            chromiums.append(chromium())
        return chromiums[:count]
    yield take
    for driver in chromiums:
        driver.get("about:blank")
        driver.get_log("browser")
        driver.set_window_size(1400, 1000)


def opened(driver, url):
    """`driver` showing the console at `url`, once it has drawn a state and a frame."""
    driver.get(url)
    assert wait_until(lambda: driver.execute_script(
        "return window.movimoConsole.state !== null && window.movimoConsole.frames > 0"))
    return driver


def script_errors(driver, expected=()):
    """The browser's console messages, but for those holding one of `expected`."""
    return [entry["message"] for entry in driver.get_log("browser")
            if not any(text in entry["message"] for text in expected)]


def css(driver, selector):
    return driver.execute_script("return document.querySelector(arguments[0])", selector)


def has_class(driver, selector, name):
    return driver.execute_script(
        "const e = document.querySelector(arguments[0]); return !!e && e.classList.contains("
        "arguments[1])", selector, name)


def wait_for_bar_start(running):
    """Waits until a bar has just begun, so that a change for the next bar stays
    pending for three beats at least."""
    assert wait_until(lambda: 0.1 < running.beat() % 4 < 1.0, 8.0)


def test_a_clicked_pattern_plays_from_the_next_bar(running, browsers):
    page = opened(browsers(1)[0], running.console.url)
    bounce = 'section[data-group="helix"] button[data-pattern="bounce"]'
    wait_for_bar_start(running)
    clicked = running.beat()
    page.execute_script("arguments[0].click()", css(page, bounce))
    assert wait_until(lambda: running.group("helix")["next"] is not None, 2.5)
    lands = running.group("helix")["next"]["beat"]
    assert lands % 4 == 0 and clicked < lands < clicked + 4
    assert wait_until(lambda: has_class(page, bounce, "pending"), 2.5)
    assert wait_until(lambda: running.beat() > lands + 1, 8.0)
    assert running.group("helix")["look"]["pattern"] == "bounce"
    assert running.group("helix")["next"] is None
    assert wait_until(lambda: has_class(page, bounce, "current"), 5.0)
    assert not has_class(page, bounce, "pending")

    beat, played = None, []
    for _, address, args in running.receiver.messages:
        if address == "/movimo/clock":
            beat = args[1]
        elif address == "/movimo/helix":
            played.append((beat, args))
    # Helix up to the bar line, and from the first frame on it, bounce.
    assert [beat for beat, row in played
            if row != expected_row("helix" if beat < lands else "bounce", beat)] == []
    assert played[0][0] < lands < played[-1][0]
    assert script_errors(page) == []


def test_browsers_show_each_others_changes(running, browsers):
    first, second = browsers(2)
    second.set_window_size(360, 800)   # a phone's width: one column, nothing to scroll across
    first, second = (opened(driver, running.console.url) for driver in (first, second))
    assert second.execute_script("const page = document.documentElement;"
                                 "return innerWidth === 360 && page.scrollWidth <= page.clientWidth")
    double = 'section[data-group="bounce"] button[data-speed="2"]'
    wait_for_bar_start(running)
    first.execute_script("arguments[0].click()", css(first, double))
    assert wait_until(lambda: has_class(second, double, "pending"), 2.5)
    assert wait_until(lambda: has_class(second, double, "on"), 8.0)
    assert has_class(first, double, "on")

    second.find_element("id", "cue-name").send_keys("verse\n")
    assert wait_until(lambda: css(first, 'button[data-cue="verse"]') is not None, 5.0)
    assert running.show.state()["cues"] == ["verse"]
    assert script_errors(first) == script_errors(second) == []


def test_a_browser_reconnects_to_the_current_state(running, browsers):
    page = opened(browsers(1)[0], running.console.url)
    port = int(running.console.url.rsplit(":", 1)[1].strip("/"))
    started = time.monotonic()
    running.console.close()   # with the browser connected
    assert time.monotonic() - started < CLOSE_SECONDS
    assert wait_until(lambda: css(page, "#link").text == "reconnecting", 5.0)
    running.show.submit(SetTempo(150.0))
    assert wait_until(lambda: running.show.state()["tempo"]["bpm"] == 150.0, 5.0)

    running.console = WebConsole(running.show, port=port)
    assert wait_until(lambda: css(page, "#link").text == "live", 8.0)
    assert page.find_element("id", "bpm").get_attribute("value") == "150"
    # Chromium reports each refused connection while the console was away.
    assert script_errors(page, expected=["WebSocket connection to"]) == []


def namespace_checks():
    """What a console bound to 127.0.0.2, which needs a token, answers."""
    output = in_network_namespace("""
        import asyncio, json, subprocess, urllib.error, urllib.request
        import websockets
        from movimo_tools.commands.stream import stream_show
        from movimo_tools.outputs.osc import make_targets
        from movimo_tools.surfaces.web import WebConsole

        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        show, _ = stream_show(make_targets(["helix"]), [], prefix="/m", interpolation="step")
        console = WebConsole(show, "127.0.0.2", 0)
        base, query = console.url.split("?")

        def status(url):
            try:
                return urllib.request.urlopen(url).status
            except urllib.error.HTTPError as error:
                return error.code

        async def first_message(url, origin=None):
            try:
                async with websockets.connect(url, origin=origin) as socket:
                    return json.loads(await socket.recv())["type"]
            except websockets.InvalidStatus as error:
                return error.response.status_code

        socket_url = base.replace("http", "ws") + "socket"
        print(json.dumps({
            "page": status(base), "page with token": status(console.url),
            "asset": status(base + "console.js"),
            "asset with token": status(base + "console.js?" + query),
            "asset with another token": status(base + "console.js?token=guess"),
            "socket": asyncio.run(first_message(socket_url)),
            "socket with token": asyncio.run(first_message(socket_url + "?" + query)),
            "socket with token from another origin": asyncio.run(first_message(
                socket_url + "?" + query, origin="http://127.0.0.2:1"))}))
        console.close()
        """)
    return json.loads(output)


def loopback_checks(console):
    """What a console on 127.0.0.1 answers."""
    def status(headers):
        try:
            return urllib.request.urlopen(urllib.request.Request(console.url,
                                                                 headers=headers)).status
        except urllib.error.HTTPError as error:
            return error.code

    async def first_message(origin):
        try:
            async with websockets.connect(console.url.replace("http", "ws") + "socket",
                                          origin=origin) as socket:
                return json.loads(await socket.recv())["type"]
        except websockets.InvalidStatus as error:
            return error.response.status_code

    own = console.url.rstrip("/")
    return {"page": status({}), "page for another host name": status({"Host": "evil.example"}),
            "socket from its page": asyncio.run(first_message(own)),
            "socket from another origin": asyncio.run(first_message("http://evil.example"))}


def test_only_browsers_with_the_token_and_the_right_origin_get_in(running):
    assert loopback_checks(running.console) == {
        "page": 200, "page for another host name": 403, "socket from its page": "hello",
        "socket from another origin": 403}
    assert namespace_checks() == {
        "page": 403, "page with token": 200, "asset": 403, "asset with token": 200,
        "asset with another token": 403, "socket": 403, "socket with token": "hello",
        "socket with token from another origin": 403}
    taken = int(running.console.url.rsplit(":", 1)[1].strip("/"))
    with pytest.raises(ValueError) as refused:
        WebConsole(running.show, port=taken)
    assert str(refused.value) == (f"cannot serve the console on 127.0.0.1:{taken}: "
                                  f"Address already in use")


SIZE = {"type": "size", "group": "helix", "percent": 50}
FLOOD = 1000


@pytest.mark.parametrize("message, by_console, by_show", [
    ("{not json", 1, 0),
    ("[1, 2]", 1, 0),
    (b"\x00\x01", 1, 0),
    (json.dumps({**SIZE, "percent": 60, "pad": "x" * MAX_MESSAGE_BYTES}), 1, 0),
    ("[" * 2000 + "]" * 2000, 1, 0),   # nested too deep to decode
    (json.dumps({"type": "warp"}), 0, 1),
    (json.dumps({**SIZE, "volume": 3}), 0, 1),
    (json.dumps({**SIZE, "percent": 900}), 0, 1),
])
def test_messages_it_cannot_take_are_counted_and_the_socket_goes_on(running, message,
                                                                     by_console, by_show):
    async def send_then_size():
        async with websockets.connect(running.console.url.replace("http", "ws") + "socket") as ws:
            await ws.send(message)
            await ws.send(json.dumps(SIZE))
            while running.group("helix")["look"]["percent"] != 50:
                await asyncio.wait_for(ws.recv(), 2.0)

    asyncio.run(send_then_size())
    assert (running.console.ignored, running.show.state()["ignored"]) == (by_console, by_show)


def test_no_browser_holds_up_the_frames_or_the_others():
    # 2 x 512 targets: a frame's view is 8 KiB, so a reader that stopped
    # fills its buffers within a second.
    running = RunningShow(spread=512, to_receiver=False)
    host, port = running.console.url[len("http://"):].strip("/").split(":")
    handshake = (f"GET /socket HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                 f"Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                 f"Sec-WebSocket-Version: 13\r\n\r\n").encode()
    stalled = socket.socket()
    stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stalled.connect((host, int(port)))
    stalled.sendall(handshake)   # and never reads again
    vanished = socket.create_connection((host, int(port)))
    vanished.sendall(handshake)
    vanished.close()

    async def frames_in_the_last_second():
        url = running.console.url.replace("http", "ws") + "socket"
        async with websockets.connect(url) as watcher:
            arrivals = []

            async def watch():
                async for message in watcher:
                    if isinstance(message, bytes):
                        arrivals.append(time.monotonic())
            watching = asyncio.create_task(watch())
            async with websockets.connect(url) as flood:
                for _ in range(FLOOD):
                    await flood.send(json.dumps(SIZE))
            await asyncio.sleep(2.0)   # the stalled reader's buffers are full after one
            watching.cancel()
            return sum(arrival > time.monotonic() - 1.0 for arrival in arrivals)

    started = time.monotonic()
    try:
        frames = asyncio.run(frames_in_the_last_second())
    finally:
        flooded = time.monotonic() - started
        running.close()
        closed = time.monotonic() - started - flooded
        stalled.close()
    assert frames >= 20
    assert closed < CLOSE_SECONDS
    # A burst of 100 went through, then 50 a second; the rest were dropped.
    taken = FLOOD - running.console.ignored
    assert 100 <= taken <= 101 + 50 * flooded
