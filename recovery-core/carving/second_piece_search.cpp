#include "recovery-core/carving/second_piece_search.hpp"

#include <algorithm>
#include <vector>

#include "recovery-core/carving/carving_pass.hpp"
#include "recovery-core/carving/format_joins.hpp"
#include "recovery-core/content/file_end/text_unit.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// The most whole files, and bytes, stepped over between the two pieces.
constexpr int kMaxGapFiles = 64;
constexpr std::uint64_t kMaxGapBytes = 256u << 20;
// The most unit starts tried as the second piece.
constexpr std::size_t kMaxTries = 8;
// Where units are sectors, the file system's clusters are not known: the
// second piece is tried at each cluster size up to this one.
constexpr std::uint64_t kLargestCluster = 64u << 10;

std::uint64_t round_up_from(std::uint64_t position, std::uint64_t start, std::uint64_t step) {
  return start + (position - start + step - 1) / step * step;
}

}  // namespace

SecondPieceSearch::SecondPieceSearch(ByteSource& source, UnitGrid grid, bool clusters,
                                     std::uint64_t budget_bytes)
    : state_(source, grid, clusters, budget_bytes) {}

SecondPieceSearch::~SecondPieceSearch() = default;

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete(
    FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
    std::optional<std::uint64_t> length) {
  auto joined = complete_past_files(family, start, limit, broken, length);
  if (!joined || *joined) return joined;
  ContinuationSearch* search = continuation_search(family);
  if (search == nullptr) return joined;
  // The search across any gap reads against a budget of its own: a file
  // whose end rule ran over the rest of the area must not leave the next
  // one without it.
  state_.begin_any_gap();
  joined = search->complete(start, limit, broken.confirmed, length);
  state_.end_any_gap();
  return joined;
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete_known_size(
    FileFamily family, std::uint64_t start, std::uint64_t limit, std::uint64_t size) {
  return kestrel::complete_known_size(family, state_, start, limit, size);
}

ContinuationSearch* SecondPieceSearch::continuation_search(FileFamily family) {
  auto found = continuations_.find(family);
  if (found == continuations_.end()) {
    found = continuations_.emplace(family, continuation_search_for(family, state_)).first;
  }
  return found->second.get();
}

std::expected<std::optional<PiecedFile>, RecoveryError> SecondPieceSearch::complete_past_files(
    FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
    std::optional<std::uint64_t> length) {
  if (unit() == 0 || state_.spent() || !end_rule_checks_join(family))
    return std::optional<PiecedFile>{};
  KESTREL_TRY_ASSIGN(
      join, first_header_unit(start, start + broken.confirmed, limit, first_piece_end_of(family)));
  if (!*join) return std::optional<PiecedFile>{};
  KESTREL_TRY_ASSIGN(gap_end, past_whole_files(start, **join, limit));
  if (*gap_end == **join) return std::optional<PiecedFile>{};
  for (const std::uint64_t second : tries(start, *gap_end, limit)) {
    if (state_.spent()) break;
    if (state_.handed_out(second)) continue;  // the rest of a file completed before
    KESTREL_TRY_ASSIGN(header, state_.holds_header(second, limit));
    if (*header) continue;  // another file starts there, not the rest of this one
    auto joined =
        state_.check_joined(family, start, limit, PieceJoins{{**join - start, second}}, length);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}

std::expected<std::optional<std::uint64_t>, RecoveryError> SecondPieceSearch::first_header_unit(
    std::uint64_t start, std::uint64_t confirmed_end, std::uint64_t limit, FirstPieceEnd search) {
  const std::uint64_t end = std::min(limit, confirmed_end + search.search_bytes);
  for (std::uint64_t at = start + unit(); at < end && !state_.spent(); at += unit()) {
    KESTREL_TRY_ASSIGN(header, state_.holds_header(at, limit));
    if (*header) return std::optional<std::uint64_t>{at};
    if (!search.or_text) continue;
    KESTREL_TRY_ASSIGN(text, holds_text_unit(at, limit));
    if (*text) return std::optional<std::uint64_t>{at};
  }
  return std::optional<std::uint64_t>{};
}

std::expected<bool, RecoveryError> SecondPieceSearch::holds_text_unit(std::uint64_t position,
                                                                      std::uint64_t limit) {
  KESTREL_TRY_ASSIGN(bytes, state_.reader().view(position, unit(), limit));
  return bytes->size() == unit() && holds_only_text(*bytes);
}

std::expected<std::uint64_t, RecoveryError> SecondPieceSearch::past_whole_files(
    std::uint64_t start, std::uint64_t from, std::uint64_t limit) {
  const std::uint64_t cluster = largest_cluster(from - start);
  std::uint64_t position = from;
  for (int files = 0; files < kMaxGapFiles && position < limit && position - from < kMaxGapBytes &&
                      !state_.spent();
       ++files) {
    KESTREL_TRY_ASSIGN(header, state_.reader().view(position, kHeaderProbeBytes, limit));
    const std::optional<FileFamily> family = probe_file_header(*header);
    if (!family) {
      // A unit of text (a text file between the pieces) is stepped over too.
      KESTREL_TRY_ASSIGN(text, holds_text_unit(position, limit));
      if (!*text) break;
      position += unit();
      continue;
    }
    FileArea area(state_.reader(), position, limit, state_.grid());
    KESTREL_TRY_ASSIGN(end, find_file_end(*family, area));
    if (!*end) break;
    KESTREL_TRY_ASSIGN(
        next, next_file_start(start, resume_after(**end, position, state_.grid()), cluster, limit));
    position = *next;
  }
  return position;
}

// The file after one that ends at the unit start `end` starts at the next
// cluster start. Where units are sectors the cluster size is not known: the
// largest that the first piece allows is tried first, then smaller ones; the
// unit start `end` when none holds a header.
std::expected<std::uint64_t, RecoveryError> SecondPieceSearch::next_file_start(
    std::uint64_t start, std::uint64_t end, std::uint64_t cluster, std::uint64_t limit) {
  for (std::uint64_t size = cluster; size > unit(); size /= 2) {
    const std::uint64_t at = round_up_from(end, start, size);
    if (at >= limit) continue;
    KESTREL_TRY_ASSIGN(header, state_.holds_header(at, limit));
    if (*header) return at;
  }
  return end;
}

// The largest cluster size a first piece of `length` bytes allows (it holds
// whole clusters): the unit itself in a volume, else the largest power of two
// up to kLargestCluster that divides the length.
std::uint64_t SecondPieceSearch::largest_cluster(std::uint64_t length) const {
  if (state_.clusters()) return unit();
  std::uint64_t size = unit();
  while (size * 2 <= kLargestCluster && length % (size * 2) == 0) size *= 2;
  return size;
}

// The unit start right after the gap, and the next few; where units are
// sectors, also the next start of each possible cluster size, counted from
// the file's first byte.
std::vector<std::uint64_t> SecondPieceSearch::tries(std::uint64_t start, std::uint64_t gap_end,
                                                    std::uint64_t limit) const {
  std::vector<std::uint64_t> positions;
  const auto add = [&](std::uint64_t position) {
    if (position < limit &&
        std::find(positions.begin(), positions.end(), position) == positions.end()) {
      positions.push_back(position);
    }
  };
  add(gap_end);
  if (!state_.clusters()) {
    for (std::uint64_t size = std::uint64_t{2} * unit(); size <= kLargestCluster; size *= 2) {
      add(round_up_from(gap_end, start, size));
    }
  }
  for (std::uint64_t next = 1; next <= 3; ++next) add(gap_end + next * unit());
  std::sort(positions.begin(), positions.end());
  if (positions.size() > kMaxTries) positions.resize(kMaxTries);
  return positions;
}

}  // namespace kestrel
