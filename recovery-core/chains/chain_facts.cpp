#include "recovery-core/chains/chain_facts.hpp"

namespace kestrel {

namespace {

constexpr unsigned kFirstBits = 10;
constexpr std::uint32_t kUnreadableFlag = 0x80000000u;
constexpr std::uint32_t kOnLoopFlag = 0x40000000u;
constexpr std::uint32_t kLengthMask = 0x3FFFFFFFu;

}  // namespace

std::optional<ChainAnchor> ChainFactTable::find(std::uint32_t cluster) const {
  if (slots_.empty() || cluster < 2) return std::nullopt;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = home(cluster);; slot = (slot + 1) & mask) {
    const Slot& held = slots_[slot];
    if (held.cluster == 0) return std::nullopt;
    if (held.cluster == cluster) {
      ChainAnchor anchor;
      anchor.facts.length = held.length_and_flags & kLengthMask;
      anchor.facts.ends_unreadable = (held.length_and_flags & kUnreadableFlag) != 0;
      anchor.facts.unmapped_index = held.unmapped_index;
      anchor.on_loop = (held.length_and_flags & kOnLoopFlag) != 0;
      anchor.previous_on_loop = held.previous_on_loop;
      return anchor;
    }
  }
}

bool ChainFactTable::insert(std::uint32_t cluster, const ChainAnchor& anchor) {
  if (cluster < 2) return true;
  if (size_ >= max_entries_) return false;
  // At most three quarters of the slots are used, so a probe always meets an empty one.
  if ((size_ + 1) * 4 > slots_.size() * 3) grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = home(cluster);; slot = (slot + 1) & mask) {
    Slot& held = slots_[slot];
    if (held.cluster == cluster) return true;
    if (held.cluster == 0) {
      const std::uint32_t flags =
          (anchor.facts.ends_unreadable ? kUnreadableFlag : 0) | (anchor.on_loop ? kOnLoopFlag : 0);
      held = Slot{cluster, (anchor.facts.length & kLengthMask) | flags, anchor.facts.unmapped_index,
                  anchor.previous_on_loop};
      ++size_;
      return true;
    }
  }
}

void ChainFactTable::grow() {
  std::vector<Slot> old = std::move(slots_);
  bits_ = old.empty() ? kFirstBits : bits_ + 1;
  slots_.assign(std::size_t{1} << bits_, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& held : old) {
    if (held.cluster == 0) continue;
    std::size_t slot = home(held.cluster);
    while (slots_[slot].cluster != 0) slot = (slot + 1) & mask;
    slots_[slot] = held;
  }
}

void ChainFactTable::clear() {
  slots_.clear();
  slots_.shrink_to_fit();
  bits_ = 0;
  size_ = 0;
}

}  // namespace kestrel
