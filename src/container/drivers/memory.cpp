// Whole-buffer compression and decompression: the chunk and block loops of the file
// drivers, over memory instead of files, for plain and checked containers.
#include "container/drivers/memory.h"

#include <algorithm>
#include <bit>
#include <cstring>


namespace orsk {

std::uint64_t ContainerBound(std::uint64_t n, ContainerKind kind) {
    const bool checked = kind == ContainerKind::Checked;
    if (n == 0) return checked ? CheckedHeaderLength + EndRecordLength : 0;
    const std::uint64_t chunks = n / MaxChunkLength + (n % MaxChunkLength != 0);
    // Every block stays inside BlockBound of its chunk, which covers a stored block; a
    // checked container adds its header, a checksum per block and the end record.
    // Beyond 2^64 the bound saturates.
    const std::uint64_t perChunk = 2048 + (checked ? BlockCheckLength : 0);
    const std::uint64_t frame = checked ? CheckedHeaderLength + EndRecordLength : 1;
    std::uint64_t bound = 0;
    if (__builtin_add_overflow(n, frame + n / 16 + chunks * perChunk, &bound)) return UINT64_MAX;
    return bound;
}

Status CompressInto(Level level, const std::uint8_t* in, std::size_t n, ByteSink& out, BlockWorkspace& ws,
                    RunTotals* totals, ContainerKind kind, unsigned effort) {
    const bool checked = kind == ContainerKind::Checked;
    if (n == 0 && !checked) return Status::Ok;
    if (Status s = ws.PrepareCompressFor(std::min(n, MaxChunkLength)); s != Status::Ok) return s;
    if (checked) {
        if (Room(out) < CheckedHeaderLength) return Status::NoRoom;
        WriteCheckedHeader(out.at, level);
        out.at += CheckedHeaderLength;
    } else if (!PutByte(out, ContainerMagic)) {
        return Status::NoRoom;
    }
    ContentTally tally;
    for (std::size_t done = 0; done < n;) {
        const std::size_t length = n - done < MaxChunkLength ? n - done : MaxChunkLength;
        // The caller's bytes, before NORMAL's filter may change the workspace's copy.
        const std::uint64_t checksum = checked ? ChunkChecksum(in + done, length) : 0;
        ChunkOutcome outcome;
        const std::uint8_t* block;
        // A chunk with the compressors' slack behind it in the caller's buffer is read
        // where it lies and its block written straight out, unless the level's filter must
        // change it; the others go through the workspace.
        if (LevelOf(level).filter == nullptr && n - done - length >= InputSlack && Room(out) >= BlockBound(length)) {
            const Status s = CompressChunkAt(level, ws.codec, in + done, length, out.at, outcome, effort);
            if (s != Status::Ok) return s;
            block = out.at;
            out.at += outcome.blockLength;
        } else {
            std::memcpy(ws.chunk(), in + done, length);
            std::memset(ws.chunk() + length, 0, InputSlack);  // what comparisons read past the chunk
            if (Status s = CompressChunk(level, ws, length, outcome, effort); s != Status::Ok) return s;
            block = ws.block();
            if (!PutBytes(out, block, outcome.blockLength)) return Status::NoRoom;
        }
        if (checked) {
            const std::uint64_t check = BlockCheck(block, outcome.blockLength, checksum);
            if (!PutLE64(out, check)) return Status::NoRoom;
            tally.Add(check, length);
        }
        if (totals != nullptr) {
            totals->entropyMicros += outcome.entropyMicros;
            totals->lzMicros += outcome.lzMicros;
            totals->blocks += 1;
            totals->storedBlocks += outcome.stored ? 1 : 0;
        }
        done += length;
    }
    if (checked) {
        if (Room(out) < EndRecordLength) return Status::NoRoom;
        WriteEndRecord(out.at, tally);
        out.at += EndRecordLength;
    }
    return Status::Ok;
}

namespace {

// Restores a framed block of a caller's buffer. Decoders may read StreamReadSlack bytes
// past a block: a block too close to the end of the buffer is restored from a copy that
// has them. A block restored at one level goes straight into `out` (`direct`) when the
// sink has CopySlack bytes of room behind its chunk, otherwise into ws.restored().
BlockResult RestoreFromBuffer(const FramedBlock& b, bool checked, BlockWorkspace& ws, const ByteCursor& c,
                              const ByteSink& out, bool& direct) {
    const std::uint8_t* block = c.at;
    if (Left(c) - b.total < StreamReadSlack) {
        std::memcpy(ws.input(), c.at, b.total);
        std::memset(ws.input() + b.total, 0, StreamReadSlack);
        block = ws.input();
    }
    direct = !b.stored && std::popcount(b.levels) == 1 && Room(out) >= std::uint64_t(b.claimed) + CopySlack;
    return RestoreFramed(b, checked, ws.codec, direct ? out.at : ws.restored(), block);
}

// Writes what a verdict hands out; false when the sink has no room for it.
bool Put(const Verdict& v, bool direct, ByteSink& out) {
    if (v.what == Verdict::Write && direct) {
        // Restored in place; a range may want only a later part of it.
        if (v.data != out.at) std::memmove(out.at, v.data, v.length);
        out.at += v.length;
        return true;
    }
    if (v.what == Verdict::Write) return PutBytes(out, v.data, v.length);
    if (v.what != Verdict::WriteZeros) return true;
    if (Room(out) < v.length) return false;
    std::memset(out.at, 0, v.length);
    out.at += v.length;
    return true;
}

// The restore loop of DecompressInto and DecompressBuffer: the whole container is shown
// to the reader at once; `room` may grow the sink before `claimed` bytes are appended.
// Blocks outside `range` are framed and skipped.
template <typename MakeRoom>
Status RestoreBlocks(LevelRequest request, LevelSet told, const std::uint8_t* in, std::size_t n, ByteSink& out,
                     BlockWorkspace& ws, RestoreFacts* facts, const DamageObserver* salvage, MakeRoom&& room,
                     const ByteRange& range = {}) {
    if (n != 0) {
        if (Status s = ws.PrepareDecompressFor(n); s != Status::Ok) return s;
    }
    ContainerReader reader({request, salvage != nullptr, told, range}, {&ws.codec, ws.restored(), ws.input()});
    ByteCursor c{in, in + n};
    const std::size_t start = Written(out);  // the sink may move as it grows
    Status status = Status::Ok;
    for (;;) {
        const ReadItem item = reader.Next(c.at, Left(c), true);
        if (item.kind == ItemKind::Head || item.kind == ItemKind::EndRecord) {
            c.at += item.length;
            continue;
        }
        if (item.kind == ItemKind::Block && item.block.skipped) {
            reader.Skip(item.block);
            c.at += item.length;
            continue;
        }
        Verdict v;
        bool direct = false;
        if (item.kind == ItemKind::Block) {
            room(item.block.claimed);
            v = reader.Accept(item.block, item.block.probed
                                              ? reader.ProbedResult()
                                              : RestoreFromBuffer(item.block, reader.checked(), ws, c, out, direct));
        } else {
            v = reader.Close(item);  // End or Failure: the input has ended, so nothing more is needed
        }
        if (v.what == Verdict::TryOtherLevels) v = reader.ProbeOtherLevels(c.at, Left(c));
        if (v.what == Verdict::WriteZeros) room(v.length);
        if (!Put(v, direct, out)) {
            status = Status::NoRoom;
            break;
        }
        if (v.what == Verdict::Fail) {
            status = v.failure.status;
            break;
        }
        if (item.kind != ItemKind::Block) break;
        c.at += item.length;
    }
    if (facts != nullptr) *facts = reader.facts();
    // A salvage that restored no block fails as the restore would, and hands out nothing.
    if (status != Status::Ok && salvage != nullptr && reader.restoredBlocks() == 0) out.at = out.begin + start;
    if (status == Status::Ok && salvage != nullptr) {
        for (const DamagedRange& d : reader.damaged()) (*salvage)(d);
    }
    return status;
}

}  // namespace

Status DecompressInto(LevelRequest level, const std::uint8_t* in, std::size_t n, ByteSink& out, BlockWorkspace& ws,
                      RestoreFacts* facts, const DamageObserver* salvage) {
    return RestoreBlocks(level, 0, in, n, out, ws, facts, salvage, [](std::uint64_t) {});
}

Status DecompressRange(LevelRequest level, const std::uint8_t* in, std::size_t n, const ByteRange& range,
                       ByteSink& out, BlockWorkspace& ws, RestoreFacts* facts) {
    return RestoreBlocks(level, 0, in, n, out, ws, facts, nullptr, [](std::uint64_t) {}, range);
}

Status RestoredSize(LevelRequest request, const std::uint8_t* in, std::size_t n, std::uint64_t& size,
                    BlockWorkspace& ws) {
    ContainerFacts facts;
    const Status s = InspectContainer(in, n, ws, facts, request);
    if (s == Status::Ok) size = facts.restoredLength;
    return s;
}

Status InspectContainer(const std::uint8_t* in, std::size_t n, BlockWorkspace& ws, ContainerFacts& facts,
                        LevelRequest request) {
    facts = ContainerFacts{};
    if (n != 0) {
        if (Status s = ws.PrepareDecompressFor(n); s != Status::Ok) return s;
    }
    ContainerReader reader({request, false, 0, {}}, {&ws.codec, ws.restored(), ws.input()});
    ByteCursor c{in, in + n};
    Status status = Status::Ok;
    for (;;) {
        const ReadItem item = reader.Next(c.at, Left(c), true);
        if (item.kind == ItemKind::Block) {
            reader.Skip(item.block);
            facts.blocks += 1;
            facts.storedBlocks += item.block.stored ? 1 : 0;
            facts.restoredLength += item.block.claimed;
        } else if (item.kind != ItemKind::Head && item.kind != ItemKind::EndRecord) {
            const Verdict v = reader.Close(item);
            if (v.what == Verdict::Fail) status = v.failure.status;
            if (v.what == Verdict::TryOtherLevels) status = item.failure.status;  // no restore: no advice
            break;
        }
        c.at += item.length;
    }
    facts.restore = reader.facts();
    // Only the first compressed block is tried: when several levels restore it alike, the
    // level is not told.
    if (facts.restore.levelDetected && facts.restore.candidates != AllLevels &&
        std::popcount(facts.restore.candidates) > 1) {
        facts.restore.level = LevelFromContainer;
    }
    return status;
}

Status CompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                      BlockWorkspace& ws, RunTotals* totals, ContainerKind kind, unsigned effort) {
    out.resize(std::size_t(ContainerBound(n, kind)));
    ByteSink sink{out.data(), out.data(), out.data() + out.size()};
    const Status s = CompressInto(level, in, n, sink, ws, totals, kind, effort);
    out.resize(Written(sink));
    return s;
}

