#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrel {

// The text of a sysfs attribute without its trailing line feed; absent when
// it cannot be read.
std::optional<std::string> read_sysfs_text(const std::filesystem::path& attribute);

// The raw bytes of a (possibly binary) sysfs attribute, at most 4096 of them.
std::optional<std::string> read_sysfs_bytes(const std::filesystem::path& attribute);

// A decimal sysfs attribute; absent when unreadable or not a number.
std::optional<std::uint64_t> read_sysfs_number(const std::filesystem::path& attribute);

}  // namespace kestrel
