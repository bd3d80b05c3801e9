#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/extraction/extraction_output.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Writes the first `size` bytes of a file whose metadata lists its pieces:
// holes and bytes past the initialized length as zeros, compressed units
// decompressed. A piece past the end of the volume fails with the short read
// met there; the pieces ending before `size` leave the rest as zeros (the
// metadata said no more). Memory stays within one compression unit or 1 MiB.
std::expected<std::uint64_t, RecoveryError> copy_recorded_runs(ByteSource& source,
                                                               const RecordedRuns& layout,
                                                               std::uint64_t size,
                                                               ExtractionOutput& output);

// Writes the bytes held in the metadata, up to `size`.
std::expected<std::uint64_t, RecoveryError> copy_held_bytes(const HeldBytes& layout,
                                                            std::uint64_t size,
                                                            ExtractionOutput& output);

}  // namespace kestrel
