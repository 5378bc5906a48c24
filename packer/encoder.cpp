// The method 1-3 encoder: parses the input segment by segment and hands the
// tokens to the block splitter, which writes settled blocks as it goes.
#include "encoder_internal.h"

PackLevel LevelForMethod(unsigned method) {
  return method == 3 ? PackFast : method == 2 ? PackNormal : PackBest;
}

std::vector<std::uint8_t> EncodeMethod123(const std::uint8_t *data, std::size_t size, PackLevel level,
                                          PackProgressFn progress, void *context, EncodeStats *stats) {
  // Segments bound the memory for per-position prices and candidates. The
  // best level prices within a segment by its own blocks, so a segment
  // should hold several of them; its first parse borrows the last block's
  // prices of the segment before.
  const std::size_t segmentSize = level == PackBest ? (512u << 10) : (1u << 20);
  std::vector<std::uint8_t> out;
  ReserveLargeBuffer(&out, size / 2 + 64);
  BitWriter bw{&out, 0, 0};
  BlockSplitter splitter;
  StartBlockSplitter(splitter);
  splitter.fewFlattenings = level == PackFast;
  ParserState *parser = StartParser(data, size, level);
  std::vector<Token> tokens;
  for (std::size_t begin = 0; begin < size; begin += segmentSize) {
    std::size_t end = size - begin < segmentSize ? size : begin + segmentSize;
    tokens.clear();
    ParseSegment(parser, begin, end, &tokens);
    if (level == PackBest)
      AddPlannedTokens(splitter, bw, tokens.data(), tokens.size(), *SegmentBlockEnds(parser));
    else
      AddTokens(splitter, bw, tokens.data(), tokens.size());
    if (progress) progress(end, context);
  }
  EndParser(parser);
  FinishBlocks(splitter, bw);
  FlushBits(bw);
  if (stats) *stats = splitter.stats;
  return out;
}
