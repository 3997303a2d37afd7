// The C interface of include/orsk/orsk.h over the memory path. Each calling thread
// keeps one workspace, so separate calls may run at once.
#include "orsk/orsk.h"

#include "container/drivers/memory.h"

namespace {

using namespace orsk;

orsk_status ToPublic(Status s) {
    switch (s) {
        case Status::Ok: return ORSK_OK;
        case Status::Truncated: return ORSK_TRUNCATED;
        case Status::NoRoom: return ORSK_NO_ROOM;
        case Status::OutOfMemory: return ORSK_OUT_OF_MEMORY;
        default: return ORSK_CORRUPT;
    }
}

BlockWorkspace& ThreadWorkspace() {
    thread_local BlockWorkspace ws;
    return ws;
}

bool ValidLevel(int level) { return level >= ORSK_MIN_LEVEL && level <= ORSK_MAX_LEVEL; }

}  // namespace

extern "C" {

uint64_t orsk_compress_bound(uint64_t input_size) { return ContainerBound(input_size); }

orsk_status orsk_compress(int level, const void* input, size_t input_size, void* output, size_t output_capacity,
                          size_t* output_size) {
    if (!ValidLevel(level)) return ORSK_BAD_LEVEL;
    if ((input == nullptr && input_size != 0) || (output == nullptr && output_capacity != 0) || output_size == nullptr) {
        return ORSK_BAD_ARGUMENT;
    }
    auto* out = static_cast<std::uint8_t*>(output);
    ByteSink sink{out, out, out + output_capacity};
    const Status s = CompressInto(Level(level), static_cast<const std::uint8_t*>(input), input_size, sink,
                                  ThreadWorkspace());
    *output_size = s == Status::Ok ? Written(sink) : 0;
    return ToPublic(s);
}

orsk_status orsk_decompressed_size(int level, const void* container, size_t container_size, uint64_t* size) {
    if (!ValidLevel(level)) return ORSK_BAD_LEVEL;
    if ((container == nullptr && container_size != 0) || size == nullptr) return ORSK_BAD_ARGUMENT;
    return ToPublic(RestoredSize(Level(level), static_cast<const std::uint8_t*>(container), container_size, *size));
}

orsk_status orsk_decompress(int level, const void* container, size_t container_size, void* output,
                            size_t output_capacity, size_t* output_size) {
    if (!ValidLevel(level)) return ORSK_BAD_LEVEL;
    if ((container == nullptr && container_size != 0) || (output == nullptr && output_capacity != 0) ||
        output_size == nullptr) {
        return ORSK_BAD_ARGUMENT;
    }
    auto* out = static_cast<std::uint8_t*>(output);
    ByteSink sink{out, out, out + output_capacity};
    const Status s = DecompressInto(Level(level), static_cast<const std::uint8_t*>(container), container_size, sink,
                                    ThreadWorkspace());
    *output_size = s == Status::Ok ? Written(sink) : 0;
    return ToPublic(s);
}

const char* orsk_status_text(orsk_status status) {
    switch (status) {
        case ORSK_OK: return "ok";
        case ORSK_TRUNCATED: return "the container is cut short";
        case ORSK_CORRUPT: return "the container is damaged or was written at another level";
        case ORSK_NO_ROOM: return "the output buffer is too small";
        case ORSK_OUT_OF_MEMORY: return "out of memory";
        case ORSK_BAD_LEVEL: return "the level must be 0 to 5";
        case ORSK_BAD_ARGUMENT: return "a required pointer is null";
    }
    return "unknown status";
}

}  // extern "C"
