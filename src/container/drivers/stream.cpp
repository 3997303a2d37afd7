// Streaming compression and restoration: the chunk and block calls of the memory path,
// fed and drained in pieces through one job's buffers.
#include "container/drivers/stream.h"

#include <algorithm>
#include <cstring>

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

}  // namespace

Status StreamCompressor::Prepare() {
    if (status_ == Status::Ok) status_ = ws_.PrepareCompress();
    return status_;
}

void StreamCompressor::Drain(ByteSink& out) {
    if (magicPending_) {
        if (!PutByte(out, ContainerMagic)) return;
        magicPending_ = false;
    }
    Copy(ws_.block(), blockAt_, blockEnd_, out);
}

Status StreamCompressor::CompressHeld() {
    ChunkOutcome outcome;
    if (Status s = CompressChunk(level_, ws_, held_, outcome); s != Status::Ok) return s;
    held_ = 0;
    blockAt_ = 0;
    blockEnd_ = outcome.blockLength;
    // The magic byte leads the first block; an empty input makes an empty container.
    if (!started_) magicPending_ = started_ = true;
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
        if (Pending() || held_ == 0) break;
        if (Status s = CompressHeld(); s != Status::Ok) return status_ = s;
    }
    done = !Pending();
    return Status::Ok;
}

Status StreamDecompressor::Prepare() {
    if (status_ == Status::Ok) status_ = ws_.PrepareDecompress();
    return status_;
}

void StreamDecompressor::Drain(ByteSink& out) { Copy(restored_.data, pending_, restored_.length, out); }

// Gathers the current block in ws_.input(): its kind byte, then the rest of its fixed
// header, then the rest of the block, never a byte past it; restores it once whole.
Status StreamDecompressor::TakeBlockBytes(ByteCursor& in) {
    std::uint8_t* const block = ws_.input();
    for (;;) {
        std::size_t wanted = 1;
        if (held_ != 0) {
            if (Status s = BlockBytesWanted(level_, block, held_, wanted); s != Status::Ok) return s;
        }
        if (held_ == wanted) break;
        const std::size_t take = std::min(wanted - held_, Left(in));
        std::memcpy(block + held_, in.at, take);
        in.at += take;
        held_ += take;
        if (held_ != wanted) return Status::Ok;  // the rest comes with later input
    }
    // The input buffer holds MaxBlockLength + StreamReadSlack bytes and a framed block
    // is at most MaxBlockLength long, so the decoders' read slack lies inside it.
    RestoredBlock restored;
    if (Status s = RestoreBlock(level_, ws_, block, held_, restored); s != Status::Ok) return s;
    restored_ = restored;  // a stored block's bytes stay in the input buffer until drained
    pending_ = 0;
    held_ = 0;
    return Status::Ok;
}

Status StreamDecompressor::Update(ByteCursor& in, ByteSink& out) {
    if (status_ != Status::Ok) return status_;
    for (;;) {
        Drain(out);
        // Restored bytes may lie in the input buffer: no input is taken before they leave.
        if (pending_ != restored_.length || finishing_ || in.at == in.end) return Status::Ok;
        if (!magicSeen_) {
            if (*in.at != ContainerMagic) return status_ = Status::Corrupt;
            ++in.at;
            magicSeen_ = true;
            continue;
        }
        if (Status s = TakeBlockBytes(in); s != Status::Ok) return status_ = s;
    }
}

Status StreamDecompressor::Finish(ByteSink& out, bool& done) {
    if (status_ != Status::Ok) return status_;
    finishing_ = true;
    // A block is gathered only once the one before it has been drained, so nothing
    // restored waits while a block is cut short.
    if (held_ != 0) return status_ = Status::Truncated;
    Drain(out);
    done = pending_ == restored_.length;
    return Status::Ok;
}

}  // namespace orsk
