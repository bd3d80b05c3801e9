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

#include "os/os_error.hpp"
#include "platform/device_identity/storage_structures.hpp"
#include "platform/linux/disks_holding_path.hpp"
#include "platform/linux/sysfs_attribute.hpp"
#include "platform/linux/sysfs_device_facts.hpp"
#include "platform/linux/udev_volume_properties.hpp"
#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};

std::unexpected<PlatformError> failure(int code) {
  return std::unexpected(PlatformError{static_cast<std::uint32_t>(code)});
}

std::string block_device_key(BlockDeviceNumber device) {
  return std::to_string(device.major) + ":" + std::to_string(device.minor);
}

// Writes UTF-8 text into a UTF-16 buffer, NUL-terminated, cut to fit.
void write_units(std::span<char16_t> buffer, const std::optional<std::string>& text) {
  if (buffer.empty()) return;
  const std::u16string units = text ? encode_utf16(*text) : std::u16string();
  const std::size_t count = std::min(units.size(), buffer.size() - 1);
  std::copy_n(units.begin(), count, buffer.begin());
  buffer[count] = u'\0';
}

}  // namespace

struct LinuxDevicePlatform::OpenDevice {
  UniqueFd fd;  // open only for a read handle
  BlockDeviceNumber device;
  std::string disk_name;
  std::filesystem::path disk_sysfs;
  std::filesystem::path node_sysfs;  // the partition's or the disk's own directory
  std::uint32_t sequence = 0;
  std::uint32_t partition_number = 0;
  std::unique_ptr<std::uint8_t, FreeDeleter> bounce;
  std::size_t bounce_size = 0;
  std::size_t bounce_alignment = 0;
};

LinuxDevicePlatform::LinuxDevicePlatform(LinuxSystemPaths paths) : paths_(std::move(paths)) {}

LinuxDevicePlatform::~LinuxDevicePlatform() = default;

LinuxDevicePlatform::OpenDevice* LinuxDevicePlatform::find(DeviceHandle handle) {
  const auto it = open_.find(handle.value);
  return it == open_.end() ? nullptr : it->second.get();
}

std::expected<void, PlatformError> LinuxDevicePlatform::check_same_medium(
    const OpenDevice& device) const {
  std::error_code error;
  const auto node = std::filesystem::canonical(
      paths_.sysfs / "dev" / "block" / block_device_key(device.device), error);
  if (error) return failure(ENODEV);
  const bool partition = std::filesystem::exists(node / "partition", error);
  const auto disk = partition ? node.parent_path() : node;
  if (disk.filename() != device.disk_name) return failure(ENODEV);
  const auto sequence = read_sysfs_number(disk / "diskseq");
  if (!sequence) return failure(ENODEV);
  if (*sequence != device.sequence) return failure(ENOMEDIUM);
  return {};
}

std::expected<DeviceHandle, PlatformError> LinuxDevicePlatform::open(const DevicePath& path,
                                                                     DeviceAccess access) {
  auto disks = scan_block_disks(paths_);
  if (!disks) return failure(disks.error());

  auto device = std::make_unique<OpenDevice>();
  std::string node_name;
  if (path.kind == DevicePath::Kind::PhysicalDrive) {
    const auto disk = std::ranges::find_if(*disks, [&](const BlockDisk& d) {
      return !d.hidden && d.sequence == path.drive_number;
    });
    if (disk == disks->end()) return failure(ENOENT);
    node_name = disk->name;
    device->device = disk->device;
    device->disk_name = disk->name;
    device->disk_sysfs = disk->sysfs;
    device->node_sysfs = disk->sysfs;
    device->sequence = disk->sequence;
  } else {
    const auto volumes = letter_volumes(*disks);
    const auto volume = std::ranges::find(volumes, path.letter, &LetteredVolume::letter);
    if (volume == volumes.end()) return failure(ENOENT);
    const auto disk = std::ranges::find(*disks, volume->disk_sequence, &BlockDisk::sequence);
    node_name = volume->name;
    device->device = volume->device;
    device->disk_name = disk->name;
    device->disk_sysfs = disk->sysfs;
    device->node_sysfs = volume->partition_number == 0 ? disk->sysfs : disk->sysfs / volume->name;
    device->sequence = volume->disk_sequence;
    device->partition_number = volume->partition_number;
  }

  // A handle for queries only needs no rights on the device: it is answered
  // from sysfs, as a Windows handle opened with access 0 is. A read handle
  // opens the device node itself.
  if (access == DeviceAccess::Read) {
    device->fd = UniqueFd(
        ::open(device_node(paths_, node_name).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT));
    if (!device->fd.is_open()) return failure(errno);
    struct stat status {};
    if (::fstat(device->fd.get(), &status) != 0) return failure(errno);
    // The node must still be the device sysfs described (no stale /dev entry).
    if (!S_ISBLK(status.st_mode) || ::major(status.st_rdev) != device->device.major ||
        ::minor(status.st_rdev) != device->device.minor) {
      return failure(ENODEV);
    }
  }
  if (auto same = check_same_medium(*device); !same) return std::unexpected(same.error());

  const DeviceHandle handle{next_handle_++};
  open_.emplace(handle.value, std::move(device));
  return handle;
}

