/* orsk: block compression at six levels (0 HYPERFAST ... 5 BEST), in memory.
 *
 * A plain container (the default) does not record its level: restore it with the level
 * that wrote it, or with ORSK_LEVEL_FROM_CONTAINER to have the level told from its
 * compressed blocks. A checked container (orsk_compress_ex with ORSK_FLAG_CHECKED)
 * records its level and carries a checksum of every block and of the whole content,
 * so that damage, a cut or a lost block fails instead of restoring wrong bytes.
 * Every call returns a status and never throws. Calls are thread-safe. A one-shot call
 * allocates its working memory (3 to 11 MiB, as told for contexts below) and frees it
 * before it returns, so a thread keeps nothing between calls; a context keeps it for
 * the next call instead. A call needs less than 32 KiB of the calling thread's
 * stack.
 * Input and output buffers must not overlap (ORSK_BAD_ARGUMENT). A one-shot call may
 * write anywhere in output[0..output_capacity), also past the *output_size bytes it
 * reports. Streams (below) compress and restore data as it flows.
 * Usable from C and C++. Link the shared library with -lorsk, or the static one through
 * find_package(orsk) (orsk::orsk_static) or `pkg-config --static --libs orsk`, which add
 * the C++ runtime it needs. */
#ifndef ORSK_ORSK_H
#define ORSK_ORSK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calls exported by the shared library; everything else in it stays hidden. A Windows
 * DLL build defines ORSK_BUILD_DLL, its users ORSK_USE_DLL; the static library needs
 * neither. */
#if defined(_WIN32) && defined(ORSK_BUILD_DLL)
#define ORSK_API __declspec(dllexport)
#elif defined(_WIN32) && defined(ORSK_USE_DLL)
#define ORSK_API __declspec(dllimport)
#elif defined(__GNUC__) && !defined(_WIN32)
#define ORSK_API __attribute__((visibility("default")))
#else
#define ORSK_API
#endif

/* The version of this header; the build checks it against the project's version, and
 * the numbers against the string. */
#define ORSK_VERSION_MAJOR 1
#define ORSK_VERSION_MINOR 0
#define ORSK_VERSION_PATCH 0
#define ORSK_VERSION_NUMBER (ORSK_VERSION_MAJOR * 10000 + ORSK_VERSION_MINOR * 100 + ORSK_VERSION_PATCH)
#define ORSK_VERSION_STRING "1.0.0"
#define ORSK_MIN_LEVEL 0
#define ORSK_MAX_LEVEL 5
/* A restore's level: the one a checked container records, or the one a plain
 * container's compressed blocks restore at (the levels its first restores at, narrowed
 * by every one after it). Such a restore gives the original bytes or fails with
 * ORSK_UNKNOWN_LEVEL; it never gives other bytes. */
#define ORSK_LEVEL_FROM_CONTAINER (-1)
/* orsk_compress_ex flags. */
#define ORSK_FLAG_CHECKED 1u  /* write a checked container */
#define ORSK_CHECKED ORSK_FLAG_CHECKED  /* its earlier name */
/* ORSK_EFFORT(n), n from 1 to 9: a parse that searches harder as n grows, for smaller
 * containers of the same format (every reader restores them, as fast or faster) at a
 * lower compression speed. 0 (no effort flag) is each level's own parse, byte for byte.
 * Levels 0, 1 and 5 have such parses; levels 2 to 4 write their own parse at every
 * effort. A block is never longer than the level's own parse makes it. An effort at
 * levels 0, 1 and 5 needs about 32 MiB more working memory per thread. A value above
 * 9: ORSK_BAD_ARGUMENT. */
#define ORSK_EFFORT(n) ((unsigned)(n) << 4)
#define ORSK_EFFORT_MASK (15u << 4)

typedef enum orsk_status {
    ORSK_OK = 0,
    ORSK_TRUNCATED = 1,     /* the container ends inside a block */
    ORSK_CORRUPT = 2,       /* the container is damaged or was written at another level */
    ORSK_NO_ROOM = 3,       /* the output buffer is too small */
    ORSK_OUT_OF_MEMORY = 4,
    ORSK_BAD_LEVEL = 5,     /* level outside 0..5 */
    ORSK_BAD_ARGUMENT = 6,  /* a null pointer where bytes were expected, overlapping buffers,
                               unknown flags, or input to a finished stream */
    ORSK_CHECKSUM_MISMATCH = 7,  /* a checked container is damaged: a block or the whole content fails its checksum */
    ORSK_WRONG_LEVEL = 8,        /* a checked container records another level than the one given */
    ORSK_UNKNOWN_LEVEL = 9,      /* ORSK_LEVEL_FROM_CONTAINER: a plain container's level cannot be told */
    ORSK_DAMAGED = 10,           /* orsk_salvage: the output was written, with damaged ranges */
    ORSK_OUT_OF_RANGE = 11       /* orsk_decompress_range: the offset lies past the end of the data */
} orsk_status;

