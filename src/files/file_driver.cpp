// File drivers: chunks from the input through CompressChunk into the container, and
// blocks from the container through the container reader into the output or a comparison.
#include "files/file_driver.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "container/reader/container_reader.h"
#include "container/drivers/pipeline.h"
#include "platform/platform.h"

namespace orsk {

namespace {

bool OpenInput(platform::InputFile& f, const std::string& name, std::string& why) {
    if (name == "-") return f.OpenStdin();
    return f.Open(name, why);
}

bool OpenOutput(platform::OutputFile& f, const std::string& name, std::string& why) {
    if (name == "-") return f.UseStdout();
    return f.Create(name, why);
}

std::string Quoted(const std::string& name) { return name == "-" ? "standard input/output" : "'" + name + "'"; }

std::string OpenProblem(const std::string& input, const std::string& detail) {
    return "Error opening one or more files. " + input + " ? (" + detail + ")";
}

FileRunResult Fail(FileRunResult r, Status s, std::string message) {
    r.status = s;
    r.message = std::move(message);
    return r;
}

// Job buffers for every slot and scratch for every worker of one run.
struct RunMemory {
    std::vector<JobBuffers> jobs;
    std::vector<CodecScratch> scratch;

    Status Prepare(const OrderedPipeline& p, bool compress) {
        jobs.resize(p.slots());
        scratch.resize(p.workers());
        for (auto& j : jobs) {
            // A restore's feed zeroes the slack behind each item it reads.
            if (Status s = compress ? j.Prepare() : j.PrepareFor(MaxBlockLength); s != Status::Ok) return s;
        }
        for (auto& c : scratch) {
            if (Status s = compress ? c.PrepareCompress() : c.PrepareDecompress(); s != Status::Ok) return s;
        }
        return Status::Ok;
    }
};

// More workers than the machine runs at once only cost memory (a few MiB each): a
// request is capped at four per core and 256 in all.
std::size_t UsableThreads(const RunOptions& options) {
    const std::size_t limit = std::min<std::size_t>(4 * DefaultThreads(), 256);
    return std::clamp<std::size_t>(options.threads, 1, limit);
}

std::size_t SlotsFor(std::size_t threads) { return threads <= 1 ? 1 : 2 * threads; }

// The first failure of a compression run in block order, with its message: what the
// reader or the writer met, whichever job the pipeline reports.
struct RunProblems {
    std::string read;          // the reader's, for job readJob
    std::uint64_t readJob = 0;
    std::string write;         // the writer's (it stops the run at once)

    std::string For(std::uint64_t failedJob) const {
        if (!write.empty()) return write;
        if (!read.empty() && readJob == failedJob) return read;
        return {};
    }
};

// A reading failure in words, with the container's name.
std::string Describe(const ReadFailure& f, const std::string& input) {
    switch (f.place) {
        case FailurePlace::Block: return "block " + std::to_string(f.block) + " of " + Quoted(input) + " " + f.why;
        case FailurePlace::EndRecord: return "the end record of " + Quoted(input) + " " + f.why;
        case FailurePlace::Head:
        case FailurePlace::MissingEndRecord: break;
    }
    return Quoted(input) + " " + f.why;
}

// A container file shown to the reader: each item's bytes are read into the buffer given,
// as far as the reader asks. Bytes read past an item (the window in which a plain
// container's level is told) are handed out again before the file's next ones. With
// `skipping` in a file whose length is known, the reader frames blocks it skips from their
// headers and the feed moves past the rest unread.
class ContainerFeed {
public:
    ContainerFeed(platform::InputFile& in, bool skipping) : in_(in), seekable_(skipping && in.Left(left_)) {}
    const std::string& error() const { return in_.error(); }

