#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Where an extraction puts a candidate's bytes: a new file (FileOutput) or,
// for a harness or a test, memory. write is called any number of times with
// the bytes in file order, then finish once after the last byte. A failing
// call ends the extraction with its error.
class ExtractionOutput {
 public:
  virtual ~ExtractionOutput() = default;

  virtual std::expected<void, RecoveryError> write(std::span<const std::uint8_t> bytes) = 0;
  // After the last byte: the output is complete (a file is on the device and closed).
  virtual std::expected<void, RecoveryError> finish() = 0;
};

}  // namespace kestrel
