#include "recovery-core/carving/movie_continuation_search.hpp"

#include <algorithm>

#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/iso_media_join.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// How far past a movie's mdat its moov is looked for, and the most moov
// boxes found there that are tried, first first.
constexpr std::uint64_t kMoovSearchBytes = 64u << 20;
constexpr std::size_t kMaxMoovs = 4;

}  // namespace

std::expected<std::optional<PiecedFile>, RecoveryError> MovieContinuationSearch::complete(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  if (unit() == 0 || state_.any_gap_spent() || broken_at > limit - start)
    return std::optional<PiecedFile>{};
  FileArea contiguous(state_.reader(), start, limit, state_.grid());
  KESTREL_TRY_ASSIGN(mdat, find_broken_mdat(contiguous, broken_at));
  if (!*mdat) return std::optional<PiecedFile>{};
  const std::uint64_t end = start + (*mdat)->end;
  const std::uint64_t to = std::min({limit, end + kMoovSearchBytes, end + state_.any_gap_left()});
  std::uint64_t from = end + unit();
  for (std::size_t tried = 0; tried < kMaxMoovs && !state_.any_gap_spent(); ++tried) {
    KESTREL_TRY_ASSIGN(found, find_moov_box(state_.reader(), from, to, unit()));
    if (!*found) break;
    const std::uint64_t position = **found;
    from = position + unit();
    KESTREL_TRY_ASSIGN(track, read_moov_video_track(state_.reader(), position, limit, **mdat));
    if (!*track) continue;
    const std::uint64_t gap = position - end;
    KESTREL_TRY_ASSIGN(
        join, find_video_join(state_.reader(), start, limit, state_.grid(), **track, **mdat, gap));
    if (!*join) continue;
    const TwoPieces pieces{**join, start + **join + gap};
    if (state_.handed_out(pieces.second_offset)) continue;
    auto file = state_.check_joined(FileFamily::IsoMedia, start, limit, joins_of(pieces), length);
    if (!file) return file;
    if (!*file) continue;
    KESTREL_TRY_ASSIGN(pinned, video_join_is_pinned(state_.reader(), start, limit, state_.grid(),
                                                    **track, **join, gap));
    if (!*pinned) {
      // Nothing checks the first unit after the join: the file is given
      // back as joined, but not graded as one checked to its end.
      (*file)->end.finding = EndFinding::Unchecked;
      (*file)->end.note = kIsoMediaUnpinnedJoinNote;
    }
    return file;
  }
  return std::optional<PiecedFile>{};
}

}  // namespace kestrel