    // Reads until the reader frames an item from buffer[0..held) (MaxBlockLength +
    // StreamReadSlack bytes). False when the file cannot be read.
    bool Next(ContainerReader& reader, std::uint8_t* buffer, ReadItem& item, std::size_t& held) {
        held = 0;
        bool ended = false;
        for (;;) {
            item = seekable_ ? reader.NextSeekable(buffer, held, left_) : reader.Next(buffer, held, ended);
            if (item.kind != ItemKind::NeedBytes) break;
            std::size_t got = 0;
            if (!Read(buffer + held, item.wanted - held, got)) return false;
            held += got;
            ended = held < item.wanted;
            if (ended && seekable_) left_ = held;  // the file is shorter than it was
        }
        if (item.kind == ItemKind::Failure) return ZeroSlack(buffer, held);
        if (held > item.length) {
            Unread(buffer + item.length, held - item.length);
            held = item.length;
        }
        if (held < item.length && !Pass(item.length - held)) return false;
        left_ -= std::min<std::uint64_t>(left_, item.length);
        return ZeroSlack(buffer, held);
    }
    // Up to n bytes behind those read, for a probe that wants them; they are read again.
    bool Peek(std::uint8_t* p, std::size_t n, std::size_t& got) {
        if (!Read(p, n, got)) return false;
        Unread(p, got);
        return true;
    }

private:
    // The decoders may read a little past the bytes held: zeros there, instead of clearing
    // the whole buffer up front.
    static bool ZeroSlack(std::uint8_t* buffer, std::size_t held) {
        std::memset(buffer + held, 0, std::min(StreamReadSlack, MaxBlockLength + StreamReadSlack - held));
        return true;
    }
    // Moves n bytes on, unread: past carried bytes first.
    bool Pass(std::uint64_t n) {
        const std::size_t early = std::size_t(std::min<std::uint64_t>(n, carried_.size() - carriedAt_));
        carriedAt_ += early;
        return in_.Skip(n - early);
    }
    bool Read(std::uint8_t* p, std::size_t n, std::size_t& got) {
        const std::size_t early = std::min(n, carried_.size() - carriedAt_);
        if (early != 0) std::memcpy(p, carried_.data() + carriedAt_, early);  // carried_ may hold nothing at all
        carriedAt_ += early;
        if (!in_.Read(p + early, n - early, got)) return false;
        got += early;
        return true;
    }
    void Unread(const std::uint8_t* p, std::size_t n) {
        std::vector<std::uint8_t> next(p, p + n);
        next.insert(next.end(), carried_.begin() + std::ptrdiff_t(carriedAt_), carried_.end());
        carried_.swap(next);
        carriedAt_ = 0;
    }

    platform::InputFile& in_;
    std::uint64_t left_ = 0;  // seekable: the bytes from the reader's position on
    const bool seekable_;
    std::vector<std::uint8_t> carried_;
    std::size_t carriedAt_ = 0;
};

using BlockSink = std::function<Status(const RestoredBlock&, std::uint64_t index, std::string& problem)>;

// One slot of the restore pipeline: a framed block, the container bytes in the slot's
// input buffer, and what restoring it gave.
struct RestoreSlot {
    ReadItem item;
    std::size_t held = 0;
    BlockResult result;
};

// A restore run: the container's blocks are framed by the reader as they are read,
// restored on the workers and accepted in order, each verdict's bytes going to `sink`.
class RestoreRun {
public:
    RestoreRun(const std::string& input, platform::InputFile& in, const RunOptions& options,
               const DecompressObserver& onBlock, const BlockSink& sink, ContainerReader& reader, FileRunResult& r)
        : input_(input), feed_(in, options.rangeFrom != 0 || options.rangeTo != UINT64_MAX), options_(options), onBlock_(onBlock), sink_(sink), reader_(reader), r_(r) {}

    FileRunResult Run();

private:
    Status Produce(std::size_t slot, bool& more);
    Status Consume(std::size_t slot);
    // Writes what a verdict hands out: `block` as restored, or zeros for it.
    Status Apply(const Verdict& v, RestoredBlock block, JobBuffers& job, std::uint64_t index);
    Verdict ProbeFrom(std::uint64_t block, const std::uint8_t* head, std::size_t held);
    FileRunResult Fail(Status s, const std::string& message);

