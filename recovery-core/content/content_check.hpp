#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/content/content_signature.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

enum class Confidence { High, Medium, Low };

// How many first bytes the content check looks at.
inline constexpr std::uint64_t kContentProbeBytes = 4096;

std::string_view confidence_name(Confidence confidence);

// How far a candidate can be trusted, and why.
struct ContentCheck {
  std::vector<std::string> validation_notes;  // Korean, in the order the checks ran
  std::optional<FileKind> detected_kind;
  Confidence confidence = Confidence::Low;
  std::uint8_t confidence_score = 0;  // 0 to 90

  friend bool operator==(const ContentCheck&, const ContentCheck&) = default;
};

// Grades a candidate from whether its chain survived (`has_chain`), the kind
// its first bytes show (one read of at most 4 KiB at `data_offset`) and whether
// that kind agrees with its name's extension. Never fails: a start that cannot
// be read costs score and adds a note.
ContentCheck check_content(ByteSource& source, std::uint64_t data_offset, std::uint64_t size,
                           std::string_view name, bool has_chain);

// The same grading over first bytes already read (at most kContentProbeBytes
// of them), or without them when they could not be read.
ContentCheck check_first_bytes(std::optional<std::span<const std::uint8_t>> start,
                               std::string_view name, bool has_chain);

// Takes `penalty` off the check's score and grades it again, for a doubt the
// content cannot show (the clusters may hold another file by now).
void lower_score(ContentCheck& check, int penalty);

// Whether the bytes at `data_offset` (the same one read as check_content's) show
// the kind the name's extension promises. A name without a known extension,
// content of no known kind or an unreadable start confirm nothing.
bool content_matches_name(ByteSource& source, std::uint64_t data_offset, std::uint64_t size,
                          std::string_view name);

}  // namespace kestrel
