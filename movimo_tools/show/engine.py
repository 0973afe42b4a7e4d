"""The show engine: every group's state, the commands that change it, and
the frames that go out.

A show owns a stage (the rig, or the OSC targets of a stream), the outputs
that carry its frames, and one state per group: what the group plays (its
*look*: pattern, speed, phase, spread, size and centre) and what it will
play next. Control surfaces hand it commands from any thread (`submit`);
the frame loop applies them before each frame (`before_frame`) and then
renders the frame (`send_frame`). Listeners hear the state after each frame
in which it changed, and see every frame's positions.

A change of pattern, speed, phase or spread lands on the pip its `when`
names, counted from the pip at which the command arrived: `now`, or the
next beat, bar or phrase line (64, 256 or 1024 pips from pip 0, which is
beat 1 of the first bar). From there the old motion blends into the new over
`fade` beats; with no fade the first frame at or after that pip is exactly
the new pattern's value for its pip. Size and centre change at once.

A group's motion pip is `pip * speed + phase * 64`, so half and double time
stay aligned to beat 1 whatever the moment they were chosen at.
"""

from __future__ import annotations

import dataclasses
import json
import math
import os
import pathlib
import queue
import tempfile
import threading
import time
from collections.abc import Callable, Sequence
from typing import Any, Protocol

import numpy as np

import movimo
from movimo_tools.catalogue import entry, known_entry
from movimo_tools.clocks.tempo import Clock
from movimo_tools.show.commands import (SPEEDS, WHENS, Command, CommandError, Double,
                                        GroupChange, Halve, NextPattern, Nudge, Quit, RecallCue,
                                        ResumeMotion, SetCentre, SetPattern, SetPhase, SetSize,
                                        SetSpeed, SetSpread, SetTempo, StopMotion, StoreCue, Tap,
                                        from_message, parse_line)
from movimo_tools.spread import spread

# Commands waiting for the next frame; a flood beyond this is refused.
MAX_WAITING_COMMANDS = 1024
# Looks blending at once in one group; a change beyond this cuts the oldest fade short.
MAX_LAYERS = 4
MAX_CUES = 256
MAX_SHOW_FILE_BYTES = 1 << 20
# Parking: a glide home takes at most this long, then the home frame is held.
PARK_GLIDE_SECONDS = 10.0
PARK_HOLD_FRAMES = 3
SHOW_FILE_VERSION = 1


@dataclasses.dataclass(frozen=True)
class Look:
    """What a group plays. `percent` scales the movement; `centre` moves its
    middle (pan and tilt degrees on a rig, pattern units for OSC targets)."""

    pattern: str
    speed: float = 1.0
    phase: float = 0.0            # beats ahead
    spread: str = "none"
    percent: float = 100.0
    centre: tuple[float, float] = (0.0, 0.0)

    def changed_by(self, command: GroupChange) -> Look:
        """The look after a change of pattern, speed, phase, spread, size or centre."""
        match command:
            case SetPattern(pattern=pattern):
                return dataclasses.replace(self, pattern=entry(pattern).name)
            case SetSpeed(speed=speed):
                return dataclasses.replace(self, speed=speed)
            case SetPhase(beats=beats):
                return dataclasses.replace(self, phase=beats)
            case SetSpread(spread=kind):
                return dataclasses.replace(self, spread=kind)
            case SetSize(percent=percent):
                return dataclasses.replace(self, percent=percent)
            case SetCentre(pan=pan, tilt=tilt):
                return dataclasses.replace(self, centre=(pan, tilt))
        raise CommandError(f"not a change of a group: {command.kind}")

    def as_dict(self) -> dict[str, Any]:
        return {"pattern": self.pattern, "speed": self.speed, "phase": self.phase,
                "spread": self.spread, "percent": self.percent, "centre": list(self.centre)}

    @classmethod
    def from_dict(cls, group: str, fields: object) -> Look:
        """A look as a show file stores it, checked as the commands check it."""
        if not isinstance(fields, dict):
            raise CommandError("a look must be an object")
        unknown = set(fields) - {"pattern", "speed", "phase", "spread", "percent", "centre"}
        if unknown:
            raise CommandError(f"unknown field {sorted(unknown)[0]!r} in a look")
        centre = fields.get("centre", [0.0, 0.0])
        if not isinstance(centre, list) or len(centre) != 2:
            raise CommandError("a look's centre must be [pan, tilt]")
        look = cls(entry(SetPattern(group, fields.get("pattern", "")).pattern).name)
        for change in (SetSpeed(group, fields.get("speed", 1.0)),
                       SetPhase(group, fields.get("phase", 0.0)),
                       SetSpread(group, fields.get("spread", "none")),
                       SetSize(group, fields.get("percent", 100.0)),
                       SetCentre(group, *centre)):
            look = look.changed_by(change)
        return look


