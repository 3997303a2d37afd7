// One matrix for the container reader: the same valid and damaged containers restored,
// salvaged and inspected through every driver (memory, C calls, streams, files), which
// must agree on the status, the bytes, the damage listed and what the container is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "container/blocks/block_header.h"
#include "container/drivers/memory.h"
#include "container/drivers/public_api.h"
#include "container/format/checked.h"
#include "container/format/levels.h"
#include "container/reader/level_probe.h"
#include "files/file_driver.h"
#include "orsk/orsk.h"
#include "test_util.h"

namespace orsk::test {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t MiB = MaxChunkLength;

// The C interface's status for an internal one, as the C calls give it.
orsk_status Public(Status s) { return api::ToPublic(s); }
int PublicLevel(LevelRequest r) { return r ? int(*r) : ORSK_LEVEL_FROM_CONTAINER; }
std::string RequestName(LevelRequest r) { return r ? "level " + std::to_string(int(*r)) : "the container's level"; }

// A damaged range as "block@offset+length:why ".
std::string Listed(std::uint64_t block, std::uint64_t offset, std::uint64_t length, int why) {
    return std::to_string(block) + "@" + std::to_string(offset) + "+" + std::to_string(length) + ":" +
           std::to_string(why) + " ";
}
std::string Listed(const DamagedRange& d) {
    constexpr int number[] = {ORSK_DAMAGE_CHECKSUM, ORSK_DAMAGE_CORRUPT, ORSK_DAMAGE_CUT_SHORT, ORSK_DAMAGE_END_RECORD};
    return Listed(d.block, d.offset, d.length, number[int(d.why)]);
}

// What one path made of a container.
struct Outcome {
    orsk_status status = ORSK_OK;  // a salvage with damage: ORSK_DAMAGED
    std::optional<Status> internal;  // the paths that report one
    Bytes bytes;                     // on failure: what was written before it
    std::string ranges;              // salvage
    std::optional<RestoreFacts> facts;
};

// What one path says a container is.
struct Seen {
    orsk_status status = ORSK_OK;
    int checked = 0, level = -1, detected = 0;
    unsigned mask = 0;
    std::uint64_t blocks = 0, stored = 0, size = 0;
    bool operator==(const Seen&) const = default;
};
Seen SeenOf(Status s, const ContainerFacts& f) {
    const RestoreFacts& r = f.restore;
    return {Public(s), r.kind == ContainerKind::Checked, r.level ? int(*r.level) : -1, r.levelDetected,
            r.levelDetected ? r.candidates : r.level ? LevelBit(*r.level) : 0u, f.blocks, f.storedBlocks,
            f.restoredLength};
}
std::string Describe(const Seen& s) {
    return "status " + std::to_string(s.status) + " checked " + std::to_string(s.checked) + " level " +
           std::to_string(s.level) + (s.detected ? " told" : "") + " mask " + std::to_string(s.mask) + " blocks " +
           std::to_string(s.blocks) + " stored " + std::to_string(s.stored) + " size " + std::to_string(s.size);
}

enum class Pieces { Single, Random, Whole };
const char* PiecesName(Pieces p) { return p == Pieces::Single ? "1-byte" : p == Pieces::Random ? "random" : "whole"; }

// Every way in: the container in an allocation of exactly its size (so ASan sees reads
// past it) and in a file.
class Paths {
public:
    Paths() : file_(TempPath("c.orsk")), out_((fs::path(file_).parent_path() / "out").string()) {}
    ~Paths() { fs::remove_all(fs::path(file_).parent_path()); }

    void Use(const Bytes& c) {
        n_ = c.size();
        in_.reset(new std::uint8_t[n_]);
        if (n_ != 0) std::memcpy(in_.get(), c.data(), n_);
        WriteFileBytes(file_, c);
    }
    const std::string& file() const { return file_; }

