#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/source/device_info.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// What the imaging engine needs of a device: the identity it was opened
// against, and reads that deliver exactly what was asked for.
//
// The guarded raw reader is the real implementation: before every read it
// describes the device again and compares that with the expected identity,
// and it refuses requests that are too long, end past the capacity or are not
// sector aligned. Failures are SourceError values; only the generic Io kind can
// be transient, and a failed read leaves the reader usable. A failure that arose
// before the transfer (SourceError::arose_before_transfer: the fresh
// description or the comparison failed) may be retried but is never taken for
// unreadable sectors: only SourceError::may_be_zero_filled failures are.
class DeviceReader {
 public:
  virtual ~DeviceReader() = default;

  // The description taken before the device was opened. It never changes;
  // its capacity, logical sector size and stable_id bind the image and its
  // checkpoints to the device.
  virtual const DeviceInfo& expected_identity() const = 0;

  // Fills the whole buffer with the bytes at the absolute offset, or fails.
  // There is no partial success: a short transfer is an error too.
  virtual std::expected<void, SourceError> read_at(std::uint64_t offset,
                                                   std::span<std::uint8_t> buffer) = 0;
};

}  // namespace kestrel
