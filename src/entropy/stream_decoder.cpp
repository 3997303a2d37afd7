// Stream decoder: a coded section body back to its bytes, through a 4096-entry table
// that turns each 12-bit window into every code it completes (up to twelve symbols).
#include <algorithm>
#include <cstring>

#include "entropy/canonical_code.h"

namespace orsk {

namespace {

constexpr unsigned WindowBits = MaxCodeLength;
constexpr std::size_t WindowCount = std::size_t(1) << WindowBits;
constexpr std::size_t LengthCountsBytes = 2 * (MaxCodeLength + 1);

// Four lookups use at most 48 bits of a 64-bit window, so the next batch's first index
// comes from bits already present while the refill of the low bits completes.
constexpr unsigned StepsPerBatch = 4;
constexpr std::size_t BatchMaxBits = StepsPerBatch * MaxCodeLength;
constexpr std::size_t BatchMaxSymbols = StepsPerBatch * MaxCodeLength;
static_assert(BatchMaxBits + WindowBits <= 64);
// A batch starts with fewer than N symbols out, and its last 16-byte store begins at
// most 3 x 12 symbols later: 52 bytes past N at most.
constexpr std::size_t StoreWidth = 16;
constexpr std::size_t DecodeOverrun = (StepsPerBatch - 1) * MaxCodeLength + StoreWidth;
static_assert(DecodeOverrun <= SectionSlack);

// One entry per 12-bit window: every code completed inside it, in order.
struct DecodeTable {
    std::uint8_t used[WindowCount];   // bits of the window those codes take; first, so
                                      // the lookup on the critical path has no offset
    std::uint8_t count[WindowCount];  // symbols produced (0: the window starts no code)
    alignas(16) std::uint8_t symbols[WindowCount][StoreWidth];  // the symbols, zero filled
};

// The code words of one section: `count` 64-bit little-endian words at `at`.
struct CodeWords {
    const std::uint8_t* at;
    std::size_t count;
};

template <bool Careful>
inline std::uint64_t Word(CodeWords words, std::size_t index) {
    if constexpr (Careful) {
        if (index >= words.count) return 0;  // past the end the bit string reads as zeros
    }
    return LoadLE64(words.at + 8 * index);
}

// The 64 bits of the string that start at bit `position`.
template <bool Careful>
inline std::uint64_t BitsAt(CodeWords words, std::size_t position) {
    const std::size_t index = position >> 6;
    const unsigned shift = unsigned(position & 63);
    return (Word<Careful>(words, index) << shift) | ((Word<Careful>(words, index + 1) >> 1) >> (63 - shift));
}

// The string from bit `position` is `bits | fill`: `bits` holds at least its first 16
// bits, `fill` the rest of a 64-bit window; `next` holds the 64 bits after that window.
struct BitWindow {
    std::uint64_t bits;
    std::uint64_t fill;
    std::uint64_t next;
    std::size_t position;
};

// One lookup: store the window's 16 symbol bytes, advance by the symbols it completes,
// consume the bits they take.
inline void DecodeStep(const DecodeTable& table, std::size_t w, std::uint64_t& bits, unsigned& used,
                       std::uint8_t*& out) {
    const unsigned step = table.used[w];
    std::memcpy(out, table.symbols[w], StoreWidth);
    out += table.count[w];
    bits <<= step;
    used += step;
}

// Four lookups, then the window moves on by the bits they used. The fast shape reads
// words (position >> 6) + 1 and + 2 of the new position unchecked.
template <bool Careful>
inline void DecodeBatch(const DecodeTable& table, CodeWords words, BitWindow& window, std::uint8_t*& out) {
    static_assert(StepsPerBatch == 4);
    std::uint64_t bits = window.bits;
    const auto first = std::size_t(bits >> (64 - WindowBits));  // needs no fill bits
    bits |= window.fill;
    unsigned used = 0;
    DecodeStep(table, first, bits, used, out);
    DecodeStep(table, std::size_t(bits >> (64 - WindowBits)), bits, used, out);
    DecodeStep(table, std::size_t(bits >> (64 - WindowBits)), bits, used, out);
    DecodeStep(table, std::size_t(bits >> (64 - WindowBits)), bits, used, out);
    window.bits = bits;
    window.fill = (window.next >> 1) >> (63 - used);
    window.position += used;
    window.next = BitsAt<Careful>(words, window.position + 64);
}

// Untested batches while neither the output (N) nor the code words can be overrun, at
// BatchMaxSymbols and BatchMaxBits each. A batch ending at position p reads words up to
// (p >> 6) + 2, so p must stay below 64 (W - 2). Corrupt when a round makes no
// progress (a window that completes no code uses no bits, so the state is stuck).
[[gnu::noinline]] Status DecodeFast(const DecodeTable& table, CodeWords words, BitWindow& window,
                                    std::uint8_t*& out, std::uint8_t* outEnd) {
    const std::uint64_t fastEnd = words.count > 2 ? 64 * std::uint64_t(words.count - 2) : 0;
    // Locals, so that the stores through `o` cannot be taken to alias them.
    BitWindow w = window;
    std::uint8_t* o = out;
    for (;;) {
        const std::size_t byOutput = std::size_t(outEnd - o) / BatchMaxSymbols;
        const std::size_t byWords =
            w.position < fastEnd ? std::size_t((fastEnd - 1 - w.position) / BatchMaxBits) : 0;
        std::size_t batches = std::min(byOutput, byWords);
        if (batches == 0) break;
        const std::size_t start = w.position;
        while (batches-- != 0) DecodeBatch<false>(table, words, w, o);
        if (w.position == start) return Status::Corrupt;
    }
    window = w;
    out = o;
    return Status::Ok;
}

// Greedy decodes of r-bit values, r < 12, at index (1 << r) | value; index 0 decodes
// nothing.
struct PartialDecodes {
    std::uint8_t used[WindowCount];
    std::uint8_t count[WindowCount];
    alignas(16) std::uint8_t symbols[WindowCount][StoreWidth];
};

// Where one level's decodes go: the partial table or, for 12 bits, the decode table.
struct DecodeLevel {
    std::uint8_t* used;
    std::uint8_t* count;
    std::uint8_t (*symbols)[StoreWidth];
};

// The decode of an r-bit value is its first code followed by the decode of the bits
// after that code, which has fewer bits and is already known; a value that no code of
// at most r bits starts decodes to nothing. Codes in canonical value order (the list
// from its last position) cover the values from 0 up, each a run of 2^(r - length), so
// every level is filled run by run without a per-value search. Needs validated lengths:
// LengthCounts sum to the symbol count and the Kraft sum is at most 1.
void FillLevel(const PartialDecodes& partial, const CodeEntry codes[256], unsigned symbolCount,
               unsigned minLength, unsigned r, DecodeLevel level) {
    std::size_t v = 0;
    for (unsigned i = symbolCount; i-- != 0 && codes[i].length <= r;) {
        const unsigned restBits = r - codes[i].length;
        const std::size_t run = std::size_t(1) << restBits;
        // A rest shorter than every code decodes to nothing (index 0).
        const std::size_t from = restBits >= minLength ? run : 0;
        const std::size_t stride = restBits >= minLength ? 1 : 0;
        for (std::size_t j = 0; j < run; ++j, ++v) {
            const std::size_t rest = from + j * stride;
            level.used[v] = std::uint8_t(partial.used[rest] + codes[i].length);
            level.count[v] = std::uint8_t(partial.count[rest] + 1);
            // Prepend the symbol: a one-byte shift of 16 bytes, as two little-endian halves.
            const std::uint64_t low = LoadLE64(partial.symbols[rest]);
            const std::uint64_t high = LoadLE64(partial.symbols[rest] + 8);
            StoreLE64(level.symbols[v], (low << 8) | codes[i].symbol);
            StoreLE64(level.symbols[v] + 8, (high << 8) | (low >> 56));
        }
    }
    const std::size_t end = std::size_t(1) << r;
    std::memset(level.used + v, 0, end - v);
    std::memset(level.count + v, 0, end - v);
    std::memset(level.symbols[0] + StoreWidth * v, 0, StoreWidth * (end - v));
}

void BuildDecodeTable(const CodeEntry codes[256], unsigned symbolCount, unsigned minLength,
                      DecodeTable& table) {
    // A window starts with a code of at least minLength bits, so only rests of
    // minLength to 12 - minLength bits are looked up.
    PartialDecodes partial;
    partial.used[0] = 0;
    partial.count[0] = 0;
    std::memset(partial.symbols[0], 0, StoreWidth);
    for (unsigned r = minLength; r + minLength <= WindowBits; ++r) {
        const std::size_t at = std::size_t(1) << r;
        FillLevel(partial, codes, symbolCount, minLength, r,
                  DecodeLevel{partial.used + at, partial.count + at, partial.symbols + at});
    }
    FillLevel(partial, codes, symbolCount, minLength, WindowBits,
              DecodeLevel{table.used, table.count, table.symbols});
}

}  // namespace

Status DecodeStream(const std::uint8_t* body, std::size_t bodyLength, std::uint8_t* out, std::size_t n) {
    if (n == 0 || n > MaxStreamLength) return Status::Corrupt;
    ByteCursor in{body, body + bodyLength};
    std::uint8_t countByte;
    if (!TakeByte(in, countByte)) return Status::Corrupt;
    const unsigned symbolCount = countByte + 1u;
    const std::uint8_t* symbolBytes;
    const std::uint8_t* lengthBytes;
    if (!Take(in, symbolCount, symbolBytes) || !Take(in, LengthCountsBytes, lengthBytes)) return Status::Corrupt;
    if (Left(in) % 8 != 0) return Status::Corrupt;  // the rest is whole code words
    const CodeWords words{in.at, Left(in) / 8};
    if (symbolCount > n) return Status::Corrupt;  // every recorded symbol occurs

    bool seen[256] = {};
    for (unsigned i = 0; i < symbolCount; ++i) {
        if (seen[symbolBytes[i]]) return Status::Corrupt;
        seen[symbolBytes[i]] = true;
    }

    // LengthCounts[0] carries nothing. The rest must place every symbol and leave no
    // code value at or above 4096 (Kraft sum at most 1).
    std::uint32_t lengthCounts[MaxCodeLength + 1] = {};
    std::uint32_t placed = 0;
    std::uint32_t kraft = 0;  // in units of 2^-12; at most 12 x 65535 x 2048, fits
    for (unsigned length = 1; length <= MaxCodeLength; ++length) {
        lengthCounts[length] = (std::uint32_t(lengthBytes[2 * length]) << 8) | lengthBytes[2 * length + 1];
        placed += lengthCounts[length];
        kraft += lengthCounts[length] << (MaxCodeLength - length);
    }
    if (placed != symbolCount || kraft > WindowCount) return Status::Corrupt;

    CodeEntry codes[256];
    for (unsigned i = 0; i < symbolCount; ++i) {
        codes[i] = CodeEntry{};
        codes[i].symbol = symbolBytes[i];
    }
    AssignCanonicalCodes(lengthCounts, symbolCount, codes);
    DecodeTable table;
    unsigned minLength = 1;
    while (lengthCounts[minLength] == 0) ++minLength;
    BuildDecodeTable(codes, symbolCount, minLength, table);

    std::uint8_t* o = out;
    std::uint8_t* const outEnd = out + n;
    BitWindow window{BitsAt<true>(words, 0), 0, BitsAt<true>(words, 64), 0};
    if (Status st = DecodeFast(table, words, window, o, outEnd); st != Status::Ok) return st;

    // Careful batches to the end. Until N symbols are out, a valid stream still has the
    // next symbol's code ahead, so a batch never starts at or past the last word's end;
    // the final batch may run on into the zeros the reader supplies there.
    const std::uint64_t bitEnd = 64 * std::uint64_t(words.count);
    std::size_t lastPosition = window.position;
    std::uint8_t* lastOut = o;
    while (o < outEnd) {
        if (window.position >= bitEnd) return Status::Corrupt;
        lastPosition = window.position;
        lastOut = o;
        DecodeBatch<true>(table, words, window, o);
        if (o == lastOut) return Status::Corrupt;
    }

    // The exact code bits of the N symbols: the writer stores ceil(bits / 64) words and
    // pads the last one with zeros. Anything else (a word too many or too few, stray
    // padding bits) is a damaged section, even where the bytes would come out.
    std::uint8_t lengthOf[256] = {};
    for (unsigned i = 0; i < symbolCount; ++i) lengthOf[codes[i].symbol] = std::uint8_t(codes[i].length);
    std::uint64_t bitCount = lastPosition;
    for (const std::uint8_t* p = lastOut; p < outEnd; ++p) bitCount += lengthOf[*p];
    if (bitCount > bitEnd || bitEnd - bitCount >= 64) return Status::Corrupt;
    const unsigned padding = unsigned(bitEnd - bitCount);
    if (padding != 0 && (LoadLE64(words.at + 8 * (words.count - 1)) & ((std::uint64_t(1) << padding) - 1)) != 0) {
        return Status::Corrupt;
    }
    return Status::Ok;
}

}  // namespace orsk
