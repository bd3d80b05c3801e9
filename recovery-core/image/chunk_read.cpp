#include "recovery-core/image/chunk_read.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "recovery-core/image/imaging_messages.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// Up to 1 + read_retries attempts, one after another, stopping at success or
// at an error that is not the generic I/O kind.
std::expected<void, SourceError> read_with_retries(DeviceReader& reader, std::uint8_t retries,
                                                   std::uint64_t offset,
                                                   std::span<std::uint8_t> buffer) {
  auto read = reader.read_at(offset, buffer);
  for (unsigned attempt = 1; !read && read.error().is_generic_io() && attempt <= retries;
       ++attempt) {
    read = reader.read_at(offset, buffer);
  }
  return read;
}

// Re-reads an unreadable chunk one sector at a time; sectors that still fail
// with the generic I/O error become zeros and read-error ranges.
std::expected<void, RecoveryError> read_sector_by_sector(DeviceReader& reader,
                                                         const ImagingOptions& options,
                                                         std::uint64_t offset,
                                                         std::span<std::uint8_t> chunk,
                                                         std::vector<ReadErrorRange>& zero_filled,
                                                         const std::atomic<bool>& stop) {
  const std::uint64_t sector = reader.expected_identity().logical_sector_size;
  if (sector == 0 || chunk.size() % sector != 0) {
    return std::unexpected(RecoveryError::invalid_structure(
        std::string(imaging_messages::kFallbackNeedsAlignedChunks)));
  }
  for (std::uint64_t k = 0; (k + 1) * sector <= chunk.size(); ++k) {
    if (stop.load()) return std::unexpected(RecoveryError::interrupted());
    auto within = checked_mul(k, sector);
    if (!within) return std::unexpected(within.error());
    auto sector_offset = checked_add(offset, *within);
    if (!sector_offset) return std::unexpected(sector_offset.error());
    const auto slice =
        chunk.subspan(static_cast<std::size_t>(*within), static_cast<std::size_t>(sector));
    auto read = read_with_retries(reader, options.read_retries, *sector_offset, slice);
    if (read) continue;
    if (!read.error().may_be_zero_filled()) {
      return std::unexpected(RecoveryError(std::move(read.error())));
    }
    std::ranges::fill(slice, std::uint8_t{0});
    auto recorded =
        record_read_error(zero_filled, {*sector_offset, sector, read.error().message()});
    if (!recorded) return std::unexpected(recorded.error());
  }
  return {};
}

}  // namespace

std::expected<void, RecoveryError> read_chunk(DeviceReader& reader, const ImagingOptions& options,
                                              std::uint64_t offset, std::span<std::uint8_t> chunk,
                                              std::vector<ReadErrorRange>& zero_filled,
                                              const std::atomic<bool>& stop) {
  auto read = read_with_retries(reader, options.read_retries, offset, chunk);
  if (read) return {};
  // Only a failed transfer of the generic kind is taken for unreadable
  // sectors; a generic failure of the checks before it (the device described
  // again) means the device cannot be trusted and ends the run.
  if (!read.error().may_be_zero_filled() || !options.sector_fallback) {
    return std::unexpected(RecoveryError(std::move(read.error())));
  }
  return read_sector_by_sector(reader, options, offset, chunk, zero_filled, stop);
}

}  // namespace kestrel