    // DecompressBuffer, into a vector that grows as the headers claim.
    Outcome Buffer(LevelRequest level, bool salvage) {
        Outcome o;
        RestoreFacts facts;
        const DamageObserver note = [&](const DamagedRange& d) { o.ranges += Listed(d); };
        const Status s = DecompressBuffer(level, in_.get(), n_, o.bytes, ws_, &facts, salvage ? &note : nullptr);
        return Finish(o, s, facts, salvage);
    }
    // DecompressInto an allocation of exactly `capacity` bytes.
    Outcome Into(LevelRequest level, bool salvage, std::size_t capacity) {
        Outcome o;
        RestoreFacts facts;
        const DamageObserver note = [&](const DamagedRange& d) { o.ranges += Listed(d); };
        std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[capacity]);
        ByteSink sink{out.get(), out.get(), out.get() + capacity};
        const Status s = DecompressInto(level, in_.get(), n_, sink, ws_, &facts, salvage ? &note : nullptr);
        o.bytes.assign(out.get(), sink.at);
        return Finish(o, s, facts, salvage);
    }
    // orsk_decompress or orsk_salvage, with room to spare; nothing is reported on failure.
    Outcome CCall(LevelRequest level, bool salvage, std::size_t capacity) {
        Outcome o;
        Bytes& out = Spare(capacity + MiB);
        size_t n = 99, count = 99;
        std::vector<orsk_damaged_range> list(16);
        o.status = salvage ? orsk_salvage(PublicLevel(level), in_.get(), n_, out.data(), out.size(), &n, list.data(),
                                          list.size(), &count)
                           : orsk_decompress(PublicLevel(level), in_.get(), n_, out.data(), out.size(), &n);
        const bool ok = o.status == ORSK_OK || o.status == ORSK_DAMAGED;
        EXPECT_TRUE(ok || (n == 0 && (!salvage || count == 0))) << "a failed C call reports output";
        o.bytes.assign(out.begin(), out.begin() + std::ptrdiff_t(std::min<std::size_t>(n, out.size())));
        if (salvage) {
            EXPECT_LE(count, list.size());
            for (std::size_t i = 0; i < std::min<std::size_t>(count, list.size()); ++i) {
                o.ranges += Listed(list[i].block, list[i].offset, list[i].length, list[i].why);
            }
        }
        return o;
    }
    // The stream calls: input in pieces of 1 byte, of random sizes (a fixed seed) or whole,
    // drained into output buffers sized alike.
    Outcome Streamed(LevelRequest level, Pieces pieces) {
        Outcome o;
        orsk_decompress_stream* raw = nullptr;
        EXPECT_EQ(orsk_decompress_stream_create(PublicLevel(level), 0, &raw), ORSK_OK);
        std::unique_ptr<orsk_decompress_stream, decltype(&orsk_decompress_stream_destroy)> s(
            raw, orsk_decompress_stream_destroy);
        std::uint32_t seed = 2024;
        const auto next = [&]() -> std::size_t {
            if (pieces == Pieces::Single) return 1;
            if (pieces == Pieces::Whole) return 4 * MiB;
            seed = seed * 1664525u + 1013904223u;
            return 1 + (seed >> 8) % 150000;
        };
        Bytes& buffer = Spare(pieces == Pieces::Single ? 1 : 4 * MiB);
        const auto keep = [&](std::size_t made) {
            o.bytes.insert(o.bytes.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(made));
        };
        for (std::size_t at = 0; at < n_;) {
            const std::size_t piece = std::min(next(), n_ - at);
            size_t used = 0, made = 0;
            o.status = orsk_decompress_stream_update(s.get(), in_.get() + at, piece, &used, buffer.data(),
                                                     std::min(next(), buffer.size()), &made);
            keep(made);
            if (o.status != ORSK_OK) return o;
            EXPECT_TRUE(used + made != 0) << "a stream call with room made no progress";
            if (used + made == 0) return o;
            at += used;
        }
        for (int done = 0; !done;) {
            size_t made = 0;
            o.status = orsk_decompress_stream_finish(s.get(), buffer.data(), std::min(next(), buffer.size()), &made,
                                                     &done);
            keep(made);
            if (o.status != ORSK_OK) break;
        }
        return o;
    }
    // DecompressFile (of a range of the data); a failed run leaves no output file.
    Outcome File(LevelRequest level, bool salvage, std::size_t threads, std::string* message = nullptr,
                 const ByteRange& range = {}) {
        Outcome o;
        RunOptions options{threads};
        options.salvage = salvage;
        options.rangeFrom = range.from;
        options.rangeTo = range.to;
        const FileRunResult r = DecompressFile(level, file_, out_, options, nullptr);
        for (const DamagedRange& d : r.damaged) o.ranges += Listed(d);
        if (message != nullptr) *message = r.message;
        if (r.status == Status::Ok) {
            EXPECT_TRUE(fs::exists(out_)) << "a run that succeeds leaves its output, even an empty one";
            o.bytes = ReadFileBytes(out_);
        } else {
            EXPECT_FALSE(fs::exists(out_)) << "a failed run left its output: " << r.message;
        }
        fs::remove(out_);
        return Finish(o, r.status, r.restore, salvage);
    }

    // orsk_decompress_range into an allocation of exactly `capacity` bytes.
    Outcome Range(LevelRequest level, const ByteRange& r, std::size_t capacity) {
        Outcome o;
        std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[capacity]);
        size_t n = 99;
        o.status = orsk_decompress_range(PublicLevel(level), in_.get(), n_, r.from, r.to - r.from, out.get(), capacity, &n);
        EXPECT_TRUE(o.status == ORSK_OK || n == 0) << "a failed C call reports output";
        if (o.status == ORSK_OK) o.bytes.assign(out.get(), out.get() + std::min<std::size_t>(n, capacity));
        return o;
    }

    Seen InspectMemory() {
        ContainerFacts f;
        const Status s = InspectContainer(in_.get(), n_, ws_, f);
        return SeenOf(s, f);
    }
    Seen InspectC() {
        orsk_info info;
        const orsk_status s = orsk_inspect(in_.get(), n_, &info);
        return {s, info.checked, info.level, info.level_detected, info.level_mask, info.blocks, info.stored_blocks,
                info.restored_size};
    }
    orsk_status ClaimedSize(std::uint64_t& size) {
        return orsk_decompressed_size(ORSK_LEVEL_FROM_CONTAINER, in_.get(), n_, &size);
    }
    Seen InspectFileFacts() {
        ContainerFacts f;
        const FileRunResult r = InspectFile(file_, f);
        return SeenOf(r.status, f);
    }

