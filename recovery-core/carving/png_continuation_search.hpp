#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A PNG whose chunk at `broken_at` did not check, when the gap after its
// piece holds nothing the search can step over: for each gap (a whole number
// of units up to 4 MiB) after which the source holds a chunk header where the
// cut chunk's length puts the next one, the joins at which the cut chunk's
// CRC-32 holds are tried (CRCs combined, each byte read once), each taken
// when the joined file checks to IEND, or followed to its next piece when a
// later chunk breaks off.
class PngContinuationSearch final : public ContinuationSearch {
 public:
  explicit PngContinuationSearch(PieceSearchState& state) : ContinuationSearch(state) {}

  std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length) override;

 private:
  // The same over the pieces so far (`joins`); at most `tries` joins are
  // checked to the end.
  std::expected<std::optional<PiecedFile>, RecoveryError> next_png_piece(
      const PieceJoins& joins, std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length, int& tries);
  std::expected<std::optional<PiecedFile>, RecoveryError> png_joined_at(
      const PieceJoins& joins, std::uint64_t start, std::uint64_t limit,
      std::optional<std::uint64_t> length, int& tries);
};

}  // namespace kestrel
