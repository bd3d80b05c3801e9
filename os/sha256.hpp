#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A running SHA-256 (FIPS 180-4). The digest of everything fed so far can be
// taken at any time from a copy of the running state, without disturbing it,
// so a long copy never has to re-read what it already hashed. Digests are 64
// lower-case hexadecimal digits.
//
// The platform's crypto library does the work. A failure of that library (it
// cannot allocate a context, or its provider is unavailable) is reported as
// the unsupported error, never thrown.
class Sha256 {
 public:
  static std::expected<Sha256, RecoveryError> create();

  Sha256(Sha256&& other) noexcept;
  Sha256& operator=(Sha256&& other) noexcept;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256();

  std::expected<void, RecoveryError> update(std::span<const std::uint8_t> bytes);
  std::expected<void, RecoveryError> update(std::string_view bytes);

  // The digest of everything fed so far; the running state goes on unchanged.
  std::expected<std::string, RecoveryError> hex_digest_of_copy() const;

  // The digest of everything fed; the hash is used up.
  std::expected<std::string, RecoveryError> finish() &&;

 private:
  struct State;
  explicit Sha256(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

// The digest of one piece of data.
std::expected<std::string, RecoveryError> sha256_hex(std::span<const std::uint8_t> bytes);

// 64 lower-case hexadecimal digits of a 32-byte digest.
std::string sha256_digest_hex(std::span<const std::uint8_t, 32> digest);

}  // namespace kestrel