private:
    // A buffer kept from call to call (at least n bytes), for outputs that may have room.
    Bytes& Spare(std::size_t n) {
        if (spare_.size() < n) spare_.resize(n);
        return spare_;
    }
    static Outcome Finish(Outcome& o, Status s, const RestoreFacts& facts, bool salvage) {
        o.internal = s;
        o.status = s == Status::Ok && salvage && !o.ranges.empty() ? ORSK_DAMAGED : Public(s);
        o.facts = facts;
        return o;
    }

    BlockWorkspace ws_;
    Bytes spare_;
    std::unique_ptr<std::uint8_t[]> in_;
    std::size_t n_ = 0;
    std::string file_, out_;
};

// A container and what restoring it at one level must give; what is not set is left to
// the paths' agreement.
struct Case {
    Case(std::string w, std::shared_ptr<const Bytes> c) : what(std::move(w)), container(std::move(c)) {}
    Case& Is(Status s) { status = s; return *this; }
    Case& Fails() { fails = true; return *this; }
    Case& Restores(Bytes b) { restores = std::move(b); return *this; }
    Case& Unordered() { keepsOrder = false; return *this; }
    Case& Salvaged(std::string ranges) { salvaged = std::move(ranges); return *this; }
    Case& SalvageFails() { salvageFails = true; return *this; }
    Case& Named(std::string words) { named = std::move(words); return *this; }
    Case& At(LevelRequest l) { level = l; return *this; }
    Case& Hidden() { hidden = true; return *this; }
    Case& NoRanges() { inRanges = false; return *this; }

    std::string what;
    std::shared_ptr<const Bytes> container;
    LevelRequest level;
    std::optional<Status> status;         // of a restore
    bool fails = false;                   // a restore fails, whatever the status
    std::optional<Bytes> restores;        // the bytes of a restore that succeeds
    bool keepsOrder = true;               // a failed restore wrote whole blocks of the data, from its start
    std::optional<std::string> salvaged;  // the ranges a salvage lists
    bool salvageFails = false;            // not one block restores
    std::string named;                    // the file driver's message names it
    bool hidden = false;                  // only a restore of the damaged block sees the damage
    bool inRanges = true;                 // restored in ranges too
};

std::shared_ptr<const Bytes> Shared(Bytes b) { return std::make_shared<const Bytes>(std::move(b)); }

// The data's whole blocks from the start: what a failed restore may have written.
bool WholeBlocksOf(const Bytes& written, const Bytes& data) {
    const bool boundary = written.size() % MiB == 0 || written.size() == data.size();
    return boundary && written.size() <= data.size() && std::equal(written.begin(), written.end(), data.begin());
}

// Ranges across the blocks of BlocksData (1 MiB, 1 MiB, 3000 bytes), `size` in all: the
// whole, inside a block, over two and three, from a boundary, empty, past the end, from
// the end and from past it. With `all` false, three of them.
std::vector<ByteRange> RangesOf(std::uint64_t size, bool all) {
    std::vector<ByteRange> r = {{0, UINT64_MAX}, ByteRange::Of(MiB - 10, 20), ByteRange::Of(2 * MiB + 2000, 5000)};
    if (all) {
        for (const ByteRange& more : {ByteRange::Of(100, 900), ByteRange::Of(MiB - 5, MiB + 100), ByteRange::Of(MiB, 10),
                                      ByteRange::Of(MiB + 7, 0), ByteRange::Of(size, 10), ByteRange::Of(size + 1, 1)}) {
            r.push_back(more);
        }
    }
    return r;
}

// Ranges of one case through the C call and files: the bytes of the restore, or of the
// data where a restore fails but not in the range's blocks. The whole range is the
// restore; damage the walk over the headers sees fails every range as it fails the restore.
void RunRanges(Paths& paths, const Case& k, const Bytes& data, const Outcome& ref) {
    const bool ok = ref.status == ORSK_OK;
    const Bytes& whole = ok ? ref.bytes : data;
    for (const ByteRange& r : RangesOf(whole.size(), k.what == "intact")) {
        SCOPED_TRACE("range " + std::to_string(r.from) + " to " + std::to_string(r.to));
        const std::uint64_t from = std::min<std::uint64_t>(r.from, whole.size());
        const Bytes part(whole.begin() + std::ptrdiff_t(from),
                         whole.begin() + std::ptrdiff_t(std::min<std::uint64_t>(r.to, whole.size())));
        // A damaged container may restore more than the data: room for it, to see the damage.
        const Outcome c = paths.Range(k.level, r, ok ? part.size() : 4 * MiB);
        if (r.from == 0 && r.to == UINT64_MAX) {
            EXPECT_EQ(c.status, ref.status);
        } else if (ok || !k.hidden) {
            EXPECT_EQ(c.status, !ok ? ref.status : r.from > whole.size() ? ORSK_OUT_OF_RANGE : ORSK_OK);
        } else if (c.status != ORSK_OK) {
            EXPECT_EQ(c.status, ref.status);
        }
        if (c.status == ORSK_OK) {
            EXPECT_TRUE(c.bytes == part) << c.bytes.size() << " bytes, not " << part.size();
        }
        for (std::size_t threads : {1u, 2u}) {
            const Outcome f = paths.File(k.level, false, threads, nullptr, r);
            EXPECT_EQ(f.status, c.status) << threads << " threads";
            EXPECT_TRUE(f.bytes == c.bytes) << threads << " threads: " << f.bytes.size() << " bytes";
        }
    }
}

