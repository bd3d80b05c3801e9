// The exFAT scan and the extraction of its candidates, over a disk image
// in the sparse form (volume_scan_harness.hpp).
#include <cstdint>
#include <span>

#include "fuzz/volume_scan_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr kestrel::FilesystemKind kKinds[] = {kestrel::FilesystemKind::Exfat};
  kestrel::fuzzing::scan_and_extract(std::span(data, size), kKinds);
  return 0;
}
