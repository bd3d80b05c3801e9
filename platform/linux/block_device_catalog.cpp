#include "platform/linux/block_device_catalog.hpp"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "platform/linux/sysfs_attribute.hpp"

namespace kestrel {

namespace {

constexpr unsigned kLetterCount = 26;

}  // namespace

std::optional<BlockDeviceNumber> parse_block_device_number(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  BlockDeviceNumber number;
  const auto major_text = text.substr(0, colon);
  const auto minor_text = text.substr(colon + 1);
  auto [major_end, major_error] =
      std::from_chars(major_text.data(), major_text.data() + major_text.size(), number.major);
  auto [minor_end, minor_error] =
      std::from_chars(minor_text.data(), minor_text.data() + minor_text.size(), number.minor);
  if (major_error != std::errc() || minor_error != std::errc() || major_text.empty() ||
      minor_text.empty() || major_end != major_text.data() + major_text.size() ||
      minor_end != minor_text.data() + minor_text.size()) {
    return std::nullopt;
  }
  return number;
}

std::expected<std::vector<BlockDisk>, int> scan_block_disks(const LinuxSystemPaths& paths) {
  std::error_code error;
  std::filesystem::directory_iterator entries(paths.sysfs / "block", error);
  if (error) return std::unexpected(error.value());

  std::vector<BlockDisk> disks;
  for (const auto& entry : entries) {
    BlockDisk disk;
    disk.name = entry.path().filename().string();
    disk.sysfs = entry.path();
    const auto sequence = read_sysfs_number(disk.sysfs / "diskseq");
    const auto device = read_sysfs_text(disk.sysfs / "dev");
    if (!sequence || *sequence > 0xFFFFFFFEu || !device) continue;
    const auto number = parse_block_device_number(*device);
    if (!number) continue;
    disk.sequence = static_cast<std::uint32_t>(*sequence);
    disk.device = *number;
    disk.size_sectors = read_sysfs_number(disk.sysfs / "size").value_or(0);
    disk.hidden = read_sysfs_number(disk.sysfs / "hidden").value_or(0) != 0;

    std::error_code child_error;
    for (const auto& child : std::filesystem::directory_iterator(disk.sysfs, child_error)) {
      const auto partition_number = read_sysfs_number(child.path() / "partition");
      const auto partition_device = read_sysfs_text(child.path() / "dev");
      if (!partition_number || !partition_device || *partition_number > 0xFFFFFFFFu) continue;
      const auto partition_device_number = parse_block_device_number(*partition_device);
      if (!partition_device_number) continue;
      disk.partitions.push_back(BlockPartition{
          child.path().filename().string(), *partition_device_number,
          static_cast<std::uint32_t>(*partition_number),
          read_sysfs_number(child.path() / "size").value_or(0)});
    }
    std::ranges::sort(disk.partitions, {}, &BlockPartition::number);
    disks.push_back(std::move(disk));
  }
  std::ranges::sort(disks, {}, &BlockDisk::sequence);
  return disks;
}

std::vector<LetteredVolume> letter_volumes(std::span<const BlockDisk> disks) {
  std::vector<const BlockDisk*> ordered;
  for (const auto& disk : disks) {
    if (!disk.hidden) ordered.push_back(&disk);
  }
  std::ranges::stable_sort(ordered, {}, [](const BlockDisk* d) { return d->sequence; });

  std::vector<LetteredVolume> volumes;
  const auto add = [&volumes](const std::string& name, BlockDeviceNumber device,
                              std::uint32_t sequence, std::uint32_t partition) {
    if (volumes.size() >= kLetterCount) return;
    volumes.push_back(LetteredVolume{static_cast<char>('A' + volumes.size()), name, device,
                                     sequence, partition});
  };
  for (const BlockDisk* disk : ordered) {
    if (disk->partitions.empty()) {
      if (disk->size_sectors > 0) add(disk->name, disk->device, disk->sequence, 0);
      continue;
    }
    for (const auto& partition : disk->partitions) {
      if (partition.size_sectors > 0) {
        add(partition.name, partition.device, disk->sequence, partition.number);
      }
    }
  }
  return volumes;
}

std::filesystem::path device_node(const LinuxSystemPaths& paths, std::string_view kernel_name) {
  std::string name(kernel_name);
  std::ranges::replace(name, '!', '/');
  return paths.dev / name;
}

}  // namespace kestrel