// Restores, salvages and inspects one case through every path. `single`: also in
// 1-byte stream pieces.
Outcome RunCase(Paths& paths, const Case& k, const Bytes& data, bool single) {
    SCOPED_TRACE(k.what + ", at " + RequestName(k.level));
    paths.Use(*k.container);
    const LevelRequest level = k.level;

    // Restore: the growing vector is the reference the others must match.
    const Outcome ref = paths.Buffer(level, false);
    const bool ok = ref.status == ORSK_OK;
    if (k.status) {
        EXPECT_EQ(ref.internal, k.status);
    }
    if (k.fails) {
        EXPECT_FALSE(ok);
    }
    if (ok && k.restores) {
        EXPECT_TRUE(ref.bytes == *k.restores) << ref.bytes.size() << " bytes";
    }
    if (!ok && k.keepsOrder) {
        EXPECT_TRUE(WholeBlocksOf(ref.bytes, data)) << ref.bytes.size() << " bytes written";
    }
    const auto agree = [&](const Outcome& o, const std::string& path, bool partial) {
        EXPECT_EQ(o.status, ref.status) << path;
        if (o.internal) {
            EXPECT_EQ(o.internal, ref.internal) << path;
        }
        if (ok || partial) {
            EXPECT_TRUE(o.bytes == ref.bytes) << path << ": " << o.bytes.size() << " bytes, not " << ref.bytes.size();
        }
        if (o.facts && ref.facts) {
            EXPECT_EQ(o.facts->kind, ref.facts->kind) << path;
            EXPECT_EQ(o.facts->level, ref.facts->level) << path;
            EXPECT_EQ(o.facts->levelDetected, ref.facts->levelDetected) << path;
            EXPECT_EQ(o.facts->candidates, ref.facts->candidates) << path;
            EXPECT_EQ(o.facts->blocks, ref.facts->blocks) << path;
            EXPECT_EQ(o.facts->atEndRecord, ref.facts->atEndRecord) << path;
        }
    };
    agree(paths.Into(level, false, ref.bytes.size()), "DecompressInto", true);
    agree(paths.CCall(level, false, ref.bytes.size()), "orsk_decompress", false);
    for (Pieces p : {Pieces::Single, Pieces::Random, Pieces::Whole}) {
        if (p == Pieces::Single && !single) continue;
        agree(paths.Streamed(level, p), std::string("stream in ") + PiecesName(p) + " pieces", true);
    }
    for (std::size_t threads : {1u, 2u}) {
        std::string message;
        agree(paths.File(level, false, threads, &message), "file, " + std::to_string(threads) + " threads", false);
        if (!k.named.empty()) {
            EXPECT_NE(message.find(k.named), std::string::npos) << message;
        }
    }

    if (k.inRanges) RunRanges(paths, k, data, ref);

    // Salvage: the same bytes and ranges everywhere; the blocks a restore wrote come first.
    const Outcome saved = paths.Buffer(level, true);
    const bool savedOk = saved.status == ORSK_OK || saved.status == ORSK_DAMAGED;
    if (k.salvaged) {
        EXPECT_EQ(saved.ranges, *k.salvaged);
    }
    if (k.salvageFails) {
        EXPECT_FALSE(savedOk);
    }
    if (ok) {
        EXPECT_TRUE(saved.status == ORSK_OK && saved.bytes == ref.bytes) << saved.status;
    }
    if (savedOk) {
        EXPECT_TRUE(ref.bytes.size() <= saved.bytes.size() &&
                    std::equal(ref.bytes.begin(), ref.bytes.end(), saved.bytes.begin()));
    } else {
        EXPECT_EQ(saved.status, ref.status) << "a salvage that fails fails as the restore";
        EXPECT_EQ(saved.ranges, "");
        EXPECT_TRUE(saved.bytes == ref.bytes) << "a salvage that fails hands out no more than the restore";
    }
    const auto same = [&](const Outcome& o, const std::string& path) {
        EXPECT_EQ(o.status, saved.status) << path;
        if (savedOk) {
            EXPECT_TRUE(o.bytes == saved.bytes) << path << ": " << o.bytes.size() << " bytes";
        }
        EXPECT_EQ(o.ranges, saved.ranges) << path;
    };
    // A salvage that fails hands out nothing: give it room for every zero it may write first.
    same(paths.Into(level, true, savedOk ? saved.bytes.size() : 4 * MiB), "salvage into");
    same(paths.CCall(level, true, saved.bytes.size()), "orsk_salvage");
    for (std::size_t threads : {1u, 2u}) {
        same(paths.File(level, true, threads), "salvage file, " + std::to_string(threads) + " threads");
    }
    return ref;
}

// Inspection through memory, the C call and files.
Seen Inspected(Paths& paths, const Bytes& container) {
    paths.Use(container);
    const Seen memory = paths.InspectMemory();
    const Seen c = paths.InspectC(), file = paths.InspectFileFacts();
    EXPECT_EQ(c, memory) << Describe(c) << " vs " << Describe(memory);
    EXPECT_EQ(file, memory) << Describe(file) << " vs " << Describe(memory);
    std::uint64_t size = 0;
    const orsk_status claimed = paths.ClaimedSize(size);
    EXPECT_EQ(claimed, memory.status);
    if (claimed == ORSK_OK) {
        EXPECT_EQ(size, memory.size);
    }
    return memory;
}

