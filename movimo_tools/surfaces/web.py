"""The browser console of a live show: a page served over HTTP, and one
WebSocket per browser that carries the show's state out and commands in.

`WebConsole(show, host, port)` starts serving at once, in a thread of its
own with its own event loop; `url` is the page's address and `close()`
stops it. The page shows every group's palette as thumbnails, its faders,
the cues, the tempo and a live top view of the stage; it changes nothing
itself, but sends commands and draws the state the show sends back, so
every browser shows the same.

Security: on any address but 127.0.0.1, ::1 or localhost the console needs
a token, made for it when none is given (`url` carries it): every page,
asset and WebSocket without it is refused with 403. On those three it
needs none unless one is given, but answers only requests that name a
loopback host, so that a web page elsewhere cannot reach it by pointing a
name of its own at this machine. A WebSocket whose Origin names another
host:port than its Host header is refused too. Requests never name files:
the page's three files are read from the package when the console starts.

The WebSocket, at ``/socket`` (with the page's ``?token=...``):

Server to browser, JSON text unless said otherwise:

- on connecting, ``{"type": "hello", "layout": ..., "state": ...,
  "thumbnails": {pattern: path data}}``: the stage's `layout()`, the show's
  `state()`, and the SVG path data of every palette pattern's thumbnail (in
  a 200 x 240 box, as the gallery draws them);
- ``{"type": "thumbnails", "thumbnails": {...}}`` before a state whose
  palette holds patterns this browser has not been drawn yet;
- ``{"type": "state", "state": ...}`` whenever the state changes;
- binary messages, at most 30 a second: the view of the latest frame and
  nothing else, float32 little-endian, two per member in layout order (a
  rig's pan and tilt in degrees from home; OSC targets' x and y in -1..1).
  A browser that reads slowly skips frames; none waits for it.

Browser to server: one command a message, as JSON text in the form
`movimo_tools.show.commands.from_message` reads, such as ``{"type":
"pattern", "group": "front", "pattern": "helix", "when": "bar", "fade":
2}``. A message over 4 KiB, binary data, text that is not a JSON object,
or a message beyond a browser's allowance (50 a second, 100 at once) is
dropped and counted in `WebConsole.ignored`; a command the show refuses is
counted in the show's own state.
"""

from __future__ import annotations

import asyncio
import functools
import html
import json
import pathlib
import secrets
import socket
import threading
import time
import urllib.parse
from typing import Any

import numpy as np
import uvicorn
from starlette.applications import Starlette
from starlette.requests import HTTPConnection, Request
from starlette.responses import Response
from starlette.routing import BaseRoute, Route, WebSocketRoute
from starlette.websockets import WebSocket, WebSocketDisconnect

from movimo_tools.batch import loop_rows
from movimo_tools.gallery import thumbnail
from movimo_tools.show.commands import CommandError
from movimo_tools.show.engine import Show

ASSETS = pathlib.Path(__file__).with_name("web_assets")
# Each path the console answers, with the asset it serves and its type.
PAGES = {"/": ("index.html", "text/html; charset=utf-8"),
         "/console.js": ("console.js", "text/javascript; charset=utf-8"),
         "/console.css": ("console.css", "text/css; charset=utf-8")}
SOCKET_PATH = "/socket"
LOOPBACK_HOSTS = ("127.0.0.1", "::1", "localhost")
HEADERS = {"Cache-Control": "no-store", "X-Content-Type-Options": "nosniff",
           "Referrer-Policy": "no-referrer",
           "Content-Security-Policy": "default-src 'self'; img-src 'self' data:; "
                                      "frame-ancestors 'none'"}
MAX_MESSAGE_BYTES = 4096
# A message longer than this closes its socket before it is read whole
# (counted like any other dropped message).
MAX_WEBSOCKET_BYTES = 65536
TOO_BIG_CLOSE_CODE = 1009
SEND_BUFFER_BYTES = 65536
FRAMES_PER_SECOND = 30.0
MESSAGES_PER_SECOND, MESSAGE_BURST = 50.0, 100.0
THUMBNAILS_KEPT = 512
CLOSE_SECONDS = 3.0


@functools.lru_cache(maxsize=THUMBNAILS_KEPT)
def pattern_thumbnail(name: str) -> str:
    """The SVG path data of a built-in pattern's thumbnail: its path (or
    wave), then its depth wave where it has depth.

    >>> [pattern_thumbnail(name).count("M") for name in ("circle", "helix")]
    [1, 2]
    """
    return "".join(thumbnail(loop_rows(name)))