void LinuxDevicePlatform::close(DeviceHandle handle) { open_.erase(handle.value); }

std::expected<std::uint32_t, PlatformError> LinuxDevicePlatform::control(
    DeviceHandle handle, DeviceControl code, std::span<const std::uint8_t> input,
    std::span<std::uint8_t> output) {
  OpenDevice* device = find(handle);
  if (device == nullptr) return failure(EBADF);
  if (auto same = check_same_medium(*device); !same) return std::unexpected(same.error());
  const int fd = device->fd.get();
  const bool from_sysfs = !device->fd.is_open();

  const auto sysfs_number = [](const std::filesystem::path& attribute)
      -> std::expected<std::uint64_t, PlatformError> {
    auto value = read_sysfs_number(attribute);
    if (!value) return failure(ENODEV);
    return *value;
  };
  const auto logical_sector_size = [&]() -> std::expected<std::uint32_t, PlatformError> {
    if (from_sysfs) {
      auto size = sysfs_number(device->disk_sysfs / "queue" / "logical_block_size");
      if (!size) return std::unexpected(size.error());
      return static_cast<std::uint32_t>(*size);
    }
    int size = 0;
    if (::ioctl(fd, BLKSSZGET, &size) != 0) return failure(errno);
    return static_cast<std::uint32_t>(size);
  };
  const auto physical_sector_size = [&]() -> std::expected<std::uint32_t, PlatformError> {
    if (from_sysfs) {
      auto size = sysfs_number(device->disk_sysfs / "queue" / "physical_block_size");
      if (!size) return std::unexpected(size.error());
      return static_cast<std::uint32_t>(*size);
    }
    unsigned int size = 0;
    if (::ioctl(fd, BLKPBSZGET, &size) != 0) return failure(errno);
    return size;
  };
  const auto length = [&]() -> std::expected<std::uint64_t, PlatformError> {
    if (from_sysfs) {
      // sysfs counts 512-byte units whatever the sector size.
      auto sectors = sysfs_number(device->node_sysfs / "size");
      if (!sectors) return std::unexpected(sectors.error());
      return *sectors * 512;
    }
    std::uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return failure(errno);
    return bytes;
  };

  switch (code) {
    case DeviceControl::GetLengthInformation: {
      auto bytes = length();
      if (!bytes) return std::unexpected(bytes.error());
      return copy_answer(encode_length_information(static_cast<std::int64_t>(*bytes)), output);
    }
    case DeviceControl::GetDriveGeometry: {
      auto bytes = length();
      if (!bytes) return std::unexpected(bytes.error());
      auto sector = logical_sector_size();
      if (!sector) return std::unexpected(sector.error());
      const bool removable = read_sysfs_number(device->disk_sysfs / "removable").value_or(0) != 0;
      return copy_answer(encode_disk_geometry(*bytes, *sector, removable), output);
    }
    case DeviceControl::QueryStorageProperty: {
      const auto property = storage_property_id(input);
      if (!property) return failure(EINVAL);
      if (*property == storage_layout::kStorageAccessAlignmentProperty) {
        auto logical = logical_sector_size();
        if (!logical) return std::unexpected(logical.error());
        auto physical = physical_sector_size();
        if (!physical) return std::unexpected(physical.error());
        return copy_answer(encode_alignment_descriptor(*logical, *physical), output);
      }
      if (*property == storage_layout::kStorageDeviceProperty) {
        return copy_answer(encode_storage_device_descriptor(read_sysfs_device_facts(device->disk_sysfs)),
                           output);
      }
      return failure(EOPNOTSUPP);
    }
    case DeviceControl::GetDeviceNumber:
      return copy_answer(encode_device_number(device->sequence, device->partition_number), output);
  }
  return failure(EINVAL);
}