class Stage(Protocol):
    """What the show drives: named groups of members, placed in the stage's
    own units, and the frame all groups make together."""

    @property
    def group_names(self) -> Sequence[str]: ...

    @property
    def default_looks(self) -> Sequence[Look]: ...

    def offsets(self, group: int, kind: str, period_pips: int) -> np.ndarray:
        """Each member's lag (pips) under a spread of `kind`; ValueError if the group cannot."""

    def leads(self, group: int) -> np.ndarray | None:
        """How far ahead (seconds) each member is played, for outputs whose
        lights answer late; None where none is."""

    def place(self, group: int, look: Look, values: np.ndarray) -> np.ndarray:
        """Members' positions for pattern values (members, 3) under a look."""

    def frame(self, frame: int, pip: float, bpm: float, placed: list[np.ndarray],
              stopped: bool, stop_beats: float) -> Any:
        """One frame's data for the outputs; `stopped` glides everything home,
        `stop_beats` is how long ago that was (or since motion resumed)."""

    def park_frame(self) -> Any | None:
        """The data that parks the stage, or None where nothing parks."""

    def at_home(self) -> bool:
        """Whether the last frame left everything parked."""

    def view(self) -> np.ndarray:
        """What the last frame did to each member, for a live picture."""

    def layout(self) -> dict[str, Any]:
        """What does not change: members' names, places and groups."""


class Output(Protocol):
    """A sink of frames: sends one and says how many packets or messages it took."""

    def send(self, data: Any, due: float) -> int: ...


@dataclasses.dataclass
class _Layer:
    look: Look
    offsets: np.ndarray
    period: int
    start: float   # pip where the blend into this look starts
    end: float     # pip where it is complete

    def weight(self, pip: float) -> float:
        if pip >= self.end:
            return 1.0
        return max(0.0, (pip - self.start) / (self.end - self.start))


