#include "platform/linux/linux_device_platform.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/linux/disks_holding_path.hpp"
#include "platform/linux/linux_failures.hpp"
#include "platform/linux/sysfs_attribute.hpp"
#include "platform/linux/sysfs_device_facts.hpp"
#include "platform/linux/udev_volume_properties.hpp"
#include "platform/linux/unique_fd.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// sysfs counts sizes in 512-byte units whatever the sector size.
constexpr std::uint64_t kSysfsSectorBytes = 512;

std::unexpected<SourceError> device_error(int code) {
  return std::unexpected(device_failure(code));
}

std::string block_device_key(BlockDeviceNumber device) {
  return std::to_string(device.major) + ":" + std::to_string(device.minor);
}

// A number sysfs publishes about the device; a missing one means the device is gone.
std::expected<std::uint64_t, SourceError> sysfs_number(const std::filesystem::path& attribute) {
  auto value = read_sysfs_number(attribute);
  if (!value) return device_error(ENODEV);
  return *value;
}

// An O_DIRECT read needs a buffer and a span aligned to the sector size.
class AlignedBuffer {
 public:
  std::uint8_t* reserve(std::size_t size, std::size_t alignment) {
    if (size_ < size || alignment_ != alignment) {
      memory_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(alignment, size)));
      size_ = memory_ ? size : 0;
      alignment_ = alignment;
    }
    return memory_.get();
  }

 private:
  struct FreeDeleter {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, FreeDeleter> memory_;
  std::size_t size_ = 0;
  std::size_t alignment_ = 0;
};

// The whole sectors around a request, and whether the request is them.
struct SectorSpan {
  std::uint64_t start = 0;
  std::size_t length = 0;
  std::uint64_t head = 0;  // request offset - start
  bool exact = false;      // the request itself is sector aligned, buffer included
};

SectorSpan sector_span(std::uint64_t offset, std::span<std::uint8_t> buffer, std::uint64_t sector) {
  const std::uint64_t start = offset - offset % sector;
  const std::uint64_t end = offset + buffer.size();
  const std::uint64_t aligned_end = (end + sector - 1) / sector * sector;
  return SectorSpan{start, static_cast<std::size_t>(aligned_end - start), offset - start,
                    start == offset && aligned_end == end &&
                        reinterpret_cast<std::uintptr_t>(buffer.data()) % sector == 0};
}

}  // namespace

struct LinuxDevicePlatform::OpenDevice {
  UniqueFd fd;  // open only for a read handle
  BlockDeviceNumber device;
  std::string node_name;  // the kernel name of the disk or partition
  std::string disk_name;
  std::filesystem::path disk_sysfs;
  std::filesystem::path node_sysfs;  // the partition's or the disk's own directory
  std::uint32_t sequence = 0;
  std::uint32_t partition_number = 0;
  AlignedBuffer bounce;

  bool readable() const { return fd.is_open(); }

  std::expected<std::uint32_t, SourceError> logical_sector_size() const {
    if (!readable()) return sysfs_number(disk_sysfs / "queue" / "logical_block_size");
    int size = 0;
    if (::ioctl(fd.get(), BLKSSZGET, &size) != 0) return device_error(errno);
    return static_cast<std::uint32_t>(size);
  }
  std::expected<std::uint32_t, SourceError> physical_sector_size() const {
    if (!readable()) return sysfs_number(disk_sysfs / "queue" / "physical_block_size");
    unsigned int size = 0;
    if (::ioctl(fd.get(), BLKPBSZGET, &size) != 0) return device_error(errno);
    return size;
  }
  std::expected<std::uint64_t, SourceError> length() const {
    if (!readable()) {
      KESTREL_TRY_ASSIGN(units, sysfs_number(node_sysfs / "size"));
      return *units * kSysfsSectorBytes;
    }
    std::uint64_t bytes = 0;
    if (::ioctl(fd.get(), BLKGETSIZE64, &bytes) != 0) return device_error(errno);
    return bytes;
  }
};

LinuxDevicePlatform::LinuxDevicePlatform(LinuxSystemPaths paths) : paths_(std::move(paths)) {}

LinuxDevicePlatform::~LinuxDevicePlatform() = default;

