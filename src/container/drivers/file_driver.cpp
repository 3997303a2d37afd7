// File drivers: chunks from the input through CompressChunk into the container, and
// blocks from the container through RestoreBlock into the output or a comparison.
#include "container/drivers/file_driver.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "container/reader/level_probe.h"
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

std::string BlockProblem(Status s, std::uint64_t index, const std::string& container) {
    const char* what = s == Status::Truncated          ? "is cut short"
                       : s == Status::OutOfMemory      ? "needs more memory than is free"
                       : s == Status::ChecksumMismatch ? "is damaged: its check differs"
                                                       : "is damaged";
    return "block " + std::to_string(index) + " of " + Quoted(container) + " " + what + " (" + StatusText(s) + ")";
}

std::string EndRecordProblem(const std::string& container, const std::string& what) {
    return "the end record of " + Quoted(container) + " " + what;
}

// What ContainerReader::ReadNext found next in a container.
enum class Next { Block, EndRecord, EndOfFile };

constexpr std::uint64_t NoJob = ~std::uint64_t(0);

// The blocks of a container as they are read. When a plain container's level is to be
// told, its first compressed block is read together with what follows it, up to one
// block's worth (the window), so that the levels it restores at can be told before it
// is framed; the window's bytes are then handed out before the input's next ones.
// Stored blocks frame alike at every level, so those in front of it need none. With a
// level given, no window is read (it would cost a restore a copy of 1 MiB): a first
// compressed block that fails is probed afterwards from the bytes gathered behind it.
class ContainerReader {
public:
    ContainerReader(platform::InputFile& in, const ContainerHead& head, LevelRequest level)
        : in_(in), checked_(head.kind == ContainerKind::Checked), level_(level) {}

    // The level of the blocks: none while a plain container's is still to be told.
    LevelRequest level() const { return level_; }
    // The first compressed block's index (NoJob until met) and what its probe found.
    std::uint64_t firstCompressed() const { return firstCompressed_; }
    const LevelProbe& probe() const { return probe_; }
    const std::string& error() const { return in_.error(); }

    // Reads the next block into `buffer` (MaxBlockLength + StreamReadSlack bytes): its
    // fixed header, its body and, in a checked container, the check behind it; or a
    // checked container's end record, which must end the file, into `record`. On
    // failure `why` says what is wrong with the block (ReadFailed: nothing, see error()).
    Status ReadNext(std::uint8_t* buffer, std::size_t& total, std::uint64_t& check, std::uint8_t* record, Next& next,
                    std::string& why);
    // The levels at which the first compressed block restores, once ReadNext has met it.
    Status Probe();
    // The same after that block failed at the level given: `pieces` hold its bytes and
    // those read behind it, in order; up to one block's worth more comes from the input.
    Status ProbeGathered(const std::vector<std::pair<const std::uint8_t*, std::size_t>>& pieces);
    // The bytes the last ReadNext placed in its buffer, also of a block cut short.
    std::size_t held() const { return held_; }

private:
    bool Read(std::uint8_t* p, std::size_t n, std::size_t& got);
    Status TakeWindow(std::uint8_t kind, std::string& why);

    platform::InputFile& in_;
    const bool checked_;
    LevelRequest level_;
    std::uint64_t blocks_ = 0;
    std::uint64_t firstCompressed_ = NoJob;
    std::size_t held_ = 0;
    JobBuffers window_;  // input(): the window; restored(): where the probe restores
    std::size_t windowLength_ = 0, windowAt_ = 0;
    CodecScratch scratch_;
    LevelProbe probe_;
};

bool ContainerReader::Read(std::uint8_t* p, std::size_t n, std::size_t& got) {
    const std::size_t fromWindow = std::min(n, windowLength_ - windowAt_);
    if (fromWindow != 0) {
        std::memcpy(p, window_.input() + windowAt_, fromWindow);
        windowAt_ += fromWindow;
    }
    if (!in_.Read(p + fromWindow, n - fromWindow, got)) return false;
    got += fromWindow;
    return true;
}

Status ContainerReader::TakeWindow(std::uint8_t kind, std::string& why) {
    if (window_.Prepare() != Status::Ok) return why = "needs more memory than is free", Status::OutOfMemory;
    std::uint8_t* const bytes = window_.input();
    bytes[0] = kind;
    std::size_t got;
    if (!in_.Read(bytes + 1, MaxBlockLength - 1, got)) return Status::ReadFailed;
    windowLength_ = 1 + got;
    windowAt_ = 1;  // the kind byte is read
    return Status::Ok;
}

