#pragma once

namespace kestrel {

// What a scan does beyond reading the directories. Every option is off unless
// the caller asks for it, and with all of them off a scan's result is the
// plain directory scan's.
struct ScanOptions {
  // Also search the free space of every volume, and the whole of every area
  // without a recognised file system, for files by their content.
  bool carve = false;
};

}  // namespace kestrel
