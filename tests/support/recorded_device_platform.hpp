#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/device_identity/storage_structures.hpp"
#include "platform/device_platform.hpp"

namespace kestrel::testing {

// The device controls a recorded device answers, told apart the way the rules
// ask them (the storage descriptor is asked twice: header, then whole).
enum class RecordedControl { Length, Geometry, Alignment, DescriptorHeader, Descriptor, DeviceNumber };

// A recorded answer that replaces the one built from a device's facts.
struct RecordedAnswer {
  std::optional<PlatformError> error;   // the call fails with this code
  std::vector<std::uint8_t> bytes;      // else these bytes are copied (cut to fit)
  std::optional<std::uint32_t> returned;  // the count reported; default: bytes copied
};

// A physical drive: its facts, from which every answer is built, and the
// answers that replace them.
struct RecordedDisk {
  std::uint32_t drive_number = 1;
  std::int64_t length = 0;
  std::uint32_t logical_sector_size = 512;
  std::uint32_t physical_sector_size = 512;
  StorageDeviceFacts facts;
  std::map<RecordedControl, RecordedAnswer> answers;
  std::optional<PlatformError> open_error;
  // The medium's bytes; reads past them deliver zeros up to the length.
  std::shared_ptr<const std::vector<std::uint8_t>> content;
};

// A lettered volume on a recorded disk.
struct RecordedVolume {
  char letter = 'E';
  std::uint32_t drive_number = 1;
  std::uint64_t start = 0;                 // where the volume starts on its disk
  std::optional<std::int64_t> length;      // the volume's length; default: the disk's
  std::optional<std::string> label;
  std::optional<std::string> file_system;
  bool information_fails = false;
  std::optional<PlatformError> open_error;
  std::map<RecordedControl, RecordedAnswer> answers;
};

// Read faults, matched against the bytes a read covers on its disk.
struct RecordedReadFault {
  std::uint32_t drive_number = 1;
  std::uint64_t offset = 0;
  std::uint64_t length = 1;
  PlatformError error{23};              // ERROR_CRC
  std::uint32_t times = 0xFFFFFFFF;     // reads that fail before it heals
  std::optional<std::uint32_t> delivered;  // set: the read "succeeds" with this count instead
};

// Something that happens once a number of reads have been delivered.
struct RecordedEvent {
  enum class Kind { Disconnect, ReplaceDisk };
  Kind kind = Kind::Disconnect;
  std::uint64_t after_reads = 0;
  std::uint32_t drive_number = 1;
  RecordedDisk replacement;             // ReplaceDisk: the disk that takes its place
};

// A device platform fed with recorded devices and outcomes, for tests. It
// keeps a log of every call (for the order of queries) and counts handles.
// Platform errors are Win32 codes, converted like a Windows backend does.
class RecordedDevicePlatform final : public DevicePlatform {
 public:
  std::vector<RecordedDisk> disks;
  std::vector<RecordedVolume> volumes;
  std::u16string system_directory_text = u"C:\\Windows";
  std::optional<std::uint32_t> system_directory_result;  // replaces the count answered
  std::map<std::string, std::vector<std::uint32_t>> drives_holding;  // by path text
  std::optional<PlatformError> drives_holding_error;
  std::optional<PlatformError> logical_drives_error;
  std::uint64_t free_space = std::uint64_t{1} << 40;
  std::optional<PlatformError> free_space_error;
  std::vector<RecordedReadFault> read_faults;
  std::vector<RecordedEvent> events;

