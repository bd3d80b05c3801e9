#include "recovery-core/errors/recovery_error.hpp"

#include <utility>

namespace kestrel {

using std::to_string;

std::string RecoveryError::Source::message() const { return error.message(); }

std::string RecoveryError::Io::message() const { return "I/O error: " + error.message(); }

std::string RecoveryError::InvalidStructure::message() const {
  return "invalid structure: " + text;
}

std::string RecoveryError::Unsupported::message() const { return "unsupported: " + text; }

std::string RecoveryError::ChecksumMismatch::message() const {
  return "checksum mismatch: " + text;
}

std::string RecoveryError::ByteRangeOverflow::message() const { return "byte range overflow"; }

std::string RecoveryError::ByteRangeExceedsSource::message() const {
  return "byte range exceeds source: offset=" + to_string(offset) + " length=" + to_string(length) +
         " capacity=" + to_string(capacity);
}

std::string RecoveryError::DestinationExists::message() const {
  return "destination already exists";
}

std::string RecoveryError::Interrupted::message() const { return "imaging interrupted"; }

std::string RecoveryError::OutputFilenameMissing::message() const {
  return "image output filename is missing";
}

std::string RecoveryError::CheckpointMissing::message() const {
  return "partial image exists but its checkpoint is missing: " + checkpoint_path;
}

std::string RecoveryError::CheckpointUnreadable::message() const { return error.message(); }

std::string RecoveryError::InvalidCheckpoint::message() const {
  return "invalid image checkpoint: " + description;
}

std::string RecoveryError::RenderFailed::message() const { return writer_text; }

RecoveryError::RecoveryError(SourceError source) : payload_(Source{std::move(source)}) {}

RecoveryError RecoveryError::io(IoError error) { return RecoveryError(Io{std::move(error)}); }

RecoveryError RecoveryError::io(const SourceError& failure) { return io(failure.io_failure()); }

RecoveryError RecoveryError::invalid_structure(std::string text) {
  return RecoveryError(InvalidStructure{std::move(text)});
}

RecoveryError RecoveryError::unsupported(std::string text) {
  return RecoveryError(Unsupported{std::move(text)});
}

RecoveryError RecoveryError::checksum_mismatch(std::string text) {
  return RecoveryError(ChecksumMismatch{std::move(text)});
}

RecoveryError RecoveryError::byte_range_overflow() { return RecoveryError(ByteRangeOverflow{}); }

RecoveryError RecoveryError::byte_range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                                       std::uint64_t capacity) {
  return RecoveryError(ByteRangeExceedsSource{offset, length, capacity});
}

RecoveryError RecoveryError::destination_exists() { return RecoveryError(DestinationExists{}); }

RecoveryError RecoveryError::interrupted() { return RecoveryError(Interrupted{}); }

RecoveryError RecoveryError::output_filename_missing() {
  return RecoveryError(OutputFilenameMissing{});
}

RecoveryError RecoveryError::checkpoint_missing(std::string checkpoint_path) {
  return RecoveryError(CheckpointMissing{std::move(checkpoint_path)});
}

RecoveryError RecoveryError::checkpoint_unreadable(IoError error) {
  return RecoveryError(CheckpointUnreadable{std::move(error)});
}

RecoveryError RecoveryError::invalid_checkpoint(std::string description) {
  return RecoveryError(InvalidCheckpoint{std::move(description)});
}

RecoveryError RecoveryError::render_failed(std::string writer_text) {
  return RecoveryError(RenderFailed{std::move(writer_text)});
}

const SourceError* RecoveryError::source_error() const {
  const Source* source = std::get_if<Source>(&payload_);
  return source != nullptr ? &source->error : nullptr;
}

const IoError* RecoveryError::io_error() const {
  const Io* io = std::get_if<Io>(&payload_);
  return io != nullptr ? &io->error : nullptr;
}

std::string RecoveryError::message() const {
  return std::visit([](const auto& payload) { return payload.message(); }, payload_);
}

}  // namespace kestrel
