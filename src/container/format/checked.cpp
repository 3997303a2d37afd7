// Checksums, header and end record of the checked container. xxHash is compiled in
// header-only (here, and in AVX2 beside), so the program needs no hashing library at
// run time.
#include "container/format/checked.h"

#include "base/bytes.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace orsk {

#ifdef ORSK_XXH3_AVX2
std::uint64_t Xxh3Avx2(const std::uint8_t* p, std::size_t n, std::uint64_t seed);  // checksum_avx2.cpp
#endif

namespace {

std::uint32_t HeaderCheck(const std::uint8_t* header) { return std::uint32_t(XXH3_64bits(header, 4)); }

using Hash = std::uint64_t (*)(const std::uint8_t* p, std::size_t n, std::uint64_t seed);

std::uint64_t Xxh3(const std::uint8_t* p, std::size_t n, std::uint64_t seed) { return XXH3_64bits_withSeed(p, n, seed); }

Hash FastestXxh3() {
#ifdef ORSK_XXH3_AVX2
    if (__builtin_cpu_supports("avx2")) return Xxh3Avx2;
#endif
    return Xxh3;
}

// XXH3 of a chunk or block (seed 0 gives XXH3_64bits), by the widest build the
// processor runs.
std::uint64_t HashBlockBytes(const std::uint8_t* p, std::size_t n, std::uint64_t seed) {
    static const Hash hash = FastestXxh3();
    return hash(p, n, seed);
}

}  // namespace

std::uint64_t ChunkChecksum(const std::uint8_t* chunk, std::size_t n) { return HashBlockBytes(chunk, n, 0); }

std::uint64_t BlockCheck(const std::uint8_t* block, std::size_t total, std::uint64_t chunkChecksum) {
    return HashBlockBytes(block, total, chunkChecksum);
}

void WriteCheckedHeader(std::uint8_t* out, Level level) {
    out[0] = CheckedMagic;
    out[1] = CheckedVersion;
    out[2] = std::uint8_t(level);
    out[3] = 0;  // flags: none defined
    StoreLE32(out + 4, HeaderCheck(out));
}

Status ReadContainerHead(const std::uint8_t* in, std::size_t n, ContainerHead& head, std::string* why) {
    const auto fail = [&](Status s, const char* reason) {
        if (why != nullptr) *why = reason;
        return s;
    };
    if (n == 0) return fail(Status::Truncated, "it is empty");
    if (in[0] == ContainerMagic) {
        head = {ContainerKind::Plain, Level::Hyperfast, 1};
        return Status::Ok;
    }
    if (in[0] != CheckedMagic) return fail(Status::Corrupt, "it is not an orsk container (bad magic byte)");
    if (n < CheckedHeaderLength) return fail(Status::Truncated, "its checked header is cut short");
    // The header check first: a damaged version or flags byte is damage, not a newer format.
    if (LoadLE32(in + 4) != HeaderCheck(in)) return fail(Status::Corrupt, "its checked header is damaged");
    // Versions count from 1: a 0 was never written, so it is no newer format.
    if (in[1] == 0) return fail(Status::Corrupt, "its checked header records version 0, which is not a valid version");
    if (in[1] != CheckedVersion) return fail(Status::Corrupt, "it is a checked container of a newer version");
    if (in[3] != 0) return fail(Status::Corrupt, "its checked header sets flags this version does not know");
    if (in[2] >= LevelCount) return fail(Status::Corrupt, "its checked header records no level 0 to 5");
    head = {ContainerKind::Checked, Level(in[2]), CheckedHeaderLength};
    return Status::Ok;
}

Status LevelOfHead(const ContainerHead& head, LevelRequest request, LevelRequest& level) {
    if (head.kind == ContainerKind::Checked) {
        if (request && *request != head.level) return Status::WrongLevel;
        level = head.level;
        return Status::Ok;
    }
    level = request;
    return Status::Ok;
}

void ContentTally::Add(std::uint64_t blockCheck, std::size_t n) {
    std::uint8_t bytes[BlockCheckLength];
    StoreLE64(bytes, blockCheck);
    checksum = XXH3_64bits_withSeed(bytes, sizeof bytes, checksum);
    blocks += 1;
    length += n;
}

void WriteEndRecord(std::uint8_t* out, const ContentTally& tally) {
    out[0] = EndRecordKind;
    StoreLE64(out + 1, tally.blocks);
    StoreLE64(out + 9, tally.length);
    StoreLE64(out + 17, tally.checksum);
}

Status CheckEndRecord(const std::uint8_t* record, const ContentTally& tally, bool countsOnly, std::string* why) {
    const auto fail = [&](Status s, std::string reason) {
        if (why != nullptr) *why = std::move(reason);
        return s;
    };
    const std::uint64_t blocks = LoadLE64(record + 1), length = LoadLE64(record + 9);
    if (blocks != tally.blocks) {
        return fail(Status::Corrupt, "it counts " + std::to_string(blocks) + " blocks, the container holds " +
                                         std::to_string(tally.blocks));
    }
    if (length != tally.length) {
        return fail(Status::Corrupt, "it records " + std::to_string(length) + " restored bytes, the blocks hold " +
                                         std::to_string(tally.length));
    }
    if (!countsOnly && LoadLE64(record + 17) != tally.checksum) {
        return fail(Status::ChecksumMismatch, "the content checksum differs");
    }
    return Status::Ok;
}

}  // namespace orsk
