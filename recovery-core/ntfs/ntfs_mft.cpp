#include "recovery-core/ntfs/ntfs_mft.hpp"

#include <string>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/ntfs/ntfs_messages.hpp"
#include "recovery-core/ntfs/ntfs_record_limits.hpp"

namespace kestrel {

namespace {

// Record 0 from the cluster it starts at; nothing when it is unused or damaged.
std::expected<std::optional<NtfsRecord>, RecoveryError> first_record_at(
    ByteSource& source, const NtfsGeometry& geometry, std::uint64_t cluster) {
  std::vector<std::uint8_t> bytes(geometry.record_size);
  KESTREL_TRY(read_exact(source, geometry.cluster_offset(cluster), bytes));
  auto record = parse_ntfs_record(std::move(bytes));
  if (!record) return std::nullopt;
  return std::optional<NtfsRecord>(std::move(*record));
}

// The unnamed $DATA of $MFT's record that starts at stream cluster 0.
const NtfsAttribute* mft_data(const NtfsRecord& record) {
  for (const NtfsAttribute& attribute : record.attributes) {
    if (attribute.type == static_cast<std::uint32_t>(NtfsAttributeType::Data) &&
        attribute.name.empty() && !attribute.resident && attribute.first_vcn == 0) {
      return &attribute;
    }
  }
  return nullptr;
}

}  // namespace

std::expected<NtfsMft, RecoveryError> NtfsMft::open(ByteSource& source, const NtfsBootSector& boot,
                                                    const NtfsGeometry& geometry) {
  bool used_mirror = false;
  KESTREL_TRY_ASSIGN(record, first_record_at(source, geometry, boot.mft_cluster));
  const NtfsAttribute* data = *record ? mft_data(**record) : nullptr;
  if (data == nullptr) {
    KESTREL_TRY_ASSIGN(mirror, first_record_at(source, geometry, boot.mft_mirror_cluster));
    record = std::move(mirror);
    data = *record ? mft_data(**record) : nullptr;
    used_mirror = true;
  }
  if (data == nullptr) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kNtfsMftUnreadable)));
  }
  auto runs = decode_ntfs_runs(data->runs, geometry.cluster_count, kMostRunsPerStream);
  if (!runs || runs->empty()) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kNtfsMftUnreadable)));
  }
  NtfsStream stream(source, geometry, *runs, data->data_size);
  const std::uint64_t count = stream.length() / geometry.record_size;
  NtfsMft mft(source, std::move(stream), geometry);
  mft.record_count_ = count;
  mft.used_mirror_ = used_mirror;
  mft.continues_elsewhere_ = (*record)->first(NtfsAttributeType::AttributeList) != nullptr &&
                             run_clusters(*runs) * geometry.cluster_size < data->data_size;
  return mft;
}

std::expected<std::vector<std::uint8_t>, RecoveryError> NtfsMft::read_raw(std::uint64_t number) {
  if (number >= record_count_) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kNtfsRecordOutsideMft)));
  }
  std::vector<std::uint8_t> bytes(geometry_.record_size);
  KESTREL_TRY(stream_.read(number * geometry_.record_size, bytes));
  return bytes;
}

std::expected<std::expected<NtfsRecord, NtfsRecordFault>, RecoveryError> NtfsMft::read(
    std::uint64_t number) {
  KESTREL_TRY_ASSIGN(bytes, read_raw(number));
  return parse_ntfs_record(std::move(*bytes));
}

std::expected<void, RecoveryError> NtfsMft::read_block(std::uint64_t first, std::uint64_t count,
                                                       std::vector<std::uint8_t>& bytes) {
  if (first > record_count_ || count > record_count_ - first) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kNtfsRecordOutsideMft)));
  }
  bytes.resize(static_cast<std::size_t>(count * geometry_.record_size));
  return stream_.read(first * geometry_.record_size, bytes);
}

std::optional<std::uint64_t> NtfsMft::record_offset(std::uint64_t number) const {
  return stream_.source_offset(number * geometry_.record_size);
}

}  // namespace kestrel
