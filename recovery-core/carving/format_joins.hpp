#pragma once

#include <expected>
#include <memory>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// What each format asks of a file joined from pieces, kept in one table with
// a row per format that is ever joined.

// Whether the format's end rule checks the bytes at a join by position or
// content, so that a later piece in the wrong place fails it: the next
// chunk, entry, box or CRC must fall exactly where the structure says.
bool end_rule_checks_join(FileFamily family);

// The format's own proof, beyond its end rule, that the file joined in
// `whole` (up to its end) is one file: for a JPEG, its entropy-coded data
// decodes to exactly the frame's blocks. True for a format that asks none.
std::expected<bool, RecoveryError> joined_file_holds(FileFamily family, FileArea& whole);

// The format's search across any gap, for an area; none for a format that
// has none.
std::unique_ptr<ContinuationSearch> continuation_search_for(FileFamily family,
                                                            PieceSearchState& state);

}  // namespace kestrel
