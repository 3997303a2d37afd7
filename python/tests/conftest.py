"""Data for the orsk package's tests: kinds of input, the command-line tool to compare
containers with, and the repository's reference containers."""
import os
import random
from pathlib import Path

import pytest

import orsk

REPOSITORY = Path(__file__).resolve().parents[2]
CONFORMANCE = REPOSITORY / "tests" / "data" / "conformance"
MiB = 1 << 20


def text(n, seed=1):
    rng = random.Random(seed)
    words = [b"orsk", b"block", b"level", b"chunk", b"stream", b"the", b"of", b"restore", b"1024", b"\n"]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) + b" "
    return bytes(out[:n])


def no_repeats(n, letters=17, order=4):
    """A de Bruijn sequence: no run of `order` letters occurs twice."""
    out, word = bytearray(), [-1]
    while word and len(out) < n:
        word[-1] += 1
        m = len(word)
        if order % m == 0:
            out += bytes(ord("a") + x for x in word)
        while len(word) < order:
            word.append(word[len(word) - m])
        while word and word[-1] == letters - 1:
            word.pop()
    return bytes(out[:n])


def executable(n):
    """Machine code: the extension module itself, repeated to n bytes."""
    code = Path(orsk._orsk.__file__).read_bytes()
    return (code * (n // len(code) + 1))[:n]


# Inputs of every round trip: text, machine code, random, tiny, empty, sizes at and
# around the 1 MiB chunk, and several MiB restoring thousands of times their container.
DATA = {
    "empty": b"",
    "one-byte": b"x",
    "tiny": b"hello, orsk\n",
    "text": text(300_000),
    "executable": executable(200_000),
    "random": random.Random(7).randbytes(150_000),
    "exactly-1MiB": text(MiB, seed=2),
    "1MiB+1": text(MiB, seed=3) + b"!",
    "zeros-5MiB": bytes(5 * MiB),
}


@pytest.fixture(params=sorted(DATA))
def data(request):
    return DATA[request.param]


@pytest.fixture(scope="session")
def orsk_binary():
    """The command-line tool of the release build (ORSK_BINARY names another)."""
    path = Path(os.environ.get("ORSK_BINARY", REPOSITORY / "build" / "release" / "orsk"))
    if not path.exists():
        if "ORSK_BINARY" in os.environ:
            pytest.fail("ORSK_BINARY=%s does not exist" % path)
        pytest.skip("no build/release/orsk: build the release preset first")
    return path
