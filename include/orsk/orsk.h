/* orsk: block compression at six levels (0 HYPERFAST ... 5 BEST), in memory.
 *
 * A container does not record its level: restore it with the level that wrote it.
 * Every call returns a status and never throws. Calls are thread-safe: each thread
 * keeps its own working memory (about 20 MiB, allocated on its first call).
 * Usable from C and C++; link with -lorsk (static) or find_package(orsk) / pkg-config. */
#ifndef ORSK_ORSK_H
#define ORSK_ORSK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORSK_VERSION_STRING "1.0.0"
#define ORSK_MIN_LEVEL 0
#define ORSK_MAX_LEVEL 5

typedef enum orsk_status {
    ORSK_OK = 0,
    ORSK_TRUNCATED = 1,     /* the container ends inside a block */
    ORSK_CORRUPT = 2,       /* the container is damaged or was written at another level */
    ORSK_NO_ROOM = 3,       /* the output buffer is too small */
    ORSK_OUT_OF_MEMORY = 4,
    ORSK_BAD_LEVEL = 5,     /* level outside 0..5 */
    ORSK_BAD_ARGUMENT = 6   /* a null pointer where bytes were expected */
} orsk_status;

/* The largest container an input of input_size bytes can become. */
uint64_t orsk_compress_bound(uint64_t input_size);

/* Compresses input[0..input_size) into output; *output_size receives the container's
 * length. An empty input gives an empty container. */
orsk_status orsk_compress(int level, const void* input, size_t input_size, void* output, size_t output_capacity,
                          size_t* output_size);

/* The number of bytes a container restores, read from its block headers. */
orsk_status orsk_decompressed_size(int level, const void* container, size_t container_size, uint64_t* size);

/* Restores a container into output; *output_size receives the restored length. */
orsk_status orsk_decompress(int level, const void* container, size_t container_size, void* output,
                            size_t output_capacity, size_t* output_size);

/* A short English description of a status. */
const char* orsk_status_text(orsk_status status);

#ifdef __cplusplus
}
#endif

#endif /* ORSK_ORSK_H */
