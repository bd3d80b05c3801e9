#include "platform/linux/disks_holding_path.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/linux/linux_failures.hpp"
#include "platform/linux/sysfs_attribute.hpp"

namespace kestrel {

namespace {

constexpr int kMaximumDepth = 16;

void collect(const std::filesystem::path& node, int depth, std::set<std::filesystem::path>& seen,
             std::vector<std::uint32_t>& sequences) {
  if (depth > kMaximumDepth || !seen.insert(node).second) return;
  std::error_code error;
  // A partition's whole disk is its parent directory in sysfs.
  const bool partition = std::filesystem::exists(node / "partition", error);
  const std::filesystem::path disk = partition ? node.parent_path() : node;
  if (auto sequence = read_sysfs_number(disk / "diskseq"); sequence && *sequence <= 0xFFFFFFFEu) {
    const auto value = static_cast<std::uint32_t>(*sequence);
    if (std::ranges::find(sequences, value) == sequences.end()) sequences.push_back(value);
  }
  for (const auto& slave :
       list_sysfs_directory(disk / "slaves").value_or(std::vector<std::filesystem::path>{})) {
    const auto resolved = std::filesystem::canonical(slave, error);
    if (!error) collect(resolved, depth + 1, seen, sequences);
  }
}

// The source device of the mount whose device number is the given one, from
// the mount table (for file systems whose st_dev is not the block device).
std::optional<BlockDeviceNumber> mount_source_device(const LinuxSystemPaths& paths,
                                                     BlockDeviceNumber mounted) {
  std::ifstream table(paths.mountinfo);
  std::string line;
  const std::string wanted = std::to_string(mounted.major) + ":" + std::to_string(mounted.minor);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, device;
    if (!(fields >> id >> parent >> device) || device != wanted) continue;
    const auto separator = line.find(" - ");
    if (separator == std::string::npos) continue;
    std::istringstream tail(line.substr(separator + 3));
    std::string type, source;
    if (!(tail >> type >> source) || !source.starts_with("/dev/")) continue;
    struct stat status{};
    if (::stat(source.c_str(), &status) == 0 && S_ISBLK(status.st_mode)) {
      return BlockDeviceNumber{::major(status.st_rdev), ::minor(status.st_rdev)};
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::uint32_t> disks_holding_device(const LinuxSystemPaths& paths,
                                                BlockDeviceNumber device) {
  std::vector<std::uint32_t> sequences;
  std::error_code error;
  const auto node = std::filesystem::canonical(
      paths.sysfs / "dev" / "block" /
          (std::to_string(device.major) + ":" + std::to_string(device.minor)),
      error);
  if (error) return sequences;
  std::set<std::filesystem::path> seen;
  collect(node, 0, seen, sequences);
  return sequences;
}

std::expected<std::vector<std::uint32_t>, SourceError> disks_holding_path(
    const LinuxSystemPaths& paths, const std::filesystem::path& path) {
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0) return std::unexpected(service_failure(errno));
  const dev_t raw = S_ISBLK(status.st_mode) ? status.st_rdev : status.st_dev;
  const BlockDeviceNumber device{::major(raw), ::minor(raw)};
  auto sequences = disks_holding_device(paths, device);
  if (sequences.empty() && !S_ISBLK(status.st_mode)) {
    if (auto source = mount_source_device(paths, device)) {
      sequences = disks_holding_device(paths, *source);
    }
  }
  return sequences;
}

}  // namespace kestrel
