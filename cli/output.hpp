#pragma once

#include <cstdio>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command_error.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/json/json_stream_writer.hpp"

namespace kestrel {

// Everything a run prints goes through here: results to standard output,
// progress and the final error line to standard error. The first failed write
// to standard output is kept, so that the entry can report a result that
// never arrived instead of claiming success.
class Output {
 public:
  Output(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  // Renders the document completely, then prints it and one line feed. A
  // failing render prints nothing and returns the writer's error.
  std::expected<void, RecoveryError> print_document(const JsonValue& document);
  // A piece of a result written as it is produced (a streamed document).
  void print_text(std::string_view text) { write_out(text); }
  // Whether a write to standard output failed already.
  bool result_failed() const { return out_error_.has_value(); }
  // "{name}={value}" and a line feed, the value as plain text.
  void print_result_line(std::string_view name, std::string_view value);
  // A line on standard error (progress lines), flushed at once.
  void print_progress_line(std::string_view line);
  // The one error line of a failed run, for the process entry alone: the
  // message with its control characters escaped, a usage block at its end
  // kept as it is (see error_line).
  void print_error_line(std::string_view message);

  // Flushes standard output; fails with the first failure of a write to it,
  // or of the flush.
  std::expected<void, CommandError> finish_result();

 private:
  void write_out(std::string_view text);

  std::FILE* out_;
  std::FILE* err_;
  std::optional<SourceError> out_error_;  // the first failed write to standard output
};

// Standard output as the destination of a streamed JSON document.
class StandardOutputText final : public JsonTextOutput {
 public:
  explicit StandardOutputText(Output& output) : output_(output) {}
  void write(std::string_view text) override { output_.print_text(text); }
  bool failed() const override { return output_.result_failed(); }

 private:
  Output& output_;
};

}  // namespace kestrel
