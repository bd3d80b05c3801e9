#pragma once

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// Forgets the error state of the C library, so that a stream call that fails
// next can be described by last_stream_error().
void clear_stream_error();

// Why the C stream call that just failed failed, as the generic I/O failure
// of the operating system: errno on Linux; on Windows the Win32 code the C
// library met (_doserrno), with the system's message for it.
SourceError last_stream_error();

}  // namespace kestrel
