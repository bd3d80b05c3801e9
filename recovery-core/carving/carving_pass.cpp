#include "recovery-core/carving/carving_pass.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "recovery-core/carving/carved_candidate.hpp"
#include "recovery-core/carving/carving_progress.hpp"
#include "recovery-core/carving/format_joins.hpp"
#include "recovery-core/carving/second_piece_search.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// A file whose end was not found is carved at most this far past what its
// structure vouches for.
constexpr std::uint64_t kUnendedBound = 64u << 20;

bool end_was_found(const FileEnd& end) {
  return end.finding == EndFinding::Checked || end.finding == EndFinding::Unchecked;
}

FileEnd bounded(FileEnd end) {
  if (!end_was_found(end)) end.length = std::min(end.length, end.confirmed + kUnendedBound);
  return end;
}

// How many files lost directories may list in one area; past it they are no
// longer looked for, so that what the pass remembers stays bounded.
constexpr std::size_t kMaxLostListed = 262'144;

// How many second pieces an area remembers (to step over them when the search
// reaches them); past it, no more files are completed.
constexpr std::size_t kMaxSecondPieces = 65'536;

// How many listed files may wait for the search to reach their data.
constexpr std::size_t kMaxWaitingListed = 4096;

// What the searches for second pieces may read in one area, besides the
// area's own read: a quarter of it, and a little more for small areas.
std::uint64_t second_piece_budget(std::uint64_t total) { return total / 4 + (64u << 20); }

// Searches one run after another with one reader, so that the reads of the
// whole area stay sequential.
class RunCarver {
 public:
  RunCarver(ByteSource& source, const CarvingTarget& target,
            const std::vector<std::uint64_t>& known_starts, CandidateSink& sink,
            CarvingProgress& progress, std::uint64_t total)
      : reader_(source),
        second_pieces_(source, target.grid, target.clusters, second_piece_budget(total)),
        target_(target),
        known_(known_starts),
        sink_(sink),
        progress_(progress) {}

  std::expected<SinkReply, RecoveryError> carve(const ByteRun& run) {
    const std::uint64_t end = run.offset + run.length;
    run_end_ = end;
    for (std::uint64_t position = run.offset; position < end;) {
      progress_.reach(searched_ + (position - run.offset));
      position_ = position;
      KESTREL_TRY_ASSIGN(next, look_at(position, end));
      if (!*next) return SinkReply::Stop;
      position = **next;
    }
    if (hand_on_waiting(std::numeric_limits<std::uint64_t>::max()) == SinkReply::Stop)
      return SinkReply::Stop;
    searched_ += run.length;
    progress_.reach(searched_);
    return SinkReply::Continue;
  }

 private:
  // Looks for a file at the unit start `position` of a run ending at `end`;
  // gives where to look next, or nothing when the sink wants no more.
  std::expected<std::optional<std::uint64_t>, RecoveryError> look_at(std::uint64_t position,
                                                                     std::uint64_t end) {
    if (hand_on_waiting(position) == SinkReply::Stop) return std::optional<std::uint64_t>{};
    if (const std::optional<std::uint64_t> past = past_second_piece(position)) return past;
    KESTREL_TRY_ASSIGN(header, reader_.view(position, kHeaderProbeBytes, end));
    const std::optional<FileFamily> family = probe_file_header(*header);
    if (!family) return look_for_directory(position, end);
    if (const auto waiting = waiting_.find(position); waiting != waiting_.end()) {
      RecoveryCandidate listed = std::move(waiting->second);
      waiting_.erase(waiting);
      return complete_listed(std::move(listed), *family, end);
    }
    if (std::binary_search(known_.begin(), known_.end(), position) || listed_.contains(position)) {
      return std::optional<std::uint64_t>{position + target_.grid.unit};
    }
    const std::vector<std::uint8_t> first_bytes(header->begin(), header->end());
    FileArea area(reader_, position, end, target_.grid);
    KESTREL_TRY_ASSIGN(found, find_file_end(*family, area));
    if (!*found) return std::optional<std::uint64_t>{position + target_.grid.unit};
    KESTREL_TRY_ASSIGN(rechecked, settle_doubt_at(position, *family, bounded(**found)));
    const FileEnd file_end = *rechecked;
    if (file_end.finding == EndFinding::Broken && second_pieces_at_.size() < kMaxSecondPieces) {
      KESTREL_TRY_ASSIGN(two, second_pieces_.complete(*family, position, end, file_end));
      if (*two) return hand_on_pieces(position, *family, first_bytes, **two);
    }
    if (sink_.accept(carved_candidate(target_, position, *family, first_bytes, file_end)) ==
        SinkReply::Stop) {
      return std::optional<std::uint64_t>{};
    }
    carved_.push_back(position);
    return std::optional<std::uint64_t>{resume_after(file_end, position, target_.grid)};
  }

