// File drivers: chunks from the input through CompressChunk into the container, and
// blocks from the container through RestoreBlock into the output or a comparison.
#include "container/drivers/file_driver.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "container/drivers/level_probe.h"
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
    const char* what = s == Status::Truncated     ? "is cut short"
                       : s == Status::OutOfMemory ? "needs more memory than is free"
                                                  : "is damaged";
    return "block " + std::to_string(index) + " of " + Quoted(container) + " " + what + " (" + StatusText(s) + ")";
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

constexpr std::uint64_t NoJob = ~std::uint64_t(0);

// Reads the container's blocks in order, restores them on the workers and hands each
// restored block to `sink` in order. `stamp` receives the container's.
FileRunResult ReadContainer(Level level, const std::string& input, const RunOptions& options,
                            const DecompressObserver& onBlock, const BlockSink& sink, platform::FileStamp& stamp) {
    FileRunResult r;
    platform::InputFile in;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, OpenProblem(input, why));
    stamp = in.Stamp();

    std::uint8_t magic;
    std::size_t got;
    if (!in.Read(&magic, 1, got)) return Fail(r, Status::ReadFailed, "cannot read " + Quoted(input) + ": " + in.error());
    if (got == 0) return r;  // an empty container restores an empty file
    if (magic != ContainerMagic) {
        return Fail(r, Status::Corrupt, Quoted(input) + " is not an orsk container (bad magic byte)");
    }
    r.bytesIn = 1;

    const std::size_t threads = UsableThreads(options);
    OrderedPipeline pipeline(threads, SlotsFor(threads));
    RunMemory memory;
    if (Status s = memory.Prepare(pipeline, false); s != Status::Ok) return Fail(r, s, "not enough memory for the decoder");
    std::vector<std::size_t> totals(pipeline.slots());
    std::vector<RestoredBlock> restored(pipeline.slots());
    // Per slot: the job it holds and how many of the container's bytes it holds (also of
    // a block cut short), so that the bytes behind a block can be gathered again.
    std::vector<std::uint64_t> jobOf(pipeline.slots(), NoJob);
    std::vector<std::size_t> held(pipeline.slots());
    std::uint64_t nextIndex = 0, consumedIndex = 0, firstCompressed = NoJob;
    RunProblems problems;

    auto produce = [&](std::size_t slot, bool& more) -> Status {
        std::uint8_t* const buffer = memory.jobs[slot].input();
        const std::uint64_t index = nextIndex;
        jobOf[slot] = index;
        held[slot] = 0;
        auto fail = [&](Status s, std::string message) {
            problems.read = std::move(message);
            problems.readJob = index;
            return s;
        };
        if (!in.Read(buffer, 1, got)) return fail(Status::ReadFailed, "cannot read " + Quoted(input) + ": " + in.error());
        if (got == 0) {
            more = false;
            return Status::Ok;
        }
        held[slot] = 1;
        if (buffer[0] == CompressedBlockKind && firstCompressed == NoJob) firstCompressed = index;
        const std::size_t headerLength = BlockHeaderLength(buffer[0]);
        if (headerLength == 0) {
            return fail(Status::Corrupt, "block " + std::to_string(index) + " of " + Quoted(input) +
                                             " has an unknown kind byte " + std::to_string(buffer[0]));
        }
        std::size_t total = 0;
        Status s = Status::Ok;
        if (!in.Read(buffer + 1, headerLength - 1, got)) {
            s = Status::ReadFailed;
        } else if (held[slot] += got; got != headerLength - 1) {
            s = Status::Truncated;
        } else if (s = BlockTotalLength(level, buffer, total); s == Status::Ok) {
            if (!in.Read(buffer + headerLength, total - headerLength, got)) {
                s = Status::ReadFailed;
            } else if (held[slot] += got; got != total - headerLength) {
                s = Status::Truncated;
            }
        }
        if (s != Status::Ok) {
            return fail(s, s == Status::ReadFailed ? "cannot read " + Quoted(input) + ": " + in.error()
                                                   : BlockProblem(s, index, input));
        }
        totals[slot] = total;
        r.bytesIn += total;
        ++nextIndex;
        return Status::Ok;
    };
    auto work = [&](std::size_t slot, std::size_t worker) {
        return RestoreBlock(level, memory.scratch[worker], memory.jobs[slot].restored(), memory.jobs[slot].input(),
                            totals[slot], restored[slot]);
    };
    auto consume = [&](std::size_t slot) -> Status {
        if (Status s = sink(restored[slot], consumedIndex, problems.write); s != Status::Ok) return s;
        r.bytesOut += restored[slot].length;
        if (onBlock) onBlock(DecompressEvent{consumedIndex, restored[slot]});
        ++consumedIndex;
        return Status::Ok;
    };
    std::size_t failedJob = 0;
    const Status s = pipeline.Run(produce, work, consume, failedJob);
    if (s == Status::Ok) return r;
    std::string message = problems.For(failedJob);
    // A block that fails inside a worker carries no message of its own.
    if (message.empty()) r.blockFailed = true;
    if (problems.write.empty() && failedJob == firstCompressed && (s == Status::Corrupt || s == Status::Truncated)) {
        // The first compressed block is where a container written at another level
        // shows. Its bytes and those behind it are in the slots of this job and the
        // later ones, then still in the input: gather up to one block's worth.
        const auto slotOf = [&](std::uint64_t job) {
            for (std::size_t k = 0; k < jobOf.size(); ++k) {
                if (jobOf[k] == job) return k;
            }
            return jobOf.size();
        };
        const std::size_t first = slotOf(firstCompressed);
        std::uint8_t* const bytes = memory.jobs[first].input();
        std::size_t have = held[first];
        for (std::uint64_t job = firstCompressed + 1;; ++job) {
            const std::size_t slot = slotOf(job);
            if (slot == jobOf.size()) break;
            const std::size_t n = std::min(held[slot], MaxBlockLength - have);
            std::memcpy(bytes + have, memory.jobs[slot].input(), n);
            have += n;
        }
        if (have < MaxBlockLength && in.Read(bytes + have, MaxBlockLength - have, got)) have += got;
        const unsigned levels = LevelsThatRestore(level, memory.scratch[0], memory.jobs[first].restored(), bytes, have);
        if (levels != 0) {
            message = "block " + std::to_string(failedJob) + " of " + Quoted(input) + " does not restore at level " +
                      std::to_string(int(level)) + "; it restores at " + LevelAdvice(levels);
        }
    }
    return Fail(r, s, message.empty() ? BlockProblem(s, failedJob, input) : message);
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
    std::uint64_t index = 0, produced = 0;
    RunProblems problems;

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
        return CompressChunk(level, memory.jobs[slot], memory.scratch[worker], lengths[slot], outcomes[slot]);
    };
    auto consume = [&](std::size_t slot) -> Status {
        const ChunkOutcome& o = outcomes[slot];
        if (index == 0) {
            const std::uint8_t magic = ContainerMagic;
            if (!out.Write(&magic, 1, why)) {
                problems.write = "cannot write " + Quoted(output) + ": " + why;
                return Status::WriteFailed;
            }
            r.bytesOut = 1;
        }
        if (!out.Write(memory.jobs[slot].block(), o.blockLength, why)) {
            problems.write = "cannot write " + Quoted(output) + ": " + why;
            return Status::WriteFailed;
        }
        r.bytesIn += lengths[slot];
        r.bytesOut += o.blockLength;
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
    if (!out.Commit(why)) return Fail(r, Status::WriteFailed, "cannot write " + Quoted(output) + ": " + why);
    return r;
}

FileRunResult DecompressFile(Level level, const std::string& input, const std::string& output,
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

FileRunResult VerifyContainer(Level level, const std::string& container, const std::string& original,
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

}  // namespace orsk
