#include "recovery-core/ntfs/ntfs_runs.hpp"

#include <algorithm>

namespace kestrel {

namespace {

// `size` bytes at `at`, little-endian, sign-extended when `is_signed`.
std::int64_t field_value(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size,
                         bool is_signed) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{bytes[at + i]} << (8 * i);
  if (is_signed && size < 8 && (bytes[at + size - 1] & 0x80) != 0) {
    value |= ~std::uint64_t{0} << (8 * size);
  }
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::optional<std::vector<NtfsRun>> decode_ntfs_runs(std::span<const std::uint8_t> bytes,
                                                     std::uint64_t cluster_count,
                                                     std::size_t most_runs) {
  std::vector<NtfsRun> runs;
  std::int64_t cluster = 0;
  std::size_t at = 0;
  while (at < bytes.size() && bytes[at] != 0) {
    const std::size_t length_size = bytes[at] & 0x0F;
    const std::size_t offset_size = bytes[at] >> 4;
    ++at;
    if (length_size == 0 || length_size > 8 || offset_size > 8 ||
        length_size + offset_size > bytes.size() - at || runs.size() == most_runs) {
      return std::nullopt;
    }
    const auto length = static_cast<std::uint64_t>(field_value(bytes, at, length_size, false));
    at += length_size;
    if (length == 0 || length > cluster_count) return std::nullopt;
    if (offset_size == 0) {
      runs.push_back({0, length, true});
      continue;
    }
    const std::int64_t delta = field_value(bytes, at, offset_size, true);
    at += offset_size;
    // Both stay far inside 64 bits: the cluster is below cluster_count (< 2^48)
    // before the step, and a step of more than 2^56 is refused.
    if (delta > (std::int64_t{1} << 56) || delta < -(std::int64_t{1} << 56)) return std::nullopt;
    cluster += delta;
    if (cluster < 0 || static_cast<std::uint64_t>(cluster) > cluster_count - length) {
      return std::nullopt;
    }
    runs.push_back({static_cast<std::uint64_t>(cluster), length, false});
  }
  return runs;
}

std::uint64_t run_clusters(std::span<const NtfsRun> runs) {
  // Each length is below 2^48; the sum stops at 2^62, far past any volume.
  constexpr std::uint64_t kCeiling = std::uint64_t{1} << 62;
  std::uint64_t total = 0;
  for (const NtfsRun& run : runs) total = std::min(total + run.length, kCeiling);
  return total;
}

}  // namespace kestrel
