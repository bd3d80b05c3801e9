#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/device_platform.hpp"
#include "platform/windows/ioctl/storage_ioctl.hpp"
#include "tests/support/simulated-platform/medium_content.hpp"

namespace kestrel::testing {

// The one device fake: a machine that exists only on paper, behind the
// DevicePlatform interface. It behaves as a Windows machine does: failures are
// Win32 codes with Windows' texts, and the device queries are answered with the
// structures of the storage IOCTLs, which the same code as on Windows parses
// (platform/windows/ioctl/). Every call is logged, so tests can check the order
// of the queries, and handles are counted.
//
// Unit tests build one directly; the simulated executable loads one from a
// file (simulated_platform_file.hpp); the imaging tests and benchmark read a
// card of one through the guarded reader (simulated_card.hpp).

// Win32 codes the simulated machine uses.
namespace win32 {
inline constexpr std::uint32_t kInvalidFunction = 1;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNotReady = 21;
inline constexpr std::uint32_t kCrc = 23;
inline constexpr std::uint32_t kSectorNotFound = 27;
inline constexpr std::uint32_t kMediaChanged = 1110;
inline constexpr std::uint32_t kNoMediaInDrive = 1112;
inline constexpr std::uint32_t kDeviceNotConnected = 1167;
}  // namespace win32

// The device controls a simulated device answers, told apart the way the
// queries ask them (the storage descriptor is asked twice: its size, then whole).
enum class RecordedControl {
  Length,
  Geometry,
  Alignment,
  DescriptorHeader,
  Descriptor,
  DeviceNumber
};

// An answer that replaces the one built from a device's facts.
struct RecordedAnswer {
  std::optional<std::uint32_t> error;     // the call fails with this Win32 code
  std::vector<std::uint8_t> bytes;        // else these bytes are copied (cut to fit)
  std::optional<std::uint32_t> returned;  // the count reported; default: bytes copied
};

// A physical drive: its facts, from which every answer is built, and the
// answers that replace them.
struct SimulatedDisk {
  std::uint32_t drive_number = 1;
  std::int64_t length = 0;
  std::uint32_t logical_sector_size = 512;
  std::uint32_t physical_sector_size = 512;
  StorageDescriptor facts;
  std::map<RecordedControl, RecordedAnswer> answers;
  std::optional<std::uint32_t> open_error;
  // The medium's bytes; reads past them deliver zeros up to the length.
  std::shared_ptr<MediumContent> content;
};

// A lettered volume on a simulated disk.
struct SimulatedVolume {
  char letter = 'E';
  std::uint32_t drive_number = 1;
  std::uint64_t start = 0;             // where the volume starts on its disk
  std::optional<std::int64_t> length;  // the volume's length; default: the disk's
  std::optional<std::string> label;
  std::optional<std::string> file_system;
  bool information_fails = false;
  std::optional<std::uint32_t> open_error;
  std::map<RecordedControl, RecordedAnswer> answers;
};

// Reads of a disk that touch [offset, offset + length) fail with the code,
// `times` times in all. When a read touches several faults, the first listed
// one decides and uses up one of its failures.
struct ReadFault {
  std::uint32_t drive_number = 1;
  std::uint64_t offset = 0;
  std::uint64_t length = 1;
  std::uint32_t error = win32::kCrc;
  std::uint32_t times = 0xFFFFFFFF;        // 0xFFFFFFFF: for ever
  std::optional<std::uint32_t> delivered;  // set: the read "succeeds" with this count instead
};

// Something that happens to a disk once a number of reads have delivered data.
struct MediumEvent {
  enum class Kind { Disconnect, ReplaceDisk };
  Kind kind = Kind::Disconnect;
  std::uint64_t after_reads = 0;
  std::uint32_t drive_number = 1;
  SimulatedDisk replacement;  // ReplaceDisk: the disk that takes its place
};

class SimulatedPlatform final : public DevicePlatform {
 public:
  std::vector<SimulatedDisk> disks;
  std::vector<SimulatedVolume> volumes;
  std::optional<std::string> system_directory_text =
      "C:\\Windows";  // nothing: the system does not say
  std::map<std::string, std::vector<std::uint32_t>> drives_holding;  // by path text
  std::optional<std::uint32_t> drives_holding_error;
  std::optional<std::uint32_t> logical_drives_error;
  std::uint64_t free_space = std::uint64_t{1} << 40;
  std::optional<std::uint32_t> free_space_error;
  std::vector<ReadFault> read_faults;
  std::vector<MediumEvent> events;

