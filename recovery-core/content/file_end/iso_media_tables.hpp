#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrel {

// Where a movie's mdat holds its media, from the file's first byte.
struct MdatSpan {
  std::uint64_t payload = 0;  // its first data byte
  std::uint64_t end = 0;      // one past its last byte: where the next box starts
};

// How a video track's samples hold their NAL units: each unit after its
// length, of `length_size` bytes, big-endian.
enum class NalCodec { Avc, Hevc };

struct VideoSample {
  std::uint64_t offset = 0;  // from the file's first byte
  std::uint32_t size = 0;
};

// The first video track of a movie whose samples are H.264 or H.265 NAL
// units, as its moov's sample tables lay it out: every sample, in file order.
struct VideoTrack {
  NalCodec codec = NalCodec::Avc;
  std::uint8_t length_size = 4;
  std::vector<VideoSample> samples;
};

// The largest moov read, and the most samples kept for one track.
inline constexpr std::uint64_t kMaxMoovBytes = 4u << 20;
inline constexpr std::size_t kMaxVideoSamples = 1u << 18;

// The video track the moov box's bytes `moov` (header included) describe:
// trak / mdia (hdlr "vide") / minf / stbl with stsd (avc1, avc3, hvc1 or hev1,
// and its avcC or hvcC), stsz, stsc and stco or co64. Nothing when there is
// no such track, or when its tables do not hold up: a box past its parent, a
// table claiming more entries than its box holds, more than kMaxVideoSamples
// samples, chunks that do not give exactly the samples stsz counts, a sample
// outside `mdat`, samples out of file order or overlapping.
std::optional<VideoTrack> read_video_track(std::span<const std::uint8_t> moov, MdatSpan mdat);

}  // namespace kestrel
