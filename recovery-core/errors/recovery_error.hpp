#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The error every operation of the core library returns. Each kind carries
// only its own payload; message() is the text the front end prints for it,
// once, after the error has been moved up to it.
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
    // The image output's last component is no file name, so no checkpoint
    // name can be made from it.
    OutputFilenameMissing,
    // A non-empty partial image without the checkpoint that could resume it.
    CheckpointMissing,
    // The checkpoint file exists but could not be read; prints the system's
    // text alone.
    CheckpointUnreadable,
    // The checkpoint file is not a checkpoint: too large, not a regular file,
    // changed while read, or text the checkpoint reader refused.
    InvalidCheckpoint,
    // The JSON writer refused a document; prints the writer's own text.
    RenderFailed,
  };

  // A source error travels unchanged inside the Source kind, so a failed read
  // converts implicitly wherever the core library reads.
  RecoveryError(SourceError source);  // NOLINT(google-explicit-constructor)

  static RecoveryError io(IoError error);
  // A failure of an operating-system service as the Io kind.
  static RecoveryError io(const SourceError& failure);
  static RecoveryError invalid_structure(std::string text);
  static RecoveryError unsupported(std::string text);
  static RecoveryError checksum_mismatch(std::string text);
  static RecoveryError byte_range_overflow();
  static RecoveryError byte_range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                                 std::uint64_t capacity);
  static RecoveryError destination_exists();
  static RecoveryError interrupted();
  static RecoveryError output_filename_missing();
  static RecoveryError checkpoint_missing(std::string checkpoint_path);
  static RecoveryError checkpoint_unreadable(IoError error);
  static RecoveryError invalid_checkpoint(std::string description);
  static RecoveryError render_failed(std::string writer_text);

  Kind kind() const { return static_cast<Kind>(payload_.index()); }
  // The source error of the Source kind; nullptr for every other kind.
  const SourceError* source_error() const;
  // The I/O failure of the Io kind; nullptr for every other kind.
  const IoError* io_error() const;

  std::string message() const;

  friend bool operator==(const RecoveryError&, const RecoveryError&) = default;

 private:
  // One payload per kind, in the order of Kind; each renders its own message.
  struct Source {
    SourceError error;
    std::string message() const;
    bool operator==(const Source&) const = default;
  };
  struct Io {
    IoError error;
    std::string message() const;
    bool operator==(const Io&) const = default;
  };
  struct InvalidStructure {
    std::string text;
    std::string message() const;
    bool operator==(const InvalidStructure&) const = default;
  };
  struct Unsupported {
    std::string text;
    std::string message() const;
    bool operator==(const Unsupported&) const = default;
  };
  struct ChecksumMismatch {
    std::string text;
    std::string message() const;
    bool operator==(const ChecksumMismatch&) const = default;
  };
  struct ByteRangeOverflow {
    std::string message() const;
    bool operator==(const ByteRangeOverflow&) const = default;
  };
  struct ByteRangeExceedsSource {
    std::uint64_t offset;
    std::uint64_t length;
    std::uint64_t capacity;
    std::string message() const;
    bool operator==(const ByteRangeExceedsSource&) const = default;
  };
  struct DestinationExists {
    std::string message() const;
    bool operator==(const DestinationExists&) const = default;
  };
  struct Interrupted {
    std::string message() const;
    bool operator==(const Interrupted&) const = default;
  };
  struct OutputFilenameMissing {
    std::string message() const;
    bool operator==(const OutputFilenameMissing&) const = default;
  };
  struct CheckpointMissing {
    std::string checkpoint_path;
    std::string message() const;
    bool operator==(const CheckpointMissing&) const = default;
  };
  struct CheckpointUnreadable {
    IoError error;
    std::string message() const;
    bool operator==(const CheckpointUnreadable&) const = default;
  };
  struct InvalidCheckpoint {
    std::string description;
    std::string message() const;
    bool operator==(const InvalidCheckpoint&) const = default;
  };
  struct RenderFailed {
    std::string writer_text;
    std::string message() const;
    bool operator==(const RenderFailed&) const = default;
  };
  using Payload =
      std::variant<Source, Io, InvalidStructure, Unsupported, ChecksumMismatch, ByteRangeOverflow,
                   ByteRangeExceedsSource, DestinationExists, Interrupted, OutputFilenameMissing,
                   CheckpointMissing, CheckpointUnreadable, InvalidCheckpoint, RenderFailed>;
  static_assert(std::variant_size_v<Payload> == static_cast<std::size_t>(Kind::RenderFailed) + 1);

  explicit RecoveryError(Payload payload) : payload_(std::move(payload)) {}

  Payload payload_;
};

}  // namespace kestrel
