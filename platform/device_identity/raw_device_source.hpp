#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "platform/device_identity/owned_device_handle.hpp"
#include "platform/device_platform.hpp"
#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// A device opened for reading after it was found to be the one its expected
// description names (check_readable, the system disk asked now, a fresh
// description compared with the expected one).
struct OpenedDevice {
  OwnedDeviceHandle handle;
  std::uint32_t drive_number = 0;
  DeviceInfo expected;
};

// Opens physical drive N (the expected description's). Nothing stays open on
// a refusal.
std::expected<OpenedDevice, SourceError> open_physical_drive(DevicePlatform& platform,
                                                             const DeviceInfo& expected);

// Opens the volume of a drive letter, refusing it also when the letter now
// belongs to another physical drive (IdentityMismatch physical_drive_number).
std::expected<OpenedDevice, SourceError> open_volume(DevicePlatform& platform, char32_t letter,
                                                     const DeviceInfo& expected);

// What a single read may ask for.
struct ReadLimits {
  std::uint64_t max_request_bytes = 0;
  bool require_alignment = true;  // offset and length in whole logical sectors
};

// The guarded raw reader; nothing else in the program reads a device. Each
// read is preceded by a fresh description through the reader's own handle,
// which must still match the expected one, and by a check of the request
// against that fresh capacity and sector size; then it reads, once. The
// handle is closed when the reader goes.
class RawDeviceSource final : public DeviceReader {
 public:
  RawDeviceSource(OpenedDevice device, ReadLimits limits)
      : device_(std::move(device)), limits_(limits) {}

  const DeviceInfo& expected_identity() const override { return device_.expected; }

  // A failure of the fresh description, the comparison or the request check is
  // marked as arising before the transfer (so it is never zero-filled); fewer
  // bytes than asked is ShortRead. An empty buffer reads nothing.
  std::expected<void, SourceError> read_at(std::uint64_t offset,
                                           std::span<std::uint8_t> buffer) override;

 private:
  std::expected<void, SourceError> check_before_transfer(std::uint64_t offset,
                                                         std::uint64_t length);

  OpenedDevice device_;
  ReadLimits limits_;
};

}  // namespace kestrel
