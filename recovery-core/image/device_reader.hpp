#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/source/device_info.hpp"

namespace kestrel {

// The device as the imaging engine sees it: the description it was opened
// against and whole reads. RawDeviceSource (platform/device_identity/) is the
// one real reader; the engine tells its failures apart only by
// SourceError::is_generic_io (worth a retry) and
// SourceError::may_be_zero_filled (a failed transfer, which the sector
// fallback may turn into zeros). A failed read leaves the reader usable.
class DeviceReader {
 public:
  virtual ~DeviceReader() = default;

  // Fixed for the reader's life; the image and its checkpoints are bound to
  // its capacity, sector size and stable_id.
  virtual const DeviceInfo& expected_identity() const = 0;

  // The bytes at the offset, the whole buffer of them, or a failure (fewer
  // bytes than asked is one too).
  virtual std::expected<void, SourceError> read_at(std::uint64_t offset,
                                                   std::span<std::uint8_t> buffer) = 0;
};

}  // namespace kestrel
