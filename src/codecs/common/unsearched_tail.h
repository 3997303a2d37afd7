// Where every level's parse stops looking for matches: the last positions of a chunk
// are never searched and always end as literals.
#pragma once

#include <cstdint>

namespace orsk {

// The block layout fixes this margin at 9 for all six levels: a parse searches
// positions below n - 9 only, so a chunk of 9 bytes or fewer is one literal run. It is
// not a bound any read needs (reads past the chunk land in its InputSlack); it stays
// exactly 9 because another margin finds other matches and changes every container,
// the reference containers in tests/data/conformance among them.
constexpr std::uint32_t UnsearchedTail = 9;

// The end of the searched positions of a chunk of n bytes: a parse searches p < SearchEnd(n).
constexpr std::uint32_t SearchEnd(std::uint32_t n) { return n > UnsearchedTail ? n - UnsearchedTail : 0; }

}  // namespace orsk
