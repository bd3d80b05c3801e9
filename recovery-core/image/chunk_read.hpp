#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "recovery-core/image/imaging_options.hpp"
#include "recovery-core/image/read_error_range.hpp"

namespace kestrel {

// Reads one chunk of the device at `offset` into `chunk`: up to
// 1 + read_retries attempts while the generic I/O kind fails, then, for a
// failed transfer and with the fallback on, one sector at a time with the
// same retries. A sector that stays unreadable is zeroed and recorded in
// `zero_filled` by the merge rule (record_read_error). Any other failure ends
// the chunk with its error. `stop` is looked at between sectors; once set,
// the fallback gives up with the interrupted error.
std::expected<void, RecoveryError> read_chunk(DeviceReader& reader, const ImagingOptions& options,
                                              std::uint64_t offset, std::span<std::uint8_t> chunk,
                                              std::vector<ReadErrorRange>& zero_filled,
                                              const std::atomic<bool>& stop);

}  // namespace kestrel
