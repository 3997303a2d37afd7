/* Compresses standard input into a container on standard output, or restores one,
 * through the orsk stream calls, reading and writing in pieces of PIECE bytes:
 *     orsk_stream_example e|d LEVEL PIECE < input > output
 * The container is the one `orsk e -mLEVEL` writes. Exits 0 on success, 1 for bad
 * arguments, 2 when a read, a write or the data fails. */
#include <orsk/orsk.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

/* One stream of either direction. */
typedef struct {
    int compress;
    orsk_compress_stream* packer;
    orsk_decompress_stream* unpacker;
} stream;

static orsk_status update(stream* s, const void* in, size_t in_size, size_t* used, void* out, size_t room,
                          size_t* made) {
    if (s->compress) return orsk_compress_stream_update(s->packer, in, in_size, used, out, room, made);
    return orsk_decompress_stream_update(s->unpacker, in, in_size, used, out, room, made);
}

static orsk_status finish(stream* s, void* out, size_t room, size_t* made, int* done) {
    if (s->compress) return orsk_compress_stream_finish(s->packer, out, room, made, done);
    return orsk_decompress_stream_finish(s->unpacker, out, room, made, done);
}

static int fail(const char* what) {
    fprintf(stderr, "orsk_stream_example: %s\n", what);
    return 2;
}

int main(int argc, char** argv) {
    char* end = NULL;
    const long level = argc == 4 ? strtol(argv[2], &end, 10) : -1;
    const int levelOk = end != NULL && *end == '\0' && level >= ORSK_MIN_LEVEL && level <= ORSK_MAX_LEVEL;
    const unsigned long long piece = argc == 4 ? strtoull(argv[3], &end, 10) : 0;
    const int pieceOk = end != NULL && *end == '\0' && piece > 0 && piece <= (1ull << 30);
    if (argc != 4 || (strcmp(argv[1], "e") != 0 && strcmp(argv[1], "d") != 0) || !levelOk || !pieceOk) {
        fprintf(stderr, "usage: orsk_stream_example e|d LEVEL(0-5) PIECE(bytes) < input > output\n");
        return 1;
    }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif

    stream s = {argv[1][0] == 'e', NULL, NULL};
    orsk_status status = s.compress ? orsk_compress_stream_create((int)level, 0, &s.packer)
                                    : orsk_decompress_stream_create((int)level, 0, &s.unpacker);
    unsigned char* in = malloc((size_t)piece);
    unsigned char* out = malloc((size_t)piece);
    int result = 0;
    if (status != ORSK_OK) {
        result = fail(orsk_status_text(status));
    } else if (in == NULL || out == NULL) {
        result = fail("out of memory");
    }

    /* Feed each piece read until the stream has taken all of it, writing whatever it
     * gives back; a short read is the end of the input. */
    int more = result == 0;
    while (more) {
        const size_t got = fread(in, 1, (size_t)piece, stdin);
        if (got < piece) {
            more = 0;
            if (ferror(stdin)) result = fail("cannot read standard input");
        }
        for (size_t at = 0; at < got && result == 0;) {
            size_t used = 0, made = 0;
            status = update(&s, in + at, got - at, &used, out, (size_t)piece, &made);
            if (fwrite(out, 1, made, stdout) != made) result = fail("cannot write standard output");
            if (status != ORSK_OK) result = fail(orsk_status_text(status));
            at += used;
        }
        if (result != 0) more = 0;
    }
    /* Then end the stream and write the rest. */
    for (int done = 0; result == 0 && !done;) {
        size_t made = 0;
        status = finish(&s, out, (size_t)piece, &made, &done);
        if (fwrite(out, 1, made, stdout) != made) result = fail("cannot write standard output");
        if (status != ORSK_OK) result = fail(orsk_status_text(status));
    }
    if (result == 0 && fflush(stdout) != 0) result = fail("cannot write standard output");

    orsk_compress_stream_destroy(s.packer);
    orsk_decompress_stream_destroy(s.unpacker);
    free(in);
    free(out);
    return result;
}
