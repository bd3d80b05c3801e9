#include "tests/support/recorded_device_platform.hpp"

#include <algorithm>
#include <cstring>

#include "os/file_system.hpp"
#include "os/path_split.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel::testing {

namespace {

std::unexpected<PlatformError> failure(std::uint32_t code) {
  return std::unexpected(PlatformError{code});
}

const char* control_name(RecordedControl control) {
  switch (control) {
    case RecordedControl::Length: return "length";
    case RecordedControl::Geometry: return "geometry";
    case RecordedControl::Alignment: return "alignment";
    case RecordedControl::DescriptorHeader: return "descriptor-header";
    case RecordedControl::Descriptor: return "descriptor";
    case RecordedControl::DeviceNumber: return "device-number";
  }
  return "?";
}

std::optional<RecordedControl> classify(DeviceControl code, std::span<const std::uint8_t> input,
                                        std::size_t output_size) {
  switch (code) {
    case DeviceControl::GetLengthInformation: return RecordedControl::Length;
    case DeviceControl::GetDriveGeometry: return RecordedControl::Geometry;
    case DeviceControl::GetDeviceNumber: return RecordedControl::DeviceNumber;
    case DeviceControl::QueryStorageProperty: {
      const auto property = storage_property_id(input);
      if (property == storage_layout::kStorageAccessAlignmentProperty) {
        return RecordedControl::Alignment;
      }
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

}  // namespace

RecordedDisk* RecordedDevicePlatform::disk(std::uint32_t drive_number) {
  const auto it = std::ranges::find(disks, drive_number, &RecordedDisk::drive_number);
  return it == disks.end() ? nullptr : &*it;
}

RecordedVolume* RecordedDevicePlatform::volume(char letter) {
  const auto it = std::ranges::find(volumes, letter, &RecordedVolume::letter);
  return it == volumes.end() ? nullptr : &*it;
}

std::vector<std::string> RecordedDevicePlatform::log_of(std::string_view prefix) const {
  std::vector<std::string> entries;
  for (const auto& entry : log_) {
    if (entry.starts_with(prefix)) entries.push_back(entry);
  }
  return entries;
}

void RecordedDevicePlatform::apply_events() {
  for (auto it = events.begin(); it != events.end();) {
    if (reads_delivered_ < it->after_reads) {
      ++it;
      continue;
    }
    if (it->kind == RecordedEvent::Kind::Disconnect) {
      disconnected_.insert(it->drive_number);
    } else if (RecordedDisk* target = disk(it->drive_number)) {
      *target = it->replacement;
    }
    it = events.erase(it);
  }
}

std::expected<DeviceHandle, PlatformError> RecordedDevicePlatform::open(const DevicePath& path,
                                                                        DeviceAccess access) {
  apply_events();
  log_.push_back("open " + path.text() + (access == DeviceAccess::Read ? " read" : " query"));
  std::uint32_t drive_number = path.drive_number;
  if (path.kind == DevicePath::Kind::Volume) {
    RecordedVolume* v = volume(path.letter);
    if (v == nullptr) return failure(win32::kFileNotFound);
    if (v->open_error) return std::unexpected(*v->open_error);
    drive_number = v->drive_number;
  }
  RecordedDisk* d = disk(drive_number);
  if (d == nullptr) return failure(win32::kFileNotFound);
  if (disconnected_.contains(drive_number)) return failure(win32::kNotReady);
  if (d->open_error) return std::unexpected(*d->open_error);
  const DeviceHandle handle{next_handle_++};
  handles_.emplace(handle.value, Handle{path, access});
  ++opens_;
  log_.back() += " -> " + handle_text(handle);
  return handle;
}

void RecordedDevicePlatform::close(DeviceHandle handle) {
  log_.push_back("close " + handle_text(handle));
  if (handles_.erase(handle.value) == 0) {
    ++bad_closes_;
    return;
  }
  ++closes_;
}

std::expected<std::uint32_t, PlatformError> RecordedDevicePlatform::control(
    DeviceHandle handle, DeviceControl code, std::span<const std::uint8_t> input,
    std::span<std::uint8_t> output) {
  apply_events();
  const auto kind = classify(code, input, output.size());
  log_.push_back(std::string("control ") + (kind ? control_name(*kind) : "unsupported") + " " +
                 handle_text(handle));
  const auto it = handles_.find(handle.value);
  if (it == handles_.end()) return failure(6);  // ERROR_INVALID_HANDLE
  if (!kind) return failure(win32::kInvalidFunction);
  const DevicePath& path = it->second.path;

  RecordedVolume* v = path.kind == DevicePath::Kind::Volume ? volume(path.letter) : nullptr;
  const std::uint32_t drive_number = v != nullptr ? v->drive_number : path.drive_number;
  RecordedDisk* d = disk(drive_number);
  if (d == nullptr || disconnected_.contains(drive_number)) {
    return failure(win32::kDeviceNotConnected);
  }

  const RecordedAnswer* answer = nullptr;
  if (v != nullptr && v->answers.contains(*kind)) answer = &v->answers.at(*kind);
  if (answer == nullptr && d->answers.contains(*kind)) answer = &d->answers.at(*kind);
  if (answer != nullptr) {
    if (answer->error) return std::unexpected(*answer->error);
    const std::uint32_t copied = copy_answer(answer->bytes, output);
    return answer->returned.value_or(copied);
  }

  const std::int64_t length = v != nullptr && v->length ? *v->length : d->length;
  switch (*kind) {
    case RecordedControl::Length:
      return copy_answer(encode_length_information(length), output);
    case RecordedControl::Geometry:
      return copy_answer(encode_disk_geometry(static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0)),
                                              d->logical_sector_size, d->facts.removable),
                         output);
    case RecordedControl::Alignment:
      return copy_answer(encode_alignment_descriptor(d->logical_sector_size, d->physical_sector_size),
                         output);
    case RecordedControl::DescriptorHeader:
    case RecordedControl::Descriptor:
      return copy_answer(encode_storage_device_descriptor(d->facts), output);
    case RecordedControl::DeviceNumber:
      return copy_answer(encode_device_number(d->drive_number, v != nullptr ? 1 : 0), output);
  }
  return failure(win32::kInvalidFunction);
}

std::expected<std::uint32_t, PlatformError> RecordedDevicePlatform::read_at(
    DeviceHandle handle, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  apply_events();
  log_.push_back("read " + handle_text(handle) + " " + std::to_string(offset) + "+" +
                 std::to_string(buffer.size()));
  const auto it = handles_.find(handle.value);
  if (it == handles_.end()) return failure(6);
  if (it->second.access != DeviceAccess::Read) return failure(win32::kAccessDenied);
  const DevicePath& path = it->second.path;
  RecordedVolume* v = path.kind == DevicePath::Kind::Volume ? volume(path.letter) : nullptr;
  const std::uint32_t drive_number = v != nullptr ? v->drive_number : path.drive_number;
  RecordedDisk* d = disk(drive_number);
  if (d == nullptr || disconnected_.contains(drive_number)) {
    return failure(win32::kDeviceNotConnected);
  }

  const std::uint64_t start = offset + (v != nullptr ? v->start : 0);
  const std::uint64_t end = start + buffer.size();
  for (auto& fault : read_faults) {
    if (fault.drive_number != drive_number || fault.times == 0) continue;
    if (start < fault.offset + fault.length && fault.offset < end) {
      if (fault.times != 0xFFFFFFFF) --fault.times;
      if (fault.delivered) {
        ++reads_delivered_;
        return std::min<std::uint32_t>(*fault.delivered, static_cast<std::uint32_t>(buffer.size()));
      }
      return std::unexpected(fault.error);
    }
  }

  const std::uint64_t volume_end =
      v != nullptr && v->length ? v->start + static_cast<std::uint64_t>(*v->length)
                                : static_cast<std::uint64_t>(std::max<std::int64_t>(d->length, 0));
  const std::uint64_t available = start >= volume_end ? 0 : std::min(end, volume_end) - start;
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  if (d->content && start < d->content->size()) {
    const std::uint64_t stored = std::min<std::uint64_t>(available, d->content->size() - start);
    std::memcpy(buffer.data(), d->content->data() + start, stored);
  }
  ++reads_delivered_;
  return static_cast<std::uint32_t>(available);
}

std::uint32_t RecordedDevicePlatform::system_directory(std::span<char16_t> buffer) {
  log_.push_back("system-directory");
  if (system_directory_result) return *system_directory_result;
  if (system_directory_text.size() >= buffer.size()) {
    return static_cast<std::uint32_t>(system_directory_text.size() + 1);
  }
  std::ranges::copy(system_directory_text, buffer.begin());
  buffer[system_directory_text.size()] = u'\0';
  return static_cast<std::uint32_t>(system_directory_text.size());
}

std::expected<std::vector<std::uint32_t>, PlatformError> RecordedDevicePlatform::physical_drives_holding(
    const std::filesystem::path& path) {
  log_.push_back("drives-holding " + path_display(path));
  if (drives_holding_error) return std::unexpected(*drives_holding_error);
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
  const auto separator = [](char c) { return c == '/' || (kNativePathRules == PathRules::Windows && c == '\\'); };
  for (const auto& [prefix, drives] : drives_holding) {
    const bool inside = text == prefix || (text.starts_with(prefix) && !prefix.empty() &&
                                           (separator(prefix.back()) || separator(text[prefix.size()])));
    if (inside && prefix.size() >= best_length) {
      best = drives;
      best_length = prefix.size();
    }
  }
  return best.value_or(std::vector<std::uint32_t>{});
}

std::expected<std::uint32_t, PlatformError> RecordedDevicePlatform::logical_drives() {
  log_.push_back("logical-drives");
  if (logical_drives_error) return std::unexpected(*logical_drives_error);
  std::uint32_t mask = 0;
  for (const auto& v : volumes) mask |= std::uint32_t{1} << (v.letter - 'A');
  return mask;
}

bool RecordedDevicePlatform::volume_information(char letter, std::span<char16_t> label,
                                                std::span<char16_t> file_system) {
  log_.push_back(std::string("volume-information ") + letter);
  RecordedVolume* v = volume(letter);
  if (v == nullptr || v->information_fails) return false;
  const auto put = [](std::span<char16_t> buffer, const std::optional<std::string>& text) {
    const std::u16string units = text ? encode_utf16(*text) : std::u16string();
    const std::size_t count = std::min(units.size(), buffer.size());
    std::copy_n(units.begin(), count, buffer.begin());
    if (count < buffer.size()) buffer[count] = u'\0';
  };
  put(label, v->label);
  put(file_system, v->file_system);
  return true;
}

std::expected<std::uint64_t, PlatformError> RecordedDevicePlatform::available_space(
    const std::filesystem::path& directory) {
  log_.push_back("available-space " + path_display(directory));
  if (free_space_error) return std::unexpected(*free_space_error);
  return free_space;
}

namespace {

// The system texts of the Win32 codes the recorded devices use.
std::string_view system_text(std::uint32_t code) {
  switch (code) {
    case win32::kInvalidFunction: return "Incorrect function.";
    case win32::kFileNotFound: return "The system cannot find the file specified.";
    case win32::kAccessDenied: return "Access is denied.";
    case win32::kNotReady: return "The device is not ready.";
    case win32::kCrc: return "Data error (cyclic redundancy check).";
    case win32::kMediaChanged: return "The media in the drive may have changed.";
    case win32::kNoMediaInDrive: return "There is no media in the drive.";
    case win32::kDeviceNotConnected: return "The device is not connected.";
    default: return "Unknown error.";
  }
}

}  // namespace

SourceError RecordedDevicePlatform::source_error(PlatformError error) const {
  return source_error_from_os(error.code, system_text(error.code));
}

std::string RecordedDevicePlatform::error_text(PlatformError error) const {
  return std::string(system_text(error.code)) + " (os error " + std::to_string(error.code) + ")";
}

RecordedDisk usb_card(std::uint32_t drive_number, std::int64_t length,
                      std::optional<std::string> serial) {
  RecordedDisk disk;
  disk.drive_number = drive_number;
  disk.length = length;
  disk.facts.vendor = "Example";
  disk.facts.product = "Card Reader";
  disk.facts.serial = std::move(serial);
  disk.facts.bus_type_code = 7;
  disk.facts.removable = true;
  return disk;
}

RecordedReadFault read_fault(std::uint32_t drive_number, std::uint64_t offset,
                             std::uint64_t length, PlatformError error, std::uint32_t times) {
  RecordedReadFault fault;
  fault.drive_number = drive_number;
  fault.offset = offset;
  fault.length = length;
  fault.error = error;
  fault.times = times;
  return fault;
}

RecordedReadFault short_read_fault(std::uint32_t drive_number, std::uint64_t offset,
                                   std::uint64_t length, std::uint32_t delivered) {
  RecordedReadFault fault = read_fault(drive_number, offset, length);
  fault.delivered = delivered;
  return fault;
}

RecordedEvent disconnect_after(std::uint32_t drive_number, std::uint64_t reads) {
  RecordedEvent event;
  event.kind = RecordedEvent::Kind::Disconnect;
  event.after_reads = reads;
  event.drive_number = drive_number;
  return event;
}

RecordedEvent replace_after(std::uint32_t drive_number, std::uint64_t reads,
                            RecordedDisk replacement) {
  RecordedEvent event;
  event.kind = RecordedEvent::Kind::ReplaceDisk;
  event.after_reads = reads;
  event.drive_number = drive_number;
  event.replacement = std::move(replacement);
  return event;
}

RecordedVolume volume_on(char letter, std::uint32_t drive_number,
                         std::optional<std::string> label, std::optional<std::string> file_system) {
  RecordedVolume volume;
  volume.letter = letter;
  volume.drive_number = drive_number;
  volume.label = std::move(label);
  volume.file_system = std::move(file_system);
  return volume;
}

RecordedDisk internal_disk(std::uint32_t drive_number, std::uint32_t bus_type_code,
                           std::int64_t length) {
  RecordedDisk disk;
  disk.drive_number = drive_number;
  disk.length = length;
  disk.facts.vendor = "Internal";
  disk.facts.product = "Disk";
  disk.facts.serial = "INT" + std::to_string(drive_number);
  disk.facts.bus_type_code = bus_type_code;
  return disk;
}

void record_drive_letter_of(RecordedDevicePlatform& platform, const std::filesystem::path& path,
                            std::uint32_t drive_number) {
  if constexpr (kNativePathRules == PathRules::Windows) {
    const std::string text = path_display(path);
    if (text.size() < 2 || text[1] != ':') return;
    const char letter = static_cast<char>(text[0] >= 'a' && text[0] <= 'z' ? text[0] - 'a' + 'A' : text[0]);
    std::erase_if(platform.volumes, [&](const RecordedVolume& v) { return v.letter == letter; });
    platform.volumes.push_back(volume_on(letter, drive_number));
    if (platform.disk(drive_number) == nullptr) platform.disks.push_back(internal_disk(drive_number, 11));
  } else {
    (void)platform;
    (void)path;
    (void)drive_number;
  }
}

}  // namespace kestrel::testing
