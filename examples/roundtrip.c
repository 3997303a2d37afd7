/* Compresses a buffer at every level with the orsk library, restores it and checks
 * the result. Exits 0 when every round trip is exact. */
#include <orsk/orsk.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
    const size_t n = 3u << 20;
    unsigned char* input = malloc(n);
    if (input == NULL) return 1;
    for (size_t i = 0; i < n; ++i) input[i] = (unsigned char)("orsk example text "[i % 18] + (i / 4096) % 3);

    const size_t bound = (size_t)orsk_compress_bound(n);
    unsigned char* packed = malloc(bound);
    unsigned char* restored = malloc(n);
    int failures = 0;
    for (int level = ORSK_MIN_LEVEL; level <= ORSK_MAX_LEVEL; ++level) {
        size_t packedSize = 0, restoredSize = 0;
        uint64_t claimed = 0;
        orsk_status s = orsk_compress(level, input, n, packed, bound, &packedSize);
        if (s == ORSK_OK) s = orsk_decompressed_size(level, packed, packedSize, &claimed);
        if (s == ORSK_OK) s = orsk_decompress(level, packed, packedSize, restored, n, &restoredSize);
        const int exact = s == ORSK_OK && claimed == n && restoredSize == n && memcmp(input, restored, n) == 0;
        printf("level %d: %zu -> %zu bytes, %s\n", level, n, packedSize, exact ? "restored exactly" : orsk_status_text(s));
        failures += !exact;
    }
    /* A buffer sized at compile time holds any container of 1000 bytes; a context keeps
     * the working memory of many calls. A damaged container is refused, never restored
     * wrongly. */
    static unsigned char small[ORSK_COMPRESS_BOUND(1000)];
    orsk_context* ctx = orsk_context_create();
    size_t packedSize = 0, restoredSize = 0;
    if (orsk_compress_ctx(ctx, 2, 0, input, 1000, small, sizeof small, &packedSize) != ORSK_OK) ++failures;
    small[0] = 'X';
    if (orsk_decompress_ctx(ctx, 2, small, packedSize, restored, n, &restoredSize) != ORSK_CORRUPT) ++failures;
    orsk_context_free(ctx);
    /* The bounds as constants and as calls agree. */
    const uint64_t sizes[] = {0, 1, 4096, 1u << 20, (1u << 20) + 1, (uint64_t)1 << 62, UINT64_MAX - 1000000, UINT64_MAX};
    for (size_t i = 0; i < sizeof sizes / sizeof *sizes; ++i) {
        failures += ORSK_COMPRESS_BOUND(sizes[i]) != orsk_compress_bound(sizes[i]);
        failures += ORSK_COMPRESS_BOUND_CHECKED(sizes[i]) != orsk_compress_bound_ex(sizes[i], ORSK_FLAG_CHECKED);
    }
    if (orsk_compress(9, input, n, packed, bound, &packedSize) != ORSK_BAD_LEVEL) ++failures;
    free(input);
    free(packed);
    free(restored);
    return failures == 0 ? 0 : 1;
}
