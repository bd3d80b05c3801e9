#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/device_identity/raw_device_source.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "tests/support/simulated-platform/simulated_platform.hpp"

namespace kestrel::testing {

// A removable card for the imaging engine to copy: a simulated machine with
// its system on a SATA disk and a USB card on drive 3, described and opened as
// the image command does, and read through the guarded raw reader. Scripted
// trouble goes into the machine. Every read_at is counted and logged, failed
// ones included.
class SimulatedCard final : public DeviceReader {
 public:
  struct Request {
    std::uint64_t offset;
    std::uint64_t length;
    bool succeeded;
  };

  static constexpr std::uint32_t kDriveNumber = 3;
  static constexpr std::uint64_t kMaxRequestBytes = 1048576;

  explicit SimulatedCard(std::vector<std::uint8_t> contents, std::uint32_t sector_size = 512);
  // A card whose contents are a file's, read where the card is read. Fails
  // as opening the file or reading its length fails.
  static std::expected<SimulatedCard, SourceError> over_file(const std::filesystem::path& path,
                                                             std::uint32_t sector_size = 512);

  const DeviceInfo& expected_identity() const override { return reader_->expected_identity(); }
  std::expected<void, SourceError> read_at(std::uint64_t offset,
                                           std::span<std::uint8_t> buffer) override;

  SimulatedPlatform& machine() { return *machine_; }

  // Every read that covers the sector fails with the Win32 code, `times` times in all.
  void fail_sector(std::uint64_t sector_offset, std::uint32_t times,
                   std::uint32_t code = win32::kCrc);
  // Every read that covers the sector fails, for good.
  void fail_sector_always(std::uint64_t sector_offset, std::uint32_t code = win32::kCrc);
  // The card is pulled out once this many reads delivered data.
  void disconnect_after_reads(std::uint64_t reads);
  // Another card of another size is in the reader once this many reads delivered data.
  void swap_card_after_reads(std::uint64_t reads);

  std::size_t read_count() const { return requests_.size(); }
  const std::vector<Request>& requests() const { return requests_; }
  // How many reads (failed or not) covered the byte at this offset.
  std::size_t reads_covering(std::uint64_t offset) const;

 private:
  SimulatedCard(std::shared_ptr<MediumContent> content, std::uint64_t capacity,
                std::uint32_t sector_size);

  std::unique_ptr<SimulatedPlatform> machine_;  // where the reader's handle lives: never moves
  std::optional<RawDeviceSource> reader_;
  std::vector<Request> requests_;
};

// Deterministic pseudo-random bytes, so a byte that lands in the wrong place
// (or a chunk written twice or skipped) shows in the image.
std::vector<std::uint8_t> device_pattern(std::uint64_t length);

}  // namespace kestrel::testing
