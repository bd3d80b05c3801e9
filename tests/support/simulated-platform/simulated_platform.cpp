#include "tests/support/simulated-platform/simulated_platform.hpp"

#include <algorithm>

#include "os/file_system.hpp"
#include "os/path_split.hpp"
#include "recovery-core/errors/io_error_kind.hpp"
#include "tests/support/simulated-platform/windows_answers.hpp"

namespace kestrel::testing {

namespace {

const char* control_name(RecordedControl control) {
  switch (control) {
    case RecordedControl::Length:
      return "length";
    case RecordedControl::Geometry:
      return "geometry";
    case RecordedControl::Alignment:
      return "alignment";
    case RecordedControl::DescriptorHeader:
      return "descriptor-header";
    case RecordedControl::Descriptor:
      return "descriptor";
    case RecordedControl::DeviceNumber:
      return "device-number";
  }
  return "?";
}

std::optional<RecordedControl> classify(IoctlCode code, std::span<const std::uint8_t> input,
                                        std::size_t output_size) {
  switch (code) {
    case IoctlCode::GetLengthInformation:
      return RecordedControl::Length;
    case IoctlCode::GetDriveGeometry:
      return RecordedControl::Geometry;
    case IoctlCode::GetDeviceNumber:
      return RecordedControl::DeviceNumber;
    case IoctlCode::QueryStorageProperty: {
      const auto property = storage_property_id(input);
      if (property == storage_layout::kStorageAccessAlignmentProperty)
        return RecordedControl::Alignment;
      if (property == storage_layout::kStorageDeviceProperty) {
        return output_size <= storage_layout::kDescriptorHeaderSize
                   ? RecordedControl::DescriptorHeader
                   : RecordedControl::Descriptor;
      }
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string handle_text(DeviceHandle handle) {
  // Appended rather than concatenated: GCC 12 at -O3 warns about a false
  // overlap in "literal" + std::string.
  std::string text = "h";
  text += std::to_string(handle.value);
  return text;
}

// Windows' texts for the codes the simulated machine uses.
std::string_view system_text_of(std::uint32_t code) {
  switch (code) {
    case win32::kInvalidFunction:
      return "Incorrect function.";
    case win32::kFileNotFound:
      return "The system cannot find the file specified.";
    case win32::kAccessDenied:
      return "Access is denied.";
    case win32::kInvalidHandle:
      return "The handle is invalid.";
    case win32::kNotReady:
      return "The device is not ready.";
    case win32::kCrc:
      return "Data error (cyclic redundancy check).";
    case win32::kSectorNotFound:
      return "The drive cannot find the sector requested.";
    case win32::kMediaChanged:
      return "The media in the drive may have changed.";
    case win32::kNoMediaInDrive:
      return "There is no media in the drive.";
    case win32::kDeviceNotConnected:
      return "The device is not connected.";
    default:
      return "Unknown error.";
  }
}

// A failed operating-system service: the generic kind with the system's text
// and code, as the os layer reports it.
std::unexpected<SourceError> service_error(std::uint32_t code) {
  return std::unexpected(SourceError::io(
      IoError{io_error_kind_from_win32(code),
              std::string(system_text_of(code)) + " (os error " + std::to_string(code) + ")",
              static_cast<int>(code)}));
}

// The recorded answer that replaces the built one: the volume's, else the disk's.
const RecordedAnswer* replaced_answer(const SimulatedDisk& disk, const SimulatedVolume* volume,
                                      RecordedControl control) {
  if (volume != nullptr && volume->answers.contains(control)) return &volume->answers.at(control);
  if (disk.answers.contains(control)) return &disk.answers.at(control);
  return nullptr;
}

// The answer a Windows machine gives from the disk's (and volume's) facts.
std::vector<std::uint8_t> built_answer(const SimulatedDisk& disk, const SimulatedVolume* volume,
                                       RecordedControl control) {
  const std::int64_t length = volume != nullptr && volume->length ? *volume->length : disk.length;
  switch (control) {
    case RecordedControl::Length:
      return encode_length_information(length);
    case RecordedControl::Geometry:
      return encode_disk_geometry(static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0)),
                                  disk.logical_sector_size);
    case RecordedControl::Alignment:
      return encode_alignment_descriptor(disk.logical_sector_size, disk.physical_sector_size);
    case RecordedControl::DescriptorHeader:
    case RecordedControl::Descriptor:
      return encode_storage_device_descriptor(disk.facts);
    case RecordedControl::DeviceNumber:
      return encode_device_number(disk.drive_number, volume != nullptr ? 1 : 0);
  }
  return {};
}

}  // namespace

SourceError SimulatedPlatform::device_error(std::uint32_t code) {
  return source_error_from_os(code, system_text_of(code));
}

SimulatedDisk* SimulatedPlatform::disk(std::uint32_t drive_number) {
  const auto it = std::ranges::find(disks, drive_number, &SimulatedDisk::drive_number);
  return it == disks.end() ? nullptr : &*it;
}

SimulatedVolume* SimulatedPlatform::volume(char letter) {
  const auto it = std::ranges::find(volumes, letter, &SimulatedVolume::letter);
  return it == volumes.end() ? nullptr : &*it;
}

std::vector<std::string> SimulatedPlatform::log_of(std::string_view prefix) const {
  std::vector<std::string> entries;
  for (const auto& entry : log_) {
    if (entry.starts_with(prefix)) entries.push_back(entry);
  }
  return entries;
}

void SimulatedPlatform::apply_events() {
  for (auto it = events.begin(); it != events.end();) {
    if (reads_delivered_ < it->after_reads) {
      ++it;
      continue;
    }
    if (it->kind == MediumEvent::Kind::Disconnect) {
      disconnected_.insert(it->drive_number);
    } else if (SimulatedDisk* target = disk(it->drive_number)) {
      *target = it->replacement;
    }
    it = events.erase(it);
  }
}

std::expected<DeviceHandle, SourceError> SimulatedPlatform::open(const DevicePath& path,
                                                                 DeviceAccess access) {
  apply_events();
  log_.push_back("open " + path.text() + (access == DeviceAccess::Read ? " read" : " query"));
  std::uint32_t drive_number = path.drive_number;
  if (path.kind == DevicePath::Kind::Volume) {
    SimulatedVolume* v = volume(path.letter);
    if (v == nullptr) return std::unexpected(device_error(win32::kFileNotFound));
    if (v->open_error) return std::unexpected(device_error(*v->open_error));
    drive_number = v->drive_number;
  }
  SimulatedDisk* d = disk(drive_number);
  if (d == nullptr) return std::unexpected(device_error(win32::kFileNotFound));
  if (disconnected_.contains(drive_number)) return std::unexpected(device_error(win32::kNotReady));
  if (d->open_error) return std::unexpected(device_error(*d->open_error));
  const DeviceHandle handle{next_handle_++};
  handles_.emplace(handle.value, Handle{path, access});
  ++opens_;
  log_.back() += " -> " + handle_text(handle);
  return handle;
}

void SimulatedPlatform::close(DeviceHandle handle) {
  log_.push_back("close " + handle_text(handle));
  if (handles_.erase(handle.value) == 0) {
    ++bad_closes_;
    return;
  }
  ++closes_;
}

std::expected<SimulatedPlatform::Reach, SourceError> SimulatedPlatform::reach(DeviceHandle handle) {
  const auto it = handles_.find(handle.value);
  if (it == handles_.end()) return std::unexpected(device_error(win32::kInvalidHandle));
  const DevicePath& path = it->second.path;
  SimulatedVolume* v = path.kind == DevicePath::Kind::Volume ? volume(path.letter) : nullptr;
  const std::uint32_t drive_number = v != nullptr ? v->drive_number : path.drive_number;
  SimulatedDisk* d = disk(drive_number);
  if (d == nullptr || disconnected_.contains(drive_number)) {
    return std::unexpected(device_error(win32::kDeviceNotConnected));
  }
  return Reach{d, v};
}

IoctlCall SimulatedPlatform::ioctl_on(DeviceHandle handle) {
  return [this, handle](IoctlCode code, std::span<const std::uint8_t> input,
                        std::span<std::uint8_t> output) {
    return control(handle, code, input, output);
  };
}

std::expected<std::uint32_t, SourceError> SimulatedPlatform::control(
    DeviceHandle handle, IoctlCode code, std::span<const std::uint8_t> input,
    std::span<std::uint8_t> output) {
  apply_events();
  const auto kind = classify(code, input, output.size());
  log_.push_back(std::string("control ") + (kind ? control_name(*kind) : "unsupported") + " " +
                 handle_text(handle));
  // A handle that is not open is refused before the request is classified.
  if (!handles_.contains(handle.value)) return std::unexpected(device_error(win32::kInvalidHandle));
  if (!kind) return std::unexpected(device_error(win32::kInvalidFunction));
  auto reached = reach(handle);
  if (!reached) return std::unexpected(reached.error());

  if (const RecordedAnswer* answer = replaced_answer(*reached->disk, reached->volume, *kind)) {
    if (answer->error) return std::unexpected(device_error(*answer->error));
    const std::uint32_t copied = copy_answer(answer->bytes, output);
    return answer->returned.value_or(copied);
  }
  return copy_answer(built_answer(*reached->disk, reached->volume, *kind), output);
}

std::expected<std::uint64_t, SourceError> SimulatedPlatform::length(DeviceHandle handle) {
  return ioctl_length(ioctl_on(handle));
}

std::optional<AlignmentAnswer> SimulatedPlatform::access_alignment(DeviceHandle handle) {
  return ioctl_access_alignment(ioctl_on(handle));
}

std::expected<std::uint32_t, SourceError> SimulatedPlatform::geometry_sector_size(
    DeviceHandle handle) {
  return ioctl_geometry_sector_size(ioctl_on(handle));
}

std::expected<StorageDescriptor, SourceError> SimulatedPlatform::storage_descriptor(
    DeviceHandle handle) {
  return ioctl_storage_descriptor(ioctl_on(handle));
}

std::expected<std::uint32_t, SourceError> SimulatedPlatform::device_number(DeviceHandle handle) {
  return ioctl_device_number(ioctl_on(handle));
}

std::expected<std::uint32_t, SourceError> SimulatedPlatform::read_at(
    DeviceHandle handle, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  apply_events();
  log_.push_back("read " + handle_text(handle) + " " + std::to_string(offset) + "+" +
                 std::to_string(buffer.size()));
  const auto it = handles_.find(handle.value);
  if (it == handles_.end()) return std::unexpected(device_error(win32::kInvalidHandle));
  if (it->second.access != DeviceAccess::Read)
    return std::unexpected(device_error(win32::kAccessDenied));
  auto reached = reach(handle);
  if (!reached) return std::unexpected(reached.error());

  const std::uint64_t start = offset + (reached->volume != nullptr ? reached->volume->start : 0);
  const std::uint64_t end = start + buffer.size();
  for (auto& fault : read_faults) {
    if (fault.drive_number != reached->disk->drive_number || fault.times == 0) continue;
    if (start >= fault.offset + fault.length || fault.offset >= end) continue;
    if (fault.times != 0xFFFFFFFF) --fault.times;
    if (!fault.delivered) return std::unexpected(device_error(fault.error));
    ++reads_delivered_;
    return std::min<std::uint32_t>(*fault.delivered, static_cast<std::uint32_t>(buffer.size()));
  }
  return deliver(*reached, start, buffer);
}

// The medium's bytes from `start` on, zeros past its content, up to the end of
// the volume (or disk) the handle was opened on.
std::expected<std::uint32_t, SourceError> SimulatedPlatform::deliver(
    const Reach& reach, std::uint64_t start, std::span<std::uint8_t> buffer) {
  const SimulatedVolume* v = reach.volume;
  const std::uint64_t end = start + buffer.size();
  const std::uint64_t volume_end =
      v != nullptr && v->length
          ? v->start + static_cast<std::uint64_t>(*v->length)
          : static_cast<std::uint64_t>(std::max<std::int64_t>(reach.disk->length, 0));
  const std::uint64_t available = start >= volume_end ? 0 : std::min(end, volume_end) - start;
  // Zeros only where the medium has no bytes: a card read stands in for a
  // device read and should cost about as much, not a pass over the buffer more.
  std::size_t stored = 0;
  if (reach.disk->content && available > 0) {
    auto read = reach.disk->content->read(start, buffer.first(static_cast<std::size_t>(available)));
    if (!read) return std::unexpected(read.error());
    stored = *read;
  }
  std::ranges::fill(buffer.subspan(stored), std::uint8_t{0});
  ++reads_delivered_;
  return static_cast<std::uint32_t>(available);
}

std::optional<std::string> SimulatedPlatform::system_directory() {
  log_.push_back("system-directory");
  return system_directory_text;
}

std::expected<std::vector<std::uint32_t>, SourceError> SimulatedPlatform::physical_drives_holding(
    const std::filesystem::path& path) {
  log_.push_back("drives-holding " + path_display(path));
  if (drives_holding_error) return service_error(*drives_holding_error);
  // The longest recorded path that contains this one decides. Like
  // GetVolumePathNameW, a lettered path is found also in its extended-length
  // spelling.
  std::string text = path_display(path);
  if (kNativePathRules == PathRules::Windows && text.starts_with("\\\\?\\") && text.size() >= 6 &&
      text[5] == ':') {
    text.erase(0, 4);
  }
  std::optional<std::vector<std::uint32_t>> best;
  std::size_t best_length = 0;
  // Windows paths separate with backslashes as well.
  const auto separator = [](char c) {
    return c == '/' || (kNativePathRules == PathRules::Windows && c == '\\');
  };
  for (const auto& [prefix, drives] : drives_holding) {
    const bool inside =
        text == prefix || (text.starts_with(prefix) && !prefix.empty() &&
                           (separator(prefix.back()) || separator(text[prefix.size()])));
    if (inside && prefix.size() >= best_length) {
      best = drives;
      best_length = prefix.size();
    }
  }
  return best.value_or(std::vector<std::uint32_t>{});
}

std::expected<std::uint32_t, SourceError> SimulatedPlatform::logical_drives() {
  log_.push_back("logical-drives");
  if (logical_drives_error) return service_error(*logical_drives_error);
  std::uint32_t mask = 0;
  for (const auto& v : volumes) mask |= std::uint32_t{1} << (v.letter - 'A');
  return mask;
}

std::optional<VolumeInformation> SimulatedPlatform::volume_information(char letter) {
  log_.push_back(std::string("volume-information ") + letter);
  const SimulatedVolume* v = volume(letter);
  if (v == nullptr || v->information_fails) return std::nullopt;
  return VolumeInformation{v->label.value_or(""), v->file_system.value_or("")};
}

std::expected<std::uint64_t, SourceError> SimulatedPlatform::available_space(
    const std::filesystem::path& directory) {
  log_.push_back("available-space " + path_display(directory));
  if (free_space_error) return service_error(*free_space_error);
  return free_space;
}

SimulatedDisk usb_card(std::uint32_t drive_number, std::int64_t length,
                       std::optional<std::string> serial) {
  SimulatedDisk disk;
  disk.drive_number = drive_number;
  disk.length = length;
  disk.facts.vendor = "Example";
  disk.facts.product = "Card Reader";
  disk.facts.serial = std::move(serial);
  disk.facts.bus_type_code = 7;
  return disk;
}

SimulatedDisk internal_disk(std::uint32_t drive_number, std::uint32_t bus_type_code,
                            std::int64_t length) {
  SimulatedDisk disk;
  disk.drive_number = drive_number;
  disk.length = length;
  disk.facts.vendor = "Internal";
  disk.facts.product = "Disk";
  disk.facts.serial = "INT" + std::to_string(drive_number);
  disk.facts.bus_type_code = bus_type_code;
  return disk;
}

SimulatedVolume volume_on(char letter, std::uint32_t drive_number, std::optional<std::string> label,
                          std::optional<std::string> file_system) {
  SimulatedVolume volume;
  volume.letter = letter;
  volume.drive_number = drive_number;
  volume.label = std::move(label);
  volume.file_system = std::move(file_system);
  return volume;
}

ReadFault read_fault(std::uint32_t drive_number, std::uint64_t offset, std::uint64_t length,
                     std::uint32_t error, std::uint32_t times) {
  return ReadFault{drive_number, offset, length, error, times, std::nullopt};
}

ReadFault short_read_fault(std::uint32_t drive_number, std::uint64_t offset, std::uint64_t length,
                           std::uint32_t delivered) {
  ReadFault fault = read_fault(drive_number, offset, length);
  fault.delivered = delivered;
  return fault;
}

MediumEvent disconnect_after(std::uint32_t drive_number, std::uint64_t reads) {
  return MediumEvent{MediumEvent::Kind::Disconnect, reads, drive_number, {}};
}

MediumEvent replace_after(std::uint32_t drive_number, std::uint64_t reads,
                          SimulatedDisk replacement) {
  return MediumEvent{MediumEvent::Kind::ReplaceDisk, reads, drive_number, std::move(replacement)};
}

void record_drive_letter_of(SimulatedPlatform& platform, const std::filesystem::path& path,
                            std::uint32_t drive_number) {
  if constexpr (kNativePathRules == PathRules::Windows) {
    const std::string text = path_display(path);
    if (text.size() < 2 || text[1] != ':') return;
    const char letter =
        static_cast<char>(text[0] >= 'a' && text[0] <= 'z' ? text[0] - 'a' + 'A' : text[0]);
    std::erase_if(platform.volumes, [&](const SimulatedVolume& v) { return v.letter == letter; });
    platform.volumes.push_back(volume_on(letter, drive_number));
    if (platform.disk(drive_number) == nullptr)
      platform.disks.push_back(internal_disk(drive_number, 11));
  } else {
    (void)platform;
    (void)path;
    (void)drive_number;
  }
}

}  // namespace kestrel::testing
