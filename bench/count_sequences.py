#!/usr/bin/env python3
"""Counts the sequences of a container: an orsk plain container (the sum of its compressed
blocks' SequenceCount fields) or an lz4 frame (one per token, the last literal-only one of
each block included). Prints the count. Usage: count_sequences.py orsk|lz4 FILE"""
import struct
import sys


def orsk_sequences(data):
    if not data:
        return 0
    if data[0] != 83:
        sys.exit("not a plain orsk container")
    count, at = 0, 1
    while at < len(data):
        kind = data[at]
        if kind == 15:  # stored: kind, length twice, the chunk
            at += 9 + struct.unpack_from("<I", data, at + 1)[0]
        elif kind == 66:  # compressed, header order A: sequences, chunk, low bytes, block length
            sequences, _, _, length = struct.unpack_from("<4I", data, at + 1)
            count += sequences
            at += length
        else:
            sys.exit(f"unknown block kind {kind} at {at}")
    return count


def lz4_block_sequences(block):
    count, at, end = 0, 0, len(block)
    while at < end:
        token = block[at]
        at += 1
        count += 1
        literals = token >> 4
        if literals == 15:
            while True:
                b = block[at]
                at += 1
                literals += b
                if b != 255:
                    break
        at += literals
        if at >= end:  # the last sequence carries literals only
            break
        at += 2  # distance
        if token & 15 == 15:
            while block[at] == 255:
                at += 1
            at += 1
    return count


def lz4_sequences(data):
    count, at = 0, 0
    while at < len(data):
        magic = struct.unpack_from("<I", data, at)[0]
        if magic & 0xFFFFFFF0 == 0x184D2A50:  # skippable frame
            at += 8 + struct.unpack_from("<I", data, at + 4)[0]
            continue
        if magic != 0x184D2204:
            sys.exit(f"not an lz4 frame at {at}")
        flags = data[at + 4]
        at += 7 + (8 if flags & 8 else 0) + (4 if flags & 1 else 0)  # magic, FLG, BD, sizes, HC
        while True:
            size = struct.unpack_from("<I", data, at)[0]
            at += 4
            if size == 0:
                break
            stored, size = size >> 31, size & 0x7FFFFFFF
            if not stored:
                count += lz4_block_sequences(data[at:at + size])
            at += size + (4 if flags & 16 else 0)
        at += 4 if flags & 4 else 0
    return count


if __name__ == "__main__":
    kind, path = sys.argv[1], sys.argv[2]
    data = open(path, "rb").read()
    print(orsk_sequences(data) if kind == "orsk" else lz4_sequences(data))
