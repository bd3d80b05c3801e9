#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_end.hpp"
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

// Where the first piece of a file whose structure broke off is looked for to
// end: the first unit start past the bytes its structure vouched for that
// holds another file's header, within `search_bytes` of them; `or_text`: or
// a unit of text or zeros, which the format's data never is. A JPEG's
// structure breaks close to where its data was interrupted; a chunk or entry
// spanning the break may carry another's on much further.
struct FirstPieceEnd {
  std::uint64_t search_bytes = 0;
  bool or_text = false;
};
FirstPieceEnd first_piece_end_of(FileFamily family);

// The end `end` of the file in `whole` once the format's own check has
// decided the doubt its end rule noted (FileEnd::doubtful_from): a JPEG whose
// data does not decode breaks off there. Unchanged for a format without such
// a check, or without a doubt.
std::expected<FileEnd, RecoveryError> settle_doubt(FileFamily family, FileArea& whole,
                                                   const FileEnd& end);

// A file of `size` bytes at `start` (its directory entry says so) whose
// structure does not hold over one run, completed by the format's own search
// across a gap that holds no file; nothing for a format that has none.
std::expected<std::optional<PiecedFile>, RecoveryError> complete_known_size(FileFamily family,
                                                                            PieceSearchState& state,
                                                                            std::uint64_t start,
                                                                            std::uint64_t limit,
                                                                            std::uint64_t size);

}  // namespace kestrel
