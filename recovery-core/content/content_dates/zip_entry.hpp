#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "recovery-core/content/content_dates/content_bytes.hpp"

namespace kestrel {

// The contents of the entry called `name` in the ZIP archive `bytes` holds,
// found through its central directory and inflated with zlib when deflated.
// Nothing when the archive has no such entry, when its directory or the
// entry does not hold up, uses a method other than stored or deflate, or
// would be larger than `most_bytes` either packed or unpacked.
std::optional<std::vector<std::uint8_t>> read_zip_entry(ContentBytes& bytes, std::string_view name,
                                                        std::size_t most_bytes);

}  // namespace kestrel
