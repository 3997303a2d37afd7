// Level 5, BEST: BETTER's search with six recent offsets and its own token stream.
// One token per sequence joins its shape and offset class; lengths are stored whole.
#include "codecs/best/best.h"

#include <algorithm>
#include <cstring>

#include "codecs/best/best_streams.h"
#include "codecs/common/block_finisher.h"
#include "codecs/common/extra_length.h"
#include "codecs/common/hash_chain.h"
#include "codecs/common/match_copy.h"
#include "codecs/common/recent_offsets.h"
#include "codecs/common/recent_parse.h"
#include "codecs/common/recent_probe.h"
#include "container/blocks/block_header.h"

namespace orsk {

namespace {

// Four links per chain entry: walks of up to 513 candidates take a quarter of the
// dependent loads.
constexpr int BestLinkLanes = 4;

}  // namespace

Status BestCompressBlock(const BestSettings& settings, EncoderScratch& scratch, const std::uint8_t* chunk,
                         std::size_t n, ByteSink& block) {
    if (n == 0 || n > MaxChunkLength) return Status::Corrupt;
    auto finder =
        MakeChainFinder<BestLinkLanes>(scratch, chunk, std::uint32_t(n), settings.window, settings.maxChainSteps);

    BestStreams s = MakeBestStreams(scratch, chunk);

    std::uint32_t pending = ParseRecentFirst(finder, settings.goodLength, s.rep, s);
    // The final run may pass 65,535 (up to 65,543); a stored length must fit 16 bits.
    std::uint32_t start = std::uint32_t(n) - pending;
    if (pending > MaxLiteralRun) {
        s.EmitLiterals(start, MaxLiteralRun);
        start += MaxLiteralRun;
        pending -= MaxLiteralRun;
    }
    if (pending != 0) s.EmitLiterals(start, pending);

    return FinishBestBlock(block, s, scratch, std::uint32_t(n));
}

namespace {

// What BEST's token loop carries from one sequence to the next.
struct BestReplay {
    ByteCursor literalLengths;
    ByteCursor matchLengths;
    ByteCursor offsetHigh;
    ByteCursor offsetLow;
    const std::uint8_t* lit;
    const std::uint8_t* litEnd;
    std::uint8_t* op;
    std::uint8_t* outBegin;
    std::uint8_t* outEnd;
    RecentSlots<BestRecentSlots> rep;
};

// One length; Careful false when the caller knows the cursor holds a whole one.
template <bool Careful>
[[nodiscard]] inline bool NextLength(ByteCursor& c, std::uint32_t& v) {
    if constexpr (Careful) return ExtraLength::Read(c, v);
    v = ExtraLength::Take(c);
    return true;
}

// Replays the sequence of one token; false when it breaks a limit.
template <bool Careful>
[[nodiscard]] inline bool ReplayToken(BestReplay& s, std::uint8_t token) {
    unsigned j = token;
    if (token < MatchOnlyTokenBase || token >= LiteralOnlyToken) {
        std::uint32_t count;
        if (!NextLength<Careful>(s.literalLengths, count)) return false;
        if (count > std::size_t(s.litEnd - s.lit) || count > std::size_t(s.outEnd - s.op)) return false;
        // The count fits both: the 16-byte steps read at most 15 bytes into the
        // stream's read slack and write at most 15 into the output's CopySlack.
        CopyWide16(s.op, s.lit, count);
        s.lit += count;
        s.op += count;
        // 14 is the literal-only token; no writer makes 15 to 255.
        if (token >= LiteralOnlyToken) [[unlikely]] return token == LiteralOnlyToken;
    } else {
        j = token - MatchOnlyTokenBase;
    }

    std::uint32_t length;
    if (!NextLength<Careful>(s.matchLengths, length)) return false;
    std::uint32_t d;
    if (j < NewDistanceClass) {
        d = s.rep.Take(j);
    } else {
        if (s.offsetHigh.at == s.offsetHigh.end || s.offsetLow.at == s.offsetLow.end) return false;
        d = std::uint32_t(*s.offsetHigh.at++) << 8 | *s.offsetLow.at++;
        s.rep.Push(d);
    }
    // 1 <= d <= bytes written; an empty slot's 0 wraps around and fails too.
    if (d - 1 >= std::size_t(s.op - s.outBegin) || length > std::size_t(s.outEnd - s.op)) return false;
    if (length != 0) CopyMatch(s.op, d, length);
    s.op += length;
    return true;
}

}  // namespace

Status BestDecodeBlock(const BlockStreams& in, ByteSink& out) {
    // Literal copies overrun by up to 15 bytes on both sides; CopyMatch by its own margin.
    static_assert(StreamReadSlack >= 15 && CopySlack >= 15);
    const ByteCursor tokens = in.stream[BestSection::Tokens];
    // One token per sequence, and every token must be used.
    if (Left(tokens) != in.sequenceCount) return Status::Corrupt;
    // The two sections between the tokens and the literal lengths are always empty.
    if (Left(in.stream[BestSection::Reserved1]) != 0 || Left(in.stream[BestSection::Reserved2]) != 0) return Status::Corrupt;

    BestReplay s{in.stream[BestSection::LiteralLengths],
                 in.stream[BestSection::MatchLengths],
                 in.stream[BestSection::OffsetHigh],
                 in.offsetLow,
                 in.stream[BestSection::Literals].at,
                 in.stream[BestSection::Literals].end,
                 out.at,
                 out.begin,
                 out.end,
                 {}};
    const std::uint8_t* t = tokens.at;
    while (t != tokens.end) {
        // A token reads at most one length from each length stream: rounds of tokens
        // that both streams can serve whole skip the end tests of the lengths.
        const std::size_t whole =
            std::min(Left(s.literalLengths), Left(s.matchLengths)) / MaxExtraLengthBytes;
        const std::size_t round = std::min(whole, std::size_t(tokens.end - t));
        if (round == 0) {
            if (!ReplayToken<true>(s, *t++)) return Status::Corrupt;
            continue;
        }
        for (const std::uint8_t* const roundEnd = t + round; t != roundEnd; ++t) {
            if (!ReplayToken<false>(s, *t)) return Status::Corrupt;
        }
    }
    if (s.op != s.outEnd || s.literalLengths.at != s.literalLengths.end || s.matchLengths.at != s.matchLengths.end ||
        s.offsetHigh.at != s.offsetHigh.end || s.offsetLow.at != s.offsetLow.end || s.lit != s.litEnd) {
        return Status::Corrupt;
    }
    out.at = s.op;
    return Status::Ok;
}

}  // namespace orsk
