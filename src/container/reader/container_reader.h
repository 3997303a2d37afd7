// The container reader: every rule about reading a container (its head, the framing of
// its blocks, the level they restore at, block checks, the end record, salvage, and the
// order in which failures are reported), for memory, streams and files alike.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/format.h"
#include "container/blocks/workspace.h"
#include "container/format/block.h"
#include "container/format/checked.h"
#include "container/reader/level_probe.h"

namespace orsk {

// A part of the restored bytes, [from, to).
struct ByteRange {
    constexpr ByteRange() = default;
    constexpr ByteRange(std::uint64_t begin, std::uint64_t end) : from(begin), to(end) {}
    std::uint64_t from = 0;
    std::uint64_t to = UINT64_MAX;
    // `length` bytes from `offset`, cut at the largest offset.
    static ByteRange Of(std::uint64_t offset, std::uint64_t length) {
        return {offset, length > UINT64_MAX - offset ? UINT64_MAX : offset + length};
    }
};

// What a restore learnt about a container, also when it failed.
struct RestoreFacts {
    ContainerKind kind = ContainerKind::Plain;
    LevelRequest level;          // the level the blocks restore at; none while not told
    bool levelDetected = false;  // told by a plain container's compressed blocks
    LevelSet candidates = 0;     // detection: the levels still possible (all restore alike)
    std::uint64_t blocks = 0;    // blocks restored; on failure the index of the failing one
    bool atEndRecord = false;    // the failure is a checked container's end record or its absence