Status ContainerReader::Probe() {
    return ProbeLevels(scratch_, window_.restored(), window_.input(), windowLength_, probe_);
}

Status ContainerReader::ProbeGathered(const std::vector<std::pair<const std::uint8_t*, std::size_t>>& pieces) {
    if (window_.Prepare() != Status::Ok) return Status::OutOfMemory;
    std::uint8_t* const bytes = window_.input();
    std::size_t have = 0;
    for (const auto& [p, n] : pieces) {
        const std::size_t k = std::min(n, MaxBlockLength - have);
        std::memcpy(bytes + have, p, k);
        have += k;
    }
    std::size_t got = 0;
    if (have < MaxBlockLength && in_.Read(bytes + have, MaxBlockLength - have, got)) have += got;
    windowLength_ = windowAt_ = have;  // nothing of it is handed out again
    return Probe();
}

Status ContainerReader::ReadNext(std::uint8_t* buffer, std::size_t& total, std::uint64_t& check,
                                 std::uint8_t* record, Next& next, std::string& why) {
    std::size_t got;
    next = Next::Block;
    held_ = 0;
    if (!Read(buffer, 1, got)) return Status::ReadFailed;
    if (got == 0) {
        next = Next::EndOfFile;
        return Status::Ok;
    }
    held_ = 1;
    if (checked_ && buffer[0] == EndRecordKind) {
        next = Next::EndRecord;
        record[0] = buffer[0];
        std::uint8_t behind;
        if (!Read(record + 1, EndRecordLength - 1, got)) return Status::ReadFailed;
        if (got != EndRecordLength - 1) return why = "is cut short", Status::Truncated;
        if (!Read(&behind, 1, got)) return Status::ReadFailed;
        if (got != 0) return why = "is followed by more bytes", Status::Corrupt;
        return Status::Ok;
    }
    const std::size_t headerLength = BlockHeaderLength(buffer[0]);
    if (headerLength == 0) return why = "has an unknown kind byte " + std::to_string(buffer[0]), Status::Corrupt;
    const std::uint64_t index = blocks_++;
    if (!checked_ && buffer[0] == CompressedBlockKind && firstCompressed_ == NoJob) {
        firstCompressed_ = index;
        if (!level_) {
            if (Status s = TakeWindow(buffer[0], why); s != Status::Ok) return s;
            if (Probe() != Status::Ok) return why = "needs more memory than is free", Status::OutOfMemory;
            level_ = DetectedLevel(probe_);
            if (!level_ && probe_.levels == 0) {
                return why = "restores at no level, so the level cannot be told: it is damaged", Status::UnknownLevel;
            }
            if (!level_) {
                return why = "restores to different bytes at " + LevelAdvice(probe_.levels), Status::UnknownLevel;
            }
        }
    }
    if (!Read(buffer + 1, headerLength - 1, got)) return Status::ReadFailed;
    held_ += got;
    if (got != headerLength - 1) return why = "is cut short", Status::Truncated;
    // Stored blocks frame alike at every level.
    const Level level = level_.value_or(Level::Hyperfast);
    if (Status s = BlockTotalLength(level, buffer, total); s != Status::Ok) return why = "is damaged", s;
    if (!Read(buffer + headerLength, total - headerLength, got)) return Status::ReadFailed;
    held_ += got;
    if (got != total - headerLength) return why = "is cut short", Status::Truncated;
    if (!checked_) return Status::Ok;
    std::uint8_t sum[BlockCheckLength];
    if (!Read(sum, sizeof sum, got)) return Status::ReadFailed;
    if (got != sizeof sum) return why = "is cut short in its check", Status::Truncated;
    check = LoadLE64(sum);
    return Status::Ok;
}

