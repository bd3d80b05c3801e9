#include "platform/linux/block_device_catalog.hpp"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "platform/linux/sysfs_attribute.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

constexpr unsigned kLetterCount = 26;

// "8:17" as a device number.
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

// A partition directory below a disk in sysfs; nothing for any other entry.
std::optional<BlockPartition> read_partition(const std::filesystem::path& directory) {
  const auto number = read_sysfs_number(directory / "partition");
  const auto device_text = read_sysfs_text(directory / "dev");
  if (!number || !device_text || *number > 0xFFFFFFFFu) return std::nullopt;
  const auto device = parse_block_device_number(*device_text);
  if (!device) return std::nullopt;
  return BlockPartition{directory.filename().string(), *device, static_cast<std::uint32_t>(*number),
                        read_sysfs_number(directory / "size").value_or(0)};
}

// A disk of /sys/block with its partitions; nothing for one without a disk
// sequence number.
std::optional<BlockDisk> read_block_disk(const std::filesystem::path& directory) {
  BlockDisk disk;
  disk.name = directory.filename().string();
  disk.sysfs = directory;
  const auto sequence = read_sysfs_number(directory / "diskseq");
  const auto device_text = read_sysfs_text(directory / "dev");
  if (!sequence || *sequence > 0xFFFFFFFEu || !device_text) return std::nullopt;
  const auto device = parse_block_device_number(*device_text);
  if (!device) return std::nullopt;
  disk.sequence = static_cast<std::uint32_t>(*sequence);
  disk.device = *device;
  disk.size_sectors = read_sysfs_number(directory / "size").value_or(0);
  disk.hidden = read_sysfs_number(directory / "hidden").value_or(0) != 0;
  // A disk whose directory cannot be walked is taken without partitions.
  for (const auto& child :
       list_sysfs_directory(directory).value_or(std::vector<std::filesystem::path>{})) {
    if (auto partition = read_partition(child)) disk.partitions.push_back(std::move(*partition));
  }
  std::ranges::sort(disk.partitions, {}, &BlockPartition::number);
  return disk;
}

}  // namespace

std::expected<std::vector<BlockDisk>, SourceError> scan_block_disks(const LinuxSystemPaths& paths) {
  KESTREL_TRY_ASSIGN(entries, list_sysfs_directory(paths.sysfs / "block"));
  std::vector<BlockDisk> disks;
  for (const auto& entry : *entries) {
    if (auto disk = read_block_disk(entry)) disks.push_back(std::move(*disk));
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
    volumes.push_back(
        LetteredVolume{static_cast<char>('A' + volumes.size()), name, device, sequence, partition});
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
