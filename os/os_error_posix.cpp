#include <cerrno>
#include <cstring>
#include <string>

#include "os/os_error.hpp"

namespace kestrel {

namespace {

std::string system_text(int code) {
  char buffer[256] = {};
  // GNU strerror_r returns the text, which may or may not live in the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("Unknown error");
}

}  // namespace

std::string os_message(int code) { return system_text(code); }

std::string os_error_text(int code) {
  return system_text(code) + " (os error " + std::to_string(code) + ")";
}

SourceError io_error_from_os_code(int code) {
  return SourceError::io(IoError{io_error_kind_from_errno(code), os_error_text(code), code});
}

SourceError last_io_error() { return io_error_from_os_code(errno); }

}  // namespace kestrel
