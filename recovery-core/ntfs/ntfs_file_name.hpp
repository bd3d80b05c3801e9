#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery-core/ntfs/ntfs_record.hpp"

namespace kestrel {

// A $FILE_NAME value: the folder it is in, its times and its name.
struct NtfsFileName {
  NtfsReference parent;
  std::uint64_t created = 0;  // the times as 100 ns since 1601-01-01 UTC
  std::uint64_t modified = 0;
  std::uint64_t accessed = 0;
  std::uint8_t name_space = 0;  // 0 POSIX, 1 Win32, 2 DOS 8.3, 3 Win32 and DOS at once
  std::string name;             // UTF-8
};

// The value read; nothing when it is shorter than its name says.
std::optional<NtfsFileName> parse_ntfs_file_name(std::span<const std::uint8_t> value);

// The record's name as a user sees it: the first that is not a DOS 8.3 alias,
// or the alias when the record has nothing else. A file whose attributes
// overflowed into extension records may keep its names there (`extensions`).
std::optional<NtfsFileName> user_file_name(const NtfsRecord& record,
                                           std::span<const NtfsRecord> extensions = {});

}  // namespace kestrel
