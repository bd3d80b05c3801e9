#include "recovery-core/extraction/recorded_runs_copy.hpp"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "recovery-core/compression/lznt1.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/extraction/extraction_messages.hpp"
#include "recovery-core/source/bounded_source.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

constexpr std::uint64_t kPieceBytes = std::uint64_t{1024} * 1024;
// No real volume compresses in units above 64 KiB clusters times 16.
constexpr std::uint64_t kLargestUnit = std::uint64_t{1024} * 1024;

// Writes the file's bytes in order, however the pieces come: each call hands
// over the next stretch, read or zero, and bytes from the initialized length
// on are zeros whatever the stretch held.
class FileWriter {
 public:
  FileWriter(ExtractionOutput& output, std::uint64_t size, std::uint64_t initialized)
      : output_(output), size_(size), initialized_(std::min(initialized, size)) {}

  std::uint64_t remaining() const { return size_ - written_; }

  std::expected<void, RecoveryError> bytes(std::span<std::uint8_t> stretch) {
    const auto take = stretch.first(
        static_cast<std::size_t>(std::min<std::uint64_t>(stretch.size(), remaining())));
    if (written_ + take.size() > initialized_) {
      const std::uint64_t keep = initialized_ > written_ ? initialized_ - written_ : 0;
      std::fill(take.begin() + static_cast<std::ptrdiff_t>(keep), take.end(), std::uint8_t{0});
    }
    KESTREL_TRY(output_.write(take));
    written_ += take.size();
    return {};
  }

  std::expected<void, RecoveryError> zeros(std::uint64_t length) {
    std::vector<std::uint8_t> block(
        static_cast<std::size_t>(std::min({length, remaining(), kPieceBytes})));
    while (length > 0 && remaining() > 0) {
      const auto piece = std::span(block).first(
          static_cast<std::size_t>(std::min<std::uint64_t>({length, remaining(), block.size()})));
      KESTREL_TRY(output_.write(piece));
      written_ += piece.size();
      length -= piece.size();
    }
    return {};
  }

  std::uint64_t written() const { return written_; }

 private:
  ExtractionOutput& output_;
  std::uint64_t size_;
  std::uint64_t initialized_;
  std::uint64_t written_ = 0;
};

std::expected<void, RecoveryError> copy_piece(ByteSource& source, const RecordedRun& run,
                                              FileWriter& writer) {
  if (run.hole) return writer.zeros(run.length);
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::min({run.length, writer.remaining(), kPieceBytes})));
  for (std::uint64_t done = 0; done < run.length && writer.remaining() > 0;) {
    const auto piece = std::span(buffer).first(static_cast<std::size_t>(
        std::min<std::uint64_t>({run.length - done, writer.remaining(), buffer.size()})));
    KESTREL_TRY_ASSIGN(position, checked_add(run.offset, done));
    KESTREL_TRY(read_exact(source, *position, piece));
    KESTREL_TRY(writer.bytes(piece));
    done += piece.size();
  }
  return {};
}

// The pieces of one compression unit, cut from the runs as the unit covers them.
struct UnitPieces {
  std::vector<RecordedRun> pieces;
  bool has_hole = false;
  bool all_holes = true;
};

// Takes the next `unit` bytes of pieces from the runs, starting at run
// `index`, `used` bytes into it.
UnitPieces next_unit(const std::vector<RecordedRun>& runs, std::size_t& index, std::uint64_t& used,
                     std::uint64_t unit) {
  UnitPieces result;
  std::uint64_t wanted = unit;
  while (wanted > 0 && index < runs.size()) {
    const RecordedRun& run = runs[index];
    const std::uint64_t take = std::min(wanted, run.length - used);
    result.pieces.push_back({run.hole ? 0 : run.offset + used, take, run.hole});
    result.has_hole = result.has_hole || run.hole;
    result.all_holes = result.all_holes && run.hole;
    wanted -= take;
    used += take;
    if (used == run.length) {
      ++index;
      used = 0;
    }
  }
  // Units past the last run were never written: they read as a hole.
  if (wanted > 0) result.has_hole = true;
  return result;
}

std::expected<void, RecoveryError> copy_compressed_unit(ByteSource& source, const UnitPieces& unit,
                                                        std::uint64_t unit_bytes,
                                                        FileWriter& writer) {
  std::vector<std::uint8_t> stored;
  for (const RecordedRun& piece : unit.pieces) {
    if (piece.hole) continue;
    const std::size_t at = stored.size();
    stored.resize(at + static_cast<std::size_t>(piece.length));
    KESTREL_TRY(read_exact(source, piece.offset, std::span(stored).subspan(at)));
  }
  std::vector<std::uint8_t> plain(static_cast<std::size_t>(unit_bytes));
  KESTREL_TRY(decompress_lznt1(stored, plain));
  return writer.bytes(plain);
}

std::expected<void, RecoveryError> copy_compressed(ByteSource& source, const RecordedRuns& layout,
                                                   FileWriter& writer) {
  const std::uint64_t unit_bytes = layout.compression_unit;
  if (unit_bytes > kLargestUnit) {
    return std::unexpected(RecoveryError::unsupported(std::string(kCompressionUnitTooLarge)));
  }
  std::size_t index = 0;
  std::uint64_t used = 0;
  while (writer.remaining() > 0) {
    const UnitPieces unit = next_unit(layout.runs, index, used, unit_bytes);
    if (unit.all_holes) {
      KESTREL_TRY(writer.zeros(unit_bytes));
    } else if (!unit.has_hole) {
      for (const RecordedRun& piece : unit.pieces) KESTREL_TRY(copy_piece(source, piece, writer));
    } else {
      KESTREL_TRY(copy_compressed_unit(source, unit, unit_bytes, writer));
    }
  }
  return {};
}

}  // namespace

std::expected<std::uint64_t, RecoveryError> copy_recorded_runs(ByteSource& source,
                                                               const RecordedRuns& layout,
                                                               std::uint64_t size,
                                                               ExtractionOutput& output) {
  BoundedSource volume(source, layout.area_end);
  FileWriter writer(output, size, layout.initialized_length);
  if (layout.compression_unit > 0) {
    KESTREL_TRY(copy_compressed(volume, layout, writer));
  } else {
    for (const RecordedRun& run : layout.runs) {
      if (writer.remaining() == 0) break;
      KESTREL_TRY(copy_piece(volume, run, writer));
    }
    KESTREL_TRY(writer.zeros(writer.remaining()));
  }
  KESTREL_TRY(output.finish());
  return writer.written();
}

std::expected<std::uint64_t, RecoveryError> copy_held_bytes(const HeldBytes& layout,
                                                            std::uint64_t size,
                                                            ExtractionOutput& output) {
  const auto bytes =
      std::span(layout.bytes)
          .first(static_cast<std::size_t>(std::min<std::uint64_t>(size, layout.bytes.size())));
  KESTREL_TRY(output.write(bytes));
  KESTREL_TRY(output.finish());
  return bytes.size();
}

}  // namespace kestrel
