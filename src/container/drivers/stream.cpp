// Streaming compression and restoration: the chunk and block calls of the memory path,
// fed and drained in pieces through one job's buffers.
#include "container/drivers/stream.h"

#include <algorithm>
#include <cstring>

#include "container/reader/level_probe.h"

namespace orsk {

namespace {

// Copies what fits of src[at, end) into the sink and advances `at`.
void Copy(const std::uint8_t* src, std::size_t& at, std::size_t end, ByteSink& out) {
    const std::size_t n = std::min(Room(out), end - at);
    if (n == 0) return;
    std::memcpy(out.at, src + at, n);
    out.at += n;
    at += n;
}

// Moves what `in` holds of dst[held, wanted) into place; true once all of it is held.
bool Gather(std::uint8_t* dst, std::size_t& held, std::size_t wanted, ByteCursor& in) {
    const std::size_t take = std::min(wanted - held, Left(in));
    if (take != 0) {
        std::memcpy(dst + held, in.at, take);
        in.at += take;
        held += take;
    }
    return held == wanted;
}

}  // namespace

Status StreamCompressor::Prepare() {
    if (status_ == Status::Ok) status_ = ws_.PrepareCompress();
    return status_;
}

void StreamCompressor::Drain(ByteSink& out) {
    Copy(front_, frontAt_, frontEnd_, out);
    if (frontAt_ == frontEnd_) Copy(ws_.block(), blockAt_, blockEnd_, out);
    if (blockAt_ == blockEnd_) Copy(back_, backAt_, backEnd_, out);
}

// The magic byte or the checked header, due before the first block (or the end record).
void StreamCompressor::QueueHead() {
    started_ = true;
    frontAt_ = 0;
    frontEnd_ = checked_ ? CheckedHeaderLength : 1;
    if (checked_) {
        WriteCheckedHeader(front_, level_);
    } else {
        front_[0] = ContainerMagic;
    }
}

Status StreamCompressor::CompressHeld() {
    // The chunk's checksum before NORMAL's filter changes the workspace's copy.
    const std::uint64_t checksum = checked_ ? ChunkChecksum(ws_.chunk(), held_) : 0;
    ChunkOutcome outcome;
    if (Status s = CompressChunk(level_, ws_, held_, outcome); s != Status::Ok) return s;
    if (!started_) QueueHead();
    blockAt_ = 0;
    blockEnd_ = outcome.blockLength;
    backAt_ = backEnd_ = 0;
    if (checked_) {
        const std::uint64_t check = BlockCheck(ws_.block(), outcome.blockLength, checksum);
        StoreLE64(back_, check);
        backEnd_ = BlockCheckLength;
        tally_.Add(check, held_);
    }
    held_ = 0;
    return Status::Ok;
}

Status StreamCompressor::Update(ByteCursor& in, ByteSink& out) {
    if (status_ != Status::Ok) return status_;
    // Each turn drains, compresses a full chunk once its block's bytes are out, or takes
    // input up to a full chunk; it stops when none of these can go on.
    for (;;) {
        Drain(out);
        if (!Pending() && held_ == MaxChunkLength) {
            if (Status s = CompressHeld(); s != Status::Ok) return status_ = s;
            continue;
        }
        if (finishing_ || in.at == in.end || held_ == MaxChunkLength) return Status::Ok;
        const std::size_t take = std::min(Left(in), MaxChunkLength - held_);
        std::memcpy(ws_.chunk() + held_, in.at, take);
        in.at += take;
        held_ += take;
    }
}

Status StreamCompressor::Finish(ByteSink& out, bool& done) {
    if (status_ != Status::Ok) return status_;
    finishing_ = true;
    for (;;) {
        Drain(out);
        if (Pending()) break;
        if (held_ != 0) {
            if (Status s = CompressHeld(); s != Status::Ok) return status_ = s;
        } else if (checked_ && !ended_) {
            // A checked container ends with its record, also when the input was empty.
            ended_ = true;
            if (!started_) QueueHead();
            WriteEndRecord(back_, tally_);
            backAt_ = 0;
            backEnd_ = EndRecordLength;
        } else {
            break;
        }
    }
    done = !Pending();
    return Status::Ok;
}

Status StreamDecompressor::Prepare() {
    if (status_ == Status::Ok) status_ = ws_.PrepareDecompress();
    return status_;
}

void StreamDecompressor::Drain(ByteSink& out) { Copy(restored_.data, pending_, restored_.length, out); }

// Gathers the container's head: the magic byte, or the whole checked header; then
// settles the level its blocks restore at.
Status StreamDecompressor::TakeHead(ByteCursor& in) {
    for (;;) {
        const std::size_t wanted = headHeld_ != 0 && head_[0] == CheckedMagic ? CheckedHeaderLength : 1;
        if (headHeld_ == wanted) break;
        if (!Gather(head_, headHeld_, wanted, in)) return Status::Ok;  // the rest comes with later input
    }
    ContainerHead head;
    if (Status s = ReadContainerHead(head_, headHeld_, head); s != Status::Ok) return s;
    LevelRequest settled;
    if (Status s = LevelOfHead(head, request_, settled); s != Status::Ok) return s;
    telling_ = !settled;
    level_ = settled.value_or(Level::Hyperfast);  // stored blocks frame alike at every level
    checked_ = head.kind == ContainerKind::Checked;
    headRead_ = true;
    return Status::Ok;
}

// Gathers the current block in ws_.input(): its kind byte, then the rest of its fixed
// header, then the rest of the block, never a byte past it, then the check behind it in
// a checked container; restores it once whole. A checked container's end record is
// gathered instead where the next block's kind byte would be.
Status StreamDecompressor::TakeBlockBytes(ByteCursor& in) {
    if (endHeld_ != 0 || (checked_ && held_ == 0 && *in.at == EndRecordKind)) {
        Gather(end_, endHeld_, EndRecordLength, in);
        return Status::Ok;
    }
    std::uint8_t* const block = ws_.input();
    for (;;) {
        std::size_t wanted = 1;
        if (held_ != 0 && telling_ && block[0] == CompressedBlockKind) {
            wanted = MaxBlockLength;  // the window
        } else if (held_ != 0) {
            if (Status s = BlockBytesWanted(level_, block, held_, wanted); s != Status::Ok) return s;
        }
        if (held_ == wanted) break;
        if (!Gather(block, held_, wanted, in)) return Status::Ok;  // the rest comes with later input
    }
    if (telling_ && block[0] == CompressedBlockKind) return TellLevel();
    if (checked_ && !Gather(check_, checkHeld_, BlockCheckLength, in)) return Status::Ok;
    return RestoreHeld();
}

// Tells the level from the window's first block as the memory path does, frames that
// block at it, carries the bytes behind it over and restores it.
Status StreamDecompressor::TellLevel() {
    LevelProbe probe;
    if (Status s = ProbeLevels(ws_.codec, ws_.restored(), ws_.input(), held_, probe); s != Status::Ok) return s;
    const LevelRequest level = DetectedLevel(probe);
    if (!level) return Status::UnknownLevel;
    level_ = *level;
    telling_ = false;
    std::size_t total = 0;  // inside the window: the block restored at this level
    if (Status s = BlockBytesWanted(level_, ws_.input(), held_, total); s != Status::Ok) return s;
    carried_.assign(ws_.input() + total, ws_.input() + held_);
    carry_ = {carried_.data(), carried_.data() + carried_.size()};
    held_ = total;
    return RestoreHeld();
}

Status StreamDecompressor::RestoreHeld() {
    // The input buffer holds MaxBlockLength + StreamReadSlack bytes and a framed block
    // is at most MaxBlockLength long, so the decoders' read slack lies inside it.
    RestoredBlock restored;
    if (Status s = RestoreBlock(level_, ws_, ws_.input(), held_, restored); s != Status::Ok) return s;
    if (checked_) {
        const std::uint64_t sum = BlockCheck(ws_.input(), held_, ChunkChecksum(restored.data, restored.length));
        if (sum != LoadLE64(check_)) return Status::ChecksumMismatch;
        tally_.Add(sum, restored.length);
    }
    restored_ = restored;  // a stored block's bytes stay in the input buffer until drained
    pending_ = 0;
    held_ = 0;
    checkHeld_ = 0;
    return Status::Ok;
}

// Restores what the carried bytes, then `in`, hold, as far as `out` takes the output.
Status StreamDecompressor::Pump(ByteCursor& in, ByteSink& out) {
    for (;;) {
        Drain(out);
        // Restored bytes may lie in the input buffer: no input is taken before they leave.
        if (pending_ != restored_.length) return Status::Ok;
        ByteCursor& from = carry_.at != carry_.end ? carry_ : in;
        if (from.at == from.end) return Status::Ok;
        Status s = Status::Ok;
        if (!headRead_) {
            s = TakeHead(from);
        } else if (endHeld_ == EndRecordLength) {
            s = Status::Corrupt;  // bytes behind the end record
        } else {
            s = TakeBlockBytes(from);
        }
        if (s != Status::Ok) return status_ = s;
    }
}

Status StreamDecompressor::Update(ByteCursor& in, ByteSink& out) {
    if (status_ != Status::Ok) return status_;
    if (finishing_) {
        Drain(out);
        return Status::Ok;
    }
    return Pump(in, out);
}

Status StreamDecompressor::Finish(ByteSink& out, bool& done) {
    if (status_ != Status::Ok) return status_;
    finishing_ = true;
    // The input has ended, so a window still being gathered is whole; the blocks it
    // carries over restore as the output takes them.
    if (telling_ && held_ != 0 && ws_.input()[0] == CompressedBlockKind) {
        if (Status s = TellLevel(); s != Status::Ok) return status_ = s;
    }
    ByteCursor none{};
    if (Status s = Pump(none, out); s != Status::Ok) return s;
    if (carry_.at != carry_.end) {
        done = false;
        return Status::Ok;
    }
    // A block is gathered only once the one before it has been drained, so nothing
    // restored waits while a block is cut short. An empty input is an empty container.
    const bool cut = (headHeld_ != 0 && !headRead_) || held_ != 0 || checkHeld_ != 0 ||
                     (endHeld_ != 0 && endHeld_ != EndRecordLength) || (checked_ && endHeld_ == 0);
    if (cut) return status_ = Status::Truncated;
    if (endHeld_ == EndRecordLength) {
        if (Status s = CheckEndRecord(end_, tally_, false); s != Status::Ok) return status_ = s;
    }
    Drain(out);
    done = pending_ == restored_.length;
    return Status::Ok;
}

}  // namespace orsk
