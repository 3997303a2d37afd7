// The container reader's rules: framing, the level (given, recorded, or narrowed on every
// compressed block of a plain container), block checks, the end record and salvage.
#include "container/reader/container_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace orsk {

void RestoreFacts::SetAnyLevel() {
    level = AnyLevel;
    levelDetected = true;
    candidates = AllLevels;
}

std::string BlockFailureWords(Status s) {
    const char* what = s == Status::Truncated          ? "is cut short"
                       : s == Status::OutOfMemory      ? "needs more memory than is free"
                       : s == Status::ChecksumMismatch ? "is damaged: its check differs"
                                                       : "is damaged";
    return std::string(what) + " (" + StatusText(s) + ")";
}

BlockResult RestoreFramed(const FramedBlock& framed, bool checked, CodecScratch& scratch, std::uint8_t* restored,
                          const std::uint8_t* block) {
    BlockResult r;
    if (framed.stored || std::popcount(framed.levels) == 1) {
        // Stored blocks restore alike at every level.
        const Level level = framed.stored ? AnyLevel : LowestLevel(framed.levels);
        r.status = RestoreBlock(level, scratch, restored, block, framed.total, r.block);
        if (r.status == Status::Ok && checked &&
            BlockCheck(block, framed.total, ChunkChecksum(r.block.data, r.block.length)) != framed.check) {
            r.status = Status::ChecksumMismatch;
        }
        if (r.status == Status::Ok) r.restoredAt = framed.levels;
        return r;
    }
    // Several levels remain (never in a checked container, which records its level).
    LevelProbe probe;
    if (Status s = ProbeLevels(scratch, restored, block, framed.total, framed.levels, probe); s != Status::Ok) {
        r.status = s;
        return r;
    }
    r.restoredAt = probe.levels;
    r.alike = probe.alike;
    r.block = probe.first;
    r.status = probe.levels != 0 ? Status::Ok : probe.failure;
    return r;
}

ContainerReader::ContainerReader(const Options& options, const ProbeSpace& probe) : options_(options), probe_(probe) {}

// The scratch and buffer a probe restores with, allocated on first use when the caller
// gave none (a restore at a known level never needs them).
bool ContainerReader::ProbeRoom() {
    if (probe_.scratch != nullptr) return true;
    ownScratch_.reset(new (std::nothrow) CodecScratch);
    ownRestored_.reset(new (std::nothrow) std::uint8_t[OutputBlockBufferSize]);
    if (!ownScratch_ || !ownRestored_ || ownScratch_->PrepareDecompress() != Status::Ok) return false;
    probe_.scratch = ownScratch_.get();
    probe_.restored = ownRestored_.get();
    return true;
}

ReadItem ContainerReader::Fails(Status s, FailurePlace place, std::string why) const {
    ReadItem item;
    item.kind = ItemKind::Failure;
    item.failure = {s, place, framed_, std::move(why)};
    return item;
}

namespace {

ReadItem Need(std::size_t wanted) {
    ReadItem item;
    item.wanted = wanted;
    return item;
}

ReadItem Item(ItemKind kind, std::size_t length) {
    ReadItem item;
    item.kind = kind;
    item.length = length;
    return item;
}

}  // namespace

ReadItem ContainerReader::Next(const std::uint8_t* bytes, std::size_t have, bool ended) {
    left_ = ended ? have : UINT64_MAX;
    return Read(bytes, have, ended);
}

ReadItem ContainerReader::NextSeekable(const std::uint8_t* bytes, std::size_t have, std::uint64_t left) {
    left_ = left;
    return Read(bytes, have, have >= left);
}

ReadItem ContainerReader::Read(const std::uint8_t* bytes, std::size_t have, bool ended) {
    if (!headRead_) return HeadItem(bytes, have, ended);
    if (endRecordRead_) {
        if (have != 0) return Fails(Status::Corrupt, FailurePlace::EndRecord, "is followed by more bytes");
        return ended ? Item(ItemKind::End, 0) : Need(1);
    }
    if (passing_) return PassedCheck(bytes, have, ended);
    return BlockItem(bytes, have, ended);
}

