// Stream decoder: coded section bodies back to their bytes through a table that turns each
// 12-bit window into the codes it completes; bodies of one block decode interleaved.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

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
static_assert(BatchMaxBits + WindowBits <= 64);
// A lookup stores one 8-byte word of symbols; a window that completes more codes gives
// its first eight and leaves the rest to the next lookup.
constexpr unsigned StepMaxSymbols = 8;
constexpr std::size_t BatchMaxSymbols = StepsPerBatch * StepMaxSymbols;
// A batch starts with fewer than N symbols out, and its last store begins at most 3 x 8
// symbols later: 32 bytes past N at most.
constexpr std::size_t DecodeOverrun = (StepsPerBatch - 1) * StepMaxSymbols + StepMaxSymbols;
static_assert(DecodeOverrun <= SectionSlack);

// Indexed by a 12-bit window; also the layout of the shorter partial decodes the table is
// built from.
struct DecodeTable {
    std::uint8_t used[WindowCount];   // bits of the window its complete codes take; a byte
                                      // array, so the lookup on the critical path is a
                                      // load with an unscaled index
    std::uint8_t count[WindowCount];  // symbols produced (0: the window starts no code)
    std::uint64_t symbols[WindowCount];  // little-endian: the first symbol in the low byte
};

// One body's table and the code lengths the final check needs.
struct StreamTable {
    DecodeTable decode;
    std::uint8_t lengthOf[256];
};

// Decoder state of one body. The string from bit `position` is `bits | fill`: `bits`
// holds at least its first 16 bits, `fill` the rest of a 64-bit window. Positions below
// fastEnd leave two words ahead to read.
struct Lane {
    std::uint64_t bits;
    std::uint64_t fill;
    std::size_t position;
    std::uint8_t* out;
    std::uint8_t* outEnd;
    StreamTable* table;
    const std::uint8_t* words;  // wordCount 64-bit little-endian words
    std::size_t wordCount;
    std::uint64_t fastEnd;
    int job;
};

template <bool Careful>
inline std::uint64_t Word(const Lane& lane, std::size_t index) {
    if constexpr (Careful) {
        if (index >= lane.wordCount) return 0;  // past the end the bit string reads as zeros
    }
    return LoadLE64(lane.words + 8 * index);
}

// The 64 bits of the string that start at bit `position`.
template <bool Careful>
inline std::uint64_t BitsAt(const Lane& lane, std::size_t position) {
    const std::size_t index = position >> 6;
    const unsigned shift = unsigned(position & 63);
    return (Word<Careful>(lane, index) << shift) | ((Word<Careful>(lane, index + 1) >> 1) >> (63 - shift));
}

// One lookup: store the window's symbol word, advance by the symbols it completes,
// consume the bits they take.
inline void DecodeStep(const DecodeTable& table, std::size_t w, std::uint64_t& bits, unsigned& used,
                       std::uint8_t*& out) {
    const unsigned step = table.used[w];
    StoreLE64(out, table.symbols[w]);
    out += table.count[w];
    bits <<= step;
    used += step;
}

// Four lookups, then the window moves on by the bits they used. The 64 bits after the
// window are fetched first, off the chain of lookups, and fill what the lookups freed.
// The fast shape reads words (position >> 6) + 1 and + 2 unchecked.
template <bool Careful>
[[gnu::always_inline]] inline void DecodeBatch(Lane& lane) {
    static_assert(StepsPerBatch == 4);
    const DecodeTable& table = lane.table->decode;
    const std::uint64_t next = BitsAt<Careful>(lane, lane.position + 64);
    std::uint64_t bits = lane.bits;
    const auto first = std::size_t(bits >> (64 - WindowBits));  // needs no fill bits
    bits |= lane.fill;
    unsigned used = 0;
    DecodeStep(table, first, bits, used, lane.out);
    DecodeStep(table, std::size_t(bits >> (64 - WindowBits)), bits, used, lane.out);
    DecodeStep(table, std::size_t(bits >> (64 - WindowBits)), bits, used, lane.out);
    DecodeStep(table, std::size_t(bits >> (64 - WindowBits)), bits, used, lane.out);
    lane.bits = bits;
    lane.fill = (next >> 1) >> (63 - used);
    lane.position += used;
}

