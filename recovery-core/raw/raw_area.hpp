#pragma once

#include <memory>

#include "recovery-core/source/byte_source.hpp"
#include "recovery-core/volume/volume.hpp"

namespace kestrel {

// A partition that holds no file system the tool reads: its report says so,
// it lists no files, and carving searches the whole of it, from its first byte
// to its end or the source's, at every logical-sector start. The registry
// opens one where no room recognises the boot sector.
std::unique_ptr<Volume> open_raw_area(ByteSource& source, const VolumePlace& place);

}  // namespace kestrel
