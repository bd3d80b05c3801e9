#pragma once

namespace kestrel::testing {

// True when the tests run under Wine (its ntdll exports wine_get_version).
// Tests whose expectations describe the devices Wine emulates (one disk 0
// holding C:, a Z: drive that may not be opened) skip on real Windows, where
// the machine's own disks answer.
bool running_under_wine();

}  // namespace kestrel::testing