    const std::string& input_;
    ContainerFeed feed_;
    const RunOptions& options_;
    const DecompressObserver& onBlock_;
    const BlockSink& sink_;
    ContainerReader& reader_;
    FileRunResult& r_;
    RunMemory memory_;
    std::vector<RestoreSlot> slots_;
    ReadItem last_;               // the End or Failure item that ended reading
    std::size_t lastSlot_ = 0;    // whose buffer holds that failure's bytes
    std::string readProblem_;     // the file could not be read
    std::string writeProblem_;
    ReadFailure failure_;         // a verdict's failure
};

Status RestoreRun::Produce(std::size_t slot, bool& more) {
    RestoreSlot& s = slots_[slot];
    for (;;) {
        if (!feed_.Next(reader_, memory_.jobs[slot].input(), s.item, s.held)) {
            readProblem_ = "cannot read " + Quoted(input_) + ": " + feed_.error();
            return Status::ReadFailed;
        }
        r_.bytesIn += s.item.kind == ItemKind::Failure ? 0 : s.item.length;
        if (s.item.kind == ItemKind::Block && s.item.block.probed) s.result = reader_.ProbedResult();
        if (s.item.kind == ItemKind::Block) return Status::Ok;
        // After the head come blocks (and the bodies of skipped ones); after an end record,
        // the file's end.
        if (s.item.kind != ItemKind::Head && s.item.kind != ItemKind::EndRecord && s.item.kind != ItemKind::Pass) break;
    }
    last_ = s.item;
    lastSlot_ = slot;
    more = false;
    return Status::Ok;
}

Status RestoreRun::Apply(const Verdict& v, RestoredBlock block, JobBuffers& job, std::uint64_t index) {
    if (v.what == Verdict::WriteZeros) {
        std::memset(job.restored(), 0, v.length);
        block = {job.restored(), v.length, false, block.blockLength};
    } else if (v.what == Verdict::Fail) {
        failure_ = v.failure;
        return v.failure.status;
    } else if (v.what == Verdict::Write) {
        block.data = v.data;  // the part of the block inside the range
        block.length = v.length;
    } else {
        return Status::Ok;
    }
    if (Status s = sink_(block, index, writeProblem_); s != Status::Ok) return s;
    r_.bytesOut += block.length;
    if (onBlock_) onBlock_(DecompressEvent{index, block});
    return Status::Ok;
}

// Tries the block `block` at the other levels, from its bytes and those read behind it:
// the slots of the blocks after it, then the file, up to one block's worth.
Verdict RestoreRun::ProbeFrom(std::uint64_t block, const std::uint8_t* head, std::size_t held) {
    std::vector<std::uint8_t> bytes(MaxBlockLength + StreamReadSlack);
    std::size_t have = std::min(held, MaxBlockLength);
    std::memcpy(bytes.data(), head, have);
    for (std::uint64_t next = block + 1; have < MaxBlockLength; ++next) {
        const auto at = std::find_if(slots_.begin(), slots_.end(), [&](const RestoreSlot& s) {
            return s.item.kind == ItemKind::Block && s.item.block.index == next;
        });
        if (at == slots_.end()) break;
        // A skipped block's bytes may have been passed unread: what follows is not here.
        if (at->item.block.skipped) return reader_.ProbeOtherLevels(bytes.data(), have);
        const std::size_t k = std::min(at->held, MaxBlockLength - have);
        std::memcpy(bytes.data() + have, memory_.jobs[std::size_t(at - slots_.begin())].input(), k);
        have += k;
    }
    std::size_t got = 0;
    if (have < MaxBlockLength && feed_.Peek(bytes.data() + have, MaxBlockLength - have, got)) have += got;
    return reader_.ProbeOtherLevels(bytes.data(), have);
}

Status RestoreRun::Consume(std::size_t slot) {
    RestoreSlot& s = slots_[slot];
    if (s.item.block.skipped) {
        reader_.Skip(s.item.block);
        return Status::Ok;
    }
    Verdict v = reader_.Accept(s.item.block, s.result);
    if (v.what == Verdict::TryOtherLevels) v = ProbeFrom(s.item.block.index, memory_.jobs[slot].input(), s.held);
    // A block that fails in its decoder, for the levels' own word before the reason.
    r_.blockFailed = v.what == Verdict::Fail && s.result.restoredAt == 0 && v.failure.why == BlockFailureWords(s.result.status);
    RestoredBlock block = s.result.block;
    block.blockLength = std::uint32_t(s.item.block.total);
    return Apply(v, block, memory_.jobs[slot], s.item.block.index);
}

FileRunResult RestoreRun::Fail(Status s, const std::string& message) {
    r_.status = s;
    r_.message = message;
    r_.restore = reader_.facts();
    r_.damaged.clear();
    return r_;
}

FileRunResult RestoreRun::Run() {
    const std::size_t threads = UsableThreads(options_);
    OrderedPipeline pipeline(threads, SlotsFor(threads));
    if (Status s = memory_.Prepare(pipeline, false); s != Status::Ok) return Fail(s, "not enough memory for the decoder");
    slots_.resize(pipeline.slots());
    std::size_t failedJob = 0;
    const Status s = pipeline.Run(
        [&](std::size_t slot, bool& more) { return Produce(slot, more); },
        [&](std::size_t slot, std::size_t worker) {
            RestoreSlot& job = slots_[slot];
            // Restored while its level was told, or outside the range.
            if (job.item.block.probed || job.item.block.skipped) return Status::Ok;
            // The head is read before the first block is framed: checked() is settled.
            job.result = RestoreFramed(job.item.block, reader_.checked(), memory_.scratch[worker], memory_.jobs[slot].restored(),
                                       memory_.jobs[slot].input());
            return Status::Ok;
        },
        [&](std::size_t slot) { return Consume(slot); }, failedJob,
        // Several levels left: each block may narrow them, so the next is framed after it.
        [&] { return reader_.Undecided(); });
    if (s != Status::Ok) {
        if (!writeProblem_.empty()) return Fail(s, writeProblem_);
        if (failure_.status != Status::Ok) return Fail(s, Describe(failure_, input_));
        return Fail(s, readProblem_.empty() ? "cannot restore block " + std::to_string(failedJob) : readProblem_);
    }
    Verdict v = reader_.Close(last_);
    if (v.what == Verdict::TryOtherLevels) {
        v = ProbeFrom(last_.failure.block, memory_.jobs[lastSlot_].input(), slots_[lastSlot_].held);
    }
    const std::uint64_t index = last_.failure.block;
    if (Status w = Apply(v, RestoredBlock{}, memory_.jobs[lastSlot_], index); w != Status::Ok) {
        return Fail(w, w == Status::WriteFailed ? writeProblem_ : Describe(failure_, input_));
    }
    r_.restore = reader_.facts();
    r_.damaged = reader_.damaged();
    // Salvage: what ended the run, when damage did.
    if (last_.kind == ItemKind::Failure) r_.message = Describe(last_.failure, input_);
    return r_;
}

// Reads the container's head, then its blocks in order, restores them on the workers and
// hands each restored block to `sink` in order. `stamp` receives the container's.
FileRunResult ReadContainer(LevelRequest request, const std::string& input, const RunOptions& options,
                            const DecompressObserver& onBlock, const BlockSink& sink, platform::FileStamp& stamp) {
    FileRunResult r;
    platform::InputFile in;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, OpenProblem(input, why));
    stamp = in.Stamp();
    // The reader allocates what it tries levels with only when it has to.
    ContainerReader reader({request, options.salvage, 0, {options.rangeFrom, options.rangeTo}}, {});
    RestoreRun run(input, in, options, onBlock, sink, reader, r);
    return run.Run();
}

}  // namespace