// Untested batches the lane can take while neither its output (N) nor its code words
// can be overrun, at BatchMaxSymbols and BatchMaxBits each. A batch ending at position p
// reads words up to (p >> 6) + 2, so p must stay below fastEnd = 64 (W - 2).
inline std::size_t SafeBatches(const Lane& lane) {
    const std::size_t byOutput = std::size_t(lane.outEnd - lane.out) / BatchMaxSymbols;
    const std::size_t byWords =
        lane.position < lane.fastEnd ? std::size_t((lane.fastEnd - 1 - lane.position) / BatchMaxBits) : 0;
    return std::min(byOutput, byWords);
}

// Rounds of untested batches on several lanes at once, as many as every lane can take;
// returns when some lane can take none, or with the index of a lane whose round made no
// progress (a window that completes no code uses no bits, so its state is stuck). The
// lanes are spelled out by index so that each one's state stays in registers.
template <std::size_t... I>
[[gnu::noinline]] int RunLanes(Lane* lanes, std::index_sequence<I...>) {
    // Locals, so that the stores through the output pointers cannot be taken to alias them.
    Lane l[sizeof...(I)] = {lanes[I]...};
    int stuck = -1;
    for (;;) {
        const std::size_t batches = std::min({SafeBatches(l[I])...});
        if (batches == 0) break;
        const std::size_t start[] = {l[I].position...};
        for (std::size_t b = 0; b < batches; ++b) (DecodeBatch<false>(l[I]), ...);
        ((stuck = l[I].position == start[I] ? int(I) : stuck), ...);
        if (stuck >= 0) break;
    }
    ((lanes[I] = l[I]), ...);
    return stuck;
}

// Careful batches to the end, then the check that the code words hold exactly the codes
// of the N symbols. Until N symbols are out, a valid stream still has the next symbol's
// code ahead, so a batch never starts at or past the last word's end; the final batch may
// run on into the zeros the reader supplies there.
Status FinishLane(Lane& lane) {
    const std::uint64_t bitEnd = 64 * std::uint64_t(lane.wordCount);
    std::size_t lastPosition = lane.position;
    std::uint8_t* lastOut = lane.out;
    while (lane.out < lane.outEnd) {
        if (lane.position >= bitEnd) return Status::Corrupt;
        lastPosition = lane.position;
        lastOut = lane.out;
        DecodeBatch<true>(lane);
        if (lane.out == lastOut) return Status::Corrupt;
    }

    // The writer stores ceil(bits / 64) words and pads the last one with zeros. Anything
    // else (a word too many or too few, stray padding bits) is a damaged section, even
    // where the bytes would come out.
    std::uint64_t bitCount = lastPosition;
    for (const std::uint8_t* p = lastOut; p < lane.outEnd; ++p) bitCount += lane.table->lengthOf[*p];
    if (bitCount > bitEnd || bitEnd - bitCount >= 64) return Status::Corrupt;
    const unsigned padding = unsigned(bitEnd - bitCount);
    if (padding != 0 &&
        (LoadLE64(lane.words + 8 * (lane.wordCount - 1)) & ((std::uint64_t(1) << padding) - 1)) != 0) {
        return Status::Corrupt;
    }
    return Status::Ok;
}

