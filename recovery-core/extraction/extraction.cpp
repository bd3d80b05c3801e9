#include "recovery-core/extraction/extraction.hpp"

#include <algorithm>
#include <optional>
#include <span>

#include "recovery-core/chains/cluster_chain.hpp"
#include "recovery-core/chains/deleted_file_chain.hpp"
#include "recovery-core/extraction/extraction_messages.hpp"
#include "recovery-core/extraction/file_output.hpp"
#include "recovery-core/source/bounded_source.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// Clusters up to this size are read whole, one read per cluster; larger ones
// (only a crafted exFAT volume claims them) in pieces, so memory never follows
// the size a volume claims.
constexpr std::uint64_t kWholeClusterLimit = 32u * 1024u * 1024u;
constexpr std::uint64_t kPieceLength = 1024u * 1024u;

// Copies `length` bytes (one cluster or the file's remainder) at `offset` into
// the output. A run no longer than the buffer is one read; a longer one is read
// in buffer-sized pieces, and a short piece is reported as the short read of
// the whole run (expected = length, actual = the bytes the run got).
std::expected<void, RecoveryError> copy_run(ByteSource& source, ExtractionOutput& output, std::uint64_t offset,
                                            std::uint64_t length, std::span<std::uint8_t> buffer) {
  if (length <= buffer.size()) {
    const auto piece = buffer.first(static_cast<std::size_t>(length));
    if (auto read = read_exact(source, offset, piece); !read) return std::unexpected(RecoveryError(read.error()));
    if (auto written = output.write(piece); !written) return std::unexpected(written.error());
    return {};
  }
  std::uint64_t done = 0;
  while (done < length) {
    const auto piece = buffer.first(static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done)));
    auto position = checked_add(offset, done);
    if (!position) return std::unexpected(position.error());
    auto count = source.read_at(*position, piece);
    if (!count) return std::unexpected(RecoveryError(count.error()));
    if (*count != piece.size()) {
      return std::unexpected(RecoveryError(SourceError::short_read(length, done + *count)));
    }
    if (auto written = output.write(piece); !written) return std::unexpected(written.error());
    done += piece.size();
  }
  return {};
}

std::expected<std::uint64_t, RecoveryError> copy_along_chain(ByteSource& source, ExtractionOutput& output,
                                                             const RecoveryCandidate& candidate,
                                                             const std::vector<std::uint64_t>& offsets,
                                                             std::span<std::uint8_t> buffer) {
  std::uint64_t remaining = candidate.size;
  for (const std::uint64_t offset : offsets) {
    if (remaining == 0) break;
    const std::uint64_t length = std::min<std::uint64_t>(remaining, candidate.cluster_size);
    if (auto copied = copy_run(source, output, offset, length, buffer); !copied) {
      return std::unexpected(copied.error());
    }
    remaining -= length;
  }
  return candidate.size - remaining;
}

// The bytes from data_offset on, `step` bytes per read.
std::expected<std::uint64_t, RecoveryError> copy_contiguous(ByteSource& source, ExtractionOutput& output,
                                                            const RecoveryCandidate& candidate,
                                                            std::uint64_t step, std::span<std::uint8_t> buffer) {
  std::uint64_t position = candidate.data_offset;
  std::uint64_t remaining = candidate.size;
  while (remaining > 0) {
    const std::uint64_t length = std::min<std::uint64_t>(step, remaining);
    if (auto copied = copy_run(source, output, position, length, buffer); !copied) {
      return std::unexpected(copied.error());
    }
    remaining -= length;
    if (remaining == 0) break;
    auto next = checked_add(position, length);
    if (!next) return std::unexpected(next.error());
    position = *next;
  }
  return candidate.size;
}

// The end of the volume's cluster heap: cluster 2 plus cluster_count
// clusters. A geometry whose end does not fit 64 bits has none.
std::optional<std::uint64_t> heap_end(std::uint64_t heap_offset, std::uint32_t cluster_count,
                                      std::expected<std::uint32_t, RecoveryError> cluster_bytes) {
  if (!cluster_bytes) return std::nullopt;
  auto length = checked_mul(cluster_count, *cluster_bytes);
  if (!length) return std::nullopt;
  auto end = checked_add(heap_offset, *length);
  return end ? std::optional(*end) : std::nullopt;
}

