"""The whole-buffer calls: round trips, the containers the command line writes, failures
told apart, salvage, inspect, and threads at work at once."""
import array
import subprocess
import threading

import pytest

import orsk
from conftest import CONFORMANCE, DATA, MiB, no_repeats, text

LEVELS = range(orsk.MIN_LEVEL, orsk.MAX_LEVEL + 1)


@pytest.mark.parametrize("checked", [False, True], ids=["plain", "checked"])
@pytest.mark.parametrize("level", LEVELS)
def test_round_trip(data, level, checked):
    container = orsk.compress(data, level, checked=checked)
    assert orsk.decompress(container, level) == data
    assert orsk.decompress(container) == data
    info = orsk.inspect(container)
    assert (info.kind, info.restored_size, info.blocks) == (
        "checked" if checked else "plain", len(data), (len(data) + MiB - 1) // MiB)
    assert level in info.levels
    if checked:
        assert (info.level, info.level_source, info.levels) == (level, "recorded", (level,))
    n = len(data)
    for offset, length in ((0, n), (n // 3, MiB), (max(n - 5, 0), 100), (n, 3)):
        assert orsk.decompress_range(container, offset, length, level) == data[offset:offset + length]
    with pytest.raises(orsk.Error) as failure:
        orsk.decompress_range(container, n + 1, 1, level)
    assert failure.value.status == orsk.Status.OUT_OF_RANGE and str(n) in str(failure.value)


def test_any_buffer_is_input():
    words = array.array("H", range(40000))
    expected = orsk.compress(words.tobytes(), 2)
    for given in (words, bytearray(words.tobytes()), memoryview(words), memoryview(words.tobytes())):
        assert orsk.compress(given, 2) == expected
    padded = b"??" + expected + b"??"
    assert orsk.decompress(memoryview(padded)[2:-2]) == words.tobytes()
    assert orsk.decompress(bytearray(expected), 2) == words.tobytes()
    with pytest.raises(TypeError):
        orsk.compress("text is no buffer", 1)
    with pytest.raises(BufferError):
        orsk.compress(memoryview(b"0123456789")[::2], 1)


def test_reference_containers_are_written_and_restored():
    sources = sorted(CONFORMANCE.glob("*.bin"))
    assert sources
    for source in sources:
        data = source.read_bytes()
        for level in LEVELS:
            reference = source.with_suffix(".L%d.orsk" % level).read_bytes()
            assert orsk.compress(data, level) == reference, source.name
            assert orsk.decompress(reference, level) == data
            assert orsk.decompress(reference) == data


@pytest.mark.parametrize("checked,effort", [(False, 0), (True, 0), (False, 5)], ids=["plain", "checked", "effort"])
def test_same_container_as_command_line(orsk_binary, tmp_path, checked, effort):
    data = text(MiB, seed=5) + DATA["executable"] + DATA["random"] + b"!"
    source = tmp_path / "in"
    source.write_bytes(data)
    for level in LEVELS:
        target = tmp_path / ("out%d" % level)
        command = [orsk_binary, "e"] + (["--check"] if checked else []) + (["--effort=%d" % effort] if effort else [])
        subprocess.run(command + ["-m%d" % level, source, target], check=True, capture_output=True)
        assert orsk.compress(data, level, checked=checked, effort=effort) == target.read_bytes(), level


def damaged(container, at):
    return container[:at] + bytes([container[at] ^ 0x40]) + container[at + 1:]


def test_failures_are_told_apart():
    plain = orsk.compress(DATA["text"], 3)
    checked = orsk.compress(DATA["text"], 3, checked=True)
    stored = orsk.compress(DATA["random"], 1, checked=True)
    two_blocks = orsk.compress(DATA["1MiB+1"], 3)  # cut and at another level: the level is named
    assert orsk.inspect(stored).stored_blocks == 1
    cases = [
        (lambda: orsk.decompress(plain[:-1], 3), orsk.TruncatedError, orsk.Status.TRUNCATED),
        (lambda: orsk.decompress(checked[:-1]), orsk.TruncatedError, orsk.Status.TRUNCATED),
        (lambda: orsk.decompress(checked[:len(checked) // 2], 3), orsk.TruncatedError, orsk.Status.TRUNCATED),
        (lambda: orsk.decompress(damaged(plain, 1), 3), orsk.CorruptError, orsk.Status.CORRUPT),
        (lambda: orsk.decompress(b"not a container"), orsk.CorruptError, orsk.Status.CORRUPT),
        (lambda: orsk.decompress(damaged(stored, len(stored) // 2)), orsk.ChecksumError,
         orsk.Status.CHECKSUM_MISMATCH),
        (lambda: orsk.decompress(plain, 1), orsk.WrongLevelError, orsk.Status.WRONG_LEVEL),
        (lambda: orsk.decompress(two_blocks[:-1], 1), orsk.WrongLevelError, orsk.Status.WRONG_LEVEL),
        (lambda: orsk.decompress(checked, 5), orsk.WrongLevelError, orsk.Status.WRONG_LEVEL),
        (lambda: orsk.compress(b"x", 6), orsk.Error, orsk.Status.BAD_LEVEL),
        (lambda: orsk.compress(b"x", -1), orsk.Error, orsk.Status.BAD_LEVEL),
        (lambda: orsk.compress(b"x", 1, effort=10), orsk.Error, orsk.Status.BAD_ARGUMENT),
        (lambda: orsk.Compressor(1, effort=-1), orsk.Error, orsk.Status.BAD_ARGUMENT),
        (lambda: orsk.decompress(plain, 9), orsk.Error, orsk.Status.BAD_LEVEL),
    ]
    for call, cls, status in cases:
        with pytest.raises(cls) as caught:
            call()
        error = caught.value
        assert isinstance(error, ValueError)
        assert (error.status, error.name) == (status, "ORSK_" + status.name)
        assert error.message == str(error) and error.message
    with pytest.raises(orsk.WrongLevelError) as caught:
        orsk.decompress(plain, 1)
    assert caught.value.levels == (3,)
    assert "level 3" in str(caught.value)


def test_level_that_cannot_be_told():
    # FAST and BETTER read this block's one match differently: both restore it.
    data = no_repeats(700) + no_repeats(300)
    container = orsk.compress(data, 2)
    info = orsk.inspect(container)
    assert (info.level, info.level_source, info.levels) == (None, "unknown", (2, 4))
    with pytest.raises(orsk.UnknownLevelError) as caught:
        orsk.decompress(container)
    assert caught.value.status == orsk.Status.UNKNOWN_LEVEL
    assert orsk.decompress(container, 2) == data


def test_inspect():
    data = (DATA["random"] * 7)[:MiB] + text(2 * MiB)  # a stored block, two compressed
    info = orsk.inspect(orsk.compress(data, 4))
    assert info == orsk.ContainerInfo(kind="plain", level=orsk.Level.BETTER, level_source="detected", levels=(4,),
                                      blocks=3, stored_blocks=1, restored_size=len(data))
    stored_only = orsk.inspect(orsk.compress(DATA["random"], 0))
    assert stored_only.levels == tuple(LEVELS) and stored_only.stored_blocks == 1
    empty = orsk.inspect(orsk.compress(b"", 5, checked=True))
    assert (empty.kind, empty.level, empty.blocks, empty.restored_size) == ("checked", 5, 0, 0)
    with pytest.raises(orsk.CorruptError):
        orsk.inspect(b"\x00junk")
    with pytest.raises(orsk.TruncatedError):
        orsk.inspect(orsk.compress(data, 4, checked=True)[:-1])


def test_salvage():
    data = text(MiB, seed=8) + DATA["random"] * 7 + text(MiB // 2, seed=9)  # compressed, stored, compressed
    checked = orsk.compress(data, 2, checked=True)
    assert orsk.salvage(checked) == (data, [])
    assert orsk.salvage(orsk.compress(DATA["zeros-5MiB"], 0)) == (DATA["zeros-5MiB"], [])
    # A byte in the middle block's stored bytes: its chunk becomes zeros.
    out, ranges = orsk.salvage(damaged(checked, len(checked) // 2))
    assert ranges == [(MiB, MiB, "checksum")] and ranges[0].block == 1
    assert out == data[:MiB] + bytes(MiB) + data[2 * MiB:]
    # Cut inside the last block: the rest is kept, the cut named.
    out, ranges = orsk.salvage(checked[:-100], 2)
    offset, length, kind = ranges[-1]
    assert kind == "cut_short" and out[:offset] == data[:offset] and offset <= 2 * MiB
    # A plain container's damaged block header ends the restore there.
    plain = orsk.compress(data, 2)
    second = len(orsk.compress(data[:MiB], 2))  # where block 1 starts
    out, ranges = orsk.salvage(damaged(plain, second), 2)
    assert out == data[:MiB] and [tuple(r) + (r.block,) for r in ranges] == [(MiB, 0, "corrupt", 1)]
    with pytest.raises(orsk.WrongLevelError):
        orsk.salvage(plain, 4)
    with pytest.raises(orsk.CorruptError):
        orsk.salvage(b"nothing of a container")


def test_threads_work_at_once():
    inputs = [text(2 * MiB, seed=s) + DATA["executable"] for s in range(4)]
    expected = [orsk.compress(d, s % 6) for s, d in enumerate(inputs)]
    results = [None] * 4
    start = threading.Barrier(4)

    def work(k):
        start.wait()
        for _ in range(3):
            container = orsk.compress(inputs[k], k % 6)
            results[k] = (container, orsk.decompress(container, k % 6))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == list(zip(expected, inputs))