  std::expected<DeviceHandle, SourceError> open(const DevicePath& path,
                                                DeviceAccess access) override;
  void close(DeviceHandle handle) override;
  std::expected<std::uint64_t, SourceError> length(DeviceHandle handle) override;
  std::optional<AlignmentAnswer> access_alignment(DeviceHandle handle) override;
  std::expected<std::uint32_t, SourceError> geometry_sector_size(DeviceHandle handle) override;
  std::expected<StorageDescriptor, SourceError> storage_descriptor(DeviceHandle handle) override;
  std::expected<std::uint32_t, SourceError> device_number(DeviceHandle handle) override;
  std::expected<std::uint32_t, SourceError> read_at(DeviceHandle handle, std::uint64_t offset,
                                                    std::span<std::uint8_t> buffer) override;
  std::optional<std::string> system_directory() override;
  std::expected<std::vector<std::uint32_t>, SourceError> physical_drives_holding(
      const std::filesystem::path& path) override;
  std::expected<std::uint32_t, SourceError> logical_drives() override;
  std::optional<VolumeInformation> volume_information(char letter) override;
  std::expected<std::uint64_t, SourceError> available_space(
      const std::filesystem::path& directory) override;

  // The source error of a Win32 code met by a device call, as the kernel32
  // backend reports it.
  static SourceError device_error(std::uint32_t code);

  // Every call, in order, e.g. "open \\.\E: query -> h1", "control length h1",
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

  SimulatedDisk* disk(std::uint32_t drive_number);
  SimulatedVolume* volume(char letter);

 private:
  struct Handle {
    DevicePath path;
    DeviceAccess access = DeviceAccess::Query;
  };
  // What a handle reaches: its disk, and its volume when it was opened on one.
  struct Reach {
    SimulatedDisk* disk = nullptr;
    SimulatedVolume* volume = nullptr;
  };

  void apply_events();
  // The disk and volume behind an open handle; a closed handle or a medium
  // that is gone is the device error of its Win32 code.
  std::expected<Reach, SourceError> reach(DeviceHandle handle);
  IoctlCall ioctl_on(DeviceHandle handle);
  std::expected<std::uint32_t, SourceError> control(DeviceHandle handle, IoctlCode code,
                                                    std::span<const std::uint8_t> input,
                                                    std::span<std::uint8_t> output);
  std::expected<std::uint32_t, SourceError> deliver(const Reach& reach, std::uint64_t start,
                                                    std::span<std::uint8_t> buffer);

  std::map<std::uint64_t, Handle> handles_;
  std::uint64_t next_handle_ = 1;
  std::vector<std::string> log_;
  std::set<std::uint32_t> disconnected_;
  std::size_t opens_ = 0;
  std::size_t closes_ = 0;
  std::size_t bad_closes_ = 0;
  std::uint64_t reads_delivered_ = 0;
};

// A removable USB card of the given size, with vendor, product and serial.
SimulatedDisk usb_card(std::uint32_t drive_number, std::int64_t length,
                       std::optional<std::string> serial = "SN0001");
// An internal disk on the given bus code (11 SATA, 17 NVMe, ...).
SimulatedDisk internal_disk(std::uint32_t drive_number, std::uint32_t bus_type_code,
                            std::int64_t length = std::int64_t{256} << 30);
// A lettered volume of a simulated disk, covering the whole disk.
SimulatedVolume volume_on(char letter, std::uint32_t drive_number,
                          std::optional<std::string> label = std::nullopt,
                          std::optional<std::string> file_system = std::nullopt);
// Reads of the drive that touch [offset, offset + length) fail with the code,
// `times` times (every time by default).
ReadFault read_fault(std::uint32_t drive_number, std::uint64_t offset, std::uint64_t length,
                     std::uint32_t error = win32::kCrc, std::uint32_t times = 0xFFFFFFFF);
// Reads of the drive that touch the range report success with fewer bytes.
ReadFault short_read_fault(std::uint32_t drive_number, std::uint64_t offset, std::uint64_t length,
                           std::uint32_t delivered);
// The drive is gone once `reads` reads were delivered.
MediumEvent disconnect_after(std::uint32_t drive_number, std::uint64_t reads);
// Another medium takes the drive's place once `reads` reads were delivered.
MediumEvent replace_after(std::uint32_t drive_number, std::uint64_t reads,
                          SimulatedDisk replacement);

// A Windows path names its disk by its drive letter first: records the volume
// of the path's letter on the drive, with an internal SATA disk of that number
// when there is none. Linux paths have no letters, and nothing is recorded.
void record_drive_letter_of(SimulatedPlatform& platform, const std::filesystem::path& path,
                            std::uint32_t drive_number);

}  // namespace kestrel::testing
