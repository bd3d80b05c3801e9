#include "recovery-core/carving/movie_continuation_search.hpp"

#include <algorithm>

#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/iso_media_join.hpp"
#include "recovery-core/content/file_end/iso_media_pieces.hpp"
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
  if (!*mdat) {
    // A movie with its moov first broke off where a video sample stopped
    // parsing: the tables are there to follow its pieces by.
    KESTREL_TRY_ASSIGN(first, find_moov_first(contiguous));
    if (!*first) return std::optional<PiecedFile>{};
    KESTREL_TRY_ASSIGN(track, read_moov_video_track(contiguous, (*first)->moov, (*first)->mdat));
    if (!*track) return std::optional<PiecedFile>{};
    return join_video(start, limit, **track, (*first)->mdat, std::nullopt, length);
  }
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
    auto file = join_video(start, limit, **track, **mdat, position - end, length);
    if (!file || *file) return file;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<PiecedFile>, RecoveryError> MovieContinuationSearch::join_video(
    std::uint64_t start, std::uint64_t limit, const VideoTrack& track, MdatSpan mdat,
    std::optional<std::uint64_t> gap, std::optional<std::uint64_t> length) {
  AreaReader& reader = state_.reader();
  KESTREL_TRY_ASSIGN(joins, find_video_joins(reader, start, limit, state_.grid(), track, mdat, gap,
                                             reader.bytes_read() + state_.any_gap_left()));
  if (!*joins) return std::optional<PiecedFile>{};
  for (const PieceJoin& join : **joins) {
    if (state_.handed_out(join.offset)) return std::optional<PiecedFile>{};
  }
  auto file = state_.check_joined(FileFamily::IsoMedia, start, limit, **joins, length);
  if (!file || !*file) return file;
  KESTREL_TRY_ASSIGN(pinned,
                     video_joins_are_pinned(reader, start, limit, state_.grid(), track, **joins));
  if (!*pinned) {
    // Nothing checks the first unit after a join: the file is given back as
    // joined, but not graded as one checked to its end.
    (*file)->end.finding = EndFinding::Unchecked;
    (*file)->end.note = kIsoMediaUnpinnedJoinNote;
  }
  return file;
}

}  // namespace kestrel