  // A file checked to its end although its end rule doubted it on the way:
  // its format's own check decides whether it breaks off there (its later
  // pieces are then looked for).
  std::expected<FileEnd, RecoveryError> settle_doubt_at(std::uint64_t position, FileFamily family,
                                                        const FileEnd& end) {
    if (!end.doubtful_from || end.finding != EndFinding::Checked) return end;
    FileArea area(reader_, position, position + end.length, target_.grid);
    return settle_doubt(family, area, end);
  }

  // A file completed from pieces: the search goes on where its first piece
  // ends (the files it ran on past come next) and steps over its later pieces
  // when it gets there.
  std::expected<std::optional<std::uint64_t>, RecoveryError> hand_on_pieces(
      std::uint64_t position, FileFamily family, const std::vector<std::uint8_t>& first_bytes,
      const PiecedFile& file) {
    if (sink_.accept(carved_candidate(target_, position, family, first_bytes, file.end,
                                      file.joins)) == SinkReply::Stop) {
      return std::optional<std::uint64_t>{};
    }
    carved_.push_back(position);
    remember_later_pieces(file);
    return std::optional<std::uint64_t>{position + file.joins.front().at};
  }

  // A listed file whose data starts with a header: when its structure breaks
  // off before the size its entry gives, the FAT that held its chain is gone
  // and it may lie in two pieces; it is completed when the joined structure
  // ends exactly at that size.
  std::expected<std::optional<std::uint64_t>, RecoveryError> complete_listed(
      RecoveryCandidate listed, FileFamily family, std::uint64_t end) {
    const std::uint64_t position = listed.data_offset;
    std::uint64_t next = position + target_.grid.unit;
    KESTREL_TRY_ASSIGN(two, listed_in_two_pieces(listed, family, end));
    if (*two) {
      listed.pieces = file_pieces_of(listed.data_offset, listed.size, (*two)->joins);
      // Before the last note, which says where the entry was found.
      listed.validation_notes.emplace(
          listed.validation_notes.end() - (listed.validation_notes.empty() ? 0 : 1),
          carved_pieces_note((*two)->joins, family));
      remember_later_pieces(**two);
      next = position + (*two)->joins.front().at;
    }
    if (sink_.accept(std::move(listed)) == SinkReply::Stop) return std::optional<std::uint64_t>{};
    return std::optional<std::uint64_t>{next};
  }

  // The two pieces of a listed file whose structure does not end at its
  // entry's size: past whole files where it broke off, or, for a format
  // that has such a search, across a gap that holds no file.
  std::expected<std::optional<PiecedFile>, RecoveryError> listed_in_two_pieces(
      const RecoveryCandidate& listed, FileFamily family, std::uint64_t end) {
    const std::uint64_t position = listed.data_offset;
    FileArea area(reader_, position, end, target_.grid);
    KESTREL_TRY_ASSIGN(found, find_file_end(family, area));
    const bool whole = *found && end_was_found(**found) && (*found)->length == listed.size;
    if (!*found || whole || second_pieces_at_.size() >= kMaxSecondPieces)
      return std::optional<PiecedFile>{};
    // A structure that ran on past a doubt, to an end other than the size,
    // broke off there.
    FileEnd found_end = **found;
    if (found_end.doubtful_from && found_end.finding == EndFinding::Checked)
      found_end = broken_end(*found_end.doubtful_from, found_end.extension);
    if (found_end.finding == EndFinding::Broken && found_end.confirmed < listed.size) {
      auto two = second_pieces_.complete(family, position, end, found_end, listed.size);
      if (!two || *two) return two;
    }
    return second_pieces_.complete_known_size(family, position, end, listed.size);
  }

  // Hands on the listed files waiting for data the search has passed: those
  // that start before `position`.
  SinkReply hand_on_waiting(std::uint64_t position) {
    while (!waiting_.empty() && waiting_.begin()->first < position) {
      RecoveryCandidate listed = std::move(waiting_.begin()->second);
      waiting_.erase(waiting_.begin());
      if (sink_.accept(std::move(listed)) == SinkReply::Stop) return SinkReply::Stop;
    }
    return SinkReply::Continue;
  }

  // Whether a listed file waits for the search to reach its data: one read
  // as one run from a data start ahead in this run.
  bool waits(const RecoveryCandidate& listed) const {
    return listed.recoverability == Recoverability::ContiguousLikely && listed.size > 0 &&
           listed.data_offset > position_ && listed.data_offset < run_end_ &&
           waiting_.size() < kMaxWaitingListed;
  }

  void remember_later_pieces(const PiecedFile& file) {
    for (std::size_t i = 0; i < file.joins.size(); ++i) {
      const PieceJoin& join = file.joins[i];
      const std::uint64_t ends_at =
          i + 1 < file.joins.size() ? file.joins[i + 1].at : file.end.length;
      second_pieces_at_[join.offset] = join.offset + (ends_at - join.at);
    }
  }

