#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The narrow interface the device rules run over. Every call is one operating
// system call (or, on a system without them, the backend's synthesis of its
// answer), so the rules in platform/device_identity/ decide the order of
// queries, the fallbacks, the size checks and the parsing once for every
// platform. A Windows backend maps each member onto kernel32 directly:
//
//   open                       CreateFileW(path text, 0 or GENERIC_READ,
//                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
//                              OPEN_EXISTING, 0, nullptr)
//   close                      CloseHandle
//   control                    DeviceIoControl(handle, code, input, output,
//                              &returned, nullptr); answers `returned`
//   read_at                    SetFilePointerEx(handle, offset, nullptr,
//                              FILE_BEGIN) then one ReadFile; answers the count
//   system_directory           GetSystemWindowsDirectoryW(buffer, size)
//   physical_drives_holding    GetVolumePathNameW (261 units), then the
//                              device number of that volume (through
//                              GetVolumeNameForVolumeMountPointW for a folder
//                              mount), or the disks of its extents; no disk
//                              for a network share
//   logical_drives             GetLogicalDrives (0 becomes the GetLastError code)
//   volume_information         GetVolumeInformationW(root "L:\", label, 261,
//                              nullptr, nullptr, nullptr, file system, 64)
//   available_space            GetVolumePathNameW (261 units) then
//                              GetDiskFreeSpaceW: sectors per cluster x bytes
//                              per sector x free clusters
//   source_error, error_text   source_error_from_os with the FormatMessageW
//                              text; that text plus " (os error {code})"

// A handle the platform handed out. Only the platform interprets the value;
// the rules own it through OwnedDeviceHandle, which closes it exactly once.
struct DeviceHandle {
  std::uint64_t value = 0;
  friend bool operator==(const DeviceHandle&, const DeviceHandle&) = default;
};

// What a handle is opened for: queries only (access 0) or reading (GENERIC_READ).
enum class DeviceAccess { Query, Read };

// A device path: physical drive N ("\\.\PhysicalDrive" + N) or the volume of
// a drive letter ("\\.\" + letter + ":").
struct DevicePath {
  enum class Kind { PhysicalDrive, Volume };

  Kind kind = Kind::PhysicalDrive;
  std::uint32_t drive_number = 0;  // PhysicalDrive
  char letter = 'A';               // Volume, upper-case 'A'..'Z'

  static DevicePath physical_drive(std::uint32_t number) {
    return DevicePath{Kind::PhysicalDrive, number, 'A'};
  }
  static DevicePath volume(char drive_letter) { return DevicePath{Kind::Volume, 0, drive_letter}; }

  // The Win32 path text: \\.\PhysicalDrive3 or \\.\E:
  std::string text() const;

  friend bool operator==(const DevicePath&, const DevicePath&) = default;
};

// The DeviceIoControl codes the rules use, with their Win32 values.
enum class DeviceControl : std::uint32_t {
  GetLengthInformation = 0x7405C,   // output GET_LENGTH_INFORMATION, 8 bytes
  GetDriveGeometry = 0x70000,       // output DISK_GEOMETRY, 24 bytes
  QueryStorageProperty = 0x2D1400,  // input STORAGE_PROPERTY_QUERY, 12 bytes
  GetDeviceNumber = 0x2D1080,       // output STORAGE_DEVICE_NUMBER, 12 bytes
};

// A platform error code: a Win32 error code on Windows, an errno value on Linux.
struct PlatformError {
  std::uint32_t code = 0;
  friend bool operator==(const PlatformError&, const PlatformError&) = default;
};

class DevicePlatform {
 public:
  virtual ~DevicePlatform() = default;

  virtual std::expected<DeviceHandle, PlatformError> open(const DevicePath& path,
                                                          DeviceAccess access) = 0;
  virtual void close(DeviceHandle handle) = 0;

  // One device control: fills the output (at most output.size() bytes) and
  // answers how many bytes it returned.
  virtual std::expected<std::uint32_t, PlatformError> control(DeviceHandle handle,
                                                              DeviceControl code,
                                                              std::span<const std::uint8_t> input,
                                                              std::span<std::uint8_t> output) = 0;

  // Positions the handle at offset (from the start) and reads once into the
  // buffer; answers the number of bytes delivered. The rules only call it with
  // an offset that fits a signed 64-bit integer and at most 4,294,967,295 bytes.
  virtual std::expected<std::uint32_t, PlatformError> read_at(DeviceHandle handle,
                                                              std::uint64_t offset,
                                                              std::span<std::uint8_t> buffer) = 0;

  // The directory of the running operating system, as UTF-16 units without a
  // terminator. Answers the number of units written; 0 on failure; a number not
  // below the buffer size when the buffer is too small.
  virtual std::uint32_t system_directory(std::span<char16_t> buffer) = 0;

  // The physical drive numbers of every disk that holds the path: for a
  // device node the device itself, otherwise the file system the path lives
  // on, followed through partitions and volume managers down to whole disks.
  // An empty list means the path lies on no disk the platform can name.
  virtual std::expected<std::vector<std::uint32_t>, PlatformError> physical_drives_holding(
      const std::filesystem::path& path) = 0;

  // The bit mask of existing drive letters, bit 0 for A.
  virtual std::expected<std::uint32_t, PlatformError> logical_drives() = 0;

  // The label and file system name of a lettered volume, as UTF-16 units
  // NUL-terminated within their buffers (or filling them). False on failure.
  virtual bool volume_information(char letter, std::span<char16_t> label,
                                  std::span<char16_t> file_system) = 0;

  // Bytes available to this user on the volume that holds the directory.
  virtual std::expected<std::uint64_t, PlatformError> available_space(
      const std::filesystem::path& directory) = 0;

  // The one conversion of a platform error into a source error.
  virtual SourceError source_error(PlatformError error) const = 0;
  // The system's message for the error followed by " (os error {code})".
  virtual std::string error_text(PlatformError error) const = 0;
};

}  // namespace kestrel
