#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "cli/argument_error.hpp"
#include "cli/variant_alternative.hpp"
#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// Why a command failed: an error of the core library or of the source layer
// as it came up, the bare failure of an operating-system service (shown by
// the system's text alone), an argument error, or one of the front end's own
// failures with exactly what its message needs. render_error turns it into
// the message of the error line.
class CommandError {
 public:
  struct BadSectorSize {};
  // The image's metadata could not be read.
  struct ImageNotInspectable {
    std::string image;
    IoError failure;
  };
  struct CandidateNotFound {
    std::string id;
  };
  struct NoCandidateMatched {};
  struct BatchFailures {
    std::uint64_t failed;
  };
  struct OutputDirectoryNotCreated {
    std::string directory;
    IoError failure;
  };
  struct OutputWithoutFileName {};
  struct OutputIsImage {};
  struct NoFreeOutputName {};
  // A candidate's folder below the output directory (recover-all).
  struct OutputFolderNotCreated {
    std::string folder;
    SourceError failure;
  };
  struct NoFreeFolderName {};
  struct DriveLettersUnreadable {
    IoError failure;
  };
  struct DestinationOnSourceDisk {};
  struct InsufficientSpace {
    std::uint64_t available;
    std::uint64_t required;
  };
  struct ResultNotWritten {
    IoError failure;
  };
  // The result set aside until the command may print it could not be kept.
  struct ResultNotHeld {
    IoError failure;
  };
  // The Windows command line could not be read at all.
  struct CommandLineUnreadable {
    IoError failure;
  };

  using Payload =
      std::variant<RecoveryError, SourceError, IoError, ArgumentError, BadSectorSize,
                   ImageNotInspectable, CandidateNotFound, NoCandidateMatched, BatchFailures,
                   OutputDirectoryNotCreated, OutputWithoutFileName, OutputIsImage,
                   NoFreeOutputName, OutputFolderNotCreated, NoFreeFolderName,
                   DriveLettersUnreadable, DestinationOnSourceDisk, InsufficientSpace,
                   ResultNotWritten, ResultNotHeld, CommandLineUnreadable>;

  // Any one payload becomes the error as it is, so a failed step of any layer
  // propagates with KESTREL_TRY.
  template <typename Failure>
    requires is_alternative_of<Failure, Payload>
  CommandError(Failure failure)  // NOLINT(google-explicit-constructor)
      : payload_(std::in_place_type<Failure>, std::move(failure)) {}

  const Payload& payload() const { return payload_; }

 private:
  Payload payload_;
};

}  // namespace kestrel
