// The table of levels: every fact of the format and the codecs that differs between
// levels, in one place; the program keeps its console words for them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/format.h"
#include "container/blocks/block_header.h"
#include "container/blocks/sections.h"
#include "container/blocks/workspace.h"

namespace orsk {

struct LevelInfo {
    const char* name;              // "HYPERFAST" ... "BEST"
    // The level's block compressor and token decoder.
    Status (*compress)(EncoderScratch&, const std::uint8_t* chunk, std::size_t n, ByteSink& block);
    Status (*decode)(const BlockStreams&, ByteSink& out);
    // The same format written by a parse that searches harder, at effort 1..MaxEffort
    // (scratch.parse allocated); null where the level's own parse stands for every
    // effort (its format gains little from such a parse for the time it takes).
    Status (*compressEffort)(EncoderScratch&, unsigned effort, const std::uint8_t* chunk, std::size_t n,
                             ByteSink& block);
    HeaderOrder headerOrder;
    int sections;                  // stream sections behind OffsetLowBytes
    double storeThreshold;         // estimates at or above it are stored
    bool keepOnlyShorter;          // a compressed block is kept only when shorter than its chunk
    // Rewrites a chunk in place before compressing, and undoes it after restoring; null
    // when the level has no filter.
    void (*filter)(std::uint8_t*, std::size_t);
    void (*unfilter)(std::uint8_t*, std::size_t);
};

const LevelInfo& LevelOf(Level level);
inline const char* LevelName(Level level) { return LevelOf(level).name; }
inline double StoreThreshold(Level level) { return LevelOf(level).storeThreshold; }

}  // namespace orsk
