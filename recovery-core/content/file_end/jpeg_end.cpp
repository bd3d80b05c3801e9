#include <algorithm>
#include <cstring>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/jpeg_markers.hpp"
#include "recovery-core/content/file_end/text_unit.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// A JPEG ends at the EOI its marker chain (jpeg_markers.hpp) leads to. In a
// scan's entropy-coded data 0xFF is always followed by 0x00 (a stuffed byte)
// or a restart marker; the first other marker ends it.
//
// An encoder's entropy-coded data never holds a whole unit of text or of zeros,
// and its restart markers come RST0 to RST7 in turn: the first such unit, or
// else the first marker out of turn, is where the file is doubtful
// (FileEnd::doubtful_from), since a hole, another file or another image's data
// coded with the same tables may lie there while the markers run on.
namespace kestrel {

namespace {

constexpr std::string_view kExtension = "jpg";
// No real JPEG has this many segments; a chain that long is not one.
constexpr int kMaxMarkers = 100000;

// What a walk over one scan's entropy-coded data carries from piece to
// piece: whether the piece before ended on 0xFF, the restart markers met, and
// where the first one out of turn (RST0 to RST7 in turn) stood: a sign that
// another image's data lies inside, coded with the same tables. Where the
// headers say how many markers the scan has (one after each restart interval
// but the last), where the last one met and the first one too many stood.
struct EntropyScan {
  bool after_ff = false;
  std::uint64_t restarts = 0;
  std::optional<std::uint64_t> out_of_turn;
  std::optional<std::uint64_t> expected;
  std::optional<std::uint64_t> last;
  std::optional<std::uint64_t> one_too_many;

  void restart_marker(std::uint8_t marker, std::uint64_t at) {
    if (marker != 0xD0 + (restarts & 7u) && !out_of_turn) out_of_turn = at;
    if (expected && restarts == *expected && !one_too_many) one_too_many = at;
    last = at;
    ++restarts;
  }

