#include "recovery-core/carving/piece_search_state.hpp"

#include "recovery-core/carving/format_joins.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// The reader's window: two of the longest views.
constexpr std::size_t kWindowBytes = 2 * AreaReader::kMaxView;

}  // namespace

PieceSearchState::PieceSearchState(ByteSource& source, UnitGrid grid, bool clusters,
                                   std::uint64_t budget_bytes)
    : reader_(source, kWindowBytes), grid_(grid), clusters_(clusters), budget_(budget_bytes) {}

std::expected<bool, RecoveryError> PieceSearchState::holds_header(std::uint64_t position,
                                                                  std::uint64_t limit) {
  KESTREL_TRY_ASSIGN(header, reader_.view(position, kHeaderProbeBytes, limit));
  return probe_file_header(*header).has_value();
}

std::expected<std::optional<PiecedFile>, RecoveryError> PieceSearchState::check_joined(
    FileFamily family, std::uint64_t start, std::uint64_t limit, const PieceJoins& joins,
    std::optional<std::uint64_t> length, bool decoded_whole) {
  FileArea joined(reader_, start, limit, grid_, joins);
  KESTREL_TRY_ASSIGN(end, find_file_end(family, joined));
  if (!*end) return std::optional<PiecedFile>{};
  return take_joined(family, start, joins, **end, length, decoded_whole);
}

std::expected<std::optional<PiecedFile>, RecoveryError> PieceSearchState::take_joined(
    FileFamily family, std::uint64_t start, const PieceJoins& joins, const FileEnd& end,
    std::optional<std::uint64_t> length, bool decoded_whole) {
  const PieceJoin& last = joins.back();
  if (end.finding != EndFinding::Checked || end.length <= last.at ||
      (length && end.length != *length)) {
    return std::optional<PiecedFile>{};
  }
  if (!decoded_whole) {
    FileArea whole(reader_, start, last.offset + (end.length - last.at), grid_, joins);
    KESTREL_TRY_ASSIGN(holds, joined_file_holds(family, whole));
    if (!*holds) return std::optional<PiecedFile>{};
  }
  for (const PieceJoin& join : joins) handed_out_.insert(join.offset);
  return PiecedFile{joins, end};
}

}  // namespace kestrel
