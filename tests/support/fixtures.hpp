#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace kestrel::testing {

// Committed test fixtures live gzip-compressed under tests/fixtures/ as
// <relative>.gz; `relative` names them without the suffix, with forward
// slashes (for example "partition/gpt-512.img").

// The compressed file of a fixture.
std::filesystem::path fixture_path(std::string_view relative);

// The fixture's bytes, decompressed into memory. Throws std::runtime_error
// (a test failure) when the fixture is missing or damaged.
std::vector<std::uint8_t> load_fixture(std::string_view relative);

// Decompresses the fixture into a new file `destination` (for example inside a
// TempDir) and returns that path. Throws std::runtime_error on failure.
std::filesystem::path unpack_fixture(std::string_view relative,
                                     const std::filesystem::path& destination);

}  // namespace kestrel::testing
