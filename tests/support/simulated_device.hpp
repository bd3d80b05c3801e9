#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "os/file_handle.hpp"
#include "recovery-core/image/device_reader.hpp"

namespace kestrel::testing {

// A removable card for the imaging engine to copy, with scripted trouble:
// sectors that fail a number of times or for good, a disconnection and a
// swapped card from a given read on. It keeps the raw reader's contract:
// requests longer than the maximum (1 MiB), past the capacity or off the
// sector grid are refused as the guarded reader refuses them, and a read
// either fills the whole buffer or fails. Every read_at call is counted and
// logged, failed ones included.
class SimulatedDevice final : public DeviceReader {
 public:
  struct Request {
    std::uint64_t offset;
    std::uint64_t length;
    bool succeeded;
  };

  explicit SimulatedDevice(std::vector<std::uint8_t> contents, std::uint32_t sector_size = 512);
  // A device whose contents are a file's (read with positional reads).
  static std::expected<SimulatedDevice, SourceError> over_file(const std::filesystem::path& path,
                                                               std::uint32_t sector_size = 512);

  const DeviceInfo& expected_identity() const override { return identity_; }
  std::expected<void, SourceError> read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override;

  // The generic I/O error a bad sector gives on this platform (EIO on Linux,
  // ERROR_CRC on Windows).
  static SourceError bad_sector_error();

  // Every read that covers the sector at this offset fails with the error,
  // `times` times in all; later reads succeed.
  void fail_sector(std::uint64_t sector_offset, unsigned times, SourceError error = bad_sector_error());
  // Every read that covers the sector fails, for good.
  void fail_sector_always(std::uint64_t sector_offset, SourceError error = bad_sector_error());
  // From the read with this number on (the first read is number 1) the card is gone.
  void disconnect_from_read(std::size_t read_number);
  // From the read with this number on another card of another size sits in the reader.
  void swap_card_from_read(std::size_t read_number);

  std::size_t read_count() const { return requests_.size(); }
  const std::vector<Request>& requests() const { return requests_; }
  // How many reads (failed or not) covered the byte at this offset.
  std::size_t reads_covering(std::uint64_t offset) const;

  static constexpr std::uint64_t kMaxRequestBytes = 1048576;

 private:
  struct Trouble {
    std::optional<unsigned> remaining;  // absent: fails for good
    SourceError error;
  };

  SimulatedDevice(std::optional<FileHandle> file, std::vector<std::uint8_t> contents,
                  std::uint64_t capacity, std::uint32_t sector_size);
  std::expected<void, SourceError> read_inner(std::uint64_t offset, std::span<std::uint8_t> buffer);

  std::optional<FileHandle> file_;
  std::vector<std::uint8_t> contents_;
  DeviceInfo identity_;
  std::map<std::uint64_t, Trouble> troubled_sectors_;
  std::optional<std::size_t> disconnect_from_;
  std::optional<std::size_t> swap_from_;
  std::vector<Request> requests_;
};

// Deterministic pseudo-random bytes, so a byte that lands in the wrong place
// (or a chunk written twice or skipped) shows in the image.
std::vector<std::uint8_t> device_pattern(std::uint64_t length);

}  // namespace kestrel::testing