ReadItem ContainerReader::HeadItem(const std::uint8_t* bytes, std::size_t have, bool ended) {
    const LevelRequest request = options_.request;
    if (have == 0) {
        if (!ended) return Need(1);
        // An empty file is an empty plain container: it restores (nothing) at any level.
        headRead_ = true;
        levels_ = request ? LevelBit(*request) : AllLevels;
        telling_ = !request;
        return Item(ItemKind::End, 0);
    }
    const std::size_t wanted = bytes[0] == CheckedMagic ? CheckedHeaderLength : 1;
    if (have < wanted && !ended) return Need(wanted);
    ContainerHead head;
    std::string why;
    if (Status s = ReadContainerHead(bytes, std::min(have, wanted), head, &why); s != Status::Ok) {
        return Fails(s, FailurePlace::Head, "cannot be restored: " + why);
    }
    checked_ = head.kind == ContainerKind::Checked;
    if (checked_) recorded_ = head.level;
    LevelRequest settled;
    if (LevelOfHead(head, request, settled) != Status::Ok) {
        return Fails(Status::WrongLevel, FailurePlace::Head,
                     "is a checked container written at level " + std::to_string(int(head.level)) + " (" +
                         LevelName(head.level) + "), not at level " + std::to_string(int(*request)));
    }
    headRead_ = true;
    telling_ = !settled;
    if (settled) {
        levels_ = LevelBit(*settled);
    } else if (options_.told != 0) {
        levels_ = options_.told;
        firstKnown_ = true;
    }
    return Item(ItemKind::Head, head.length);
}

ReadItem ContainerReader::BlockItem(const std::uint8_t* bytes, std::size_t have, bool ended) {
    if (have == 0) {
        if (!ended) return Need(1);
        if (!checked_) return Item(ItemKind::End, 0);
        const std::string last = framed_ == 0 ? "its header" : "block " + std::to_string(framed_ - 1);
        return Fails(Status::Truncated, FailurePlace::MissingEndRecord,
                     "is cut short: it ends after " + last + " without its end record");
    }
    if (checked_ && bytes[0] == EndRecordKind) {
        if (have < EndRecordLength) {
            return ended ? Fails(Status::Truncated, FailurePlace::EndRecord, "is cut short") : Need(EndRecordLength);
        }
        std::memcpy(endRecord_, bytes, EndRecordLength);
        endRecordRead_ = true;
        return Item(ItemKind::EndRecord, EndRecordLength);
    }
    const std::size_t header = BlockHeaderLength(bytes[0]);
    if (header == 0) return Fails(Status::Corrupt, FailurePlace::Block, "has an unknown kind byte " + std::to_string(bytes[0]));
    const bool first = !checked_ && bytes[0] == CompressedBlockKind && firstCompressed_ == ~std::uint64_t(0);
    if (have < header) {
        if (!ended) return Need(header);
        ReadItem item = Fails(Status::Truncated, FailurePlace::Block, "is cut short");
        item.block.firstCompressed = first;
        return item;
    }
    // The levels still possible that frame the block, and the lengths they give it.
    LevelSet framing = 0;
    std::size_t total = 0, longest = 0;
    bool differ = false;
    // A range places blocks by the lengths they claim: levels that frame a block alike but
    // claim it restores other lengths must be told apart too.
    const bool ranged = options_.range.from != 0 || options_.range.to != UINT64_MAX;
    std::uint32_t claim = 0;
    for (int k = 0; k < LevelCount; ++k) {
        std::size_t t = 0;
        if ((levels_ & (1u << k)) == 0 || BlockTotalLength(Level(k), bytes, t) != Status::Ok) continue;
        const std::uint32_t c = ClaimedChunkLength(Level(k), bytes);
        differ = differ || (framing != 0 && (t != total || (ranged && c != claim)));
        if (framing == 0) {
            total = t;
            claim = c;
        }
        longest = std::max(longest, t);
        framing |= 1u << k;
    }
    // A plain container's first compressed block tells its level; a later block is tried
    // at every level left when they frame it differently (NORMAL's header order).
    const bool telling = telling_ && first && !firstKnown_;
    if (framing == 0 && telling) {
        untold_ = true;
        return Fails(Status::UnknownLevel, FailurePlace::Block,
                     "restores at no level, so the level cannot be told: it is damaged");
    }
    if (framing == 0) {
        ReadItem item = Fails(Status::Corrupt, FailurePlace::Block, "is damaged");
        item.block.firstCompressed = first;
        return item;
    }
    if (telling || (std::popcount(framing) > 1 && differ)) return Probe(bytes, have, ended, framing, longest, first);
    return Framed(bytes, have, ended, framing, total, first);
}