class GroupTrack:
    """One group's looks over time: the looks blending now, oldest first,
    and at most one change waiting for its pip (a later one replaces it)."""

    def __init__(self, stage: Stage, index: int, look: Look, interpolation: str) -> None:
        self.stage, self.index, self.interpolation = stage, index, interpolation
        self.name = stage.group_names[index]
        self.layers = [self._layer(look, -math.inf, -math.inf)]
        self.pending: _Layer | None = None  # a change waiting for its pip, `start`

    def _layer(self, look: Look, start: float, end: float) -> _Layer:
        period = entry(look.pattern).period_pips
        return _Layer(look, self.stage.offsets(self.index, look.spread, period), period,
                      start, end)

    @property
    def look(self) -> Look:
        """The look the group is heading for."""
        return self.pending.look if self.pending is not None else self.layers[-1].look

    def schedule(self, look: Look, at: float, fade_pips: float) -> None:
        self.pending = self._layer(look, at, at + fade_pips)

    def adjust(self, command: SetSize | SetCentre) -> None:
        """Size and centre change at once in every look, blending or waiting."""
        for layer in self.layers:
            layer.look = layer.look.changed_by(command)
        if self.pending is not None:
            self.pending.look = self.pending.look.changed_by(command)

    def placed(self, pip: float, pips_per_second: float = 0.0) -> np.ndarray:
        """The members' places at `pip` (each member ahead by its lead, at
        `pips_per_second`), blending the looks in play."""
        if self.pending is not None and pip >= self.pending.start:
            self.layers.append(self.pending)
            self.pending = None
            del self.layers[:-MAX_LAYERS]
        # The newest complete look hides every look before it.
        for number in range(len(self.layers) - 1, 0, -1):
            if self.layers[number].weight(pip) >= 1.0:
                del self.layers[:number]
                break
        result = self._place(self.layers[0], pip, pips_per_second)
        for layer in self.layers[1:]:
            weight = layer.weight(pip)
            if weight > 0.0:
                result = result + weight * (self._place(layer, pip, pips_per_second) - result)
        return result

    def _place(self, layer: _Layer, pip: float, pips_per_second: float) -> np.ndarray:
        return self.stage.place(self.index, layer.look,
                                self._values(layer, pip, pips_per_second))

    def _values(self, layer: _Layer, pip: float, pips_per_second: float) -> np.ndarray:
        motion = pip * layer.look.speed + layer.look.phase * movimo.PIPS_PER_BEAT
        offsets = layer.offsets
        if (leads := self.stage.leads(self.index)) is not None:
            # A member played ahead lags by fewer pips of its motion.
            ahead = leads * (pips_per_second * layer.look.speed)
            offsets = offsets - np.rint(ahead).astype(np.int64)
        # Reduced to one loop first, so that any pip evaluates; the floor modulo is exact.
        return spread(layer.look.pattern, motion % layer.period, offsets, self.interpolation)


@dataclasses.dataclass
class Cue:
    name: str
    looks: dict[str, Look]