def address_text(host: str, port: int) -> str:
    """HOST:PORT, with an IPv6 address in brackets.

    >>> address_text("::1", 8000), address_text("127.0.0.1", 80)
    ('[::1]:8000', '127.0.0.1:80')
    """
    return f"[{host}]:{port}" if ":" in host else f"{host}:{port}"


def _listening_socket(host: str, port: int) -> socket.socket:
    try:
        family, kind, _, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM,
                                                         flags=socket.AI_PASSIVE)[0]
        listener = socket.socket(family, kind)
        try:
            # A console started again finds its port free at once.
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            # Inherited by each browser's socket: one that reads slowly gets
            # recent frames, not seconds of old ones in a buffer grown for it.
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, SEND_BUFFER_BYTES)
            listener.bind(address)
            listener.listen(128)
        except BaseException:
            listener.close()
            raise
        return listener
    except OSError as error:
        raise ValueError(f"cannot serve the console on {address_text(host, port)}: "
                         f"{error.strerror or error}") from None


def _header_host(value: str) -> str | None:
    try:
        return urllib.parse.urlsplit(f"//{value}").hostname
    except ValueError:
        return None


class _Browser:
    """One connected browser: its socket, whether there is news for it, what
    it has been sent, and its allowance of messages (a token bucket)."""

    def __init__(self, websocket: WebSocket, state_serial: int) -> None:
        self.websocket = websocket
        self.news = asyncio.Event()
        self.state_serial, self.frame_serial = state_serial, 0
        self.thumbnails: set[str] = set()
        self.allowance, self.counted_at = MESSAGE_BURST, time.monotonic()

    def allowed(self) -> bool:
        now = time.monotonic()
        self.allowance = min(MESSAGE_BURST,
                             self.allowance + (now - self.counted_at) * MESSAGES_PER_SECOND)
        self.counted_at = now
        if self.allowance < 1.0:
            return False
        self.allowance -= 1.0
        return True


