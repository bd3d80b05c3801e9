#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/ntfs/ntfs_geometry.hpp"
#include "recovery-core/ntfs/ntfs_runs.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// A non-resident stream read by its own offsets: each read is mapped through
// the runs onto the volume's clusters; holes read as zeros.
class NtfsStream {
 public:
  NtfsStream(ByteSource& source, const NtfsGeometry& geometry, std::vector<NtfsRun> runs,
             std::uint64_t length);

  std::uint64_t length() const { return length_; }

  // Fills `buffer` from the stream's byte `offset`; a read past the stream's
  // length or its runs is the invalid-structure error.
  std::expected<void, RecoveryError> read(std::uint64_t offset,
                                          std::span<std::uint8_t> buffer) const;

  // Where the stream's byte `offset` lies in the source; nothing in a hole or
  // past the runs.
  std::optional<std::uint64_t> source_offset(std::uint64_t offset) const;

 private:
  ByteSource* source_;
  NtfsGeometry geometry_;
  std::vector<NtfsRun> runs_;
  std::vector<std::uint64_t> run_starts_;  // first stream cluster of each run
  std::uint64_t length_;
};

}  // namespace kestrel
