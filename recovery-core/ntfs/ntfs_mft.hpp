#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/ntfs/ntfs_boot_sector.hpp"
#include "recovery-core/ntfs/ntfs_geometry.hpp"
#include "recovery-core/ntfs/ntfs_record.hpp"
#include "recovery-core/ntfs/ntfs_stream.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The master file table: every record of the volume, reached through the runs
// of $MFT's own data as its first record lists them (or, when that record is
// damaged, its copy in $MFTMirr).
class NtfsMft {
 public:
  static std::expected<NtfsMft, RecoveryError> open(ByteSource& source, const NtfsBootSector& boot,
                                                    const NtfsGeometry& geometry);

  std::uint64_t record_count() const { return record_count_; }
  const NtfsGeometry& geometry() const { return geometry_; }
  ByteSource& source() const { return *source_; }
  // Whether record 0 was damaged and its mirror copy was used.
  bool used_mirror() const { return used_mirror_; }
  // Whether $MFT lists more of its data in other records than this reader follows.
  bool continues_elsewhere() const { return continues_elsewhere_; }

  // The record's bytes as stored (fixups not applied).
  std::expected<std::vector<std::uint8_t>, RecoveryError> read_raw(std::uint64_t number);
  // The record read and parsed; a fault when it is unused or damaged.
  std::expected<std::expected<NtfsRecord, NtfsRecordFault>, RecoveryError> read(
      std::uint64_t number);
  // Records [first, first + count) as stored, one read per run they lie in.
  std::expected<void, RecoveryError> read_block(std::uint64_t first, std::uint64_t count,
                                                std::vector<std::uint8_t>& bytes);
  // Where the record's first byte is in the source, when it lies in a run.
  std::optional<std::uint64_t> record_offset(std::uint64_t number) const;

 private:
  NtfsMft(ByteSource& source, NtfsStream stream, const NtfsGeometry& geometry)
      : source_(&source), stream_(std::move(stream)), geometry_(geometry) {}

  ByteSource* source_;
  NtfsStream stream_;
  NtfsGeometry geometry_;
  std::uint64_t record_count_ = 0;
  bool used_mirror_ = false;
  bool continues_elsewhere_ = false;
};

}  // namespace kestrel