Status DecompressBuffer(LevelRequest level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                        BlockWorkspace& ws, RestoreFacts* facts, const DamageObserver* salvage) {
    // Size the output to what the headers claim (plus the decoders' slack), but never
    // trust a claim far beyond the input; past it the buffer grows block by block. The
    // levels the first compressed block restores at are used again, so that they are
    // tried once.
    ContainerFacts first;
    const bool framed = InspectContainer(in, n, ws, first, level) == Status::Ok;
    const std::uint64_t claimed =
        framed ? std::min<std::uint64_t>(first.restoredLength, 64 * std::uint64_t(n) + MaxChunkLength) : 0;
    const LevelSet told = framed && !level && first.restore.candidates != AllLevels ? first.restore.candidates : 0;
    // Resizing keeps what the vector holds, so a reused vector is not cleared again
    // (the bytes are overwritten below).
    out.resize(std::size_t(claimed) + CopySlack);
    ByteSink sink{out.data(), out.data(), out.data() + out.size()};
    const Status status = RestoreBlocks(level, told, in, n, sink, ws, facts, salvage, [&](std::uint64_t blockClaim) {
        const std::uint64_t need = blockClaim + CopySlack;
        if (Room(sink) < need && need <= MaxChunkLength + CopySlack) {
            const std::size_t written = Written(sink);
            out.resize(std::max(out.size() * 2, written + std::size_t(need)));
            sink = {out.data(), out.data() + written, out.data() + out.size()};
        }
    });
    out.resize(Written(sink));
    return status;
}

}  // namespace orsk
