#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A movie (MP4, MOV, 3GP) whose box walk broke off at the end of its mdat,
// when the gap after its first piece holds nothing the search can step over:
// the moov boxes up to 64 MiB past the mdat's end, at the unit starts'
// remainder, each fix the gap (the moov lies that far past where the mdat's
// size puts it), and the join is located by the video samples its tables
// place (find_video_join), then taken when the joined movie checks to its
// end. A join no sample boundary pins is given back graded as unchecked.
class MovieContinuationSearch final : public ContinuationSearch {
 public:
  explicit MovieContinuationSearch(PieceSearchState& state) : state_(state) {}

  std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length) override;

 private:
  std::uint32_t unit() const { return state_.grid().unit; }

  PieceSearchState& state_;
};

}  // namespace kestrel
