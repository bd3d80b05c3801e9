#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// How far a file's own structure vouches for where it ends.
enum class EndFinding {
  Checked,    // followed to its end, and every check on the way held
  Unchecked,  // the format's end mark was found, but what should confirm it did not
  Broken,     // the structure stops being valid part-way: only the valid start is the file's
  Unended,    // still valid where the area (or the format's bound) ends
};

// Where a carved file ends, by its format's rule.
struct FileEnd {
  std::uint64_t length = 0;     // bytes from the file's first byte that are carved
  std::uint64_t confirmed = 0;  // of those, how many the structure itself vouches for
  EndFinding finding = EndFinding::Broken;
  std::string_view extension;  // the file's own extension, without the dot
  std::string_view note;       // Korean: how the end was found
  // Where a structure that held to its end showed a sign, on the way, that
  // another file's bytes lie inside (each rule that notes one says what it
  // looks for). The format's own check then decides whether the file breaks
  // off there (format_joins.hpp); a file of known size that does not end at
  // it breaks off there at once.
  std::optional<std::uint64_t> doubtful_from;

  friend bool operator==(const FileEnd&, const FileEnd&) = default;
};

// An end rule's answer: the end, nothing when the header itself does not hold
// up (the bytes are not such a file), or a read error.
using FileEndResult = std::expected<std::optional<FileEnd>, RecoveryError>;

// The usual answers.
FileEnd checked_end(std::uint64_t length, std::string_view extension, std::string_view note);
FileEnd broken_end(std::uint64_t valid_length, std::string_view extension);
FileEnd unended_end(std::uint64_t length, std::uint64_t confirmed, std::string_view extension);

}  // namespace kestrel
