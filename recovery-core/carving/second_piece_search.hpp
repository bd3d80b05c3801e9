#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <vector>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_end.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/iso_media_tables.hpp"
#include "recovery-core/content/file_end/jpeg_scan_check.hpp"
#include "recovery-core/content/file_end/piece_joins.hpp"
#include "recovery-core/content/file_end/zip_join.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// A file completed from pieces (two, or more for a JPEG), and where its whole
// structure ends.
struct PiecedFile {
  PieceJoins joins;
  FileEnd end;
};

// Looks for the second piece of a file whose structure broke off part-way.
//
// A card is written front to back, so a file that did not fit in a hole runs
// on after the files that followed the hole: the first piece ends where the
// first of those files begins, at a unit start holding its header (or, for a
// JPEG, a unit of text). The search finds that unit, steps over the whole
// files there (each measured by its own end rule) and units of text, and tries
// the few unit starts right after them as the second piece. A candidate is taken only when the
// family's end rule, run over both pieces joined, follows the structure past the join to a checked
// end.
//
// Every search reads through a reader of its own, so the pass's sequential
// reads stay where they are, and all searches of an area share one budget of
// bytes read: once spent, files are left as they broke off.
class SecondPieceSearch {
 public:
  // `clusters`: the units are the volume's clusters (else sectors of an area
  // whose cluster size is not known).
  SecondPieceSearch(ByteSource& source, UnitGrid grid, bool clusters, std::uint64_t budget_bytes);