    // A plain container with no compressed block restores alike at every level.
    void SetAnyLevel();
};

// Why a salvaging restore did not restore a block.
enum class DamageKind : std::uint8_t {
    ChecksumMismatch,  // a checked container's block fails its check
    Damaged,           // the level's decoder rejects the block, or its header frames none
    CutShort,          // the input ends inside the block (checked: or before the end record)
    EndRecord,         // a checked container's end record does not match the blocks read
};

// A block a salvaging restore did not restore, in output order. `length` > 0: that many
// zeros stand in for its chunk at `offset`. `length` 0: nothing does; the salvage ended
// there (nothing from `offset` on is restored), or, for EndRecord (`block` = the number
// of blocks read), blocks it counts are missing or out of place.
struct DamagedRange {
    std::uint64_t block = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    DamageKind why = DamageKind::Damaged;
};

// Where reading stopped, and why in words that follow the container's name ("block 3 of
// 'x' <why>", "the end record of 'x' <why>", "'x' <why>").
enum class FailurePlace : std::uint8_t { Head, Block, EndRecord, MissingEndRecord };
struct ReadFailure {
    Status status = Status::Ok;
    FailurePlace place = FailurePlace::Block;
    std::uint64_t block = 0;  // the block it concerns; for the end record, the blocks before it
    std::string why;
};

// A block as the reader framed it, for the caller to restore (RestoreFramed).
struct FramedBlock {
    std::uint64_t index = 0;
    std::size_t total = 0;       // the block's bytes, from its kind byte
    std::uint64_t check = 0;     // the check behind it in a checked container
    LevelSet levels = 0;         // restore it at each of these; they frame it alike
    std::uint32_t claimed = 0;   // the chunk length its header claims
    std::uint64_t offset = 0;    // where its bytes start in the restored data, as headers claim
    bool stored = false;
    // Outside the range asked for: Skip it instead of restoring it.
    bool skipped = false;
    bool firstCompressed = false;  // a plain container's first compressed block
    // Restored already, while its level was told: take ProbedResult() instead of
    // restoring it again (valid until the block is accepted).
    bool probed = false;
};

enum class ItemKind : std::uint8_t {
    NeedBytes,  // show Next the same bytes and more: `wanted` in all, or all there are
    Head,       // the container's head
    Block,      // a framed block and its check
    Pass,       // NextSeekable: move past `length` bytes unread (a skipped block's body)
    EndRecord,  // a checked container's end record
    End,        // the input ended where a container may end
    Failure,    // reading cannot go on; pass the item to Close once every block is accepted
};

struct ReadItem {
    ItemKind kind = ItemKind::NeedBytes;
    std::size_t wanted = 0;  // NeedBytes
    std::size_t length = 0;  // bytes the item takes
    FramedBlock block;       // Block; for a Failure, what is known of the block it concerns
    ReadFailure failure;     // Failure
    bool cut = false;        // Failure: a block whose whole header frames it, cut short (block.claimed)
};

// A block restored at the levels it was framed with.
struct BlockResult {
    Status status = Status::Ok;  // the lowest level's failure when none restores it
    LevelSet restoredAt = 0;     // the levels that restore it (and pass its check)
    bool alike = true;           // every one of them gives the same bytes
    RestoredBlock block;         // the bytes of the lowest of them
};

// Restores a framed block at each of its levels into `restored` (OutputBlockBufferSize
// bytes; a stored block's bytes stay where they are) and compares a checked container's
// block check. StreamReadSlack readable bytes must follow the block. Any thread may call
// it with its own scratch.
BlockResult RestoreFramed(const FramedBlock& framed, bool checked, CodecScratch& scratch, std::uint8_t* restored,
                          const std::uint8_t* block);

// What the caller does with a block's result or the end of reading.
struct Verdict {
    enum What : std::uint8_t {
        Write,        // write data[0..length)
        WriteZeros,   // salvage: write `length` zeros in place of a damaged block
        TryOtherLevels,  // a plain container's first compressed block failed at the level given:
                      // call ProbeOtherLevels with the bytes from that block's start on
        Fail,         // stop with `failure`; nothing of this block is written
        Done,         // Close: the container is whole (salvage: as far as it could be)
    } what = Done;
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    ReadFailure failure;
};

class ContainerReader {
public:
    struct Options {
        LevelRequest request;
        bool salvage = false;
        // Levels an earlier look at the same container (Inspect) found its first compressed
        // block to restore at; 0 when none was taken.
        LevelSet told = 0;
        // The restored bytes wanted: blocks wholly outside are framed and skipped, a Write
        // hands out only the part inside, and a range that starts past the end fails at
        // Close (OutOfRange) once the container is found whole. No salvage with a range.
        ByteRange range;
    };
    // `probe` is where the reader tries a block at several levels: its scratch and a
    // restored-bytes buffer (both null: the reader allocates its own when it first needs
    // them), and a window into which the bytes are copied first, with StreamReadSlack
    // zeros behind them (it holds that many more than the bytes shown, at most
    // MaxBlockLength + StreamReadSlack), or null when the bytes shown to Next have
    // StreamReadSlack readable bytes behind them.
    struct ProbeSpace {
        CodecScratch* scratch = nullptr;
        std::uint8_t* restored = nullptr;
        std::uint8_t* window = nullptr;
    };
    ContainerReader(const Options& options, const ProbeSpace& probe);

    // Frames what comes next in bytes[0..have), the input from the reader's position on;
    // `ended`: nothing follows them. The caller moves past `length` bytes of the item.
    ReadItem Next(const std::uint8_t* bytes, std::size_t have, bool ended);
    // Next for a caller that can move past bytes without reading them (a file it seeks
    // in): `left` bytes follow the reader's position, bytes[0..have) of them shown. A block
    // to be skipped is framed from its header: it is cut short when `left` cannot hold it;
    // otherwise a plain container's item is the Block (the caller moves past its `length`
    // bytes, unread), a checked one's a Pass over its body, then the Block with its check.
    ReadItem NextSeekable(const std::uint8_t* bytes, std::size_t have, std::uint64_t left);
    // True while several levels remain possible: frame the next block only once every
    // block framed is accepted, since each may narrow them.
    bool Undecided() const { return std::popcount(levels_) > 1; }
    // What the probe of a block framed with `probed` restored.
    const BlockResult& ProbedResult() const { return probed_; }

