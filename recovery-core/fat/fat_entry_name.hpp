#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/fat/fat_directory_entry.hpp"

namespace kestrel {

// How many deleted long-name entries the walk keeps waiting for their short entry.
inline constexpr std::size_t kMaxPendingLongNameEntries = 20;

// The name shown for a short entry: base and extension each decoded lossily
// from UTF-8 and trimmed, joined by "." unless the extension is empty. Deletion
// overwrote the first byte, so a deleted entry's name starts with "_".
std::string decode_short_name(const Fat32DirectoryEntry& entry, bool deleted);

// A long-name entry as the walk gathers it before a deleted short entry:
// marked deleted, type 0 and a zero cluster field.
bool is_deleted_long_name_entry(const Fat32DirectoryEntry& entry);

// Whether some first byte a short name may begin with, put before the deleted
// entry's surviving bytes, reproduces the long-name entries' checksum.
bool checksum_compatible_with_deleted_short_name(const Fat32DirectoryEntry& short_entry,
                                                 std::uint8_t checksum);

// Whether a name holds a C0 or C1 control character or one of \ / : * ? " < > |.
bool has_forbidden_name_char(std::string_view name);

// Rebuilds a deleted file's long name from the long-name entries gathered in
// front of its deleted short entry (in directory order, so the name's end comes
// first). Nothing when the entries disagree, their checksum fits no possible
// short name, the padding is wrong or the text is not a usable file name.
std::optional<std::string> assemble_deleted_long_name(
    const std::vector<Fat32DirectoryEntry>& pending, const Fat32DirectoryEntry& short_entry);

// The long name of a live entry from the long-name entries just in front of it
// (in directory order, the name's end first): numbered down to 1 from a first
// entry marked last, each carrying the checksum of the short entry's name. The
// same text rules as for a deleted name apply. Nothing when any of this fails.
std::optional<std::string> assemble_live_long_name(const std::vector<Fat32DirectoryEntry>& pieces,
                                                   const Fat32DirectoryEntry& short_entry);

}  // namespace kestrel
