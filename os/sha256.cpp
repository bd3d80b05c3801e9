#include "os/sha256.hpp"

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

std::string sha256_digest_hex(std::span<const std::uint8_t, 32> digest) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (const std::uint8_t byte : digest) {
    hex.push_back(digits[byte >> 4]);
    hex.push_back(digits[byte & 0x0F]);
  }
  return hex;
}

std::expected<void, RecoveryError> Sha256::update(std::string_view bytes) {
  return update(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              bytes.size()));
}

std::expected<std::string, RecoveryError> sha256_hex(std::span<const std::uint8_t> bytes) {
  KESTREL_TRY_ASSIGN(hash, Sha256::create());
  KESTREL_TRY(hash->update(bytes));
  return std::move(*hash).finish();
}

}  // namespace kestrel
