// File drivers: chunks from the input through CompressChunk into the container, and
// blocks from the container through RestoreBlock into the output or a comparison.
#include "container/file_driver.h"

#include <cstring>
#include <memory>
#include <new>

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

FileRunResult Fail(FileRunResult r, Status s, std::string message) {
    r.status = s;
    r.message = std::move(message);
    return r;
}

std::string BlockProblem(Status s, std::uint64_t index, const std::string& container) {
    std::string what = s == Status::Truncated ? "is cut short" : s == Status::OutOfMemory ? "needs more memory than is free" : "is damaged";
    return "block " + std::to_string(index) + " of " + Quoted(container) + " " + what + " (" + StatusText(s) + ")";
}

// Reads the container's blocks one by one and hands each restored block to `sink`.
FileRunResult ReadContainer(Level level, const std::string& input, BlockWorkspace& ws,
                            const DecompressObserver& onBlock,
                            const std::function<Status(const RestoredBlock&, std::string&)>& sink) {
    FileRunResult r;
    platform::InputFile in;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, "Error opening one or more files. " + input + " ? (" + why + ")");
    if (Status s = ws.PrepareDecompress(); s != Status::Ok) return Fail(r, s, "not enough memory for the decoder");

    std::uint8_t* const buffer = ws.input();
    std::size_t got;
    if (!in.Read(buffer, 1, got)) return Fail(r, Status::ReadFailed, "cannot read " + Quoted(input));
    if (got == 0) return r;  // an empty container restores an empty file
    if (buffer[0] != ContainerMagic) {
        return Fail(r, Status::Corrupt, Quoted(input) + " is not an orsk container (bad magic byte)");
    }
    r.bytesIn = 1;
    for (std::uint64_t index = 0;; ++index) {
        if (!in.Read(buffer, 1, got)) return Fail(r, Status::ReadFailed, "cannot read " + Quoted(input));
        if (got == 0) break;
        const std::size_t headerLength = BlockHeaderLength(level, buffer[0]);
        if (headerLength == 0) {
            return Fail(r, Status::Corrupt, "block " + std::to_string(index) + " of " + Quoted(input) +
                                                " has an unknown kind byte " + std::to_string(buffer[0]));
        }
        if (!in.Read(buffer + 1, headerLength - 1, got)) return Fail(r, Status::ReadFailed, "cannot read " + Quoted(input));
        if (got != headerLength - 1) return Fail(r, Status::Truncated, BlockProblem(Status::Truncated, index, input));
        std::size_t total;
        if (Status s = BlockTotalLength(level, buffer, total); s != Status::Ok) {
            return Fail(r, s, BlockProblem(s, index, input));
        }
        if (!in.Read(buffer + headerLength, total - headerLength, got)) {
            return Fail(r, Status::ReadFailed, "cannot read " + Quoted(input));
        }
        if (got != total - headerLength) return Fail(r, Status::Truncated, BlockProblem(Status::Truncated, index, input));
        r.bytesIn += total;
        RestoredBlock block;
        if (Status s = RestoreBlock(level, ws, buffer, total, block); s != Status::Ok) {
            return Fail(r, s, BlockProblem(s, index, input));
        }
        std::string problem;
        if (Status s = sink(block, problem); s != Status::Ok) return Fail(r, s, problem);
        r.bytesOut += block.length;
        if (onBlock) onBlock(DecompressEvent{index, block});
    }
    return r;
}

}  // namespace

