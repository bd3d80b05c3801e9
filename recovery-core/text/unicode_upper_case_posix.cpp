#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <string>
#include <vector>

#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf16.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

std::string to_upper_full(std::string_view utf8) {
  const std::u16string source = encode_utf16(utf8);
  if (source.empty()) return {};
  // Full mappings can grow the text (at most three units per unit); one retry
  // with the size ICU asks for covers any other case.
  std::vector<UChar> upper(source.size() * 3 + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        u_strToUpper(upper.data(), static_cast<int32_t>(upper.size()),
                     reinterpret_cast<const UChar*>(source.data()),
                     static_cast<int32_t>(source.size()), "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      upper.resize(static_cast<std::size_t>(length) + 1);
      continue;
    }
    if (U_FAILURE(status)) break;
    return decode_utf16_lossy(std::span<const char16_t>(
        reinterpret_cast<const char16_t*>(upper.data()), static_cast<std::size_t>(length)));
  }
  return std::string(utf8);
}

}  // namespace kestrel