// The end of the candidate's volume; none for a file carved from an area
// without a file system, whose geometry means nothing.
std::optional<std::uint64_t> heap_end(const RecoveryCandidate& candidate) {
  if (candidate.file_system == FilesystemKind::Unknown) return std::nullopt;
  if (const auto* fat32 = std::get_if<Fat32Volume>(&candidate.volume)) {
    return heap_end(fat32->data_offset, fat32->cluster_count, cluster_size(*fat32));
  }
  const auto& exfat = std::get<ExfatVolume>(candidate.volume);
  return heap_end(exfat.heap_offset, exfat.cluster_count, cluster_size(exfat));
}

// The most bytes the copy can write: all of them along a chain (every
// cluster is in the heap), else those between the data offset and `end`.
std::uint64_t planned_length(const RecoveryCandidate& candidate, std::uint64_t end, bool along_chain) {
  if (along_chain) return candidate.size;
  if (candidate.data_offset >= end) return 0;
  return std::min(candidate.size, end - candidate.data_offset);
}

template <typename... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <typename... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace

std::expected<std::vector<std::uint64_t>, RecoveryError> candidate_cluster_offsets(
    ByteSource& source, const RecoveryCandidate& candidate) {
  return std::visit(
      Overloaded{
          [&](const Fat32Volume& volume) {
            return deleted_file_cluster_offsets(source, volume, candidate.first_cluster, candidate.size);
          },
          [&](const ExfatVolume& volume) {
            return deleted_file_cluster_offsets(source, volume, candidate.first_cluster, candidate.size,
                                                candidate.no_fat_chain);
          },
      },
      candidate.volume);
}

std::expected<std::uint64_t, RecoveryError> planned_extraction_length(ByteSource& source,
                                                                      const RecoveryCandidate& candidate) {
  // Nothing is read for these; the copy refuses the first two.
  const bool carved = candidate.recoverability == Recoverability::Carved;
  if (candidate.recoverability == Recoverability::MetadataOnly || (candidate.cluster_size == 0 && !carved) ||
      candidate.size == 0) {
    return 0;
  }
  bool along_chain = false;
  if (candidate.recoverability == Recoverability::FatChain) {
    auto rebuilt = candidate_cluster_offsets(source, candidate);
    if (!rebuilt) return std::unexpected(rebuilt.error());
    along_chain = !rebuilt->empty();
  }
  return planned_length(candidate, std::min(heap_end(candidate).value_or(UINT64_MAX), source.capacity()),
                        along_chain);
}

std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              ExtractionOutput& output) {
  if (candidate.recoverability == Recoverability::MetadataOnly) {
    return std::unexpected(RecoveryError::unsupported(std::string(kMetadataOnlyCandidate)));
  }
  if (candidate.cluster_size == 0 && candidate.size > 0 && candidate.recoverability != Recoverability::Carved) {
    return std::unexpected(RecoveryError::invalid_structure(std::string(kZeroClusterSize)));
  }

  std::vector<std::uint64_t> offsets;
  if (candidate.recoverability == Recoverability::FatChain) {
    auto rebuilt = candidate_cluster_offsets(source, candidate);
    if (!rebuilt) return std::unexpected(rebuilt.error());
    offsets = std::move(*rebuilt);
  }

  // A carved file has no clusters of its own to follow: it is copied in pieces.
  const bool carved = candidate.recoverability == Recoverability::Carved;
  const std::uint64_t step = carved ? kPieceLength : candidate.cluster_size;
  const std::uint64_t run_limit = step <= kWholeClusterLimit ? step : kPieceLength;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(run_limit, candidate.size)));

  // A file cannot extend past its volume: reads stop where the heap ends, as
  // they would at the end of the medium.
  BoundedSource volume(source, heap_end(candidate));
  auto written = offsets.empty() ? copy_contiguous(volume, output, candidate, step, buffer)
                                 : copy_along_chain(volume, output, candidate, offsets, buffer);
  if (!written) return std::unexpected(written.error());
  // A file is recovered only once its data is on the device and it is closed.
  if (auto finished = output.finish(); !finished) return std::unexpected(finished.error());
  return *written;
}

std::expected<std::uint64_t, RecoveryError> extract_candidate(ByteSource& source,
                                                              const RecoveryCandidate& candidate,
                                                              const std::filesystem::path& destination) {
  auto output = FileOutput::create(destination);
  if (!output) return std::unexpected(output.error());
  return extract_candidate(source, candidate, *output);
}

}  // namespace kestrel
