// Whole-buffer compression and decompression: the chunk and block loops of the file
// drivers, over memory instead of files.
#include "container/drivers/memory.h"

#include <algorithm>
#include <cstring>

namespace orsk {

namespace {

// Walks the blocks of a container: calls visit(block, total) for each framed block,
// stopping at the first failure. `index` ends at the number of blocks visited.
template <typename Visit>
Status ForEachBlock(Level level, const std::uint8_t* in, std::size_t n, std::uint64_t& index, Visit&& visit) {
    index = 0;
    if (n == 0) return Status::Ok;
    if (in[0] != ContainerMagic) return Status::Corrupt;
    ByteCursor c{in + 1, in + n};
    while (c.at != c.end) {
        // The header's length while the buffer ends inside it, else the block's.
        std::size_t total = 0;
        if (Status s = BlockBytesWanted(level, c.at, Left(c), total); s != Status::Ok) return s;
        if (!Holds(c, total)) return Status::Truncated;
        if (Status s = visit(c, total); s != Status::Ok) return s;
        c.at += total;
        ++index;
    }
    return Status::Ok;
}

}  // namespace

std::uint64_t ContainerBound(std::uint64_t n) {
    if (n == 0) return 0;
    const std::uint64_t chunks = n / MaxChunkLength + (n % MaxChunkLength != 0);
    // Every block stays inside BlockBound of its chunk, which covers a stored block.
    // Beyond 2^64 the bound saturates.
    std::uint64_t bound = 0;
    if (__builtin_add_overflow(n, 1 + n / 16 + chunks * 2048, &bound)) return UINT64_MAX;
    return bound;
}

Status CompressInto(Level level, const std::uint8_t* in, std::size_t n, ByteSink& out, BlockWorkspace& ws,
                    RunTotals* totals) {
    if (n == 0) return Status::Ok;
    if (Status s = ws.PrepareCompress(); s != Status::Ok) return s;
    if (!PutByte(out, ContainerMagic)) return Status::NoRoom;
    for (std::size_t done = 0; done < n;) {
        const std::size_t length = n - done < MaxChunkLength ? n - done : MaxChunkLength;
        ChunkOutcome outcome;
        // A chunk with the compressors' slack behind it in the caller's buffer is read
        // where it lies and its block written straight out, unless the level's filter must
        // change it; the others go through the workspace.
        if (LevelOf(level).filter == nullptr && n - done - length >= InputSlack && Room(out) >= BlockBound(length)) {
            const Status s = CompressChunkAt(level, ws.codec, in + done, length, out.at, outcome);
            if (s != Status::Ok) return s;
            out.at += outcome.blockLength;
        } else {
            std::memcpy(ws.chunk(), in + done, length);
            if (Status s = CompressChunk(level, ws, length, outcome); s != Status::Ok) return s;
            if (!PutBytes(out, ws.block(), outcome.blockLength)) return Status::NoRoom;
        }
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

namespace {

// The bytes a framed block restores, from its header alone.
std::uint64_t ClaimedLength(Level level, const std::uint8_t* block, std::size_t total) {
    if (block[0] == StoredBlockKind) return total - StoredHeaderLength;
    return ReadBlockHeader(block, LevelOf(level).headerOrder).chunkLength;
}

// Restores one framed block of a caller's buffer and appends it to `out`. Decoders may
// read StreamReadSlack bytes past a block: a block too close to the end of the buffer
// is decoded from a copy that has them. A block is decoded straight into `out` when
// the sink has CopySlack bytes of room behind it, otherwise through ws.restored().
Status AppendFramedBlock(Level level, BlockWorkspace& ws, const ByteCursor& c, std::size_t total, ByteSink& out) {
    const std::uint8_t* block = c.at;
    if (Left(c) - total < StreamReadSlack) {
        std::memcpy(ws.input(), c.at, total);
        block = ws.input();
    }
    const std::uint64_t claimed = ClaimedLength(level, block, total);
    const bool direct = block[0] != StoredBlockKind && claimed <= MaxChunkLength && Room(out) >= claimed + CopySlack;
    RestoredBlock restored;
    if (Status s = RestoreBlock(level, ws.codec, direct ? out.at : ws.restored(), block, total, restored);
        s != Status::Ok) {
        return s;
    }
    if (direct) {
        out.at += restored.length;
        return Status::Ok;
    }
    return PutBytes(out, restored.data, restored.length) ? Status::Ok : Status::NoRoom;
}

}  // namespace

Status DecompressInto(Level level, const std::uint8_t* in, std::size_t n, ByteSink& out, BlockWorkspace& ws,
                      std::uint64_t* failedBlock) {
    if (n != 0) {
        if (Status s = ws.PrepareDecompress(); s != Status::Ok) return s;
    }
    std::uint64_t index;
    const Status status = ForEachBlock(level, in, n, index, [&](const ByteCursor& c, std::size_t total) {
        return AppendFramedBlock(level, ws, c, total, out);
    });
    if (status != Status::Ok && failedBlock != nullptr) *failedBlock = index;
    return status;
}

Status RestoredSize(Level level, const std::uint8_t* in, std::size_t n, std::uint64_t& size) {
    std::uint64_t sum = 0, index;
    const Status s = ForEachBlock(level, in, n, index, [&](const ByteCursor& c, std::size_t total) {
        sum += ClaimedLength(level, c.at, total);  // framing checked it: 1 to MaxChunkLength
        return Status::Ok;
    });
    if (s == Status::Ok) size = sum;
    return s;
}

Status CompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                      BlockWorkspace& ws, RunTotals* totals) {
    out.resize(std::size_t(ContainerBound(n)));
    ByteSink sink{out.data(), out.data(), out.data() + out.size()};
    const Status s = CompressInto(level, in, n, sink, ws, totals);
    out.resize(Written(sink));
    return s;
}

Status DecompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                        BlockWorkspace& ws, std::uint64_t* failedBlock) {
    if (n == 0) {
        out.clear();
        return Status::Ok;
    }
    if (Status s = ws.PrepareDecompress(); s != Status::Ok) return s;
    // Size the output to what the headers claim (plus the decoders' slack), but never
    // trust a claim far beyond the input; past it the buffer grows block by block.
    std::uint64_t claimed = 0;
    if (RestoredSize(level, in, n, claimed) != Status::Ok) claimed = 0;
    claimed = std::min<std::uint64_t>(claimed, 64 * std::uint64_t(n) + MaxChunkLength);
    // Resizing keeps what the vector holds, so a reused vector is not cleared again
    // (the bytes are overwritten below).
    out.resize(std::size_t(claimed) + CopySlack);
    ByteSink sink{out.data(), out.data(), out.data() + out.size()};
    std::uint64_t index;
    const Status status = ForEachBlock(level, in, n, index, [&](const ByteCursor& c, std::size_t total) {
        const std::uint64_t need = ClaimedLength(level, c.at, total) + CopySlack;
        if (Room(sink) < need && need <= MaxChunkLength + CopySlack) {
            const std::size_t written = Written(sink);
            out.resize(std::max(out.size() * 2, written + std::size_t(need)));
            sink = {out.data(), out.data() + written, out.data() + out.size()};
        }
        return AppendFramedBlock(level, ws, c, total, sink);
    });
    out.resize(Written(sink));
    if (status != Status::Ok && failedBlock != nullptr) *failedBlock = index;
    return status;
}

}  // namespace orsk
