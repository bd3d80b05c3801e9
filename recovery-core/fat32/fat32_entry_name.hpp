#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// A 32-byte FAT directory entry as read from the directory.
using Fat32DirectoryEntry = std::array<std::uint8_t, 32>;

// The most deleted long-name entries that are gathered for one short entry.
inline constexpr std::size_t kMaxPendingLongNameEntries = 20;

// The display name of a short (8.3) entry: base and extension decoded as UTF-8
// (invalid sequences replaced), trimmed, joined by "." when the extension is
// not empty. A deleted entry's lost first byte shows as "_".
std::string decode_short_name(std::span<const std::uint8_t> entry, bool deleted);

// True for a deleted long-name entry as the walk gathers them: deleted, the
// long-name attribute, type 0 and a zero first-cluster field.
bool is_deleted_long_name_entry(std::span<const std::uint8_t> entry);

// The long-name checksum of the 11 short-name bytes.
std::uint8_t short_name_checksum(std::span<const std::uint8_t, 11> name);

// True when some first byte that a short name may start with, followed by the
// entry's retained bytes 1-10, gives `checksum`. Deletion overwrote the first
// byte, so every allowed value is tried.
bool checksum_compatible_with_deleted_short_name(std::span<const std::uint8_t> short_entry,
                                                 std::uint8_t checksum);

// True when the name holds a control character (U+0000-U+001F, U+007F-U+009F)
// or one of \ / : * ? " < > |.
bool has_forbidden_name_char(std::string_view name);

// The long name rebuilt from the deleted long-name entries gathered before a
// deleted short entry (in directory order: the name's end first), or nothing
// when their structure, their checksum or the resulting text does not hold up.
std::optional<std::string> assemble_deleted_long_name(
    const std::vector<Fat32DirectoryEntry>& pending, std::span<const std::uint8_t> short_entry);

}  // namespace kestrel