// Where the blocks of a container lie: each block's start (with its check behind it in a
// checked container), and one more: the end record's offset, or the end.
std::vector<std::size_t> BlockStarts(Level level, const Bytes& c) {
    std::vector<std::size_t> at;
    const bool checked = c[0] == CheckedMagic;
    std::size_t p = checked ? CheckedHeaderLength : 1;
    while (p < c.size() && !(checked && c[p] == EndRecordKind)) {
        at.push_back(p);
        std::size_t total = 0;
        EXPECT_EQ(BlockTotalLength(level, &c[p], total), Status::Ok);
        p += total + (checked ? BlockCheckLength : 0);
    }
    at.push_back(p);
    return at;
}

// Three blocks: 1 MiB of noise (stored at every level), 1 MiB like an executable (which
// NORMAL filters) and a short one of text.
const Bytes& BlocksData() {
    static const Bytes data = Concat({RandomBytes(MiB, 90), BinaryLike(MiB, 91), TextLike(3000, 92)});
    return data;
}

Bytes Container(Level level, const Bytes& data, bool checked) {
    BlockWorkspace ws;
    Bytes c;
    EXPECT_EQ(CompressBuffer(level, data.data(), data.size(), c, ws, nullptr,
                             checked ? ContainerKind::Checked : ContainerKind::Plain),
              Status::Ok);
    return c;
}

