#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The text of a sysfs attribute without its trailing line feed; absent when
// it cannot be read.
std::optional<std::string> read_sysfs_text(const std::filesystem::path& attribute);

// The raw bytes of a (possibly binary) sysfs attribute, at most 4096 of them.
std::optional<std::string> read_sysfs_bytes(const std::filesystem::path& attribute);

// A decimal sysfs attribute; absent when unreadable or not a number.
std::optional<std::uint64_t> read_sysfs_number(const std::filesystem::path& attribute);

// The entries of a sysfs directory. A directory that cannot be opened fails;
// one that fails while it is walked gives the entries read until then.
std::expected<std::vector<std::filesystem::path>, SourceError> list_sysfs_directory(
    const std::filesystem::path& directory);

}  // namespace kestrel
