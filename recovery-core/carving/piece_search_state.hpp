#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <set>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_end.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/piece_joins.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// A file completed from pieces, and where its whole structure ends.
struct PiecedFile {
  PieceJoins joins;
  FileEnd end;
};

// What every search for the later pieces of an area's files shares: the
// reader they read through (so the pass's sequential reads stay where they
// are), the area's units, one budget of bytes read (the searches across any
// gap keep a share of their own), and the later pieces given to files
// already. It also takes a join: the joined file must check to its end by
// its format's rule, and hold whatever else its format asks of a join.
class PieceSearchState {
 public:
  // `clusters`: the units are the volume's clusters (else sectors of an area
  // whose cluster size is not known).
  PieceSearchState(ByteSource& source, UnitGrid grid, bool clusters, std::uint64_t budget_bytes);

  AreaReader& reader() { return reader_; }
  const UnitGrid& grid() const { return grid_; }
  bool clusters() const { return clusters_; }

  // The budget of the search past whole files, and of the searches across
  // any gap, which read between begin_any_gap() and end_any_gap().
  bool spent() const { return reader_.bytes_read() - any_gap_read_ >= budget_; }
  bool any_gap_spent() const {
    return any_gap_read_ + (reader_.bytes_read() - any_gap_mark_) >= budget_;
  }
  std::uint64_t any_gap_left() const {
    return any_gap_spent() ? 0 : budget_ - any_gap_read_ - (reader_.bytes_read() - any_gap_mark_);
  }
  void begin_any_gap() { any_gap_mark_ = reader_.bytes_read(); }
  void end_any_gap() { any_gap_read_ += reader_.bytes_read() - any_gap_mark_; }

  // Whether the unit at `offset` starts a later piece of a file completed before.
  bool handed_out(std::uint64_t offset) const { return handed_out_.contains(offset); }
  std::expected<bool, RecoveryError> holds_header(std::uint64_t position, std::uint64_t limit);

  // The file of `family` at `start` read over `joins`, when its end rule
  // checks it to an end past the last join (of exactly `length` bytes, when
  // given) and its format's proof of a join holds. `decoded_whole`: a JPEG's
  // data was decoded whole over these joins already.
  std::expected<std::optional<PiecedFile>, RecoveryError> check_joined(
      FileFamily family, std::uint64_t start, std::uint64_t limit, const PieceJoins& joins,
      std::optional<std::uint64_t> length, bool decoded_whole = false);
  // The same for an end the joined file's rule gave already.
  std::expected<std::optional<PiecedFile>, RecoveryError> take_joined(
      FileFamily family, std::uint64_t start, const PieceJoins& joins, const FileEnd& end,
      std::optional<std::uint64_t> length, bool decoded_whole = false);

 private:
  AreaReader reader_;
  UnitGrid grid_;
  bool clusters_;
  std::uint64_t budget_;
  std::set<std::uint64_t> handed_out_;
  std::uint64_t any_gap_read_ = 0;  // bytes read by the searches across any gap
  std::uint64_t any_gap_mark_ = 0;  // where the reader stood when the current one began
};

}  // namespace kestrel