// Reads a container's head from `in` and the level of its blocks, when the head tells
// it (none for a plain container whose level is to be told from its blocks); `r`
// receives the facts and, on failure, the message. False when the file is empty (an
// empty plain container, which restores at any level) or on failure.
bool ReadHead(platform::InputFile& in, const std::string& input, LevelRequest request, ContainerHead& head,
              FileRunResult& r) {
    std::uint8_t bytes[CheckedHeaderLength];
    std::size_t got;
    if (!in.Read(bytes, 1, got)) {
        r = Fail(r, Status::ReadFailed, "cannot read " + Quoted(input) + ": " + in.error());
        return false;
    }
    if (got == 0) {
        if (!request) r.restore.SetAnyLevel();
        return false;
    }
    std::size_t have = 1;
    if (bytes[0] == CheckedMagic) {
        if (!in.Read(bytes + 1, CheckedHeaderLength - 1, got)) {
            r = Fail(r, Status::ReadFailed, "cannot read " + Quoted(input) + ": " + in.error());
            return false;
        }
        have += got;
    }
    std::string why;
    if (Status s = ReadContainerHead(bytes, have, head, &why); s != Status::Ok) {
        r = Fail(r, s, Quoted(input) + " cannot be restored: " + why);
        return false;
    }
    r.restore.kind = head.kind;
    r.bytesIn = head.length;
    LevelRequest settled;
    if (LevelOfHead(head, request, settled) != Status::Ok) {
        r = Fail(r, Status::WrongLevel,
                 Quoted(input) + " is a checked container written at level " + std::to_string(int(head.level)) + " (" +
                     LevelName(head.level) + "), not at level " + std::to_string(int(*request)));
        return false;
    }
    r.restore.level = settled;
    return true;
}

// What a run learnt of the level from the reader: told by the first compressed block,
// or any level when the container has none.
void TakeLevel(const ContainerReader& reader, RestoreFacts& facts) {
    if (facts.level) return;  // recorded or given
    if (reader.firstCompressed() == NoJob) return facts.SetAnyLevel();
    facts.levelDetected = true;
    facts.candidates = reader.probe().levels;
    facts.level = reader.level();
}

// Job buffers for every slot and scratch for every worker of one run.
struct RunMemory {
    std::vector<JobBuffers> jobs;
    std::vector<CodecScratch> scratch;

