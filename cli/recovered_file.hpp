#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <string>

#include "cli/command_error.hpp"
#include "platform/device_platform.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/extraction/file_output.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Told the size of each piece of a recovered file once it is written.
using WrittenBytes = std::function<void(std::uint64_t bytes)>;

// Recovers one candidate into a new file at `destination` and answers the bytes
// written. The file is created first (an existing path is never touched); then
// the bytes the extraction will write are checked against the free space of
// the destination's volume (check_room_for), and only then copied. A failure
// leaves whatever was written. `durability` says who flushes the file
// (FileOutput); `written_bytes`, when given, hears of every piece written.
std::expected<std::uint64_t, CommandError> recover_to_file(
    DevicePlatform& platform, ByteSource& source, const RecoveryCandidate& candidate,
    const std::filesystem::path& destination,
    FileDurability durability = FileDurability::FlushedHere,
    const WrittenBytes& written_bytes = {});

}  // namespace kestrel