// The n bytes a probe decodes: in the window, with the decoders' read slack behind them
// zeroed, when the caller's bytes have no slack of their own.
const std::uint8_t* ContainerReader::ProbeBytes(const std::uint8_t* bytes, std::size_t n) {
    if (probe_.window == nullptr) return bytes;
    if (n != 0) std::memcpy(probe_.window, bytes, n);  // bytes may be null when n is 0
    std::memset(probe_.window + n, 0, StreamReadSlack);
    return probe_.window;
}

ReadItem ContainerReader::Probe(const std::uint8_t* bytes, std::size_t have, bool ended, LevelSet framing,
                                std::size_t longest, bool first) {
    if (have < longest && !ended) return Need(longest);
    const std::size_t n = std::min(have, longest);
    const std::uint8_t* const at = ProbeBytes(bytes, n);
    LevelProbe probe;
    if (!ProbeRoom()) return Fails(Status::OutOfMemory, FailurePlace::Block, BlockFailureWords(Status::OutOfMemory));
    if (Status s = ProbeLevels(*probe_.scratch, probe_.restored, at, n, framing, probe); s != Status::Ok) {
        return Fails(s, FailurePlace::Block, BlockFailureWords(s));
    }
    if (first) firstKnown_ = true;
    if (probe.levels == 0 && (first || !compressedRestored_)) {
        untold_ = true;
        return Fails(Status::UnknownLevel, FailurePlace::Block,
                     "restores at no level, so the level cannot be told: it is damaged");
    }
    if (probe.levels == 0) {
        // Damage where the levels left frame the block differently: nothing can follow it.
        return Fails(probe.failure, FailurePlace::Block, "is damaged");
    }
    if (!probe.alike) {
        untold_ = true;
        untoldLevels_ = probe.levels;
        return Fails(Status::UnknownLevel, FailurePlace::Block,
                     "restores to different bytes at " + LevelAdvice(probe.levels, "give"));
    }
    ReadItem item = Framed(bytes, have, ended, probe.levels, probe.total, first);
    // A block restored from the window is the block framed: its bytes need no second restore.
    if (item.kind == ItemKind::Block && !item.block.stored) {
        item.block.probed = true;
        probed_ = {Status::Ok, probe.levels, true, probe.first};
    }
    return item;
}

ReadItem ContainerReader::Framed(const std::uint8_t* bytes, std::size_t have, bool ended, LevelSet framing,
                                 std::size_t total, bool first) {
    const std::size_t checkLength = checked_ ? BlockCheckLength : 0;
    FramedBlock b;
    b.index = framed_;
    b.total = total;
    b.levels = framing;
    b.claimed = ClaimedChunkLength(LowestLevel(framing), bytes);
    b.offset = framedBytes_;
    b.stored = bytes[0] == StoredBlockKind;
    b.firstCompressed = first;
    const ByteRange& range = options_.range;
    b.skipped = b.offset >= range.to || b.offset + b.claimed <= range.from;
    // A block to be skipped needs no more than its header where the input's length is known.
    const bool passing = b.skipped && left_ != UINT64_MAX && have < total + checkLength;
    const std::uint64_t there = passing ? left_ : have;
    if (there < total + checkLength) {
        if (!ended && !passing) return Need(total + checkLength);
        ReadItem item = Fails(Status::Truncated, FailurePlace::Block, there < total ? "is cut short" : "is cut short in its check");
        item.block = b;
        item.cut = true;
        return item;
    }
    levels_ = framing;  // a level that cannot frame a block cannot restore it
    if (first) {
        firstCompressed_ = framed_;
        firstKnown_ = true;
    }
    framedBytes_ += b.claimed;
    if (passing && checked_) {
        passing_ = true;
        passed_ = b;
        return Item(ItemKind::Pass, total);
    }
    if (!passing && checked_) b.check = LoadLE64(bytes + total);
    ++framed_;
    ReadItem item = Item(ItemKind::Block, passing ? total : total + checkLength);
    item.block = b;
    return item;
}

