// Length-limited canonical Huffman codes for the encoder's three alphabets.
//
// A plain Huffman tree gives the lengths when it is no deeper than the
// limit, which is nearly always; otherwise package-merge, which is optimal
// under the limit. A tree over 510 symbols can run deeper than 16 bits on
// skewed data, and the reader refuses any code that is not exactly complete.
#include <algorithm>
#include <cstring>

#include "encoder_internal.h"

namespace {

struct MergeNode {
  std::uint64_t weight;
  int left;   // leaf: -1 - symbol; package: node index
  int right;  // package only
};

// Huffman depths of the leaves, given in ascending weight, by the two-queue
// method: leaves and merged nodes are each consumed in weight order. Returns
// the deepest leaf's depth.
unsigned HuffmanDepths(const std::uint32_t *freq, const unsigned *sorted, std::size_t m, unsigned *depth) {
  std::uint64_t weight[2 * arj::LiteralCount];
  unsigned parent[2 * arj::LiteralCount];
  std::size_t leaf = 0, merged = m;
  auto takeSmallest = [&](std::size_t created) {
    if (leaf < m && (merged >= created || freq[sorted[leaf]] <= weight[merged])) {
      weight[leaf] = freq[sorted[leaf]];
      return leaf++;
    }
    return merged++;
  };
  for (std::size_t node = m; node < 2 * m - 1; node++) {
    std::size_t a = takeSmallest(node), b = takeSmallest(node);
    weight[node] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<unsigned>(node);
  }
  unsigned deepest = 0;
  depth[2 * m - 2] = 0;
  for (std::size_t node = 2 * m - 2; node-- > 0;) {
    depth[node] = depth[parent[node]] + 1;
    if (node < m && depth[node] > deepest) deepest = depth[node];
  }
  return deepest;
}

}  // namespace

unsigned SortUsedSymbols(const std::uint32_t *freq, unsigned count, unsigned *used) {
  // Sorted by frequency, ties by symbol. The splitter calls this often
  // enough to matter: counts below 2^16, the usual case for a block, go by
  // two stable byte-wise passes over the symbols in order, which keeps ties
  // by symbol; others by a plain sort of keys that hold both.
  unsigned m = 0;
  std::uint32_t largest = 0;
  for (unsigned s = 0; s < count; s++)
    if (freq[s]) {
      used[m++] = s;
      largest |= freq[s];
    }
  if (largest >> 16 || m < 64) {
    std::uint64_t keys[arj::LiteralCount];
    for (unsigned i = 0; i < m; i++) keys[i] = std::uint64_t(freq[used[i]]) << 16 | used[i];
    std::sort(keys, keys + m);
    for (unsigned i = 0; i < m; i++) used[i] = static_cast<unsigned>(keys[i] & 0xFFFF);
    return m;
  }
  unsigned scratch[arj::LiteralCount];
  unsigned *from = used, *to = scratch;
  for (unsigned shift = 0; shift < 16; shift += 8) {
    unsigned start[257] = {};
    for (unsigned i = 0; i < m; i++) start[(freq[from[i]] >> shift & 0xFF) + 1]++;
    for (unsigned b = 0; b < 256; b++) start[b + 1] += start[b];
    for (unsigned i = 0; i < m; i++) to[start[freq[from[i]] >> shift & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  return m;
}

unsigned BuildCodeLengths(const std::uint32_t *freq, unsigned count, unsigned maxBits,
                          std::uint8_t *lengths) {
  unsigned used[arj::LiteralCount];
  unsigned m = SortUsedSymbols(freq, count, used);
  return CodeLengthsOfSorted(freq, used, m, count, maxBits, lengths);
}

unsigned CodeLengthsOfSorted(const std::uint32_t *freq, const unsigned *used, unsigned m, unsigned count,
                             unsigned maxBits, std::uint8_t *lengths) {
  std::memset(lengths, 0, count);
  if (m < 2) return m;
  unsigned depth[2 * arj::LiteralCount];
  if (HuffmanDepths(freq, used, m, depth) <= maxBits) {
    for (std::size_t i = 0; i < m; i++) lengths[used[i]] = static_cast<std::uint8_t>(depth[i]);
    return static_cast<unsigned>(m);
  }

  // Nodes 0..m-1 are the leaves in ascending weight; every list below starts
  // as the leaves merged with the packages of the previous list.
  std::vector<MergeNode> nodes;
  nodes.reserve(m * (maxBits + 1));
  for (std::size_t i = 0; i < m; i++) nodes.push_back({freq[used[i]], -1 - static_cast<int>(used[i]), 0});
  std::vector<int> list(m), next;
  for (std::size_t i = 0; i < m; i++) list[i] = static_cast<int>(i);
  const std::size_t keep = 2 * m - 2;

  for (unsigned level = 1; level < maxBits; level++) {
    next.clear();
    std::size_t leaf = 0, pair = 0, pairs = list.size() / 2;
    while ((leaf < m || pair < pairs) && next.size() < keep) {
      std::uint64_t packageWeight =
          pair < pairs ? nodes[list[2 * pair]].weight + nodes[list[2 * pair + 1]].weight : 0;
      if (leaf < m && (pair >= pairs || nodes[leaf].weight <= packageWeight)) {
        next.push_back(static_cast<int>(leaf++));
      } else {
        nodes.push_back({packageWeight, list[2 * pair], list[2 * pair + 1]});
        next.push_back(static_cast<int>(nodes.size() - 1));
        pair++;
      }
    }
    list.swap(next);
  }

  // Each time a leaf appears among the chosen items its code grows by a bit.
  std::vector<int> stack(list.begin(), list.begin() + std::min(keep, list.size()));
  while (!stack.empty()) {
    int n = stack.back();
    stack.pop_back();
    if (nodes[n].left < 0) {
      lengths[-1 - nodes[n].left]++;
    } else {
      stack.push_back(nodes[n].left);
      stack.push_back(nodes[n].right);
    }
  }
  return static_cast<unsigned>(m);
}

void BuildCanonicalCodes(const std::uint8_t *lengths, unsigned count, std::uint16_t *codes) {
  unsigned perLength[arj::MaxCodeLength + 1] = {};
  for (unsigned s = 0; s < count; s++) perLength[lengths[s]]++;
  perLength[0] = 0;
  std::uint32_t nextCode[arj::MaxCodeLength + 2] = {};
  std::uint32_t code = 0;
  for (unsigned len = 1; len <= arj::MaxCodeLength; len++) {
    code = (code + perLength[len - 1]) << 1;
    nextCode[len] = code;
  }
  for (unsigned s = 0; s < count; s++)
    codes[s] = lengths[s] ? static_cast<std::uint16_t>(nextCode[lengths[s]]++) : 0;
}
