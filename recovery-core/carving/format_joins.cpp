#include "recovery-core/carving/format_joins.hpp"

#include <algorithm>
#include <array>

#include "recovery-core/carving/jpeg_continuation_search.hpp"
#include "recovery-core/carving/movie_continuation_search.hpp"
#include "recovery-core/carving/png_continuation_search.hpp"
#include "recovery-core/carving/zip_continuation_search.hpp"
#include "recovery-core/content/file_end/jpeg_scan_check.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// Markers alone would pass the middle of any other JPEG's data: a joined
// JPEG's data must decode to exactly the frame's blocks.
std::expected<bool, RecoveryError> decodes_whole(FileArea& whole) {
  KESTREL_TRY_ASSIGN(scan, check_jpeg_scan(whole));
  return *scan == JpegScanCheck::Whole;
}

// A JPEG whose markers ran to an EOI across a unit of text or zeros, or past
// a restart marker out of turn, breaks off there unless its data decodes
// whole (or cannot be decoded here): it is not given back with another
// file's bytes inside and graded high, and its next piece is looked for.
std::expected<FileEnd, RecoveryError> jpeg_settle_doubt(FileArea& whole, const FileEnd& end) {
  KESTREL_TRY_ASSIGN(scan, check_jpeg_scan(whole));
  return *scan == JpegScanCheck::Broken ? broken_end(*end.doubtful_from, end.extension) : end;
}

std::expected<std::optional<PiecedFile>, RecoveryError> jpeg_of_known_size(PieceSearchState& state,
                                                                           std::uint64_t start,
                                                                           std::uint64_t limit,
                                                                           std::uint64_t size) {
  return JpegAcrossGap(state).complete(start, limit, size);
}

template <typename Search>
std::unique_ptr<ContinuationSearch> make(PieceSearchState& state) {
  return std::make_unique<Search>(state);
}

// How far past what a broken structure vouched for its first piece's end is
// looked for: the structure may break only at the end of the chunk or entry
// that spans the break.
constexpr FirstPieceEnd kAnyFirstPieceEnd{16u << 20, false};
// A JPEG's structure breaks where the next file's header (or a unit of text or
// zeros) interrupts its entropy-coded data, so the file after its first piece
// starts close to that: when no header comes within this much, the gap holds
// no file to step over and the search across any gap takes over.
constexpr FirstPieceEnd kJpegFirstPieceEnd{1u << 20, true};

struct FormatJoinRule {
  FileFamily family;
  FirstPieceEnd first_piece_end;
  // What a join must satisfy beyond the end rule; nothing more when null.
  std::expected<bool, RecoveryError> (*holds)(FileArea& whole);
  // The search across any gap; none when null.
  std::unique_ptr<ContinuationSearch> (*search)(PieceSearchState& state);
  // How a doubt the end rule noted is decided; kept as it is when null.
  std::expected<FileEnd, RecoveryError> (*settle)(FileArea& whole, const FileEnd& end);
  // The search across a gap without a file for a file of known size; none
  // when null.
  std::expected<std::optional<PiecedFile>, RecoveryError> (*known_size)(PieceSearchState& state,
                                                                        std::uint64_t start,
                                                                        std::uint64_t limit,
                                                                        std::uint64_t size);
};

// The formats whose end rule checks a join (a RIFF file's chunk sizes place
// the next chunk, but nothing says where its data would go on).
constexpr std::array kRules{
    FormatJoinRule{FileFamily::Jpeg, kJpegFirstPieceEnd, decodes_whole,
                   make<JpegContinuationSearch>, jpeg_settle_doubt, jpeg_of_known_size},
    FormatJoinRule{FileFamily::Png, kAnyFirstPieceEnd, nullptr, make<PngContinuationSearch>,
                   nullptr, nullptr},
    FormatJoinRule{FileFamily::Zip, kAnyFirstPieceEnd, nullptr, make<ZipContinuationSearch>,
                   nullptr, nullptr},
    FormatJoinRule{FileFamily::IsoMedia, kAnyFirstPieceEnd, nullptr, make<MovieContinuationSearch>,
                   nullptr, nullptr},
    FormatJoinRule{FileFamily::Riff, kAnyFirstPieceEnd, nullptr, nullptr, nullptr, nullptr},
};

const FormatJoinRule* rule_of(FileFamily family) {
  const auto* rule = std::find_if(kRules.begin(), kRules.end(),
                                  [&](const FormatJoinRule& r) { return r.family == family; });
  return rule == kRules.end() ? nullptr : rule;
}

}  // namespace

bool end_rule_checks_join(FileFamily family) { return rule_of(family) != nullptr; }

std::expected<bool, RecoveryError> joined_file_holds(FileFamily family, FileArea& whole) {
  const FormatJoinRule* rule = rule_of(family);
  if (rule == nullptr || rule->holds == nullptr) return true;
  return rule->holds(whole);
}

std::unique_ptr<ContinuationSearch> continuation_search_for(FileFamily family,
                                                            PieceSearchState& state) {
  const FormatJoinRule* rule = rule_of(family);
  if (rule == nullptr || rule->search == nullptr) return nullptr;
  return rule->search(state);
}

FirstPieceEnd first_piece_end_of(FileFamily family) {
  const FormatJoinRule* rule = rule_of(family);
  return rule == nullptr ? kAnyFirstPieceEnd : rule->first_piece_end;
}

std::expected<FileEnd, RecoveryError> settle_doubt(FileFamily family, FileArea& whole,
                                                   const FileEnd& end) {
  const FormatJoinRule* rule = rule_of(family);
  if (!end.doubtful_from || rule == nullptr || rule->settle == nullptr) return end;
  return rule->settle(whole, end);
}

std::expected<std::optional<PiecedFile>, RecoveryError> complete_known_size(FileFamily family,
                                                                            PieceSearchState& state,
                                                                            std::uint64_t start,
                                                                            std::uint64_t limit,
                                                                            std::uint64_t size) {
  const FormatJoinRule* rule = rule_of(family);
  if (rule == nullptr || rule->known_size == nullptr) return std::optional<PiecedFile>{};
  return rule->known_size(state, start, limit, size);
}

}  // namespace kestrel
