"""Reading a rig's files without trusting them: every problem is one
`PatchError` line naming the file, found in bounded time and memory before
anything is sent.

- Only regular files are opened: a device such as /dev/zero is never read,
  nor a FIFO waited on.
- GDTF and MVR files are zip archives. Before the archive's directory is
  read, its end record must say it holds at most `MAX_MEMBERS` members in a
  directory of at most `MAX_DIRECTORY_BYTES`; no member may be named with an
  absolute path or climb out with '..'. A member is unpacked only if its
  stated size is within the caller's limit, the load's budget of
  `MAX_UNPACKED_BYTES` in all, and (above 1 MiB) at most `MAX_RATIO` times
  its packed size, the mark of a zip bomb. Unpacking stops at the stated
  size, and a member that is not what its directory says is refused.
- XML is checked with expat before a library builds a tree of it: a DOCTYPE
  (and with it every entity declaration) is refused, and so is nesting
  deeper than `MAX_XML_DEPTH`.
"""

from __future__ import annotations

import io
import os
import pathlib
import re
import stat
import struct
import textwrap
import zipfile
import zlib
from typing import BinaryIO
from xml.parsers import expat

MAX_MEMBERS = 4096
MAX_DIRECTORY_BYTES = 1 << 20
MAX_UNPACKED_BYTES = 256 << 20
MAX_RATIO = 200
RATIO_CHECKED_ABOVE = 1 << 20
MAX_XML_DEPTH = 100
_END_RECORD = b"PK\x05\x06"
_END_RECORD_BYTES = 22
_DRIVE = re.compile(r"[A-Za-z]:")


class PatchError(ValueError):
    """A patch (or another TOML file of the show, such as a MIDI map) that
    cannot be used, said in one line: file, item and field.

    Every character a terminal would act on is shown escaped, so that text
    taken from the patch can neither split the line nor drive the terminal.
    """

    def __init__(self, line: str) -> None:
        super().__init__("".join(c if c.isprintable() else c.encode("unicode_escape").decode()
                                 for c in line))


def described(error: Exception) -> str:
    """An exception of any kind as a short line: its type and message."""
    return textwrap.shorten(f"{type(error).__name__}: {error}", 200, placeholder=" ...")


def open_regular(path: pathlib.Path) -> BinaryIO:
    """`path` opened for reading if it is a regular file; a PatchError if
    it is not one or cannot be opened."""
    try:
        status = os.stat(path)
    except (OSError, ValueError) as error:  # ValueError: a NUL in the path
        raise PatchError(f"{path}: cannot read: {getattr(error, 'strerror', None) or error}",
                         ) from None
    _check_regular(path, status)  # before opening: opening a device may act on it
    try:
        file = open(os.open(path, os.O_RDONLY | os.O_NONBLOCK), "rb")
    except OSError as error:
        raise PatchError(f"{path}: cannot read: {error.strerror or error}") from None
    try:
        # What was opened may have replaced what was looked at.
        _check_regular(path, os.fstat(file.fileno()))
    except BaseException:
        file.close()
        raise
    return file


def _check_regular(path: pathlib.Path, status: os.stat_result) -> None:
    if not stat.S_ISREG(status.st_mode):
        raise PatchError(f"{path}: cannot read: not a regular file (a device, pipe or "
                         f"directory)")


class Budget:
    """The bytes one load may still unpack, over every archive it opens."""

    def __init__(self, total: int = MAX_UNPACKED_BYTES) -> None:
        self.left = total

    def take(self, size: int, label: str) -> None:
        if size > self.left:
            raise PatchError(f"{label}: unpacks to more than the {MAX_UNPACKED_BYTES >> 20} "
                             f"MiB a rig's files may hold in all")
        self.left -= size


