"""Network addresses as the commands take them: an OSC HOST:PORT, and a
DMX destination whose port may be left out.
"""

from __future__ import annotations


def parse_endpoint(text: str, what: str = "the OSC destination") -> tuple[str, int]:
    """HOST:PORT, with an IPv6 host in brackets; `what` names the address in
    the error.

    >>> parse_endpoint("127.0.0.1:9000"), parse_endpoint("[::1]:57120")
    (('127.0.0.1', 9000), ('::1', 57120))
    >>> parse_endpoint("localhost")
    Traceback (most recent call last):
    ...
    ValueError: the OSC destination must be HOST:PORT with a port of 1 to 65535
    """
    host, _, port = text.rpartition(":")
    host = host[1:-1] if host.startswith("[") and host.endswith("]") else host
    if not host or not port.isdigit() or not 1 <= int(port) <= 65535:
        raise ValueError(f"{what} must be HOST:PORT with a port of 1 to 65535")
    return host, int(port)


def parse_destination(text: str, default_port: int) -> tuple[str, int]:
    """HOST or HOST:PORT (an IPv6 host in brackets).

    >>> parse_destination("10.0.0.5", 6454), parse_destination("[::1]:5568", 1)
    (('10.0.0.5', 6454), ('::1', 5568))
    """
    host, port = text, str(default_port)
    if text.startswith("["):
        host, _, rest = text[1:].partition("]")
        if rest:
            port = rest.removeprefix(":")
    elif text.count(":") == 1:
        host, port = text.split(":")
    if not host or not port.isdigit() or not 1 <= int(port) <= 65535:
        raise ValueError(f"the destination must be HOST or HOST:PORT, not {text!r}")
    return host, int(port)
