#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "cli/command_error.hpp"
#include "platform/device_platform.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/extraction/file_output.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Recovers one candidate into a new file at `destination` and answers the bytes
// written. The file is created first (an existing path is never touched); then
// the bytes the extraction will write are checked against the free space of
// the destination's volume (check_room_for), and only then copied. A failure
// leaves whatever was written. `durability` says
// who flushes the file (FileOutput).
std::expected<std::uint64_t, CommandError> recover_to_file(
    DevicePlatform& platform, ByteSource& source, const RecoveryCandidate& candidate,
    const std::filesystem::path& destination,
    FileDurability durability = FileDurability::FlushedHere);

}  // namespace kestrel
