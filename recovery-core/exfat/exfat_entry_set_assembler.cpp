#include "recovery-core/exfat/exfat_entry_set_assembler.hpp"

#include "recovery-core/exfat/exfat_entry_set.hpp"

namespace kestrel {

namespace {

using namespace exfat_entry;

constexpr std::size_t kEntryBytes = std::tuple_size_v<ExfatDirectoryEntry>;

}  // namespace

ExfatEntrySetAssembler::Outcome ExfatEntrySetAssembler::add(std::span<const std::uint8_t> entry,
                                                            std::uint64_t offset, bool recovered) {
  if (ready_) {
    bytes_.clear();
    wanted_ = 0;
    ready_ = false;
  }
  if (wanted_ == 0) {
    const std::uint8_t type = entry[kType];
    if (type == kEndOfDirectory) return Outcome::EndOfDirectory;
    if ((type & kKindMask) != kFileKind) return Outcome::Pending;
    wanted_ = std::size_t{entry[kSecondaryCount]} + 1;
    offset_ = offset;
    recovered_ = false;
  }
  bytes_.insert(bytes_.end(), entry.begin(), entry.end());
  recovered_ = recovered_ || recovered;
  ready_ = bytes_.size() == wanted_ * kEntryBytes;
  return ready_ ? Outcome::SetReady : Outcome::Pending;
}

}  // namespace kestrel
