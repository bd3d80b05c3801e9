#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "platform/device_identity/owned_device_handle.hpp"
#include "platform/device_platform.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "recovery-core/source/device_info.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// A device handle opened for reading against an expected description, with
// the physical drive number it sits on.
struct OpenedDevice {
  OwnedDeviceHandle handle;
  std::uint32_t drive_number = 0;
};

// Opens physical drive N (N = expected.physical_drive_number) for reading.
// Refuses, in this order: the guards on the expected description, the
// system-disk status taken now, the platform's open, then the fresh
// description and its comparison with the expected one. A refusal after the
// open closes the handle.
std::expected<OpenedDevice, SourceError> open_physical_drive(DevicePlatform& platform,
                                                             const DeviceInfo& expected);

// Opens the volume of a drive letter for reading, like open_physical_drive,
// and refuses it when the letter now belongs to another physical drive
// (IdentityMismatch physical_drive_number).
std::expected<OpenedDevice, SourceError> open_volume(DevicePlatform& platform, char32_t letter,
                                                     const DeviceInfo& expected);

// The guarded raw reader: the only way the program reads a device raw. Before
// every read it describes the device again through its own handle and
// compares the description with the expected one, then validates the request
// against the fresh capacity and sector size, then reads once. It owns its
// handle and closes it exactly once, when it is destroyed.
class RawDeviceSource final : public DeviceReader {
 public:
  // Takes ownership of the handle (closing it on failure). The expected
  // description's guards and a fresh description compared with it decide.
  static std::expected<RawDeviceSource, SourceError> create(OwnedDeviceHandle handle,
                                                            std::uint32_t drive_number,
                                                            const DeviceInfo& expected,
                                                            std::uint64_t max_request_bytes,
                                                            bool require_alignment);

  RawDeviceSource(RawDeviceSource&&) noexcept = default;
  RawDeviceSource& operator=(RawDeviceSource&&) noexcept = default;

  const DeviceInfo& expected_identity() const override { return expected_; }

  // Fills the buffer with the bytes at offset. A failure of the description,
  // the comparison or the validation is marked as arising before the transfer
  // (SourceError::before_transfer), so it is never zero-filled; a failure of
  // the transfer itself is the platform's error, and fewer bytes than asked is
  // ShortRead. A zero-length request reads nothing after the checks.
  std::expected<void, SourceError> read_at(std::uint64_t offset,
                                           std::span<std::uint8_t> buffer) override;

  std::uint32_t drive_number() const { return drive_number_; }
  std::uint64_t max_request_bytes() const { return max_request_bytes_; }
  bool require_alignment() const { return require_alignment_; }

 private:
  RawDeviceSource(OwnedDeviceHandle handle, std::uint32_t drive_number, DeviceInfo expected,
                  std::uint64_t max_request_bytes, bool require_alignment)
      : handle_(std::move(handle)),
        drive_number_(drive_number),
        expected_(std::move(expected)),
        max_request_bytes_(max_request_bytes),
        require_alignment_(require_alignment) {}

  std::expected<void, SourceError> check_before_transfer(std::uint64_t offset,
                                                         std::uint64_t length);

  OwnedDeviceHandle handle_;
  std::uint32_t drive_number_ = 0;
  DeviceInfo expected_;
  std::uint64_t max_request_bytes_ = 0;
  bool require_alignment_ = true;
};

}  // namespace kestrel