/* The largest container an input of input_size bytes can become; UINT64_MAX when that
 * does not fit in 64 bits. */
ORSK_API uint64_t orsk_compress_bound(uint64_t input_size);
/* The same bounds as orsk_compress_bound and orsk_compress_bound_ex (ORSK_FLAG_CHECKED),
 * as constant expressions, for buffers sized at compile time; they evaluate n several
 * times. A container may exceed its input by 2048 bytes per started 1 MiB chunk (2056
 * checked), by n / 16, and by its frame: the magic byte, or the 8-byte header and the
 * 25-byte end record. */
#define ORSK_BOUND_OVER_(n, frame, per_chunk)        \
    ((uint64_t)(frame) + (uint64_t)(n) / 16 +       \
     ((uint64_t)(n) / 1048576 + ((uint64_t)(n) % 1048576 != 0)) * (uint64_t)(per_chunk))
#define ORSK_BOUND_(n, frame, per_chunk)                               \
    ((uint64_t)(n) > UINT64_MAX - ORSK_BOUND_OVER_(n, frame, per_chunk) \
         ? UINT64_MAX                                                  \
         : (uint64_t)(n) + ORSK_BOUND_OVER_(n, frame, per_chunk))
#define ORSK_COMPRESS_BOUND(n) ((uint64_t)(n) == 0 ? (uint64_t)0 : ORSK_BOUND_(n, 1, 2048))
#define ORSK_COMPRESS_BOUND_CHECKED(n) ORSK_BOUND_(n, 33, 2048 + 8)

/* Compresses input[0..input_size) into output; *output_size receives the container's
 * length. An empty input gives an empty container. */
ORSK_API orsk_status orsk_compress(int level, const void* input, size_t input_size, void* output,
                                   size_t output_capacity, size_t* output_size);

/* The same with flags (0, or ORSK_FLAG_CHECKED and an ORSK_EFFORT joined by |), and its bound. A checked container of an
 * empty input holds its header and end record (33 bytes). */
ORSK_API uint64_t orsk_compress_bound_ex(uint64_t input_size, unsigned flags);
ORSK_API orsk_status orsk_compress_ex(int level, unsigned flags, const void* input, size_t input_size, void* output,
                                      size_t output_capacity, size_t* output_size);

/* The number of bytes a container restores as its block headers claim (the blocks are
 * framed and their headers checked, but not decoded: orsk_decompress may still find
 * damage). A valid header claims at most 1 MiB per block of 23 bytes or more (24 at
 * level 5), so the claim is at most about 45,590 times the container's size; our
 * writers reach about 6,100 (level 0) to 9,100 times (level 5) on a file of one
 * repeated byte. */
ORSK_API orsk_status orsk_decompressed_size(int level, const void* container, size_t container_size, uint64_t* size);

/* Restores a container into output; *output_size receives the restored length. The
 * level may be ORSK_LEVEL_FROM_CONTAINER here and in orsk_decompressed_size. */
ORSK_API orsk_status orsk_decompress(int level, const void* container, size_t container_size, void* output,
                                     size_t output_capacity, size_t* output_size);

/* Restores the bytes [offset, offset + length) of what the container restores, as far
 * as they lie inside it, into output; *output_size receives their number (0 when offset
 * is the data's length, or length is 0). Only the blocks that hold them are restored:
 * the others are framed from their headers and skipped, so the call costs about what
 * the bytes asked for cost, plus a look at every block header. The whole container is
 * walked: a header that frames no block, a cut, or a checked container whose end record
 * does not match its block count, length and chain of block checks fails as
 * orsk_decompress fails. A checked container's skipped blocks are not restored, so
 * their own checks are not compared with their bytes; damage inside them goes unseen.
 * ORSK_OUT_OF_RANGE when offset is past the end of the data (once the container is
 * found whole). With ORSK_LEVEL_FROM_CONTAINER a plain container's level is told as in
 * orsk_decompress from its first compressed block, in the range or not, and narrowed by
 * the blocks restored: when those still restore to different bytes at the levels left,
 * the call fails with ORSK_UNKNOWN_LEVEL (a restore of the whole container may tell more,
 * from blocks outside the range). It never gives other bytes than a restore of the whole
 * container at the right level. */
