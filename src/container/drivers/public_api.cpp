// The C interface of include/orsk/orsk.h over the memory path. A one-shot call works
// in a workspace of its own, freed when it returns; a context keeps one between calls.
#include "container/drivers/public_api.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "container/drivers/memory.h"

namespace orsk::api {

orsk_status ToPublic(Status s) {
    switch (s) {
        case Status::Ok: return ORSK_OK;
        case Status::Truncated: return ORSK_TRUNCATED;
        case Status::NoRoom: return ORSK_NO_ROOM;
        case Status::OutOfMemory: return ORSK_OUT_OF_MEMORY;
        case Status::ChecksumMismatch: return ORSK_CHECKSUM_MISMATCH;
        case Status::WrongLevel: return ORSK_WRONG_LEVEL;
        case Status::UnknownLevel: return ORSK_UNKNOWN_LEVEL;
        case Status::OutOfRange: return ORSK_OUT_OF_RANGE;
        default: return ORSK_CORRUPT;
    }
}

namespace {

// A byte range given by a caller, kept short enough that its end is a valid address
// (a capacity near SIZE_MAX would otherwise wrap around).
struct Range {
    std::uintptr_t begin;
    std::size_t size;
};
Range Clamped(const void* p, std::size_t size) {
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    const std::size_t room = std::min<std::uintmax_t>(UINTPTR_MAX - begin, PTRDIFF_MAX);
    return {begin, std::min(size, room)};
}
bool Overlap(Range a, Range b) {
    return a.size != 0 && b.size != 0 && a.begin < b.begin + b.size && b.begin < a.begin + a.size;
}

}  // namespace

std::size_t ClampedSize(const void* p, std::size_t size) { return Clamped(p, size).size; }

orsk_status CheckBuffers(const void* in, std::size_t& inSize, const void* out, std::size_t& outSize,
                         const void* result) {
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0) || result == nullptr) {
        return ORSK_BAD_ARGUMENT;
    }
    const Range input = Clamped(in, inSize), output = Clamped(out, outSize);
    if (Overlap(input, output)) return ORSK_BAD_ARGUMENT;
    inSize = input.size;
    outSize = output.size;
    return ORSK_OK;
}

}  // namespace orsk::api

struct orsk_context {
    orsk::BlockWorkspace ws;
};

namespace {

using namespace orsk;
using namespace orsk::api;

// The numbers of the version say what its string says.
constexpr unsigned VersionFromString(const char* s) {
    unsigned number = 0, part = 0;
    for (; *s != 0; ++s) {
        if (*s == '.') {
            number = number * 100 + part;
            part = 0;
        } else {
            part = part * 10 + unsigned(*s - '0');
        }
    }
    return number * 100 + part;
}
static_assert(VersionFromString(ORSK_VERSION_STRING) == ORSK_VERSION_NUMBER);
static_assert(ORSK_COMPRESS_BOUND_CHECKED(0) == CheckedHeaderLength + EndRecordLength);

orsk_status Compress(BlockWorkspace& ws, int level, unsigned flags, const void* input, size_t input_size,
                     void* output, size_t output_capacity, size_t* output_size) {
    if (!ValidLevel(level)) return ORSK_BAD_LEVEL;
    if (!ValidCompressFlags(flags)) return ORSK_BAD_ARGUMENT;
    if (orsk_status s = CheckBuffers(input, input_size, output, output_capacity, output_size); s != ORSK_OK) return s;
    auto* out = static_cast<std::uint8_t*>(output);
    ByteSink sink{out, out, out + output_capacity};
    const Status s = CompressInto(Level(level), static_cast<const std::uint8_t*>(input), input_size, sink, ws,
                                  nullptr, KindOf(flags), EffortOf(flags));
    *output_size = s == Status::Ok ? Written(sink) : 0;
    return ToPublic(s);
}

// A restore of the whole container, or of `range` of its bytes.
orsk_status Decompress(BlockWorkspace& ws, int level, const void* container, size_t container_size, void* output,
                       size_t output_capacity, size_t* output_size, const ByteRange& range = {}) {
    if (!ValidRestoreLevel(level)) return ORSK_BAD_LEVEL;
    if (orsk_status s = CheckBuffers(container, container_size, output, output_capacity, output_size); s != ORSK_OK) {
        return s;
    }
    auto* out = static_cast<std::uint8_t*>(output);
    ByteSink sink{out, out, out + output_capacity};
    const Status s =
        DecompressRange(RequestOf(level), static_cast<const std::uint8_t*>(container), container_size, range, sink, ws);
    *output_size = s == Status::Ok ? Written(sink) : 0;
    return ToPublic(s);
}

}  // namespace

