#include "platform/device_identity/raw_device_source.hpp"

#include <limits>
#include <utility>

#include "platform/device_identity/describe_device.hpp"
#include "platform/device_identity/device_number.hpp"
#include "platform/device_identity/drive_letter.hpp"
#include "platform/device_identity/system_disk_status.hpp"
#include "recovery-core/source/read_validation.hpp"

namespace kestrel {

namespace {

std::expected<void, SourceError> describe_and_compare(DevicePlatform& platform,
                                                      DeviceHandle handle,
                                                      std::uint32_t drive_number,
                                                      const DeviceInfo& expected) {
  auto observed = describe_device(platform, handle, drive_number);
  if (!observed) return std::unexpected(observed.error());
  return compare_identity(expected, *observed);
}

}  // namespace

std::expected<OpenedDevice, SourceError> open_physical_drive(DevicePlatform& platform,
                                                             const DeviceInfo& expected) {
  if (auto readable = check_readable(expected); !readable) {
    return std::unexpected(readable.error());
  }
  const std::uint32_t drive_number = expected.physical_drive_number;
  if (auto status = refuse_system_disk(platform, drive_number); !status) {
    return std::unexpected(status.error());
  }
  auto handle =
      open_device(platform, DevicePath::physical_drive(drive_number), DeviceAccess::Read);
  if (!handle) return std::unexpected(handle.error());
  if (auto same = describe_and_compare(platform, handle->get(), drive_number, expected); !same) {
    return std::unexpected(same.error());
  }
  return OpenedDevice{std::move(*handle), drive_number};
}

std::expected<OpenedDevice, SourceError> open_volume(DevicePlatform& platform, char32_t letter,
                                                     const DeviceInfo& expected) {
  if (auto readable = check_readable(expected); !readable) {
    return std::unexpected(readable.error());
  }
  const std::uint32_t drive_number = expected.physical_drive_number;
  if (auto status = refuse_system_disk(platform, drive_number); !status) {
    return std::unexpected(status.error());
  }
  auto normalised = normalise_drive_letter(letter);
  if (!normalised) return std::unexpected(normalised.error());
  auto handle = open_device(platform, DevicePath::volume(*normalised), DeviceAccess::Read);
  if (!handle) return std::unexpected(handle.error());
  auto number = query_device_number(platform, handle->get());
  if (!number) return std::unexpected(number.error());
  if (*number != drive_number) {
    return std::unexpected(SourceError::identity_mismatch("physical_drive_number"));
  }
  if (auto same = describe_and_compare(platform, handle->get(), drive_number, expected); !same) {
    return std::unexpected(same.error());
  }
  return OpenedDevice{std::move(*handle), drive_number};
}

std::expected<RawDeviceSource, SourceError> RawDeviceSource::create(
    OwnedDeviceHandle handle, std::uint32_t drive_number, const DeviceInfo& expected,
    std::uint64_t max_request_bytes, bool require_alignment) {
  if (!handle.is_open()) return std::unexpected(SourceError::device_disconnected());
  if (auto guards = check_identity_guards(expected); !guards) {
    return std::unexpected(guards.error());
  }
  if (auto same = describe_and_compare(handle.platform(), handle.get(), drive_number, expected);
      !same) {
    return std::unexpected(same.error());
  }
  return RawDeviceSource(std::move(handle), drive_number, expected, max_request_bytes,
                         require_alignment);
}

std::expected<void, SourceError> RawDeviceSource::check_before_transfer(std::uint64_t offset,
                                                                        std::uint64_t length) {
  DevicePlatform& platform = handle_.platform();
  auto observed = describe_device(platform, handle_.get(), drive_number_);
  if (!observed) return std::unexpected(observed.error());
  if (auto same = compare_identity(expected_, *observed); !same) {
    return std::unexpected(same.error());
  }
  auto range = validate_read(max_request_bytes_, require_alignment_, observed->capacity_bytes,
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
  DevicePlatform& platform = handle_.platform();
  auto delivered = platform.read_at(handle_.get(), offset, buffer);
  if (!delivered) return std::unexpected(platform.source_error(delivered.error()));
  if (*delivered < length) return std::unexpected(SourceError::short_read(length, *delivered));
  return {};
}

}  // namespace kestrel