    // The result of each framed block, in block order.
    Verdict Accept(const FramedBlock& framed, const BlockResult& result);
    // Counts a framed block as read without restoring it (an inspection, or a block outside
    // the bytes asked for): the end record is compared with the checks read.
    void Skip(const FramedBlock& framed);
    // After Verdict::TryOtherLevels: bytes[0..have) from the failed block's start (up to a
    // block's worth; StreamReadSlack readable bytes behind them).
    Verdict ProbeOtherLevels(const std::uint8_t* bytes, std::size_t have);
    // The end of reading: `last` is the End or Failure item that ended it, once every block
    // before it is accepted. A salvage may still write zeros for a block cut short.
    Verdict Close(const ReadItem& last);

    RestoreFacts facts() const;
    const std::vector<DamagedRange>& damaged() const { return damaged_; }
    bool checked() const { return checked_; }
    std::uint64_t restoredBytes() const { return written_; }
    std::uint64_t restoredBlocks() const { return restored_; }

private:
    ReadItem Read(const std::uint8_t* bytes, std::size_t have, bool ended);
    ReadItem HeadItem(const std::uint8_t* bytes, std::size_t have, bool ended);
    ReadItem BlockItem(const std::uint8_t* bytes, std::size_t have, bool ended);
    ReadItem PassedCheck(const std::uint8_t* bytes, std::size_t have, bool ended);
    const std::uint8_t* ProbeBytes(const std::uint8_t* bytes, std::size_t n);
    ReadItem Probe(const std::uint8_t* bytes, std::size_t have, bool ended, LevelSet framing, std::size_t longest,
                   bool first);
    ReadItem Framed(const std::uint8_t* bytes, std::size_t have, bool ended, LevelSet framing, std::size_t total,
                    bool first);
    ReadItem Fails(Status s, FailurePlace place, std::string why) const;
    bool ProbeRoom();
    bool MayBeOtherLevel(const FramedBlock& framed, Status s) const;
    Verdict AskProbe(const FramedBlock& framed, const ReadFailure& failure, const ReadItem* closing);
    Verdict Damage(const ReadFailure& failure, DamageKind kind, std::uint64_t zeros, std::uint64_t check);
    Verdict CloseDamage(const ReadItem& last);
    Verdict Finished();
    Verdict Failed(ReadFailure failure);

    Options options_;
    ProbeSpace probe_;
    std::unique_ptr<CodecScratch> ownScratch_;  // when no scratch was given
    std::unique_ptr<std::uint8_t[]> ownRestored_;
    // The head.
    bool headRead_ = false;
    bool checked_ = false;
    LevelRequest recorded_;
    // The levels still possible: framing narrows them in Next, results in Accept.
    LevelSet levels_ = AllLevels;
    bool telling_ = false;           // a plain container's level is told from its blocks
    bool firstKnown_ = false;        // the levels its first compressed block restores at are known
    bool compressedRestored_ = false;  // a compressed block restored at the levels told
    std::uint64_t firstCompressed_ = ~std::uint64_t(0);
    bool untold_ = false;            // the level cannot be told: `untoldLevels_` differ, or none restores
    LevelSet untoldLevels_ = 0;
    bool failed_ = false;
    ReadFailure failure_;
    bool endRecordRead_ = false;
    std::uint8_t endRecord_[EndRecordLength] = {};
    BlockResult probed_;             // the last probe's restore, in probe_.restored
    std::uint64_t framed_ = 0;       // blocks framed
    std::uint64_t framedBytes_ = 0;  // the bytes they claim to restore
    std::uint64_t left_ = UINT64_MAX;  // NextSeekable: the bytes from the position on; else unknown
    bool passing_ = false;           // a skipped block's body was passed: its check comes next
    FramedBlock passed_;
    std::uint64_t accepted_ = 0;     // blocks accepted (restored or damaged)
    std::uint64_t restored_ = 0;     // blocks restored
    std::uint64_t written_ = 0;      // bytes handed out, zeros included
    ContentTally tally_;
    std::vector<DamagedRange> damaged_;
    ReadFailure firstDamage_;
    // The failed first compressed block waiting for ProbeOtherLevels.
    FramedBlock probing_;
    ReadFailure probingFailure_;
    bool probingAtClose_ = false;
    ReadItem closing_;
};

// The words for a block that does not restore, after "block 3 of 'x' ".
std::string BlockFailureWords(Status s);

}  // namespace orsk
