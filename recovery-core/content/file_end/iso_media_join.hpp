#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/iso_media_tables.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A camera's movie (ftyp, a large mdat, moov last) that broke off inside its
// mdat: the box walk jumps over the mdat by its size and lands on bytes that
// are no box. Its moov then lies as far past the mdat's end as the gap between
// its pieces is long, and its sample tables say where every video sample is,
// so the samples' NAL units locate the join.

// The mdat of `contiguous` when its top-level boxes, read from its first
// byte, end with an mdat exactly at `broken_at` (where the walk broke off),
// with no moov or meta before it.
std::expected<std::optional<MdatSpan>, RecoveryError> find_broken_mdat(FileArea& contiguous,
                                                                       std::uint64_t broken_at);

// The first place in [from, to) a whole number of `unit`s past `from` that
// holds the header of a moov box of at most kMaxMoovBytes.
std::expected<std::optional<std::uint64_t>, RecoveryError> find_moov_box(AreaReader& reader,
                                                                         std::uint64_t from,
                                                                         std::uint64_t to,
                                                                         std::uint32_t unit);

// The video track of the moov box at `position` of the reader's source, its
// samples checked against `mdat`.
std::expected<std::optional<VideoTrack>, RecoveryError> read_moov_video_track(
    AreaReader& reader, std::uint64_t position, std::uint64_t limit, MdatSpan mdat);

// Whether the sample's bytes in `area` hold NAL units after their lengths,
// the lengths adding up to exactly its size, each unit's header a valid one
// of the codec (forbidden bit clear, a type the codec defines); with
// `payload`, also no byte sequence 00 00 00, 00 00 01 or 00 00 02 inside a
// unit (the encoder escapes them).
std::expected<bool, RecoveryError> video_sample_parses(FileArea& area, const VideoTrack& track,
                                                       const VideoSample& sample, bool payload);

// The length of the first piece of the movie at `start` whose second piece
// lies `gap` bytes past it: the first video sample that does not parse in the
// contiguous reading locates the break, and the unit starts between the
// sample before it and its end are tried. One is taken only when it is the
// only one under which the samples next to the join parse, and samples
// spread over the whole track parse at their joined positions too.
std::expected<std::optional<std::uint64_t>, RecoveryError> find_video_join(
    AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
    const VideoTrack& track, MdatSpan mdat, std::uint64_t gap);

// Whether the join at `at` (from the file's first byte) of the movie at
// `start`, its second piece `gap` bytes past its first, is pinned by its
// samples: a video sample or one of its NAL units starts in the first unit
// after the join and the sample parses there. When none does, that unit's
// bytes are only a payload nothing checks (a lost unit of the second piece
// would go unnoticed there).
std::expected<bool, RecoveryError> video_join_is_pinned(AreaReader& reader, std::uint64_t start,
                                                        std::uint64_t limit, UnitGrid grid,
                                                        const VideoTrack& track, std::uint64_t at,
                                                        std::uint64_t gap);

}  // namespace kestrel
