#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "cli/command_error.hpp"
#include "os/file_times.hpp"
#include "platform/device_platform.hpp"
#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/extraction/file_output.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Told the size of each piece of a recovered file once it is written.
using WrittenBytes = std::function<void(std::uint64_t bytes)>;

// A file written whole: its length, and why it could not be given the times
// it was asked to take, if it could not (the file is recovered all the same,
// dated as the recovery made it).
struct RecoveredFile {
  std::uint64_t bytes_written = 0;
  std::optional<RecoveryError> times_not_set;
};

// Recovers one candidate into a new file at `destination` and answers the bytes
// written. The file is created first (an existing path is never touched); then
// the bytes the extraction will write are checked against the free space of
// the destination's volume (check_room_for), and only then copied. A failure
// leaves whatever was written. `durability` says who flushes the file
// (FileOutput); `written_bytes`, when given, hears of every piece written.
// `times`, when any is present, are set on the file's handle after its last
// byte is written and before it is closed.
std::expected<RecoveredFile, CommandError> recover_to_file(
    DevicePlatform& platform, ByteSource& source, const RecoveryCandidate& candidate,
    const std::filesystem::path& destination,
    FileDurability durability = FileDurability::FlushedHere, const WrittenBytes& written_bytes = {},
    const FileTimes& times = {});

}  // namespace kestrel
