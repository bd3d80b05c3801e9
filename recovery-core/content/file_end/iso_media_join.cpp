#include "recovery-core/content/file_end/iso_media_join.hpp"

#include <algorithm>
#include <vector>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

constexpr int kMaxBoxes = 4096;
// The most NAL units one sample may hold, and the largest sample whose
// payload is scanned for escaped sequences.
constexpr int kMaxNalUnits = 256;
constexpr std::uint64_t kMaxScannedSample = 4u << 20;
// The most unit starts tried as the join, the samples past the break checked
// under each, and the samples spread over the track checked under the one
// taken (besides its last few).
constexpr int kMaxJoinTries = 64;
constexpr std::size_t kNearSamples = 16;
constexpr std::size_t kSpreadSamples = 32;
constexpr std::size_t kLastSamples = 4;

bool valid_nal_header(NalCodec codec, std::span<const std::uint8_t> header) {
  if ((header[0] & 0x80) != 0) return false;
  if (codec == NalCodec::Avc) {
    const int type = header[0] & 0x1F;
    return (type >= 1 && type <= 15) || (type >= 19 && type <= 21);
  }
  const int type = (header[0] >> 1) & 0x3F;
  const bool defined = type <= 9 || (type >= 16 && type <= 21) || (type >= 32 && type <= 40);
  return defined && (header[1] & 0x07) != 0;
}

// Whether the unit's payload [from, to) holds none of the sequences an
// encoder escapes: 00 00 followed by 00, 01 or 02.
std::expected<bool, RecoveryError> payload_unescaped(FileArea& area, std::uint64_t from,
                                                     std::uint64_t to) {
  int zeros = 0;
  for (std::uint64_t at = from; at < to;) {
    KESTREL_TRY_ASSIGN(piece, area.bytes(at, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                 AreaReader::kMaxView, to - at))));
    if (piece->empty()) return false;
    for (const std::uint8_t byte : *piece) {
      if (zeros >= 2 && byte <= 2) return false;
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    at += piece->size();
  }
  return true;
}

}  // namespace

std::expected<std::optional<MdatSpan>, RecoveryError> find_broken_mdat(FileArea& contiguous,
                                                                       std::uint64_t broken_at) {
  std::uint64_t position = 0;
  for (int boxes = 0; boxes < kMaxBoxes && position < broken_at; ++boxes) {
    KESTREL_TRY_ASSIGN(head, contiguous.bytes(position, 16));
    if (head->size() < 16) break;
    const auto type = head->subspan(4, 4);
    if (holds_text(type, 0, "moov") || holds_text(type, 0, "meta")) break;
    std::uint64_t size = load_be<std::uint32_t>(*head, 0);
    std::uint64_t header = 8;
    if (size == 1) {
      size = load_be<std::uint64_t>(*head, 8);
      header = 16;
    }
    if (size < header || size > broken_at - position) break;
    if (holds_text(type, 0, "mdat") && position + size == broken_at && boxes > 0)
      return std::optional<MdatSpan>{MdatSpan{position + header, broken_at}};
    position += size;
  }
  return std::optional<MdatSpan>{};
}

std::expected<std::optional<std::uint64_t>, RecoveryError> find_moov_box(AreaReader& reader,
                                                                         std::uint64_t from,
                                                                         std::uint64_t to,
                                                                         std::uint32_t unit) {
  if (unit == 0) return std::optional<std::uint64_t>{};
  for (std::uint64_t position = from; position < to; position += unit) {
    KESTREL_TRY_ASSIGN(head, reader.view(position, 8, to));
    if (head->size() < 8) break;
    const std::uint32_t size = load_be<std::uint32_t>(*head, 0);
    if (holds_text(*head, 4, "moov") && size >= 16 && size <= kMaxMoovBytes)
      return std::optional<std::uint64_t>{position};
  }
  return std::optional<std::uint64_t>{};
}

std::expected<std::optional<VideoTrack>, RecoveryError> read_moov_video_track(
    AreaReader& reader, std::uint64_t position, std::uint64_t limit, MdatSpan mdat) {
  if (position >= limit) return std::optional<VideoTrack>{};
  FileArea area(reader, position, limit);
  return read_moov_video_track(area, 0, mdat);
}

std::expected<std::optional<VideoTrack>, RecoveryError> read_moov_video_track(
    FileArea& area, std::uint64_t position, MdatSpan mdat) {
  KESTREL_TRY_ASSIGN(head, area.bytes(position, 8));
  if (head->size() < 8) return std::optional<VideoTrack>{};
  const std::uint64_t size = load_be<std::uint32_t>(*head, 0);
  if (size < 16 || size > kMaxMoovBytes || size > area.size() - position)
    return std::optional<VideoTrack>{};
  std::vector<std::uint8_t> moov;
  moov.reserve(static_cast<std::size_t>(size));
  while (moov.size() < size) {
    KESTREL_TRY_ASSIGN(
        piece, area.bytes(position + moov.size(), static_cast<std::size_t>(size - moov.size())));
    if (piece->empty()) return std::optional<VideoTrack>{};
    moov.insert(moov.end(), piece->begin(), piece->end());
  }
  return read_video_track(moov, mdat);
}

