"""orsk.open and the streams under it: the containers orsk.compress writes, reading in
any pieces, tar archives, text lines, seeking, and failures met while reading."""
import io
import random
import shutil
import tarfile

import pytest

import orsk
from conftest import DATA, MiB, text


class Pipe(io.RawIOBase):
    """A file object that reads (or writes) in short, uneven pieces and cannot seek."""

    def __init__(self, data=b""):
        self._data, self._at, self.written = data, 0, bytearray()
        self._rng = random.Random(len(data))

    def readable(self):
        return True

    def writable(self):
        return True

    def readinto(self, buffer):
        n = min(len(buffer), self._rng.randint(1, 70000), len(self._data) - self._at)
        buffer[:n] = self._data[self._at:self._at + n]
        self._at += n
        return n

    def write(self, data):
        self.written += data
        return len(data)


def write_in_pieces(f, data, seed=0):
    rng, at = random.Random(seed), 0
    while at < len(data):
        n = rng.choice([1, 100, 4096, 65536, 3 * MiB])
        f.write(data[at:at + n])
        at += n


@pytest.mark.parametrize("checked,effort", [(False, 0), (True, 0), (True, 1)], ids=["plain", "checked", "effort"])
def test_written_container_is_the_one_compress_gives(data, checked, effort, tmp_path):
    for level in (0, 3, 5):
        path = tmp_path / "f.orsk"
        with orsk.open(path, "wb", level, checked=checked, effort=effort) as f:
            write_in_pieces(f, data, level)
            assert f.tell() == len(data)
        assert path.read_bytes() == orsk.compress(data, level, checked=checked, effort=effort)
        with orsk.open(str(path), "rb", level) as f:
            assert f.read() == data
        with orsk.open(path) as f:
            assert f.read() == data and f.read() == b""


def test_multi_mib_stream_at_every_level():
    data = text(3 * MiB, seed=4) + DATA["random"] + DATA["executable"]
    for level in range(6):
        sink = Pipe()
        with orsk.open(sink, "wb", level) as f:
            write_in_pieces(f, data, level)
        assert bytes(sink.written) == orsk.compress(data, level)
        with orsk.open(Pipe(bytes(sink.written)), "rb", None) as f:
            assert f.read() == data


def test_reads_of_every_shape():
    data = DATA["1MiB+1"] + DATA["random"]
    container = orsk.compress(data, 2)
    with orsk.open(io.BytesIO(container)) as f:
        got = bytearray()
        rng = random.Random(3)
        while True:
            shape = rng.randrange(4)
            n = rng.choice([1, 7, 4096, 300000])
            if shape == 0:
                piece = f.read(n)
            elif shape == 1:
                piece = f.read1(n)
            elif shape == 2:
                buffer = bytearray(n)
                piece = buffer[:f.readinto(buffer)]
            else:
                piece = f.peek(n)[:n]
                assert f.read(len(piece)) == piece
            if not piece:
                break
            got += piece
    assert got == data


def test_decompressor_output_is_bounded():
    container = orsk.compress(bytes(3 * MiB), 1)  # restores to 2000 times its size
    stream = orsk.Decompressor(1)
    out = stream.decompress(container, 1000)
    assert len(out) == 1000 and not stream.needs_input
    while not stream.needs_input:
        piece = stream.decompress(b"", 100000)
        assert len(piece) <= 100000
        out += piece
    while not stream.eof:
        out += stream.finish(50000)
    assert out == bytes(3 * MiB)
    packer = orsk.Compressor(1)
    assert packer.compress(bytes(3 * MiB)) + packer.flush() == container


def test_tar_archives(tmp_path):
    members = {"a.txt": DATA["text"], "dir/b.bin": DATA["executable"], "c": b"", "d": DATA["1MiB+1"]}
    for name, data in members.items():
        (tmp_path / "src" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "src" / name).write_bytes(data)
    for write_mode in ("w|", "w:"):
        path = tmp_path / ("a%s.tar.orsk" % write_mode[-1])
        with orsk.open(path, "wb", level=2) as f, tarfile.open(fileobj=f, mode=write_mode) as tar:
            for name in members:
                tar.add(tmp_path / "src" / name, arcname=name)
        with orsk.open(path) as f, tarfile.open(fileobj=f, mode="r|") as tar:
            assert {m.name: tar.extractfile(m).read() for m in tar if m.isfile()} == members
        # Random access: later members first (the stream starts over to go back).
        with orsk.open(path) as f, tarfile.open(fileobj=f, mode="r:") as tar:
            for name in reversed(list(members)):
                assert tar.extractfile(name).read() == members[name]
        tar_bytes = orsk.decompress(path.read_bytes())
        with tarfile.open(fileobj=io.BytesIO(tar_bytes)) as tar:
            assert sorted(tar.getnames()) == sorted(members)


