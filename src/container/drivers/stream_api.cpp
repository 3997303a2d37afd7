// The C stream calls of include/orsk/orsk.h over StreamCompressor and
// StreamDecompressor: argument checks and a failure that stays.
#include <new>
#include <type_traits>

#include "container/drivers/public_api.h"
#include "container/drivers/stream.h"

namespace {

using namespace orsk;
using namespace orsk::api;

template <typename Core>
struct StreamState {
    template <typename... Args>
    explicit StreamState(Args... args) : core(args...) {}
    Core core;
    orsk_status failure = ORSK_OK;  // the first failure, returned by every later call
};

// A compression stream takes a level and the container flags; a decompression stream
// a level or ORSK_LEVEL_FROM_CONTAINER, and no flags (the container tells its kind).
template <typename Stream>
orsk_status Create(int level, unsigned flags, Stream** stream) {
    if (stream == nullptr) return ORSK_BAD_ARGUMENT;
    *stream = nullptr;
    constexpr bool compress = std::is_same_v<decltype(Stream::core), StreamCompressor>;
    if (compress ? !ValidLevel(level) : !ValidRestoreLevel(level)) return ORSK_BAD_LEVEL;
    if (compress ? !ValidCompressFlags(flags) : flags != 0) return ORSK_BAD_ARGUMENT;
    Stream* made = nullptr;
    if constexpr (compress) {
        made = new (std::nothrow) Stream(Level(level), KindOf(flags), EffortOf(flags));
    } else {
        made = new (std::nothrow) Stream(RequestOf(level));
    }
    if (made == nullptr) return ORSK_OUT_OF_MEMORY;
    if (Status s = made->core.Prepare(); s != Status::Ok) {
        delete made;
        return ToPublic(s);
    }
    *stream = made;
    return ORSK_OK;
}

template <typename Stream>
orsk_status Fail(Stream& stream, orsk_status s) {
    stream.failure = s;
    return s;
}

template <typename Stream>
orsk_status Update(Stream* stream, const void* input, std::size_t inputSize, std::size_t* inputUsed, void* output,
                   std::size_t outputCapacity, std::size_t* outputSize) {
    if (inputUsed != nullptr) *inputUsed = 0;
    if (outputSize != nullptr) *outputSize = 0;
    if (stream == nullptr) return ORSK_BAD_ARGUMENT;
    if (stream->failure != ORSK_OK) return stream->failure;
    if (orsk_status s = CheckBuffers(input, inputSize, output, outputCapacity, outputSize); s != ORSK_OK) {
        return Fail(*stream, s);
    }
    if (inputUsed == nullptr || (inputSize != 0 && stream->core.finishing())) return Fail(*stream, ORSK_BAD_ARGUMENT);
    const auto* in = static_cast<const std::uint8_t*>(input);
    auto* out = static_cast<std::uint8_t*>(output);
    ByteCursor cursor{in, in + inputSize};
    ByteSink sink{out, out, out + outputCapacity};
    const Status s = stream->core.Update(cursor, sink);
    *inputUsed = std::size_t(cursor.at - in);
    *outputSize = Written(sink);
    return s == Status::Ok ? ORSK_OK : Fail(*stream, ToPublic(s));
}

template <typename Stream>
orsk_status Finish(Stream* stream, void* output, std::size_t outputCapacity, std::size_t* outputSize, int* done) {
    if (outputSize != nullptr) *outputSize = 0;
    if (done != nullptr) *done = 0;
    if (stream == nullptr) return ORSK_BAD_ARGUMENT;
    if (stream->failure != ORSK_OK) return stream->failure;
    std::size_t noInput = 0;
    if (orsk_status s = CheckBuffers(nullptr, noInput, output, outputCapacity, outputSize); s != ORSK_OK) {
        return Fail(*stream, s);
    }
    if (done == nullptr) return Fail(*stream, ORSK_BAD_ARGUMENT);
    auto* out = static_cast<std::uint8_t*>(output);
    ByteSink sink{out, out, out + outputCapacity};
    bool finished = false;
    const Status s = stream->core.Finish(sink, finished);
    *outputSize = Written(sink);
    if (s != Status::Ok) return Fail(*stream, ToPublic(s));
    *done = finished ? 1 : 0;
    return ORSK_OK;
}

}  // namespace

struct orsk_compress_stream : StreamState<StreamCompressor> {
    using StreamState::StreamState;
};
struct orsk_decompress_stream : StreamState<StreamDecompressor> {
    using StreamState::StreamState;
};

extern "C" {

orsk_status orsk_compress_stream_create(int level, unsigned flags, orsk_compress_stream** stream) {
    return Create(level, flags, stream);
}

orsk_status orsk_compress_stream_update(orsk_compress_stream* stream, const void* input, size_t input_size,
                                        size_t* input_used, void* output, size_t output_capacity,
                                        size_t* output_size) {
    return Update(stream, input, input_size, input_used, output, output_capacity, output_size);
}

orsk_status orsk_compress_stream_finish(orsk_compress_stream* stream, void* output, size_t output_capacity,
                                        size_t* output_size, int* done) {
    return Finish(stream, output, output_capacity, output_size, done);
}

void orsk_compress_stream_destroy(orsk_compress_stream* stream) { delete stream; }

orsk_status orsk_decompress_stream_create(int level, unsigned flags, orsk_decompress_stream** stream) {
    return Create(level, flags, stream);
}

orsk_status orsk_decompress_stream_update(orsk_decompress_stream* stream, const void* input, size_t input_size,
                                          size_t* input_used, void* output, size_t output_capacity,
                                          size_t* output_size) {
    return Update(stream, input, input_size, input_used, output, output_capacity, output_size);
}

orsk_status orsk_decompress_stream_finish(orsk_decompress_stream* stream, void* output, size_t output_capacity,
                                          size_t* output_size, int* done) {
    return Finish(stream, output, output_capacity, output_size, done);
}

void orsk_decompress_stream_destroy(orsk_decompress_stream* stream) { delete stream; }

}  // extern "C"
