// Histogram and length-limited canonical prefix code construction: a Huffman tree by
// the two-queue method over the count-sorted symbols, clamped to 12 bits and repaired.
#include <algorithm>
#include <cassert>

#include "entropy/canonical_code.h"

namespace orsk {

namespace {

// Weight of a queue slot that holds no element yet; larger than any real weight
// (a stream never exceeds MaxStreamLength bytes), so a sum with it is never chosen
// while two real elements remain.
constexpr std::uint32_t AbsentWeight = 0xEFFFFF;
static_assert(AbsentWeight > MaxStreamLength);

}  // namespace

unsigned CountSymbols(const std::uint8_t* data, std::size_t n, std::uint32_t histogram[256],
                      CodeEntry symbols[256]) {
    // Eight tables break the store-to-load dependency between nearby equal bytes:
    // byte p goes to table p mod 8.
    std::uint32_t table[8][256] = {};
    std::size_t i = 0;
    for (; n - i >= 16; i += 16) {
        const std::uint8_t* p = data + i;
        for (std::size_t k = 0; k < 16; k += 8) {
            ++table[0][p[k]];
            ++table[1][p[k + 1]];
            ++table[2][p[k + 2]];
            ++table[3][p[k + 3]];
            ++table[4][p[k + 4]];
            ++table[5][p[k + 5]];
            ++table[6][p[k + 6]];
            ++table[7][p[k + 7]];
        }
    }
    for (; i < n; ++i) ++table[0][data[i]];

    unsigned present = 0;
    for (unsigned v = 0; v < 256; ++v) {
        histogram[v] = table[0][v] + table[1][v] + table[2][v] + table[3][v] + table[4][v] + table[5][v] +
                       table[6][v] + table[7][v];
        if (histogram[v] != 0) {
            symbols[present] = CodeEntry{};
            symbols[present].symbol = std::uint16_t(v);
            symbols[present].count = histogram[v];
            ++present;
        }
    }
    return present;
}

void AssignCanonicalCodes(const std::uint32_t lengthCounts[13], unsigned n, CodeEntry codes[256]) {
    unsigned position = 0;
    for (unsigned length = MaxCodeLength; length >= 1; --length) {
        for (std::uint32_t k = 0; k < lengthCounts[length] && position < n; ++k) {
            codes[position++].length = std::uint16_t(length);
        }
    }
    assert(position == n);

    // next[len]: the first value of that length; shorter codes take the smaller values.
    std::uint32_t next[MaxCodeLength + 1] = {};
    for (unsigned length = 2; length <= MaxCodeLength; ++length) {
        next[length] = (next[length - 1] + lengthCounts[length - 1]) << 1;
    }
    for (unsigned i = n; i-- != 0;) {
        codes[i].code = std::uint16_t(next[codes[i].length]++);
    }
}

void BuildPrefixCode(unsigned n, std::uint32_t lengthCounts[13], CodeEntry symbols[256],
                     CodeEntry codes[256]) {
    std::fill(lengthCounts, lengthCounts + MaxCodeLength + 1, 0u);
    if (n == 0) return;
    if (n == 1) {
        symbols[0].length = 1;
        symbols[0].code = 0;
        codes[0] = CodeEntry{};
        codes[0].symbol = symbols[0].symbol;
        codes[0].length = 1;
        codes[0].count = symbols[0].count;
        lengthCounts[1] = 1;
        return;
    }

    // Ascending count, equal counts by ascending byte value: one unique key per entry,
    // so the order is fully determined (the recorded symbol order depends on it).
    std::uint64_t keys[256];
    for (unsigned i = 0; i < n; ++i) keys[i] = (std::uint64_t(symbols[i].count) << 8) | symbols[i].symbol;
    std::sort(keys, keys + n);
    for (unsigned i = 0; i < n; ++i) {
        symbols[i] = CodeEntry{};
        symbols[i].symbol = std::uint16_t(keys[i] & 0xFF);
        symbols[i].count = std::uint32_t(keys[i] >> 8);
    }

    // Two queues: the sorted leaves and the internal nodes in creation order. Nodes are
    // created with non-decreasing weights, so each queue's head is its lightest element.
    std::uint32_t nodeWeight[256] = {};
    std::uint16_t nodeParent[256] = {};
    unsigned leafHead = 0;
    unsigned nodeHead = 0;
    unsigned created = 0;
    const auto leafWeight = [&](unsigned i) { return i < n ? symbols[i].count : AbsentWeight; };
    const auto internalWeight = [&](unsigned i) { return i < created ? nodeWeight[i] : AbsentWeight; };
    while (created < n - 1) {
        const std::uint32_t twoLeaves = leafWeight(leafHead) + leafWeight(leafHead + 1);
        const std::uint32_t leafAndNode = leafWeight(leafHead) + internalWeight(nodeHead);
        const std::uint32_t twoNodes = internalWeight(nodeHead) + internalWeight(nodeHead + 1);
        const auto parent = std::uint16_t(created);
        // Ties prefer two leaves, then a leaf and a node, then two nodes.
        if (twoLeaves <= leafAndNode && twoLeaves <= twoNodes) {
            symbols[leafHead].parent = parent;
            symbols[leafHead + 1].parent = parent;
            leafHead += 2;
            nodeWeight[created] = twoLeaves;
        } else if (leafAndNode <= twoNodes) {
            symbols[leafHead].parent = parent;
            nodeParent[nodeHead] = parent;
            leafHead += 1;
            nodeHead += 1;
            nodeWeight[created] = leafAndNode;
        } else {
            nodeParent[nodeHead] = parent;
            nodeParent[nodeHead + 1] = parent;
            nodeHead += 2;
            nodeWeight[created] = twoNodes;
        }
        ++created;
    }

    // A parent is always created after its children, so depths follow from the root
    // (the last node) downward in one pass.
    const unsigned root = n - 2;
    std::uint16_t nodeDepth[256] = {};
    for (unsigned j = root; j-- != 0;) nodeDepth[j] = std::uint16_t(nodeDepth[nodeParent[j]] + 1);

    unsigned clamped = 0;
    for (unsigned i = 0; i < n; ++i) {
        unsigned depth = nodeDepth[symbols[i].parent] + 1u;
        if (depth > MaxCodeLength) {
            depth = MaxCodeLength;
            ++clamped;
        }
        ++lengthCounts[depth];
    }

    // Clamping raised the Kraft sum by at most (clamped - 1) / 4096 (the clamped leaves
    // hang below at least one depth-12 node, whose subtree weighs 1/4096). Each step
    // moves one code from length b to b + 1 and one from 12 to b + 1: -1/4096 each.
    if (clamped > 0) {
        const unsigned steps = clamped > 1 ? clamped - 1 : 1;
        for (unsigned s = 0; s < steps; ++s) {
            unsigned b = MaxCodeLength - 1;
            while (b >= 1 && lengthCounts[b] == 0) --b;
            if (b == 0) break;  // every code is 12 bits long: the sum is far below 1
            lengthCounts[b] -= 1;
            lengthCounts[b + 1] += 2;
            lengthCounts[MaxCodeLength] -= 1;
        }
    }

    // Lengths go out by position, which equals the tree depths when none were clamped
    // (two-queue depths never increase along the sorted list) and is the rule the
    // decoder follows in every case.
    for (unsigned i = 0; i < n; ++i) {
        codes[i] = CodeEntry{};
        codes[i].symbol = symbols[i].symbol;
        codes[i].count = symbols[i].count;
    }
    AssignCanonicalCodes(lengthCounts, n, codes);
    for (unsigned i = 0; i < n; ++i) {
        symbols[i].length = codes[i].length;
        symbols[i].code = codes[i].code;
    }
}

}  // namespace orsk
