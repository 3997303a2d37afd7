// The block finisher every level's compressor ends with: sections by their rules, then
// the header.
#include "codecs/common/block_finisher.h"

#include "container/blocks/sections.h"

namespace orsk {

namespace {

Status WriteSection(ByteSink& out, const SectionSource& s) {
    switch (s.form) {
        case SectionForm::Codable:
            return WriteStreamSection(out, s.data, s.length, true);
        case SectionForm::Literals:
            return WriteLiteralSection(out, s.data, s.length, s.literalEntropyLimit);
        case SectionForm::Raw:
            break;
    }
    return WriteRawSection(out, s.data, s.length);
}

}  // namespace

Status FinishBlock(ByteSink& block, std::uint8_t* lowEnd, std::span<const SectionSource> sections, HeaderOrder order,
                   BlockCounts counts) {
    std::uint8_t* const header = block.at;
    ByteSink out{block.begin, lowEnd, block.end};
    for (const SectionSource& s : sections) {
        if (Status st = WriteSection(out, s); st != Status::Ok) return st;
    }
    const std::uint32_t lowLength = std::uint32_t(lowEnd - (header + CompressedHeaderLength));
    WriteBlockHeader(header, order,
                     {counts.sequenceCount, counts.chunkLength, lowLength, std::uint32_t(out.at - header)});
    block.at = out.at;
    return Status::Ok;
}

}  // namespace orsk
