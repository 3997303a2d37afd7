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
    if (Status s = CompressChunk(level_, ws_, held_, outcome, effort_); s != Status::Ok) return s;
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
    // The bytes shown to the reader lie in ws_.input(), with the decoders' slack behind.
    if (status_ == Status::Ok && !reader_) reader_.emplace(ContainerReader::Options{request_, false, 0, {}}, ContainerReader::ProbeSpace{&ws_.codec, ws_.restored(), nullptr});
    return status_;
}

void StreamDecompressor::Drain(ByteSink& out) { Copy(data_, pending_, length_, out); }

// Moves carried bytes, then `in`'s, into ws_.input() up to `wanted` held; false when
// neither had any.
bool StreamDecompressor::Gather(std::size_t wanted, ByteCursor& in) {
    ByteCursor& from = carry_.at != carry_.end ? carry_ : in;
    const std::size_t take = std::min(wanted - held_, Left(from));
    if (take == 0) return false;
    std::memcpy(ws_.input() + held_, from.at, take);
    from.at += take;
    held_ += take;
    return true;
}

// Moves past an item of `length` held bytes; what is held behind it is carried over.
void StreamDecompressor::Consume(std::size_t length) {
    if (held_ > length) {
        std::vector<std::uint8_t> next(ws_.input() + length, ws_.input() + held_);
        next.insert(next.end(), carry_.at, carry_.end);
        carried_.swap(next);
        carry_ = {carried_.data(), carried_.data() + carried_.size()};
    }
    held_ = 0;
}

Status StreamDecompressor::Apply(const Verdict& v) {
    if (v.what == Verdict::Fail) return status_ = v.failure.status;
    if (v.what == Verdict::Write) {
        data_ = v.data;  // a stored block's bytes stay in the input buffer until drained
        length_ = v.length;
        pending_ = 0;
    }
    return Status::Ok;
}

// Shows the reader what is held and restores what it frames, as far as `out` takes the
// output; more input is gathered as the reader asks for it.
Status StreamDecompressor::Pump(ByteCursor& in, ByteSink& out) {
    for (;;) {
        Drain(out);
        // Restored bytes may lie in the input buffer: no input is taken before they leave.
        if (pending_ != length_ || closed_) return Status::Ok;
        const bool ended = finishing_ && carry_.at == carry_.end;
        const ReadItem item = reader_->Next(ws_.input(), held_, ended);
        switch (item.kind) {
            case ItemKind::NeedBytes:
                if (!Gather(item.wanted, in)) return Status::Ok;  // the rest comes with later input
                break;
            case ItemKind::Head:
            case ItemKind::EndRecord:
            case ItemKind::Pass:  // never: a stream shows every byte
                Consume(item.length);
                break;
            case ItemKind::Block: {
                const BlockResult r =
                    item.block.probed ? reader_->ProbedResult()
                                      : RestoreFramed(item.block, reader_->checked(), ws_.codec, ws_.restored(), ws_.input());
                Verdict v = reader_->Accept(item.block, r);
                if (v.what == Verdict::TryOtherLevels) v = reader_->ProbeOtherLevels(ws_.input(), held_);
                if (Status s = Apply(v); s != Status::Ok) return s;
                Consume(item.length);
                break;
            }
            case ItemKind::End:
            case ItemKind::Failure: {
                Verdict v = reader_->Close(item);
                if (v.what == Verdict::TryOtherLevels) v = reader_->ProbeOtherLevels(ws_.input(), held_);
                if (Status s = Apply(v); s != Status::Ok) return s;
                closed_ = true;
                return Status::Ok;
            }
        }
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
    ByteCursor none{};
    if (Status s = Pump(none, out); s != Status::Ok) return s;
    done = closed_ && pending_ == length_;
    return Status::Ok;
}

}  // namespace orsk