FileRunResult CompressFile(Level level, const std::string& input, const std::string& output, BlockWorkspace& ws,
                           const CompressObserver& onBlock) {
    FileRunResult r;
    platform::InputFile in;
    platform::OutputFile out;
    std::string why;
    if (!OpenInput(in, input, why)) return Fail(r, Status::ReadFailed, "Error opening one or more files. " + input + " ? (" + why + ")");
    if (!OpenOutput(out, output, why)) return Fail(r, Status::WriteFailed, "Error opening one or more files. " + input + " ? (" + output + ": " + why + ")");
    if (Status s = ws.PrepareCompress(); s != Status::Ok) return Fail(r, s, "not enough memory for the compressor");
    std::uint64_t inputSize = 0;
    if (!in.Size(inputSize)) inputSize = 0;

    std::uint64_t index = 0;
    for (;;) {
        std::size_t n;
        if (!in.Read(ws.chunk(), MaxChunkLength, n)) return Fail(r, Status::ReadFailed, "cannot read " + Quoted(input));
        if (n == 0) break;
        if (index == 0) {
            const std::uint8_t magic = ContainerMagic;
            if (!out.Write(&magic, 1, why)) return Fail(r, Status::WriteFailed, "cannot write " + Quoted(output) + ": " + why);
            r.bytesOut = 1;
        }
        CompressEvent event;
        if (Status s = CompressChunk(level, ws, n, event.outcome); s != Status::Ok) {
            return Fail(r, s, "cannot compress block " + std::to_string(index));
        }
        if (!out.Write(ws.block(), event.outcome.blockLength, why)) {
            return Fail(r, Status::WriteFailed, "cannot write " + Quoted(output) + ": " + why);
        }
        r.bytesIn += n;
        r.bytesOut += event.outcome.blockLength;
        r.totals.entropyMicros += event.outcome.entropyMicros;
        r.totals.lzMicros += event.outcome.lzMicros;
        r.totals.blocks += 1;
        r.totals.storedBlocks += event.outcome.stored ? 1 : 0;
        event.index = index++;
        event.done = r.bytesIn;
        event.inputSize = inputSize;
        event.chunkLength = n;
        if (onBlock) onBlock(event);
    }
    if (!out.Commit(why)) return Fail(r, Status::WriteFailed, "cannot write " + Quoted(output) + ": " + why);
    return r;
}

FileRunResult DecompressFile(Level level, const std::string& input, const std::string& output, BlockWorkspace& ws,
                             const DecompressObserver& onBlock) {
    platform::OutputFile out;
    std::string why;
    if (!OpenOutput(out, output, why)) {
        return Fail(FileRunResult{}, Status::WriteFailed, "Error opening one or more files. " + input + " ? (" + output + ": " + why + ")");
    }
    FileRunResult r = ReadContainer(level, input, ws, onBlock, [&](const RestoredBlock& block, std::string& problem) {
        if (out.Write(block.data, block.length, why)) return Status::Ok;
        problem = "cannot write " + Quoted(output) + ": " + why;
        return Status::WriteFailed;
    });
    if (r.status == Status::Ok && !out.Commit(why)) return Fail(r, Status::WriteFailed, "cannot write " + Quoted(output) + ": " + why);
    return r;
}

FileRunResult VerifyContainer(Level level, const std::string& container, const std::string& original,
                              BlockWorkspace& ws, const DecompressObserver& onBlock) {
    platform::InputFile in;
    std::string why;
    if (!in.Open(original, why)) return Fail(FileRunResult{}, Status::ReadFailed, "cannot open " + Quoted(original) + ": " + why);
    std::unique_ptr<std::uint8_t[]> expected(new (std::nothrow) std::uint8_t[OutputBlockBufferSize]);
    if (!expected) return Fail(FileRunResult{}, Status::OutOfMemory, "not enough memory to verify");
    std::uint64_t index = 0;
    FileRunResult r = ReadContainer(level, container, ws, onBlock, [&](const RestoredBlock& block, std::string& problem) {
        std::size_t got;
        const std::uint64_t current = index++;
        if (!in.Read(expected.get(), block.length, got)) {
            problem = "cannot read " + Quoted(original);
            return Status::ReadFailed;
        }
        if (got != block.length || std::memcmp(expected.get(), block.data, got) != 0) {
            problem = "verification failed: block " + std::to_string(current) + " of " + Quoted(container) +
                      " does not restore " + Quoted(original);
            return Status::Corrupt;
        }
        return Status::Ok;
    });
    if (r.status != Status::Ok) return r;
    std::size_t extra = 0;
    std::uint8_t probe;
    if (!in.Read(&probe, 1, extra) || extra != 0) {
        return Fail(r, Status::Corrupt, "verification failed: " + Quoted(container) + " restores less than " + Quoted(original));
    }
    return r;
}

}  // namespace orsk