class Show:
    """A show: a stage, its outputs and the state of its groups.

    `setlist` names the patterns of the command line: groups that play the
    command's pattern (not one of their own) start on its first and `next`
    moves them on. `show_file`, when given, holds the cues; it is read at
    the start and written (atomically) when a cue is stored.
    """

    def __init__(self, stage: Stage, outputs: Sequence[Output], *, setlist: Sequence[str],
                 on_setlist: Sequence[bool], show_file: str | os.PathLike[str] | None = None,
                 interpolation: str = "step",
                 report_line: Callable[[str], object] = lambda line: None,
                 now: Callable[[], float] = time.perf_counter) -> None:
        self.stage, self.outputs = stage, list(outputs)
        self.setlist = [entry(name).name for name in setlist]
        if not self.setlist:
            raise ValueError("give at least one pattern")
        self._on_setlist = list(on_setlist)
        self._setlist_index = 0
        self.tracks = [GroupTrack(stage, i, look, interpolation)
                       for i, look in enumerate(stage.default_looks)]
        self._by_name = {track.name: track for track in self.tracks}
        self._report = report_line
        self._now = now
        self._commands: queue.Queue[tuple[float, Command]] = queue.Queue(MAX_WAITING_COMMANDS)
        self._listeners: list[Callable[[dict[str, Any] | None, np.ndarray], object]] = []
        self._lock = threading.Lock()
        self.show_file = None if show_file is None else pathlib.Path(show_file)
        self.cues = load_cues(self.show_file, self._by_name) if self.show_file else []
        self.stopped, self._stop_pip = False, -math.inf
        self.ignored = 0
        self.last_pip, self.bpm = 0.0, 0.0
        self.clock_name, self.lock_state = "internal", "free"
        self._state: dict[str, Any] | None = None
        self._changed = True

    # ------------------------------------------------------------ from surfaces

    def submit(self, command: Command | object, arrived: float | None = None) -> None:
        """Queues a command (or its message form) for the next frame; raises
        CommandError, and counts it, for one this show cannot take."""
        try:
            checked = command if isinstance(command, Command) else from_message(command)
            self._check(checked)
            self._commands.put_nowait((self._now() if arrived is None else arrived, checked))
        except queue.Full:
            self._count_ignored()
            raise CommandError("too many commands at once: this one is dropped") from None
        except CommandError:
            self._count_ignored()
            raise

    def _count_ignored(self) -> None:
        with self._lock:
            self.ignored += 1
            self._changed = True

    def _check(self, command: Command) -> None:
        if isinstance(command, GroupChange):
            if command.group not in self._by_name:
                raise CommandError(f"no group {command.group!r}: the groups are "
                                   f"{', '.join(self._by_name)}")
            if isinstance(command, SetPattern):
                try:
                    known_entry(command.pattern)
                except ValueError as error:
                    raise CommandError(str(error)) from None
            if isinstance(command, SetSpread):
                track = self._by_name[command.group]
                try:
                    self.stage.offsets(track.index, command.spread, 64)
                except ValueError as error:
                    raise CommandError(str(error)) from None

    def submit_line(self, line: str, arrived: float | None = None) -> None:
        """Queues a typed command line; one that is no command is said, not raised."""
        try:
            self.submit(parse_line(line), arrived)
        except CommandError as error:
            self._report(str(error))

    def add_listener(self, listener: Callable[[dict[str, Any] | None, np.ndarray], object],
                     ) -> None:
        """`listener(state, view)` after every frame, from the frame loop:
        `state` when it changed since the last frame (else None), `view` the
        frame's positions. It must return at once: a frame waits for it."""
        self._listeners.append(listener)

    def state(self) -> dict[str, Any]:
        """Everything a control surface shows, as plain data."""
        with self._lock:
            if self._state is None or self._changed:
                self._state = self._describe()
                self._changed = False
            return self._state

    def _describe(self) -> dict[str, Any]:
        groups = []
        for track, on_setlist in zip(self.tracks, self._on_setlist):
            pending = track.pending
            groups.append({
                "name": track.name, "look": track.layers[-1].look.as_dict(),
                "next": None if pending is None else {
                    **pending.look.as_dict(), "beat": pending.start / movimo.PIPS_PER_BEAT},
                "setlist": on_setlist})
        return {"tempo": {"bpm": self.bpm, "clock": self.clock_name, "state": self.lock_state},
                "beat": self.last_pip / movimo.PIPS_PER_BEAT,
                "stopped": self.stopped, "groups": groups, "setlist": self.setlist,
                "palette": self.palette(), "cues": [cue.name for cue in self.cues],
                "ignored": self.ignored, "whens": list(WHENS), "speeds": list(SPEEDS)}

    def palette(self) -> list[str]:
        """The patterns a console offers: the set list, then every pattern a
        group or cue plays."""
        names = list(self.setlist)
        looks = [track.look for track in self.tracks]
        looks += [look for cue in self.cues for look in cue.looks.values()]
        for look in looks:
            if look.pattern not in names:
                names.append(look.pattern)
        return names

    # ------------------------------------------------------------ from the frame loop

    def before_frame(self, clock: Clock, not_before: float, due: float) -> bool:
        """Applies the waiting commands; returns False after quit. A command
        takes effect when it arrived, but not before the last frame sent nor
        after the frame about to go."""
        self.clock_name = getattr(getattr(clock, "source", None), "name", "internal")
        self.lock_state = clock.lock_state
        while True:
            try:
                arrived, command = self._commands.get_nowait()
            except queue.Empty:
                return True
            if isinstance(command, Quit):
                return False
            at = min(max(arrived, not_before), due)
            try:
                self._apply(command, clock, at)
            except ValueError as error:
                self._count_ignored()
                self._report(str(error))
            with self._lock:
                self._changed = True

    def _apply(self, command: Command, clock: Clock, at: float) -> None:
        match command:
            case SetTempo(bpm=bpm):
                clock.set_bpm(at, bpm)
                self._report(f"tempo {clock.bpm:g} bpm")
            case Halve() | Double():
                clock.set_bpm(at, clock.bpm * (0.5 if isinstance(command, Halve) else 2.0))
                self._report(f"tempo {clock.bpm:g} bpm")
            case Tap():
                if clock.tap(at):
                    self._report(f"tap: tempo {clock.bpm:.2f} bpm")
                else:
                    self._report("tap: tap again on each beat to set the tempo")
            case Nudge(beats=beats):
                clock.nudge(at, beats * movimo.PIPS_PER_BEAT)
                self._report(f"nudged {'ahead' if beats > 0 else 'back'} by {abs(beats):g} beat")
            case StopMotion() | ResumeMotion():
                stop = isinstance(command, StopMotion)
                if stop != self.stopped:
                    self.stopped, self._stop_pip = stop, clock.pip_at(at)
                    self._report("motion stopped: gliding home" if stop else "motion resumed")
            case SetSize() | SetCentre():
                self._by_name[command.group].adjust(command)
            case GroupChange():
                track = self._by_name[command.group]
                self._land(track, track.look.changed_by(command), clock.pip_at(at),
                           command.when, command.fade)  # type: ignore[attr-defined]
            case NextPattern():
                self._report(f"playing {self.next_pattern(clock.pip_at(at))}")
            case RecallCue(cue=name, when=when, fade=fade):
                cue = self._cue(name)
                pip = clock.pip_at(at)
                for group, look in cue.looks.items():
                    if group in self._by_name:
                        self._land(self._by_name[group], look, pip, when, fade)
                self._report(f"cue {cue.name} at the next {when}" if when != "now"
                             else f"cue {cue.name}")
            case StoreCue(cue=name):
                self._store(name)

    def next_pattern(self, pip: float) -> str:
        """Moves the groups on the set list to its next pattern from `pip` on;
        returns that pattern."""
        self._setlist_index = (self._setlist_index + 1) % len(self.setlist)
        pattern = self.setlist[self._setlist_index]
        for track, on_setlist in zip(self.tracks, self._on_setlist):
            if on_setlist:
                self._land(track, dataclasses.replace(track.look, pattern=pattern), pip, "now",
                           0.0)
        with self._lock:
            self._changed = True
        return pattern

    def _land(self, track: GroupTrack, look: Look, pip: float, when: str, fade: float) -> None:
        unit = WHENS[when]
        at = pip if when == "now" else math.ceil(pip / unit) * unit
        track.schedule(look, at, fade * movimo.PIPS_PER_BEAT)

    def _cue(self, name: str) -> Cue:
        if name.isascii() and name.isdigit() and 1 <= int(name) <= len(self.cues):
            return self.cues[int(name) - 1]
        for cue in self.cues:
            if cue.name == name:
                return cue
        raise CommandError(f"no cue {name!r}")

    def _store(self, name: str) -> None:
        if self.show_file is None:
            raise CommandError("no show file to store cues in: start with --show FILE")
        looks = {track.name: track.look for track in self.tracks}
        kept = [cue for cue in self.cues if cue.name != name]
        if len(kept) >= MAX_CUES:
            raise CommandError(f"at most {MAX_CUES} cues")
        replaced = len(kept) != len(self.cues)
        cues = [Cue(name, looks) if cue.name == name else cue for cue in self.cues]
        if not replaced:
            cues.append(Cue(name, looks))
        save_cues(self.show_file, cues)
        self.cues = cues
        self._report(f"stored cue {name}")

    def render(self, frame: int, pip: float, bpm: float) -> Any:
        """The stage's data for one frame, without sending it."""
        waiting = [track.pending for track in self.tracks]
        pips_per_second = bpm * movimo.PIPS_PER_BEAT / 60.0
        placed = [track.placed(pip, pips_per_second) for track in self.tracks]
        if any(track.pending is not change for track, change in zip(self.tracks, waiting)):
            with self._lock:
                self._changed = True  # a change landed: what a group plays is news
        stop_beats = (pip - self._stop_pip) / movimo.PIPS_PER_BEAT
        return self.stage.frame(frame, pip, bpm, placed, self.stopped, stop_beats)

    def send_frame(self, frame: int, pip: float, bpm: float, due: float) -> int:
        """Renders one frame and hands it to every output; returns what they sent."""
        data = self.render(frame, pip, bpm)
        sent = sum(output.send(data, due) for output in self.outputs)
        with self._lock:
            self.last_pip, self.bpm = pip, bpm
            changed = self._changed
        state = self.state() if changed else None
        if self._listeners:
            view = self.stage.view()
            for listener in self._listeners:
                listener(state, view)
        return sent

    def park(self, rate: float, urgent: Callable[[], bool] = lambda: False,
             sleep: Callable[[float], object] = time.sleep) -> int:
        """Brings the stage home, where something parks: glides there frame
        by frame at `rate`, never faster than its speeds allow (for at most
        PARK_GLIDE_SECONDS), then holds the home frame for PARK_HOLD_FRAMES
        frames. When `urgent()` says so (a second signal), or a frame cannot
        be made, the home frame goes at once. Returns what was sent."""
        home = self.stage.park_frame()
        if home is None:
            return 0
        self.stopped, self._stop_pip = True, self.last_pip
        sent, started = 0, self._now()
        try:
            frame = 0
            while (not self.stage.at_home() and not urgent()
                   and self._now() - started < PARK_GLIDE_SECONDS):
                sleep(max(0.0, started + frame / rate - self._now()))
                data = self.render(frame, self.last_pip, self.bpm)
                sent += sum(output.send(data, self._now()) for output in self.outputs)
                frame += 1
        except Exception:  # noqa: BLE001  parking goes on whatever stopped the frames
            pass
        for hold in range(PARK_HOLD_FRAMES):
            sent += sum(output.send(home, self._now()) for output in self.outputs)
            if urgent():
                break
            sleep(1.0 / rate)
        return sent