// The valid and damaged containers of `data` at one level, each restored at that level
// and at the container's own.
std::vector<Case> Cases(Level level, bool checked, const Bytes& data, const Bytes& c, const std::string& file) {
    const std::vector<std::size_t> at = BlockStarts(level, c);
    EXPECT_EQ(at.size(), 4u);
    const std::size_t blocks = at.size() - 1, check = checked ? BlockCheckLength : 0;
    const auto end = [&](std::size_t b) { return at[b + 1] - check; };  // behind block b, before its check
    const auto length = [&](std::size_t b) { return std::min(MiB, data.size() - b * MiB); };
    const auto from = [](const Bytes& b, std::size_t begin, std::size_t stop) {
        return Bytes(b.begin() + std::ptrdiff_t(begin), b.begin() + std::ptrdiff_t(stop));
    };
    // The chunks, or the container with the blocks, in the order given.
    const auto chunks = [&](std::initializer_list<std::size_t> order) {
        Bytes d;
        for (std::size_t b : order) d = Concat({d, from(data, b * MiB, b * MiB + length(b))});
        return d;
    };
    const auto spans = [&](std::initializer_list<std::size_t> order) {
        Bytes d = from(c, 0, at[0]);
        for (std::size_t b : order) d = Concat({d, from(c, at[b], at[b + 1])});
        return Concat({d, from(c, at[blocks], c.size())});
    };
    const auto cut = [&](std::size_t n) { return from(c, 0, n); };
    // The first byte of a compressed block's first section, given a kind no reader knows.
    const auto noSection = [&](Bytes d, std::size_t b) {
        const BlockHeader h = ReadBlockHeader(&c[at[b]], LevelOf(level).headerOrder);
        d[at[b] + CompressedHeaderLength + h.offsetLowLength] = 0xEE;
        return d;
    };

    std::vector<Case> cases;
    // A case at the level given, and again at the container's own.
    const auto add = [&](Case k) {
        cases.push_back(k.At(level));
        cases.push_back(k.At(LevelFromContainer));
    };
    const auto sayBlock = [](std::size_t b) { return "block " + std::to_string(b) + " "; };
    const auto named = [](const char* what, std::size_t b) { return what + std::to_string(b); };

    add(Case("intact", Shared(c)).Is(Status::Ok).Restores(data).Salvaged(""));
    if (checked) {
        for (std::size_t n : {1, 5, 7}) {
            add(Case(named("cut inside the header at ", n), Shared(cut(n))).Is(Status::Truncated).SalvageFails());
        }
    } else {
        add(Case("empty file", Shared({})).Is(Status::Ok).Restores({}));
        add(Case("the magic byte alone", Shared(cut(1))).Is(Status::Ok).Restores({}));
    }
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint64_t offset = b * MiB;
        Case head(named("cut inside the header of block ", b), Shared(cut(at[b] + 5)));
        Case middle(named("cut in the middle of block ", b), Shared(cut((at[b] + end(b)) / 2)));
        for (Case* k : {&head, &middle}) k->Is(Status::Truncated).Named(sayBlock(b));
        if (b == 0) {
            head.SalvageFails();
            middle.SalvageFails();
        } else {
            // Only a block whose whole header arrived has a length to stand zeros in for.
            head.Salvaged(Listed(b, offset, 0, ORSK_DAMAGE_CUT_SHORT));
            middle.Salvaged(Listed(b, offset, length(b), ORSK_DAMAGE_CUT_SHORT));
        }
        add(head);
        if (!checked && b == 1) {
            // Cut short, the first compressed block restores at no level to tell.
            cases.push_back(middle.At(level));
            cases.push_back(middle.At(LevelFromContainer).Is(Status::UnknownLevel).SalvageFails().Salvaged(""));
        } else {
            add(middle);
        }
        Bytes flipped = c;
        flipped[(at[b] + end(b)) / 2] ^= 0x21;
        if (checked) {
            add(Case(named("a byte flipped in block ", b), Shared(flipped)).Fails().Named(sayBlock(b)).Hidden());
            flipped = c;
            flipped[end(b) + 3] ^= 0x08;
            add(Case(named("a byte flipped in the check of block ", b), Shared(flipped)).Is(Status::ChecksumMismatch)
                    .Salvaged(Listed(b, offset, length(b), ORSK_DAMAGE_CHECKSUM)).Named(sayBlock(b)));
        } else if (b == 0) {
            // Nothing checks a plain container: its stored block restores the byte changed.
            Bytes changed = data;
            changed[(at[b] + end(b)) / 2 - at[b] - StoredHeaderLength] ^= 0x21;
            add(Case("a byte flipped in block 0", Shared(flipped)).Is(Status::Ok).Restores(changed));
        } else {
            add(Case(named("a byte flipped in block ", b), Shared(flipped)).Unordered().Hidden());
        }
    }
    if (checked) {
        add(Case("cut before the check of block 1", Shared(cut(end(1)))).Is(Status::Truncated)
                .Salvaged(Listed(1, MiB, MiB, ORSK_DAMAGE_CUT_SHORT)).Named(sayBlock(1)));
        add(Case("cut inside the check of block 1", Shared(cut(end(1) + 3))).Is(Status::Truncated)
                .Salvaged(Listed(1, MiB, MiB, ORSK_DAMAGE_CUT_SHORT)).Named(sayBlock(1)));
        for (std::size_t n : {at[blocks], c.size() - 1}) {
            add(Case(n == at[blocks] ? "cut before the end record" : "cut inside the end record", Shared(cut(n)))
                    .Is(Status::Truncated).Salvaged(Listed(blocks, data.size(), 0, ORSK_DAMAGE_CUT_SHORT))
                    .Named("end record"));
        }
        Bytes all = c;
        for (std::size_t b = 0; b < blocks; ++b) all[end(b)] ^= 0x40;
        add(Case("every check flipped", Shared(all)).Is(Status::ChecksumMismatch).SalvageFails().Named(sayBlock(0)));
        // Blocks out of place restore, each passing its check, until the end record.
        add(Case("block 1 lost", Shared(spans({0, 2}))).Is(Status::Corrupt).Unordered()
                .Salvaged(Listed(2, MiB + length(2), 0, ORSK_DAMAGE_END_RECORD)).Named("end record"));
        add(Case("block 1 twice", Shared(spans({0, 1, 1, 2}))).Is(Status::Corrupt).Unordered()
                .Salvaged(Listed(4, data.size() + MiB, 0, ORSK_DAMAGE_END_RECORD)).Named("end record"));
        add(Case("blocks 0 and 1 swapped", Shared(spans({1, 0, 2}))).Is(Status::ChecksumMismatch).Unordered()
                .Salvaged(Listed(blocks, data.size(), 0, ORSK_DAMAGE_END_RECORD)).Named("end record"));
        Bytes sum = c;
        sum[c.size() - 3] ^= 0x80;
        add(Case("a byte flipped in the end record's checksum", Shared(sum)).Is(Status::ChecksumMismatch)
                .Salvaged(Listed(blocks, data.size(), 0, ORSK_DAMAGE_END_RECORD)).Named("end record"));
        add(Case("no blocks", Shared(Container(level, {}, true))).Is(Status::Ok).Restores({}).Salvaged(""));
        Bytes longer = c;
        longer.push_back(0);
        add(Case("a byte after the end record", Shared(longer)).Is(Status::Corrupt)
                .Salvaged(Listed(blocks, data.size(), 0, ORSK_DAMAGE_END_RECORD)).Named("end record"));
    } else {
        // A plain container cut between blocks, or with blocks lost or moved, is whole.
        for (std::size_t b = 0; b + 1 < blocks; ++b) {
            add(Case(named("cut behind block ", b), Shared(cut(at[b + 1]))).Is(Status::Ok)
                    .Restores(Bytes(data.begin(), data.begin() + std::ptrdiff_t((b + 1) * MiB))));
        }
        add(Case("block 1 lost", Shared(spans({0, 2}))).Is(Status::Ok).Restores(chunks({0, 2})));
        add(Case("block 1 twice", Shared(spans({0, 1, 1, 2}))).Is(Status::Ok).Restores(chunks({0, 1, 1, 2})));
        add(Case("blocks 0 and 1 swapped", Shared(spans({1, 0, 2}))).Is(Status::Ok).Restores(chunks({1, 0, 2})));
        Bytes longer = c;
        longer.push_back(0);
        add(Case("a byte after the last block", Shared(longer)).Is(Status::Corrupt)
                .Salvaged(Listed(blocks, data.size(), 0, ORSK_DAMAGE_CORRUPT)).Named(sayBlock(blocks)));
    }
    for (std::size_t b : {0, 1}) {
        Bytes unknown = c;
        unknown[at[b]] = 7;
        Case k(named("an unknown kind byte in block ", b), Shared(unknown));
        k.Is(Status::Corrupt).Named(sayBlock(b));
        if (b == 0) {
            k.SalvageFails();
        } else {
            k.Salvaged(Listed(b, b * MiB, 0, ORSK_DAMAGE_CORRUPT));
        }
        add(k);
    }
    // Compressed blocks their decoder rejects: a plain container's first one tells no level.
    for (std::size_t b : {1, 2, 3}) {
        const bool both = b == 3;
        Case k(both ? "section kinds no reader knows in blocks 1 and 2"
                    : named("a section kind no reader knows in block ", b),
               Shared(both ? noSection(noSection(c, 1), 2) : noSection(c, b)));
        std::string ranges;
        for (std::size_t d = both ? 1 : b; d <= (both ? 2 : b); ++d) {
            ranges += Listed(d, d * MiB, length(d), ORSK_DAMAGE_CORRUPT);
        }
        k.Is(Status::Corrupt).Salvaged(ranges).Named(sayBlock(both ? 1 : b)).Hidden();
        cases.push_back(k.At(level));
        if (!checked && b != 2) k.Is(Status::UnknownLevel).SalvageFails().Salvaged("");
        cases.push_back(k.At(LevelFromContainer));
    }
    Bytes head = c;
    head[checked ? 5 : 0] ^= 0x10;  // the header's check, or the magic byte
    add(Case("a damaged head", Shared(head)).Is(Status::Corrupt).SalvageFails());
    // Another level given: a checked container refuses it; a plain one's first compressed
    // block does not restore at it but at the level that wrote it, which is no cut (NORMAL
    // frames a block by another header order, longer than what is left).
    for (int other = 0; other < LevelCount; ++other) {
        if (other == int(level)) continue;
        Case k(named("level given: ", std::size_t(other)), cases.front().container);
        k.At(Level(other)).SalvageFails();
        // A plain container's blocks outside a range are not decoded: at another level
        // they may frame alike and go unseen.
        if (!checked) k.NoRanges();
        if (checked) {
            k.Is(Status::WrongLevel).Named(named("written at level ", int(level)) + " (" + LevelName(level) + ")");
        } else {
            k.Is(Status::Corrupt).Named("block 1 of '" + file + "' does not restore at level " + std::to_string(other) +
                                        "; it restores at level " + std::to_string(int(level)));
        }
        cases.push_back(k);
    }
    return cases;
}

