// Whole-buffer compression and decompression: the chunk and block loops of the file
// drivers, over memory instead of files, for plain and checked containers.
#include "container/drivers/memory.h"

#include <algorithm>
#include <cstring>

#include "container/reader/level_probe.h"

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
                    RunTotals* totals, ContainerKind kind) {
    const bool checked = kind == ContainerKind::Checked;
    if (n == 0 && !checked) return Status::Ok;
    if (Status s = ws.PrepareCompress(); s != Status::Ok) return s;
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
            const Status s = CompressChunkAt(level, ws.codec, in + done, length, out.at, outcome);
            if (s != Status::Ok) return s;
            block = out.at;
            out.at += outcome.blockLength;
        } else {
            std::memcpy(ws.chunk(), in + done, length);
            if (Status s = CompressChunk(level, ws, length, outcome); s != Status::Ok) return s;
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

void RestoreFacts::SetAnyLevel() {
    level = Level::Hyperfast;
    levelDetected = true;
    candidates = AllLevels;
}

namespace {

// Tries the block at c.at at every level, from a copy: the probe may read StreamReadSlack
// bytes past it.
Status ProbeCopy(BlockWorkspace& ws, const ByteCursor& c, LevelProbe& probe) {
    const std::size_t available = std::min(Left(c), MaxBlockLength);
    std::memcpy(ws.input(), c.at, available);
    return ProbeLevels(ws.codec, ws.restored(), ws.input(), available, probe);
}

// A plain container's level, told by its first compressed block. The stored blocks in
// front of it frame alike at every level; so does a container of stored blocks only, or
// one whose blocks cannot be framed before a compressed one: any level restores it (or
// fails at the same block), and level 0 is taken.
Status DetectLevel(const ContainerHead& head, const std::uint8_t* in, std::size_t n, BlockWorkspace& ws,
                   RestoreFacts& facts) {
    ByteCursor c{in + head.length, in + n};
    std::size_t total = 0;
    while (Holds(c, StoredHeaderLength) && *c.at == StoredBlockKind &&
           BlockTotalLength(Level::Hyperfast, c.at, total) == Status::Ok && Holds(c, total)) {
        c.at += total;
    }
    if (Left(c) == 0 || *c.at != CompressedBlockKind) {
        facts.SetAnyLevel();
        return Status::Ok;
    }
    facts.levelDetected = true;
    LevelProbe probe;
    if (Status s = ProbeCopy(ws, c, probe); s != Status::Ok) return s;
    facts.candidates = probe.levels;
    facts.level = DetectedLevel(probe);
    return facts.level ? Status::Ok : Status::UnknownLevel;
}

// An empty plain container restores (nothing) at any level.
Status EmptyContainer(LevelRequest request, RestoreFacts& facts) {
    facts.level = request;
    if (!request) facts.SetAnyLevel();
    return Status::Ok;
}

// Reads a container's head and settles the level its blocks are framed and restored
// at: recorded, asked for, or told by a plain container's first compressed block.
// n >= 1.
Status SettleLevel(LevelRequest request, const std::uint8_t* in, std::size_t n, BlockWorkspace& ws,
                   ContainerHead& head, RestoreFacts& facts, Level& level) {
    if (Status s = ReadContainerHead(in, n, head); s != Status::Ok) return s;
    facts.kind = head.kind;
    LevelRequest settled;
    if (Status s = LevelOfHead(head, request, settled); s != Status::Ok) return s;
    if (!settled) {
        if (Status s = ws.PrepareDecompress(); s != Status::Ok) return s;
        if (Status s = DetectLevel(head, in, n, ws, facts); s != Status::Ok) return s;
        settled = facts.level;
    }
    facts.level = settled;
    level = *settled;
    return Status::Ok;
}

// Where a walk over a container's blocks ended.
struct WalkEnd {
    std::uint64_t blocks = 0;                 // blocks visited
    const std::uint8_t* endRecord = nullptr;  // a checked container's end record, once reached
    const std::uint8_t* at = nullptr;         // the block a failure stopped at (or the end record)
    bool cut = false;                         // that block's header frames it, but the input cuts it short
    bool atEnd = false;                       // the failure is the end record's, or its absence
};

// Walks the blocks behind a container's head: calls visit(block, total, check) for
// each framed block (check: the block check behind it in a checked container, else
// null), stopping at the first failure; w.blocks counts the blocks visited. A checked
// container's end record must follow its last block and end the input.
template <typename Visit>
Status WalkBlocks(const ContainerHead& head, Level level, const std::uint8_t* in, std::size_t n, WalkEnd& w,
                  Visit&& visit) {
    const bool checked = head.kind == ContainerKind::Checked;
    const std::size_t checkLength = checked ? BlockCheckLength : 0;
    w = WalkEnd{};
    ByteCursor c{in + head.length, in + n};
    for (;;) {
        w.at = c.at;
        if (c.at == c.end) {
            w.atEnd = checked;
            return checked ? Status::Truncated : Status::Ok;  // a checked container cut at a block's end
        }
        if (checked && *c.at == EndRecordKind) {
            w.atEnd = true;
            if (!Holds(c, EndRecordLength)) return Status::Truncated;
            if (Left(c) != EndRecordLength) return Status::Corrupt;  // bytes behind the end record
            w.endRecord = c.at;
            return Status::Ok;
        }
        // The header's length while the buffer ends inside it, else the block's.
        std::size_t total = 0;
        if (Status s = BlockBytesWanted(level, c.at, Left(c), total); s != Status::Ok) return s;
        if (!Holds(c, total + checkLength)) {  // total <= MaxBlockLength
            w.cut = Left(c) >= BlockHeaderLength(*c.at);  // a whole header: the block is cut short
            return Status::Truncated;
        }
        if (Status s = visit(c, total, checked ? c.at + total : nullptr); s != Status::Ok) return s;
        c.at += total + checkLength;
        ++w.blocks;
    }
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
    const std::uint64_t claimed = ClaimedChunkLength(level, block);
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

// AppendFramedBlock, then the block's check when the container has one: a chunk that
// does not match is taken back out of `out`.
Status AppendCheckedBlock(Level level, BlockWorkspace& ws, const ByteCursor& c, std::size_t total,
                          const std::uint8_t* check, ByteSink& out, ContentTally& tally) {
    std::uint8_t* const mark = out.at;
    if (Status s = AppendFramedBlock(level, ws, c, total, out); s != Status::Ok) return s;
    if (check == nullptr) return Status::Ok;
    const std::size_t length = std::size_t(out.at - mark);
    const std::uint64_t sum = BlockCheck(c.at, total, ChunkChecksum(mark, length));
    if (sum != LoadLE64(check)) {
        out.at = mark;
        return Status::ChecksumMismatch;
    }
    tally.Add(sum, length);
    return Status::Ok;
}

// True when the block at c.at, which failed at `level`, restores at another level: in a
// plain container's first compressed block that tells the level, not damage.
bool RestoresElsewhere(BlockWorkspace& ws, const ByteCursor& c) {
    LevelProbe probe;
    return ProbeCopy(ws, c, probe) == Status::Ok && probe.levels != 0;
}

// The restore loop of DecompressInto and DecompressBuffer; `room` may grow the sink
// before a block of `claimed` bytes is appended. With `salvage`, as DecompressInto says.
template <typename MakeRoom>
Status RestoreBlocks(LevelRequest request, const std::uint8_t* in, std::size_t n, ByteSink& out, BlockWorkspace& ws,
                     RestoreFacts* facts, const DamageObserver* salvage, MakeRoom&& room) {
    RestoreFacts local;
    RestoreFacts& f = facts != nullptr ? *facts : local;
    f = RestoreFacts{};
    if (n == 0) return EmptyContainer(request, f);
    if (Status s = ws.PrepareDecompress(); s != Status::Ok) return s;
    ContainerHead head;
    Level level;
    if (Status s = SettleLevel(request, in, n, ws, head, f, level); s != Status::Ok) return s;
    const bool plain = head.kind == ContainerKind::Plain;
    const std::uint8_t* const inEnd = in + n;
    ContentTally tally;
    WalkEnd w;
    std::uint64_t restored = 0;
    bool seenCompressed = false;
    bool stopped = false;              // salvage: a failure that is no damage of the container
    Status firstDamage = Status::Ok;   // salvage: the status of the first damaged block
    // Salvage: reports the block w.blocks as damaged, with `length` zeros in its place.
    const auto damage = [&](DamageKind why, Status s, std::uint64_t length) {
        if (Room(out) < length) return Status::NoRoom;
        (*salvage)(DamagedRange{w.blocks, Written(out), length, why});
        if (length != 0) std::memset(out.at, 0, length);  // out.at may be null when nothing is written
        out.at += length;
        if (firstDamage == Status::Ok) firstDamage = s;
        return Status::Ok;
    };
    const auto visit = [&](const ByteCursor& c, std::size_t total, const std::uint8_t* check) {
        const std::uint32_t claimed = ClaimedChunkLength(level, c.at);
        room(claimed);
        const bool firstCompressed = plain && !seenCompressed && c.at[0] == CompressedBlockKind;
        seenCompressed = seenCompressed || c.at[0] == CompressedBlockKind;
        const Status s = AppendCheckedBlock(level, ws, c, total, check, out, tally);
        if (s == Status::Ok) {
            ++restored;
            return s;
        }
        if (salvage == nullptr || s == Status::NoRoom || s == Status::OutOfMemory ||
            (firstCompressed && RestoresElsewhere(ws, c))) {
            stopped = true;
            return s;
        }
        if (check != nullptr) tally.Add(LoadLE64(check), claimed);
        const DamageKind why = s == Status::ChecksumMismatch ? DamageKind::ChecksumMismatch : DamageKind::Damaged;
        const Status d = damage(why, s, claimed);
        stopped = d != Status::Ok;
        return d;
    };
    const Status status = WalkBlocks(head, level, in, n, w, visit);
    f.blocks = w.blocks;
    f.atEndRecord = w.atEnd;
    if (salvage == nullptr || stopped) {
        if (status != Status::Ok || w.endRecord == nullptr) return status;
        return CheckEndRecord(w.endRecord, tally, false);
    }
    // Salvage: what ended the walk is the last damage. A block the input cuts short
    // behind a whole header becomes zeros; after damaged blocks the end record's content
    // checksum tells nothing more, so only its counts are compared.
    if (status != Status::Ok) {
        if (plain && !seenCompressed && w.at != inEnd && *w.at == CompressedBlockKind &&
            RestoresElsewhere(ws, ByteCursor{w.at, inEnd})) {
            return status;
        }
        const DamageKind why = status == Status::Truncated ? DamageKind::CutShort
                               : w.atEnd                   ? DamageKind::EndRecord
                                                           : DamageKind::Damaged;
        const std::uint64_t length = w.cut ? ClaimedChunkLength(level, w.at) : 0;
        room(length);
        if (Status s = damage(why, status, length); s != Status::Ok) return s;
    } else if (w.endRecord != nullptr) {
        if (Status s = CheckEndRecord(w.endRecord, tally, firstDamage != Status::Ok); s != Status::Ok) {
            (void)damage(DamageKind::EndRecord, s, 0);
        }
    }
    // Nothing restored: the container fails as it would without salvage.
    return restored == 0 && firstDamage != Status::Ok ? firstDamage : Status::Ok;
}

}  // namespace

Status DecompressInto(LevelRequest level, const std::uint8_t* in, std::size_t n, ByteSink& out, BlockWorkspace& ws,
                      RestoreFacts* facts, const DamageObserver* salvage) {
    return RestoreBlocks(level, in, n, out, ws, facts, salvage, [](std::uint64_t) {});
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
    if (n == 0) return EmptyContainer(request, facts.restore);
    ContainerHead head;
    Level level;
    if (Status s = SettleLevel(request, in, n, ws, head, facts.restore, level); s != Status::Ok) return s;
    ContentTally tally;
    WalkEnd w;
    const Status s = WalkBlocks(head, level, in, n, w,
                                [&](const ByteCursor& c, std::size_t, const std::uint8_t*) {
                                    // Framing checked it: 1 to MaxChunkLength.
                                    const std::uint64_t claimed = ClaimedChunkLength(level, c.at);
                                    facts.storedBlocks += c.at[0] == StoredBlockKind ? 1 : 0;
                                    tally.blocks += 1;
                                    tally.length += claimed;
                                    return Status::Ok;
                                });
    facts.restore.blocks = w.blocks;
    facts.restore.atEndRecord = w.atEnd;
    facts.blocks = tally.blocks;
    facts.restoredLength = tally.length;
    if (s != Status::Ok || w.endRecord == nullptr) return s;
    return CheckEndRecord(w.endRecord, tally, true);
}

Status CompressBuffer(Level level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                      BlockWorkspace& ws, RunTotals* totals, ContainerKind kind) {
    out.resize(std::size_t(ContainerBound(n, kind)));
    ByteSink sink{out.data(), out.data(), out.data() + out.size()};
    const Status s = CompressInto(level, in, n, sink, ws, totals, kind);
    out.resize(Written(sink));
    return s;
}

Status DecompressBuffer(LevelRequest level, const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out,
                        BlockWorkspace& ws, RestoreFacts* facts, const DamageObserver* salvage) {
    if (n == 0) {
        out.clear();
        ByteSink none;
        return RestoreBlocks(level, in, n, none, ws, facts, salvage, [](std::uint64_t) {});
    }
    // Size the output to what the headers claim (plus the decoders' slack), but never
    // trust a claim far beyond the input; past it the buffer grows block by block. The
    // level settled there is used again, so that a plain container's is told once.
    ContainerFacts first;
    const bool framed = InspectContainer(in, n, ws, first, level) == Status::Ok;
    const std::uint64_t claimed =
        framed ? std::min<std::uint64_t>(first.restoredLength, 64 * std::uint64_t(n) + MaxChunkLength) : 0;
    const LevelRequest settled = first.restore.level ? first.restore.level : level;
    // Resizing keeps what the vector holds, so a reused vector is not cleared again
    // (the bytes are overwritten below).
    out.resize(std::size_t(claimed) + CopySlack);
    ByteSink sink{out.data(), out.data(), out.data() + out.size()};
    const Status status = RestoreBlocks(settled, in, n, sink, ws, facts, salvage, [&](std::uint64_t blockClaim) {
        const std::uint64_t need = blockClaim + CopySlack;
        if (Room(sink) < need && need <= MaxChunkLength + CopySlack) {
            const std::size_t written = Written(sink);
            out.resize(std::max(out.size() * 2, written + std::size_t(need)));
            sink = {out.data(), out.data() + written, out.data() + out.size()};
        }
    });
    out.resize(Written(sink));
    if (facts != nullptr && first.restore.levelDetected) {
        facts->levelDetected = true;
        facts->candidates = first.restore.candidates;
    }
    return status;
}

}  // namespace orsk
