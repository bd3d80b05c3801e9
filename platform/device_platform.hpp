#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The narrow interface the device rules (platform/device_identity/) run over.
//
// Its vocabulary is values, not the structures of one system: a length, sector
// sizes, the texts and bus code a device reports, a device number. The rules
// decide which query is made on which handle, in which order, what is done
// when an answer is missing, and how texts are cleaned and compared; each
// backend only answers. The Windows backend gets its answers from the storage
// IOCTLs and keeps the parsing of their structures to itself
// (platform/windows/ioctl/); the Linux backend answers from block-device ioctls
// and sysfs directly, without passing through those structures.
//
// Every failure is a SourceError. A device query or read fails with the kind
// the system's error maps to (a vanished device, denied access, or the generic
// kind with the system's text); a failed operating-system service (drive
// letters, free space, the disks holding a path) always fails with the generic
// kind carrying the system's text, see system_text().

// A handle the platform handed out. Only the platform interprets the value;
// the rules own it through OwnedDeviceHandle, which closes it exactly once.
struct DeviceHandle {
  std::uint64_t value = 0;
  friend bool operator==(const DeviceHandle&, const DeviceHandle&) = default;
};

// What a handle is opened for: queries only, or reading.
enum class DeviceAccess { Query, Read };

// A device path: physical drive N or the volume of a drive letter.
struct DevicePath {
  enum class Kind { PhysicalDrive, Volume };

  Kind kind = Kind::PhysicalDrive;
  std::uint32_t drive_number = 0;  // PhysicalDrive
  char letter = 'A';               // Volume, upper-case 'A'..'Z'

  static DevicePath physical_drive(std::uint32_t number) {
    return DevicePath{Kind::PhysicalDrive, number, 'A'};
  }
  static DevicePath volume(char drive_letter) { return DevicePath{Kind::Volume, 0, drive_letter}; }

  // The Windows device path: \\.\PhysicalDrive3 or \\.\E:
  std::string text() const;

  friend bool operator==(const DevicePath&, const DevicePath&) = default;
};

// The sector sizes a device reports for its access alignment; 0 where it
// reports none.
struct AlignmentAnswer {
  std::uint32_t logical = 0;
  std::uint32_t physical = 0;
};

// What a storage device says about itself. The texts are as the device hands
// them over; the rules clean them.
struct StorageDescriptor {
  std::optional<std::string> vendor;
  std::optional<std::string> product;
  std::optional<std::string> serial;
  std::uint32_t bus_type_code = 0;  // numbered like Windows' STORAGE_BUS_TYPE
};

// The label and file system name of a lettered volume, as reported.
struct VolumeInformation {
  std::string label;
  std::string file_system;
};

class DevicePlatform {
 public:
  virtual ~DevicePlatform() = default;

  virtual std::expected<DeviceHandle, SourceError> open(const DevicePath& path,
                                                        DeviceAccess access) = 0;
  virtual void close(DeviceHandle handle) = 0;

  // The length in bytes of what the handle was opened on.
  virtual std::expected<std::uint64_t, SourceError> length(DeviceHandle handle) = 0;
  // The access alignment's sector sizes; nothing when the device gives no
  // usable answer (why is of no interest: the rules fall back to the geometry).
  virtual std::optional<AlignmentAnswer> access_alignment(DeviceHandle handle) = 0;
  // The bytes per sector of the drive geometry.
  virtual std::expected<std::uint32_t, SourceError> geometry_sector_size(DeviceHandle handle) = 0;
  virtual std::expected<StorageDescriptor, SourceError> storage_descriptor(DeviceHandle handle) = 0;
  // The physical drive number the handle sits on.
  virtual std::expected<std::uint32_t, SourceError> device_number(DeviceHandle handle) = 0;

  // Reads once at the offset into the buffer; answers the number of bytes
  // delivered, which may be fewer. The rules only ask with an offset that fits
  // a signed 64-bit integer and at most 4,294,967,295 bytes.
  virtual std::expected<std::uint32_t, SourceError> read_at(DeviceHandle handle,
                                                            std::uint64_t offset,
                                                            std::span<std::uint8_t> buffer) = 0;

  // The directory of the running operating system; nothing when the system
  // does not say.
  virtual std::optional<std::string> system_directory() = 0;

  // The physical drive numbers of every disk that holds the path: for a
  // device node the device itself, otherwise the file system the path lives
  // on, followed through partitions and volume managers down to whole disks.
  // An empty list means the path lies on no disk the platform can name.
  virtual std::expected<std::vector<std::uint32_t>, SourceError> physical_drives_holding(
      const std::filesystem::path& path) = 0;

  // Which drive letters are in use: bit 0 stands for A, bit 25 for Z.
  virtual std::expected<std::uint32_t, SourceError> logical_drives() = 0;

  // Nothing when the volume's label and file system cannot be read.
  virtual std::optional<VolumeInformation> volume_information(char letter) = 0;

  // Bytes available to this user on the volume that holds the directory.
  virtual std::expected<std::uint64_t, SourceError> available_space(
      const std::filesystem::path& directory) = 0;
};

// The system's own text ("Access is denied. (os error 5)") that the failure
// of an operating-system service carries.
std::string system_text(const SourceError& service_failure);

}  // namespace kestrel
