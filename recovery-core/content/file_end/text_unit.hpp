#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

// Whether the bytes are all text: printable ASCII, tab, line feed, carriage
// return. A JPEG's entropy-coded data never reads so over a unit (its codes
// fill every bit, so some byte soon has its top bit set), while a text file,
// a log or a sidecar written between a photo's pieces always does.
bool holds_only_text(std::span<const std::uint8_t> bytes);

// Whether the bytes are all zero: a unit no JPEG's entropy-coded data holds
// either, while a hole a file never filled (or a cleared one) does.
bool holds_only_zeros(std::span<const std::uint8_t> bytes);

}  // namespace kestrel
