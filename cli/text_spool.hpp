#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "os/file_handle.hpp"
#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/json/json_stream_writer.hpp"

namespace kestrel {

// Text held back until the command knows it may print it, without holding it
// in memory: up to 1 MiB stays in memory, beyond that everything goes to a
// temporary file that has no name and vanishes with the spool. A failure to
// keep the text is remembered (error()); later writes are dropped.
class TextSpool final : public JsonTextOutput {
 public:
  void write(std::string_view text) override;
  bool failed() const override { return error_.has_value(); }
  const std::optional<SourceError>& error() const { return error_; }

  // Hands the text back in order, in pieces of up to 1 MiB; fails as reading
  // the temporary file back fails.
  std::expected<void, SourceError> replay(const std::function<void(std::string_view)>& consumer);

 private:
  void spill();

  std::string memory_;
  std::optional<FileHandle> file_;
  std::optional<SourceError> error_;
};

}  // namespace kestrel
