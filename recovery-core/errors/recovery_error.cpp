#include "recovery-core/errors/recovery_error.hpp"

#include <utility>

namespace kestrel {

RecoveryError::RecoveryError(SourceError source)
    : kind_(Kind::Source), source_(std::move(source)) {}

RecoveryError::RecoveryError(Kind kind) : kind_(kind), source_(SourceError::range_overflow()) {}

RecoveryError RecoveryError::io(IoError error) {
  RecoveryError e(Kind::Io);
  e.io_ = std::move(error);
  return e;
}

RecoveryError RecoveryError::invalid_structure(std::string text) {
  RecoveryError e(Kind::InvalidStructure);
  e.text_ = std::move(text);
  return e;
}

RecoveryError RecoveryError::unsupported(std::string text) {
  RecoveryError e(Kind::Unsupported);
  e.text_ = std::move(text);
  return e;
}

RecoveryError RecoveryError::checksum_mismatch(std::string text) {
  RecoveryError e(Kind::ChecksumMismatch);
  e.text_ = std::move(text);
  return e;
}

RecoveryError RecoveryError::byte_range_overflow() { return RecoveryError(Kind::ByteRangeOverflow); }

RecoveryError RecoveryError::byte_range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                                       std::uint64_t capacity) {
  RecoveryError e(Kind::ByteRangeExceedsSource);
  e.offset_ = offset;
  e.length_ = length;
  e.capacity_ = capacity;
  return e;
}

RecoveryError RecoveryError::destination_exists() { return RecoveryError(Kind::DestinationExists); }

RecoveryError RecoveryError::interrupted() { return RecoveryError(Kind::Interrupted); }

std::string RecoveryError::message() const {
  switch (kind_) {
    case Kind::Source:
      return source_.message();
    case Kind::Io:
      return "I/O error: " + io_.message();
    case Kind::InvalidStructure:
      return "invalid structure: " + text_;
    case Kind::Unsupported:
      return "unsupported: " + text_;
    case Kind::ChecksumMismatch:
      return "checksum mismatch: " + text_;
    case Kind::ByteRangeOverflow:
      return "byte range overflow";
    case Kind::ByteRangeExceedsSource:
      return "byte range exceeds source: offset=" + std::to_string(offset_) +
             " length=" + std::to_string(length_) + " capacity=" + std::to_string(capacity_);
    case Kind::DestinationExists:
      return "destination already exists";
    case Kind::Interrupted:
      return "imaging interrupted";
  }
  return {};
}

}  // namespace kestrel
