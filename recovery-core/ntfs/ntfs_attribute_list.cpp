#include "recovery-core/ntfs/ntfs_attribute_list.hpp"

#include <algorithm>
#include <set>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/ntfs/ntfs_record_limits.hpp"
#include "recovery-core/ntfs/ntfs_runs.hpp"
#include "recovery-core/ntfs/ntfs_stream.hpp"

namespace kestrel {

namespace {

// A list held outside the record is read up to this size: far more entries
// than the extension records taken.
constexpr std::uint64_t kLargestListBytes = std::uint64_t{256} * 1024;
constexpr std::size_t kMostExtensionRecords = 256;
constexpr std::size_t kEntryHeaderBytes = 26;

// The list's bytes, resident or read through its runs.
std::expected<std::vector<std::uint8_t>, RecoveryError> list_bytes(NtfsMft& mft,
                                                                   const NtfsAttribute& list) {
  if (list.resident) return std::vector<std::uint8_t>(list.value.begin(), list.value.end());
  auto runs = decode_ntfs_runs(list.runs, mft.geometry().cluster_count, kMostRunsPerStream);
  if (!runs) return std::vector<std::uint8_t>{};
  const NtfsStream stream(mft.source(), mft.geometry(), std::move(*runs),
                          std::min(list.data_size, kLargestListBytes));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stream.length()));
  KESTREL_TRY(stream.read(0, bytes));
  return bytes;
}

// The records the list's entries name, other than the base itself, in order.
std::vector<NtfsReference> named_records(std::span<const std::uint8_t> bytes,
                                         std::uint64_t number) {
  std::vector<NtfsReference> records;
  std::set<std::uint64_t> seen;
  std::size_t at = 0;
  while (at + kEntryHeaderBytes <= bytes.size() && records.size() < kMostExtensionRecords) {
    const std::size_t length = read_u16_le(bytes, at + 4).value_or(0);
    if (length < kEntryHeaderBytes || length > bytes.size() - at) break;
    const NtfsReference holder = NtfsReference::from_bits(read_u64_le(bytes, at + 16).value_or(0));
    if (holder.record != number && seen.insert(holder.record).second) records.push_back(holder);
    at += (length + 7) / 8 * 8;
  }
  return records;
}

}  // namespace

std::expected<std::vector<NtfsRecord>, RecoveryError> ntfs_extension_records(
    NtfsMft& mft, std::uint64_t number, const NtfsRecord& base) {
  std::vector<NtfsRecord> extensions;
  const NtfsAttribute* list = base.first(NtfsAttributeType::AttributeList);
  if (list == nullptr) return extensions;
  KESTREL_TRY_ASSIGN(bytes, list_bytes(mft, *list));
  for (const NtfsReference& holder : named_records(*bytes, number)) {
    if (holder.record >= mft.record_count()) continue;
    KESTREL_TRY_ASSIGN(record, mft.read(holder.record));
    if (!*record || (*record)->base.record != number ||
        ((*record)->base.sequence != 0 && (*record)->base.sequence != base.sequence &&
         static_cast<std::uint16_t>((*record)->base.sequence + 1) != base.sequence)) {
      continue;
    }
    extensions.push_back(std::move(**record));
  }
  return extensions;
}

}  // namespace kestrel
