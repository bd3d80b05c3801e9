#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/content/file_end/iso_media_tables.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A movie (MP4, MOV, 3GP) whose box walk broke off at the end of its mdat,
// when the gap after its first piece holds nothing the search can step over:
// the moov boxes up to 64 MiB past the mdat's end, at the unit starts'
// remainder, each fix the whole gap (the moov lies that far past where the
// mdat's size puts it), and the joins are located by the video samples its
// tables place (find_video_joins), then taken when the joined movie checks to
// its end. A movie with its moov before its mdat, whose end rule found a
// video sample that does not parse, is joined the same way by its own
// tables, each gap looked for on its own. A join no sample boundary pins is
// given back graded as unchecked.
class MovieContinuationSearch final : public ContinuationSearch {
 public:
  explicit MovieContinuationSearch(PieceSearchState& state) : ContinuationSearch(state) {}

  std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length) override;

 private:
  // The movie whose track `track` lies in `mdat`, joined where its samples
  // locate each break (`gap`: the whole gap its moov fixes, for a moov after
  // the mdat), when the joined movie checks to its end.
  std::expected<std::optional<PiecedFile>, RecoveryError> join_video(
      std::uint64_t start, std::uint64_t limit, const VideoTrack& track, MdatSpan mdat,
      std::optional<std::uint64_t> gap, std::optional<std::uint64_t> length);
};

}  // namespace kestrel