// The decode of an r-bit value, capped at eight symbols, is its first code followed by
// the capped decode of the bits after that code, which has fewer bits and is already
// known (when that one is full, its eighth symbol falls off); a value that no code of at
// most r bits starts decodes to nothing. Codes in canonical value order (the list from its
// last position) cover the values from 0 up, each a run of 2^(r - length), so every level
// is filled run by run without a per-value search. Partial level r lives at index 2^r of
// `partial`. Needs validated lengths: LengthCounts sum to the symbol count and the Kraft
// sum is at most 1.
void FillLevel(const DecodeTable& partial, const CodeEntry codes[256], const std::uint8_t lengthOf[256],
               unsigned symbolCount, unsigned minLength, unsigned r, std::size_t at, DecodeTable& level) {
    std::uint8_t* const usedOut = level.used + at;
    std::uint8_t* const countOut = level.count + at;
    std::uint64_t* const symbolsOut = level.symbols + at;
    std::size_t v = 0;
    for (unsigned i = symbolCount; i-- != 0 && codes[i].length <= r;) {
        const unsigned length = codes[i].length;
        const std::uint64_t symbol = codes[i].symbol;
        const unsigned restBits = r - length;
        const std::size_t run = std::size_t(1) << restBits;
        if (restBits < minLength) {
            // A rest shorter than every code decodes to nothing.
            std::memset(usedOut + v, int(length), run);
            std::memset(countOut + v, 1, run);
            for (std::size_t j = 0; j < run; ++j) symbolsOut[v + j] = symbol;
        } else {
            const std::uint8_t* restUsed = partial.used + run;
            const std::uint8_t* restCount = partial.count + run;
            const std::uint64_t* restSymbols = partial.symbols + run;
            std::size_t j = 0;
            // Eight entries at a time, their used and count bytes as one word each (no byte
            // carries: used stays at most 24, count at most 9). A count of 9 marks a full
            // rest: back to 8, and its eighth symbol's bits come off.
            constexpr std::uint64_t ByteOnes = 0x0101010101010101;
            for (; run - j >= 8; j += 8) {
                std::uint64_t count8 = LoadLE64(restCount + j) + ByteOnes;
                std::uint64_t used8 = LoadLE64(restUsed + j) + length * ByteOnes;
                std::uint64_t rest[8];  // all loads first: a partial level reads and writes `partial`
                std::memcpy(rest, restSymbols + j, sizeof rest);
                for (std::uint64_t full = (count8 >> 3) & count8 & ByteOnes; full != 0; full &= full - 1) {
                    const unsigned k = unsigned(std::countr_zero(full)) / 8;
                    count8 -= std::uint64_t(1) << (8 * k);
                    used8 -= std::uint64_t(lengthOf[rest[k] >> 56]) << (8 * k);
                }
                StoreLE64(usedOut + v + j, used8);
                StoreLE64(countOut + v + j, count8);
                for (std::uint64_t& w : rest) w = (w << 8) | symbol;  // prepend the symbol
                std::memcpy(symbolsOut + v + j, rest, sizeof rest);
            }
            for (; j < run; ++j) {
                unsigned used = restUsed[j] + length;
                unsigned count = restCount[j] + 1u;
                if (count > StepMaxSymbols) {
                    used -= lengthOf[restSymbols[j] >> 56];
                    count = StepMaxSymbols;
                }
                usedOut[v + j] = std::uint8_t(used);
                countOut[v + j] = std::uint8_t(count);
                symbolsOut[v + j] = (restSymbols[j] << 8) | symbol;
            }
        }
        v += run;
    }
    const std::size_t end = std::size_t(1) << r;
    std::memset(usedOut + v, 0, end - v);
    std::memset(countOut + v, 0, end - v);
    std::memset(symbolsOut + v, 0, (end - v) * sizeof(std::uint64_t));
}

void BuildDecodeTable(const CodeEntry codes[256], unsigned symbolCount, unsigned minLength, StreamTable& table,
                      DecodeTable& partial) {
    // A window starts with a code of at least minLength bits, so only rests of
    // minLength to 12 - minLength bits are looked up.
    for (unsigned r = minLength; r + minLength <= WindowBits; ++r) {
        FillLevel(partial, codes, table.lengthOf, symbolCount, minLength, r, std::size_t(1) << r, partial);
    }
    FillLevel(partial, codes, table.lengthOf, symbolCount, minLength, WindowBits, 0, table.decode);
}

// Reads and checks a body's header, builds its table and sets up its lane.
Status PrepareLane(const StreamJob& job, StreamTable& table, DecodeTable& partial, Lane& lane) {
    const std::size_t n = job.n;
    if (n == 0 || n > MaxStreamLength) return Status::Corrupt;
    ByteCursor in{job.body, job.body + job.bodyLength};
    std::uint8_t countByte;
    if (!TakeByte(in, countByte)) return Status::Corrupt;
    const unsigned symbolCount = countByte + 1u;
    const std::uint8_t* symbolBytes;
    const std::uint8_t* lengthBytes;
    if (!Take(in, symbolCount, symbolBytes) || !Take(in, LengthCountsBytes, lengthBytes)) return Status::Corrupt;
    if (Left(in) % 8 != 0) return Status::Corrupt;  // the rest is whole code words
    if (symbolCount > n) return Status::Corrupt;     // every recorded symbol occurs

    bool seen[256] = {};
    for (unsigned i = 0; i < symbolCount; ++i) {
        if (seen[symbolBytes[i]]) return Status::Corrupt;
        seen[symbolBytes[i]] = true;
    }

    // LengthCounts[0] counts no code (a writer leaves it 0). The rest must place every
    // symbol and leave no code value at or above 4096 (Kraft sum at most 1).
    if (lengthBytes[0] != 0 || lengthBytes[1] != 0) return Status::Corrupt;
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
    std::memset(table.lengthOf, 0, sizeof table.lengthOf);
    for (unsigned i = 0; i < symbolCount; ++i) table.lengthOf[codes[i].symbol] = std::uint8_t(codes[i].length);
    unsigned minLength = 1;
    while (lengthCounts[minLength] == 0) ++minLength;
    BuildDecodeTable(codes, symbolCount, minLength, table, partial);

    lane.table = &table;
    lane.words = in.at;
    lane.wordCount = Left(in) / 8;
    lane.fastEnd = lane.wordCount > 2 ? 64 * std::uint64_t(lane.wordCount - 2) : 0;
    lane.out = job.out;
    lane.outEnd = job.out + n;
    lane.position = 0;
    lane.bits = BitsAt<true>(lane, 0);
    lane.fill = 0;
    return Status::Ok;
}

