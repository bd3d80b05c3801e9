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
// samples checked against `mdat`; the same of the moov at `position` of a
// file's area.
std::expected<std::optional<VideoTrack>, RecoveryError> read_moov_video_track(
    AreaReader& reader, std::uint64_t position, std::uint64_t limit, MdatSpan mdat);
std::expected<std::optional<VideoTrack>, RecoveryError> read_moov_video_track(
    FileArea& area, std::uint64_t position, MdatSpan mdat);

// A movie written for streaming: its moov comes before its mdat, so its box
// walk passes over the mdat by its size even when the mdat's bytes broke off.
// `moov` is where its first moov lies, `mdat` the first mdat after it, from
// the file's first byte.
struct MoovFirst {
  std::uint64_t moov = 0;
  MdatSpan mdat;
};

// The moov and mdat of `area` when its top-level boxes, read from its first
// byte, hold a moov of at most kMaxMoovBytes and, after it, an mdat that ends
// within the area.
std::expected<std::optional<MoovFirst>, RecoveryError> find_moov_first(FileArea& area);

// Where the movie `movie` of `area` broke off inside its mdat: its last video
// sample does not parse in `area`, and the first that does not (found by
// halving) starts there. Nothing when the last one parses, or its tables give
// no video track of NAL units.
std::expected<std::optional<std::uint64_t>, RecoveryError> moov_first_break(FileArea& area,
                                                                            const MoovFirst& movie);

// Whether the sample's bytes in `area` hold NAL units after their lengths,
// the lengths adding up to exactly its size, each unit's header a valid one
// of the codec (forbidden bit clear, a type the codec defines); with
// `payload`, also no byte sequence 00 00 00, 00 00 01 or 00 00 02 inside a
// unit (the encoder escapes them).
std::expected<bool, RecoveryError> video_sample_parses(FileArea& area, const VideoTrack& track,
                                                       const VideoSample& sample, bool payload);

// The first of the track's samples from `from` on that does not parse in
// `area` (the samples before a break parsing and those past it not), found by
// halving; the sample count when the last one parses.
std::expected<std::size_t, RecoveryError> first_unparsed_sample(FileArea& area,
                                                                const VideoTrack& track,
                                                                std::size_t from);

// Whether the samples [from, to) parse in `area`, those before `payload_to`
// down to their payload.
std::expected<bool, RecoveryError> video_samples_parse(FileArea& area, const VideoTrack& track,
                                                       std::size_t from, std::size_t to,
                                                       std::size_t payload_to);

// Whether 32 samples spread over the whole track, and its last 4, parse in
// `area`.
std::expected<bool, RecoveryError> spread_samples_parse(FileArea& area, const VideoTrack& track);

// The file positions of the track's samples where a join may lie when `first`
// is the first that does not parse: past the start of the one before it, up
// to the end of that one (or the mdat's end when every sample parsed).
struct BreakSpan {
  std::uint64_t after = 0;
  std::uint64_t up_to = 0;
};
BreakSpan break_span(const VideoTrack& track, MdatSpan mdat, std::size_t first);

// The length of the first piece of the movie at `start` whose second piece
// lies `gap` bytes past it: the first video sample that does not parse in the
// contiguous reading locates the break, and the unit starts between the
// sample before it and its end are tried. One is taken only when it is the
// only one under which the samples next to the join parse, and samples
// spread over the whole track parse at their joined positions too.
std::expected<std::optional<std::uint64_t>, RecoveryError> find_video_join(
    AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
    const VideoTrack& track, MdatSpan mdat, std::uint64_t gap);

// The same for the last join of a movie read over its pieces so far (`joins`),
// under which the samples before `first`, the first that does not parse,
// parse: its last piece lies `gap` bytes past where the one before it would
// go on.
std::expected<std::optional<PieceJoin>, RecoveryError> find_last_video_join(
    AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
    const VideoTrack& track, MdatSpan mdat, const PieceJoins& joins, std::size_t first,
    std::uint64_t gap);

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

// Whether every join of the movie at `start` in pieces `joins` is pinned so.
std::expected<bool, RecoveryError> video_joins_are_pinned(AreaReader& reader, std::uint64_t start,
                                                          std::uint64_t limit, UnitGrid grid,
                                                          const VideoTrack& track,
                                                          const PieceJoins& joins);

}  // namespace kestrel
