// The optimal parse at levels 0 and 1: what their length fields cost (a length of 15 or
// more takes a biased extension byte behind its code, 270 or more three), and the path
// written as their sequences.
#pragma once

#include <cstdint>

#include "codecs/common/match_length.h"
#include "codecs/common/optimal_parse.h"
#include "codecs/common/single_slot_sequences.h"

namespace orsk {

// The extension bytes a run or match of `length` takes.
inline std::uint32_t BiasedExtensionPrice(std::uint32_t length) {
    return length < LengthEscapeCode ? 0 : length < LengthEscapeCode + 255 ? PriceOfByte : 3 * PriceOfByte;
}

// What a literal run's extension grows by when the run reaches `run` bytes.
inline std::uint32_t BiasedRunGrowthPrice(std::uint32_t run) {
    return run == LengthEscapeCode ? PriceOfByte : run == LengthEscapeCode + 255 ? 2 * PriceOfByte : 0;
}

// A path's literal runs and match lengths as sequences, runs cut at MaxLiteralRun as
// the levels' own parses cut them; each level writes the distances its own way.
struct SingleSlotPathWriter {
    const std::uint8_t* chunk;
    SequenceWriter w;

    void RunAndLength(std::uint32_t start, std::uint32_t run, std::uint32_t length) {
        CutLongRun(start, run);
        PutLiteralRun(w, chunk + start, run);
        PutMatchLength(w, length);
    }
    void Tail(std::uint32_t start, std::uint32_t run) {
        CutLongRun(start, run);
        if (run != 0) PutLiteralOnly(w, chunk + start, run);
    }

private:
    void CutLongRun(std::uint32_t& start, std::uint32_t& run) {
        while (run > MaxLiteralRun) {
            PutLiteralOnly(w, chunk + start, MaxLiteralRun);
            start += MaxLiteralRun;
            run -= MaxLiteralRun;
        }
    }
};

}  // namespace orsk
