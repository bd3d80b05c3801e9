#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <utility>

#include "os/sha256.hpp"

namespace kestrel {

namespace {

struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextDeleter>;

// The unsupported error for a failed OpenSSL call, with OpenSSL's own reason
// when it left one.
RecoveryError crypto_failure(const char* operation) {
  std::string text = std::string("SHA-256 ") + operation + " failed";
  if (const unsigned long code = ERR_get_error(); code != 0) {
    std::array<char, 256> reason{};
    ERR_error_string_n(code, reason.data(), reason.size());
    text += ": ";
    text += reason.data();
  }
  ERR_clear_error();
  return RecoveryError::unsupported(std::move(text));
}

std::expected<std::string, RecoveryError> finish_context(EVP_MD_CTX* context) {
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1 || length != 32) {
    return std::unexpected(crypto_failure("finish"));
  }
  return sha256_digest_hex(std::span<const std::uint8_t, 32>(digest.data(), 32));
}

}  // namespace

struct Sha256::State {
  Context context;
};

Sha256::Sha256(std::unique_ptr<State> state) : state_(std::move(state)) {}
Sha256::Sha256(Sha256&& other) noexcept = default;
Sha256& Sha256::operator=(Sha256&& other) noexcept = default;
Sha256::~Sha256() = default;

std::expected<Sha256, RecoveryError> Sha256::create() {
  Context context(EVP_MD_CTX_new());
  if (!context) return std::unexpected(crypto_failure("context allocation"));
  if (EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    return std::unexpected(crypto_failure("initialisation"));
  }
  return Sha256(std::make_unique<State>(State{std::move(context)}));
}

std::expected<void, RecoveryError> Sha256::update(std::span<const std::uint8_t> bytes) {
  if (!state_) return std::unexpected(RecoveryError::unsupported("SHA-256 used after finish"));
  if (EVP_DigestUpdate(state_->context.get(), bytes.data(), bytes.size()) != 1) {
    return std::unexpected(crypto_failure("update"));
  }
  return {};
}

std::expected<std::string, RecoveryError> Sha256::hex_digest_of_copy() const {
  if (!state_) return std::unexpected(RecoveryError::unsupported("SHA-256 used after finish"));
  Context copy(EVP_MD_CTX_new());
  if (!copy) return std::unexpected(crypto_failure("context allocation"));
  if (EVP_MD_CTX_copy_ex(copy.get(), state_->context.get()) != 1) {
    return std::unexpected(crypto_failure("state copy"));
  }
  return finish_context(copy.get());
}

std::expected<std::string, RecoveryError> Sha256::finish() && {
  if (!state_) return std::unexpected(RecoveryError::unsupported("SHA-256 used after finish"));
  auto digest = finish_context(state_->context.get());
  state_.reset();
  return digest;
}

}  // namespace kestrel
