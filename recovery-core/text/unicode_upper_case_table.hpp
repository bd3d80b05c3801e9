#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

// One code point and its full upper-case mapping of one to three code points.
struct UpperCaseMapping {
  char32_t code_point;
  std::uint8_t length;
  char32_t upper[3];
};

// Every code point whose full upper-case mapping is not the code point itself,
// in ascending order (generated from ICU by scripts/generate-upper-case-table.sh).
std::span<const UpperCaseMapping> upper_case_mappings();

}  // namespace kestrel