    Status Prepare(const OrderedPipeline& p, bool compress) {
        jobs.resize(p.slots());
        scratch.resize(p.workers());
        for (auto& j : jobs) {
            if (Status s = j.Prepare(); s != Status::Ok) return s;
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

// The first failure of a run in block order, with its message: what the reader, the
// workers or the writer met, whichever job the pipeline reports.
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

using BlockSink = std::function<Status(const RestoredBlock&, std::uint64_t index, std::string& problem)>;

// Reads the container's blocks in order, restores them on the workers and hands each
// restored block to `sink` in order. A checked container's block checks are compared
// on the workers and its end record once every block has been handed over. `stamp`
// receives the container's.
FileRunResult ReadContainer(LevelRequest request, const std::string& input, const RunOptions& options,
                            const DecompressObserver& onBlock, const BlockSink& sink, platform::FileStamp& stamp) {
    FileRunResult r;
    platform::InputFile in;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, OpenProblem(input, why));
    stamp = in.Stamp();
    ContainerHead head;
    if (!ReadHead(in, input, request, head, r)) return r;
    ContainerReader reader(in, head, r.restore.level);
    const bool checked = head.kind == ContainerKind::Checked;
    const bool salvage = options.salvage;

    const std::size_t threads = UsableThreads(options);
    OrderedPipeline pipeline(threads, SlotsFor(threads));
    RunMemory memory;
    if (Status s = memory.Prepare(pipeline, false); s != Status::Ok) return Fail(r, s, "not enough memory for the decoder");
    // Per slot: the job it holds, the block's length and level (stored blocks in front of
    // a plain container's first compressed one take any), and the check read behind it.
    std::vector<std::uint64_t> jobOf(pipeline.slots(), NoJob);
    std::vector<std::size_t> totals(pipeline.slots());
    std::vector<std::size_t> held(pipeline.slots());  // bytes of the container in its buffer
    std::vector<Level> levels(pipeline.slots());
    std::vector<std::uint64_t> checks(pipeline.slots());
    std::vector<RestoredBlock> restored(pipeline.slots());
    // Salvage, per slot: why its block did not restore (Ok: it did), and whether it is a
    // plain container's first compressed block, which may tell another level instead.
    std::vector<Status> damageOf(pipeline.slots());
    std::vector<char> firstOfPlain(pipeline.slots());
    std::uint64_t restoredBlocks = 0;
    Status firstDamage = Status::Ok;
    std::string firstProblem;
    bool firstInWorker = false;
    std::uint64_t nextIndex = 0, consumedIndex = 0;
    RunProblems problems;
    std::uint8_t endRecord[EndRecordLength];
    bool sawEndRecord = false;
    ContentTally tally;

    auto produce = [&](std::size_t slot, bool& more) -> Status {
        const std::uint64_t index = nextIndex;
        jobOf[slot] = index;
        auto fail = [&](Status s, std::string message) {
            problems.read = std::move(message);
            problems.readJob = index;
            return s;
        };
        std::size_t total = 0;
        Next next;
        const Status s = reader.ReadNext(memory.jobs[slot].input(), total, checks[slot], endRecord, next, why);
        totals[slot] = total;  // also of a block cut short behind a header that frames it; else 0
        held[slot] = reader.held();
        levels[slot] = reader.level().value_or(Level::Hyperfast);
        damageOf[slot] = Status::Ok;
        firstOfPlain[slot] = !checked && reader.firstCompressed() == index;
        if (s == Status::ReadFailed) return fail(s, "cannot read " + Quoted(input) + ": " + reader.error());
        if (s != Status::Ok) {
            r.restore.atEndRecord = next == Next::EndRecord;
            return fail(s, next == Next::EndRecord ? EndRecordProblem(input, why)
                                                   : "block " + std::to_string(index) + " of " + Quoted(input) + " " + why);
        }
        if (next == Next::Block) {
            r.bytesIn += total + (checked ? BlockCheckLength : 0);
            ++nextIndex;
            return Status::Ok;
        }
        if (next == Next::EndOfFile && checked) {
            r.restore.atEndRecord = true;
            const std::string last = index == 0 ? "its header" : "block " + std::to_string(index - 1);
            return fail(Status::Truncated, Quoted(input) + " is cut short: it ends after " + last + " without its end record");
        }
        sawEndRecord = next == Next::EndRecord;
        r.bytesIn += sawEndRecord ? EndRecordLength : 0;
        more = false;
        return Status::Ok;
    };
    auto work = [&](std::size_t slot, std::size_t worker) {
        JobBuffers& job = memory.jobs[slot];
        RestoredBlock& block = restored[slot];
        const Level level = levels[slot];
        Status s = RestoreBlock(level, memory.scratch[worker], job.restored(), job.input(), totals[slot], block);
        if (s == Status::Ok && checked &&
            BlockCheck(job.input(), totals[slot], ChunkChecksum(block.data, block.length)) != checks[slot]) {
            s = Status::ChecksumMismatch;
        }
        if (s == Status::Ok || !salvage || s == Status::OutOfMemory) return s;
        // Salvage: zeros stand in for the chunk, unless the block restores at another
        // level, which tells a container written there rather than damage.
        LevelProbe probe;
        if (firstOfPlain[slot] &&
            ProbeLevels(memory.scratch[worker], job.restored(), job.input(), totals[slot], probe) == Status::Ok &&
            probe.levels != 0) {
            return s;
        }
        const std::uint32_t claimed = ClaimedChunkLength(level, job.input());
        std::memset(job.restored(), 0, claimed);
        block = {job.restored(), claimed, job.input()[0] == StoredBlockKind, std::uint32_t(totals[slot])};
        damageOf[slot] = s;
        return Status::Ok;
    };
    // Salvage: lists the block consumedIndex as damaged, `length` zeros standing in for it.
    auto record = [&](DamageKind kind, std::uint64_t length, Status s, const std::string& problem, bool inWorker) {
        r.damaged.push_back({consumedIndex, r.bytesOut, length, kind});
        if (firstDamage == Status::Ok) {
            firstDamage = s;
            firstProblem = problem;
            firstInWorker = inWorker;
        }
    };
    auto consume = [&](std::size_t slot) -> Status {
        if (Status s = sink(restored[slot], consumedIndex, problems.write); s != Status::Ok) return s;
        const Status damage = damageOf[slot];
        if (damage == Status::Ok) {
            ++restoredBlocks;
        } else {
            record(damage == Status::ChecksumMismatch ? DamageKind::ChecksumMismatch : DamageKind::Damaged,
                   restored[slot].length, damage, BlockProblem(damage, consumedIndex, input), true);
        }
        r.bytesOut += restored[slot].length;
        if (checked) tally.Add(checks[slot], restored[slot].length);
        if (onBlock) onBlock(DecompressEvent{consumedIndex, restored[slot]});
        ++consumedIndex;
        return Status::Ok;
    };
    std::size_t failedJob = 0;
    const Status s = pipeline.Run(produce, work, consume, failedJob);
    TakeLevel(reader, r.restore);
    const auto slotOf = [&](std::uint64_t job) {
        for (std::size_t k = 0; k < jobOf.size(); ++k) {
            if (jobOf[k] == job) return k;
        }
        return jobOf.size();
    };
    Status failure = s;
    std::string message;
    // A container written at another level, or one whose level cannot be told, is not
    // damage to salvage.
    bool otherLevel = s == Status::UnknownLevel;
    if (s == Status::Ok) {
        r.restore.blocks = consumedIndex;
        // After damaged blocks the content checksum tells nothing more: only the counts
        // are compared.
        if (sawEndRecord) failure = CheckEndRecord(endRecord, tally, !r.damaged.empty(), &why);
        if (failure != Status::Ok) {
            r.restore.atEndRecord = true;
            message = EndRecordProblem(input, "does not match the blocks: " + why);
        }
    } else {
        r.restore.blocks = failedJob;
        message = problems.For(failedJob);
        // A block that fails inside a worker carries no message of its own.
        if (message.empty()) r.blockFailed = true;
    }
    // The first compressed block is where a container written at another level shows. Its
    // bytes and those read behind it lie in the slots of its job and the later ones.
    const auto probeFailed = [&] {
        std::vector<std::pair<const std::uint8_t*, std::size_t>> pieces;
        for (std::size_t slot; (slot = slotOf(failedJob + pieces.size())) != jobOf.size();) {
            pieces.emplace_back(memory.jobs[slot].input(), held[slot]);
        }
        return reader.ProbeGathered(pieces) == Status::Ok && reader.probe().levels != 0;
    };
    if (request && s != Status::Ok && !checked && problems.write.empty() && failedJob == reader.firstCompressed() &&
        (s == Status::Corrupt || s == Status::Truncated) && probeFailed()) {
        otherLevel = true;
        message = "block " + std::to_string(failedJob) + " of " + Quoted(input) + " does not restore at level " +
                  std::to_string(int(*request)) + "; it restores at " + LevelAdvice(reader.probe().levels);
    }
    if (failure == Status::Ok) return r;
    if (message.empty()) message = BlockProblem(s, failedJob, input);
    // Salvage: damage of the container that ended the run (not a failure to read or
    // write, nor another level) is its last damaged range. Every block before it was
    // consumed, so the range starts at the end of the output.
    const bool ownDamage =
        s == Status::Ok || (problems.write.empty() && !problems.read.empty() && problems.readJob == failedJob);
    if (!salvage || otherLevel || !ownDamage || failure == Status::ReadFailed) return Fail(r, failure, message);
    std::uint64_t length = 0;
    const std::size_t slot = slotOf(failedJob);
    if (s == Status::Truncated && !r.restore.atEndRecord && slot < jobOf.size() && totals[slot] != 0) {
        // A block cut short behind a header that frames it: zeros of its chunk length.
        JobBuffers& job = memory.jobs[slot];
        length = ClaimedChunkLength(levels[slot], job.input());
        std::memset(job.restored(), 0, length);
        const RestoredBlock zeros{job.restored(), std::size_t(length), false, std::uint32_t(totals[slot])};
        if (Status w = sink(zeros, consumedIndex, problems.write); w != Status::Ok) return Fail(r, w, problems.write);
    }
    record(failure == Status::Truncated ? DamageKind::CutShort
           : r.restore.atEndRecord      ? DamageKind::EndRecord
                                        : DamageKind::Damaged,
           length, failure, message, false);
    r.bytesOut += length;
    if (restoredBlocks == 0) {  // nothing restored: the run fails as it would without salvage
        r.damaged.clear();
        r.blockFailed = firstInWorker;
        return Fail(r, firstDamage, firstProblem);
    }
    r.message = message;
    return r;
}

}  // namespace

std::size_t DefaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

FileRunResult CompressFile(Level level, const std::string& input, const std::string& output, const RunOptions& options,
                           const CompressObserver& onBlock) {
    FileRunResult r;
    platform::InputFile in;
    platform::OutputFile out;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, OpenProblem(input, why));
    if (!OpenOutput(out, output, why)) return Fail(r, Status::WriteFailed, OpenProblem(input, output + ": " + why));
    out.FailWritesAfter(options.failWritesAfter);
    std::uint64_t inputSize = 0;
    if (!in.Size(inputSize)) inputSize = 0;
    out.KeepStamp(in.Stamp());

