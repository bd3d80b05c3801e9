#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "os/sha256.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// Pieces handed to one BCryptHashData call (its length is a ULONG).
constexpr std::size_t kMaxPiece = 1u << 30;

// The unsupported error for a failed BCrypt call, with its NTSTATUS.
RecoveryError crypto_failure(const char* operation, NTSTATUS status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
  return RecoveryError::unsupported(std::string("SHA-256 ") + operation + " failed: NTSTATUS " +
                                    code);
}

bool succeeded(NTSTATUS status) { return status >= 0; }

// The system's SHA-256 provider, opened once for the life of the process.
std::expected<BCRYPT_ALG_HANDLE, RecoveryError> sha256_provider() {
  static BCRYPT_ALG_HANDLE provider = nullptr;
  static NTSTATUS opened = [] {
    return ::BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  }();
  if (!succeeded(opened)) return std::unexpected(crypto_failure("provider", opened));
  return provider;
}

struct HashDeleter {
  void operator()(void* hash) const { ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(hash)); }
};
// A BCrypt hash object; the system keeps its memory.
using Hash = std::unique_ptr<void, HashDeleter>;

std::expected<std::string, RecoveryError> finish_hash(BCRYPT_HASH_HANDLE hash) {
  std::array<std::uint8_t, 32> digest{};
  if (const NTSTATUS status = ::BCryptFinishHash(hash, digest.data(), 32, 0); !succeeded(status)) {
    return std::unexpected(crypto_failure("finish", status));
  }
  return sha256_digest_hex(std::span<const std::uint8_t, 32>(digest));
}

}  // namespace

struct Sha256::State {
  Hash hash;
};

Sha256::Sha256(std::unique_ptr<State> state) : state_(std::move(state)) {}
Sha256::Sha256(Sha256&& other) noexcept = default;
Sha256& Sha256::operator=(Sha256&& other) noexcept = default;
Sha256::~Sha256() = default;

std::expected<Sha256, RecoveryError> Sha256::create() {
  KESTREL_TRY_ASSIGN(provider, sha256_provider());
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (const NTSTATUS status = ::BCryptCreateHash(*provider, &hash, nullptr, 0, nullptr, 0, 0);
      !succeeded(status)) {
    return std::unexpected(crypto_failure("initialisation", status));
  }
  return Sha256(std::make_unique<State>(State{Hash(hash)}));
}

std::expected<void, RecoveryError> Sha256::update(std::span<const std::uint8_t> bytes) {
  if (!state_) return std::unexpected(RecoveryError::unsupported("SHA-256 used after finish"));
  while (!bytes.empty()) {
    const std::size_t piece = std::min(bytes.size(), kMaxPiece);
    const NTSTATUS status =
        ::BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(state_->hash.get()),
                         const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(piece), 0);
    if (!succeeded(status)) return std::unexpected(crypto_failure("update", status));
    bytes = bytes.subspan(piece);
  }
  return {};
}

std::expected<std::string, RecoveryError> Sha256::hex_digest_of_copy() const {
  if (!state_) return std::unexpected(RecoveryError::unsupported("SHA-256 used after finish"));
  BCRYPT_HASH_HANDLE copy = nullptr;
  if (const NTSTATUS status = ::BCryptDuplicateHash(
          static_cast<BCRYPT_HASH_HANDLE>(state_->hash.get()), &copy, nullptr, 0, 0);
      !succeeded(status)) {
    return std::unexpected(crypto_failure("state copy", status));
  }
  const Hash owned(copy);
  return finish_hash(copy);
}

std::expected<std::string, RecoveryError> Sha256::finish() && {
  if (!state_) return std::unexpected(RecoveryError::unsupported("SHA-256 used after finish"));
  auto digest = finish_hash(static_cast<BCRYPT_HASH_HANDLE>(state_->hash.get()));
  state_.reset();
  return digest;
}

}  // namespace kestrel