// The check behind a skipped block whose body was passed.
ReadItem ContainerReader::PassedCheck(const std::uint8_t* bytes, std::size_t have, bool ended) {
    if (have < BlockCheckLength) {
        if (!ended) return Need(BlockCheckLength);
        ReadItem item = Fails(Status::Truncated, FailurePlace::Block, "is cut short in its check");
        item.block = passed_;
        item.cut = true;
        return item;
    }
    passing_ = false;
    passed_.check = LoadLE64(bytes);
    ++framed_;
    ReadItem item = Item(ItemKind::Block, BlockCheckLength);
    item.block = passed_;
    return item;
}

Verdict ContainerReader::Failed(ReadFailure failure) {
    failed_ = true;
    failure_ = failure;
    Verdict v;
    v.what = Verdict::Fail;
    v.failure = std::move(failure);
    return v;
}

// A plain container's first compressed block that fails at the level given may have
// been written at another level rather than damaged.
bool ContainerReader::MayBeOtherLevel(const FramedBlock& framed, Status s) const {
    return framed.firstCompressed && options_.request && (s == Status::Corrupt || s == Status::Truncated);
}

// Asks the caller for the bytes of that block (`closing`: the item that ended reading).
Verdict ContainerReader::AskProbe(const FramedBlock& framed, const ReadFailure& failure, const ReadItem* closing) {
    probing_ = framed;
    probingFailure_ = failure;
    probingAtClose_ = closing != nullptr;
    if (closing != nullptr) closing_ = *closing;
    Verdict v;
    v.what = Verdict::TryOtherLevels;
    return v;
}

Verdict ContainerReader::Accept(const FramedBlock& framed, const BlockResult& result) {
    ++accepted_;
    if (result.restoredAt != 0) {
        if (!result.alike) {
            untold_ = true;
            untoldLevels_ = result.restoredAt;
            return Failed({Status::UnknownLevel, FailurePlace::Block, framed.index,
                           "restores to different bytes at " + LevelAdvice(result.restoredAt, "give")});
        }
        if (!framed.stored) {
            levels_ &= result.restoredAt;
            compressedRestored_ = true;
        }
        if (checked_) tally_.Add(framed.check, result.block.length);
        ++restored_;
        written_ += result.block.length;
        // Only the part inside the range; the block is not skipped, so it starts before `to`.
        const ByteRange& range = options_.range;
        const std::size_t n = result.block.length;
        const std::size_t lo = range.from > framed.offset ? std::size_t(std::min<std::uint64_t>(range.from - framed.offset, n)) : 0;
        const std::size_t hi = std::size_t(std::min<std::uint64_t>(range.to - framed.offset, n));
        Verdict v;
        v.what = Verdict::Write;
        v.data = result.block.data + lo;
        v.length = hi > lo ? hi - lo : 0;
        return v;
    }
    ReadFailure failure{result.status, FailurePlace::Block, framed.index, BlockFailureWords(result.status)};
    if (MayBeOtherLevel(framed, failure.status)) return AskProbe(framed, failure, nullptr);
    const DamageKind kind =
        result.status == Status::ChecksumMismatch ? DamageKind::ChecksumMismatch : DamageKind::Damaged;
    return Damage(failure, kind, framed.claimed, framed.check);
}

void ContainerReader::Skip(const FramedBlock& framed) {
    ++accepted_;
    if (checked_) tally_.Add(framed.check, framed.claimed);
    written_ += framed.claimed;
}

Verdict ContainerReader::Damage(const ReadFailure& failure, DamageKind kind, std::uint64_t zeros, std::uint64_t check) {
    const Status s = failure.status;
    if (!options_.salvage || s == Status::OutOfMemory || s == Status::NoRoom || s == Status::ReadFailed ||
        s == Status::WriteFailed || s == Status::UnknownLevel || s == Status::WrongLevel) {
        return Failed(failure);
    }
    damaged_.push_back({failure.block, written_, zeros, kind});
    if (firstDamage_.status == Status::Ok) firstDamage_ = failure;
    // The end record counts a damaged block by the check and length its header claim.
    if (checked_ && failure.place == FailurePlace::Block && zeros != 0 && kind != DamageKind::CutShort) {
        tally_.Add(check, zeros);
    }
    written_ += zeros;
    Verdict v;
    v.what = zeros != 0 ? Verdict::WriteZeros : Verdict::Done;
    v.length = zeros;
    return v;
}