    const std::size_t threads = UsableThreads(options);
    OrderedPipeline pipeline(threads, SlotsFor(threads));
    RunMemory memory;
    if (Status s = memory.Prepare(pipeline, true); s != Status::Ok) return Fail(r, s, "not enough memory for the compressor");
    std::vector<std::size_t> lengths(pipeline.slots());
    std::vector<ChunkOutcome> outcomes(pipeline.slots());
    std::vector<std::uint64_t> checksums(pipeline.slots());
    std::uint64_t index = 0, produced = 0;
    RunProblems problems;
    const bool checked = options.container == ContainerKind::Checked;
    ContentTally tally;
    auto write = [&](const std::uint8_t* p, std::size_t n) {
        if (out.Write(p, n, why)) {
            r.bytesOut += n;
            return true;
        }
        problems.write = "cannot write " + Quoted(output) + ": " + why;
        return false;
    };
    // The magic byte or the checked header; an empty input gives an empty plain container.
    auto writeHead = [&]() {
        std::uint8_t head[CheckedHeaderLength] = {ContainerMagic};
        if (checked) WriteCheckedHeader(head, level);
        return write(head, checked ? CheckedHeaderLength : 1);
    };

    auto produce = [&](std::size_t slot, bool& more) -> Status {
        std::size_t n;
        if (!in.Read(memory.jobs[slot].chunk(), MaxChunkLength, n)) {
            problems.read = "cannot read " + Quoted(input) + ": " + in.error();
            problems.readJob = produced;
            return Status::ReadFailed;
        }
        lengths[slot] = n;
        more = n != 0;
        ++produced;
        return Status::Ok;
    };
    auto work = [&](std::size_t slot, std::size_t worker) {
        JobBuffers& job = memory.jobs[slot];
        // The chunk's checksum before NORMAL's filter changes it, and the block's check.
        const std::uint64_t checksum = checked ? ChunkChecksum(job.chunk(), lengths[slot]) : 0;
        const Status s = CompressChunk(level, job, memory.scratch[worker], lengths[slot], outcomes[slot]);
        if (checked && s == Status::Ok) checksums[slot] = BlockCheck(job.block(), outcomes[slot].blockLength, checksum);
        return s;
    };
    auto consume = [&](std::size_t slot) -> Status {
        const ChunkOutcome& o = outcomes[slot];
        if (index == 0 && !writeHead()) return Status::WriteFailed;
        if (!write(memory.jobs[slot].block(), o.blockLength)) return Status::WriteFailed;
        if (checked) {
            std::uint8_t sum[BlockCheckLength];
            StoreLE64(sum, checksums[slot]);
            if (!write(sum, sizeof sum)) return Status::WriteFailed;
            tally.Add(checksums[slot], lengths[slot]);
        }
        r.bytesIn += lengths[slot];
        r.totals.entropyMicros += o.entropyMicros;
        r.totals.lzMicros += o.lzMicros;
        r.totals.blocks += 1;
        r.totals.storedBlocks += o.stored ? 1 : 0;
        if (onBlock) onBlock(CompressEvent{index, r.bytesIn, inputSize, lengths[slot], o});
        ++index;
        return Status::Ok;
    };
    std::size_t failedJob = 0;
    if (Status s = pipeline.Run(produce, work, consume, failedJob); s != Status::Ok) {
        const std::string message = problems.For(failedJob);
        return Fail(r, s, message.empty() ? "cannot compress block " + std::to_string(failedJob) : message);
    }
    if (checked) {
        std::uint8_t record[EndRecordLength];
        WriteEndRecord(record, tally);
        if ((index == 0 && !writeHead()) || !write(record, sizeof record)) {
            return Fail(r, Status::WriteFailed, problems.write);
        }
    }
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

FileRunResult VerifyContainer(LevelRequest level, const std::string& container, const std::string& original,
                              const RunOptions& options, const DecompressObserver& onBlock) {
    platform::InputFile in;
    std::string why;
    if (!in.Open(original, why)) return Fail(FileRunResult{}, Status::ReadFailed, "cannot open " + Quoted(original) + ": " + why);
    std::unique_ptr<std::uint8_t[]> expected(new (std::nothrow) std::uint8_t[OutputBlockBufferSize]);
    if (!expected) return Fail(FileRunResult{}, Status::OutOfMemory, "not enough memory to verify");
    platform::FileStamp stamp;  // nothing is written
    FileRunResult r = ReadContainer(level, container, options, onBlock,
                                    [&](const RestoredBlock& block, std::uint64_t index, std::string& problem) {
                                        std::size_t got;
                                        if (!in.Read(expected.get(), block.length, got)) {
                                            problem = "cannot read " + Quoted(original) + ": " + in.error();
                                            return Status::ReadFailed;
                                        }
                                        if (got != block.length || std::memcmp(expected.get(), block.data, got) != 0) {
                                            problem = "verification failed: block " + std::to_string(index) + " of " +
                                                      Quoted(container) + " does not restore " + Quoted(original);
                                            return Status::Corrupt;
                                        }
                                        return Status::Ok;
                                    },
                                    stamp);
    if (r.status != Status::Ok) return r;
    std::size_t extra = 0;
    std::uint8_t probe;
    if (!in.Read(&probe, 1, extra) || extra != 0) {
        return Fail(r, Status::Corrupt, "verification failed: " + Quoted(container) + " restores less than " + Quoted(original));
    }
    return r;
}

FileRunResult InspectFile(const std::string& input, ContainerFacts& facts) {
    facts = ContainerFacts{};
    FileRunResult r;
    platform::InputFile in;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, OpenProblem(input, why));
    ContainerHead head;
    if (!ReadHead(in, input, LevelFromContainer, head, r)) {
        facts.restore = r.restore;  // an empty file is an empty plain container
        return r;
    }
    ContainerReader reader(in, head, r.restore.level);
    const bool checked = head.kind == ContainerKind::Checked;
    std::vector<std::uint8_t> buffer(MaxBlockLength + StreamReadSlack);
    std::uint8_t endRecord[EndRecordLength];
    ContentTally tally;
    for (;;) {
        std::size_t total = 0;
        std::uint64_t check = 0;
        Next next;
        const Status s = reader.ReadNext(buffer.data(), total, check, endRecord, next, why);
        if (s == Status::ReadFailed) return Fail(r, s, "cannot read " + Quoted(input) + ": " + reader.error());
        if (s != Status::Ok) {
            r.restore.atEndRecord = next == Next::EndRecord;
            r = Fail(r, s, next == Next::EndRecord ? EndRecordProblem(input, why)
                                                   : "block " + std::to_string(tally.blocks) + " of " + Quoted(input) +
                                                         " " + why);
            break;
        }
        if (next == Next::EndOfFile) {
            if (checked) {
                r.restore.atEndRecord = true;
                r = Fail(r, Status::Truncated, Quoted(input) + " is cut short: it has no end record");
            }
            break;
        }
        if (next == Next::EndRecord) {
            r.bytesIn += EndRecordLength;
            if (CheckEndRecord(endRecord, tally, true, &why) != Status::Ok) {
                r.restore.atEndRecord = true;
                r = Fail(r, Status::Corrupt, EndRecordProblem(input, "does not match the blocks: " + why));
            }
            break;
        }
        const bool stored = buffer[0] == StoredBlockKind;
        facts.storedBlocks += stored ? 1 : 0;
        tally.blocks += 1;
        tally.length += stored ? total - StoredHeaderLength
                               : ReadBlockHeader(buffer.data(), LevelOf(*reader.level()).headerOrder).chunkLength;
        r.bytesIn += total + (checked ? BlockCheckLength : 0);
    }
    TakeLevel(reader, r.restore);
    r.restore.blocks = tally.blocks;
    facts.restore = r.restore;
    facts.blocks = tally.blocks;
    facts.restoredLength = tally.length;
    return r;
}

}  // namespace orsk
