#include "platform/linux/linux_failures.hpp"

#include "os/os_error.hpp"

namespace kestrel {

SourceError device_failure(int code) { return source_error_from_errno(code); }

SourceError service_failure(int code) {
  IoError error = io_error_from_os_code(code);
  return SourceError::io(std::move(error.text), error.kind);
}

}  // namespace kestrel
