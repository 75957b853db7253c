"""Exceptions of tavrin.

Every error is a :class:`Error`; each kind also derives from the built-in
exception a Python user would catch for it:

=====================  ==============================================
tavrin exception       also a
=====================  ==============================================
``InvalidArgument``    ``ValueError``: a bad value, name, range or shape
``UnknownName``        ``KeyError``: a factor, response or run the study lacks
``StateError``         ``RuntimeError``: the study is not ready for the call
                       (results missing, an object busy in another thread)
``FileError``          ``OSError``: a file that cannot be read or written
``MissingFileError``   ``FileNotFoundError`` (and ``FileError``)
``ParseError``         ``ValueError``: malformed CSV or study file text
``TavrinError``        the plan object ``CTavrin`` returned a failing Result
=====================  ==============================================

StateError is a RuntimeError rather than a ValueError because no argument
is wrong: the same call succeeds once the study has what it needs.
"""

from __future__ import annotations

import errno as _errno

__all__ = [
    "Error",
    "InvalidArgument",
    "UnknownName",
    "StateError",
    "FileError",
    "MissingFileError",
    "ParseError",
    "TavrinError",
    "ExtrapolationWarning",
]


class Error(Exception):
    """Base of every tavrin exception; ``str(e)`` is the library's message.

    ``field`` is the path of the argument the error is about, as data
    ("factors[1].low", "goals[0].high", "constraints[2]", "seed"), or ""
    when it is about no single one.
    """

    field: str = ""

    def __init__(self, message: str, *args: object, field: str = "") -> None:
        super().__init__(message, *args)
        self.message = message
        self.field = field

    def __str__(self) -> str:
        return self.message


class InvalidArgument(Error, ValueError):
    """A value outside what is allowed: a bad name, range, count, shape or option."""


class UnknownName(Error, KeyError):
    """A factor, response or run id that the study does not have."""


class StateError(Error, RuntimeError):
    """The call needs something the study lacks yet (the message lists it)."""


class FileError(Error, OSError):
    """A file that cannot be opened, read or written; ``filename`` names it."""

    def __init__(self, message: str, filename: str | None = None) -> None:
        super().__init__(message)
        self.filename = filename

    def __str__(self) -> str:
        return self.message


class MissingFileError(FileError, FileNotFoundError):
    """A file that does not exist."""

    def __init__(self, message: str, filename: str | None = None) -> None:
        super().__init__(message, filename)
        self.errno = _errno.ENOENT


class ParseError(Error, ValueError):
    """Malformed input text; ``source``, ``line`` and ``column`` (from 1, 0 = not applicable) locate it."""

    def __init__(self, message: str, source: str = "", line: int = 0, column: int = 0) -> None:
        super().__init__(message)
        self.source = source
        self.line = line
        self.column = column


class TavrinError(Error):
    """A CTavrin operation failed: ``code`` and ``message`` are those of its Result.

    ``version`` is the file version that Load had read before it failed, or None.
    """

    def __init__(self, code: int, message: str, version: int | None = None) -> None:
        super().__init__(message)
        self.args = (code, message)
        self.code = code
        self.version = version


class ExtrapolationWarning(UserWarning):
    """Predictions asked for beyond the span the runs cover, where the model extrapolates."""