class WebConsole:
    """The show's browser console, serving on `host`:`port` (0 takes a free
    port) from the moment it is made; a port that cannot be had is a
    one-line ValueError. `url` is the page's address, with the token the
    console needs (`token`, None for none); `ignored` counts the messages
    dropped before they reached the show."""

    def __init__(self, show: Show, host: str = "127.0.0.1", port: int = 8000, *,
                 token: str | None = None) -> None:
        self.show = show
        if not token and host not in LOOPBACK_HOSTS:
            token = secrets.token_urlsafe(24)
        self.token = token or None
        self.ignored = 0
        listener = _listening_socket(host, port)
        query = "" if token is None else "?" + urllib.parse.urlencode({"token": token})
        self.url = f"http://{address_text(host, listener.getsockname()[1])}/{query}"
        self._pages = {path: (_asset(name, query), media) for path, (name, media) in PAGES.items()}
        self._layout = show.stage.layout()
        self._browsers: set[_Browser] = set()
        # Written by the frame loop's thread only, as whole tuples: (serial, latest).
        self._state: tuple[int, dict[str, Any]] = (0, show.state())
        self._frame: tuple[int, bytes] = (0, b"")
        self._state_text: tuple[int, str] = (-1, "")
        self._next_wake = 0.0
        self._closing = False
        self._loop = asyncio.new_event_loop()
        config = uvicorn.Config(self._app(), loop="asyncio", http="h11", ws="websockets-sansio",
                                lifespan="off", log_config=None, log_level="warning",
                                access_log=False, ws_max_size=MAX_WEBSOCKET_BYTES,
                                ws_per_message_deflate=False, timeout_graceful_shutdown=1)
        self._server = uvicorn.Server(config)
        # Outside the main thread uvicorn installs no signal handlers: the
        # show's own handlers stay in charge of Ctrl-C and SIGTERM.
        self._thread = threading.Thread(target=self._serve, args=(listener,), daemon=True,
                                        name="movimo web console")
        self._thread.start()
        show.add_listener(self._heard)

    def close(self) -> None:
        """Stops serving, closing every browser's socket; returns within a few seconds."""
        self._closing = True
        self._server.should_exit = True
        self._thread.join(CLOSE_SECONDS)

    def _serve(self, listener: socket.socket) -> None:
        with asyncio.Runner(loop_factory=lambda: self._loop) as runner:
            runner.run(self._server.serve(sockets=[listener]))

    # ------------------------------------------------------------ the frame loop's side

    def _heard(self, state: dict[str, Any] | None, view: np.ndarray) -> None:
        """Keeps the latest state and view and wakes the browsers' loop, at
        most FRAMES_PER_SECOND times a second: a frame waits for this."""
        if state is not None:
            self._state = (self._state[0] + 1, state)
        now = time.monotonic()
        if self._closing or now < self._next_wake:
            return
        # On a grid, so that frames a little early or late still make the rate.
        self._next_wake = max(self._next_wake + 1.0 / FRAMES_PER_SECOND, now)
        self._frame = (self._frame[0] + 1, np.asarray(view, dtype="<f4").tobytes())
        try:
            self._loop.call_soon_threadsafe(self._wake)
        except RuntimeError:  # the loop closed as this frame went out
            pass

    def _wake(self) -> None:
        for browser in self._browsers:
            browser.news.set()

    # ------------------------------------------------------------ the web side

    def _app(self) -> Starlette:
        routes: list[BaseRoute] = [Route(path, self._page) for path in PAGES]
        routes.append(WebSocketRoute(SOCKET_PATH, self._connect))
        return Starlette(routes=routes)

    def _allowed(self, connection: HTTPConnection) -> bool:
        if self.token is None:
            return _header_host(connection.headers.get("host", "")) in LOOPBACK_HOSTS
        given = connection.query_params.get("token", "")
        return secrets.compare_digest(given.encode(), self.token.encode())

    async def _page(self, request: Request) -> Response:
        if not self._allowed(request):
            return Response("forbidden: open the address the console printed, with its token\n",
                            403, HEADERS, "text/plain")
        body, media = self._pages[request.url.path]
        return Response(body, 200, HEADERS, media)

    async def _connect(self, websocket: WebSocket) -> None:
        origin = websocket.headers.get("origin")
        if not self._allowed(websocket) or (
                origin is not None and
                urllib.parse.urlsplit(origin).netloc.lower()
                != websocket.headers.get("host", "").lower()):
            await websocket.close(code=1008)  # before accepting: uvicorn answers 403
            return
        await websocket.accept()
        browser = _Browser(websocket, self._state[0])
        self._browsers.add(browser)
        sending = asyncio.create_task(self._send_to(browser))
        try:
            await self._receive_from(browser)
        finally:
            self._browsers.discard(browser)
            sending.cancel()

    async def _send_to(self, browser: _Browser) -> None:
        """Sends the hello, then the latest state and frame whenever there
        is news, until the browser is gone. A slow browser holds up only
        this task, and finds only the latest when it catches up."""
        websocket = browser.websocket
        try:
            state = self.show.state()
            await websocket.send_text(json.dumps({
                "type": "hello", "layout": self._layout, "state": state,
                "thumbnails": await self._new_thumbnails(browser, state)}))
            while True:
                await browser.news.wait()
                browser.news.clear()
                serial, state = self._state
                if serial != browser.state_serial:
                    browser.state_serial = serial
                    if thumbnails := await self._new_thumbnails(browser, state):
                        await websocket.send_text(json.dumps({"type": "thumbnails",
                                                              "thumbnails": thumbnails}))
                    await websocket.send_text(self._state_message(serial, state))
                serial, frame = self._frame
                if serial != browser.frame_serial:
                    browser.frame_serial = serial
                    await websocket.send_bytes(frame)
        except (WebSocketDisconnect, RuntimeError):
            pass  # the browser went away; its receiving side ends the connection

    def _state_message(self, serial: int, state: dict[str, Any]) -> str:
        """The state as sent, encoded once for every browser."""
        if self._state_text[0] != serial:
            self._state_text = (serial, json.dumps({"type": "state", "state": state}))
        return self._state_text[1]

    async def _new_thumbnails(self, browser: _Browser, state: dict[str, Any]) -> dict[str, str]:
        missing = [name for name in state["palette"] if name not in browser.thumbnails]
        if not missing:
            return {}
        # Drawn beside the loop: a long palette's first drawing takes a while.
        drawn = await asyncio.to_thread(lambda: {name: pattern_thumbnail(name)
                                                 for name in missing})
        browser.thumbnails.update(missing)
        return drawn

    async def _receive_from(self, browser: _Browser) -> None:
        while True:
            message = await browser.websocket.receive()
            if message["type"] == "websocket.disconnect":
                if message.get("code") == TOO_BIG_CLOSE_CODE:
                    self.ignored += 1
                return
            text = message.get("text")
            if (not browser.allowed() or text is None
                    or len(text.encode()) > MAX_MESSAGE_BYTES):
                self.ignored += 1
                continue
            try:
                command = json.loads(text)
            except (ValueError, RecursionError):
                command = None
            if not isinstance(command, dict):
                self.ignored += 1
                continue
            try:
                self.show.submit(command)
            except CommandError:
                pass  # counted in the show's state


def _asset(name: str, query: str) -> bytes:
    """One of the page's files; the page's links carry the token's query."""
    data = (ASSETS / name).read_bytes()
    if name == "index.html":
        data = data.replace(b"{{query}}", html.escape(query).encode())
    return data
