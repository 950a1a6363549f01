#include "capture/capture_filter.h"

#include "capture/printed_values.h"

#include <pcap/dlt.h>

#include <algorithm>
#include <vector>

namespace tillwire {

namespace {

// The addresses whose first prefixLength bits equal those of network.
struct Block {
  std::uint32_t network;
  int prefixLength;
};

std::uint32_t Mask(int prefixLength) {
  return prefixLength == 0 ? 0 : ~std::uint32_t{0} << (32 - prefixLength);
}

bool Covers(const Block& outer, const Block& inner) {
  return outer.prefixLength <= inner.prefixLength &&
         (inner.network & Mask(outer.prefixLength)) == outer.network;
}

// The smallest block that holds both a and b.
Block Cover(const Block& a, const Block& b) {
  int length = std::min(a.prefixLength, b.prefixLength);
  while (length > 0 && ((a.network ^ b.network) & Mask(length)) != 0) --length;
  return Block{a.network & Mask(length), length};
}

// The addresses as blocks, in ascending order; while there are more than
// kMaxFilterBlocks, the two neighbours with the smallest cover are merged.
std::vector<Block> Blocks(std::vector<std::uint32_t> addresses) {
  std::sort(addresses.begin(), addresses.end());
  addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
  std::vector<Block> blocks;
  for (const std::uint32_t address : addresses) blocks.push_back(Block{address, 32});
  while (blocks.size() > kMaxFilterBlocks) {
    std::size_t best = 0;
    for (std::size_t i = 1; i + 1 < blocks.size(); ++i) {
      if (Cover(blocks[i], blocks[i + 1]).prefixLength >
          Cover(blocks[best], blocks[best + 1]).prefixLength) {
        best = i;
      }
    }
    const Block merged = Cover(blocks[best], blocks[best + 1]);
    // Blocks are prefixes in order: those the cover holds are its neighbours.
    std::size_t first = best;
    while (first > 0 && Covers(merged, blocks[first - 1])) --first;
    std::size_t last = best + 1;
    while (last + 1 < blocks.size() && Covers(merged, blocks[last + 1])) ++last;
    blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(first + 1),
                 blocks.begin() + static_cast<std::ptrdiff_t>(last + 1));
    blocks[first] = merged;
  }
  return blocks;
}

std::string BlockText(const Block& block) {
  if (block.prefixLength == 32) return "host " + Ipv4Text(block.network);
  return "net " + Ipv4Text(block.network) + "/" + std::to_string(block.prefixLength);
}

}  // namespace

std::string CaptureFilterExpression(const TerminalMatcher& matcher, int dataLinkType) {
  const std::vector<Block> blocks = Blocks(matcher.Addresses());
  if (blocks.empty()) return std::string();
  std::string hosts;
  for (const Block& block : blocks) hosts += (hosts.empty() ? "" : " or ") + BlockText(block);
  const std::string ipv4 = "(ip proto 6 or ip proto 17) and (" + hosts + ")";
  if (dataLinkType != DLT_EN10MB) return ipv4;
  // "vlan" moves the offsets of what follows it, so the untagged test comes first.
  return "(" + ipv4 + ") or (vlan and " + ipv4 + ")";
}

}  // namespace tillwire
