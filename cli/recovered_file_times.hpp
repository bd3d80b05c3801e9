#pragma once

#include "os/file_times.hpp"
#include "recovery-core/candidates/file_dates.hpp"

namespace kestrel {

// The times a recovered file takes from its candidate's dates: modified,
// accessed and (where the system sets it) created. A date with a UTC offset is
// that moment; a local time with no zone, and a date alone (taken at
// midnight), are read in this machine's time zone. A date that is absent, or
// that cannot be placed, leaves that time as the recovery made it.
FileTimes recovered_file_times(const FileDates& dates);

}  // namespace kestrel
