#pragma once

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// An errno met by a device open, query or read: denied access and a vanished
// device are their own kinds, anything else the generic kind.
SourceError device_failure(int code);

// An errno met by an operating-system service (sysfs itself, the mount table,
// free space): always the generic kind, with the system's text.
SourceError service_failure(int code);

}  // namespace kestrel
