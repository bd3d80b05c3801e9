#include "cli/output.hpp"

#include <cerrno>
#include <cstring>

namespace kestrel {

void Output::write_out(std::string_view text) {
  if (text.empty() || out_error_ != 0) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size()) {
    out_error_ = errno != 0 ? errno : EIO;
  }
}

std::expected<void, std::string> Output::print_document(const JsonValue& document) {
  auto text = render_json(document);
  if (!text) return std::unexpected(text.error());
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
  std::string line = "KESTREL_ERROR=";
  line.append(message).append("\n");
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

std::expected<void, std::string> Output::finish_result() {
  if (out_error_ == 0) {
    errno = 0;
    if (std::fflush(out_) != 0 || std::ferror(out_) != 0) out_error_ = errno != 0 ? errno : EIO;
  }
  if (out_error_ != 0) {
    return std::unexpected("cannot write the result to standard output: " +
                           std::string(std::strerror(out_error_)) + " (os error " +
                           std::to_string(out_error_) + ")");
  }
  return {};
}

}  // namespace kestrel