std::expected<std::optional<MoovFirst>, RecoveryError> find_moov_first(FileArea& area) {
  std::optional<std::uint64_t> moov;
  std::uint64_t position = 0;
  for (int boxes = 0; boxes < kMaxBoxes; ++boxes) {
    KESTREL_TRY_ASSIGN(head, area.bytes(position, 16));
    if (head->size() < 16) break;
    std::uint64_t size = load_be<std::uint32_t>(*head, 0);
    std::uint64_t header = 8;
    if (size == 1) {
      size = load_be<std::uint64_t>(*head, 8);
      header = 16;
    }
    if (size < header || size > area.size() - position) break;
    const auto type = head->subspan(4, 4);
    if (!moov && holds_text(type, 0, "moov") && size <= kMaxMoovBytes) moov = position;
    if (moov && holds_text(type, 0, "mdat"))
      return std::optional<MoovFirst>{MoovFirst{*moov, {position + header, position + size}}};
    position += size;
  }
  return std::optional<MoovFirst>{};
}

std::expected<std::optional<std::uint64_t>, RecoveryError> moov_first_break(
    FileArea& area, const MoovFirst& movie) {
  KESTREL_TRY_ASSIGN(track, read_moov_video_track(area, movie.moov, movie.mdat));
  if (!*track) return std::optional<std::uint64_t>{};
  const std::vector<VideoSample>& samples = (*track)->samples;
  // Past a break every sample is read from foreign bytes, the last one too:
  // a single sample the check does not know (an unusual unit type) is no
  // break.
  KESTREL_TRY_ASSIGN(last, video_sample_parses(area, **track, samples.back(), false));
  if (*last) return std::optional<std::uint64_t>{};
  KESTREL_TRY_ASSIGN(first, first_unparsed_sample(area, **track, 0));
  if (*first >= samples.size()) return std::optional<std::uint64_t>{};
  return std::optional<std::uint64_t>{samples[*first].offset};
}

std::expected<bool, RecoveryError> video_sample_parses(FileArea& area, const VideoTrack& track,
                                                       const VideoSample& sample, bool payload) {
  const std::uint64_t end = sample.offset + sample.size;
  const std::size_t length_size = track.length_size;
  const std::size_t head = length_size + (track.codec == NalCodec::Hevc ? 2 : 1);
  const bool scan = payload && sample.size <= kMaxScannedSample;
  std::uint64_t position = sample.offset;
  for (int units = 0; position < end; ++units) {
    if (units == kMaxNalUnits || end - position < head) return false;
    KESTREL_TRY_ASSIGN(bytes, area.bytes(position, head));
    if (bytes->size() < head) return false;
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < length_size; ++i) length = (length << 8) | (*bytes)[i];
    if (length == 0 || length > end - position - length_size ||
        !valid_nal_header(track.codec, bytes->subspan(length_size)))
      return false;
    position += length_size;
    if (scan) {
      KESTREL_TRY_ASSIGN(clean, payload_unescaped(area, position, position + length));
      if (!*clean) return false;
    }
    position += length;
  }
  return true;
}

std::expected<bool, RecoveryError> video_samples_parse(FileArea& area, const VideoTrack& track,
                                                       std::size_t from, std::size_t to,
                                                       std::size_t payload_to) {
  for (std::size_t i = from; i < to && i < track.samples.size(); ++i) {
    KESTREL_TRY_ASSIGN(parses, video_sample_parses(area, track, track.samples[i], i < payload_to));
    if (!*parses) return false;
  }
  return true;
}

std::expected<bool, RecoveryError> spread_samples_parse(FileArea& area, const VideoTrack& track) {
  const std::vector<VideoSample>& samples = track.samples;
  const std::size_t count = samples.size();
  for (std::size_t k = 0; k < kSpreadSamples + kLastSamples; ++k) {
    const std::size_t i = k < kSpreadSamples
                              ? k * count / kSpreadSamples
                              : count - std::min(count, kSpreadSamples + kLastSamples - k);
    if (i >= count) continue;
    KESTREL_TRY_ASSIGN(parses, video_sample_parses(area, track, samples[i], false));
    if (!*parses) return false;
  }
  return true;
}