// Bodies decoded side by side; each finished lane's table takes the next body. Two lanes
// hide most of the latency of a lookup chain; a third costs more in spilled registers
// than it gains (measured on text and executables at level 3).
constexpr int MaxLanes = 2;

// RunLanes on the first `active` lanes (1..MaxLanes).
template <std::size_t... K>
int RunActiveLanes(Lane* lanes, int active, std::index_sequence<K...>) {
    int stuck = -1;
    ((active == int(K) + 1 ? stuck = RunLanes(lanes, std::make_index_sequence<K + 1>()) : 0), ...);
    return stuck;
}

// Bodies ordered per call (a block has at most seven sections); more go in groups.
constexpr int MaxJobs = 8;

}  // namespace

struct StreamDecodeTables {
    StreamTable lanes[MaxLanes];
    DecodeTable partial;
};

void StreamDecodeTablesDeleter::operator()(StreamDecodeTables* t) const { delete t; }

StreamDecodeTablesPtr NewStreamDecodeTables() { return StreamDecodeTablesPtr(new (std::nothrow) StreamDecodeTables); }

void DecodeStreams(const StreamJob* jobs, int count, Status* status, StreamDecodeTables& storage) {
    for (; count > MaxJobs; count -= MaxJobs, jobs += MaxJobs, status += MaxJobs) {
        DecodeStreams(jobs, MaxJobs, status, storage);
    }
    StreamTable* const tables = storage.lanes;
    DecodeTable& partial = storage.partial;
    Lane lanes[MaxLanes];
    int active = 0;
    int next = 0;
    // Longest bodies first, so that the lanes tend to run out together (a body's lookups
    // go with its code bits) and little work is left for fewer lanes at the end.
    int order[MaxJobs];
    for (int j = 0; j < count; ++j) {
        int at = j;
        for (; at > 0 && jobs[order[at - 1]].bodyLength < jobs[j].bodyLength; --at) order[at] = order[at - 1];
        order[at] = j;
    }
    // Starts the next body that passes its checks on `table`; false when none is left.
    const auto start = [&](StreamTable& table) {
        while (next < count) {
            const int j = order[next++];
            Lane lane;
            status[j] = PrepareLane(jobs[j], table, partial, lane);
            if (status[j] == Status::Ok) {
                lane.job = j;
                lanes[active++] = lane;
                return true;
            }
        }
        return false;
    };
    for (int s = 0; s < MaxLanes && start(tables[s]); ++s) {
    }
    while (active > 0) {
        const int stuck = RunActiveLanes(lanes, active, std::make_index_sequence<MaxLanes>());
        // Lanes that can take no untested batch finish carefully and hand their table on.
        // Going down, the lane moved into a freed place and the one started there have
        // both been looked at already.
        for (int k = active; k-- != 0;) {
            if (k != stuck && SafeBatches(lanes[k]) != 0) continue;
            status[lanes[k].job] = k == stuck ? Status::Corrupt : FinishLane(lanes[k]);
            StreamTable& table = *lanes[k].table;
            lanes[k] = lanes[--active];
            start(table);
        }
    }
}

Status DecodeStream(const std::uint8_t* body, std::size_t bodyLength, std::uint8_t* out, std::size_t n,
                    StreamDecodeTables& tables) {
    const StreamJob job{body, bodyLength, out, n};
    Status status = Status::Corrupt;
    DecodeStreams(&job, 1, &status, tables);
    return status;
}

}  // namespace orsk
