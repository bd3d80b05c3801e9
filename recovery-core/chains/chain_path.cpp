#include "recovery-core/chains/chain_path.hpp"

namespace kestrel {

namespace {

constexpr unsigned kFirstBits = 10;

}  // namespace

void ChainPath::start() {
  clusters_.clear();
  ++walk_;
  if (walk_ == 0) {
    // After 2^32 walks the marks come round again: clear them all once.
    for (Slot& slot : slots_) slot.walk = 0;
    walk_ = 1;
  }
}

std::optional<std::uint32_t> ChainPath::find(std::uint32_t cluster) const {
  if (slots_.empty()) return std::nullopt;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash_.slot(cluster, bits_);; slot = (slot + 1) & mask) {
    const Slot& held = slots_[slot];
    if (held.walk != walk_) return std::nullopt;
    if (held.cluster == cluster) return held.index;
  }
}

void ChainPath::push(std::uint32_t cluster) {
  // At most half the slots are used, so a probe always meets one of another walk.
  if ((clusters_.size() + 1) * 2 > slots_.size()) grow();
  const auto index = static_cast<std::uint32_t>(clusters_.size());
  clusters_.push_back(cluster);
  place(cluster, index);
}

void ChainPath::place(std::uint32_t cluster, std::uint32_t index) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hash_.slot(cluster, bits_);
  while (slots_[slot].walk == walk_) slot = (slot + 1) & mask;
  slots_[slot] = Slot{cluster, index, walk_};
}

void ChainPath::grow() {
  bits_ = slots_.empty() ? kFirstBits : bits_ + 1;
  slots_.assign(std::size_t{1} << bits_, Slot{});
  // The marks of earlier walks are gone with the old slots.
  walk_ = 1;
  for (std::size_t index = 0; index < clusters_.size(); ++index) {
    place(clusters_[index], static_cast<std::uint32_t>(index));
  }
}

}  // namespace kestrel
