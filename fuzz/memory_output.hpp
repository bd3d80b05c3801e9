#pragma once

#include <cstdint>
#include <vector>

#include "recovery-core/extraction/extraction_output.hpp"

namespace kestrel::fuzzing {

// An extraction kept in memory. It holds at most `limit` bytes (the length the
// extraction planned): a write past it breaks a property, as does any call
// after finish.
class MemoryOutput final : public ExtractionOutput {
 public:
  explicit MemoryOutput(std::uint64_t limit) : limit_(limit) {}

  std::expected<void, RecoveryError> write(std::span<const std::uint8_t> bytes) override;
  std::expected<void, RecoveryError> finish() override;

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  bool finished() const { return finished_; }

 private:
  std::uint64_t limit_;
  bool finished_ = false;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace kestrel::fuzzing
