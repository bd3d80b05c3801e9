#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "tests/support/sparse_source.hpp"

namespace kestrel::fuzzing {

// The image harnesses read their input as a disk image that is zero except
// for the sectors the input places, so a few kilobytes can describe a volume
// of any size:
//
//   bytes 0-7   the image's length in bytes (little-endian), its four lowest
//               bits cleared; those four bits are options of the harness
//   then        records of a 4-byte little-endian sector number followed by
//               the 512 bytes of that sector; a record cut short by the end
//               of the input places what it has
//
// A later record for the same sector overwrites an earlier one. Sectors past
// the image's length are dropped. fuzz/make-seeds.py writes this form.
inline constexpr std::size_t kSparseRecordSector = 512;

// The image the input describes, with the given logical sector size, or
// nothing for an input shorter than its length field.
std::unique_ptr<testing::SparseSource> sparse_image_from_input(std::span<const std::uint8_t> input,
                                                               std::uint32_t sector_size);

// The four option bits of the length field (0 for an input too short to have one).
unsigned sparse_image_options(std::span<const std::uint8_t> input);

}  // namespace kestrel::fuzzing