ORSK_API orsk_status orsk_decompress_range(int level, const void* container, size_t container_size, uint64_t offset,
                                           uint64_t length, void* output, size_t output_capacity,
                                           size_t* output_size);

/* Why orsk_salvage did not restore a block. A plain container has no checksums: there a
 * block counts as damaged only when its decoder rejects it. */
typedef enum orsk_damage {
    ORSK_DAMAGE_CHECKSUM = 1,   /* a checked container's block fails its checksum */
    ORSK_DAMAGE_CORRUPT = 2,    /* the block's decoder rejects it, or its header frames no block */
    ORSK_DAMAGE_CUT_SHORT = 3,  /* the container ends inside the block (checked: or before its end record) */
    ORSK_DAMAGE_END_RECORD = 4  /* a checked container's end record counts other blocks than were read */
} orsk_damage;

/* One block orsk_salvage did not restore. length > 0: that many zero bytes stand in
 * for its chunk at offset. length 0: nothing does; the restore ended there (nothing
 * from offset on is restored) or, for ORSK_DAMAGE_END_RECORD, blocks the end record
 * counts are missing or out of place. */
typedef struct orsk_damaged_range {
    uint64_t block;   /* the block's index from 0 (the end record: the number of blocks read) */
    uint64_t offset;  /* in the output */
    uint64_t length;
    int why;          /* an orsk_damage */
} orsk_damaged_range;

/* orsk_decompress that gets back every block that restores: a block that does not
 * becomes zeros of the length its header gives, so that every restored byte keeps its
 * offset, and a block that cannot be framed ends the output. ORSK_DAMAGED when blocks
 * were damaged: *range_count receives their number and the first range_capacity of
 * them go to ranges, in output order; ORSK_OK when none were. Any other status is a
 * failure as in orsk_decompress (also when not one block restores), with *output_size
 * and *range_count 0. A plain container's first compressed block that restores at
 * another level fails the call as in orsk_decompress instead of counting as damage. */
ORSK_API orsk_status orsk_salvage(int level, const void* container, size_t container_size, void* output,
                                  size_t output_capacity, size_t* output_size, orsk_damaged_range* ranges,
                                  size_t range_capacity, size_t* range_count);

/* Contexts. A context holds the working memory of the one-shot calls from one call to
 * the next, so that a thread making many calls allocates it once: its buffers are
 * allocated by the first call that needs them, sized for what that call asks, grown by
 * a call that asks for more, and freed by orsk_context_free. Compressing 4 KiB takes
 * about 3 MiB (mostly match tables), 1 MiB or more about 10 MiB; restoring takes about
 * 7 MiB more (1 MiB more again to tell a level); only what a call uses is touched. A
 * call no larger than an earlier one of its kind allocates nothing. A context serves
 * one call at a time (use one per thread); separate contexts are independent. */
typedef struct orsk_context orsk_context;

/* A new context, holding no buffers yet; NULL when out of memory. */
ORSK_API orsk_context* orsk_context_create(void);
/* Frees a context and its buffers; NULL is ignored. */
ORSK_API void orsk_context_free(orsk_context* ctx);
/* orsk_compress_ex and orsk_decompress with the context's buffers: the same arguments,
 * containers and statuses, and ORSK_BAD_ARGUMENT for a NULL ctx. */
ORSK_API orsk_status orsk_compress_ctx(orsk_context* ctx, int level, unsigned flags, const void* input,
                                       size_t input_size, void* output, size_t output_capacity, size_t* output_size);
ORSK_API orsk_status orsk_decompress_ctx(orsk_context* ctx, int level, const void* container, size_t container_size,
                                         void* output, size_t output_capacity, size_t* output_size);

/* What a container is. */
typedef struct orsk_info {
    int checked;             /* 1: a checked container, 0: a plain one */
    int level;               /* recorded, or told from a plain container's first compressed block */
    int level_detected;      /* 1 when the level was told, not recorded */
    unsigned level_mask;     /* bit k: the level is k; a plain container whose first compressed block restores
                              * alike at several levels sets each, one of stored blocks only sets all six */
    uint64_t blocks;         /* blocks in all */
    uint64_t stored_blocks;  /* of them stored */
    uint64_t restored_size;  /* bytes it restores, as its block headers claim */
} orsk_info;