  // Inside the second piece of a file completed earlier: the unit start past it.
  std::optional<std::uint64_t> past_second_piece(std::uint64_t position) {
    while (!second_pieces_at_.empty() && second_pieces_at_.begin()->second <= position) {
      second_pieces_at_.erase(second_pieces_at_.begin());
    }
    if (second_pieces_at_.empty() || second_pieces_at_.begin()->first > position)
      return std::nullopt;
    const FileEnd piece{
        second_pieces_at_.begin()->second - position, 0, EndFinding::Checked, {}, {}, {}};
    return resume_after(piece, position, target_.grid);
  }

  // A unit start without a file header: a free cluster may still hold
  // directory entries that list files.
  std::expected<std::optional<std::uint64_t>, RecoveryError> look_for_directory(
      std::uint64_t position, std::uint64_t end) {
    const std::optional<std::uint64_t> next{position + target_.grid.unit};
    LostDirectories* lost = target_.lost_directories;
    if (lost == nullptr || listed_.size() >= kMaxLostListed) return next;
    KESTREL_TRY_ASSIGN(start, reader_.view(position, lost->probe_bytes(), end));
    const std::uint64_t index = (position - target_.grid.origin) / target_.grid.unit;
    if (index + 2 > std::numeric_limits<std::uint32_t>::max()) return next;
    ListedFiles files(*this);
    KESTREL_TRY_ASSIGN(listed, lost->list(static_cast<std::uint32_t>(index + 2), *start, files));
    if (*listed && **listed == SinkReply::Stop) return std::optional<std::uint64_t>{};
    return next;
  }

  // Passes on the files a lost directory lists, except one whose data starts
  // where the directory scan, the carving so far or another listing already
  // put a file.
  class ListedFiles final : public CandidateSink {
   public:
    explicit ListedFiles(RunCarver& carver) : carver_(carver) {}

    SinkReply accept(RecoveryCandidate candidate) override {
      const std::uint64_t start = candidate.data_offset;
      if (std::binary_search(carver_.known_.begin(), carver_.known_.end(), start) ||
          std::binary_search(carver_.carved_.begin(), carver_.carved_.end(), start) ||
          carver_.listed_.size() >= kMaxLostListed || !carver_.listed_.insert(start).second) {
        return SinkReply::Continue;
      }
      if (carver_.waits(candidate)) {
        carver_.waiting_.emplace(start, std::move(candidate));
        return SinkReply::Continue;
      }
      return carver_.sink_.accept(std::move(candidate));
    }

   private:
    RunCarver& carver_;
  };

  AreaReader reader_;
  SecondPieceSearch second_pieces_;
  const CarvingTarget& target_;
  const std::vector<std::uint64_t>& known_;
  CandidateSink& sink_;
  CarvingProgress& progress_;
  std::uint64_t searched_ = 0;         // bytes of the runs before the current one
  std::vector<std::uint64_t> carved_;  // where carved files start, in increasing order
  std::set<std::uint64_t> listed_;     // where files listed by lost directories start
  std::map<std::uint64_t, std::uint64_t> second_pieces_at_;  // second pieces ahead: start -> end
  std::map<std::uint64_t, RecoveryCandidate> waiting_;       // listed files ahead, by data start
  std::uint64_t position_ = 0;                               // the unit start looked at
  std::uint64_t run_end_ = 0;                                // the end of the run searched
};

}  // namespace

std::uint64_t resume_after(const FileEnd& end, std::uint64_t start, const UnitGrid& grid) {
  const std::uint64_t unit = grid.unit;
  if (end_was_found(end)) {
    const std::uint64_t from_origin = start + end.length - grid.origin;
    return std::max(grid.origin + (from_origin + unit - 1) / unit * unit, start + unit);
  }
  const std::uint64_t from_origin = start + end.confirmed - grid.origin;
  return std::max(grid.origin + from_origin / unit * unit, start + unit);
}

std::expected<SinkReply, RecoveryError> carve_runs(ByteSource& source, SearchRuns& runs,
                                                   std::uint64_t total, const CarvingTarget& target,
                                                   const std::vector<std::uint64_t>& known_starts,
                                                   CandidateSink& sink,
                                                   const ProgressSink& progress) {
  CarvingProgress lines(progress, total);
  RunCarver carver(source, target, known_starts, sink, lines, total);
  while (true) {
    KESTREL_TRY_ASSIGN(run, runs.next());
    if (!*run) break;
    KESTREL_TRY_ASSIGN(carved, carver.carve(**run));
    if (*carved == SinkReply::Stop) return SinkReply::Stop;
  }
  lines.finish();
  return SinkReply::Continue;
}

}  // namespace kestrel