using Param = std::tuple<int, bool>;
class ReaderMatrix : public ::testing::TestWithParam<Param> {};
class ReaderMatrixSlow : public ReaderMatrix {};

// Every case of one level and kind; in 1-byte stream pieces the intact container, or with
// `single` every one.
void RunMatrix(Level level, bool checked, bool single) {
    const Bytes& data = BlocksData();
    const Bytes c = Container(level, data, checked);
    Paths paths;
    const std::vector<Case> cases = Cases(level, checked, data, c, paths.file());
    for (const Case& k : cases) {
        RunCase(paths, k, data, single || k.what == "intact");
        if (::testing::Test::HasFatalFailure()) return;
    }
    // What the container is, and that the paths agree on it, intact and damaged.
    const Seen seen = Inspected(paths, c);
    EXPECT_EQ(seen.status, ORSK_OK);
    EXPECT_EQ(seen.checked, int(checked));
    EXPECT_EQ(seen.blocks, 3u);
    EXPECT_EQ(seen.stored, 1u);
    EXPECT_EQ(seen.size, data.size());
    EXPECT_EQ(seen.detected, int(!checked));
    EXPECT_NE(seen.mask & LevelBit(level), 0u);
    if (checked) {
        EXPECT_EQ(seen.level, int(level));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (i != 0 && cases[i].container == cases[i - 1].container) continue;
        SCOPED_TRACE(cases[i].what);
        Inspected(paths, *cases[i].container);
    }
}

TEST_P(ReaderMatrix, EveryPathAgrees) { RunMatrix(Level(std::get<0>(GetParam())), std::get<1>(GetParam()), false); }
TEST_P(ReaderMatrixSlow, EveryPathAgreesInSingleBytes) {
    RunMatrix(Level(std::get<0>(GetParam())), std::get<1>(GetParam()), true);
}

std::string ParamName(const ::testing::TestParamInfo<Param>& p) {
    return "L" + std::to_string(std::get<0>(p.param)) + (std::get<1>(p.param) ? "Checked" : "Plain");
}
INSTANTIATE_TEST_SUITE_P(Levels, ReaderMatrix,
                         ::testing::Combine(::testing::Range(0, LevelCount), ::testing::Bool()), ParamName);
INSTANTIATE_TEST_SUITE_P(Levels, ReaderMatrixSlow,
                         ::testing::Combine(::testing::Range(0, LevelCount), ::testing::Bool()), ParamName);

