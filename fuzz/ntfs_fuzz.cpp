// The NTFS scan (boot sectors, MFT records, run lists, attribute lists, folder
// paths) and the extraction of its candidates (runs, resident bytes, LZNT1
// units), over a disk image in the sparse form (volume_scan_harness.hpp).
#include <cstdint>
#include <span>

#include "fuzz/volume_scan_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr kestrel::FilesystemKind kKinds[] = {kestrel::FilesystemKind::Ntfs};
  kestrel::fuzzing::scan_and_extract(std::span(data, size), kKinds);
  return 0;
}