  // The file of `family` at `start`, whose end rule gave `broken` (its
  // structure broke off), in the run of bytes that ends at `limit`; with
  // `length`, only a file of exactly that many bytes. A JPEG, PNG, ZIP
  // package or movie the files after its first piece do not complete is
  // looked for across any gap (complete_jpeg_any_gap, next_png_piece,
  // complete_zip_any_gap, complete_video_any_gap).
  std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
      std::optional<std::uint64_t> length = {});

  // A JPEG of `size` bytes (its directory entry says so) at `start` whose data
  // does not decode: the rest may lie past a gap that holds no file (a
  // folder's cluster, a text). Its EOI then lies as far past where the size
  // puts it as the gap is long; each such place, up to 4 MiB on, fixes the
  // gap, and the join is tried at the unit starts just before the place the
  // data stopped decoding.
  std::expected<std::optional<PiecedFile>, RecoveryError> complete_jpeg_across_gap(
      std::uint64_t start, std::uint64_t limit, std::uint64_t size);

  // A JPEG at `start` whose structure broke off at `broken_at` (from its first
  // byte), when the gap after its first piece holds nothing the search can
  // step over: bytes of no known format, zeros, a file's middle. Its data is
  // decoded once up to where it broke, keeping the decoder's state at the last
  // unit starts on the way (the first piece ends at one of them); each unit
  // start up to 4 MiB on whose bytes can be entropy-coded data is
  // then a candidate second piece, tried first by decoding on from those
  // states over its first bytes alone, and taken only when the joined file
  // decodes whole and its end rule checks it to EOI.
 private:
  // A ZIP package (DOCX, XLSX, ODF, EPUB) at `start` whose structure broke
  // off at `broken_at` when the gap after its first piece holds nothing the
  // search can step over: the end-of-central-directory records up to 16 MiB
  // past the break each say how long the gap is (the record lies that far
  // past where the package's offsets put it), and the join is tried at the
  // unit starts up to the break, latest first, each taken only when the
  // member the join cuts reads to its CRC-32 and the joined package checks to
  // its end record.
  std::expected<std::optional<PiecedFile>, RecoveryError> complete_zip_any_gap(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length = {});

  // A movie (MP4, MOV, 3GP) at `start` whose box walk broke off at
  // `broken_at`, the end of its mdat, when the gap after its first piece
  // holds nothing the search can step over: the moov boxes up to 64 MiB past
  // the mdat's end, at the unit starts' remainder, each fix the whole gap (the
  // moov lies that far past where the mdat's size puts it), and the joins are
  // located by the video samples its tables place (find_video_joins), then
  // taken when the joined movie checks to its end. A movie with its moov
  // before its mdat, whose end rule found a video sample that does not parse,
  // is joined the same way by its own tables, each gap looked for on its own.
  std::expected<std::optional<PiecedFile>, RecoveryError> complete_video_any_gap(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length = {});
  // The movie at `start` whose track `track` lies in `mdat`, joined where its
  // samples locate each break (find_video_joins; `gap`: the whole gap its
  // moov fixes, for a moov after the mdat), when the joined movie checks to
  // its end; graded medium when a join is not pinned by a sample boundary.
  std::expected<std::optional<PiecedFile>, RecoveryError> join_video(
      std::uint64_t start, std::uint64_t limit, const VideoTrack& track, MdatSpan mdat,
      std::optional<std::uint64_t> gap, std::optional<std::uint64_t> length);

  // A PNG at `start`, read over its pieces so far (`joins`), whose chunk at
  // `broken_at` did not check, when the gap after that piece holds nothing
  // the search can step over: for each gap (a whole number of units up to
  // 4 MiB) after which the source holds a chunk header where the cut
  // chunk's length puts the next one, the joins at which the cut chunk's
  // CRC-32 holds are tried (CRCs combined, each byte read once), each taken
  // when the joined file checks to IEND or followed to its next piece when a
  // later chunk breaks off; at most `tries` are checked.
  std::expected<std::optional<PiecedFile>, RecoveryError> next_png_piece(
      const PieceJoins& joins, std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length, int& tries);
  std::expected<std::optional<PiecedFile>, RecoveryError> png_joined_at(
      const PieceJoins& joins, std::uint64_t start, std::uint64_t limit,
      std::optional<std::uint64_t> length, int& tries);

  std::expected<std::optional<PiecedFile>, RecoveryError> complete_jpeg_any_gap(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length = {});

  std::expected<std::optional<PiecedFile>, RecoveryError> join_across(std::uint64_t start,
                                                                      std::uint64_t limit,
                                                                      std::uint64_t size,
                                                                      std::uint64_t gap,
                                                                      std::uint64_t stopped_at);
  std::expected<std::optional<PiecedFile>, RecoveryError> join_zip_across(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at, const ZipTail& tail,
      std::uint64_t gap, std::optional<std::uint64_t> length);
  // A first piece's bytes from where its decoder state was kept up to the
  // join point `at`.
  struct JoinTail {
    std::uint64_t at = 0;
    std::vector<std::uint8_t> bytes;
  };
  // The JPEG at `start`, read over its pieces so far (`joins`), as `decoded`
  // says it broke off: each unit start up to 4 MiB past the break is tried as
  // its next piece. A next piece whose data decodes on well past its start
  // and then breaks off too is followed by another, up to kMaxCarvedPieces.
  std::expected<std::optional<PiecedFile>, RecoveryError> next_jpeg_piece(
      const JpegScanResume& decoded, const PieceJoins& joins, std::uint64_t start,
      std::uint64_t limit, std::optional<std::uint64_t> length, int decode_limit);
  std::expected<std::optional<PiecedFile>, RecoveryError> try_any_gap_continuation(
      const JpegScanResume& decoded, const std::vector<JoinTail>& tails, const PieceJoins& joins,
      std::uint64_t start, std::uint64_t limit, std::uint64_t next,
      std::optional<std::uint64_t> length, int decode_limit);
  std::expected<std::optional<PiecedFile>, RecoveryError> complete_past_files(
      FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
      std::optional<std::uint64_t> length);
  std::expected<std::optional<std::uint64_t>, RecoveryError> first_header_unit(
      std::uint64_t start, std::uint64_t confirmed_end, std::uint64_t limit, bool or_text);
  std::expected<bool, RecoveryError> holds_text_unit(std::uint64_t position, std::uint64_t limit);
  std::expected<std::uint64_t, RecoveryError> past_whole_files(std::uint64_t start,
                                                               std::uint64_t from,
                                                               std::uint64_t limit);
  std::expected<std::uint64_t, RecoveryError> next_file_start(std::uint64_t start,
                                                              std::uint64_t end,
                                                              std::uint64_t cluster,
                                                              std::uint64_t limit);
  std::uint64_t largest_cluster(std::uint64_t length) const;
  std::expected<bool, RecoveryError> holds_header(std::uint64_t position, std::uint64_t limit);
  std::expected<std::optional<PiecedFile>, RecoveryError> check_joined(
      FileFamily family, std::uint64_t start, std::uint64_t limit, TwoPieces pieces,
      std::optional<std::uint64_t> length);
  // `decoded_whole`: the joined JPEG's data was decoded whole already.
  // take_joined does the same for an end the joined file's rule gave already.
  std::expected<std::optional<PiecedFile>, RecoveryError> check_joined(
      FileFamily family, std::uint64_t start, std::uint64_t limit, const PieceJoins& joins,
      std::optional<std::uint64_t> length, bool decoded_whole = false);
  std::expected<std::optional<PiecedFile>, RecoveryError> take_joined(
      FileFamily family, std::uint64_t start, const PieceJoins& joins, const FileEnd& end,
      std::optional<std::uint64_t> length, bool decoded_whole = false);
  std::vector<std::uint64_t> tries(std::uint64_t start, std::uint64_t gap_end,
                                   std::uint64_t limit) const;
  // The budget of the search past whole files, and of the search across any
  // gap (in a call of which any_gap_mark_ is where the reader stood).
  bool spent() const { return reader_.bytes_read() - any_gap_read_ >= budget_; }
  bool any_gap_spent() const {
    return any_gap_read_ + (reader_.bytes_read() - any_gap_mark_) >= budget_;
  }
  std::uint64_t any_gap_left() const {
    return any_gap_spent() ? 0 : budget_ - any_gap_read_ - (reader_.bytes_read() - any_gap_mark_);
  }

  AreaReader reader_;
  UnitGrid grid_;
  bool clusters_;
  std::uint64_t budget_;
  std::set<std::uint64_t> handed_out_;  // later pieces given to files already
  int any_gap_decodes_ = 0;             // joined files decoded by complete_jpeg_any_gap
  std::uint64_t any_gap_read_ = 0;      // bytes read by the searches across any gap
  std::uint64_t any_gap_mark_ = 0;
};

}  // namespace kestrel