def test_text_lines(tmp_path):
    lines = ["line %d: naïve café ✓\n" % i for i in range(50000)] + ["last line without end"]
    path = tmp_path / "t.orsk"
    with orsk.open(path, "wt", 4, encoding="utf-8") as f:
        f.writelines(lines)
    with orsk.open(path, "rt", encoding="utf-8") as f:
        assert list(f) == lines
    with orsk.open(path, "rb") as f:
        assert f.readline() == lines[0].encode()
        assert next(iter(f)) == lines[1].encode()
    with orsk.open(path, "rt", encoding="utf-8", newline="") as f:
        assert f.read().splitlines(True) == lines


def test_copyfileobj(tmp_path):
    data = text(2 * MiB, seed=6)
    path = tmp_path / "c.orsk"
    with orsk.open(path, "xb", 3) as f:
        shutil.copyfileobj(io.BytesIO(data), f)
    out = io.BytesIO()
    with orsk.open(path) as f:
        shutil.copyfileobj(f, out)
    assert out.getvalue() == data
    with pytest.raises(FileExistsError):
        orsk.open(path, "xb", 3)


def test_seek():
    data = text(3 * MiB, seed=10)
    container = orsk.compress(data, 3)
    with orsk.open(io.BytesIO(container)) as f:
        assert f.seekable()
        for target in (10, 2 * MiB + 5, 100, 3 * MiB - 1, 0):  # forward and back
            assert f.seek(target) == target and f.tell() == target
            assert f.read(3) == data[target:target + 3]
        assert f.seek(-10, io.SEEK_END) == len(data) - 10
        assert f.read() == data[-10:]
        f.seek(MiB)
        assert f.seek(-5, io.SEEK_CUR) == MiB - 5
        assert f.read(5) == data[MiB - 5:MiB]
        assert f.seek(len(data) + 100) == len(data) and f.read() == b""
    with orsk.open(Pipe(container)) as f:  # forward only
        f.seek(MiB)
        assert f.read(4) == data[MiB:MiB + 4]
        with pytest.raises(io.UnsupportedOperation):
            f.seek(0)


def test_file_objects_stay_open_and_closed_files_refuse():
    sink = io.BytesIO()
    with orsk.open(sink, "wb", 1) as f:
        f.write(b"abc")
        with pytest.raises(io.UnsupportedOperation):
            f.read()
    assert not sink.closed and orsk.decompress(sink.getvalue()) == b"abc"
    with pytest.raises(ValueError):
        f.write(b"more")
    with pytest.raises(ValueError, match="level"):
        orsk.open(io.BytesIO(), "wb")
    with pytest.raises(orsk.Error):
        orsk.open(io.BytesIO(), "wb", 6)
    with pytest.raises(ValueError):
        orsk.open(io.BytesIO(), "ab", 1)
    with pytest.raises(TypeError):
        orsk.open(42)


def test_failures_while_reading():
    data = text(MiB, seed=11) + DATA["random"] * 7  # a compressed block, then a stored one
    checked = orsk.compress(data, 3, checked=True)
    at = len(checked) - 50000  # inside the stored block
    bad = checked[:at] + bytes([checked[at] ^ 1]) + checked[at + 1:]
    with orsk.open(io.BytesIO(bad)) as f:
        assert f.read(MiB) == data[:MiB]  # the block before the damage is delivered
        with pytest.raises(orsk.ChecksumError):
            f.read()
    for cut, level, error in ((checked[:-1], None, orsk.TruncatedError), (checked[:-1], 3, orsk.TruncatedError),
                              (b"S\x99" + bytes(100), None, orsk.CorruptError),
                              (b"S\x99" + bytes(100), 2, orsk.CorruptError)):
        with orsk.open(io.BytesIO(cut), "rb", level) as f, pytest.raises(error):
            f.read()
    for container in (orsk.compress(data, 3), checked):
        with orsk.open(io.BytesIO(container), "rb", 0) as f:
            with pytest.raises(orsk.WrongLevelError) as caught:
                f.read()
        assert caught.value.levels == (3,)