Verdict ContainerReader::ProbeOtherLevels(const std::uint8_t* bytes, std::size_t have) {
    const std::size_t n = std::min(have, MaxBlockLength);
    const std::uint8_t* const at = ProbeBytes(bytes, n);
    LevelProbe probe;
    const LevelSet others = AllLevels & ~LevelBit(*options_.request);
    if (ProbeRoom() && ProbeLevels(*probe_.scratch, probe_.restored, at, n, others, probe) == Status::Ok &&
        probe.levels != 0) {
        // Written at another level, so damaged for this one, not cut short: NORMAL's header
        // order frames a block of the others as longer than what follows it.
        ReadFailure f = probingFailure_;
        f.status = Status::Corrupt;
        f.why = "does not restore at level " + std::to_string(int(*options_.request)) + "; it restores at " +
                LevelAdvice(probe.levels);
        return Failed(f);
    }
    if (probingAtClose_) {
        probingAtClose_ = false;
        closing_.block.firstCompressed = false;
        return Close(closing_);
    }
    return Damage(probingFailure_, DamageKind::Damaged, probing_.claimed, probing_.check);
}

Verdict ContainerReader::Finished() {
    // A salvage that restored nothing fails as the restore would without it.
    if (options_.salvage && restored_ == 0 && firstDamage_.status != Status::Ok) {
        damaged_.clear();
        return Failed(firstDamage_);
    }
    return Verdict{};
}

Verdict ContainerReader::Close(const ReadItem& last) {
    if (last.kind != ItemKind::Failure) {
        if (endRecordRead_) {
            // After damaged blocks the content checksum tells nothing more: only the
            // counts are compared.
            std::string why;
            if (Status s = CheckEndRecord(endRecord_, tally_, !damaged_.empty(), &why); s != Status::Ok) {
                const ReadFailure f{s, FailurePlace::EndRecord, framed_, "does not match the blocks: " + why};
                if (!options_.salvage) return Failed(f);
                damaged_.push_back({framed_, written_, 0, DamageKind::EndRecord});
            }
        }
        if (options_.range.from > written_) {
            return Failed({Status::OutOfRange, FailurePlace::Head, framed_,
                           "restores " + std::to_string(written_) + " bytes: the range starts at " +
                               std::to_string(options_.range.from) + ", past their end"});
        }
        return Finished();
    }
    const ReadFailure& f = last.failure;
    if (MayBeOtherLevel(last.block, f.status)) return AskProbe(last.block, f, &last);
    const DamageKind kind = f.status == Status::Truncated ? DamageKind::CutShort
                            : f.place == FailurePlace::EndRecord || f.place == FailurePlace::MissingEndRecord
                                ? DamageKind::EndRecord
                                : DamageKind::Damaged;
    Verdict v = Damage(f, kind, last.cut ? last.block.claimed : 0, 0);
    if (v.what == Verdict::Fail) return v;
    const Verdict end = Finished();
    return end.what == Verdict::Fail ? end : v;
}

RestoreFacts ContainerReader::facts() const {
    RestoreFacts f;
    f.kind = checked_ ? ContainerKind::Checked : ContainerKind::Plain;
    if (!telling_) {
        f.level = options_.request ? options_.request : recorded_;
    } else if (untold_) {
        f.levelDetected = true;
        f.candidates = untoldLevels_;
    } else if (!firstKnown_) {
        f.SetAnyLevel();  // no compressed block: any level restores it
    } else {
        f.levelDetected = true;
        f.candidates = levels_;
        f.level = LowestLevel(levels_);
    }
    f.blocks = failed_ ? failure_.block : accepted_;
    f.atEndRecord = failed_ && (failure_.place == FailurePlace::EndRecord || failure_.place == FailurePlace::MissingEndRecord);
    return f;
}

}  // namespace orsk
