#include "tests/support/simulated-platform/simulated_card.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/device_identity/describe_device.hpp"

namespace kestrel::testing {

namespace {

constexpr std::uint32_t kSystemDrive = 0;

std::unique_ptr<SimulatedPlatform> card_machine(std::shared_ptr<MediumContent> content,
                                                std::uint64_t capacity, std::uint32_t sector_size) {
  auto machine = std::make_unique<SimulatedPlatform>();
  machine->disks.push_back(internal_disk(kSystemDrive, 11));
  machine->volumes.push_back(volume_on('C', kSystemDrive));
  SimulatedDisk card = usb_card(SimulatedCard::kDriveNumber, static_cast<std::int64_t>(capacity));
  card.logical_sector_size = sector_size;
  card.physical_sector_size = sector_size;
  card.content = std::move(content);
  machine->disks.push_back(std::move(card));
  return machine;
}

// Describes and opens the card as the image command does. A card that cannot
// be opened is a mistake in the test that set it up.
RawDeviceSource open_card(SimulatedPlatform& machine) {
  auto expected = describe_physical_drive(machine, SimulatedCard::kDriveNumber);
  if (!expected) throw std::logic_error("simulated card: " + expected.error().message());
  auto opened = open_physical_drive(machine, *expected);
  if (!opened) throw std::logic_error("simulated card: " + opened.error().message());
  return RawDeviceSource(
      std::move(*opened),
      ReadLimits{.max_request_bytes = SimulatedCard::kMaxRequestBytes, .require_alignment = true});
}

}  // namespace

SimulatedCard::SimulatedCard(std::shared_ptr<MediumContent> content, std::uint64_t capacity,
                             std::uint32_t sector_size)
    : machine_(card_machine(std::move(content), capacity, sector_size)),
      reader_(open_card(*machine_)) {}

SimulatedCard::SimulatedCard(std::vector<std::uint8_t> contents, std::uint32_t sector_size)
    : SimulatedCard(nullptr, contents.size(), sector_size) {
  machine_->disk(kDriveNumber)->content = std::make_shared<MediumContent>(std::move(contents));
}

std::expected<SimulatedCard, SourceError> SimulatedCard::over_file(
    const std::filesystem::path& path, std::uint32_t sector_size) {
  auto content = MediumContent::of_file(path);
  if (!content) return std::unexpected(content.error());
  auto length = (*content)->length();
  if (!length) return std::unexpected(length.error());
  return SimulatedCard(std::move(*content), *length, sector_size);
}

std::expected<void, SourceError> SimulatedCard::read_at(std::uint64_t offset,
                                                        std::span<std::uint8_t> buffer) {
  auto result = reader_->read_at(offset, buffer);
  requests_.push_back(Request{offset, buffer.size(), result.has_value()});
  return result;
}

void SimulatedCard::fail_sector(std::uint64_t sector_offset, std::uint32_t times,
                                std::uint32_t code) {
  machine_->read_faults.push_back(read_fault(kDriveNumber, sector_offset,
                                             expected_identity().logical_sector_size, code, times));
}

void SimulatedCard::fail_sector_always(std::uint64_t sector_offset, std::uint32_t code) {
  machine_->read_faults.push_back(
      read_fault(kDriveNumber, sector_offset, expected_identity().logical_sector_size, code));
}

void SimulatedCard::disconnect_after_reads(std::uint64_t reads) {
  machine_->events.push_back(disconnect_after(kDriveNumber, reads));
}

void SimulatedCard::swap_card_after_reads(std::uint64_t reads) {
  SimulatedDisk other = *machine_->disk(kDriveNumber);
  other.length += other.logical_sector_size;
  machine_->events.push_back(replace_after(kDriveNumber, reads, std::move(other)));
}

std::size_t SimulatedCard::reads_covering(std::uint64_t offset) const {
  return static_cast<std::size_t>(std::ranges::count_if(requests_, [offset](const Request& r) {
    return offset >= r.offset && offset - r.offset < r.length;
  }));
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