std::expected<std::uint32_t, PlatformError> LinuxDevicePlatform::read_at(
    DeviceHandle handle, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  OpenDevice* device = find(handle);
  if (device == nullptr) return failure(EBADF);
  // A handle opened for queries only may not read, as with access 0 on Windows.
  if (!device->fd.is_open()) return failure(EBADF);
  if (auto same = check_same_medium(*device); !same) return std::unexpected(same.error());
  const int fd = device->fd.get();

  int sector = 0;
  if (::ioctl(fd, BLKSSZGET, &sector) != 0) return failure(errno);
  if (sector <= 0) return failure(EINVAL);
  const auto alignment = static_cast<std::uint64_t>(sector);
  const std::uint64_t start = offset - offset % alignment;
  const std::uint64_t end = offset + buffer.size();
  const std::uint64_t aligned_end = (end + alignment - 1) / alignment * alignment;
  const std::size_t span = static_cast<std::size_t>(aligned_end - start);
  const bool direct = start == offset && aligned_end == end &&
                      reinterpret_cast<std::uintptr_t>(buffer.data()) % alignment == 0;

  std::uint8_t* target = buffer.data();
  if (!direct) {
    if (device->bounce_size < span || device->bounce_alignment != alignment) {
      void* memory = std::aligned_alloc(alignment, span);
      if (memory == nullptr) return failure(ENOMEM);
      device->bounce.reset(static_cast<std::uint8_t*>(memory));
      device->bounce_size = span;
      device->bounce_alignment = alignment;
    }
    target = device->bounce.get();
  }

  ssize_t read_count = -1;
  do {
    read_count = ::pread(fd, target, span, static_cast<off_t>(start));
  } while (read_count < 0 && errno == EINTR);
  if (read_count < 0) return failure(errno);
  // The medium must not have changed while it was read.
  if (auto same = check_same_medium(*device); !same) return std::unexpected(same.error());

  const std::uint64_t head = offset - start;
  const std::uint64_t got = static_cast<std::uint64_t>(read_count);
  const std::uint64_t delivered = got > head ? std::min<std::uint64_t>(got - head, buffer.size()) : 0;
  if (!direct && delivered > 0) std::memcpy(buffer.data(), target + head, delivered);
  return static_cast<std::uint32_t>(delivered);
}

std::uint32_t LinuxDevicePlatform::system_directory(std::span<char16_t> buffer) {
  // The running system's root: it is answered through the disks holding it.
  if (buffer.size() < 2) return 2;
  buffer[0] = u'/';
  buffer[1] = u'\0';
  return 1;
}

std::expected<std::vector<std::uint32_t>, PlatformError> LinuxDevicePlatform::physical_drives_holding(
    const std::filesystem::path& path) {
  auto disks = disks_holding_path(paths_, path);
  if (!disks) return failure(disks.error());
  return *disks;
}

std::expected<std::uint32_t, PlatformError> LinuxDevicePlatform::logical_drives() {
  auto disks = scan_block_disks(paths_);
  if (!disks) return failure(disks.error());
  std::uint32_t mask = 0;
  for (const auto& volume : letter_volumes(*disks)) mask |= std::uint32_t{1} << (volume.letter - 'A');
  return mask;
}

bool LinuxDevicePlatform::volume_information(char letter, std::span<char16_t> label,
                                             std::span<char16_t> file_system) {
  auto disks = scan_block_disks(paths_);
  if (!disks) return false;
  const auto volumes = letter_volumes(*disks);
  const auto volume = std::ranges::find(volumes, letter, &LetteredVolume::letter);
  if (volume == volumes.end()) return false;
  const auto properties = read_udev_volume_properties(paths_, volume->device);
  if (!properties) return false;
  write_units(label, properties->label);
  write_units(file_system, properties->file_system);
  return true;
}

std::expected<std::uint64_t, PlatformError> LinuxDevicePlatform::available_space(
    const std::filesystem::path& directory) {
  struct statvfs status {};
  if (::statvfs(directory.c_str(), &status) != 0) return failure(errno);
  return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

SourceError LinuxDevicePlatform::source_error(PlatformError error) const {
  return source_error_from_errno(static_cast<int>(error.code));
}

std::string LinuxDevicePlatform::error_text(PlatformError error) const {
  return os_error_text(static_cast<int>(error.code));
}

}  // namespace kestrel
