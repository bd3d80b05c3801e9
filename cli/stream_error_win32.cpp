#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/cli_messages.hpp"
#include "cli/stream_error.hpp"
#include "os/os_error.hpp"

namespace kestrel {

void clear_stream_error() {
  errno = 0;
  _doserrno = 0;
}

SourceError last_stream_error() {
  if (_doserrno != 0) return io_error_from_os_code(static_cast<int>(_doserrno));
  // The C library failed without the system failing (a stream in a bad
  // state): only its own errno text is known.
  const std::string text = errno != 0 ? std::string(std::strerror(errno))
                                      : std::string(cli_messages::kStreamWriteFailed);
  return SourceError::io(text, IoErrorKind::Other);
}

}  // namespace kestrel
