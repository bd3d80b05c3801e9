#include "platform/linux/linux_failures.hpp"

#include "os/os_error.hpp"

namespace kestrel {

SourceError device_failure(int code) { return source_error_from_errno(code); }

SourceError service_failure(int code) { return io_error_from_os_code(code); }

}  // namespace kestrel