std::size_t DefaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

namespace {

// Restores the block just made from job.chunk()[0..n) and compares it with the chunk,
// which the level's filter may have changed in place: restored bytes are filtered alike.
Status VerifyBlock(Level level, CodecScratch& scratch, JobBuffers& job, std::size_t n, const ChunkOutcome& made) {
    std::uint8_t* const restored = scratch.Spare();
    if (restored == nullptr) return Status::OutOfMemory;
    if (Status s = scratch.PrepareDecompress(); s != Status::Ok) return s;
    // The block buffer holds OutputBlockBufferSize bytes, far more than a block and the
    // decoders' read slack.
    RestoredBlock out;
    if (RestoreBlock(level, scratch, restored, job.block(), made.blockLength, out) != Status::Ok || out.length != n) {
        return Status::Corrupt;
    }
    const LevelInfo& info = LevelOf(level);
    if (!made.stored && info.filter != nullptr) info.filter(restored, n);
    return std::memcmp(out.data, job.chunk(), n) == 0 ? Status::Ok : Status::Corrupt;
}

// A compression run: chunks read in order, compressed (and, when asked, restored and
// compared) on the workers, their blocks written in order.
class CompressRun {
public:
    CompressRun(Level level, const std::string& input, const std::string& output, const RunOptions& options,
                const CompressObserver& onBlock, platform::InputFile& in, platform::OutputFile& out, FileRunResult& r)
        : level_(level), input_(input), output_(output), options_(options), onBlock_(onBlock), in_(in), out_(out),
          r_(r), checked_(options.container == ContainerKind::Checked) {}

