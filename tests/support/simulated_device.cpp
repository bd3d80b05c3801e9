#include "tests/support/simulated_device.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "os/os_error.hpp"
#include "recovery-core/source/read_validation.hpp"
#include "tests/support/os_error_codes.hpp"

namespace kestrel::testing {

namespace {

DeviceInfo simulated_identity(std::uint64_t capacity, std::uint32_t sector_size) {
  DeviceInfo info;
  info.physical_drive_number = 3;
  info.bus_type = BusType::Usb;
  info.bus_type_code = 7;
  info.vendor_id = "Kestrel";
  info.product_id = "Simulated Card";
  info.serial_number = "SIM-0001";
  info.capacity_bytes = capacity;
  info.logical_sector_size = sector_size;
  info.physical_sector_size = sector_size;
  auto [stable_id, stability] = stable_identity(info.bus_type, info.vendor_id, info.product_id,
                                                info.serial_number, info.physical_drive_number);
  info.stable_id = std::move(stable_id);
  info.identity_stability = stability;
  info.system_disk_status = SystemDiskStatus::ConfirmedNonSystem;
  return info;
}

}  // namespace

SimulatedDevice::SimulatedDevice(std::vector<std::uint8_t> contents, std::uint32_t sector_size)
    : SimulatedDevice(std::nullopt, std::move(contents), 0, sector_size) {
  identity_.capacity_bytes = contents_.size();
}

SimulatedDevice::SimulatedDevice(std::optional<FileHandle> file, std::vector<std::uint8_t> contents,
                                 std::uint64_t capacity, std::uint32_t sector_size)
    : file_(std::move(file)),
      contents_(std::move(contents)),
      identity_(simulated_identity(capacity, sector_size)) {}

std::expected<SimulatedDevice, SourceError> SimulatedDevice::over_file(const std::filesystem::path& path,
                                                                       std::uint32_t sector_size) {
  auto file = FileHandle::open_for_reading(path);
  if (!file) return std::unexpected(file.error());
  auto length = file->length();
  if (!length) return std::unexpected(length.error());
  return SimulatedDevice(std::move(*file), {}, *length, sector_size);
}

SourceError SimulatedDevice::bad_sector_error() {
#ifdef _WIN32
  return source_error_from_os(kBadSectorCode, os_message(kBadSectorCode));
#else
  return source_error_from_errno(kBadSectorCode);
#endif
}

void SimulatedDevice::fail_sector(std::uint64_t sector_offset, unsigned times, SourceError error) {
  troubled_sectors_.insert_or_assign(sector_offset, Trouble{times, std::move(error)});
}

void SimulatedDevice::fail_sector_always(std::uint64_t sector_offset, SourceError error) {
  troubled_sectors_.insert_or_assign(sector_offset, Trouble{std::nullopt, std::move(error)});
}

void SimulatedDevice::disconnect_from_read(std::size_t read_number) { disconnect_from_ = read_number; }

void SimulatedDevice::swap_card_from_read(std::size_t read_number) { swap_from_ = read_number; }

std::size_t SimulatedDevice::reads_covering(std::uint64_t offset) const {
  return static_cast<std::size_t>(std::ranges::count_if(requests_, [offset](const Request& r) {
    return offset >= r.offset && offset - r.offset < r.length;
  }));
}

std::expected<void, SourceError> SimulatedDevice::read_at(std::uint64_t offset,
                                                          std::span<std::uint8_t> buffer) {
  auto result = read_inner(offset, buffer);
  requests_.push_back(Request{offset, buffer.size(), result.has_value()});
  return result;
}

std::expected<void, SourceError> SimulatedDevice::read_inner(std::uint64_t offset,
                                                             std::span<std::uint8_t> buffer) {
  const std::size_t number = requests_.size() + 1;
  // The order of the guarded reader: describe the device, compare, validate, read.
  if (disconnect_from_ && number >= *disconnect_from_) {
    return std::unexpected(SourceError::device_disconnected());
  }
  if (swap_from_ && number >= *swap_from_) {
    return std::unexpected(SourceError::identity_mismatch("capacity_bytes"));
  }
  auto range = validate_read(kMaxRequestBytes, true, identity_.capacity_bytes,
                             identity_.logical_sector_size, offset, buffer.size());
  if (!range) return std::unexpected(range.error());
  if (buffer.empty()) return {};

  // Scripted sectors inside the request, in ascending order: each one the
  // read touches uses up one of its failures; the first one decides the error.
  std::optional<SourceError> failure;
  for (auto it = troubled_sectors_.lower_bound(offset); it != troubled_sectors_.end() && it->first < range->end;
       ++it) {
    Trouble& trouble = it->second;
    if (trouble.remaining && *trouble.remaining == 0) continue;
    if (trouble.remaining) --*trouble.remaining;
    if (!failure) failure = trouble.error;
  }
  if (failure) return std::unexpected(std::move(*failure));

  if (!file_) {
    std::copy_n(contents_.begin() + static_cast<std::ptrdiff_t>(offset), buffer.size(), buffer.begin());
    return {};
  }
  std::size_t done = 0;
  while (done < buffer.size()) {
    auto got = file_->read_at(offset + done, buffer.subspan(done));
    if (!got) return std::unexpected(source_error_from_image_io(got.error()));
    if (*got == 0) return std::unexpected(SourceError::short_read(buffer.size(), done));
    done += *got;
  }
  return {};
}

std::vector<std::uint8_t> device_pattern(std::uint64_t length) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    // xorshift64: cheap, and never repeats within any size used here.
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    bytes[i] = static_cast<std::uint8_t>(state >> 56);
  }
  return bytes;
}

}  // namespace kestrel::testing
