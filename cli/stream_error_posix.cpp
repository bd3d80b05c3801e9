#include <cerrno>

#include "cli/stream_error.hpp"
#include "os/os_error.hpp"

namespace kestrel {

void clear_stream_error() { errno = 0; }

SourceError last_stream_error() { return io_error_from_os_code(errno != 0 ? errno : EIO); }

}  // namespace kestrel