    Status Run();
    // What failed, in words.
    std::string Problem(std::size_t failedJob) const;

private:
    // Per slot: the chunk's length, what compressing it gave, and the block's check.
    struct Slot {
        std::size_t length = 0;
        ChunkOutcome outcome;
        std::uint64_t check = 0;
        Status verified = Status::Ok;
    };
    Status Produce(std::size_t slot, bool& more);
    Status Work(std::size_t slot, std::size_t worker);
    Status Consume(std::size_t slot);
    bool Write(const std::uint8_t* p, std::size_t n);
    bool WriteHead();

    const Level level_;
    const std::string& input_;
    const std::string& output_;
    const RunOptions& options_;
    const CompressObserver& onBlock_;
    platform::InputFile& in_;
    platform::OutputFile& out_;
    FileRunResult& r_;
    const bool checked_;
    RunMemory memory_;
    std::vector<Slot> slots_;
    std::uint64_t index_ = 0, produced_ = 0, inputSize_ = 0;
    RunProblems problems_;
    std::uint64_t unverified_ = ~std::uint64_t(0);  // the block whose comparison failed
    ContentTally tally_;
};

// The report's stage times: the library reads no clock of its own.
const StageClock RunClock{platform::CounterNow, [](std::int64_t start, std::int64_t end) {
                              return platform::StageMicros(start, end, platform::CounterFrequency());
                          }};

bool CompressRun::Write(const std::uint8_t* p, std::size_t n) {
    std::string why;
    if (out_.Write(p, n, why)) {
        r_.bytesOut += n;
        return true;
    }
    problems_.write = "cannot write " + Quoted(output_) + ": " + why;
    return false;
}

// The magic byte or the checked header; an empty input gives an empty plain container.
bool CompressRun::WriteHead() {
    std::uint8_t head[CheckedHeaderLength] = {ContainerMagic};
    if (checked_) WriteCheckedHeader(head, level_);
    return Write(head, checked_ ? CheckedHeaderLength : 1);
}

Status CompressRun::Produce(std::size_t slot, bool& more) {
    std::size_t n;
    if (!in_.Read(memory_.jobs[slot].chunk(), MaxChunkLength, n)) {
        problems_.read = "cannot read " + Quoted(input_) + ": " + in_.error();
        problems_.readJob = produced_;
        return Status::ReadFailed;
    }
    slots_[slot].length = n;
    more = n != 0;
    ++produced_;
    return Status::Ok;
}

Status CompressRun::Work(std::size_t slot, std::size_t worker) {
    JobBuffers& job = memory_.jobs[slot];
    CodecScratch& scratch = memory_.scratch[worker];
    Slot& c = slots_[slot];
    // The chunk's checksum before NORMAL's filter changes it, and the block's check.
    const std::uint64_t checksum = checked_ ? ChunkChecksum(job.chunk(), c.length) : 0;
    if (Status s = CompressChunk(level_, job, scratch, c.length, c.outcome, &RunClock, options_.effort);
        s != Status::Ok) {
        return s;
    }
    if (checked_) c.check = BlockCheck(job.block(), c.outcome.blockLength, checksum);
    // Restored on the worker that made it, while the chunk and the block are both here.
    c.verified = options_.verify ? VerifyBlock(level_, scratch, job, c.length, c.outcome) : Status::Ok;
    return Status::Ok;
}

Status CompressRun::Consume(std::size_t slot) {
    const Slot& c = slots_[slot];
    const ChunkOutcome& o = c.outcome;
    // A block that does not restore its chunk is not written: the output stops before it.
    // (Test seam: failVerifyAt makes one block's comparison fail.)
    const bool seam = options_.verify && options_.failVerifyAt >= 0 && std::uint64_t(options_.failVerifyAt) == index_;
    if (c.verified != Status::Ok || seam) {
        unverified_ = index_;
        return c.verified == Status::OutOfMemory ? Status::OutOfMemory : Status::Corrupt;
    }
    if (index_ == 0 && !WriteHead()) return Status::WriteFailed;
    if (!Write(memory_.jobs[slot].block(), o.blockLength)) return Status::WriteFailed;
    if (checked_) {
        std::uint8_t sum[BlockCheckLength];
        StoreLE64(sum, c.check);
        if (!Write(sum, sizeof sum)) return Status::WriteFailed;
        tally_.Add(c.check, c.length);
    }
    r_.bytesIn += c.length;
    r_.totals.entropyMicros += o.entropyMicros;
    r_.totals.lzMicros += o.lzMicros;
    r_.totals.blocks += 1;
    r_.totals.storedBlocks += o.stored ? 1 : 0;
    if (onBlock_) onBlock_(CompressEvent{index_, r_.bytesIn, inputSize_, c.length, o});
    ++index_;
    return Status::Ok;
}

std::string CompressRun::Problem(std::size_t failedJob) const {
    if (unverified_ == failedJob) {
        return "verification failed: block " + std::to_string(failedJob) + " of " + Quoted(output_) +
               " does not restore " + Quoted(input_);
    }
    const std::string message = problems_.For(failedJob);
    return message.empty() ? "cannot compress block " + std::to_string(failedJob) : message;
}

Status CompressRun::Run() {
    if (!in_.Size(inputSize_)) inputSize_ = 0;
    const std::size_t threads = UsableThreads(options_);
    OrderedPipeline pipeline(threads, SlotsFor(threads));
    if (Status s = memory_.Prepare(pipeline, true); s != Status::Ok) {
        problems_.write = "not enough memory for the compressor";
        return s;
    }
    slots_.resize(pipeline.slots());
    std::size_t failedJob = 0;
    const Status s = pipeline.Run([&](std::size_t slot, bool& more) { return Produce(slot, more); },
                                  [&](std::size_t slot, std::size_t worker) { return Work(slot, worker); },
                                  [&](std::size_t slot) { return Consume(slot); }, failedJob);
    if (s != Status::Ok) {
        r_.message = Problem(failedJob);
        return s;
    }
    if (checked_) {
        std::uint8_t record[EndRecordLength];
        WriteEndRecord(record, tally_);
        if ((index_ == 0 && !WriteHead()) || !Write(record, sizeof record)) {
            r_.message = problems_.write;
            return Status::WriteFailed;
        }
    }
    return Status::Ok;
}

}  // namespace

