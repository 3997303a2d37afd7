"""orsk.open: a container read or written as a file, through the library's streams, so
memory stays bounded (a stream holds about 11 MiB) whatever the length."""
import builtins
import io
import os

from ._orsk import Compressor, Decompressor

READ_PIECE = 1 << 17   # container bytes read from the file at a time
WRITE_PIECE = 1 << 20  # bytes handed to the compression stream at a time: one chunk


class _Restorer(io.RawIOBase):
    """The restored bytes of a container read from a file object. Seeks forward by
    restoring and dropping bytes; backward by starting again from the container's
    first byte, which needs a file that seeks."""

    def __init__(self, fp, level):
        self._fp = fp
        self._level = level
        try:
            self._start = fp.tell() if fp.seekable() else None
        except (AttributeError, OSError):
            self._start = None
        self._restart()

    def _restart(self):
        self._stream = Decompressor(self._level)
        self._pos = 0
        self._input_ended = False

    def readable(self):
        return True

    def seekable(self):
        return True

    def tell(self):
        return self._pos

    def readinto(self, buffer):
        with memoryview(buffer) as view, view.cast("B") as target:
            data = self.read(len(target))
            target[:len(data)] = data
        return len(data)

    def read(self, size=-1):
        if size is None or size < 0:
            return self.readall()
        while size > 0 and not self._stream.eof:
            if self._input_ended:
                data = self._stream.finish(size)
            elif self._stream.needs_input:
                raw = self._fp.read(READ_PIECE)
                if not raw:
                    self._input_ended = True
                    continue
                data = self._stream.decompress(raw, size)
            else:
                data = self._stream.decompress(b"", size)
            if data:
                self._pos += len(data)
                return data
        return b""

    def seek(self, offset, whence=io.SEEK_SET):
        if whence == io.SEEK_SET:
            target = offset
        elif whence == io.SEEK_CUR:
            target = self._pos + offset
        elif whence == io.SEEK_END:
            while self.read(WRITE_PIECE):  # the end is known once restored
                pass
            target = self._pos + offset
        else:
            raise ValueError("invalid whence (%r, should be 0, 1 or 2)" % whence)
        if target < 0:
            raise ValueError("negative seek position %d" % target)
        if target < self._pos:
            if self._start is None:
                raise io.UnsupportedOperation("cannot seek backward: the container's file does not seek")
            self._fp.seek(self._start)
            self._restart()
        while self._pos < target and self.read(min(target - self._pos, WRITE_PIECE)):
            pass
        return self._pos


class OrskFile(io.BufferedIOBase):
    """A container opened as a binary file: "rb" restores it (level None: the level the
    container records or its first compressed block tells), "wb" or "xb" writes one at
    `level` (checked=True: a checked container; effort 1 to 9: a harder search for a
    smaller container in the same format). `file` is a path or a file object
    opened in binary mode; a file object is not closed with this one.

    Writing gives the same container as orsk.compress on all the data; flush() cannot
    end a block early, so the container is complete only once this file is closed."""

    def __init__(self, file, mode="rb", level=None, *, checked=False, effort=0):
        if mode not in ("r", "rb", "w", "wb", "x", "xb"):
            raise ValueError("invalid mode %r: use 'rb', 'wb' or 'xb'" % (mode,))
        self._reading = mode[0] == "r"
        if self._reading and checked:
            raise ValueError("checked applies to writing: a container tells whether it is checked")
        if self._reading and effort:
            raise ValueError("effort applies to writing")
        if not self._reading and level is None:
            raise ValueError("writing needs a level, 0 to 5")
        # Streams first: a bad level fails before a file is created.
        stream = None if self._reading else Compressor(level, checked=checked, effort=effort)
        restorer = None
        if isinstance(file, (str, bytes, os.PathLike)):
            self._fp = builtins.open(file, mode[0] + "b")
            self._owns_fp = True
            self.name = os.fspath(file)
        elif hasattr(file, "read" if self._reading else "write"):
            self._fp = file
            self._owns_fp = False
            name = getattr(file, "name", None)
            if isinstance(name, (str, bytes)):
                self.name = name
        else:
            raise TypeError("file must be a path or a binary file object, not %s" % type(file).__name__)
        try:
            if self._reading:
                restorer = _Restorer(self._fp, level)
        except BaseException:
            if self._owns_fp:
                self._fp.close()
            raise
        self.mode = "rb" if self._reading else "wb"
        self._buffer = io.BufferedReader(restorer, WRITE_PIECE) if self._reading else None
        self._stream = stream
        self._written = 0

    def _check_reading(self):
        self._checkClosed()
        if not self._reading:
            raise io.UnsupportedOperation("not open for reading")

    def _check_writing(self):
        self._checkClosed()
        if self._reading:
            raise io.UnsupportedOperation("not open for writing")

    def readable(self):
        self._checkClosed()
        return self._reading

    def writable(self):
        self._checkClosed()
        return not self._reading

    def seekable(self):
        self._checkClosed()
        return self._reading

    def read(self, size=-1):
        self._check_reading()
        return self._buffer.read(size)

    def read1(self, size=-1):
        self._check_reading()
        return self._buffer.read1(size)

    def readinto(self, buffer):
        self._check_reading()
        return self._buffer.readinto(buffer)

    def readinto1(self, buffer):
        self._check_reading()
        return self._buffer.readinto1(buffer)

    def peek(self, size=0):
        self._check_reading()
        return self._buffer.peek(size)

    def readline(self, size=-1):
        self._check_reading()
        return self._buffer.readline(size)

    def write(self, data):
        self._check_writing()
        with memoryview(data) as view, view.cast("B") as data_bytes:
            for at in range(0, len(data_bytes), WRITE_PIECE):
                container = self._stream.compress(data_bytes[at:at + WRITE_PIECE])
                if container:
                    self._fp.write(container)
            self._written += len(data_bytes)
            return len(data_bytes)

    def flush(self):
        self._checkClosed()
        if self._stream is not None:  # writing, and not being closed
            self._fp.flush()

    def seek(self, offset, whence=io.SEEK_SET):
        self._check_reading()
        return self._buffer.seek(offset, whence)

    def tell(self):
        self._checkClosed()
        return self._buffer.tell() if self._reading else self._written

    def close(self):
        if self.closed:
            return
        try:
            if not self._reading:
                container = self._stream.flush()
                if container:
                    self._fp.write(container)
                self._fp.flush()
        finally:
            try:
                if self._owns_fp:
                    self._fp.close()
            finally:
                self._buffer = self._stream = None
                super().close()


def open(file, mode="rb", level=None, *, checked=False, effort=0, encoding=None, errors=None, newline=None):
    """Opens a container as a file. Binary modes "rb", "wb", "xb" give an OrskFile;
    text modes "rt", "wt", "xt" wrap it in io.TextIOWrapper with encoding, errors and
    newline. Writing needs a level; reading takes one or tells it from the container."""
    if "t" in mode:
        if "b" in mode:
            raise ValueError("invalid mode %r" % (mode,))
        binary = OrskFile(file, mode.replace("t", "b"), level, checked=checked, effort=effort)
        if hasattr(io, "text_encoding"):
            encoding = io.text_encoding(encoding)
        try:
            return io.TextIOWrapper(binary, encoding, errors, newline)
        except BaseException:
            binary.close()
            raise
    if encoding is not None or errors is not None or newline is not None:
        raise ValueError("encoding, errors and newline apply to text modes")
    return OrskFile(file, mode, level, checked=checked, effort=effort)
