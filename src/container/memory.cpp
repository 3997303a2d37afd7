// Whole-buffer compression and decompression: the chunk and block loops of the file
// drivers, over memory instead of files.
#include "container/memory.h"

#include <cstring>

namespace orsk {

std::uint64_t ContainerBound(std::uint64_t n) {
    if (n == 0) return 0;
    const std::uint64_t chunks = (n + MaxChunkLength - 1) / MaxChunkLength;
    // Every block stays inside BlockBound of its chunk, which covers a stored block.
    return 1 + n + n / 16 + chunks * 2048;
}

Status CompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                      BlockWorkspace& ws, RunTotals* totals) {
    out.clear();
    if (n == 0) return Status::Ok;
    if (Status s = ws.PrepareCompress(); s != Status::Ok) return s;
    out.reserve(std::size_t(ContainerBound(n)));
    out.push_back(ContainerMagic);
    for (std::size_t done = 0; done < n;) {
        const std::size_t length = n - done < MaxChunkLength ? n - done : MaxChunkLength;
        std::memcpy(ws.chunk(), in + done, length);
        ChunkOutcome outcome;
        if (Status s = CompressChunk(level, ws, length, outcome); s != Status::Ok) return s;
        out.insert(out.end(), ws.block(), ws.block() + outcome.blockLength);
        if (totals != nullptr) {
            totals->entropyMicros += outcome.entropyMicros;
            totals->lzMicros += outcome.lzMicros;
            totals->blocks += 1;
            totals->storedBlocks += outcome.stored ? 1 : 0;
        }
        done += length;
    }
    return Status::Ok;
}

Status DecompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                        BlockWorkspace& ws, std::uint64_t* failedBlock) {
    out.clear();
    if (n == 0) return Status::Ok;
    if (in[0] != ContainerMagic) return Status::Corrupt;
    if (Status s = ws.PrepareDecompress(); s != Status::Ok) return s;
    ByteCursor c{in + 1, in + n};
    std::uint64_t index = 0;
    Status status = Status::Ok;
    while (c.at != c.end) {
        const std::size_t headerLength = BlockHeaderLength(level, *c.at);
        std::size_t total = 0;
        if (headerLength == 0) {
            status = Status::Corrupt;
        } else if (!Holds(c, headerLength)) {
            status = Status::Truncated;
        } else if (status = BlockTotalLength(level, c.at, total); status == Status::Ok && !Holds(c, total)) {
            status = Status::Truncated;
        }
        if (status != Status::Ok) break;
        // Decoders may read StreamReadSlack bytes past a block; a block too close to
        // the end of the caller's buffer is decoded from a copy that has them.
        const std::uint8_t* block = c.at;
        if (Left(c) - total < StreamReadSlack) {
            std::memcpy(ws.input(), c.at, total);
            block = ws.input();
        }
        RestoredBlock restored;
        if (status = RestoreBlock(level, ws, block, total, restored); status != Status::Ok) break;
        out.insert(out.end(), restored.data, restored.data + restored.length);
        c.at += total;
        ++index;
    }
    if (status != Status::Ok && failedBlock != nullptr) *failedBlock = index;
    return status;
}

}  // namespace orsk
