#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/linux_system_paths.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// A block device number (major:minor).
struct BlockDeviceNumber {
  unsigned major = 0;
  unsigned minor = 0;
  friend bool operator==(const BlockDeviceNumber&, const BlockDeviceNumber&) = default;
};

struct BlockPartition {
  std::string name;  // kernel name, e.g. sdb1
  BlockDeviceNumber device;
  std::uint32_t number = 0;        // partition number
  std::uint64_t size_sectors = 0;  // in 512-byte units
};

// A whole disk of /sys/block. Its physical drive number is its disk sequence
// number: unique per disk and medium, never reused while the system runs.
struct BlockDisk {
  std::string name;             // kernel name, e.g. sdb
  std::filesystem::path sysfs;  // /sys/block/<name>
  BlockDeviceNumber device;
  std::uint32_t sequence = 0;      // diskseq
  std::uint64_t size_sectors = 0;  // in 512-byte units
  bool hidden = false;
  std::vector<BlockPartition> partitions;  // by partition number
};

// Every disk of /sys/block that has a disk sequence number, by that number.
// Fails only when /sys/block itself cannot be read.
std::expected<std::vector<BlockDisk>, SourceError> scan_block_disks(const LinuxSystemPaths& paths);

// A volume with a drive letter.
struct LetteredVolume {
  char letter = 'A';
  std::string name;  // kernel name of the partition or disk
  BlockDeviceNumber device;
  std::uint32_t disk_sequence = 0;     // the physical drive number it sits on
  std::uint32_t partition_number = 0;  // 0 for a whole disk without partitions
};

// Drive letters for volumes, in a fixed order: disks by disk sequence number
// (hidden disks skipped); within a disk its partitions by partition number, or
// the whole disk when it has none. Only volumes with a medium (a size above
// zero) get a letter; letters run from A to Z and later volumes get none.
std::vector<LetteredVolume> letter_volumes(std::span<const BlockDisk> disks);

// The /dev node of a kernel block device name ("!" in a name stands for "/").
std::filesystem::path device_node(const LinuxSystemPaths& paths, std::string_view kernel_name);

}  // namespace kestrel
