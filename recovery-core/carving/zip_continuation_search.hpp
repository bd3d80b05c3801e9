#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/content/file_end/zip_join.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A ZIP package (DOCX, XLSX, ODF, EPUB) whose structure broke off when the
// gap after its first piece holds nothing the search can step over: the
// end-of-central-directory records up to 16 MiB past the break each say how
// long the gap is (the record lies that far past where the package's offsets
// put it), and the join is tried at the unit starts up to the break, latest
// first, each taken only when the member the join cuts reads to its CRC-32
// and the joined package checks to its end record.
class ZipContinuationSearch final : public ContinuationSearch {
 public:
  explicit ZipContinuationSearch(PieceSearchState& state) : ContinuationSearch(state) {}

  std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length) override;

 private:
  // A package in three pieces or more: with `joins` so far (each of whose
  // cut members read to their CRC-32), the walk over them broke off at
  // `broken_at`. The next piece is either the last, `gap` past the first
  // (the end record fixes it), or one in between whose gap is fixed by the
  // local header the walk broke off at, found there as the directory
  // describes it.
  struct Pieces {
    const ZipMembers& members;
    std::uint64_t gap;
    std::optional<std::uint64_t> length;
    int tries;
  };
  std::expected<std::optional<PiecedFile>, RecoveryError> last_zip_piece(Pieces& pieces,
                                                                         const PieceJoins& joins,
                                                                         std::uint64_t start,
                                                                         std::uint64_t limit,
                                                                         std::uint64_t broken_at);
  std::expected<std::optional<PiecedFile>, RecoveryError> middle_zip_piece(Pieces& pieces,
                                                                           const PieceJoins& joins,
                                                                           std::uint64_t start,
                                                                           std::uint64_t limit,
                                                                           std::uint64_t broken_at);
  std::expected<std::optional<PiecedFile>, RecoveryError> join_zip_across(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at, const ZipMembers& members,
      std::uint64_t gap, std::optional<std::uint64_t> length);
};

}  // namespace kestrel