  // Where a scan whose data runs from `data_start` to its marker at
  // `data_end`, without a restart marker out of turn, still shows another
  // image's data: the first marker too many, or the last before those
  // missing (the data's start when none came). One more marker right before
  // the end is not such a sign: some encoders write one after the last
  // interval too.
  std::optional<std::uint64_t> miscounted(std::uint64_t data_start, std::uint64_t data_end) const {
    if (!expected || restarts == *expected) return std::nullopt;
    if (restarts == *expected + 1 && last && *last + 2 == data_end) return std::nullopt;
    if (restarts > *expected) return one_too_many;
    return last ? *last : data_start;
  }
};

// In entropy-coded data that starts `position` bytes into the file: the
// position of the 0xFF of the next real marker, if the piece holds it.
std::optional<std::uint64_t> find_marker(std::span<const std::uint8_t> piece,
                                         std::uint64_t position, EntropyScan& scan) {
  std::size_t i = 0;
  if (scan.after_ff && !piece.empty()) {
    const std::uint8_t next = piece[0];
    if (next != 0x00 && next != 0xFF && !is_jpeg_restart_marker(next)) return position - 1;
    if (is_jpeg_restart_marker(next)) scan.restart_marker(next, position - 1);
    scan.after_ff = false;
  }
  while (i < piece.size()) {
    const void* found = std::memchr(piece.data() + i, 0xFF, piece.size() - i);
    if (found == nullptr) return std::nullopt;
    i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - piece.data()) + 1;
    if (i == piece.size()) {
      scan.after_ff = true;
      return std::nullopt;
    }
    const std::uint8_t next = piece[i];
    if (is_jpeg_restart_marker(next)) {
      scan.restart_marker(next, position + i - 1);
    } else if (next != 0x00 && next != 0xFF) {
      return position + i - 1;
    }
  }
  return std::nullopt;
}

// Notes the first whole unit of `data` (at `position`) that reads as text or
// holds only zeros.
void note_text_unit(const FileArea& area, std::uint64_t position,
                    std::span<const std::uint8_t> data,
                    std::optional<std::uint64_t>& doubtful_from) {
  const std::uint64_t unit = area.unit();
  if (doubtful_from || unit == 0) return;
  for (std::uint64_t at = area.unit_start_from(position); at + unit <= position + data.size();
       at += unit) {
    const auto bytes =
        data.subspan(static_cast<std::size_t>(at - position), static_cast<std::size_t>(unit));
    // Each stops at the first byte that does not fit, at once on real data.
    if (holds_only_text(bytes) || holds_only_zeros(bytes)) {
      doubtful_from = at;
      return;
    }
  }
}

// Where the entropy-coded data that starts at `from` ends: the position of the
// 0xFF of the next real marker. Notes a unit of it that reads as text or holds
// only zeros, or else a restart marker out of turn, or else (with
// `restarts`, the markers the scan should hold) a count of them that differs.
std::expected<FileArea::WalkStop, RecoveryError> skip_entropy_data(
    FileArea& area, std::uint64_t from, std::optional<std::uint64_t> restarts,
    std::optional<std::uint64_t>& doubtful_from) {
  EntropyScan scan;
  scan.expected = restarts;
  auto stop = area.walk(
      from, area.size(),
      [&](std::uint64_t position,
          std::span<const std::uint8_t> piece) -> std::optional<std::uint64_t> {
        const std::optional<std::uint64_t> marker = find_marker(piece, position, scan);
        const std::uint64_t data_end =
            marker ? std::max(*marker, position) : position + piece.size();
        note_text_unit(area, position, piece.first(static_cast<std::size_t>(data_end - position)),
                       doubtful_from);
        return marker;
      });
  if (!doubtful_from) doubtful_from = scan.out_of_turn;
  if (!doubtful_from && stop && stop->found) doubtful_from = scan.miscounted(from, stop->position);
  return stop;
}

struct JpegState {
  std::uint64_t position = 2;
  bool frame = false;
  bool scan = false;
  std::optional<std::uint64_t> doubtful_from;
  // A sequential frame's size, and the restart interval DRI set (0: none).
  std::optional<JpegFrameSize> sequential_frame;
  std::uint64_t restart_interval = 0;
};

// The restart markers the first scan of a sequential frame should hold, when
// it codes all the frame's components (`components`, from its SOS header).
std::optional<std::uint64_t> restarts_due(const JpegState& state, int components) {
  if (state.scan || !state.sequential_frame || state.sequential_frame->components != components)
    return std::nullopt;
  if (state.restart_interval == 0) return 0;
  return (state.sequential_frame->mcus - 1) / state.restart_interval;
}

// What the segment at the state's position, of `length`, tells the restart
// count: a sequential frame's size, or the restart interval.
std::expected<void, RecoveryError> note_segment(FileArea& area, JpegState& state,
                                                std::uint8_t marker, std::uint16_t length) {
  if (marker != 0xC0 && marker != 0xC1 && marker != 0xDD) return {};
  KESTREL_TRY_ASSIGN(body, area.bytes(state.position + 4, std::min<std::size_t>(length - 2u, 18)));
  if (marker == 0xDD) {
    state.restart_interval = body->size() >= 2 ? load_be<std::uint16_t>(*body, 0) : 0;
  } else if (!state.frame) {
    state.sequential_frame = read_jpeg_frame_size(*body);
  }
  return {};
}

// After the SOS segment that ends at `header_end`: the position of the marker
// that ends its entropy-coded data, or the file's end when there is none.
std::expected<std::optional<FileEnd>, RecoveryError> skip_scan(FileArea& area, JpegState& state,
                                                               std::uint64_t header_end) {
  if (!state.frame) return broken_end(state.position, kExtension);
  KESTREL_TRY_ASSIGN(components, area.bytes(state.position + 4, 1));
  const std::optional<std::uint64_t> restarts =
      components->empty() ? std::nullopt : restarts_due(state, (*components)[0]);
  state.scan = true;
  KESTREL_TRY_ASSIGN(data, skip_entropy_data(area, header_end, restarts, state.doubtful_from));
  if (data->clipped) return broken_end(data->position, kExtension);
  if (!data->found) return unended_end(area.size(), area.size(), kExtension);
  state.position = data->position;
  return std::optional<FileEnd>{};
}

// The marker segment at the state's position: the state moves past it, or
// the file's end is known.
std::expected<std::optional<FileEnd>, RecoveryError> step_segment(FileArea& area, JpegState& state,
                                                                  const JpegChainStep& step) {
  if (!step.has_length()) return unended_end(area.size(), state.position, kExtension);
  if (step.length < 2) return broken_end(state.position, kExtension);
  const std::uint64_t segment_end = step.after_segment(state.position);
  if (segment_end > area.size()) return unended_end(area.size(), state.position, kExtension);
  KESTREL_TRY(note_segment(area, state, step.code, step.length));
  state.frame = state.frame || is_jpeg_frame_marker(step.code);
  if (step.code == 0xDA) return skip_scan(area, state, segment_end);
  state.position = segment_end;
  return std::optional<FileEnd>{};
}

}  // namespace

FileEndResult find_jpeg_end(FileArea& area) {
  JpegState state;
  for (int markers = 0; markers < kMaxMarkers; ++markers) {
    KESTREL_TRY_ASSIGN(step, read_jpeg_chain_step(area, state.position));
    const bool first = markers == 0;
    if (step->held < 2) return unended_end(area.size(), area.size(), kExtension);
    if (!step->marker)
      return first ? std::optional<FileEnd>{} : broken_end(state.position, kExtension);
    const std::uint8_t marker = step->code;
    if (step->fill() || (!first && jpeg_marker_stands_alone(marker))) {
      state.position = step->after_alone(state.position);
      continue;
    }
    if (marker == 0xD9) {
      if (state.frame && state.scan) {
        FileEnd end = checked_end(state.position + 2, kExtension, kJpegEndNote);
        end.doubtful_from = state.doubtful_from;
        return end;
      }
      return broken_end(state.position, kExtension);
    }
    const bool valid = is_jpeg_segment_marker(marker) && (!step->has_length() || step->length >= 2);
    if (!valid) return first ? std::optional<FileEnd>{} : broken_end(state.position, kExtension);
    auto stepped = step_segment(area, state, *step);
    if (!stepped || *stepped) return stepped;
  }
  return broken_end(state.position, kExtension);
}

}  // namespace kestrel