# ---------------------------------------------------------------- the show file

def load_cues(path: pathlib.Path, groups: dict[str, GroupTrack]) -> list[Cue]:
    """The cues of a show file, checked; a file that does not exist yet has none."""
    try:
        with path.open("rb") as file:
            data = file.read(MAX_SHOW_FILE_BYTES + 1)
    except FileNotFoundError:
        return []
    except OSError as error:
        raise ValueError(f"{path}: cannot read: {error.strerror or error}") from None
    if len(data) > MAX_SHOW_FILE_BYTES:
        raise ValueError(f"{path}: a show file is at most {MAX_SHOW_FILE_BYTES >> 20} MiB")
    try:
        document = json.loads(data.decode("utf-8"))
        if not isinstance(document, dict) or document.get("version") != SHOW_FILE_VERSION:
            raise CommandError(f"not a movimo show file (version {SHOW_FILE_VERSION})")
        cues = document.get("cues")
        if not isinstance(cues, list) or len(cues) > MAX_CUES:
            raise CommandError(f"cues must be a list of at most {MAX_CUES}")
        loaded = []
        for number, cue in enumerate(cues, 1):
            if not isinstance(cue, dict) or not isinstance(cue.get("looks"), dict):
                raise CommandError(f"cue {number} must have a name and looks")
            name = StoreCue(cue.get("name")).cue  # type: ignore[arg-type]
            looks = {group: Look.from_dict(group, look)
                     for group, look in cue["looks"].items() if group in groups}
            loaded.append(Cue(name, looks))
        return loaded
    except (UnicodeDecodeError, json.JSONDecodeError, RecursionError) as error:
        raise ValueError(f"{path}: not a JSON show file: {error}") from None
    except ValueError as error:
        raise ValueError(f"{path}: {error}") from None


def save_cues(path: pathlib.Path, cues: list[Cue]) -> None:
    """Writes the show file under a temporary name and renames it, so that a
    crash or a full disk never leaves half a file."""
    document = {"version": SHOW_FILE_VERSION,
                "cues": [{"name": cue.name,
                          "looks": {group: look.as_dict() for group, look in cue.looks.items()}}
                         for cue in cues]}
    text = json.dumps(document, indent=2) + "\n"
    directory = path.parent if str(path.parent) else pathlib.Path(".")
    try:
        with tempfile.NamedTemporaryFile("w", encoding="utf-8", dir=directory,
                                         prefix=f".{path.name}.", delete=False) as file:
            file.write(text)
            file.flush()
            os.fsync(file.fileno())
        os.replace(file.name, path)
    except OSError as error:
        try:
            os.unlink(file.name)
        except (OSError, NameError):
            pass
        raise CommandError(f"cannot write {path}: {error.strerror or error}") from None