  std::expected<DeviceHandle, PlatformError> open(const DevicePath& path,
                                                  DeviceAccess access) override;
  void close(DeviceHandle handle) override;
  std::expected<std::uint32_t, PlatformError> control(DeviceHandle handle, DeviceControl code,
                                                      std::span<const std::uint8_t> input,
                                                      std::span<std::uint8_t> output) override;
  std::expected<std::uint32_t, PlatformError> read_at(DeviceHandle handle, std::uint64_t offset,
                                                      std::span<std::uint8_t> buffer) override;
  std::uint32_t system_directory(std::span<char16_t> buffer) override;
  std::expected<std::vector<std::uint32_t>, PlatformError> physical_drives_holding(
      const std::filesystem::path& path) override;
  std::expected<std::uint32_t, PlatformError> logical_drives() override;
  bool volume_information(char letter, std::span<char16_t> label,
                          std::span<char16_t> file_system) override;
  std::expected<std::uint64_t, PlatformError> available_space(
      const std::filesystem::path& directory) override;
  SourceError source_error(PlatformError error) const override;
  std::string error_text(PlatformError error) const override;

  // Every call, in order, e.g. "open \\.\E: query", "control length h1",
  // "read h2 0+512", "close h1".
  const std::vector<std::string>& log() const { return log_; }
  void clear_log() { log_.clear(); }
  // The log entries that start with the prefix.
  std::vector<std::string> log_of(std::string_view prefix) const;
  std::size_t opens() const { return opens_; }
  std::size_t closes() const { return closes_; }
  std::size_t open_handles() const { return handles_.size(); }
  // Closing a handle that was not open (or twice) is counted here.
  std::size_t bad_closes() const { return bad_closes_; }
  std::uint64_t reads_delivered() const { return reads_delivered_; }

  RecordedDisk* disk(std::uint32_t drive_number);
  RecordedVolume* volume(char letter);

 private:
  struct Handle {
    DevicePath path;
    DeviceAccess access = DeviceAccess::Query;
  };

  void apply_events();

  std::map<std::uint64_t, Handle> handles_;
  std::uint64_t next_handle_ = 1;
  std::vector<std::string> log_;
  std::set<std::uint32_t> disconnected_;
  std::size_t opens_ = 0;
  std::size_t closes_ = 0;
  std::size_t bad_closes_ = 0;
  std::uint64_t reads_delivered_ = 0;
};

// Win32 codes the recorded devices use.
namespace win32 {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kNotReady = 21;
inline constexpr std::uint32_t kCrc = 23;
inline constexpr std::uint32_t kInvalidFunction = 1;
inline constexpr std::uint32_t kMediaChanged = 1110;
inline constexpr std::uint32_t kNoMediaInDrive = 1112;
inline constexpr std::uint32_t kDeviceNotConnected = 1167;
}  // namespace win32

// A removable USB card of the given size, with vendor, product and serial.
RecordedDisk usb_card(std::uint32_t drive_number, std::int64_t length,
                      std::optional<std::string> serial = "SN0001");
// Reads of the drive that touch [offset, offset + length) fail with the error,
// `times` times (every time by default).
RecordedReadFault read_fault(std::uint32_t drive_number, std::uint64_t offset,
                             std::uint64_t length, PlatformError error = PlatformError{23},
                             std::uint32_t times = 0xFFFFFFFF);
// Reads of the drive that touch the range report success with fewer bytes.
RecordedReadFault short_read_fault(std::uint32_t drive_number, std::uint64_t offset,
                                   std::uint64_t length, std::uint32_t delivered);
// The drive is gone once `reads` reads were delivered.
RecordedEvent disconnect_after(std::uint32_t drive_number, std::uint64_t reads);
// Another medium takes the drive's place once `reads` reads were delivered.
RecordedEvent replace_after(std::uint32_t drive_number, std::uint64_t reads, RecordedDisk replacement);
// A lettered volume of a recorded disk, covering the whole disk.
RecordedVolume volume_on(char letter, std::uint32_t drive_number,
                         std::optional<std::string> label = std::nullopt,
                         std::optional<std::string> file_system = std::nullopt);
// An internal disk on the given bus code (11 SATA, 17 NVMe, ...).
RecordedDisk internal_disk(std::uint32_t drive_number, std::uint32_t bus_type_code,
                           std::int64_t length = std::int64_t{256} << 30);

}  // namespace kestrel::testing
