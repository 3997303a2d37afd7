"""The failures of orsk: each status the library reports has its own subclass of Error,
so a wrong level, damage, a checksum mismatch and a cut container are told apart."""
import enum


class Status(enum.IntEnum):
    """The statuses of include/orsk/orsk.h (ORSK_OK ... ORSK_OUT_OF_RANGE)."""
    OK = 0
    TRUNCATED = 1
    CORRUPT = 2
    NO_ROOM = 3
    OUT_OF_MEMORY = 4
    BAD_LEVEL = 5
    BAD_ARGUMENT = 6
    CHECKSUM_MISMATCH = 7
    WRONG_LEVEL = 8
    UNKNOWN_LEVEL = 9
    DAMAGED = 10
    OUT_OF_RANGE = 11


class Error(ValueError):
    """A failure of the orsk library. `status` is its Status (an int), `name` the
    header's name for it ("ORSK_CORRUPT"), `message` what went wrong."""

    def __init__(self, message, status):
        super().__init__(message)
        self.message = message
        self.status = Status(status)

    @property
    def name(self):
        return "ORSK_" + self.status.name


class TruncatedError(Error):
    """The container ends inside a block (a checked one: or before its end record)."""


class CorruptError(Error):
    """The container is damaged (a plain container has no checksums: this is damage its
    decoders reject)."""


class ChecksumError(Error):
    """A checked container is damaged: a block or the whole content fails its checksum."""


class WrongLevelError(Error):
    """The container was written at another level; `levels` holds those it restores at
    (empty when they cannot be told)."""

    def __init__(self, message, status, levels=()):
        super().__init__(message, status)
        self.levels = tuple(levels)


class UnknownLevelError(Error):
    """No level was given and a plain container's level cannot be told."""


_CLASSES = {
    Status.TRUNCATED: TruncatedError,
    Status.CORRUPT: CorruptError,
    Status.CHECKSUM_MISMATCH: ChecksumError,
    Status.WRONG_LEVEL: WrongLevelError,
    Status.UNKNOWN_LEVEL: UnknownLevelError,
}


def error(status, message, level_mask=0):
    """The exception for a status; the extension raises what this returns."""
    cls = _CLASSES.get(status, Error)
    if cls is WrongLevelError:
        return cls(message, status, [k for k in range(6) if level_mask >> k & 1])
    return cls(message, status)