/* Fills *info from the container's head and block headers; nothing is restored but a
 * plain container's first compressed block. ORSK_UNKNOWN_LEVEL (level -1, level_mask
 * the levels that restore that block, if any) when a plain container's level cannot
 * be told. */
ORSK_API orsk_status orsk_inspect(const void* container, size_t container_size, orsk_info* info);

/* A short English description of a status; "unknown status" for other values. */
ORSK_API const char* orsk_status_text(int status);

/* The version of the library that runs, as ORSK_VERSION_STRING was when it was built. */
ORSK_API const char* orsk_version(void);

/* Streams. A compression stream takes input in pieces of any size and gives the
 * container in pieces of any size; the container is byte-identical to what
 * orsk_compress_ex makes of the whole input with the same flags, however the pieces
 * fall. A decompression stream does the reverse and fails with the status
 * orsk_decompress gives for the same container and level. A stream holds a few chunks of 1 MiB (about 11 MiB in all) whatever the
 * length of the data: input is compressed 1 MiB at a time, and a block is restored once
 * all its bytes have arrived.
 *
 * An update call takes what it can of input[0..input_size) (*input_used) and writes up
 * to output_capacity bytes (*output_size). With room in the output, every call takes
 * input or writes output; call it again with the rest of the input, draining output
 * each time. Then call finish, with fresh output room each time, until *done is
 * nonzero; no input may follow (ORSK_BAD_ARGUMENT). Input and output buffers must not
 * overlap. The call that fails still reports the input it took and the output it wrote
 * before the failure (bytes of the blocks before a damaged one); from then on the
 * stream returns the same status from every call but destroy, with *input_used,
 * *output_size and *done 0.
 *
 * A compression stream takes the flags of orsk_compress_ex (ORSK_FLAG_CHECKED, ORSK_EFFORT); a
 * decompression stream takes a level or ORSK_LEVEL_FROM_CONTAINER, and flags 0 (the
 * container tells whether it is checked). With ORSK_LEVEL_FROM_CONTAINER a plain
 * container's first compressed block is held with up to 1 MiB of what follows it (or
 * until finish) while its level is told. Other flags: ORSK_BAD_ARGUMENT. A stream may
 * move between threads but serves one call at a time; separate streams are independent. */
typedef struct orsk_compress_stream orsk_compress_stream;
typedef struct orsk_decompress_stream orsk_decompress_stream;

/* Creates a stream for a level, or sets *stream to NULL and returns the failure. */
ORSK_API orsk_status orsk_compress_stream_create(int level, unsigned flags, orsk_compress_stream** stream);
ORSK_API orsk_status orsk_compress_stream_update(orsk_compress_stream* stream, const void* input, size_t input_size,
                                                 size_t* input_used, void* output, size_t output_capacity,
                                                 size_t* output_size);
/* Ends the input: compresses what is held and writes the rest of the container. An
 * empty input gives an empty plain container, or a checked one of 33 bytes. */
ORSK_API orsk_status orsk_compress_stream_finish(orsk_compress_stream* stream, void* output, size_t output_capacity,
                                                 size_t* output_size, int* done);
/* Frees a stream; NULL is ignored. */
ORSK_API void orsk_compress_stream_destroy(orsk_compress_stream* stream);

ORSK_API orsk_status orsk_decompress_stream_create(int level, unsigned flags, orsk_decompress_stream** stream);
ORSK_API orsk_status orsk_decompress_stream_update(orsk_decompress_stream* stream, const void* input,
                                                   size_t input_size, size_t* input_used, void* output,
                                                   size_t output_capacity, size_t* output_size);
/* Ends the container (ORSK_TRUNCATED when it stopped inside a block, or a checked one
 * before its end record) and writes the rest of the restored bytes. */
ORSK_API orsk_status orsk_decompress_stream_finish(orsk_decompress_stream* stream, void* output,
                                                   size_t output_capacity, size_t* output_size, int* done);
ORSK_API void orsk_decompress_stream_destroy(orsk_decompress_stream* stream);

#ifdef __cplusplus
}
#endif

#endif /* ORSK_ORSK_H */
