#pragma once

#include "recovery-core/errors/io_error.hpp"

namespace kestrel {

// Forgets the error state of the C library, so that a stream call that fails
// next can be described by last_stream_error().
void clear_stream_error();

// Why the C stream call that just failed failed, as the operating system's
// error: errno on Linux; on Windows the Win32 code the C library met
// (_doserrno), with the system's message for it.
IoError last_stream_error();

}  // namespace kestrel