class Archive:
    """A zip archive (a GDTF or MVR file) whose directory has been checked;
    `label` names it in errors."""

    def __init__(self, stream: BinaryIO, label: str, budget: Budget) -> None:
        self.label = label
        self._budget = budget
        _check_end_record(stream, label)
        try:
            self._zip = zipfile.ZipFile(stream)
        except (zipfile.BadZipFile, OSError, EOFError, ValueError, struct.error) as error:
            raise PatchError(f"{label}: not a zip archive: {error}") from None
        infos = self._zip.infolist()
        if len(infos) > MAX_MEMBERS:
            raise PatchError(f"{label}: more than {MAX_MEMBERS} members")
        for info in infos:
            parts = re.split(r"[/\\]", info.filename)
            if (info.filename.startswith(("/", "\\")) or _DRIVE.match(info.filename)
                    or ".." in parts):
                raise PatchError(f"{label}: member {info.filename!r} has an absolute path or "
                                 f"climbs out of the archive")
        self._names = {info.filename for info in infos}

    def member(self, name: str) -> str | None:
        """The member called `name`, also when its name was stored without
        the UTF-8 flag (read as code page 437); None if there is none."""
        for candidate in (name, name.encode("utf-8").decode("cp437")):
            if candidate in self._names:
                return candidate
        return None

    def read(self, name: str, limit: int) -> bytes:
        """The unpacked bytes of member `name`, of at most `limit` bytes."""
        where = f"{self.label}: {name}"
        found = self.member(name)
        if found is None:
            raise PatchError(f"{self.label}: has no member {name!r}")
        info = self._zip.getinfo(found)
        if info.file_size > limit:
            raise PatchError(f"{where}: unpacks to {info.file_size} bytes, more than the "
                             f"{limit >> 20} MiB allowed")
        if (info.file_size > RATIO_CHECKED_ABOVE
                and info.file_size > MAX_RATIO * max(info.compress_size, 1)):
            raise PatchError(f"{where}: unpacks to {info.file_size // max(info.compress_size, 1)}"
                             f" times its packed size: refused as a zip bomb")
        self._budget.take(info.file_size, where)
        try:
            with self._zip.open(info) as member:
                data = member.read(info.file_size + 1)
        except (zipfile.BadZipFile, zlib.error, EOFError, OSError, NotImplementedError,
                RuntimeError, ValueError) as error:
            raise PatchError(f"{where}: cannot unpack: {error}") from None
        if len(data) != info.file_size:
            raise PatchError(f"{where}: is not the size the archive's directory states")
        return data

    def nested(self, name: str, limit: int) -> Archive:
        """Member `name`, itself a zip archive (a GDTF file inside an MVR)."""
        return Archive(io.BytesIO(self.read(name, limit)), f"{self.label}: {name}",
                       self._budget)


def _check_end_record(stream: BinaryIO, label: str) -> None:
    """Refuses an archive whose end record is missing or announces more
    members, or a larger directory, than a rig's file may have: the zip
    reader would read that directory whole."""
    try:
        size = stream.seek(0, os.SEEK_END)
        start = max(0, size - _END_RECORD_BYTES - 0xFFFF)  # the record and its longest comment
        stream.seek(start)
        tail = stream.read(size - start)
        stream.seek(0)
    except OSError as error:
        raise PatchError(f"{label}: cannot read: {error.strerror or error}") from None
    at = tail.rfind(_END_RECORD)
    if at < 0 or len(tail) - at < _END_RECORD_BYTES:
        raise PatchError(f"{label}: not a zip archive (or cut short)")
    members, directory_bytes = struct.unpack_from("<HI", tail, at + 10)
    if members > MAX_MEMBERS or directory_bytes > MAX_DIRECTORY_BYTES:
        raise PatchError(f"{label}: its directory lists {members} members in "
                         f"{directory_bytes} bytes; at most {MAX_MEMBERS} members in "
                         f"{MAX_DIRECTORY_BYTES >> 20} MiB are read")


class _Refused(Exception):
    """Raised from an expat handler to stop the parse."""


def check_xml(data: bytes, label: str) -> None:
    """Refuses XML that is not well-formed, has a DOCTYPE or nests deeper
    than MAX_XML_DEPTH."""
    parser = expat.ParserCreate()
    depth = 0

    def start(name: str, attributes: dict[str, str]) -> None:
        nonlocal depth
        depth += 1
        if depth > MAX_XML_DEPTH:
            raise _Refused(f"elements nested more than {MAX_XML_DEPTH} deep")

    def end(name: str) -> None:
        nonlocal depth
        depth -= 1

    def doctype(*declaration: object) -> None:
        raise _Refused("has a DOCTYPE declaration (entities are refused)")

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.StartDoctypeDeclHandler = doctype
    try:
        parser.Parse(data, True)
    except _Refused as refused:
        raise PatchError(f"{label}: {refused}") from None
    except expat.ExpatError as error:
        raise PatchError(f"{label}: not well-formed XML: {error}") from None