FileRunResult CompressFile(Level level, const std::string& input, const std::string& output, const RunOptions& options,
                           const CompressObserver& onBlock) {
    FileRunResult r;
    platform::InputFile in;
    platform::OutputFile out;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, OpenProblem(input, why));
    if (!OpenOutput(out, output, why)) return Fail(r, Status::WriteFailed, OpenProblem(input, output + ": " + why));
    out.FailWritesAfter(options.failWritesAfter);
    out.KeepStamp(in.Stamp());
    CompressRun run(level, input, output, options, onBlock, in, out, r);
    if (Status s = run.Run(); s != Status::Ok) return Fail(r, s, r.message);
    if (!out.Commit(why)) return Fail(r, Status::WriteFailed, "cannot write " + Quoted(output) + ": " + why);
    return r;
}

FileRunResult DecompressFile(LevelRequest level, const std::string& input, const std::string& output,
                             const RunOptions& options, const DecompressObserver& onBlock) {
    platform::OutputFile out;
    std::string why;
    if (!OpenOutput(out, output, why)) return Fail(FileRunResult{}, Status::WriteFailed, OpenProblem(input, output + ": " + why));
    out.FailWritesAfter(options.failWritesAfter);
    platform::FileStamp stamp;
    FileRunResult r = ReadContainer(
        level, input, options, onBlock,
        [&](const RestoredBlock& block, std::uint64_t, std::string& problem) {
            if (out.Write(block.data, block.length, why)) return Status::Ok;
            problem = "cannot write " + Quoted(output) + ": " + why;
            return Status::WriteFailed;
        },
        stamp);
    out.KeepStamp(stamp);
    if (r.status == Status::Ok && !out.Commit(why)) {
        return Fail(r, Status::WriteFailed, "cannot write " + Quoted(output) + ": " + why);
    }
    return r;
}

