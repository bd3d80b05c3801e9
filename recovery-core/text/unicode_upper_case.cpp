#include <algorithm>

#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/unicode_upper_case_table.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

std::optional<std::u32string_view> full_upper_case_mapping(char32_t code_point) {
  const std::span<const UpperCaseMapping> mappings = upper_case_mappings();
  const auto found =
      std::lower_bound(mappings.begin(), mappings.end(), code_point,
                       [](const UpperCaseMapping& m, char32_t cp) { return m.code_point < cp; });
  if (found == mappings.end() || found->code_point != code_point) return std::nullopt;
  return std::u32string_view(found->upper, found->length);
}

std::string to_upper_full(std::string_view utf8) {
  std::string upper;
  upper.reserve(utf8.size());
  for (const char32_t cp : utf8_to_code_points(utf8)) {
    if (const auto mapped = full_upper_case_mapping(cp)) {
      for (const char32_t u : *mapped) append_utf8(upper, u);
    } else {
      append_utf8(upper, cp);
    }
  }
  return upper;
}

}  // namespace kestrel
