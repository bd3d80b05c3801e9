#include "recovery-core/content/file_end/iso_media_tables.hpp"

#include <initializer_list>
#include <string_view>

#include "recovery-core/bytes/byte_fields.hpp"

namespace kestrel {

namespace {

using Bytes = std::span<const std::uint8_t>;

// A box's payload, after its header (and a full box's version and flags
// when asked for).
struct Box {
  Bytes type;
  Bytes payload;
};

// The child boxes of a payload, one after another; stops for good at a box
// that does not fit in its parent.
class Children {
 public:
  explicit Children(Bytes payload) : rest_(payload) {}

  std::optional<Box> next() {
    if (rest_.size() < 8) return std::nullopt;
    std::uint64_t size = load_be<std::uint32_t>(rest_, 0);
    std::size_t header = 8;
    if (size == 1) {
      size = load_be<std::uint64_t>(rest_, 8);
      header = 16;
    } else if (size == 0) {
      size = rest_.size();
    }
    if (size < header || size > rest_.size()) {
      rest_ = {};
      return std::nullopt;
    }
    const Box box{rest_.subspan(4, 4),
                  rest_.subspan(header, static_cast<std::size_t>(size) - header)};
    rest_ = rest_.subspan(static_cast<std::size_t>(size));
    return box;
  }

