#include "platform/device_identity/raw_device_source.hpp"

#include <limits>
#include <utility>

#include "platform/device_identity/describe_device.hpp"
#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/system_disk_status.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/source/read_validation.hpp"

namespace kestrel {

namespace {

// What refuses a device before it is opened: its expected description's
// guards, then the system-disk status asked now.
std::expected<void, SourceError> refuse_before_opening(DevicePlatform& platform,
                                                       const DeviceInfo& expected) {
  if (auto readable = check_readable(expected); !readable) return readable;
  return refuse_system_disk(platform, expected.physical_drive_number);
}

// Opens the path for reading and keeps it only when what it leads to is the
// expected device. The system disk was refused just before, so the fresh
// description takes that status instead of asking again.
std::expected<OpenedDevice, SourceError> open_against(DevicePlatform& platform,
                                                      const DevicePath& path,
                                                      const DeviceInfo& expected) {
  const std::uint32_t drive_number = expected.physical_drive_number;
  KESTREL_TRY_ASSIGN(handle, open_device(platform, path, DeviceAccess::Read));
  if (path.kind == DevicePath::Kind::Volume) {
    KESTREL_TRY_ASSIGN(number, platform.device_number(handle->get()));
    if (*number != drive_number) {
      return std::unexpected(SourceError::identity_mismatch("physical_drive_number"));
    }
  }
  auto observed =
      describe_device(platform, handle->get(), drive_number, SystemDiskStatus::ConfirmedNonSystem);
  if (!observed) return std::unexpected(observed.error());
  KESTREL_TRY(compare_identity(expected, *observed));
  return OpenedDevice{std::move(*handle), drive_number, expected};
}

}  // namespace

std::expected<OpenedDevice, SourceError> open_physical_drive(DevicePlatform& platform,
                                                             const DeviceInfo& expected) {
  KESTREL_TRY(refuse_before_opening(platform, expected));
  return open_against(platform, DevicePath::physical_drive(expected.physical_drive_number),
                      expected);
}

std::expected<OpenedDevice, SourceError> open_volume(DevicePlatform& platform, char32_t letter,
                                                     const DeviceInfo& expected) {
  KESTREL_TRY(refuse_before_opening(platform, expected));
  KESTREL_TRY_ASSIGN(normalised, normalise_drive_letter(letter));
  return open_against(platform, DevicePath::volume(*normalised), expected);
}

std::expected<void, SourceError> RawDeviceSource::check_before_transfer(std::uint64_t offset,
                                                                        std::uint64_t length) {
  auto observed =
      describe_device(device_.handle.platform(), device_.handle.get(), device_.drive_number);
  if (!observed) return std::unexpected(observed.error());
  KESTREL_TRY(compare_identity(device_.expected, *observed));
  auto range =
      validate_read(limits_.max_request_bytes, limits_.require_alignment, observed->capacity_bytes,
                    observed->logical_sector_size, offset, length);
  if (!range) return std::unexpected(range.error());
  return {};
}

std::expected<void, SourceError> RawDeviceSource::read_at(std::uint64_t offset,
                                                          std::span<std::uint8_t> buffer) {
  const std::uint64_t length = buffer.size();
  if (auto checked = check_before_transfer(offset, length); !checked) {
    return std::unexpected(SourceError::before_transfer(checked.error()));
  }
  if (length == 0) return {};
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
      length > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(SourceError::range_overflow());
  }
  KESTREL_TRY_ASSIGN(delivered,
                     device_.handle.platform().read_at(device_.handle.get(), offset, buffer));
  if (*delivered < length) return std::unexpected(SourceError::short_read(length, *delivered));
  return {};
}

}  // namespace kestrel
