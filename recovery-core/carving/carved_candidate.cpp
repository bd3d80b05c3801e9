#include "recovery-core/carving/carved_candidate.hpp"

#include <algorithm>

#include "recovery-core/content/content_messages.hpp"

namespace kestrel {

namespace {

// The grade of each way an end can be found: high only for a structure
// followed to its end and checked.
struct Grade {
  Confidence confidence;
  std::uint8_t score;
};

Grade grade(EndFinding finding) {
  switch (finding) {
    case EndFinding::Checked:
      return {Confidence::High, 85};
    case EndFinding::Unchecked:
      return {Confidence::Medium, 55};
    case EndFinding::Broken:
      return {Confidence::Low, 25};
    case EndFinding::Unended:
      return {Confidence::Low, 20};
  }
  return {Confidence::Low, 0};
}

// A file joined from pieces is whole only if the joins are right: its
// structure checked across them, but a little less is known than of a file
// found in one piece.
constexpr std::uint8_t kPiecesScore = 80;

}  // namespace

std::string carved_candidate_id(std::uint32_t partition_index, std::uint64_t offset) {
  return "carved:" + std::to_string(partition_index) + ":" + std::to_string(offset);
}

RecoveryCandidate carved_candidate(const CarvingTarget& target, std::uint64_t offset,
                                   FileFamily family, std::span<const std::uint8_t> header,
                                   const FileEnd& end) {
  const Grade g = grade(end.finding);
  const std::uint64_t unit_index = (offset - target.grid.origin) / target.grid.unit;
  RecoveryCandidate candidate;
  candidate.id = carved_candidate_id(target.partition_index, offset);
  candidate.partition_index = target.partition_index;
  candidate.file_system = target.file_system;
  candidate.name = "carved-" + std::to_string(offset) + "." + std::string(end.extension);
  candidate.size = end.length;
  candidate.first_cluster = target.clusters ? unit_index + target.first_cluster_number : 0;
  candidate.data_offset = offset;
  candidate.cluster_size = target.grid.unit;
  candidate.recoverability = Recoverability::Carved;
  candidate.detected_kind = detect_content_kind(header).value_or(family_kind(family));
  candidate.confidence = g.confidence;
  candidate.confidence_score = g.score;
  candidate.validation_notes = {std::string(kCarvedNote), std::string(end.note)};
  candidate.deleted = true;
  candidate.layout = target.layout;
  return candidate;
}

FilePieces file_pieces_of(std::uint64_t data_offset, std::uint64_t size, const PieceJoins& joins) {
  FilePieces pieces;
  std::uint64_t at = 0;
  std::uint64_t offset = data_offset;
  for (std::size_t i = 0; i <= joins.size(); ++i) {
    const std::uint64_t ends_at = std::min(i < joins.size() ? joins[i].at : size, size);
    pieces.push_back(FilePiece{offset, ends_at > at ? ends_at - at : 0});
    if (i < joins.size()) {
      at = std::max(at, ends_at);
      offset = joins[i].offset;
    }
  }
  return pieces;
}

std::string_view carved_pieces_note(const PieceJoins& joins, FileFamily family) {
  if (joins.size() == 1) return kCarvedTwoPiecesNote;
  if (family == FileFamily::Zip) return kCarvedManyZipPiecesNote;
  if (family == FileFamily::IsoMedia) return kCarvedManyMoviePiecesNote;
  return kCarvedManyPiecesNote;
}

RecoveryCandidate carved_candidate(const CarvingTarget& target, std::uint64_t offset,
                                   FileFamily family, std::span<const std::uint8_t> header,
                                   const FileEnd& end, const PieceJoins& joins) {
  RecoveryCandidate candidate = carved_candidate(target, offset, family, header, end);
  candidate.pieces = file_pieces_of(offset, candidate.size, joins);
  candidate.confidence_score = kPiecesScore;
  candidate.validation_notes.emplace_back(carved_pieces_note(joins, family));
  return candidate;
}

}  // namespace kestrel