std::expected<void, SourceError> LinuxDevicePlatform::check_same_medium(
    const OpenDevice& device) const {
  std::error_code error;
  const auto node = std::filesystem::canonical(
      paths_.sysfs / "dev" / "block" / block_device_key(device.device), error);
  if (error) return device_error(ENODEV);
  const bool partition = std::filesystem::exists(node / "partition", error);
  const auto disk = partition ? node.parent_path() : node;
  if (disk.filename() != device.disk_name) return device_error(ENODEV);
  const auto sequence = read_sysfs_number(disk / "diskseq");
  if (!sequence) return device_error(ENODEV);
  if (*sequence != device.sequence) return device_error(ENOMEDIUM);
  return {};
}

std::expected<LinuxDevicePlatform::OpenDevice*, SourceError> LinuxDevicePlatform::on_same_medium(
    DeviceHandle handle) {
  const auto it = open_.find(handle.value);
  if (it == open_.end()) return device_error(EBADF);
  KESTREL_TRY(check_same_medium(*it->second));
  return it->second.get();
}

// A physical drive by its disk sequence number, a volume by its letter.
std::expected<std::unique_ptr<LinuxDevicePlatform::OpenDevice>, SourceError>
LinuxDevicePlatform::locate(const DevicePath& path) const {
  KESTREL_TRY_ASSIGN(disks, scan_block_disks(paths_));
  auto device = std::make_unique<OpenDevice>();
  if (path.kind == DevicePath::Kind::PhysicalDrive) {
    const auto disk = std::ranges::find_if(
        *disks, [&](const BlockDisk& d) { return !d.hidden && d.sequence == path.drive_number; });
    if (disk == disks->end()) return device_error(ENOENT);
    *device = OpenDevice{{},          disk->device,   disk->name, disk->name, disk->sysfs,
                         disk->sysfs, disk->sequence, 0,          {}};
    return device;
  }
  const auto volumes = letter_volumes(*disks);
  const auto volume = std::ranges::find(volumes, path.letter, &LetteredVolume::letter);
  if (volume == volumes.end()) return device_error(ENOENT);
  const auto disk = std::ranges::find(*disks, volume->disk_sequence, &BlockDisk::sequence);
  const auto node_sysfs = volume->partition_number == 0 ? disk->sysfs : disk->sysfs / volume->name;
  *device = OpenDevice{{},          volume->device, volume->name,          disk->name,
                       disk->sysfs, node_sysfs,     volume->disk_sequence, volume->partition_number,
                       {}};
  return device;
}

// Opens the device node for reading, and makes sure it is still the device
// sysfs described (no stale /dev entry).
std::expected<void, SourceError> LinuxDevicePlatform::open_node(OpenDevice& device) const {
  device.fd = UniqueFd(
      ::open(device_node(paths_, device.node_name).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT));
  if (!device.fd.is_open()) return device_error(errno);
  struct stat status{};
  if (::fstat(device.fd.get(), &status) != 0) return device_error(errno);
  if (!S_ISBLK(status.st_mode) || ::major(status.st_rdev) != device.device.major ||
      ::minor(status.st_rdev) != device.device.minor) {
    return device_error(ENODEV);
  }
  return {};
}

std::expected<DeviceHandle, SourceError> LinuxDevicePlatform::open(const DevicePath& path,
                                                                   DeviceAccess access) {
  KESTREL_TRY_ASSIGN(device, locate(path));
  // A handle for queries only needs no rights on the device: it is answered
  // from sysfs. A read handle opens the node itself.
  if (access == DeviceAccess::Read) {
    KESTREL_TRY(open_node(**device));
  }
  KESTREL_TRY(check_same_medium(**device));
  const DeviceHandle handle{next_handle_++};
  open_.emplace(handle.value, std::move(*device));
  return handle;
}

void LinuxDevicePlatform::close(DeviceHandle handle) { open_.erase(handle.value); }

std::expected<std::uint64_t, SourceError> LinuxDevicePlatform::length(DeviceHandle handle) {
  KESTREL_TRY_ASSIGN(device, on_same_medium(handle));
  return (*device)->length();
}