extern "C" {

orsk_context* orsk_context_create(void) { return new (std::nothrow) orsk_context; }

void orsk_context_free(orsk_context* ctx) { delete ctx; }

orsk_status orsk_compress_ctx(orsk_context* ctx, int level, unsigned flags, const void* input, size_t input_size,
                              void* output, size_t output_capacity, size_t* output_size) {
    if (ctx == nullptr) return ORSK_BAD_ARGUMENT;
    return Compress(ctx->ws, level, flags, input, input_size, output, output_capacity, output_size);
}

orsk_status orsk_decompress_ctx(orsk_context* ctx, int level, const void* container, size_t container_size,
                                void* output, size_t output_capacity, size_t* output_size) {
    if (ctx == nullptr) return ORSK_BAD_ARGUMENT;
    return Decompress(ctx->ws, level, container, container_size, output, output_capacity, output_size);
}

uint64_t orsk_compress_bound(uint64_t input_size) { return ContainerBound(input_size); }

uint64_t orsk_compress_bound_ex(uint64_t input_size, unsigned flags) {
    return ContainerBound(input_size, KindOf(flags));
}

orsk_status orsk_compress(int level, const void* input, size_t input_size, void* output, size_t output_capacity,
                          size_t* output_size) {
    return orsk_compress_ex(level, 0, input, input_size, output, output_capacity, output_size);
}

orsk_status orsk_compress_ex(int level, unsigned flags, const void* input, size_t input_size, void* output,
                             size_t output_capacity, size_t* output_size) {
    BlockWorkspace ws;
    return Compress(ws, level, flags, input, input_size, output, output_capacity, output_size);
}

orsk_status orsk_decompressed_size(int level, const void* container, size_t container_size, uint64_t* size) {
    if (!ValidRestoreLevel(level)) return ORSK_BAD_LEVEL;
    if ((container == nullptr && container_size != 0) || size == nullptr) return ORSK_BAD_ARGUMENT;
    container_size = ClampedSize(container, container_size);
    BlockWorkspace ws;
    return ToPublic(
        RestoredSize(RequestOf(level), static_cast<const std::uint8_t*>(container), container_size, *size, ws));
}

orsk_status orsk_decompress(int level, const void* container, size_t container_size, void* output,
                            size_t output_capacity, size_t* output_size) {
    BlockWorkspace ws;
    return Decompress(ws, level, container, container_size, output, output_capacity, output_size);
}

orsk_status orsk_decompress_range(int level, const void* container, size_t container_size, uint64_t offset,
                                  uint64_t length, void* output, size_t output_capacity, size_t* output_size) {
    BlockWorkspace ws;
    return Decompress(ws, level, container, container_size, output, output_capacity, output_size,
                      ByteRange::Of(offset, length));
}

orsk_status orsk_salvage(int level, const void* container, size_t container_size, void* output,
                         size_t output_capacity, size_t* output_size, orsk_damaged_range* ranges,
                         size_t range_capacity, size_t* range_count) {
    if (!ValidRestoreLevel(level)) return ORSK_BAD_LEVEL;
    constexpr std::size_t RangeSize = sizeof(orsk_damaged_range);
    std::size_t rangeBytes = range_capacity > SIZE_MAX / RangeSize ? SIZE_MAX : range_capacity * RangeSize;
    // The ranges are written, so they must not overlap the container or the output.
    for (orsk_status s : {CheckBuffers(container, container_size, output, output_capacity, output_size),
                          CheckBuffers(container, container_size, ranges, rangeBytes, range_count),
                          CheckBuffers(output, output_capacity, ranges, rangeBytes, range_count)}) {
        if (s != ORSK_OK) return s;
    }
    struct Listed {
        orsk_damaged_range* ranges;
        std::size_t capacity;
        std::size_t count;
    } listed{ranges, rangeBytes / RangeSize, 0};
    // One reference captured: the observer keeps it without allocating.
    const DamageObserver note = [&listed](const DamagedRange& d) {
        if (listed.count < listed.capacity) {
            listed.ranges[listed.count] = {d.block, d.offset, d.length,
                                           d.why == DamageKind::ChecksumMismatch ? ORSK_DAMAGE_CHECKSUM
                                           : d.why == DamageKind::CutShort       ? ORSK_DAMAGE_CUT_SHORT
                                           : d.why == DamageKind::EndRecord      ? ORSK_DAMAGE_END_RECORD
                                                                                 : ORSK_DAMAGE_CORRUPT};
        }
        ++listed.count;
    };
    auto* out = static_cast<std::uint8_t*>(output);
    ByteSink sink{out, out, out + output_capacity};
    BlockWorkspace ws;
    const Status s = DecompressInto(RequestOf(level), static_cast<const std::uint8_t*>(container), container_size, sink,
                                    ws, nullptr, &note);
    *output_size = s == Status::Ok ? Written(sink) : 0;
    *range_count = s == Status::Ok ? listed.count : 0;
    if (s != Status::Ok) return ToPublic(s);
    return listed.count == 0 ? ORSK_OK : ORSK_DAMAGED;
}

orsk_status orsk_inspect(const void* container, size_t container_size, orsk_info* info) {
    if ((container == nullptr && container_size != 0) || info == nullptr) return ORSK_BAD_ARGUMENT;
    container_size = ClampedSize(container, container_size);
    ContainerFacts facts;
    BlockWorkspace ws;
    const Status s = InspectContainer(static_cast<const std::uint8_t*>(container), container_size, ws, facts);
    const RestoreFacts& r = facts.restore;
    *info = orsk_info{};
    info->checked = r.kind == ContainerKind::Checked;
    info->level = r.level ? int(*r.level) : -1;
    info->level_detected = r.levelDetected;
    info->level_mask = r.levelDetected ? r.candidates : r.level ? 1u << int(*r.level) : 0;
    info->blocks = facts.blocks;
    info->stored_blocks = facts.storedBlocks;
    info->restored_size = facts.restoredLength;
    return ToPublic(s);
}

const char* orsk_status_text(int status) {
    switch (status) {
        case ORSK_OK: return "ok";
        case ORSK_TRUNCATED: return "the container is cut short";
        case ORSK_CORRUPT: return "the container is damaged or was written at another level";
        case ORSK_NO_ROOM: return "the output buffer is too small";
        case ORSK_OUT_OF_MEMORY: return "out of memory";
        case ORSK_BAD_LEVEL: return "the level must be 0 to 5";
        case ORSK_BAD_ARGUMENT: return "a null pointer, overlapping buffers, unknown flags or input after finish";
        case ORSK_CHECKSUM_MISMATCH: return "the checked container is damaged (a checksum differs)";
        case ORSK_WRONG_LEVEL: return "the checked container records another level";
        case ORSK_UNKNOWN_LEVEL: return "the level cannot be told from the container";
        case ORSK_DAMAGED: return "the container is damaged: the blocks that restore were written, zeros stand for the others";
        case ORSK_OUT_OF_RANGE: return "the range starts past the end of the data";
    }
    return "unknown status";
}

const char* orsk_version(void) { return ORSK_VERSION_STRING; }

}  // extern "C"
