#include "cli/output.hpp"

#include "cli/error_line.hpp"
#include "cli/stream_error.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

void Output::write_out(std::string_view text) {
  if (text.empty() || out_error_) return;
  clear_stream_error();
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size()) {
    out_error_ = last_stream_error();
  }
}

std::expected<void, RecoveryError> Output::print_document(const JsonValue& document) {
  KESTREL_TRY_ASSIGN(text, render_json(document));
  text->push_back('\n');
  write_out(*text);
  return {};
}

void Output::print_result_line(std::string_view name, std::string_view value) {
  std::string line;
  line.reserve(name.size() + value.size() + 2);
  line.append(name).append("=").append(value).append("\n");
  write_out(line);
}

void Output::print_progress_line(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fputc('\n', err_);
  std::fflush(err_);
}

void Output::print_error_line(std::string_view message) {
  const std::string line = error_line(message);
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

std::expected<void, CommandError> Output::finish_result() {
  if (!out_error_) {
    clear_stream_error();
    if (std::fflush(out_) != 0 || std::ferror(out_) != 0) out_error_ = last_stream_error();
  }
  if (out_error_) {
    return std::unexpected(CommandError::ResultNotWritten{out_error_->io_failure()});
  }
  return {};
}

}  // namespace kestrel
