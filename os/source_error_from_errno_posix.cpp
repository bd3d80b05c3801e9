#include <cerrno>

#include "os/os_error.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

SourceError source_error_from_errno(int code) {
  switch (code) {
    case EACCES:
    case EPERM:
      return SourceError::read_permission_denied();
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
      return SourceError::device_disconnected();
    default:
      return io_error_from_os_code(code);
  }
}

}  // namespace kestrel
