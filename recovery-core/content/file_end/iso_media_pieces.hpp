#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/iso_media_tables.hpp"
#include "recovery-core/content/file_end/piece_joins.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A movie in more than two pieces is joined one break at a time: under the
// joins found so far (the last piece read on as if it went on), the first
// video sample that does not parse locates the next break, and the next
// piece's gap is the one (a whole number of units) under which the samples
// past the break parse where the tables put them.

// The joins of the movie at `start` whose track `track` lies in `mdat`. With
// `total_gap` (moov last: the moov lies that far past where the mdat's size
// puts it), the gaps add up to it, and the last join is the one that takes up
// the rest (find_last_video_join); without it (moov first), the last join is
// the one after which every sample parses. Each break's gap is looked for up
// to 4 MiB on (and short of the rest of `total_gap`), a join taken only when it
// is the only one under which the two samples around the break parse down to
// their payload and the first two that start in the next piece parse; the
// samples spread over the track must parse under all the joins. At most
// kMaxCarvedPieces pieces; nothing once the reader has read `read_until`
// bytes or a break leaves too many candidates to check.
std::expected<std::optional<PieceJoins>, RecoveryError> find_video_joins(
    AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
    const VideoTrack& track, MdatSpan mdat, std::optional<std::uint64_t> total_gap,
    std::uint64_t read_until);

}  // namespace kestrel
