#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/carving/carving_pass.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/content/file_end/piece_joins.hpp"

namespace kestrel {

// "carved:{partition index}:{absolute offset of the file's first byte}".
std::string carved_candidate_id(std::uint32_t partition_index, std::uint64_t offset);

// The candidate of a file found at `offset` whose first bytes are `header`:
// named "carved-{offset}.{extension}", read as `end.length` bytes from its
// first byte, graded by how its end was found.
RecoveryCandidate carved_candidate(const CarvingTarget& target, std::uint64_t offset,
                                   FileFamily family, std::span<const std::uint8_t> header,
                                   const FileEnd& end);

// The pieces of a file of `size` bytes from `data_offset` completed from
// pieces joined at `joins`.
FilePieces file_pieces_of(std::uint64_t data_offset, std::uint64_t size, const PieceJoins& joins);

// The note of a file of `family` completed from pieces: two, or more (which
// says what checked the joins of a ZIP package or a movie).
std::string_view carved_pieces_note(const PieceJoins& joins, FileFamily family);

// The same for a file completed from pieces (`end` is where the joined
// structure ends): graded a little below a file found whole, with a note that
// says so.
RecoveryCandidate carved_candidate(const CarvingTarget& target, std::uint64_t offset,
                                   FileFamily family, std::span<const std::uint8_t> header,
                                   const FileEnd& end, const PieceJoins& joins);

}  // namespace kestrel