 private:
  Bytes rest_;
};

// The first child of `type`; nothing when there is none or the children do
// not hold up.
std::optional<Bytes> child(Bytes payload, std::string_view type) {
  Children children(payload);
  while (const std::optional<Box> box = children.next()) {
    if (holds_text(box->type, 0, type)) return box->payload;
  }
  return std::nullopt;
}

std::optional<Bytes> path(Bytes payload, std::initializer_list<std::string_view> types) {
  std::optional<Bytes> at = payload;
  for (const std::string_view type : types) {
    at = child(*at, type);
    if (!at) return std::nullopt;
  }
  return at;
}

// A table of `entry_bytes` entries after a full box's version, flags and
// entry count (`skip` more bytes before the count); nothing when the count
// claims more entries than the box holds.
struct Table {
  Bytes entries;
  std::uint32_t count = 0;
};

std::optional<Table> table(Bytes payload, std::size_t entry_bytes, std::size_t skip = 0) {
  const std::size_t head = 8 + skip;
  if (payload.size() < head) return std::nullopt;
  const std::uint32_t count = load_be<std::uint32_t>(payload, 4 + skip);
  if (count > (payload.size() - head) / entry_bytes) return std::nullopt;
  return Table{payload.subspan(head, count * entry_bytes), count};
}

// The NAL codec and length size of the first sample entry of stsd.
struct Coding {
  NalCodec codec = NalCodec::Avc;
  std::uint8_t length_size = 4;
};

std::optional<Coding> nal_coding(Bytes stsd) {
  if (stsd.size() < 8 || load_be<std::uint32_t>(stsd, 4) == 0) return std::nullopt;
  Children entries(stsd.subspan(8));
  const std::optional<Box> entry = entries.next();
  // A visual sample entry's own fields take 78 bytes before its child boxes.
  constexpr std::size_t kVisualFields = 78;
  if (!entry || entry->payload.size() < kVisualFields) return std::nullopt;
  const Bytes boxes = entry->payload.subspan(kVisualFields);
  std::optional<Bytes> config;
  Coding coding;
  std::size_t length_at = 0;
  if (holds_text(entry->type, 0, "avc1") || holds_text(entry->type, 0, "avc3")) {
    config = child(boxes, "avcC");
    length_at = 4;
  } else if (holds_text(entry->type, 0, "hvc1") || holds_text(entry->type, 0, "hev1")) {
    config = child(boxes, "hvcC");
    coding.codec = NalCodec::Hevc;
    length_at = 21;
  }
  if (!config || config->size() <= length_at || (*config)[0] != 1) return std::nullopt;
  coding.length_size = static_cast<std::uint8_t>(((*config)[length_at] & 0x03) + 1);
  if (coding.length_size == 3) return std::nullopt;
  return coding;
}

// The sample tables of one track.
struct SampleTables {
  std::uint32_t fixed_size = 0;  // every sample's size, or 0: each in `sizes`
  std::uint32_t sample_count = 0;
  Bytes sizes;
  Table chunks_of;  // stsc: first chunk, samples per chunk, description
  Table offsets;    // stco or co64
  bool wide_offsets = false;
};

std::optional<SampleTables> sample_tables(Bytes stbl) {
  SampleTables tables;
  const std::optional<Bytes> stsz = child(stbl, "stsz");
  const std::optional<Bytes> stsc = child(stbl, "stsc");
  if (!stsz || !stsc || stsz->size() < 12) return std::nullopt;
  tables.fixed_size = load_be<std::uint32_t>(*stsz, 4);
  tables.sample_count = load_be<std::uint32_t>(*stsz, 8);
  if (tables.fixed_size == 0) {
    const std::optional<Table> sizes = table(*stsz, 4, 4);
    if (!sizes) return std::nullopt;
    tables.sizes = sizes->entries;
  }
  const std::optional<Table> chunks_of = table(*stsc, 12);
  std::optional<Table> offsets = table(child(stbl, "stco").value_or(Bytes{}), 4);
  if (!offsets) {
    offsets = table(child(stbl, "co64").value_or(Bytes{}), 8);
    tables.wide_offsets = true;
  }
  if (!chunks_of || !offsets || chunks_of->count == 0) return std::nullopt;
  tables.chunks_of = *chunks_of;
  tables.offsets = *offsets;
  return tables;
}

// Lays the samples out chunk by chunk; false when the tables disagree or a
// sample falls outside the mdat.
bool lay_out(const SampleTables& tables, MdatSpan mdat, std::vector<VideoSample>& samples) {
  if (tables.sample_count > kMaxVideoSamples) return false;
  std::uint32_t run = 0;
  std::uint32_t per_chunk = 0;
  std::uint32_t sample = 0;
  for (std::uint32_t chunk = 1; chunk <= tables.offsets.count; ++chunk) {
    if (run < tables.chunks_of.count &&
        load_be<std::uint32_t>(tables.chunks_of.entries, std::size_t{run} * 12) == chunk) {
      per_chunk = load_be<std::uint32_t>(tables.chunks_of.entries, std::size_t{run} * 12 + 4);
      ++run;
    }
    if (chunk == 1 && run == 0) return false;  // the first run must start at chunk 1
    std::uint64_t offset =
        tables.wide_offsets
            ? load_be<std::uint64_t>(tables.offsets.entries, std::size_t{chunk - 1} * 8)
            : load_be<std::uint32_t>(tables.offsets.entries, std::size_t{chunk - 1} * 4);
    if (per_chunk > tables.sample_count - sample) return false;
    for (std::uint32_t i = 0; i < per_chunk; ++i, ++sample) {
      const std::uint32_t size =
          tables.fixed_size != 0 ? tables.fixed_size
                                 : load_be<std::uint32_t>(tables.sizes, std::size_t{sample} * 4);
      if (offset < mdat.payload || offset > mdat.end || size > mdat.end - offset || size == 0)
        return false;
      if (!samples.empty() && samples.back().offset + samples.back().size > offset) return false;
      samples.push_back({offset, size});
      offset += size;
    }
  }
  return run == tables.chunks_of.count && sample == tables.sample_count && !samples.empty();
}

std::optional<VideoTrack> video_track(Bytes trak, MdatSpan mdat) {
  const std::optional<Bytes> hdlr = path(trak, {"mdia", "hdlr"});
  if (!hdlr || !holds_text(*hdlr, 8, "vide")) return std::nullopt;
  const std::optional<Bytes> stbl = path(trak, {"mdia", "minf", "stbl"});
  if (!stbl) return std::nullopt;
  const std::optional<Bytes> stsd = child(*stbl, "stsd");
  const std::optional<Coding> coding = stsd ? nal_coding(*stsd) : std::nullopt;
  const std::optional<SampleTables> tables = sample_tables(*stbl);
  if (!coding || !tables) return std::nullopt;
  VideoTrack track{coding->codec, coding->length_size, {}};
  if (!lay_out(*tables, mdat, track.samples)) return std::nullopt;
  return track;
}

}  // namespace

std::optional<VideoTrack> read_video_track(std::span<const std::uint8_t> moov, MdatSpan mdat) {
  Children top(moov);
  const std::optional<Box> box = top.next();
  if (!box || !holds_text(box->type, 0, "moov")) return std::nullopt;
  Children traks(box->payload);
  while (const std::optional<Box> trak = traks.next()) {
    if (!holds_text(trak->type, 0, "trak")) continue;
    if (std::optional<VideoTrack> track = video_track(trak->payload, mdat)) return track;
  }
  return std::nullopt;
}

}  // namespace kestrel
