// The stream entropy coder: one byte stream to the body of a coded section (canonical
// Huffman codes of at most 12 bits) and back. It never sees a block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/bytes.h"
#include "base/format.h"

namespace orsk {

struct StreamDecodeTables;

constexpr unsigned MaxCodeLength = 12;
constexpr std::size_t MinCodedLength = 2048;  // shorter streams are written raw
constexpr std::size_t SectionSlack = 1024;    // room DecodeStream may write past N
constexpr std::size_t CodedStreamFixedBytes = 35;  // N, S, n-1 and 13 LengthCounts

// One present byte value while a code is built (field order as recorded).
struct CodeEntry {
    std::uint16_t symbol = 0;
    std::uint16_t length = 0;
    std::uint16_t code = 0;
    std::uint16_t parent = 0;
    std::uint32_t count = 0;
};

// Histogram of `data`, then one entry per present byte value in ascending value order.
// Returns the number of present values (0..256).
unsigned CountSymbols(const std::uint8_t* data, std::size_t n, std::uint32_t histogram[256],
                      CodeEntry symbols[256]);

// Sorts `symbols` by ascending count (equal counts by ascending byte value), builds
// lengths (at most 12 bits) and canonical codes. `codes` receives the entries in list
// order with symbol, length and code filled; `lengthCounts[0..12]` the codes per length.
void BuildPrefixCode(unsigned n, std::uint32_t lengthCounts[13], CodeEntry symbols[256],
                     CodeEntry codes[256]);

// Exact size of the coded body (without the kind byte) EncodeStream would write.
std::size_t CodedStreamSize(const std::uint8_t* data, std::size_t n);

// Writes the coded body of data[0..n) at sink.at (the caller wrote the kind byte 2).
// 1 <= n <= MaxStreamLength. NoRoom when the sink cannot hold it; nothing useful is
// written then.
[[nodiscard]] Status EncodeStream(const std::uint8_t* data, std::size_t n, ByteSink& sink);

// Decodes a coded body. `body` points at its n-1 byte (offset 8, after N and S) and
// holds bodyLength = S bytes; nothing outside them is read. `out` has room for
// n + SectionSlack bytes; its first n bytes receive the stream. Corrupt on any
// inconsistency (bad LengthCounts, a window that completes no code, code words too
// short for n symbols).
[[nodiscard]] Status DecodeStream(const std::uint8_t* body, std::size_t bodyLength, std::uint8_t* out,
                                  std::size_t n, StreamDecodeTables& tables);

// The decoder's working tables (about 120 KiB), allocated once by their owner and reused
// for every block, so that decoding keeps only a few KiB on the stack.
struct StreamDecodeTables;
struct StreamDecodeTablesDeleter {
    void operator()(StreamDecodeTables* t) const;
};
using StreamDecodeTablesPtr = std::unique_ptr<StreamDecodeTables, StreamDecodeTablesDeleter>;
StreamDecodeTablesPtr NewStreamDecodeTables();  // null when out of memory

// One body for DecodeStreams, with the arguments DecodeStream takes.
struct StreamJob {
    const std::uint8_t* body;
    std::size_t bodyLength;
    std::uint8_t* out;
    std::size_t n;
};

// DecodeStream on each of jobs[0..count), several at a time so that their lookups
// overlap; status[i] receives the result of jobs[i]. The outputs must not overlap.
void DecodeStreams(const StreamJob* jobs, int count, Status* status, StreamDecodeTables& tables);

}  // namespace orsk