std::expected<std::size_t, RecoveryError> first_unparsed_sample(FileArea& area,
                                                                const VideoTrack& track,
                                                                std::size_t from) {
  std::size_t low = from;
  std::size_t high = track.samples.size();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    KESTREL_TRY_ASSIGN(parses, video_sample_parses(area, track, track.samples[middle], false));
    if (*parses) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

BreakSpan break_span(const VideoTrack& track, MdatSpan mdat, std::size_t first) {
  const std::vector<VideoSample>& samples = track.samples;
  return {first > 0 ? samples[first - 1].offset : 0,
          first < samples.size() ? samples[first].offset + samples[first].size - 1 : mdat.end};
}

namespace {

// Where the file's bytes from `at` on lie when its last piece so far goes on
// `gap` bytes further on.
PieceJoin join_with_gap(const PieceJoins& joins, std::uint64_t start, std::uint64_t at,
                        std::uint64_t gap) {
  const std::uint64_t base = joins.empty() ? start : joins.back().offset - joins.back().at;
  return {at, base + gap + at};
}

PieceJoins joined_with(PieceJoins joins, PieceJoin join) {
  joins.push_back(join);
  return joins;
}

}  // namespace

std::expected<std::optional<std::uint64_t>, RecoveryError> find_video_join(
    AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
    const VideoTrack& track, MdatSpan mdat, std::uint64_t gap) {
  if (grid.unit == 0 || track.samples.empty()) return std::optional<std::uint64_t>{};
  FileArea contiguous(reader, start, limit, grid);
  KESTREL_TRY_ASSIGN(first, first_unparsed_sample(contiguous, track, 0));
  KESTREL_TRY_ASSIGN(
      join, find_last_video_join(reader, start, limit, grid, track, mdat, {}, *first, gap));
  if (!*join) return std::optional<std::uint64_t>{};
  return std::optional<std::uint64_t>{(*join)->at};
}

std::expected<std::optional<PieceJoin>, RecoveryError> find_last_video_join(
    AreaReader& reader, std::uint64_t start, std::uint64_t limit, UnitGrid grid,
    const VideoTrack& track, MdatSpan mdat, const PieceJoins& joins, std::size_t first,
    std::uint64_t gap) {
  if (grid.unit == 0 || track.samples.empty()) return std::optional<PieceJoin>{};
  // The join lies past the start of the last sample that parsed, and before
  // the end of the first that did not (or at the mdat's end).
  const BreakSpan span = break_span(track, mdat, first);
  const std::size_t near_from = first > 0 ? first - 1 : 0;
  const std::size_t near_to = std::min(track.samples.size(), first + kNearSamples);
  std::optional<PieceJoin> taken;
  int tries = 0;
  for (std::uint64_t at = span.up_to / grid.unit * grid.unit;
       at > span.after && at >= grid.unit && tries < kMaxJoinTries; at -= grid.unit, ++tries) {
    const PieceJoin join = join_with_gap(joins, start, at, gap);
    if (join.offset >= limit) continue;
    FileArea joined(reader, start, limit, grid, joined_with(joins, join));
    // The two samples next to the join down to their payload.
    KESTREL_TRY_ASSIGN(parses, video_samples_parse(joined, track, near_from, near_to, first + 1));
    if (!*parses) continue;
    if (taken) return std::optional<PieceJoin>{};  // more than one join holds: none is sure
    taken = join;
  }
  if (!taken) return taken;
  FileArea joined(reader, start, limit, grid, joined_with(joins, *taken));
  KESTREL_TRY_ASSIGN(spread, spread_samples_parse(joined, track));
  return *spread ? taken : std::optional<PieceJoin>{};
}

namespace {

// Whether the join at `at` of `joined` is pinned by a sample or NAL unit
// starting in the unit after it.
std::expected<bool, RecoveryError> join_is_pinned(FileArea& joined, UnitGrid grid,
                                                  const VideoTrack& track, std::uint64_t at) {
  const std::uint64_t unit_end = at + grid.unit;
  const std::vector<VideoSample>& samples = track.samples;
  // The first sample that ends past the join; samples lie in file order.
  auto sample = std::partition_point(samples.begin(), samples.end(),
                                     [&](const VideoSample& s) { return s.offset + s.size <= at; });
  for (; sample != samples.end() && sample->offset < unit_end; ++sample) {
    KESTREL_TRY_ASSIGN(parses, video_sample_parses(joined, track, *sample, false));
    if (!*parses) return false;
    if (sample->offset >= at) return true;
    // A NAL unit of the sample that spans the join may start in the unit.
    std::uint64_t position = sample->offset;
    const std::uint64_t end = sample->offset + sample->size;
    for (int units = 0; position < end && units < kMaxNalUnits; ++units) {
      if (position >= at) return position < unit_end;
      KESTREL_TRY_ASSIGN(bytes, joined.bytes(position, track.length_size));
      std::uint64_t length = 0;
      for (const std::uint8_t byte : *bytes) length = (length << 8) | byte;
      position += track.length_size + length;
    }
  }
  return false;
}

}  // namespace

std::expected<bool, RecoveryError> video_join_is_pinned(AreaReader& reader, std::uint64_t start,
                                                        std::uint64_t limit, UnitGrid grid,
                                                        const VideoTrack& track, std::uint64_t at,
                                                        std::uint64_t gap) {
  return video_joins_are_pinned(reader, start, limit, grid, track,
                                PieceJoins{{at, start + at + gap}});
}

std::expected<bool, RecoveryError> video_joins_are_pinned(AreaReader& reader, std::uint64_t start,
                                                          std::uint64_t limit, UnitGrid grid,
                                                          const VideoTrack& track,
                                                          const PieceJoins& joins) {
  if (joins.empty()) return false;
  FileArea joined(reader, start, limit, grid, joins);
  for (const PieceJoin& join : joins) {
    KESTREL_TRY_ASSIGN(pinned, join_is_pinned(joined, grid, track, join.at));
    if (!*pinned) return false;
  }
  return true;
}

}  // namespace kestrel