// FAST and BETTER share their sequence format but for the number of recent offsets, so a
// FAST block whose only match lies 700 bytes back restores at BETTER too, 256 bytes
// nearer: the level cannot be told, and the candidates are named. Cut short, the block
// restores at no level. Stored blocks alone restore at any.
TEST(ReaderLevels, UntoldOrAny) {
    const Bytes start = NoRepeats(700);
    const Bytes data = Concat({start, Bytes(start.begin(), start.begin() + 300)});
    const auto c = Shared(Container(Level::Fast, data, false));
    const auto cut = Shared(Bytes(c->begin(), c->end() - 1));
    Paths paths;
    const std::string differ =
        "block 0 of '" + paths.file() + "' restores to different bytes at levels 2 and 4: give -m2 or -m4";
    Case told("a match 700 bytes back", c);
    RunCase(paths, told.At(Level::Fast).Is(Status::Ok).Restores(data).Salvaged(""), data, true);
    told = Case("a match 700 bytes back", c);
    told.At(LevelFromContainer).Is(Status::UnknownLevel).SalvageFails().Named(differ);
    const Outcome untold = RunCase(paths, told, data, true);
    EXPECT_EQ(untold.facts->candidates, 0x14u);
    EXPECT_FALSE(untold.facts->level);
    Case cutShort("cut short", cut);
    cutShort.At(LevelFromContainer).Is(Status::UnknownLevel).SalvageFails().Named("restores at no level");
    const Outcome none = RunCase(paths, cutShort, data, true);
    EXPECT_EQ(none.facts->candidates, 0u);
    for (const auto& [container, mask] : {std::pair{c, 0x14u}, std::pair{cut, 0u}}) {
        const Seen seen = Inspected(paths, *container);
        EXPECT_EQ(seen.status, ORSK_UNKNOWN_LEVEL);
        EXPECT_EQ(seen.level, -1);
        EXPECT_EQ(seen.mask, mask);
    }
    const Bytes noise = RandomBytes(MiB + 1, 94);  // 13 bytes or fewer are always stored
    const auto stored = Shared(Container(Level::Best, noise, false));
    for (LevelRequest level : {LevelRequest(Level::Normal), LevelFromContainer}) {
        const Outcome any =
            RunCase(paths, Case("stored blocks alone", stored).At(level).Is(Status::Ok).Restores(noise), noise, true);
        EXPECT_EQ(any.facts->candidates, level ? 0u : AllLevels);
    }
    const Seen seen = Inspected(paths, *stored);
    EXPECT_TRUE(seen.status == ORSK_OK && seen.detected && seen.mask == AllLevels && seen.stored == 2)
        << Describe(seen);
}

// 1 MiB in which no 4-byte group repeats (a de Bruijn sequence of order 4 over 32
// letters) becomes a block of literals alone, which the levels that share a sequence
// format restore alike; the text behind it, with 64-byte copies from 300 to 60,000 bytes
// back, has distances that those levels read differently. Told from the container, the
// level is narrowed over the blocks: the restore is exact, or fails without a wrong byte.
class ReaderNarrowed : public ::testing::TestWithParam<int> {};

TEST_P(ReaderNarrowed, ExactOrUntold) {
    const Level level = Level(GetParam());
    Bytes data = NoRepeats(MiB, 32, 4);
    const Bytes text = TextLike(400000, 93);
    std::uint32_t seed = 11;
    for (std::size_t t = 0; data.size() < MiB + 200000;) {
        seed = seed * 1664525u + 1013904223u;
        const std::size_t run = 20 + (seed >> 8) % 200;
        data.insert(data.end(), text.begin() + std::ptrdiff_t(t), text.begin() + std::ptrdiff_t(t + run));
        t += run;
        seed = seed * 1664525u + 1013904223u;
        const std::size_t from = data.size() - (300 + (seed >> 8) % 59701);
        const Bytes copy(data.begin() + std::ptrdiff_t(from), data.begin() + std::ptrdiff_t(from + 64));
        data.insert(data.end(), copy.begin(), copy.end());
    }
    const auto c = Shared(Container(level, data, false));
    Paths paths;
    RunCase(paths, Case("narrowed", c).At(level).Is(Status::Ok).Restores(data).Salvaged(""), data, true);
    const Outcome told = RunCase(paths, Case("narrowed", c).At(LevelFromContainer).Restores(data), data, true);
    EXPECT_TRUE(told.status == ORSK_OK || told.status == ORSK_UNKNOWN_LEVEL) << told.status;
    // FAST and BETTER restore the block of literals alike: only the text tells them apart.
    const Seen seen = Inspected(paths, *c);
    EXPECT_EQ(seen.status, ORSK_OK);
    const LevelSet alike = LevelBit(Level::Fast) | LevelBit(Level::Better);
    EXPECT_EQ(seen.mask, (alike & LevelBit(level)) != 0 ? alike : LevelBit(level));
    if (told.status == ORSK_OK) {
        EXPECT_EQ(told.facts->candidates & LevelBit(level), LevelBit(level));
    }
    // A range in the text is told by the first block and the one it restores: exact or untold.
    const Outcome part = paths.Range(LevelFromContainer, ByteRange::Of(MiB + 100, 50000), 50000);
    EXPECT_TRUE(part.status == ORSK_UNKNOWN_LEVEL ||
                (part.status == ORSK_OK && part.bytes == Bytes(data.begin() + MiB + 100, data.begin() + MiB + 50100)))
        << part.status;
}

INSTANTIATE_TEST_SUITE_P(Levels, ReaderNarrowed, ::testing::Range(2, LevelCount));

}  // namespace
}  // namespace orsk::test
