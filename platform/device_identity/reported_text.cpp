#include "platform/device_identity/reported_text.hpp"

#include "recovery-core/text/unicode.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

std::optional<std::string> reported_text(std::optional<std::string_view> raw) {
  if (!raw) return std::nullopt;
  const std::string_view until_nul = raw->substr(0, raw->find('\0'));
  const std::string decoded = decode_utf8_lossy(until_nul);
  std::string trimmed(trim_unicode_white_space(decoded));
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

}  // namespace kestrel