std::optional<AlignmentAnswer> LinuxDevicePlatform::access_alignment(DeviceHandle handle) {
  auto device = on_same_medium(handle);
  if (!device) return std::nullopt;
  auto logical = (*device)->logical_sector_size();
  auto physical = (*device)->physical_sector_size();
  if (!logical || !physical) return std::nullopt;
  return AlignmentAnswer{*logical, *physical};
}

std::expected<std::uint32_t, SourceError> LinuxDevicePlatform::geometry_sector_size(
    DeviceHandle handle) {
  KESTREL_TRY_ASSIGN(device, on_same_medium(handle));
  return (*device)->logical_sector_size();
}

std::expected<StorageDescriptor, SourceError> LinuxDevicePlatform::storage_descriptor(
    DeviceHandle handle) {
  KESTREL_TRY_ASSIGN(device, on_same_medium(handle));
  return read_sysfs_device_facts((*device)->disk_sysfs);
}

std::expected<std::uint32_t, SourceError> LinuxDevicePlatform::device_number(DeviceHandle handle) {
  KESTREL_TRY_ASSIGN(device, on_same_medium(handle));
  return (*device)->sequence;
}

std::expected<std::uint32_t, SourceError> LinuxDevicePlatform::read_at(
    DeviceHandle handle, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  const auto it = open_.find(handle.value);
  // A handle opened for queries only may not read.
  if (it == open_.end() || !it->second->readable()) return device_error(EBADF);
  OpenDevice& device = *it->second;
  KESTREL_TRY(check_same_medium(device));

  KESTREL_TRY_ASSIGN(sector, device.logical_sector_size());
  if (*sector == 0 || *sector > 0x7FFFFFFFu) return device_error(EINVAL);
  const SectorSpan span = sector_span(offset, buffer, *sector);
  std::uint8_t* target = span.exact ? buffer.data() : device.bounce.reserve(span.length, *sector);
  if (target == nullptr) return device_error(ENOMEM);

  ssize_t read_count = -1;
  do {
    read_count = ::pread(device.fd.get(), target, span.length, static_cast<off_t>(span.start));
  } while (read_count < 0 && errno == EINTR);
  if (read_count < 0) return device_error(errno);
  // The medium must not have changed while it was read.
  KESTREL_TRY(check_same_medium(device));

  const auto got = static_cast<std::uint64_t>(read_count);
  const std::uint64_t delivered =
      got > span.head ? std::min<std::uint64_t>(got - span.head, buffer.size()) : 0;
  if (!span.exact && delivered > 0) std::memcpy(buffer.data(), target + span.head, delivered);
  return static_cast<std::uint32_t>(delivered);
}

std::optional<std::string> LinuxDevicePlatform::system_directory() {
  // The running system's root, placed through the disks holding it.
  return "/";
}

std::expected<std::vector<std::uint32_t>, SourceError> LinuxDevicePlatform::physical_drives_holding(
    const std::filesystem::path& path) {
  return disks_holding_path(paths_, path);
}

std::expected<std::uint32_t, SourceError> LinuxDevicePlatform::logical_drives() {
  KESTREL_TRY_ASSIGN(disks, scan_block_disks(paths_));
  std::uint32_t mask = 0;
  for (const auto& volume : letter_volumes(*disks))
    mask |= std::uint32_t{1} << (volume.letter - 'A');
  return mask;
}

std::optional<VolumeInformation> LinuxDevicePlatform::volume_information(char letter) {
  auto disks = scan_block_disks(paths_);
  if (!disks) return std::nullopt;
  const auto volumes = letter_volumes(*disks);
  const auto volume = std::ranges::find(volumes, letter, &LetteredVolume::letter);
  if (volume == volumes.end()) return std::nullopt;
  const auto properties = read_udev_volume_properties(paths_, volume->device);
  if (!properties) return std::nullopt;
  return VolumeInformation{properties->label.value_or(""), properties->file_system.value_or("")};
}

std::expected<std::uint64_t, SourceError> LinuxDevicePlatform::available_space(
    const std::filesystem::path& directory) {
  struct statvfs status{};
  if (::statvfs(directory.c_str(), &status) != 0) return std::unexpected(service_failure(errno));
  return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

}  // namespace kestrel
