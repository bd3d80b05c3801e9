#pragma once

#include <cstdint>
#include <string>

#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The one error type of the core library. Its display form is what the front
// end prints; the error owns its payload and is moved up to the front end.
class RecoveryError {
 public:
  enum class Kind {
    Source,
    Io,
    InvalidStructure,
    Unsupported,
    ChecksumMismatch,
    ByteRangeOverflow,
    ByteRangeExceedsSource,
    DestinationExists,
    // The user asked the run to stop (an interrupt or termination signal); the
    // work done so far is kept and a repeated run resumes it.
    Interrupted,
  };

  // A source error travels unchanged inside the Source kind, so a failed read
  // converts implicitly wherever the core library reads.
  RecoveryError(SourceError source);  // NOLINT(google-explicit-constructor)

  static RecoveryError io(IoError error);
  static RecoveryError invalid_structure(std::string text);
  static RecoveryError unsupported(std::string text);
  static RecoveryError checksum_mismatch(std::string text);
  static RecoveryError byte_range_overflow();
  static RecoveryError byte_range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                                 std::uint64_t capacity);
  static RecoveryError destination_exists();
  static RecoveryError interrupted();

  Kind kind() const { return kind_; }
  // The source error of the Source kind; nullptr for every other kind.
  const SourceError* source_error() const { return kind_ == Kind::Source ? &source_ : nullptr; }
  // The I/O error of the Io kind (meaningless for other kinds).
  const IoError& io_error() const { return io_; }
  // The fixed text of InvalidStructure, Unsupported and ChecksumMismatch.
  const std::string& text() const { return text_; }

  std::string message() const;

  friend bool operator==(const RecoveryError& a, const RecoveryError& b) {
    return a.message() == b.message() && a.kind_ == b.kind_;
  }

 private:
  explicit RecoveryError(Kind kind);

  Kind kind_;
  SourceError source_;
  IoError io_;
  std::string text_;
  std::uint64_t offset_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t capacity_ = 0;
};

}  // namespace kestrel