FileRunResult InspectFile(const std::string& input, ContainerFacts& facts) {
    facts = ContainerFacts{};
    FileRunResult r;
    platform::InputFile in;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, OpenProblem(input, why));
    JobBuffers buffer;  // input(): each item's bytes, with the decoders' read slack
    if (Status s = buffer.Prepare(); s != Status::Ok) return Fail(r, s, "not enough memory for the decoder");
    ContainerReader reader({LevelFromContainer, false, 0, {}}, {});
    ContainerFeed feed(in, false);
    for (;;) {
        ReadItem item;
        std::size_t held = 0;
        if (!feed.Next(reader, buffer.input(), item, held)) {
            return Fail(r, Status::ReadFailed, "cannot read " + Quoted(input) + ": " + feed.error());
        }
        if (item.kind == ItemKind::Block) {
            reader.Skip(item.block);
            facts.blocks += 1;
            facts.storedBlocks += item.block.stored ? 1 : 0;
            facts.restoredLength += item.block.claimed;
        }
        if (item.kind == ItemKind::Head || item.kind == ItemKind::Block || item.kind == ItemKind::EndRecord) {
            r.bytesIn += item.length;
            continue;
        }
        const Verdict v = reader.Close(item);
        if (v.what == Verdict::Fail) r = Fail(r, v.failure.status, Describe(v.failure, input));
        break;
    }
    r.restore = reader.facts();
    // Only the first compressed block is tried: when several levels restore it alike, the
    // level is not told.
    if (r.restore.levelDetected && r.restore.candidates != AllLevels && std::popcount(r.restore.candidates) > 1) {
        r.restore.level = LevelFromContainer;
    }
    facts.restore = r.restore;
    return r;
}

}  // namespace orsk
