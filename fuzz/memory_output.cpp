#include "fuzz/memory_output.hpp"

#include "fuzz/fuzz_check.hpp"

namespace kestrel::fuzzing {

std::expected<void, RecoveryError> MemoryOutput::write(std::span<const std::uint8_t> bytes) {
  require(!finished_, "nothing is written after finish");
  require(bytes.size() <= limit_ - bytes_.size(), "no more bytes are written than were planned");
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return {};
}

std::expected<void, RecoveryError> MemoryOutput::finish() {
  require(!finished_, "an extraction finishes once");
  finished_ = true;
  return {};
}

}  // namespace kestrel::fuzzing
