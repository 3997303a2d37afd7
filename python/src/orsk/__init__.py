"""orsk: block compression at six levels, 0 HYPERFAST to 5 BEST, on the orsk C library.

    import orsk
    container = orsk.compress(data, 3)                # any bytes-like object
    assert orsk.decompress(container) == data         # the level told from the container
    with orsk.open("logs.orsk", "wt", level=2) as f:  # streams, in bounded memory
        f.write("a line\\n")

A plain container (the default) does not record its level: restore it at the level that
wrote it, or with level=None to have it told from its first compressed block. A checked
container (checked=True) records its level and checksums, so damage fails instead of
restoring wrong bytes. Failures raise orsk.Error (a ValueError) or one of its subclasses.
The library runs with the GIL released: threads compress and restore at once.
"""
import collections
import dataclasses
import enum
import typing

from . import _orsk
from ._errors import (ChecksumError, CorruptError, Error, Status, TruncatedError, UnknownLevelError,
                      WrongLevelError)
from ._file import OrskFile, open
from ._orsk import MAX_LEVEL, MIN_LEVEL, Compressor, Decompressor, compress, decompress, decompress_range

__version__ = _orsk.version()

__all__ = ["Level", "Status", "Error", "TruncatedError", "CorruptError", "ChecksumError", "WrongLevelError",
           "UnknownLevelError", "compress", "decompress", "decompress_range", "salvage", "inspect", "ContainerInfo",
           "DamagedRange",
           "Compressor", "Decompressor", "open", "OrskFile", "MIN_LEVEL", "MAX_LEVEL"]

# decompress_range(data, offset, length, level=None): the bytes [offset, offset + length)
# of decompress(data, level), as far as the data goes, restoring only the blocks that
# hold them; an offset past the end raises Error (Status.OUT_OF_RANGE).


class Level(enum.IntEnum):
    HYPERFAST = 0
    SUPERFAST = 1
    FAST = 2
    NORMAL = 3
    BETTER = 4
    BEST = 5


_DAMAGE_KINDS = {1: "checksum", 2: "corrupt", 3: "cut_short", 4: "end_record"}


class DamagedRange(collections.namedtuple("DamagedRange", "offset length kind")):
    """A block salvage did not restore: `length` zero bytes stand for it at `offset` of
    the output; length 0 when nothing does (the restore ended there, or for an
    "end_record" blocks are missing or out of place). `kind` is "checksum", "corrupt",
    "cut_short" or "end_record"; `block` is the block's index from 0."""

    def __new__(cls, offset, length, kind, block=0):
        made = super().__new__(cls, offset, length, kind)
        made.block = block
        return made


def salvage(data, level=None):
    """Restores what a damaged container still holds: (bytes, [DamagedRange, ...]).
    A block that does not restore becomes zeros of its chunk's length, so every
    restored byte keeps its offset; a block that cannot be framed ends the output. The
    list is empty when nothing was damaged. Raises as decompress does when not one block
    restores or the container was written at another level."""
    restored, ranges = _orsk.salvage(data, level)
    return restored, [DamagedRange(offset, length, _DAMAGE_KINDS.get(why, "corrupt"), block)
                      for offset, length, why, block in ranges]


@dataclasses.dataclass(frozen=True)
class ContainerInfo:
    kind: str                     # "plain" or "checked"
    level: typing.Optional[Level]  # None: a plain container whose level cannot be told
    level_source: str             # "recorded", "detected" (plain), "unknown"
    levels: typing.Tuple[int, ...]  # every level it restores at (stored blocks only: all six)
    blocks: int
    stored_blocks: int
    restored_size: int            # as its block headers claim


def inspect(data):
    """What a container is, from its head and block headers (only a plain container's
    first compressed block is restored, to tell its level). Raises for a damaged or cut
    container, or one that is none."""
    status, checked, level, detected, mask, blocks, stored, restored = _orsk.inspect(data)
    known = status != Status.UNKNOWN_LEVEL
    return ContainerInfo(kind="checked" if checked else "plain",
                         level=Level(level) if known else None,
                         level_source="unknown" if not known else "detected" if detected else "recorded",
                         levels=tuple(k for k in range(MIN_LEVEL, MAX_LEVEL + 1) if mask >> k & 1),
                         blocks=blocks, stored_blocks=stored, restored_size=restored)
